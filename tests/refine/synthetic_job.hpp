// A refinement job without windows or files: GaAs 0 0 4 with Cu K-alpha1 on the engine state,
// and a "measured" curve computed from known profile parameters with counting noise and a
// background. Used by the refinement tests and the refinement benchmark.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

#include "engine/evaluation.hpp"
#include "engine/layered.hpp"
#include "engine/sample.hpp"
#include "engine/scattering.hpp"
#include "engine/state.hpp"

namespace kelvarin::synthetic {

inline constexpr int kCuKalpha1 = 4;

/// Crystal, reflection, radiation, model options and scan of a GaAs 0 0 4 job; the measured
/// curve is left for makeMeasuredCurve.
inline void setUpGaAs004(EngineState& e, int layers, int scanStart, int scanEnd, int scanStep,
                         Theory theory = kTheoryDynamical) {
    Crystal gaas = Crystal::fromCatalogue("GaAs");
    gaas.a = gaas.b = gaas.c = 5.65325L;
    storeSetup(buildSetup(gaas, Reflection{0, 0, 4, Radiation{kCuKalpha1, 0}}), e);
    e.theoryChoice = theory;
    e.layerCount = layers;
    e.profileModel = kModelTwoGauss;
    e.normMode = kNormFixedBackground;
    CurveStore& cs = e.curveStore;
    cs.scanStart = scanStart;
    cs.scanEnd = scanEnd;
    cs.scanStep = scanStep;
    cs.measLast = scanPointCount(scanStart, scanEnd, scanStep) - 1;
}

/// Fills the measured curve with background + peak·(curve of `truth` scaled to 1 at its top),
/// each point with Gaussian counting noise of standard deviation sqrt(counts) when `noiseSeed`
/// is not 0, rounded to whole counts of at least 1 unless `exact` asks for the curve as it is.
inline void makeMeasuredCurve(EngineState& e, const CandidateRow& truth, Extended peakCounts,
                              Extended background, std::uint32_t noiseSeed, bool exact = false) {
    CurveStore& cs = e.curveStore;
    const int points = cs.measLast + 1;
    std::fill_n(cs.measIntensity.begin(), points, 10.0L);  // any positive curve to score against
    const Scaling mode = e.normMode;
    e.normMode = static_cast<Scaling>(-1);  // no scaling: keep the broadened reflectivity
    auto ws = std::make_unique<Workspace>();
    evaluateProfile(e, truth, *ws);
    e.normMode = mode;
    const Extended top =
        *std::max_element(ws->curve.calcCurve.begin(), ws->curve.calcCurve.begin() + points);
    // A small seed gives tiny first values; spread it and skip the start of the sequence.
    std::minstd_rand noise(static_cast<std::uint32_t>((noiseSeed * 2654435761ull) % 2147483646u) +
                           1);
    noise.discard(16);
    auto uniform = [&] { return (static_cast<double>(noise()) + 0.5) / 2147483647.0; };
    Extended largest = 0;
    for (int i = 0; i < points; ++i) {
        Extended counts = background + peakCounts * ws->curve.calcCurve[i] / top;
        if (noiseSeed) {
            const double gauss =
                std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
            counts += std::sqrt(counts) * gauss;
        }
        if (!exact) counts = std::max<Extended>(1, std::round(counts));
        cs.measAngle[i] = cs.scanStart + i * cs.scanStep;
        cs.measIntensity[i] = counts;
        largest = std::max(largest, counts);
    }
    cs.measMax = largest;
    e.background = background;
}

}  // namespace kelvarin::synthetic

// The GaAs 0 0 4 scan of the fit tests (Cu Kα1, −600..300″ in 2″ steps), and a fit problem
// whose measured curve is computed on it from known parameters with the double half-Gaussian
// over `layers` lamellae, optionally with Poisson noise on the counts.
#pragma once

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "engine/layered.hpp"
#include "engine/sample.hpp"
#include "fit/fit_problem.hpp"

namespace kelvarin::fit::testing {

/// τ, ρ (Å), σ1 (Å), σ2 (Å), width (″): the table order of the problem.
inline const std::vector<Extended> kTruth{0.0042L, 300, 150, 250, 8.5L};

/// Poisson deviate by inversion for small means, normal approximation for large ones.
inline double poisson(std::mt19937_64& rng, double mean) {
    if (mean > 50) {
        std::normal_distribution<double> g(mean, std::sqrt(mean));
        return std::max(0.0, std::round(g(rng)));
    }
    std::poisson_distribution<int> p(mean);
    return p(rng);
}

/// GaAs 0 0 4 with Cu Kα1 over −600..300″ in 2″ steps, scored against a smooth positive curve.
inline std::shared_ptr<EngineState> gaasState(ProfileKind model, int layers) {
    auto s = std::make_shared<EngineState>();
    storeSetup(buildSetup(Crystal::fromCatalogue("GaAs"), Reflection{0, 0, 4, Radiation{4, 0}}),
               *s);
    CurveStore& cs = s->curveStore;
    cs.scanStart = -600;
    cs.scanEnd = 300;
    cs.scanStep = 2;
    cs.measLast = scanPointCount(cs.scanStart, cs.scanEnd, cs.scanStep) - 1;
    for (int i = 0; i <= cs.measLast; ++i) {
        const double t = cs.scanStart + 2.0 * i;
        cs.measAngle[static_cast<std::size_t>(i)] = t;
        cs.measIntensity[static_cast<std::size_t>(i)] =
            30 + 1e5 * std::exp(-t * t / 800) + 300 * std::exp(-(t + 300) * (t + 300) / 5000);
    }
    cs.measMax = 1e5 + 30;
    s->layerCount = layers;
    s->profileModel = model;
    s->normMode = kNormFixedBackground;
    s->background = 30;
    return s;
}

/// The problem with its curve computed at `truth`; noise seed 0 leaves it noise-free.
inline std::unique_ptr<FitProblem> syntheticProblem(int layers = 16, unsigned noiseSeed = 0,
                                                    const std::vector<Extended>& truth = kTruth) {
    auto s = gaasState(kModelTwoGauss, layers);
    CurveStore& cs = s->curveStore;
    auto p = std::make_unique<FitProblem>(makeProfileModel(ProfileKind::TwoGauss, layers));
    p->addDataset(s, {"width", "arcsec", 8.5L, 7, 10, 1, true}, "synthetic");
    p->setSinglePrecision(false);
    ProblemWorkspace ws = p->makeWorkspace();
    p->evaluate(truth, ws);
    std::mt19937_64 rng(noiseSeed);
    const auto& curve = ws.datasets[0]->curve;
    for (int i = 0; i < curve.calcCount; ++i) {
        const double c = static_cast<double>(curve.calcCurve[static_cast<std::size_t>(i)]);
        cs.measIntensity[static_cast<std::size_t>(i)] = noiseSeed == 0 ? c : poisson(rng, c);
    }
    return p;
}

}  // namespace kelvarin::fit::testing

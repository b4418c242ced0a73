#include "engine/evaluation.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "engine/engine_error.hpp"

namespace kelvarin {

Extended evaluateProfile(const EngineState& state, const CandidateRow& row, Workspace& ws) {
    strainProfile(row, state.profileModel, state.layerCount, ws.profile);
    return evaluateFilledProfile(state, static_cast<Extended>(row[0]), ws);
}

Extended evaluateFilledProfile(const EngineState& state, Extended widthArcsec, Workspace& ws) {
    layerStack(ws.profile, state, ws.stack);
    return evaluateFilledStack(state, widthArcsec, ws);
}

namespace {

/// Scaling and error of the broadened curve in ws against the measured one.
Extended scoreCurve(const EngineState& state, Workspace& ws) {
    const CurveStore& cs = state.curveStore;
    const auto n = static_cast<std::size_t>(ws.curve.calcCount);
    ws.scaling = normalise(state.normMode, std::span<Extended>(ws.curve.calcCurve).first(n),
                           std::span<const Extended>(cs.measIntensity).first(n), cs.measMax,
                           state.background);
    ws.error = logError(std::span<const Extended>(ws.curve.calcCurve).first(n),
                        std::span<const Extended>(cs.measIntensity).first(n), ws.measuredLogs);
    return ws.error.error;
}

/// Whether a[i] − a[from] stays within a millionth of a step of (i − from)·step.
bool onGrid(std::span<const Extended> a, std::size_t from, std::size_t i, Extended step) {
    return std::fabs(a[i] - a[from] - static_cast<Extended>(i - from) * step) <= 1e-6L * step;
}

/// The raw curve at the measured angles − offset: each run of equal steps on the vectorised
/// angle loop. Returns the common step of all points, or 0 when the steps differ.
Extended layeredAtMeasuredAngles(const EngineState& state, Extended offset, Workspace& ws) {
    const CurveStore& cs = state.curveStore;
    const auto n = static_cast<std::size_t>(cs.measLast) + 1;
    const std::span<const Extended> a(cs.measAngle.data(), n);
    ws.curve.ensure(static_cast<int>(n));
    ws.curve.calcMax = 0;
    for (std::size_t from = 0; from < n;) {
        const Extended step = from + 1 < n ? a[from + 1] - a[from] : 1;
        std::size_t end = from + 1;
        while (end < n && onGrid(a, from, end, step))
            ++end;
        const ScanGrid grid{static_cast<double>(a[from] - offset), static_cast<double>(step),
                            static_cast<int>(end - from)};
        layeredCurve(ws.constants, state.theoryChoice, grid, ws.scratch, ws.layeredPath);
        std::copy_n(ws.scratch.calcRaw.begin(), end - from, ws.curve.calcRaw.begin() + from);
        ws.curve.calcMax = std::max(ws.curve.calcMax, ws.scratch.calcMax);
        from = end;
    }
    std::copy_n(a.begin(), n, ws.curve.calcAngle.begin());
    ws.curve.calcComputed = static_cast<int>(n);
    ws.curve.calcCount = static_cast<int>(n);
    const Extended step = n > 1 ? (a[n - 1] - a[0]) / static_cast<Extended>(n - 1) : 1;
    for (std::size_t i = 1; i < n; ++i)
        if (!onGrid(a, 0, i, step)) return 0;
    return step;
}

}  // namespace

Extended evaluateFilledStack(const EngineState& state, Extended widthArcsec, Workspace& ws) {
    const CurveStore& cs = state.curveStore;
    prepareLayered(state, ws.stack, ws.physics, ws.constants);
    layeredCurve(state, ws.constants, ws.curve, ws.layeredPath);
    // Broadening writes the curve up to the last measured point, also past the computed ones.
    ws.curve.ensure(cs.measLast + 1);
    buildKernel(widthArcsec, cs.scanStep, std::max(ws.curve.calcComputed, cs.measLast + 1),
                ws.instrumentKernel);
    broaden(ws.instrumentKernel, ws.curve.calcRaw, ws.curve.calcComputed, ws.curve.calcCurve,
            cs.measLast);
    return scoreCurve(state, ws);
}

Extended evaluateFilledStack(const EngineState& state, const InstrumentSettings& settings,
                             const InstrumentValues& values, Workspace& ws) {
    if (settings.function.shape == InstrumentShape::Gaussian && values.offset == 0 &&
        !settings.atMeasuredAngles)
        return evaluateFilledStack(state, values.width, ws);
    if (!std::isfinite(values.offset))
        throw CandidateRejected("The angle offset is not a finite number of seconds of arc.");
    const CurveStore& cs = state.curveStore;
    prepareLayered(state, ws.stack, ws.physics, ws.constants);
    if (!settings.atMeasuredAngles) {
        ScanGrid grid = scanGridOf(cs);
        grid.start -= static_cast<double>(values.offset);
        layeredCurve(ws.constants, state.theoryChoice, grid, ws.curve, ws.layeredPath);
        // The curve belongs to the measured angles it is compared with.
        for (int p = 0; p < ws.curve.calcComputed; ++p)
            ws.curve.calcAngle[static_cast<std::size_t>(p)] += values.offset;
        ws.curve.ensure(cs.measLast + 1);
        buildInstrumentKernel(settings.function, values, grid.step,
                              std::max(ws.curve.calcComputed, cs.measLast + 1),
                              ws.instrumentKernel);
        broaden(ws.instrumentKernel, ws.curve.calcRaw, ws.curve.calcComputed, ws.curve.calcCurve,
                cs.measLast, kWideDirectTerms);
        return scoreCurve(state, ws);
    }
    const Extended step = layeredAtMeasuredAngles(state, values.offset, ws);
    const int n = ws.curve.calcComputed;
    // The instrument-weighted mean over the measured points: a point near an end of the scan is
    // not lowered by the part of the instrument function that reaches beyond it.
    if (step > 0) {
        buildInstrumentKernel(settings.function, values, step, n, ws.instrumentKernel);
        const auto count = static_cast<std::size_t>(n);
        broadenReflectivity(ws.instrumentKernel,
                            std::span<const Extended>(ws.curve.calcRaw).first(count),
                            std::span<Extended>(ws.curve.calcCurve).first(count), kWideDirectTerms);
    } else {
        const auto count = static_cast<std::size_t>(n);
        broadenAtAngles(settings.function, values,
                        std::span<const Extended>(ws.curve.calcAngle).first(count),
                        std::span<const Extended>(ws.curve.calcRaw).first(count),
                        std::span<Extended>(ws.curve.calcCurve).first(count));
    }
    return scoreCurve(state, ws);
}

Extended evaluateFilledProfile(const EngineState& state, const InstrumentSettings& settings,
                               const InstrumentValues& values, Workspace& ws) {
    layerStack(ws.profile, state, ws.stack);
    return evaluateFilledStack(state, settings, values, ws);
}

void commitEvaluation(EngineState& state, const Workspace& ws) {
    CurveStore& cs = state.curveStore;
    const ComputedCurve& c = ws.curve;
    const int held = static_cast<int>(c.calcCurve.size());
    const int computed = std::clamp(c.calcComputed, 0, held);
    // Broadening rewrote calcCurve up to measLast, also past the computed points.
    const int curveEnd = std::clamp(std::max(computed, cs.measLast + 1), 0, held);
    std::copy_n(c.calcAngle.begin(), computed, cs.calcAngle.begin());
    std::copy_n(c.calcRaw.begin(), computed, cs.calcRaw.begin());
    std::copy_n(c.calcCurve.begin(), curveEnd, cs.calcCurve.begin());
    cs.calcCount = c.calcCount;
    cs.calcComputed = c.calcComputed;
    if (c.calcMax > cs.calcMax) cs.calcMax = c.calcMax;
    for (int j = 1; j <= ws.profile.layerCount; ++j) {
        state.profileThickness[j] = ws.profile.profileThickness[j];
        state.profileStrain[j] = ws.profile.profileStrain[j];
    }
    state.instrumentKernel = ws.instrumentKernel;
    if (ws.scaling.applied) {
        state.scaleFactor = ws.scaling.scaleFactor;
        state.background = ws.scaling.background;
    }
    state.errorRatio = ws.error.ratio;
}

}  // namespace kelvarin

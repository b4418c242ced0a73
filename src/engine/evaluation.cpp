#include "engine/evaluation.hpp"

#include <algorithm>
#include <span>

namespace kelvarin {

Extended evaluateProfile(const EngineState& state, const CandidateRow& row, Workspace& ws) {
    strainProfile(row, state.profileModel, state.layerCount, ws.profile);
    return evaluateFilledProfile(state, static_cast<Extended>(row[0]), ws);
}

Extended evaluateFilledProfile(const EngineState& state, Extended widthArcsec, Workspace& ws) {
    layerStack(ws.profile, state, ws.stack);
    return evaluateFilledStack(state, widthArcsec, ws);
}

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
    const auto n = static_cast<std::size_t>(ws.curve.calcCount);
    ws.scaling = normalise(state.normMode, std::span<Extended>(ws.curve.calcCurve).first(n),
                           std::span<const Extended>(cs.measIntensity).first(n), cs.measMax,
                           state.background);
    ws.error = logError(std::span<const Extended>(ws.curve.calcCurve).first(n),
                        std::span<const Extended>(cs.measIntensity).first(n), ws.measuredLogs);
    return ws.error.error;
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

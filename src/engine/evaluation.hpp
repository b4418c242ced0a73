// One evaluation of a strain-profile candidate: profile, lamella stack, layered curve, broadening,
// scaling and error, computed in a private workspace so that several candidates can be evaluated
// at once; commitEvaluation hands one result to the program-wide state.
#pragma once

#include "engine/broadening.hpp"
#include "engine/instrument_function.hpp"
#include "engine/layered.hpp"
#include "engine/state.hpp"
#include "engine/strain.hpp"

namespace kelvarin {

/// Everything one evaluation writes. Allocated once; evaluations reuse it without allocating.
struct Workspace {
    StrainProfile profile;
    LayerStack stack;
    LayeredConstants constants;
    ComputedCurve curve;
    InstrumentKernel instrumentKernel{};
    NormaliseResult scaling;  ///< scale factor, background used, top (mode 0)
    ErrorResult error;
    MeasuredLogs measuredLogs;  ///< logarithms of the measured curve, reused while it stays
    LayeredPath layeredPath = LayeredPath::Fast;  ///< angle loop of the layered curve
    PhysicsOptions physics;  ///< classic (the windows) or the full two-beam calculation
    ComputedCurve scratch;   ///< runs of equal steps of a scan whose steps differ
};

/// How a dataset's curve is broadened and where it is computed.
struct InstrumentSettings {
    InstrumentFunction function;
    /// Computed at the measured angles (measAngle[0..measLast], any spacing) instead of the
    /// whole-second scan of the curve store; every measured point is scored.
    bool atMeasuredAngles = false;
};

/// Evaluates candidate `row` (columns 0..4) against the set-up, scan and measured curve of
/// `state`, which it only reads. Returns the error (percent) and leaves every result in `ws`.
/// Throws CandidateRejected for a candidate that cannot be scored (the refinement may skip it
/// and go on) and EngineError for a set-up, scan or measured curve that no candidate can be
/// scored against; nothing of `state` changes in any case. Commit only after a success.
Extended evaluateProfile(const EngineState& state, const CandidateRow& row, Workspace& ws);

/// The same steps for the profile already in ws.profile (lamella stack, layered curve,
/// broadening with the instrument width `widthArcsec`, scaling, error).
Extended evaluateFilledProfile(const EngineState& state, Extended widthArcsec, Workspace& ws);

/// The steps after the lamella stack, for the stack already in ws.stack (a sample's lamellae).
Extended evaluateFilledStack(const EngineState& state, Extended widthArcsec, Workspace& ws);

/// The same with the instrument function and angle offset of a dataset: the model is computed at
/// the measured angle − offset and broadened with `settings.function` (wide kernels through the
/// Fourier transform). A Gaussian with no offset on the whole-second scan is exactly the
/// evaluation above.
Extended evaluateFilledStack(const EngineState& state, const InstrumentSettings& settings,
                             const InstrumentValues& values, Workspace& ws);
/// The lamella stack of ws.profile, then the evaluation above.
Extended evaluateFilledProfile(const EngineState& state, const InstrumentSettings& settings,
                               const InstrumentValues& values, Workspace& ws);

/// Copies the results of an evaluation into `state`: the computed curve (calcAngle, calcRaw,
/// calcCurve for the points computed, calcCount, calcComputed), calcMax raised to the curve's
/// maximum, profileThickness, profileStrain, instrumentKernel, scaleFactor, errorRatio and, after
/// a mode-2 scaling, the fitted background.
void commitEvaluation(EngineState& state, const Workspace& ws);

}  // namespace kelvarin

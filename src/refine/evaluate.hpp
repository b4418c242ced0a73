// The fitness function of the search: one candidate row turned into a broadened, scaled
// rocking curve and its logarithmic error against the measured curve.
#pragma once

#include <memory>

#include "engine/evaluation.hpp"
#include "refine/refinement_run.hpp"

namespace kelvarin {

class Application;

/// Scores population row k on the set-up left by the "Start" run, working in `ws`. When the
/// candidate can be scored its curve, profile and scaling are copied into the engine state
/// (where "Plot" and the result files find them); when it cannot, the engine state is left as
/// it was and the result says why.
Evaluation evaluateCandidate(EngineState& engine, const RefineState& refine, int k, Workspace& ws);

/// The same on the application's state; throws EngineError with the reason when the candidate
/// cannot be scored.
Extended evaluateCandidate(Application& app, int k);

/// Evaluator of a run: one workspace, reused by every evaluation.
class EngineEvaluator : public CandidateEvaluator {
public:
    explicit EngineEvaluator(EngineState& engine);
    Evaluation evaluate(const RefineState& state, int k) override;

private:
    EngineState& engine_;
    std::unique_ptr<Workspace> ws_;
};

}  // namespace kelvarin

// The fitness function of the search: one candidate row turned into a broadened, scaled
// rocking curve and its logarithmic error against the measured curve.
#pragma once

#include <memory>
#include <vector>

#include "engine/evaluation.hpp"
#include "fit/problem_evaluator.hpp"
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

/// Evaluator of a run on the candidate table: the fit core's evaluator on a problem made from
/// what "Start" stored (model, lamellae, set-up, measured curve). A pass of rows is shared among
/// `threads` workers (0: one per core); the engine state ends as if the rows had been evaluated
/// one after another.
class EngineEvaluator : public CandidateEvaluator {
public:
    explicit EngineEvaluator(EngineState& engine, int threads = 1);
    ~EngineEvaluator() override;
    EngineEvaluator(const EngineEvaluator&) = delete;
    EngineEvaluator& operator=(const EngineEvaluator&) = delete;

    Evaluation evaluate(const RefineState& state, int k) override;
    void evaluateRows(const RefineState& state, int first, int count,
                      const RowScored& scored) override;

    int threads() const;

private:
    /// The problem and its evaluator for the engine state's model and lamellae as they stand;
    /// empty with `setupProblem_` saying why when the model cannot be made.
    bool ensureProblem();

    EngineState& engine_;
    int threadsAsked_;
    ProfileKind builtModel_ = ProfileKind::TwoGauss;
    int builtLayers_ = -1;
    std::unique_ptr<fit::FitProblem> problem_;
    std::unique_ptr<fit::ProblemEvaluator> rows_;
    std::string setupProblem_;
};

}  // namespace kelvarin

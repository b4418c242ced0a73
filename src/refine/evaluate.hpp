// The fitness function of the search: one candidate row turned into a broadened, scaled
// rocking curve and its logarithmic error against the measured curve.
#pragma once

#include <memory>
#include <vector>

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

namespace fit {
class WorkerPool;
}

/// Evaluator of a run. A pass of rows is shared among `threads` workers (0: one per core),
/// each with workspaces of its own that every evaluation reuses; the engine state ends as if
/// the rows had been evaluated one after another.
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
    /// One worker's workspaces: `kept` holds the last row it scored, `scratch` is written by
    /// the evaluation under way.
    struct Lane {
        std::unique_ptr<Workspace> kept;
        std::unique_ptr<Workspace> scratch;
        int keptRow = -1;
    };

    EngineState& engine_;
    std::vector<Lane> lanes_;
    std::unique_ptr<fit::WorkerPool> pool_;
};

}  // namespace kelvarin

// The generation loop of the evolutionary search, free of any window: first pass, elitism,
// breeding by selection and crossover, mutation, re-evaluation, statistics and restarts.
// The caller sees progress through a callback that may answer "stop", and gets a summary of
// how the run ended.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "fit/evolutionary.hpp"
#include "refine/refine_state.hpp"

namespace kelvarin {

using fit::Evaluation;
using fit::kUnscorableError;
using fit::passesSelection;

/// Scores population rows. evaluate(k) reads columns 0..4 of row k and leaves that candidate's
/// curve wherever the caller shows curves. It throws for a set-up that no candidate can be
/// evaluated with (the run then fails with the message).
/// What an evaluator reports for each row of a pass, in row order.
using RowScored = std::function<void(int row, const Evaluation& evaluation)>;

class CandidateEvaluator {
public:
    virtual ~CandidateEvaluator() = default;
    virtual Evaluation evaluate(const RefineState& state, int k) = 0;
    /// Scores rows first .. first + count − 1 and hands each result to `scored` in row order,
    /// one call at a time (possibly from another thread, while later rows are still being
    /// scored); `scored` may change the error column of the row it is given, nothing else of
    /// the population. The rows may be scored at once, but the outcome (results, shown curve,
    /// curve maximum) must be that of scoring them one after another, as the default does.
    virtual void evaluateRows(const RefineState& state, int first, int count,
                              const RowScored& scored);
};

/// What a run reports as it goes (see the fit core's search); return false to stop it.
using RunProgress = fit::SearchProgress;
using ProgressCallback = fit::SearchCallback;

struct RunOptions {
    int generations = 1;  ///< G; below 1 only the first pass and the final evaluation
    Extended mutationProbability = 0.5L;
    ProgressCallback progress;  ///< may be empty
    /// Redraws the population around row `keep` when it has converged; empty: the limits in
    /// refineSettings are used (redrawPopulation).
    std::function<void(int keep)> restart;
    /// Asked when a generation is complete: true ends the run there, as if that generation
    /// had been the last (the final evaluation follows). May be empty.
    std::function<bool()> stopRequested;
};

enum class RunOutcome { Finished, Stopped, Failed };

struct RunResult {
    RunOutcome outcome = RunOutcome::Finished;
    std::string message;  ///< why the run stopped or failed

    Extended finalError = 0;  ///< error of the final evaluation of row `finalRow`
    int finalRow = 0;
    std::array<Extended, kGeneCount> bestGenes{};  ///< best candidate of the last pass
    Extended bestError = 0;
    float variance = 0;
    bool varianceValid = false;  ///< false when no generation ran
    int generationsDone = 0;
    bool stoppedEarly = false;  ///< stopRequested ended the run before generation G
    int evaluations = 0;
    int restarts = 0;
    /// Smallest error of each pass: entry 0 the first pass, entry g generation g.
    std::vector<Extended> bestErrorByPass;
};

/// Runs the evolutionary search of the fit core on rows 0..nelements − 1 of state.population,
/// with the limits and mutation steps of state.refineSettings. nelements must lie in
/// kMinPopulation..kMaxPopulation (otherwise the run fails before anything changes).
RunResult runRefinement(RefineState& state, CandidateEvaluator& evaluator,
                        const RunOptions& options);

/// The population rows 0..nelements − 1 (and the generator) as a pool of the search, and back.
fit::GenePool poolOf(const RefineState& state);
void storePool(const fit::GenePool& pool, RefineState& state);

/// The summary of the fit core as a run result of the windows.
RunResult runResultOf(const fit::SearchResult& r);

}  // namespace kelvarin

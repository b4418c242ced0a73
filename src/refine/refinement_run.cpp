#include "refine/refinement_run.hpp"

#include <algorithm>

#include "refine/population.hpp"

namespace kelvarin {

void CandidateEvaluator::evaluateRows(const RefineState& state, int first, int count,
                                      const RowScored& scored) {
    for (int k = first; k < first + count; ++k)
        scored(k, evaluate(state, k));
}

fit::GenePool poolOf(const RefineState& state) {
    const int n = std::clamp(state.nelements, 0, kMaxPopulation);
    fit::GenePool pool(kGeneCount, n);
    for (int i = 0; i < n; ++i) {
        const auto& row = state.population[static_cast<std::size_t>(i)];
        const auto& child = state.offspring[static_cast<std::size_t>(i)];
        std::copy(row.begin(), row.end(), pool.row(i));
        std::copy(child.begin(), child.end(), pool.child(i));
    }
    pool.generator = state.generator;
    return pool;
}

void storePool(const fit::GenePool& pool, RefineState& state) {
    for (int i = 0; i < pool.size && i < kMaxPopulation; ++i) {
        auto& row = state.population[static_cast<std::size_t>(i)];
        auto& child = state.offspring[static_cast<std::size_t>(i)];
        std::copy(pool.row(i), pool.row(i) + kCandidateColumns, row.begin());
        const float* c = pool.offspring.data() + static_cast<std::ptrdiff_t>(i) * (pool.genes + 1);
        std::copy(c, c + kCandidateColumns, child.begin());
    }
    state.generator = pool.generator;
}

RunResult runResultOf(const fit::SearchResult& r) {
    RunResult out;
    switch (r.summary.termination) {
        case fit::Termination::Failed:
            out.outcome = RunOutcome::Failed;
            out.message = r.summary.message;
            break;
        case fit::Termination::Stopped:
            // A stop asked between generations ends the run as if that generation had been the
            // last: the windows count it as finished.
            out.outcome = r.stoppedEarly ? RunOutcome::Finished : RunOutcome::Stopped;
            out.message = r.stoppedEarly ? std::string() : r.summary.message;
            break;
        case fit::Termination::Finished:
            break;
    }
    out.finalError = r.finalError;
    out.finalRow = r.finalRow;
    for (std::size_t d = 0; d < out.bestGenes.size() && d < r.bestGenes.size(); ++d)
        out.bestGenes[d] = r.bestGenes[d];
    out.bestError = r.bestError;
    out.variance = r.variance;
    out.varianceValid = r.varianceValid;
    out.generationsDone = r.generationsDone;
    out.stoppedEarly = r.stoppedEarly;
    out.evaluations = r.summary.evaluations;
    out.restarts = r.restarts;
    out.bestErrorByPass = r.bestErrorByPass;
    return out;
}

namespace {

/// A candidate evaluator of the windows' tables seen as a row evaluator of the search: the rows
/// it is asked for are copied into the table first.
class TableEvaluator : public fit::RowEvaluator {
public:
    TableEvaluator(RefineState& state, CandidateEvaluator& inner) : state_(state), inner_(inner) {}

    Evaluation evaluate(const fit::GenePool& pool, int row) override {
        sync(pool, row, row + 1);
        return inner_.evaluate(state_, row);
    }
    void evaluateRows(const fit::GenePool& pool, int first, int count,
                      const fit::RowScored& scored) override {
        sync(pool, first, first + count);
        inner_.evaluateRows(state_, first, count, [&](int row, const Evaluation& ev) {
            // The table shows the error the search stores.
            scored(row, ev);
            state_.population[static_cast<std::size_t>(row)][kColError] = pool.error(row);
        });
    }

private:
    void sync(const fit::GenePool& pool, int first, int end) {
        for (int i = std::max(first, 0); i < end && i < pool.size && i < kMaxPopulation; ++i)
            std::copy(pool.row(i), pool.row(i) + kCandidateColumns,
                      state_.population[static_cast<std::size_t>(i)].begin());
    }

    RefineState& state_;
    CandidateEvaluator& inner_;
};

}  // namespace

RunResult runRefinement(RefineState& state, CandidateEvaluator& evaluator,
                        const RunOptions& options) {
    if (state.nelements < kMinPopulation || state.nelements > kMaxPopulation) {
        RunResult failed;
        failed.outcome = RunOutcome::Failed;
        failed.message = "The population size must lie between " + std::to_string(kMinPopulation) +
                         " and " + std::to_string(kMaxPopulation) + " (it is " +
                         std::to_string(state.nelements) + ").";
        return failed;
    }
    const RefineSettings& s = state.refineSettings;
    fit::GenePool pool = poolOf(state);
    TableEvaluator rows(state, evaluator);
    fit::EvolutionaryOptions opt;
    opt.generations = options.generations;
    opt.mutationProbability = options.mutationProbability;
    opt.lo = {s.wLo, s.tauLo, s.roLo, s.sigma1Lo, s.sigma2Lo};
    opt.hi = {s.wHi, s.tauHi, s.roHi, s.sigma1Hi, s.sigma2Hi};
    opt.maxMutation = {s.maxMutW, s.maxMutTau, s.maxMutRo, s.maxMutSigma1, s.maxMutSigma2};
    opt.stopRequested = options.stopRequested;
    if (options.restart) {
        opt.restart = [&](fit::GenePool& p, int keep) {
            storePool(p, state);
            options.restart(keep);
            p = poolOf(state);
        };
    }
    if (options.progress) {
        opt.progress = [&](const fit::SearchProgress& p) {
            // Whoever watches the run sees the table as the search holds it.
            storePool(pool, state);
            return options.progress(p);
        };
    }
    const fit::SearchResult result = fit::runEvolutionary(pool, rows, opt);
    storePool(pool, state);
    return runResultOf(result);
}

}  // namespace kelvarin

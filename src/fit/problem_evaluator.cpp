#include "fit/problem_evaluator.hpp"

#include <atomic>
#include <cstdio>
#include <new>
#include <exception>
#include <mutex>

#include "engine/engine_error.hpp"
#include "fit/worker_pool.hpp"

namespace kelvarin::fit {

ProblemEvaluator::ProblemEvaluator(const FitProblem& problem, int threads)
    : problem_(problem), free_(problem.geneOrder()) {
    const int wanted = WorkerPool::resolve(threads);
    // One lane per worker the system gave; when memory runs out for a lane the pool shrinks to
    // the lanes there are (one at least, or nothing can be evaluated at all).
    if (wanted > 1) pool_ = std::make_unique<WorkerPool>(wanted);
    int n = pool_ ? pool_->size() : 1;
    lanes_.reserve(static_cast<std::size_t>(n));
    try {
        while (static_cast<int>(lanes_.size()) < n) {
            Lane lane;
            lane.kept = std::make_unique<ProblemWorkspace>(problem.makeWorkspace());
            lane.scratch = std::make_unique<ProblemWorkspace>(problem.makeWorkspace());
            lane.values = problem.parameters().values();
            lanes_.push_back(std::move(lane));
        }
    } catch (const std::bad_alloc&) {
        if (lanes_.empty()) throw;
        n = static_cast<int>(lanes_.size());
        pool_.reset();
        if (n > 1) pool_ = std::make_unique<WorkerPool>(n);
        lanes_.resize(static_cast<std::size_t>(pool_ ? pool_->size() : 1));
    }
    if (pool_ && pool_->size() < 2) pool_.reset();
    lanes_.resize(static_cast<std::size_t>(pool_ ? pool_->size() : 1));
    if (this->threads() < wanted)
        std::fprintf(stderr,
                     "kelvarin: %d of %d evaluation threads could be started (the system refused "
                     "the others); the refinement goes on with %d.\n",
                     this->threads(), wanted, this->threads());
}

ProblemEvaluator::~ProblemEvaluator() = default;

std::vector<Extended> ProblemEvaluator::valuesOf(const float* genes) const {
    std::vector<Extended> values = problem_.parameters().values();
    for (std::size_t g = 0; g < free_.size(); ++g)
        values[static_cast<std::size_t>(free_[g])] = static_cast<Extended>(genes[g]);
    return values;
}

Evaluation ProblemEvaluator::score(const GenePool& pool, int row, Lane& lane) {
    Evaluation result;
    if (row < 0 || row >= pool.size) {
        result.scored = false;
        result.error = kUnscorableError;
        result.problem = "There is no candidate in row " + std::to_string(row) + ".";
        return result;
    }
    const float* genes = pool.row(row);
    for (std::size_t g = 0; g < free_.size(); ++g)
        lane.values[static_cast<std::size_t>(free_[g])] = static_cast<Extended>(genes[g]);
    try {
        result.error = problem_.evaluate(lane.values, *lane.scratch);
    } catch (const EngineError& e) {
        result.scored = false;
        result.error = kUnscorableError;
        result.problem = e.what();
    }
    return result;
}

Evaluation ProblemEvaluator::evaluate(const GenePool& pool, int row) {
    Lane& lane = lanes_[0];
    const Evaluation result = score(pool, row, lane);
    if (result.scored) problem_.commit(*lane.scratch);
    return result;
}

void ProblemEvaluator::evaluateRows(const GenePool& pool, int first, int count,
                                    const RowScored& scored) {
    if (!pool_ || count < 2) {
        RowEvaluator::evaluateRows(pool, first, count, scored);
        return;
    }
    const int end = first + count;
    const int sets = problem_.datasetCount();
    const auto slot = [first](int row) { return static_cast<std::size_t>(row - first); };
    std::vector<Evaluation> results(static_cast<std::size_t>(count));
    // The curve maximum of each dataset for each row.
    std::vector<Extended> peaks(static_cast<std::size_t>(count * sets), 0);
    std::vector<char> finished(static_cast<std::size_t>(count), 0);
    std::atomic<int> next{first};
    std::atomic<bool> abandon{false};
    std::mutex handOver;
    int delivered = first;  // rows before it have been handed to `scored`
    std::exception_ptr failure;

    for (Lane& lane : lanes_)
        lane.keptRow = -1;

    pool_->runOnAll([&](int w) {
        Lane& lane = lanes_[static_cast<std::size_t>(w)];
        while (!abandon.load(std::memory_order_relaxed)) {
            // Rows are taken in increasing order, so a lane's kept workspace always holds the
            // last row it scored.
            const int row = next.fetch_add(1);
            if (row >= end) break;
            Evaluation ev = score(pool, row, lane);
            if (ev.scored) {
                for (int d = 0; d < sets; ++d)
                    peaks[slot(row) * static_cast<std::size_t>(sets) +
                          static_cast<std::size_t>(d)] =
                        lane.scratch->datasets[static_cast<std::size_t>(d)]->curve.calcMax;
                std::swap(lane.kept, lane.scratch);
                lane.keptRow = row;
            }
            std::lock_guard lock(handOver);
            results[slot(row)] = std::move(ev);
            finished[slot(row)] = 1;
            while (delivered < end && finished[slot(delivered)] && !failure) {
                try {
                    scored(delivered, results[slot(delivered)]);
                } catch (...) {
                    failure = std::current_exception();
                    abandon = true;
                }
                ++delivered;
            }
        }
    });

    // The dataset states as one evaluation after another leaves them: each curve maximum raised
    // by every curve handed over, the rest from the last of them that was scored.
    int last = -1;
    for (int row = first; row < delivered; ++row) {
        if (!results[slot(row)].scored) continue;
        for (int d = 0; d < sets; ++d) {
            Extended& calcMax = problem_.dataset(d).state->curveStore.calcMax;
            const Extended peak =
                peaks[slot(row) * static_cast<std::size_t>(sets) + static_cast<std::size_t>(d)];
            if (peak > calcMax) calcMax = peak;
        }
        last = row;
    }
    if (last >= 0) {
        for (const Lane& lane : lanes_) {
            if (lane.keptRow == last) {
                problem_.commit(*lane.kept);
                break;
            }
        }
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace kelvarin::fit

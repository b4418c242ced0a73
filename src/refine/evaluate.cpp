#include "refine/evaluate.hpp"

#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>

#include "app/application.hpp"
#include "engine/engine_error.hpp"
#include "fit/worker_pool.hpp"

namespace kelvarin {

namespace {

/// Scores row k in `ws` without touching the engine state.
Evaluation scoreRow(const EngineState& engine, const RefineState& refine, int k, Workspace& ws) {
    Evaluation result;
    if (k < 0 || k >= kMaxPopulation) {
        result.scored = false;
        result.error = kUnscorableError;
        result.problem = "There is no candidate in row " + std::to_string(k) + ".";
        return result;
    }
    try {
        result.error = evaluateProfile(engine, refine.population[k], ws);
    } catch (const EngineError& e) {
        result.scored = false;
        result.error = kUnscorableError;
        result.problem = e.what();
    }
    return result;
}

}  // namespace

Evaluation evaluateCandidate(EngineState& engine, const RefineState& refine, int k, Workspace& ws) {
    const Evaluation result = scoreRow(engine, refine, k, ws);
    if (result.scored) commitEvaluation(engine, ws);
    return result;
}

Extended evaluateCandidate(Application& app, int k) {
    auto ws = std::make_unique<Workspace>();
    const Evaluation e = evaluateCandidate(app.engine(), app.refine(), k, *ws);
    if (!e.scored) throw EngineError(e.problem);
    return e.error;
}

EngineEvaluator::EngineEvaluator(EngineState& engine, int threads) : engine_(engine) {
    const int wanted = fit::WorkerPool::resolve(threads);
    if (wanted > 1) pool_ = std::make_unique<fit::WorkerPool>(wanted);
    // One lane per worker the system gave; when memory runs out for a lane the pool shrinks
    // to the lanes there are (one at least, or the evaluation cannot run at all).
    int n = pool_ ? pool_->size() : 1;
    lanes_.reserve(static_cast<std::size_t>(n));
    try {
        while (static_cast<int>(lanes_.size()) < n) {
            Lane lane;
            lane.kept = std::make_unique<Workspace>();
            lane.scratch = std::make_unique<Workspace>();
            lanes_.push_back(std::move(lane));
        }
    } catch (const std::bad_alloc&) {
        if (lanes_.empty()) throw;
        n = static_cast<int>(lanes_.size());
        pool_.reset();
        if (n > 1) pool_ = std::make_unique<fit::WorkerPool>(n);
        lanes_.resize(static_cast<std::size_t>(pool_ ? pool_->size() : 1));
    }
    if (static_cast<int>(lanes_.size()) < wanted)
        std::fprintf(stderr,
                     "kelvarin: %d of %d evaluation threads could be started (the system refused "
                     "the others); the refinement goes on with %d.\n",
                     static_cast<int>(lanes_.size()), wanted, static_cast<int>(lanes_.size()));
}

EngineEvaluator::~EngineEvaluator() = default;

int EngineEvaluator::threads() const {
    return static_cast<int>(lanes_.size());
}

Evaluation EngineEvaluator::evaluate(const RefineState& state, int k) {
    return evaluateCandidate(engine_, state, k, *lanes_[0].scratch);
}

void EngineEvaluator::evaluateRows(const RefineState& state, int first, int count,
                                   const RowScored& scored) {
    if (!pool_ || count < 2) {
        CandidateEvaluator::evaluateRows(state, first, count, scored);
        return;
    }
    const int end = first + count;
    const auto slot = [first](int row) { return static_cast<std::size_t>(row - first); };
    std::vector<Evaluation> results(static_cast<std::size_t>(count));
    std::vector<Extended> peaks(static_cast<std::size_t>(count), 0);
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
            Evaluation ev = scoreRow(engine_, state, row, *lane.scratch);
            if (ev.scored) {
                peaks[slot(row)] = lane.scratch->curve.calcMax;
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

    // The engine state as one evaluation after another leaves it: the curve maximum raised by
    // every curve handed over, the rest from the last of them that was scored.
    int last = -1;
    for (int row = first; row < delivered; ++row) {
        if (!results[slot(row)].scored) continue;
        if (peaks[slot(row)] > engine_.curveStore.calcMax)
            engine_.curveStore.calcMax = peaks[slot(row)];
        last = row;
    }
    if (last >= 0) {
        for (const Lane& lane : lanes_) {
            if (lane.keptRow == last) {
                commitEvaluation(engine_, *lane.kept);
                break;
            }
        }
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace kelvarin

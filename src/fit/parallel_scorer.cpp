#include "fit/parallel_scorer.hpp"

#include <atomic>
#include <cmath>

#include <exception>
#include "fit/worker_pool.hpp"

namespace kelvarin::fit {

ParallelScorer::ParallelScorer(const FitProblem& problem, int threads) : problem_(problem) {
    int n = WorkerPool::resolve(threads);
    if (n > 1) {
        pool_ = std::make_unique<WorkerPool>(n);
        n = pool_->size();
        if (n < 2) pool_.reset();
    }
    for (int i = 0; i < n; ++i)
        workspaces_.push_back(problem.makeWorkspace());
}

ParallelScorer::~ParallelScorer() = default;

void ParallelScorer::score(const std::vector<std::vector<Extended>>& vectors,
                           std::vector<double>& errors) {
    errors.assign(vectors.size(), kUnscorable);
    std::atomic<std::size_t> next{0};
    const auto job = [&](int worker) {
        ProblemWorkspace& ws = workspaces_[static_cast<std::size_t>(worker)];
        for (std::size_t i = next++; i < vectors.size(); i = next++) {
            try {
                const double e = static_cast<double>(problem_.evaluate(vectors[i], ws));
                if (std::isfinite(e)) errors[i] = e;
            } catch (const std::exception&) {
                // Left unscorable: the search treats it as the worst candidate.
            }
        }
    };
    if (pool_)
        pool_->runOnAll(job);
    else
        job(0);
}

}  // namespace kelvarin::fit

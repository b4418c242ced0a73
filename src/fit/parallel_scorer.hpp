// Scores many parameter vectors of a fit problem at once on a worker pool. Each vector's error
// depends on it alone, so the results are the same for any number of threads.
#pragma once

#include <limits>
#include <memory>
#include <vector>

#include "fit/fit_problem.hpp"

namespace kelvarin::fit {

class WorkerPool;

class ParallelScorer {
public:
    /// Error given to a vector the physics cannot score: above every scorable error.
    static constexpr double kUnscorable = std::numeric_limits<double>::infinity();

    /// `threads`: 0 one per core.
    ParallelScorer(const FitProblem& problem, int threads);
    ~ParallelScorer();
    ParallelScorer(const ParallelScorer&) = delete;
    ParallelScorer& operator=(const ParallelScorer&) = delete;

    /// The logarithmic error (percent) of every vector (one value per table entry) into
    /// `errors`; kUnscorable for a vector the physics rejects. Does not change the problem.
    void score(const std::vector<std::vector<Extended>>& vectors, std::vector<double>& errors);

    int threads() const { return static_cast<int>(workspaces_.size()); }

private:
    const FitProblem& problem_;
    std::unique_ptr<WorkerPool> pool_;
    std::vector<ProblemWorkspace> workspaces_;
};

}  // namespace kelvarin::fit

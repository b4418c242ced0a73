// Scores the rows of a search pool on a fit problem, a pass of rows shared among worker threads,
// each with workspaces of its own; the dataset states end as if the rows had been scored one
// after another.
#pragma once

#include <memory>
#include <vector>

#include "fit/evolutionary.hpp"
#include "fit/fit_problem.hpp"

namespace kelvarin::fit {

class WorkerPool;

class ProblemEvaluator : public RowEvaluator {
public:
    /// `threads`: 0 one per core. The genes of a row are the problem's free parameters in the
    /// order of FitProblem::geneOrder(); fixed parameters keep their table values.
    ProblemEvaluator(const FitProblem& problem, int threads = 1);
    ~ProblemEvaluator() override;
    ProblemEvaluator(const ProblemEvaluator&) = delete;
    ProblemEvaluator& operator=(const ProblemEvaluator&) = delete;

    /// Scores one row and, when it could be scored, commits its results to the datasets.
    Evaluation evaluate(const GenePool& pool, int row) override;
    void evaluateRows(const GenePool& pool, int first, int count, const RowScored& scored) override;

    int threads() const { return static_cast<int>(lanes_.size()); }

    /// The parameter vector of a row of genes.
    std::vector<Extended> valuesOf(const float* genes) const;

private:
    struct Lane {
        std::unique_ptr<ProblemWorkspace> kept;
        std::unique_ptr<ProblemWorkspace> scratch;
        std::vector<Extended> values;
        int keptRow = -1;
    };

    Evaluation score(const GenePool& pool, int row, Lane& lane);

    const FitProblem& problem_;
    std::vector<int> free_;
    std::vector<Lane> lanes_;
    std::unique_ptr<WorkerPool> pool_;
};

}  // namespace kelvarin::fit

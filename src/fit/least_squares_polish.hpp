// A bounded least-squares polish: Levenberg–Marquardt (Ceres Solver) on the log residuals of a
// fit problem, each free parameter held within its limits, with numeric derivatives.
#pragma once

#include <string>
#include <vector>

#include "fit/fit_problem.hpp"
#include "fit/optimizer.hpp"

namespace kelvarin::fit {

struct PolishOptions {
    int maxIterations = 100;
    double budgetSeconds = 0;          ///< 0: none
    double functionTolerance = 1e-10;  ///< relative change of the cost that ends the run
};

struct PolishResult {
    /// Finished with the polished values, or Failed with `message` saying why; `best` then holds
    /// the start values unchanged, so a failed polish never loses the result it started from.
    Summary summary;
    double startCost = 0;  ///< ½ Σ r² of the log residuals at the start
    double finalCost = 0;  ///< the same at the end
    int iterations = 0;
};

/// Polishes `start` (one value per table entry; fixed parameters keep theirs). A start value
/// outside its limits is moved onto the limit. Values are used in double precision: the problem
/// should have setSinglePrecision(false).
PolishResult polishLeastSquares(const FitProblem& problem, const std::vector<Extended>& start,
                                const PolishOptions& options = {});

}  // namespace kelvarin::fit

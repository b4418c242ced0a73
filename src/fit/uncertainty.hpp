// Uncertainties of fitted parameters: the covariance from the Jacobian of the log residuals at
// the optimum, scaled by the reduced χ² of those residuals, and what it says about each
// parameter (standard error, correlations, at a limit, not determined by the data).
#pragma once

#include <string>
#include <vector>

#include "fit/fit_problem.hpp"

namespace kelvarin::fit {

struct ParameterUncertainty {
    int index = -1;  ///< table index
    double value = 0;
    double standardError = 0;  ///< same unit as the value; NaN when not determined
    bool atMinimum = false;    ///< within 1e-6 of the range from its minimum
    bool atMaximum = false;
    bool undetermined = false;  ///< the data do not fix it (a near-singular direction)
};

struct Uncertainty {
    bool valid = false;
    std::string message;                           ///< why not valid, or a warning (near-singular)
    std::vector<ParameterUncertainty> parameters;  ///< the free parameters in gene order
    std::vector<std::vector<double>> covariance;   ///< between them, their units
    std::vector<std::vector<double>> correlation;
    double residualVariance = 0;  ///< Σ r² / (points − free parameters)
    int points = 0;

    /// Pairs (i, j), i < j, whose correlation is above `threshold` in magnitude.
    std::vector<std::pair<int, int>> strongCorrelations(double threshold = 0.8) const;
};

/// The uncertainties at `values` (one per table entry). Derivatives by central differences in
/// double precision; the problem should have setSinglePrecision(false).
Uncertainty estimateUncertainty(const FitProblem& problem, const std::vector<Extended>& values);

}  // namespace kelvarin::fit

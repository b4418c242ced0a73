// Goodness of fit that compares across scans: χ²/ν with Poisson weights on the counts and a
// weighted R-factor, beside the logarithmic error.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "fit/fit_problem.hpp"

namespace kelvarin::fit {

struct FitStatistics {
    double logError = 0;  ///< the logarithmic error, percent
    double chi2 = 0;      ///< Σ (m − c)² / σ²
    int points = 0;       ///< points in χ² (every measured point, those at or below 0 too)
    int nonPositive = 0;  ///< of them, measured at or below 0 (σ² = 1 count², see below)
    int freeParameters = 0;
    double reducedChi2 = 0;  ///< χ² / ν, ν = points − free parameters; NaN when ν ≤ 0
    double weightedR = 0;    ///< R_w = √(Σ (m − c)²/σ² / Σ m²/σ²), percent
};

/// The statistics of measured counts m and computed counts c (background included). The Poisson
/// variance of a count is taken as σ² = max(m, 1): a point of zero or negative counts (after a
/// background was subtracted) weighs as one count, so it is kept instead of dividing by zero.
FitStatistics countStatistics(std::span<const double> measured, std::span<const double> computed,
                              int freeParameters);

/// The statistics of the problem at `values` over all its datasets. Throws as evaluate() does.
FitStatistics fitStatistics(const FitProblem& problem, const std::vector<Extended>& values);

}  // namespace kelvarin::fit

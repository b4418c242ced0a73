// The confidence band of a fitted strain-depth profile: parameter vectors drawn from the
// covariance of the fit, each turned into a profile, and the 16 % and 84 % quantiles of the
// strain at each depth (one standard deviation for a normal spread).
#pragma once

#include <cstdint>
#include <vector>

#include "fit/fit_problem.hpp"
#include "fit/uncertainty.hpp"

namespace kelvarin::fit {

struct ProfileBand {
    std::vector<double> depth;  ///< middle of each lamella of the best profile, Å from the surface
    std::vector<double> low;    ///< strain (fraction) below which 16 % of the draws lie
    std::vector<double> high;   ///< the 84 % quantile
    std::vector<double> damageLow;  ///< the same for the damage factor (1: undamaged)
    std::vector<double> damageHigh;
    int draws = 0;  ///< draws that gave a profile
};

/// The band around the profile of `values`. Draws (normal, from `uncertainty`'s covariance, held
/// within each parameter's limits) are the same for a given seed. Empty when the uncertainty is
/// not valid. The profile models here have no damage, so its band is 1.
ProfileBand profileBand(const FitProblem& problem, const std::vector<Extended>& values,
                        const Uncertainty& uncertainty, int draws = 400, std::uint64_t seed = 1);

}  // namespace kelvarin::fit

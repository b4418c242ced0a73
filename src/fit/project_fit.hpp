// The fit of a project as one call: the evolutionary search seeded and bounded as the project
// says, then the best candidate evaluated once more so that the problem's datasets hold its
// curves. kelvarin-cli fit and the Python module both run it, so they agree to the last bit.
#pragma once

#include <vector>

#include "fit/evolutionary.hpp"
#include "fit/fit_problem.hpp"
#include "fit/project_file.hpp"

namespace kelvarin::fit {

/// What a project fit leaves: the search's own result, the best parameter vector (every table
/// entry) and its profile.
struct ProjectFitResult {
    SearchResult search;         ///< search.summary.best/bestError: the final evaluation
    std::vector<Extended> best;  ///< every table entry, fixed ones included
    StrainProfile profile;       ///< of dataset 0 for `best`
    bool evaluated = false;      ///< false when the search failed (nothing was committed)
};

/// Runs the search of `project` on `problem` (built from it) with `threads` workers (0: one per
/// core; the result does not depend on it). `progress` may be empty; answering false stops the
/// search at the end of the current pass and the best candidate so far is kept. On a usable
/// summary the best candidate is committed to the problem's datasets. Throws ProjectError when
/// every parameter is fixed.
ProjectFitResult fitProject(const Project& project, FitProblem& problem, int threads,
                            const SearchCallback& progress);

// The least-squares polish of the best candidate and the parameter uncertainties, errors and
// correlations, come after the search here, once the trustworthy-fit work provides them.

}  // namespace kelvarin::fit

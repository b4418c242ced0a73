// The whole fit of a project as one call, shared by kelvarin-cli fit, the Python module and the
// workbench: the global search the project asks for (the windows' evolutionary search,
// differential evolution or none), the least-squares polish, the parameter uncertainties and
// statistics, the report and the 16/84 % band of the strain profile. The same project and seed
// give the same result to the last bit whichever front end runs it and with any thread count.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sample.hpp"
#include "fit/fit_problem.hpp"
#include "fit/fit_report.hpp"
#include "fit/profile_band.hpp"
#include "fit/project_file.hpp"

namespace kelvarin::fit {

/// Where the global search stands after one of its generations.
struct ProjectFitProgress {
    int generation = 0;    ///< the generation just finished, from 1
    int generations = 0;   ///< the most the search runs
    double bestError = 0;  ///< the best logarithmic error so far, percent
    /// The best candidate so far, every table entry (fixed ones at their values), for a
    /// display of its curve and profile.
    std::vector<Extended> best;
};

/// Asked after each generation of the global search, from the thread that runs the fit. Returning
/// false stops the search after that generation: the best candidate so far is kept and its
/// uncertainties are worked out, but it is not polished.
using ProjectFitCallback = std::function<bool(const ProjectFitProgress&)>;

struct ProjectFitOptions {
    int threads = 0;              ///< workers; 0: one per core (the result does not depend on it)
    ProjectFitCallback progress;  ///< may be empty
};

/// What a fit of a project gave.
struct ProjectFitResult {
    bool failed = false;
    std::string message;  ///< why it failed
    /// What ran and how it ended (report.global: the search's summary), the final values (one
    /// per table entry), their standard errors, correlations and limit flags, χ²/ν and R_w.
    FitReport report;
    ProfileBand band;                             ///< of the fitted strain profile
    Sample sample;                                ///< the fitted profile, lamellae from the surface
    int generations = 0;                          ///< generations the global search ran
    bool stopped = false;                         ///< the progress callback stopped the search
    std::unique_ptr<ProblemWorkspace> workspace;  ///< curves and profile of the result
};

/// Runs the fit of `project` on `problem` (built from it); the result's curves are committed to
/// the problem's datasets. A failed search is reported in the result, not thrown. Throws
/// ProjectError when every parameter is fixed, and as evaluate() does for bad input.
ProjectFitResult fitProject(const Project& project, FitProblem& problem,
                            const ProjectFitOptions& options);

}  // namespace kelvarin::fit

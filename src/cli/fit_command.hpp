// `kelvarin-cli fit PROJECT`: runs the fit of a project file and writes its results beside it.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "fit/fit_report.hpp"
#include "fit/profile_band.hpp"
#include "fit/project_file.hpp"

namespace kelvarin::cli {

struct FitArgs {
    std::string project;
    bool quiet = false;
    int threads = 0;
};

/// What a fit of a project gave.
struct FitOutcome {
    bool failed = false;
    std::string message;  ///< why it failed
    fit::FitReport report;
    fit::ProfileBand band;
    std::unique_ptr<fit::ProblemWorkspace> workspace;  ///< curves and profile of the result
};

/// Runs the project's search (the windows' evolutionary search or differential evolution), the
/// polish when asked for, and the uncertainties, statistics and profile band of the result; the
/// result's curves are committed to the problem's datasets. Throws ProjectError when every
/// parameter is fixed.
FitOutcome runProjectFit(const fit::Project& project, fit::FitProblem& problem, const FitArgs& args,
                         std::ostream& err);

/// Writes <stem>.fit, .params.txt, .profile.csv, .report.txt and .report.json of a fit.
void writeFitResults(const std::string& stem, const fit::FitProblem& problem,
                     const FitOutcome& outcome);

/// Runs the fit and writes <stem>.fit (angle, measured and computed curve of each dataset),
/// <stem>.params.txt (the parameters with units and the error) and <stem>.profile.csv (depth,
/// strain, damage of each lamella, with the 16/84 % band) and <stem>.report.txt / .report.json
/// (what ran, how it ended, parameters ± standard errors, correlations, statistics). Returns the
/// exit code; throws for bad input.
int doFit(const FitArgs& args, std::ostream& out, std::ostream& err);

}  // namespace kelvarin::cli

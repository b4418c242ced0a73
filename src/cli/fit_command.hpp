// `kelvarin-cli fit PROJECT`: runs the fit of a project file and writes its results beside it.
#pragma once

#include <ostream>
#include <string>

#include "fit/project_file.hpp"
#include "fit/project_fit.hpp"

namespace kelvarin::cli {

struct FitArgs {
    std::string project;
    bool quiet = false;
    int threads = 0;
};

/// What a fit of a project gave: the fit core's result.
using FitOutcome = fit::ProjectFitResult;

/// The fit core's whole-project fit (fit::fitProject), its progress printed to `err` after each
/// generation unless `args.quiet`. Throws ProjectError when every parameter is fixed.
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

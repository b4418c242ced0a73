// `kelvarin-cli fit PROJECT`: runs the fit of a project file and writes its results beside it.
#pragma once

#include <ostream>
#include <string>

namespace kelvarin::cli {

struct FitArgs {
    std::string project;
    bool quiet = false;
    int threads = 0;
};

/// Runs the fit and writes <stem>.fit (angle, measured and computed curve of each dataset),
/// <stem>.params.txt (the parameters with units and the error) and <stem>.profile.csv (depth,
/// strain, damage of each lamella). Returns the exit code; throws for bad input.
int doFit(const FitArgs& args, std::ostream& out, std::ostream& err);

}  // namespace kelvarin::cli

// `kelvarin-cli fit PROJECT --batch PATTERN…`: one project fitted to many measured files (a
// fluence series, a wafer map), several fits at once across the cores, one summary table.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/fit_command.hpp"

namespace kelvarin::cli {

/// A batch that cannot start (a pattern that matches no file); a usage error.
class BatchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The files the shell-style patterns match, sorted, each once. Throws BatchError naming the
/// first pattern that matches nothing.
std::vector<std::string> batchFiles(const std::vector<std::string>& patterns);

/// Fits the project with its first dataset's measured file replaced by each file in turn. Each
/// fit writes its result files beside its measured file (<file stem>.fit, .params.txt,
/// .profile.csv, .report.txt, .report.json); <project stem>.batch.csv gets one row per file:
/// the file, each parameter and its standard error, χ²/ν, the logarithmic error and how the
/// fit ended, or why it failed. A failed file does not stop the others. Returns 0 when every
/// file was fitted, 1 otherwise.
int doBatchFit(const FitArgs& args, const std::vector<std::string>& patterns, std::ostream& out,
               std::ostream& err);

}  // namespace kelvarin::cli

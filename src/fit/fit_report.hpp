// The report of a fit, as a person reads it (what ran, how it ended, the parameters with their
// standard errors and units, the strong correlations, the statistics, the time) and the same as
// JSON for programs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fit/fit_statistics.hpp"
#include "fit/least_squares_polish.hpp"
#include "fit/optimizer.hpp"
#include "fit/parameter_table.hpp"
#include "fit/uncertainty.hpp"

namespace kelvarin::fit {

struct FitReport {
    std::string project;     ///< the project file
    std::string search;      ///< what the global search was, in words
    std::string searchStop;  ///< the rule that ended it ("tolerance", "generations", …)
    Summary global;
    std::optional<PolishResult> polish;  ///< when a polish ran
    ParameterTable table;                ///< the parameters, with their limits and units
    std::vector<Extended> values;        ///< the final values, one per table entry
    Uncertainty uncertainty;
    FitStatistics statistics;
    int threads = 1;
    double seconds = 0;  ///< wall time of the whole fit
};

std::string reportText(const FitReport& report);
std::string reportJson(const FitReport& report);

}  // namespace kelvarin::fit

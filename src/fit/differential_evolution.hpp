// Differential evolution over the free parameters of a fit problem: a population of parameter
// vectors, each replaced by a trial vector (rand/1/bin or best/1/bin) when the trial scores as
// well or better. The weight F and crossover rate CR of each member adapt themselves (jDE).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fit/fit_problem.hpp"
#include "fit/optimizer.hpp"

namespace kelvarin::fit {

enum class DeStrategy {
    Rand1Bin,  ///< trial = a + F·(b − c) of three random members: explores, slower
    Best1Bin,  ///< trial = best + F·(a − b): converges fast, may stall
};

struct DeOptions {
    DeStrategy strategy = DeStrategy::Rand1Bin;
    int population = 0;        ///< members; 0: ten per free parameter, 20..60
    int maxGenerations = 300;  ///< the run ends after this many generations
    std::uint64_t seed = 1;    ///< the same seed gives the same run for any number of threads
    /// The run ends when the best error improved by less than this fraction over
    /// `stallGenerations` generations.
    double tolerance = 1e-4;
    int stallGenerations = 25;
    double budgetSeconds = 0;  ///< wall-time budget; 0: none
    long maxEvaluations = 0;   ///< 0: none
    int threads = 1;           ///< 0: one per core
    /// Asked after each generation with its number and best error (percent); false stops.
    std::function<bool(int generation, double bestError)> progress;
    /// Told the best member (every table entry) after each generation, before `progress`.
    std::function<void(const std::vector<Extended>& best)> bestSoFar;

    /// Empty when usable; otherwise which setting is wrong.
    std::string validate() const;
};

/// Which rule ended a run.
enum class DeStop { Converged, Generations, Evaluations, Time, Stopped };

/// "tolerance", "generations", "evaluations", "time" or "stopped".
const char* deStopName(DeStop stop);

struct DeResult {
    Summary summary;  ///< best: every table entry, fixed ones at their table values
    DeStop stop = DeStop::Generations;
    int generations = 0;
};

/// Runs the search within each free parameter's limits. The problem's own precision setting is
/// used as is. Fails (summary.termination Failed) when no member of the first population can be
/// scored or the problem or options cannot be used.
DeResult runDifferentialEvolution(const FitProblem& problem, const DeOptions& options);

/// Folds x back into [lo, hi] by reflecting it at the limit it crossed; a value still outside
/// after one reflection takes `fallback` (a uniform draw within the limits).
double reflectIntoBounds(double x, double lo, double hi, double fallback);

}  // namespace kelvarin::fit

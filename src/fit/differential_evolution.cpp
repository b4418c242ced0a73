#include "fit/differential_evolution.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "fit/parallel_scorer.hpp"

namespace kelvarin::fit {

namespace {

/// Uniform on [0, 1) from 53 bits of the generator: the same on every platform.
double uniform(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

/// A random member index in 0..n − 1 other than those in `not`.
int pick(std::mt19937_64& rng, int n, std::initializer_list<int> exclude) {
    for (;;) {
        const int r = static_cast<int>(rng() % static_cast<std::uint64_t>(n));
        if (std::find(exclude.begin(), exclude.end(), r) == exclude.end()) return r;
    }
}

/// A number as a person writes it: 1e-04 as "0.0001", 2.5 as "2.5".
std::string shortNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

}  // namespace

std::string DeOptions::validate() const {
    if (population != 0 && (population < 4 || population > 1000))
        return "the population of differential evolution must lie between 4 and 1000";
    if (maxGenerations < 1) return "the number of generations must be at least 1";
    if (!(tolerance > 0)) return "the tolerance must be above 0";
    if (stallGenerations < 1) return "the stall window must be at least one generation";
    if (!(budgetSeconds >= 0)) return "the time budget must not be negative";
    if (maxEvaluations < 0) return "the evaluation budget must not be negative";
    return {};
}

const char* deStopName(DeStop stop) {
    switch (stop) {
        case DeStop::Converged:
            return "tolerance";
        case DeStop::Generations:
            return "generations";
        case DeStop::Evaluations:
            return "evaluations";
        case DeStop::Time:
            return "time";
        case DeStop::Stopped:
            break;
    }
    return "stopped";
}

double reflectIntoBounds(double x, double lo, double hi, double fallback) {
    if (x < lo)
        x = lo + (lo - x);
    else if (x > hi)
        x = hi - (x - hi);
    return x >= lo && x <= hi ? x : fallback;
}

DeResult runDifferentialEvolution(const FitProblem& problem, const DeOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    DeResult result;
    Summary& summary = result.summary;
    const auto fail = [&](std::string why) {
        summary.termination = Termination::Failed;
        summary.message = std::move(why);
        summary.seconds = elapsed();
        return result;
    };
    if (std::string why = options.validate(); !why.empty()) return fail(why);
    if (std::string why = problem.validate(); !why.empty()) return fail(why);
    const std::vector<int> free = problem.geneOrder();
    if (free.empty()) return fail("every parameter is fixed");
    const ParameterTable& table = problem.parameters();
    const int genes = static_cast<int>(free.size());
    const int n = options.population > 0 ? options.population : std::clamp(10 * genes, 20, 60);
    std::vector<double> lo, hi;
    for (int g : free) {
        lo.push_back(static_cast<double>(table[g].min));
        hi.push_back(static_cast<double>(table[g].max));
    }

    std::mt19937_64 rng(options.seed);
    const std::vector<Extended> base = table.values();
    const auto asValues = [&](const std::vector<double>& x) {
        std::vector<Extended> v = base;
        for (int j = 0; j < genes; ++j)
            v[static_cast<std::size_t>(free[static_cast<std::size_t>(j)])] =
                x[static_cast<std::size_t>(j)];
        return v;
    };
    std::vector<std::vector<double>> members(static_cast<std::size_t>(n),
                                             std::vector<double>(static_cast<std::size_t>(genes)));
    // Member 0 starts at the table's values, the others anywhere within the limits.
    for (int j = 0; j < genes; ++j)
        members[0][static_cast<std::size_t>(j)] = std::clamp(
            static_cast<double>(base[static_cast<std::size_t>(free[static_cast<std::size_t>(j)])]),
            lo[static_cast<std::size_t>(j)], hi[static_cast<std::size_t>(j)]);
    for (int i = 1; i < n; ++i)
        for (int j = 0; j < genes; ++j) {
            const auto k = static_cast<std::size_t>(j);
            members[static_cast<std::size_t>(i)][k] = lo[k] + uniform(rng) * (hi[k] - lo[k]);
        }
    std::vector<double> weight(static_cast<std::size_t>(n), 0.5),
        rate(static_cast<std::size_t>(n), 0.9);

    ParallelScorer scorer(problem, options.threads);
    std::vector<std::vector<Extended>> batch(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        batch[static_cast<std::size_t>(i)] = asValues(members[static_cast<std::size_t>(i)]);
    std::vector<double> errors;
    scorer.score(batch, errors);
    summary.evaluations = n;
    const auto bestOf = [&] {
        return static_cast<int>(std::min_element(errors.begin(), errors.end()) - errors.begin());
    };
    int best = bestOf();
    if (!std::isfinite(errors[static_cast<std::size_t>(best)]))
        return fail("no member of the first population could be scored");

    std::vector<double> history{errors[static_cast<std::size_t>(best)]};
    std::vector<std::vector<double>> trials(static_cast<std::size_t>(n));
    std::vector<double> trialWeight(static_cast<std::size_t>(n)),
        trialRate(static_cast<std::size_t>(n));
    std::vector<double> trialErrors;
    result.stop = DeStop::Generations;
    for (int gen = 1; gen <= options.maxGenerations; ++gen) {
        // Every random number of a generation is drawn here, in member order, before any trial
        // is scored: the run does not depend on how the scoring is shared among threads.
        for (int i = 0; i < n; ++i) {
            const auto s = static_cast<std::size_t>(i);
            trialWeight[s] = uniform(rng) < 0.1 ? 0.1 + 0.9 * uniform(rng) : weight[s];
            trialRate[s] = uniform(rng) < 0.1 ? uniform(rng) : rate[s];
            const int a = pick(rng, n, {i});
            const int b = pick(rng, n, {i, a});
            const int c = pick(rng, n, {i, a, b});
            const auto& xa = members[static_cast<std::size_t>(a)];
            const auto& xb = members[static_cast<std::size_t>(b)];
            const auto& xc = members[static_cast<std::size_t>(c)];
            const auto& xbest = members[static_cast<std::size_t>(best)];
            const int forced = static_cast<int>(rng() % static_cast<std::uint64_t>(genes));
            trials[s] = members[s];
            for (int j = 0; j < genes; ++j) {
                const auto k = static_cast<std::size_t>(j);
                const double draw = uniform(rng);
                const double fallback = lo[k] + uniform(rng) * (hi[k] - lo[k]);
                if (j != forced && draw >= trialRate[s]) continue;
                const double v = options.strategy == DeStrategy::Best1Bin
                                     ? xbest[k] + trialWeight[s] * (xa[k] - xb[k])
                                     : xa[k] + trialWeight[s] * (xb[k] - xc[k]);
                trials[s][k] = reflectIntoBounds(v, lo[k], hi[k], fallback);
            }
            batch[s] = asValues(trials[s]);
        }
        scorer.score(batch, trialErrors);
        summary.evaluations += n;
        for (int i = 0; i < n; ++i) {
            const auto s = static_cast<std::size_t>(i);
            if (trialErrors[s] <= errors[s]) {
                members[s] = trials[s];
                errors[s] = trialErrors[s];
                weight[s] = trialWeight[s];
                rate[s] = trialRate[s];
            }
        }
        best = bestOf();
        const double now = errors[static_cast<std::size_t>(best)];
        history.push_back(now);
        result.generations = gen;
        if (options.bestSoFar) options.bestSoFar(asValues(members[static_cast<std::size_t>(best)]));
        if (options.progress && !options.progress(gen, now)) {
            result.stop = DeStop::Stopped;
            break;
        }
        const std::size_t k = static_cast<std::size_t>(options.stallGenerations);
        if (history.size() > k) {
            const double then = history[history.size() - 1 - k];
            if (then - now <= options.tolerance * std::abs(then)) {
                result.stop = DeStop::Converged;
                break;
            }
        }
        if (options.maxEvaluations > 0 && summary.evaluations + n > options.maxEvaluations) {
            result.stop = DeStop::Evaluations;
            break;
        }
        if (options.budgetSeconds > 0 && elapsed() >= options.budgetSeconds) {
            result.stop = DeStop::Time;
            break;
        }
    }

    summary.termination =
        result.stop == DeStop::Stopped ? Termination::Stopped : Termination::Finished;
    switch (result.stop) {
        case DeStop::Converged:
            summary.message = "the best error improved by less than " +
                              shortNumber(options.tolerance) + " (relative) over " +
                              std::to_string(options.stallGenerations) + " generations";
            break;
        case DeStop::Generations:
            summary.message =
                "reached the limit of " + std::to_string(options.maxGenerations) + " generations";
            break;
        case DeStop::Evaluations:
            summary.message =
                "reached the budget of " + std::to_string(options.maxEvaluations) + " evaluations";
            break;
        case DeStop::Time:
            summary.message =
                "reached the time budget of " + shortNumber(options.budgetSeconds) + " s";
            break;
        case DeStop::Stopped:
            summary.message = "stopped on request";
            break;
    }
    summary.best = asValues(members[static_cast<std::size_t>(best)]);
    summary.bestError = errors[static_cast<std::size_t>(best)];
    summary.seconds = elapsed();
    return result;
}

}  // namespace kelvarin::fit

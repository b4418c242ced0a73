// Success rates and times of the two global searches on the examples' synthetic GaAs 0 0 4
// curve (examples/fit.toml: 16 lamellae, Poisson noise, known generating parameters), the time
// of the polish alone, and the coverage of the standard errors over noise seeds. Not a test:
//
//   bench_trust [project=examples/fit.toml] [seeds=20] [threads=2]
//
// A run succeeds when its final logarithmic error is within 0.5 % (relative) of the error of the
// generating parameters.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "../tests/fit/synthetic_problem.hpp"
#include "cli/fit_command.hpp"
#include "fit/least_squares_polish.hpp"
#include "fit/project_file.hpp"
#include "fit/uncertainty.hpp"

namespace {

using namespace kelvarin;

double median(std::vector<double> v) {
    if (v.empty()) return std::nan("");
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

/// Processor time of the whole process (all threads), s.
double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Tally {
    int runs = 0, reached = 0;
    std::vector<double> times, cpu;
    std::vector<double> errors;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "examples/fit.toml";
    const int seeds = argc > 2 ? std::atoi(argv[2]) : 20;
    const int threads = argc > 3 ? std::atoi(argv[3]) : 2;
    const fit::Project base = fit::loadProject(path);
    // The parameters the curve was made with: tau, ro, sigma1, sigma2, width.
    const std::vector<Extended> truth{0.0042L, 300, 150, 250, 8.5L};
    double target = 0;
    {
        auto problem = fit::buildProblem(base);
        fit::ProblemWorkspace ws = problem->makeWorkspace();
        target = static_cast<double>(problem->evaluate(truth, ws)) * 1.005;
    }
    std::printf("target: error at most %.4f %% (generating parameters + 0.5 %%), %d threads\n",
                target, threads);

    struct Method {
        const char* name;
        std::string optimizer;
        bool polish;
    };
    const Method methods[] = {{"evolutionary search", "evolutionary", false},
                              {"differential evolution + polish", "de", true}};
    Tally tally[2];
    std::ostringstream sink;
    for (int seed = 1; seed <= seeds; ++seed) {
        for (int m = 0; m < 2; ++m) {
            fit::Project p = base;
            p.fit.optimizer = methods[m].optimizer;
            p.fit.polish = methods[m].polish;
            p.fit.seed = static_cast<std::uint32_t>(seed);
            p.fit.seeded = true;
            if (p.fit.optimizer == "de") {
                p.fit.population = 30;
                p.fit.generations = 400;
                p.fit.tolerance = 1e-4;
            }
            auto problem = fit::buildProblem(p);
            cli::FitArgs args;
            args.quiet = true;
            args.threads = threads;
            const auto started = std::chrono::steady_clock::now();
            const double cpuStart = cpuSeconds();
            const cli::FitOutcome o = cli::runProjectFit(p, *problem, args, sink);
            const double t = seconds(started);
            const double cpu = cpuSeconds() - cpuStart;
            const double error = o.report.statistics.logError;
            Tally& s = tally[m];
            ++s.runs;
            s.errors.push_back(error);
            if (error <= target) {
                ++s.reached;
                s.times.push_back(t);
                s.cpu.push_back(cpu);
            }
            std::printf("seed %2d  %-32s error %.4f %%  %6.2f s wall  %6.2f s cpu  %s\n", seed,
                        methods[m].name, error, t, cpu, error <= target ? "reached" : "-");
            std::fflush(stdout);
        }
    }
    // Times are of the runs that reached the target; the processor time over the threads is
    // what the wall time would be on as many idle cores.
    std::printf("\n%-32s %8s %12s %12s %13s\n", "search", "reached", "median wall", "median cpu",
                "median error");
    for (int m = 0; m < 2; ++m)
        std::printf("%-32s %3d/%-4d %10.2f s %10.2f s %11.4f %%\n", methods[m].name,
                    tally[m].reached, tally[m].runs, median(tally[m].times), median(tally[m].cpu),
                    median(tally[m].errors));

    // The polish alone from 10 % off the optimum (alternately above and below).
    {
        auto problem = fit::buildProblem(base);
        problem->setSinglePrecision(false);
        const fit::PolishResult best = fit::polishLeastSquares(*problem, truth);
        std::vector<Extended> start = best.summary.best;
        for (std::size_t i = 0; i < start.size(); ++i)
            start[i] *= i % 2 ? 0.9L : 1.1L;
        std::vector<double> times;
        for (int r = 0; r < 5; ++r) {
            const auto started = std::chrono::steady_clock::now();
            const fit::PolishResult pr = fit::polishLeastSquares(*problem, start);
            times.push_back(seconds(started));
            if (r == 0)
                std::printf("\npolish alone from 10 %% off: %s, error %.4f %% (optimum %.4f %%)\n",
                            pr.summary.message.c_str(), static_cast<double>(pr.summary.bestError),
                            static_cast<double>(best.summary.bestError));
        }
        std::printf("polish alone: median %.3f s over 5 runs\n", median(times));
    }

    // Coverage: synthetic curves with Poisson noise, polished from the truth; how often the
    // truth lies within two standard errors.
    int within = 0, total = 0;
    for (unsigned seed = 1; seed <= 20; ++seed) {
        auto problem = fit::testing::syntheticProblem(16, seed);
        const fit::PolishResult r = fit::polishLeastSquares(*problem, fit::testing::kTruth);
        const fit::Uncertainty u = fit::estimateUncertainty(*problem, r.summary.best);
        if (!u.valid) continue;
        for (const fit::ParameterUncertainty& pu : u.parameters) {
            const double t =
                static_cast<double>(fit::testing::kTruth[static_cast<std::size_t>(pu.index)]);
            within += std::abs(pu.value - t) <= 2 * pu.standardError;
            ++total;
        }
    }
    std::printf("\ncoverage: truth within 2 standard errors for %d of %d parameters (%.0f %%)\n",
                within, total, 100.0 * within / std::max(total, 1));
    return 0;
}

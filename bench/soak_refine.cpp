// Soak run of the refinement: many generations of the GaAs 0 0 4 job (50 candidates, 2000
// scan points, 16 lamellae) with the restarts of a converged population, reporting resident
// memory and speed as the run goes on. Not a test: run it through tools/soak.sh.
//
//   soak_refine [generations=10000] [threads=0 (one per core)] [report every=500]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../tests/refine/synthetic_job.hpp"
#include "refine/evaluate.hpp"
#include "refine/population.hpp"
#include "refine/refinement_run.hpp"

namespace {

using namespace kelvarin;

/// Resident set size in MiB, from /proc/self/statm.
double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

struct SoakSample {
    int generation;
    double seconds;
    double rssMiB;
    int restarts;
    double bestError;
};

}  // namespace

int main(int argc, char** argv) {
    const int generations = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int threads = argc > 2 ? std::atoi(argv[2]) : 0;
    const int every = argc > 3 ? std::max(1, std::atoi(argv[3])) : 500;
    if (generations < 1) {
        std::fprintf(stderr, "usage: soak_refine [generations] [threads] [report every]\n");
        return 2;
    }

    auto engine = std::make_unique<EngineState>();
    synthetic::setUpGaAs004(*engine, 16, -1500, 500, 1);
    synthetic::makeMeasuredCurve(*engine, {8.5f, 0.0042f, 420.0f, 250.0f, 150.0f, 0.0f}, 1.0e5L, 30,
                                 7);
    auto refine = std::make_unique<RefineState>();
    refine->nelements = 50;
    RefineSettings& r = refine->refineSettings;
    r.wLo = 7, r.wHi = 10, r.tauLo = 0.003L, r.tauHi = 0.005L, r.roLo = 50, r.roHi = 800;
    r.sigma1Lo = 50, r.sigma1Hi = 800, r.sigma2Lo = 50, r.sigma2Hi = 800;
    r.maxMutW = 1, r.maxMutTau = 0.0005L, r.maxMutRo = 10, r.maxMutSigma1 = 10, r.maxMutSigma2 = 10;
    refine->generator.seed(20261208);
    for (int i = 0; i < refine->nelements; ++i)
        drawGenes(*refine, refine->population[i], r.wLo, r.wHi, r.tauLo, r.tauHi, r.roLo, r.roHi,
                  r.sigma1Lo, r.sigma1Hi, r.sigma2Lo, r.sigma2Hi);

    EngineEvaluator evaluator(*engine, threads);
    std::printf("soak: %d generations of 50 candidates, 2000 points, 16 lamellae, %d threads\n",
                generations, evaluator.threads());
    std::printf("%10s %10s %12s %10s %9s %12s\n", "generation", "seconds", "generations/s",
                "RSS MiB", "restarts", "best error");

    std::vector<SoakSample> samples;
    int restarts = 0;
    const auto t0 = std::chrono::steady_clock::now();
    auto elapsed = [&t0] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    samples.push_back({0, 0, residentMiB(), 0, 0});

    RunOptions options;
    options.generations = generations;
    options.restart = [&](int keep) {
        ++restarts;
        redrawPopulation(*refine, keep);
    };
    options.progress = [&](const RunProgress& p) {
        if (p.kind != RunProgress::Kind::GenerationDone || p.generation % every != 0) return true;
        float best = kUnscorableError;
        for (int i = 0; i < refine->nelements; ++i)
            best = std::min(best, refine->population[i][kColError]);
        const SoakSample s{p.generation, elapsed(), residentMiB(), restarts, best};
        const SoakSample& prev = samples.back();
        std::printf("%10d %10.2f %12.1f %10.1f %9d %12.5f\n", s.generation, s.seconds,
                    (s.generation - prev.generation) / (s.seconds - prev.seconds), s.rssMiB,
                    s.restarts, s.bestError);
        std::fflush(stdout);
        samples.push_back(s);
        return true;
    };
    const RunResult result = runRefinement(*refine, evaluator, options);
    if (result.outcome != RunOutcome::Finished) {
        std::fprintf(stderr, "soak: the run did not finish: %s\n", result.message.c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("done: %d generations, %d evaluations, %d restarts in %.1f s; final error %.5f\n",
                result.generationsDone, result.evaluations, result.restarts, elapsed(),
                static_cast<double>(result.finalError));
    if (samples.size() >= 3) {
        const SoakSample& first = samples[1];
        const SoakSample& last = samples.back();
        const SoakSample& beforeLast = samples[samples.size() - 2];
        const double firstRate = first.generation / first.seconds;
        const double lastRate =
            (last.generation - beforeLast.generation) / (last.seconds - beforeLast.seconds);
        std::printf("memory: %.1f MiB after %d generations, %.1f MiB at the end (peak %.1f MiB)\n",
                    first.rssMiB, first.generation, last.rssMiB,
                    static_cast<double>(usage.ru_maxrss) / 1024.0);
        std::printf("speed: %.1f generations/s in the first stretch, %.1f in the last (%+.1f %%)\n",
                    firstRate, lastRate, 100.0 * (lastRate / firstRate - 1));
    }
    return 0;
}

// Cost of the evolutionary refinement on GaAs 0 0 4: one generation of 50 candidates over a
// 2000-point scan with 16 and 48 lamellae, and a whole run of 100 generations, each on one
// thread and on two (wall time: the evaluations of a pass share the threads).
#include <benchmark/benchmark.h>

#include <memory>

#include "../tests/refine/synthetic_job.hpp"
#include "refine/evaluate.hpp"
#include "refine/population.hpp"
#include "refine/refinement_run.hpp"

namespace kelvarin {
namespace {

struct Job {
    std::unique_ptr<EngineState> engine = std::make_unique<EngineState>();
    std::unique_ptr<RefineState> refine = std::make_unique<RefineState>();

    Job(int layers, int scanStart, int scanEnd, int scanStep, int n) {
        synthetic::setUpGaAs004(*engine, layers, scanStart, scanEnd, scanStep);
        const CandidateRow truth = {8.5f, 0.0042f, 420.0f, 250.0f, 150.0f, 0.0f};
        synthetic::makeMeasuredCurve(*engine, truth, 1.0e5L, 30, 7);
        refine->nelements = n;
        RefineSettings& r = refine->refineSettings;
        r.wLo = 7, r.wHi = 10, r.tauLo = 0.003L, r.tauHi = 0.005L, r.roLo = 50, r.roHi = 800;
        r.sigma1Lo = 50, r.sigma1Hi = 800, r.sigma2Lo = 50, r.sigma2Hi = 800;
        r.maxMutW = 1, r.maxMutTau = 0.0005L, r.maxMutRo = 10, r.maxMutSigma1 = 10,
        r.maxMutSigma2 = 10;
        refine->generator.seed(1);
        for (int i = 0; i < n; ++i)
            drawGenes(*refine, refine->population[i], r.wLo, r.wHi, r.tauLo, r.tauHi, r.roLo,
                      r.roHi, r.sigma1Lo, r.sigma1Hi, r.sigma2Lo, r.sigma2Hi);
    }
};

/// One generation's evaluations: 50 candidates, 2000 scan points (−1500 .. 498 arcsec, step 1).
void BM_GenerationOf50(benchmark::State& st) {
    Job job(static_cast<int>(st.range(0)), -1500, 500, 1, 50);
    EngineEvaluator evaluator(*job.engine, static_cast<int>(st.range(1)));
    for (auto _ : st) {
        evaluator.evaluateRows(*job.refine, 0, 50,
                               [](int, const Evaluation& e) { benchmark::DoNotOptimize(e.error); });
    }
    st.counters["evaluations/s"] = benchmark::Counter(50.0 * static_cast<double>(st.iterations()),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GenerationOf50)
    ->ArgNames({"lamellae", "threads"})
    ->ArgsProduct({{16, 48}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

/// A whole run of 100 generations of 50 candidates with 16 lamellae on the same scan.
void BM_Run100Generations(benchmark::State& st) {
    for (auto _ : st) {
        st.PauseTiming();
        Job job(16, -1500, 500, 1, 50);
        EngineEvaluator evaluator(*job.engine, static_cast<int>(st.range(0)));
        RunOptions options;
        options.generations = 100;
        st.ResumeTiming();
        const RunResult r = runRefinement(*job.refine, evaluator, options);
        benchmark::DoNotOptimize(r.finalError);
    }
}
BENCHMARK(BM_Run100Generations)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kelvarin

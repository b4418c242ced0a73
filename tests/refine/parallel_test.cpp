// Candidates evaluated on several threads: the run, the population and the engine state must be
// those of evaluating them one after another, whatever the number of threads.
#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "fit/worker_pool.hpp"
#include "refine/evaluate.hpp"
#include "refine/population.hpp"
#include "refine/refinement_run.hpp"
#include "synthetic_job.hpp"

namespace kelvarin {
namespace {

struct Job {
    std::unique_ptr<EngineState> engine = std::make_unique<EngineState>();
    std::unique_ptr<RefineState> refine = std::make_unique<RefineState>();
};

/// A small GaAs 0 0 4 refinement (fitted background, so every evaluation also fits one).
Job makeJob(int n) {
    Job j;
    synthetic::setUpGaAs004(*j.engine, 12, -900, 100, 5);
    j.engine->normMode = kNormFitBackground;
    synthetic::makeMeasuredCurve(*j.engine, {8.5f, 0.0042f, 420.0f, 250.0f, 150.0f, 0.0f}, 1.0e5L,
                                 30, 9);
    RefineState& r = *j.refine;
    r.nelements = n;
    r.generator.seed(31);
    r.refineSettings.wLo = 7, r.refineSettings.wHi = 10;
    r.refineSettings.tauLo = 0.003L, r.refineSettings.tauHi = 0.005L;
    r.refineSettings.roLo = r.refineSettings.sigma1Lo = r.refineSettings.sigma2Lo = 50;
    r.refineSettings.roHi = r.refineSettings.sigma1Hi = r.refineSettings.sigma2Hi = 800;
    r.refineSettings.maxMutW = 1, r.refineSettings.maxMutTau = 0.0005L;
    r.refineSettings.maxMutRo = r.refineSettings.maxMutSigma1 = r.refineSettings.maxMutSigma2 = 10;
    const RefineSettings& s = r.refineSettings;
    for (int i = 0; i < n; ++i)
        drawGenes(r, r.population[i], s.wLo, s.wHi, s.tauLo, s.tauHi, s.roLo, s.roHi, s.sigma1Lo,
                  s.sigma1Hi, s.sigma2Lo, s.sigma2Hi);
    return j;
}

/// Everything an evaluation leaves in the engine state.
void expectSameEngine(const EngineState& a, const EngineState& b, int threads) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const CurveStore& x = a.curveStore;
    const CurveStore& y = b.curveStore;
    ASSERT_EQ(x.calcCount, y.calcCount);
    ASSERT_EQ(x.calcComputed, y.calcComputed);
    EXPECT_EQ(x.calcMax, y.calcMax);
    EXPECT_EQ(x.calcAngle, y.calcAngle);
    EXPECT_EQ(x.calcRaw, y.calcRaw);
    EXPECT_EQ(x.calcCurve, y.calcCurve);
    EXPECT_EQ(a.profileThickness, b.profileThickness);
    EXPECT_EQ(a.profileStrain, b.profileStrain);
    EXPECT_EQ(a.scaleFactor, b.scaleFactor);
    EXPECT_EQ(a.background, b.background);
    EXPECT_EQ(a.errorRatio, b.errorRatio);
}

TEST(ParallelEvaluation, AnyThreadCountGivesTheSequentialRun) {
    Job reference = makeJob(14);
    EngineEvaluator one(*reference.engine, 1);
    RunOptions opt;
    opt.generations = 8;
    const RunResult want = runRefinement(*reference.refine, one, opt);
    ASSERT_EQ(want.outcome, RunOutcome::Finished) << want.message;

    for (int threads : {2, 3, 5, 16}) {
        Job job = makeJob(14);
        EngineEvaluator many(*job.engine, threads);
        // Beyond two per core the pool is capped: the count is the capped one.
        ASSERT_EQ(many.threads(), fit::WorkerPool::resolve(threads));
        const RunResult got = runRefinement(*job.refine, many, opt);
        ASSERT_EQ(got.outcome, RunOutcome::Finished) << got.message;
        EXPECT_EQ(got.finalError, want.finalError) << threads;
        EXPECT_EQ(got.finalRow, want.finalRow) << threads;
        EXPECT_EQ(got.bestGenes, want.bestGenes) << threads;
        EXPECT_EQ(got.bestErrorByPass, want.bestErrorByPass) << threads;
        EXPECT_EQ(got.variance, want.variance) << threads;
        EXPECT_EQ(got.restarts, want.restarts) << threads;
        EXPECT_EQ(got.evaluations, want.evaluations) << threads;
        EXPECT_EQ(job.refine->population, reference.refine->population) << threads;
        EXPECT_EQ(job.refine->generator.state(), reference.refine->generator.state()) << threads;
        expectSameEngine(*job.engine, *reference.engine, threads);
    }
}

TEST(ParallelEvaluation, RowsArriveInOrderAndTheLastScoredCurveIsKept) {
    // Rows 2 and 9 (the last) cannot be scored: the curve left behind is row 8's, and the
    // curve maximum covers every scored row, exactly as one evaluation after another leaves it.
    auto prepare = [] {
        Job j = makeJob(10);
        j.engine->normMode = kNormFixedBackground;
        j.engine->background = 30;
        j.refine->population[2][kColSigma1] = 0;
        j.refine->population[9][kColSigma2] = 0;
        return j;
    };
    Job reference = prepare();
    EngineEvaluator one(*reference.engine, 1);
    std::vector<Evaluation> want;
    one.evaluateRows(*reference.refine, 0, 10,
                     [&](int, const Evaluation& e) { want.push_back(e); });
    ASSERT_FALSE(want[2].scored);
    ASSERT_FALSE(want[9].scored);
    ASSERT_TRUE(want[8].scored) << want[8].problem;

    for (int threads : {2, 4}) {
        Job job = prepare();
        EngineEvaluator many(*job.engine, threads);
        std::vector<int> order;
        std::vector<Evaluation> got;
        many.evaluateRows(*job.refine, 0, 10, [&](int row, const Evaluation& e) {
            order.push_back(row);
            got.push_back(e);
        });
        ASSERT_EQ(order.size(), 10u);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(order[i], i);
            EXPECT_EQ(got[i].scored, want[i].scored) << i;
            EXPECT_EQ(got[i].error, want[i].error) << i;
            EXPECT_EQ(got[i].problem, want[i].problem) << i;
        }
        expectSameEngine(*job.engine, *reference.engine, threads);
    }
}

TEST(ParallelEvaluation, AFailingReceiverEndsThePassAndIsRethrown) {
    Job job = makeJob(12);
    EngineEvaluator many(*job.engine, 3);
    int received = 0;
    EXPECT_THROW(many.evaluateRows(*job.refine, 0, 12,
                                   [&](int row, const Evaluation&) {
                                       ++received;
                                       if (row == 4) throw std::runtime_error("receiver failed");
                                   }),
                 std::runtime_error);
    EXPECT_EQ(received, 5);
    // The evaluator is whole afterwards.
    int again = 0;
    many.evaluateRows(*job.refine, 0, 12, [&](int, const Evaluation&) { ++again; });
    EXPECT_EQ(again, 12);
}

TEST(WorkerPool, EveryWorkerRunsEachRoundOnItsOwnThread) {
    EXPECT_EQ(fit::WorkerPool::resolve(3), std::min(3, fit::WorkerPool::maxWorkers()));
    EXPECT_GE(fit::WorkerPool::resolve(0), 1);
    EXPECT_EQ(fit::WorkerPool::resolve(100000), fit::WorkerPool::maxWorkers());
    EXPECT_LE(fit::WorkerPool::maxWorkers(), 256);
    fit::WorkerPool pool(4);
    ASSERT_EQ(pool.size(), 4);
    for (int round = 0; round < 200; ++round) {
        std::mutex m;
        std::set<int> workers;
        std::set<std::thread::id> threads;
        pool.runOnAll([&](int w) {
            std::lock_guard lock(m);
            workers.insert(w);
            threads.insert(std::this_thread::get_id());
        });
        ASSERT_EQ(workers, (std::set<int>{0, 1, 2, 3}));
        ASSERT_EQ(threads.size(), 4u);
        ASSERT_TRUE(threads.count(std::this_thread::get_id()));
    }
}

}  // namespace
}  // namespace kelvarin

// The search on real physics: a GaAs 0 0 4 curve computed from known profile parameters, with
// counting noise and a background, is refined from the default limits and must give the
// parameters back.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>

#include "refine/evaluate.hpp"
#include "refine/population.hpp"
#include "refine/refinement_run.hpp"
#include "synthetic_job.hpp"

namespace kelvarin {
namespace {

RefineSettings defaultLimits() {
    RefineSettings r;
    r.wLo = 7, r.wHi = 10, r.tauLo = 0.003L, r.tauHi = 0.005L, r.roLo = 50, r.roHi = 800;
    r.sigma1Lo = 50, r.sigma1Hi = 800, r.sigma2Lo = 50, r.sigma2Hi = 800;
    r.maxMutW = 1, r.maxMutTau = 0.0005L, r.maxMutRo = 10, r.maxMutSigma1 = 10, r.maxMutSigma2 = 10;
    return r;
}

TEST(Recovery, SeededRefinementFindsTheProfileOfASyntheticGaAsCurve) {
    auto engine = std::make_unique<EngineState>();
    synthetic::setUpGaAs004(*engine, 16, -900, 100, 4);
    const CandidateRow truth = {8.5f, 0.0042f, 420.0f, 250.0f, 150.0f, 0.0f};
    synthetic::makeMeasuredCurve(*engine, truth, 1.0e7L, 1000, 7);

    auto refine = std::make_unique<RefineState>();
    refine->nelements = 30;
    refine->refineSettings = defaultLimits();
    // The search is a plain evolutionary one: with this budget (1831 evaluations) some seeds
    // stall in the valley where a deeper maximum trades against a wider surface side.
    refine->generator.seed(1);
    const RefineSettings& s = refine->refineSettings;
    for (int i = 0; i < refine->nelements; ++i)
        drawGenes(*refine, refine->population[i], s.wLo, s.wHi, s.tauLo, s.tauHi, s.roLo, s.roHi,
                  s.sigma1Lo, s.sigma1Hi, s.sigma2Lo, s.sigma2Hi);

    EngineEvaluator evaluator(*engine);
    RunOptions options;
    options.generations = 60;
    options.mutationProbability = 0.5L;
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult r = runRefinement(*refine, evaluator, options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(r.outcome, RunOutcome::Finished) << r.message;
    RecordProperty("seconds", std::to_string(seconds));

    // The error falls generation by generation (never rises, thanks to the elite) and ends
    // well below where it started.
    for (size_t g = 1; g < r.bestErrorByPass.size(); ++g)
        EXPECT_LE(r.bestErrorByPass[g], r.bestErrorByPass[g - 1]) << "generation " << g;
    EXPECT_LT(r.bestErrorByPass.back(), 0.1L * r.bestErrorByPass.front());

    auto relative = [](Extended got, float want) { return std::fabs(got / want - 1); };
    EXPECT_LT(relative(r.bestGenes[kColTau], truth[kColTau]), 0.03) << r.bestGenes[kColTau];
    EXPECT_LT(relative(r.bestGenes[kColRo], truth[kColRo]), 0.04) << r.bestGenes[kColRo];
    EXPECT_LT(relative(r.bestGenes[kColW], truth[kColW]), 0.03) << r.bestGenes[kColW];

    // The final evaluation leaves the best candidate's curve in the engine state.
    EXPECT_EQ(engine->curveStore.calcCount, engine->curveStore.measLast);
    EXPECT_NEAR(static_cast<double>(engine->errorRatio * 100), static_cast<double>(r.finalError),
                1e-9);
}

}  // namespace
}  // namespace kelvarin

// The generation loop on stand-in evaluators: elitism, ties, restarts, mutation probability,
// breeding counts, stopping, unscorable candidates and determinism.
#include "refine/refinement_run.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <vector>

#include "refine/default_limits.hpp"
#include "refine/population.hpp"

namespace kelvarin {
namespace {

/// Error = distance of the genes from a target, in percent-like units; rows with a negative
/// width cannot be scored.
class BowlEvaluator : public CandidateEvaluator {
public:
    Evaluation evaluate(const RefineState& s, int k) override {
        ++calls;
        rows.push_back(k);
        const Candidate& c = s.population[k];
        if (c[kColW] < 0) return {kUnscorableError, false, "negative width"};
        const Extended e = std::fabs(c[kColW] - 8.5L) + 2000 * std::fabs(c[kColTau] - 0.0042L) +
                           std::fabs(c[kColRo] - 400) / 40 + std::fabs(c[kColSigma1] - 300) / 40 +
                           std::fabs(c[kColSigma2] - 200) / 40;
        return {e, true, {}};
    }
    int calls = 0;
    std::vector<int> rows;
};

/// Returns prepared errors in call order.
class ScriptEvaluator : public CandidateEvaluator {
public:
    explicit ScriptEvaluator(std::vector<Extended> e) : errors(e.begin(), e.end()) {}
    Evaluation evaluate(const RefineState&, int) override {
        if (errors.empty()) return {1, true, {}};
        const Extended e = errors.front();
        errors.pop_front();
        return {e, true, {}};
    }
    std::deque<Extended> errors;
};

RefineState makeState(int n, std::uint32_t seed = 2024) {
    RefineState s;
    s.nelements = n;
    s.generator.seed(seed);
    RefineSettings& r = s.refineSettings;
    testing::setDesignLimits(r);
    for (int i = 0; i < n; ++i)
        drawGenes(s, s.population[i], r.wLo, r.wHi, r.tauLo, r.tauHi, r.roLo, r.roHi, r.sigma1Lo,
                  r.sigma1Hi, r.sigma2Lo, r.sigma2Hi);
    return s;
}

bool sameGenes(const Candidate& a, const Candidate& b) {
    for (int d = 0; d < kGeneCount; ++d)
        if (a[d] != b[d]) return false;
    return true;
}

TEST(RefinementRun, NoGenerationScoresOnceAndEvaluatesTheBestAgain) {
    RefineState s = makeState(12);
    const RefineState before = s;
    BowlEvaluator eval;
    RunOptions opt;
    opt.generations = 0;
    const auto draws = s.generator.draws();
    const RunResult r = runRefinement(s, eval, opt);
    ASSERT_EQ(r.outcome, RunOutcome::Finished) << r.message;
    EXPECT_EQ(eval.calls, 13);
    EXPECT_EQ(r.evaluations, 13);
    EXPECT_EQ(s.generator.draws(), draws);
    EXPECT_FALSE(r.varianceValid);
    EXPECT_EQ(r.generationsDone, 0);
    int best = 0;
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(sameGenes(s.population[i], before.population[i]));
        if (s.population[i][kColError] < s.population[best][kColError]) best = i;
    }
    EXPECT_EQ(r.finalRow, best);
    EXPECT_EQ(eval.rows.back(), best);
    EXPECT_EQ(static_cast<float>(r.finalError), s.population[best][kColError]);
    for (int d = 0; d < kGeneCount; ++d)
        EXPECT_EQ(r.bestGenes[d], s.population[best][d]);
}

TEST(RefinementRun, TiesKeepTheLowerRow) {
    RefineState s = makeState(6);
    ScriptEvaluator eval({5, 3, 2, 4, 2, 9});
    RunOptions opt;
    opt.generations = 0;
    const RunResult r = runRefinement(s, eval, opt);
    EXPECT_EQ(r.finalRow, 2);
    for (int d = 0; d < kGeneCount; ++d)
        EXPECT_EQ(r.bestGenes[d], s.population[2][d]);
}

TEST(RefinementRun, ElitismKeepsTheBestAndTheBestErrorNeverRises) {
    const int n = 20;
    RefineState s = makeState(n);
    BowlEvaluator eval;
    RunOptions opt;
    opt.generations = 30;
    // Follow each pass as it is scored; at the first crossover of the next generation the two
    // elite rows must hold the pass's first candidate with the smallest error.
    Candidate passBest{};
    float passBestError = 0;
    int checkedGeneration = 0;
    opt.progress = [&](const RunProgress& p) {
        if (p.kind == RunProgress::Kind::CandidateScored) {
            const Candidate& row = s.population[p.row];
            if (p.row == 0 || row[kColError] < passBestError) {
                passBest = row;
                passBestError = row[kColError];
            }
        }
        if (p.kind == RunProgress::Kind::PairBred && checkedGeneration < p.generation) {
            checkedGeneration = p.generation;
            EXPECT_TRUE(sameGenes(s.population[0], passBest)) << "generation " << p.generation;
            EXPECT_TRUE(sameGenes(s.population[n - 1], passBest)) << "generation " << p.generation;
        }
        return true;
    };
    const RunResult r = runRefinement(s, eval, opt);
    ASSERT_EQ(r.outcome, RunOutcome::Finished) << r.message;
    EXPECT_EQ(checkedGeneration, 30);
    ASSERT_EQ(r.bestErrorByPass.size(), 31u);
    for (size_t g = 1; g < r.bestErrorByPass.size(); ++g)
        EXPECT_LE(r.bestErrorByPass[g], r.bestErrorByPass[g - 1]) << g;
    EXPECT_LT(r.bestErrorByPass.back(), r.bestErrorByPass.front() / 2);
    EXPECT_EQ(static_cast<float>(r.finalError), passBestError);
}

TEST(RefinementRun, RestartsWhenTheVarianceReachesOneAndKeepsTheBest) {
    // Three candidates with errors 0, 1, 2 have a variance of exactly 1.
    RefineState s = makeState(3);
    ScriptEvaluator eval({7, 8, 9, /*generation 1*/ 2, 0, 1, /*generation 2*/ 0, 1, 2.001L});
    std::vector<int> keeps;
    RunOptions opt;
    opt.generations = 2;
    opt.restart = [&](int keep) {
        keeps.push_back(keep);
        redrawPopulation(s, keep);
    };
    Candidate bestOfGen1{};
    opt.progress = [&](const RunProgress& p) {
        if (p.kind == RunProgress::Kind::GenerationDone && p.generation == 1)
            bestOfGen1 = s.population[1];
        return true;
    };
    const RunResult r = runRefinement(s, eval, opt);
    ASSERT_EQ(r.outcome, RunOutcome::Finished);
    ASSERT_EQ(keeps, std::vector<int>{1});  // generation 2 (variance 1.001) does not restart
    EXPECT_EQ(r.restarts, 1);
    EXPECT_NEAR(r.variance, 1.001f, 1e-5);
    // Generation 2 started from the kept candidate in its elite rows.
    EXPECT_EQ(r.finalRow, 0);
    for (int d = 0; d < kGeneCount; ++d)
        EXPECT_EQ(r.bestGenes[d], bestOfGen1[d]);
}

TEST(RefinementRun, RestartInTheLastGenerationEvaluatesTheKeptCandidate) {
    RefineState s = makeState(4);
    ScriptEvaluator eval({4, 3, 2, 1, /*generation 1*/ 5, 5, 5, 5});
    RunOptions opt;
    opt.generations = 1;
    const RunResult r = runRefinement(s, eval, opt);
    EXPECT_EQ(r.restarts, 1);
    EXPECT_EQ(r.finalRow, 0);
    EXPECT_TRUE(sameGenes(s.population[0], s.population[3]));
}

TEST(RefinementRun, MutationProbabilityZeroAndOne) {
    for (const Extended pmut : {0.0L, 1.0L}) {
        RefineState s = makeState(10);
        BowlEvaluator eval;
        RunOptions opt;
        opt.generations = 1;
        opt.mutationProbability = pmut;
        runRefinement(s, eval, opt);
        int mutated = 0;
        for (int i = 1; i <= 8; ++i)
            if (!sameGenes(s.population[i], s.offspring[i])) ++mutated;
        EXPECT_EQ(mutated, pmut == 0 ? 0 : 8) << "pmut " << static_cast<double>(pmut);
    }
}

TEST(RefinementRun, BreedingFillsEveryInnerRowForEvenAndOddSizes) {
    for (const int n : {2, 3, 50, 51, 200}) {
        RefineState s = makeState(n);
        BowlEvaluator eval;
        RunOptions opt;
        opt.generations = 1;
        opt.mutationProbability = 0;
        opt.restart = [](int) {};  // keep the bred rows for inspection
        int pairs = 0;
        int bar = 0;
        int pumps = 0;
        opt.progress = [&](const RunProgress& p) {
            if (p.kind == RunProgress::Kind::PairBred) ++pairs;
            if (p.barStep) {
                bar += p.barStep;
                ++pumps;
            }
            return true;
        };
        const RunResult r = runRefinement(s, eval, opt);
        ASSERT_EQ(r.outcome, RunOutcome::Finished) << n;
        const int expectedPairs = n <= 3 ? 1 : (n - 1) / 2;
        EXPECT_EQ(pairs, expectedPairs) << n;
        EXPECT_EQ(pumps, pairs + 1) << n;
        EXPECT_EQ(bar, 2 * pairs + 2) << n;
        // Every inner row came from a crossover (offspring starts zero-filled).
        for (int i = 1; i <= n - 2; ++i) {
            EXPECT_TRUE(sameGenes(s.population[i], s.offspring[i])) << n << " row " << i;
            EXPECT_GT(s.offspring[i][kColW], 0) << n << " row " << i;
        }
        EXPECT_EQ(r.evaluations, 2 * n + 1);
    }
}

TEST(RefinementRun, SizesOutsideTheTablesFailBeforeAnythingChanges) {
    for (const int n : {-1, 0, 1, 201}) {
        RefineState s = makeState(10);
        s.nelements = n;
        const auto draws = s.generator.draws();
        BowlEvaluator eval;
        const RunResult r = runRefinement(s, eval, RunOptions{});
        EXPECT_EQ(r.outcome, RunOutcome::Failed) << n;
        EXPECT_NE(r.message.find("between 2 and 200"), std::string::npos) << r.message;
        EXPECT_EQ(eval.calls, 0);
        EXPECT_EQ(s.generator.draws(), draws);
    }
}

TEST(RefinementRun, StopAtAPumpEndsTheRunWithoutTheFinalEvaluation) {
    RefineState s = makeState(10);
    BowlEvaluator eval;
    RunOptions opt;
    opt.generations = 5;
    opt.progress = [](const RunProgress& p) { return p.kind != RunProgress::Kind::PairBred; };
    const RunResult r = runRefinement(s, eval, opt);
    EXPECT_EQ(r.outcome, RunOutcome::Stopped);
    EXPECT_EQ(eval.calls, 10);
    // Breeding had begun; the best candidate of the first pass is still in row 0, scored.
    for (int d = 0; d < kGeneCount; ++d)
        EXPECT_EQ(s.population[0][d], static_cast<float>(r.bestGenes[d]));
    EXPECT_EQ(s.population[0][kColError], static_cast<float>(r.bestError));
    EXPECT_LT(r.bestError, kUnscorableError);
}

TEST(RefinementRun, StopRequestEndsAsIfThatGenerationWereTheLast) {
    RefineState stopped = makeState(12, 5);
    RefineState shorter = makeState(12, 5);
    BowlEvaluator e1, e2;
    RunOptions opt;
    opt.generations = 40;
    int asked = 0;
    opt.stopRequested = [&asked] { return ++asked == 3; };
    const RunResult a = runRefinement(stopped, e1, opt);
    RunOptions three;
    three.generations = 3;
    const RunResult b = runRefinement(shorter, e2, three);
    ASSERT_EQ(a.outcome, RunOutcome::Finished);
    EXPECT_TRUE(a.stoppedEarly);
    EXPECT_FALSE(b.stoppedEarly);
    EXPECT_EQ(a.generationsDone, 3);
    EXPECT_EQ(a.finalError, b.finalError);
    EXPECT_EQ(a.finalRow, b.finalRow);
    EXPECT_EQ(a.bestErrorByPass, b.bestErrorByPass);
    EXPECT_EQ(stopped.population, shorter.population);
    EXPECT_EQ(e1.calls, e2.calls);

    // Asked only between generations, never after the last one.
    int asks = 0;
    three.stopRequested = [&asks] { return ++asks > 99; };
    RefineState last = makeState(12, 5);
    BowlEvaluator e3;
    EXPECT_FALSE(runRefinement(last, e3, three).stoppedEarly);
    EXPECT_EQ(asks, 2);
}

TEST(RefinementRun, UnscorableCandidatesNeverWinAndAllUnscorableFails) {
    RefineState s = makeState(10);
    for (int i : {0, 3, 7})
        s.population[i][kColW] = -1;  // cannot be scored
    BowlEvaluator eval;
    RunOptions opt;
    opt.generations = 3;
    RunResult r = runRefinement(s, eval, opt);
    ASSERT_EQ(r.outcome, RunOutcome::Finished) << r.message;
    EXPECT_GT(r.bestGenes[kColW], 0);
    EXPECT_LT(r.finalError, kUnscorableError);

    RefineState bad = makeState(6);
    for (int i = 0; i < 6; ++i)
        bad.population[i][kColW] = -1;
    BowlEvaluator eval2;
    r = runRefinement(bad, eval2, opt);
    EXPECT_EQ(r.outcome, RunOutcome::Failed);
    EXPECT_NE(r.message.find("negative width"), std::string::npos) << r.message;
    EXPECT_EQ(eval2.calls, 6);  // gives up after the first pass
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bad.population[i][kColError], kUnscorableError);
}

TEST(RefinementRun, EqualHugeErrorsStillBreed) {
    // All errors 20000: no threshold below maxErr + 1 can exceed them; a lap without a pass
    // takes the candidate under the cursor, so the run ends.
    RefineState s = makeState(8);
    ScriptEvaluator eval(std::vector<Extended>(30, 20000));
    RunOptions opt;
    opt.generations = 2;
    const RunResult r = runRefinement(s, eval, opt);
    EXPECT_EQ(r.outcome, RunOutcome::Finished);
    EXPECT_EQ(r.generationsDone, 2);
}

TEST(RefinementRun, SameSeedSameRun) {
    RefineState a = makeState(16, 77);
    RefineState b = makeState(16, 77);
    BowlEvaluator ea, eb;
    RunOptions opt;
    opt.generations = 15;
    const RunResult ra = runRefinement(a, ea, opt);
    const RunResult rb = runRefinement(b, eb, opt);
    EXPECT_EQ(ra.finalError, rb.finalError);
    EXPECT_EQ(a.population, b.population);
    EXPECT_EQ(a.generator.state(), b.generator.state());
}

TEST(Selection, SmallerErrorsPassMoreOften) {
    EXPECT_TRUE(passesSelection(0.5L, 0.25f));
    EXPECT_FALSE(passesSelection(0.25L, 0.25f));  // equal does not pass
    EXPECT_FALSE(passesSelection(0, 0));
    CRandom g;
    g.seed(3);
    int low = 0, high = 0;
    for (int i = 0; i < 10000; ++i) {
        low += passesSelection(uniformDraw(g, 0, 11), 1.0f);
        high += passesSelection(uniformDraw(g, 0, 11), 9.0f);
    }
    // The draws lean slightly towards small values (rand() mod 10000), hence the tolerance.
    EXPECT_NEAR(low / 10000.0, 10.0 / 11, 0.04);
    EXPECT_NEAR(high / 10000.0, 2.0 / 11, 0.04);
}

}  // namespace
}  // namespace kelvarin

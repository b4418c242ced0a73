// Differential evolution, the least-squares polish, uncertainties, statistics and reports, on
// problems whose truth is known.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/strain.hpp"
#include "fit/differential_evolution.hpp"
#include "fit/fit_report.hpp"
#include "fit/fit_statistics.hpp"
#include "fit/least_squares_polish.hpp"
#include "fit/profile_band.hpp"
#include "fit/project_file.hpp"
#include "fit/synthetic_problem.hpp"
#include "fit/uncertainty.hpp"

namespace kelvarin::fit {
namespace {

using testing::kTruth;
using testing::syntheticProblem;

/// Moves every free value to the middle of its limits, away from the truth.
void startAtMiddle(FitProblem& p) {
    for (int i : p.geneOrder())
        p.parameters()[i].value = (p.parameters()[i].min + p.parameters()[i].max) / 2;
}

TEST(StrainProfile, DoubleValuesGiveTheSingleProfileForSingleValuesAndMoveSmoothlyOtherwise) {
    for (ProfileKind model : {kModelTwoGauss, kModelPearsonVII}) {
        const CandidateRow row = model == kModelTwoGauss
                                     ? CandidateRow{0, 0.0042f, 300, 150, 250, 0}
                                     : CandidateRow{0, 300, 1.5f, 200, 1.7f, 0};
        StrainProfile single, twin, nudged;
        strainProfile(row, model, 16, single);
        strainProfile(ProfileValues{row[1], row[2], row[3], row[4]}, model, 16, twin);
        for (int i = 1; i <= 16; ++i)
            EXPECT_TRUE(single.profileStrain[i] == twin.profileStrain[i])
                << static_cast<int>(model) << " " << i;
        // A step far below single precision still changes the profile.
        strainProfile(ProfileValues{row[1], row[2] * (1 + 1e-12), row[3], row[4]}, model, 16,
                      nudged);
        bool moved = false;
        for (int i = 1; i <= 16; ++i)
            moved = moved || nudged.profileStrain[i] != twin.profileStrain[i];
        EXPECT_TRUE(moved) << model;
    }
}

TEST(DifferentialEvolution, ReflectsAtTheLimits) {
    struct Case {
        double x, expected;
    };
    for (const Case c : {Case{5, 5}, Case{-1, 1}, Case{12, 8}, Case{0, 0}, Case{-30, 4.5}})
        EXPECT_EQ(reflectIntoBounds(c.x, 0, 10, 4.5), c.expected) << c.x;
}

TEST(DifferentialEvolution, FindsTheTruthTheSameForAnyThreadCountAndSaysWhichRuleEndedIt) {
#ifdef KELVARIN_SANITIZED
    GTEST_SKIP() << "a whole fit takes minutes under the sanitizers; make test runs it";
#endif
    auto problem = syntheticProblem(16);
    startAtMiddle(*problem);
    DeOptions o;
    o.population = 16;
    o.maxGenerations = 120;
    o.seed = 3;
    o.tolerance = 1e-6;
    for (DeStrategy strategy : {DeStrategy::Rand1Bin, DeStrategy::Best1Bin}) {
        o.strategy = strategy;
        o.threads = 1;
        const DeResult one = runDifferentialEvolution(*problem, o);
        o.threads = 2;
        const DeResult two = runDifferentialEvolution(*problem, o);
        ASSERT_TRUE(one.summary.usable()) << one.summary.message;
        EXPECT_EQ(one.summary.best, two.summary.best);
        EXPECT_EQ(one.summary.evaluations, two.summary.evaluations);
        EXPECT_LT(static_cast<double>(one.summary.bestError), 0.5) << one.summary.brief();
        for (int i : problem->geneOrder()) {
            const auto k = static_cast<std::size_t>(i);
            const double v = static_cast<double>(one.summary.best[k]);
            EXPECT_GE(v, static_cast<double>(problem->parameters()[i].min));
            EXPECT_LE(v, static_cast<double>(problem->parameters()[i].max));
        }
    }

    struct Stop {
        int generations;
        long evaluations;
        double tolerance;
        double budget;
        bool stopAtOnce;
        DeStop expected;
    };
    for (const Stop s : {Stop{3, 0, 1e-9, 0, false, DeStop::Generations},
                         Stop{100, 50, 1e-9, 0, false, DeStop::Evaluations},
                         Stop{100, 0, 0.5, 0, false, DeStop::Converged},
                         Stop{100000, 0, 1e-12, 0.05, false, DeStop::Time},
                         Stop{100, 0, 1e-9, 0, true, DeStop::Stopped}}) {
        o.maxGenerations = s.generations;
        o.maxEvaluations = s.evaluations;
        o.tolerance = s.tolerance;
        o.budgetSeconds = s.budget;
        o.stallGenerations = s.tolerance > 0.1 ? 2 : 100000;
        if (s.stopAtOnce) o.progress = [](int, double) { return false; };
        const DeResult r = runDifferentialEvolution(*problem, o);
        o.progress = nullptr;
        EXPECT_EQ(r.stop, s.expected) << r.summary.message;
        EXPECT_FALSE(r.summary.message.empty());
        EXPECT_TRUE(r.summary.usable());
    }
    o.tolerance = 0;
    EXPECT_EQ(runDifferentialEvolution(*problem, o).summary.termination, Termination::Failed);
}

TEST(Polish, ReachesTheTruthFromNearbyAndKeepsTheStartWhenItCannotRun) {
    auto problem = syntheticProblem(16);
    std::vector<Extended> start{0.0045L, 320, 140, 270, 9};
    const PolishResult r = polishLeastSquares(*problem, start);
    ASSERT_TRUE(r.summary.usable()) << r.summary.message;
    EXPECT_LT(r.finalCost, 1e-8 * r.startCost);
    for (std::size_t i = 0; i < kTruth.size(); ++i)
        EXPECT_NEAR(static_cast<double>(r.summary.best[i] / kTruth[i]), 1, 1e-4) << i;

    // Limits that exclude the truth: the polish ends on the limit, never beyond it.
    problem->parameters()[3].max = 240;
    problem->parameters()[3].value = 240;
    const PolishResult bounded = polishLeastSquares(*problem, start);
    ASSERT_TRUE(bounded.summary.usable()) << bounded.summary.message;
    EXPECT_LE(static_cast<double>(bounded.summary.best[3]), 240);
    EXPECT_NEAR(static_cast<double>(bounded.summary.best[3]), 240, 1e-6);

    // A start the physics rejects: the polish fails, says why and hands the start back.
    problem->parameters()[3].min = 0;
    problem->parameters()[3].max = 0;
    problem->parameters()[3].free = false;
    start[3] = 0;
    const PolishResult bad = polishLeastSquares(*problem, start);
    EXPECT_EQ(bad.summary.termination, Termination::Failed);
    EXPECT_NE(bad.summary.message.find("cannot be scored"), std::string::npos);
    EXPECT_EQ(bad.summary.best, start);
}

TEST(Uncertainty, ErrorsCoverTheTruthAndFlagLimitsAndUndeterminedParameters) {
    // Poisson noise: the truth within 2σ for most parameters over several noise seeds.
    int within = 0, total = 0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        auto problem = syntheticProblem(16, seed);
        const PolishResult r = polishLeastSquares(*problem, kTruth);
        ASSERT_TRUE(r.summary.usable()) << r.summary.message;
        const Uncertainty u = estimateUncertainty(*problem, r.summary.best);
        ASSERT_TRUE(u.valid) << u.message;
        for (const ParameterUncertainty& p : u.parameters) {
            EXPECT_GT(p.standardError, 0);
            within +=
                std::abs(p.value - static_cast<double>(kTruth[static_cast<std::size_t>(p.index)])) <
                2 * p.standardError;
            ++total;
        }
        EXPECT_NEAR(u.correlation[0][0], 1, 1e-12);
        const ProfileBand band = profileBand(*problem, r.summary.best, u, 200);
        ASSERT_EQ(band.low.size(), 16u);
        for (std::size_t k = 0; k < band.low.size(); ++k)
            EXPECT_LE(band.low[k], band.high[k]);
    }
    EXPECT_GE(within, total * 3 / 4) << within << " of " << total;

    // With four lamellae every lamella lies deeper than ρ: σ1 shapes nothing. A width whose
    // best value lies below its limit ends at that limit.
    auto problem = syntheticProblem(4);
    problem->parameters()[4].min = 9;
    std::vector<Extended> at = kTruth;
    at[4] = 9;
    const Uncertainty u = estimateUncertainty(*problem, at);
    ASSERT_TRUE(u.valid) << u.message;
    for (const ParameterUncertainty& p : u.parameters) {
        EXPECT_EQ(p.undetermined, p.index == 2) << p.index;
        EXPECT_EQ(p.atMinimum, p.index == 4) << p.index;
    }
    EXPECT_NE(u.message.find("near-singular"), std::string::npos);
}

TEST(FitStatistics, PoissonWeightsAndPointsAtOrBelowZero) {
    struct Case {
        std::vector<double> m, c;
        double chi2, r;
        int nonPositive;
    };
    const Case cases[] = {
        {{100, 400}, {100, 400}, 0, 0, 0},
        {{100, 400}, {110, 380}, 1 + 1, 100 * std::sqrt(2.0 / 500), 0},
        {{0, -4, 100}, {1, 0, 100}, 1 + 16, 100 * std::sqrt(17.0 / 116), 2},
    };
    for (const Case& c : cases) {
        const FitStatistics s = countStatistics(c.m, c.c, 1);
        EXPECT_NEAR(s.chi2, c.chi2, 1e-12);
        EXPECT_NEAR(s.weightedR, c.r, 1e-9);
        EXPECT_EQ(s.nonPositive, c.nonPositive);
        EXPECT_NEAR(s.reducedChi2, c.chi2 / (static_cast<double>(c.m.size()) - 1), 1e-12);
    }
}

TEST(FitSettings, NewKeysReadBackAndBadOnesAreRefusedWithTheirLine) {
    const std::string good =
        "[profile]\nmodel = \"2gauss\"\n[[dataset]]\nfile = \"m.dat\"\n[fit]\noptimizer = "
        "\"de\"\nstrategy = \"best1bin\"\n"
        "polish = true\nbudget_s = 2.5\ntolerance = 1e-5\nstall_generations = 200\n";
    const Project p = parseProject(good, "p.toml");
    EXPECT_EQ(p.fit.optimizer, "de");
    EXPECT_EQ(p.fit.strategy, "best1bin");
    EXPECT_TRUE(p.fit.polish);
    const Project again = parseProject(projectText(p), "again.toml");
    EXPECT_EQ(again.fit.budgetSeconds, 2.5);
    EXPECT_EQ(again.fit.tolerance, 1e-5);
    EXPECT_EQ(again.fit.stallGenerations, 200);
    EXPECT_EQ(again.fit.strategy, "best1bin");

    struct Case {
        const char* from;
        const char* to;
        const char* key;
    };
    for (const Case c :
         {Case{"tolerance = 1e-5", "tolerance = 0", "'fit.tolerance'"},
          Case{"budget_s = 2.5", "budget_s = -1", "'fit.budget_s'"},
          Case{"stall_generations = 200", "stall_generations = 0", "'fit.stall_generations'"},
          Case{"polish = true", "polish = 1", "'fit.polish'"},
          Case{"optimizer = \"de\"", "optimizer = \"sa\"", "'fit.optimizer'"},
          Case{"optimizer = \"de\"", "optimizer = \"\"", "'fit.optimizer'"},
          Case{"\"best1bin\"", "\"best2exp\"", "'fit.strategy'"}}) {
        std::string text = good;
        text.replace(text.find(c.from), std::strlen(c.from), c.to);
        try {
            parseProject(text, "bad.toml");
            ADD_FAILURE() << c.to;
        } catch (const ProjectError& e) {
            EXPECT_NE(std::string(e.what()).find(c.key), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("line "), std::string::npos) << e.what();
        }
    }
}

TEST(FitReport, SaysWhenThePolishFailedAndStaysValidJson) {
    FitReport r;
    r.project = "a \"quoted\" name.toml";
    r.table.add({"tau", "", 0.004L, 0.003L, 0.005L, 0, true});
    r.values = {0.004L};
    r.global.message = "reached the limit of 10 generations";
    r.searchStop = "generations";
    PolishResult failed;
    failed.summary.termination = Termination::Failed;
    failed.summary.message = "a residual at the start is not a finite number";
    r.polish = failed;
    r.statistics.reducedChi2 = std::nan("");
    const std::string text = reportText(r);
    EXPECT_NE(text.find("FAILED        a residual"), std::string::npos) << text;
    EXPECT_NE(text.find("result is kept"), std::string::npos);
    const std::string json = reportJson(r);
    EXPECT_NE(json.find("\"a \\\"quoted\\\" name.toml\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"reduced_chi2\": null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"succeeded\": false"), std::string::npos);
}

}  // namespace
}  // namespace kelvarin::fit

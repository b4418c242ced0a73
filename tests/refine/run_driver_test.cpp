// The refinement buttons of the calculation window on a small real job: "GO" with its captions,
// grid, progress bar and sound, its failures, no re-entry while it runs, "bufo", "butTeste",
// "New population", and what one evaluation leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <functional>
#include <memory>

#include "app/application.hpp"
#include "app/platform.hpp"
#include "refine/evaluate.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/population.hpp"
#include "results/formcalc.hpp"
#include "support/app_fixture.hpp"
#include "synthetic_job.hpp"

namespace kelvarin {
namespace {

/// A headless platform on which the test plays the user during message processing.
class PumpPlatform : public HeadlessPlatform {
public:
    void processMessages() override {
        HeadlessPlatform::processMessages();
        if (onPump) onPump();
    }
    std::function<void()> onPump;
};

class RunWindowTest : public ::testing::TestWithParam<char> {
protected:
    static constexpr int kN = 6;

    void SetUp() override {
        app = std::make_unique<Application>(platform, Locale(GetParam()));
        EngineState& e = app->engine();
        synthetic::setUpGaAs004(e, 16, -900, 100, 20);
        synthetic::makeMeasuredCurve(e, truth, 1.0e5L, 30, 3);
        RefineState& r = app->refine();
        r.nelements = kN;
        r.generator.seed(11);
        newPopulation(*app, 0);  // limits from the progress window's design texts
        for (int i = 0; i < kN; ++i)
            drawGenes(r, r.population[i], 7, 10, 0.003L, 0.005L, 50, 800, 50, 800, 50, 800);
        StringGrid& grid = app->formrefine().StringGrid1;
        grid.setRowCount(kN + 1);
        app->formrefine().visible = true;
        calc().visible = true;
    }

    std::string num(std::string text) const {
        for (char& c : text)
            if (c == '.') c = GetParam();
        return text;
    }
    Tformcalc& calc() { return app->formcalc(); }
    Tformrefine& progress() { return app->formrefine(); }

    const CandidateRow truth = {8.5f, 0.0042f, 420.0f, 250.0f, 150.0f, 0.0f};
    PumpPlatform platform;
    std::unique_ptr<Application> app;
};

TEST_P(RunWindowTest, NoGenerationEvaluatesAndReportsWithoutAVariance) {
    calc().ncycles.text = "0";
    const auto before = app->refine().population;
    calc().butGoClick();
    const auto& pop = app->refine().population;
    int best = 0;
    for (int i = 0; i < kN; ++i) {
        for (int d = 0; d < kGeneCount; ++d)
            EXPECT_EQ(pop[i][d], before[i][d]);
        EXPECT_GT(pop[i][kColError], 0);
        if (pop[i][kColError] < pop[best][kColError]) best = i;
    }
    EXPECT_EQ(progress().StringGrid1.cell(0, 1), "");  // the first pass writes no grid row
    EXPECT_EQ(progress().Label5.caption, "-----");
    EXPECT_EQ(platform.messagePumps, 0);
    EXPECT_EQ(platform.beeps, 1);
    EXPECT_TRUE(progress().visible);
    EXPECT_TRUE(calc().Button1.enabled);
    EXPECT_EQ(calc().ProgressBar1.max, 0);
    // The panel shows the error of the final evaluation, which is that of the best row.
    const std::string err = calc().Panel2.caption;
    ASSERT_EQ(err.rfind("Error=", 0), 0u) << err;
    EXPECT_EQ(static_cast<float>(app->locale().textToFloat(err.substr(6))), pop[best][kColError]);
    const Locale& loc = app->locale();
    // The best parameters, named with their units, here and in the "Best:" column.
    EXPECT_EQ(calc().Label4.caption,
              "Best: tau = " + loc.singleToText(pop[best][kColTau]) +
                  ", ro = " + loc.singleToText(pop[best][kColRo]) +
                  " \u00c5, sigma1 = " + loc.singleToText(pop[best][kColSigma1]) +
                  " \u00c5, sigma2 = " + loc.singleToText(pop[best][kColSigma2]) +
                  " \u00c5, width = " + loc.singleToText(pop[best][kColW]) + "\u2033");
    EXPECT_EQ(progress().Label14.caption, loc.singleToText(pop[best][kColTau]));
    EXPECT_EQ(progress().Label18.caption, loc.singleToText(pop[best][kColW]));
    EXPECT_FALSE(app->busy());
}

TEST_P(RunWindowTest, GenerationsFillTheGridMoveTheBarAndShowTheVariance) {
    calc().ncycles.text = "3";
    app->formrefinedata().Edit2.text = "0,5";
    bool hiddenDuringRun = false;
    platform.onPump = [&] { hiddenDuringRun = !progress().visible && app->busy(); };
    calc().butGoClick();
    EXPECT_TRUE(hiddenDuringRun);
    const auto& pop = app->refine().population;
    for (int i = 0; i < kN; ++i)
        for (int j = 0; j < kCandidateColumns; ++j)
            EXPECT_EQ(progress().StringGrid1.cell(j, i + 1), candidateText(*app, pop[i][j]));
    // Two pairs and one closing step per generation, two bar steps each.
    EXPECT_EQ(platform.messagePumps, 3 * 3);
    EXPECT_EQ(calc().ProgressBar1.max, 18);
    EXPECT_EQ(calc().ProgressBar1.position, 18);
    EXPECT_NE(progress().Label5.caption, "-----");
    EXPECT_NO_THROW(app->locale().textToFloat(progress().Label5.caption));
    EXPECT_EQ(platform.beeps, 1);
    // The final evaluation left the best candidate's curve for "Plot".
    const CurveStore& cs = app->engine().curveStore;
    EXPECT_EQ(cs.calcCount, cs.measLast);
    EXPECT_EQ(cs.calcAngle[0], -900);
}

TEST_P(RunWindowTest, BadFieldsStopGoWithTheConversionError) {
    const auto before = app->refine().population;
    calc().ncycles.text = num("1.5");
    EXPECT_THROW(calc().butGoClick(), ConversionError);
    EXPECT_FALSE(progress().visible);
    calc().ncycles.text = "2";
    app->formrefinedata().Edit2.text = "half";
    EXPECT_THROW(calc().butGoClick(), ConversionError);
    EXPECT_EQ(calc().ProgressBar1.max, 2 * kN);
    EXPECT_EQ(app->refine().population, before);
    EXPECT_FALSE(app->busy());
    EXPECT_EQ(platform.beeps, 0);

    // A population size the tables cannot hold is refused before anything changes.
    app->refine().nelements = 201;
    app->formrefinedata().Edit2.text = "0,5";
    calc().butGoClick();
    ASSERT_EQ(platform.modalMessages.size(), 1u);
    EXPECT_NE(platform.modalMessages[0].find("between 2 and 200"), std::string::npos);
}

TEST_P(RunWindowTest, NothingReentersARunningRefinement) {
    calc().ncycles.text = "2";
    int pumpsSeen = 0;
    bool allRefused = true;
    platform.onPump = [&] {
        ++pumpsSeen;
        const auto population = app->refine().population;
        const auto draws = app->refine().generator.draws();
        const int pumps = platform.messagePumps;
        // Through the dispatcher, as the event loop calls them ...
        allRefused &= !app->dispatch([&] { calc().butGoClick(); });
        allRefused &= !app->dispatch([&] { calc().Button7Click(); });
        // ... and called directly: each handler refuses on its own.
        calc().butGoClick();
        calc().Button6Click();
        calc().butTesteClick();
        calc().Button7Click();
        app->formrefinedata().Button1Click();
        app->formrefinedata().Button2Click();
        allRefused &= app->refine().population == population;
        allRefused &= app->refine().generator.draws() == draws;
        allRefused &= platform.messagePumps == pumps;
        allRefused &= app->formrefinedata().Label3.caption == "tau:";
    };
    calc().butGoClick();
    EXPECT_EQ(pumpsSeen, 2 * 3);
    EXPECT_TRUE(allRefused);
    EXPECT_EQ(platform.beeps, 1);
    EXPECT_FALSE(app->busy());
    EXPECT_TRUE(app->dispatch([&] { calc().Button7Click(); }));  // free again afterwards
}

TEST_P(RunWindowTest, ExitDuringARunStopsIt) {
    calc().ncycles.text = "50";
    platform.onPump = [&] { app->terminate(); };
    calc().butGoClick();
    EXPECT_EQ(platform.messagePumps, 1);
    EXPECT_EQ(platform.beeps, 0);
    EXPECT_FALSE(app->busy());
}

TEST_P(RunWindowTest, StopEndsAfterTheGenerationAndShowsTheBest) {
    calc().ncycles.text = "50";
    EXPECT_FALSE(calc().butStop.enabled);
    bool stopShownDuringRun = false;
    bool goDisabledDuringRun = false;
    platform.onPump = [&] {
        stopShownDuringRun |= calc().butStop.enabled;
        goDisabledDuringRun |= !calc().butGo.enabled;
        // The user presses "Stop" in the middle of the second generation's breeding.
        if (platform.messagePumps == 4) app->dispatch([&] { calc().butStopClick(); }, true);
    };
    calc().butGoClick();
    EXPECT_TRUE(stopShownDuringRun);
    EXPECT_TRUE(goDisabledDuringRun);
    EXPECT_FALSE(calc().butStop.enabled);
    EXPECT_TRUE(calc().butGo.enabled);
    EXPECT_FALSE(app->busy());
    // Two generations of three pumps each, then the run ended as if the second had been the
    // last: result panel, best parameters, the curve of the best row, the sound.
    EXPECT_EQ(platform.messagePumps, 2 * 3);
    EXPECT_EQ(platform.beeps, 1);
    EXPECT_TRUE(calc().Button1.enabled);
    const std::string err = calc().Panel2.caption;
    ASSERT_EQ(err.rfind("Error=", 0), 0u) << err;
    const auto& pop = app->refine().population;
    float best = kUnscorableError;
    for (int i = 0; i < kN; ++i)
        best = std::min(best, pop[i][kColError]);
    EXPECT_EQ(static_cast<float>(app->locale().textToFloat(err.substr(6))), best);
    EXPECT_NEAR(static_cast<double>(app->engine().errorRatio * 100), static_cast<double>(best),
                1e-4);

    // Closing the window while a run goes on asks it to stop instead; closed afterwards.
    platform.onPump = [&] {
        if (platform.messagePumps == 8) app->dispatch([&] { calc().closeRequest(); }, true);
    };
    calc().butGoClick();
    EXPECT_EQ(platform.messagePumps, 6 + 3);
    EXPECT_TRUE(calc().visible);
    calc().closeRequest();
    EXPECT_FALSE(calc().visible);
}

TEST_P(RunWindowTest, BufoEvaluatesTheTypedParametersWithRowOnesWidth) {
    RefineState& r = app->refine();
    r.population[1][kColW] = 8.5f;
    r.population[1][kColError] = 77;
    calc().txbg.text = "30";
    calc().tau.text = num("0.0041769");  // a typed value in the locale's form
    calc().Button6Click();
    EXPECT_EQ(r.population[1][kColTau], 0.0041769f);
    EXPECT_EQ(r.population[1][kColRo], 496.08999f);  // the design text, read in either locale
    EXPECT_EQ(r.population[1][kColSigma1], 830.7999f);
    EXPECT_EQ(r.population[1][kColSigma2], 646.39f);
    EXPECT_EQ(r.population[1][kColW], 8.5f);
    EXPECT_EQ(r.population[1][kColError], 77);  // not updated
    const std::string shown = calc().Label4.caption;
    ASSERT_EQ(shown.rfind("Error of the typed parameters (%): ", 0), 0u) << shown;
    const Extended e = app->locale().textToFloat(shown.substr(shown.find(": ") + 2));
    EXPECT_GT(e, 0);
    EXPECT_EQ(app->engine().background, 30);

    // A typed set that the physics cannot evaluate is reported, not shown as a number, and
    // leaves row 1 and the background as they were.
    const Candidate evaluated = r.population[1];
    calc().sigma1.text = "0";
    calc().txbg.text = "45";
    calc().Button6Click();
    ASSERT_EQ(platform.modalMessages.size(), 1u);
    EXPECT_NE(platform.modalMessages[0].find("cannot be evaluated"), std::string::npos);
    EXPECT_EQ(r.population[1], evaluated);
    EXPECT_EQ(app->engine().background, 30);
    calc().sigma1.text = "830.7999";

    // A bad field stops "bufo" before anything is stored.
    const Extended backgroundBefore = app->engine().background;
    const Candidate rowBefore = r.population[1];
    calc().txbg.text = "12";
    calc().tau.text = num("0.004");
    calc().ro.text = "deep";
    EXPECT_THROW(calc().Button6Click(), ConversionError);
    EXPECT_EQ(app->engine().background, backgroundBefore);
    EXPECT_EQ(r.population[1], rowBefore);

    // A value beyond single precision never becomes an infinite gene.
    calc().ro.text = "1e400";
    EXPECT_THROW(calc().Button6Click(), std::runtime_error);
    EXPECT_TRUE(std::isfinite(r.population[1][kColRo]));
}

TEST_P(RunWindowTest, ButTesteCrossesTwoMarkedRows) {
    RefineState& r = app->refine();
    const float w1 = r.population[1][kColW];
    const float w2 = r.population[2][kColW];
    calc().butTesteClick();
    for (int d = kColTau; d <= kColSigma2; ++d) {
        const float a = r.population[1][d];
        const float b = r.population[2][d];
        EXPECT_TRUE((a == 1 && b == 2) || (a == 2 && b == 1)) << d;
    }
    EXPECT_EQ(r.population[1][kColW], w1);
    EXPECT_EQ(r.population[2][kColW], w2);
    EXPECT_EQ(progress().StringGrid1.cell(1, 1), candidateText(*app, r.population[1][kColTau]));
    EXPECT_EQ(progress().StringGrid1.cell(0, 1), candidateText(*app, w1));
}

TEST_P(RunWindowTest, NewPopulationKeepsRowZeroAndShowsTheTable) {
    RefineState& r = app->refine();
    const Candidate row0 = r.population[0];
    calc().Button7Click();
    for (int d = 0; d < kGeneCount; ++d)
        EXPECT_EQ(r.population[kN - 1][d], row0[d]);
    EXPECT_EQ(progress().StringGrid1.cell(2, 0), candidateText(*app, row0[kColRo]));
    EXPECT_EQ(progress().StringGrid1.cell(2, 3), candidateText(*app, r.population[3][kColRo]));
}

KELVARIN_BOTH_SEPARATORS(RunWindowTest);

TEST(EvaluateCandidate, SameRowSameErrorAndTheLastRowsCurveStays) {
    auto engine = std::make_unique<EngineState>();
    synthetic::setUpGaAs004(*engine, 16, -900, 100, 10);
    const CandidateRow truth = {8.5f, 0.0042f, 420.0f, 250.0f, 150.0f, 0.0f};
    synthetic::makeMeasuredCurve(*engine, truth, 1.0e5L, 0, 0, /*exact=*/true);
    auto refine = std::make_unique<RefineState>();
    refine->population[0] = truth;
    refine->population[1] = {9.0f, 0.0035f, 300.0f, 100.0f, 400.0f, 0.0f};
    auto ws = std::make_unique<Workspace>();

    // The candidate that produced the measured curve scores (nearly) zero.
    engine->background = 0;
    const Evaluation e0 = evaluateCandidate(*engine, *refine, 0, *ws);
    ASSERT_TRUE(e0.scored) << e0.problem;
    EXPECT_LT(e0.error, 1e-9L);
    const std::vector<Extended> curve0(engine->curveStore.calcCurve.begin(),
                                       engine->curveStore.calcCurve.begin() + 100);

    const Evaluation e1 = evaluateCandidate(*engine, *refine, 1, *ws);
    EXPECT_GT(e1.error, 1);
    EXPECT_NE(engine->curveStore.calcCurve[50], curve0[50]);  // row 1's curve now

    const Evaluation again = evaluateCandidate(*engine, *refine, 0, *ws);
    EXPECT_EQ(again.error, e0.error);
    EXPECT_TRUE(std::equal(curve0.begin(), curve0.end(), engine->curveStore.calcCurve.begin()));

    // A width of zero cannot be scored: a clear reason, a finite error, the curve untouched.
    refine->population[2] = truth;
    refine->population[2][kColW] = 0;
    const Evaluation bad = evaluateCandidate(*engine, *refine, 2, *ws);
    EXPECT_FALSE(bad.scored);
    EXPECT_EQ(bad.error, kUnscorableError);
    EXPECT_FALSE(bad.problem.empty());
    EXPECT_TRUE(std::equal(curve0.begin(), curve0.end(), engine->curveStore.calcCurve.begin()));
}

}  // namespace
}  // namespace kelvarin

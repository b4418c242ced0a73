#include "engine/evaluation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>

#include "engine/engine_error.hpp"
#include "engine_fixture.hpp"

namespace kelvarin {
namespace {

using testing::setUpSilicon004;
using testing::twoGaussRow;

/// Si 0 0 4 whose "measured" curve is the computed curve of `truth`, scaled and on a background.
std::unique_ptr<EngineState> measuredState(const CandidateRow& truth) {
    auto s = std::make_unique<EngineState>();
    setUpSilicon004(*s, -1500, 300, 2);
    s->layerCount = 16;
    s->theoryChoice = kTheoryDynamical;
    s->normMode = kNormFitBackground;
    s->curveStore.measLast = 900;
    // The broadened, unscaled curve of the truth, put on a scale and a background.
    auto ws = std::make_unique<Workspace>();
    strainProfile(truth, s->profileModel, s->layerCount, ws->profile);
    layerStack(ws->profile, *s, ws->stack);
    layeredCurve(*s, ws->stack, ws->curve);
    buildKernel(truth[0], 2, 901, ws->instrumentKernel);
    broaden(ws->instrumentKernel, ws->curve.calcRaw, ws->curve.calcComputed, ws->curve.calcCurve,
            900);
    for (int i = 0; i <= 900; ++i) {
        s->curveStore.measIntensity[i] = 3 + 5e4L * ws->curve.calcCurve[i];
    }
    s->curveStore.measMax = 5e4L;
    return s;
}

TEST(EvaluateProfile, TheTrueProfileScoresZeroAndOthersMore) {
    const CandidateRow truth = twoGaussRow(12, 0.006f, 800, 300, 500);
    auto s = measuredState(truth);
    Workspace ws;
    EXPECT_NEAR(static_cast<double>(evaluateProfile(*s, truth, ws)), 0, 1e-9);
    EXPECT_NEAR(static_cast<double>(ws.scaling.background), 3, 1e-6);
    EXPECT_NEAR(static_cast<double>(ws.scaling.scaleFactor), 5e4, 1e-6);

    s->normMode = kNormFixedBackground;
    s->background = 3;
    EXPECT_NEAR(static_cast<double>(evaluateProfile(*s, truth, ws)), 0, 1e-9);
    const Extended off = evaluateProfile(*s, twoGaussRow(12, 0.005f, 800, 300, 500), ws);
    const Extended wider = evaluateProfile(*s, twoGaussRow(20, 0.006f, 800, 300, 500), ws);
    EXPECT_GT(off, 0.1);
    EXPECT_GT(wider, 0.01);
}

TEST(EvaluateProfile, WorkspacesAreIndependentAndCommitLeavesTheLastCandidate) {
    const CandidateRow a = twoGaussRow(12, 0.006f, 800, 300, 500);
    const CandidateRow b = twoGaussRow(9, 0.004f, 500, 200, 700);
    auto s = measuredState(a);
    // One after another in one workspace, and concurrently in two: bit-identical.
    Workspace serial;
    const Extended ea = evaluateProfile(*s, a, serial);
    const Extended eb = evaluateProfile(*s, b, serial);
    Workspace wa, wb;
    Extended pa = 0, pb = 0;
    std::thread ta([&] { pa = evaluateProfile(*s, a, wa); });
    std::thread tb([&] { pb = evaluateProfile(*s, b, wb); });
    ta.join();
    tb.join();
    EXPECT_EQ(pa, ea);
    EXPECT_EQ(pb, eb);
    for (int i = 0; i < serial.curve.calcComputed; ++i) {
        ASSERT_EQ(wb.curve.calcCurve[i], serial.curve.calcCurve[i]) << i;
    }

    const Extended calcMaxBefore = s->curveStore.calcMax;
    commitEvaluation(*s, wb);
    const CurveStore& cs = s->curveStore;
    EXPECT_EQ(cs.calcCount, 900);  // 901 points, the last one not scored
    EXPECT_EQ(cs.calcComputed, 901);
    EXPECT_EQ(cs.calcAngle[900], 300);
    for (int i = 0; i < 901; ++i)
        ASSERT_EQ(cs.calcCurve[i], wb.curve.calcCurve[i]);
    EXPECT_GE(cs.calcMax, calcMaxBefore);
    EXPECT_EQ(s->scaleFactor, wb.scaling.scaleFactor);
    EXPECT_EQ(s->background, wb.scaling.background);
    EXPECT_EQ(s->errorRatio * 100, std::fabs(s->errorRatio) * 100);
    for (int j = 1; j <= 16; ++j) {
        EXPECT_EQ(s->profileThickness[j], 5 * 500.0 / 16);
        EXPECT_EQ(s->profileStrain[j], wb.profile.profileStrain[j]);
    }
    // The same row again returns the same error.
    EXPECT_EQ(evaluateProfile(*s, b, serial), eb);
}

TEST(EvaluateProfile, BadCandidateIsRefusedAndTheStateKeepsItsCurve) {
    const CandidateRow good = twoGaussRow(12, 0.006f, 800, 300, 500);
    auto s = measuredState(good);
    Workspace ws;
    evaluateProfile(*s, good, ws);
    commitEvaluation(*s, ws);
    const Extended kept = s->curveStore.calcCurve[400];
    EXPECT_THROW(evaluateProfile(*s, twoGaussRow(0, 0.006f, 800, 300, 500), ws), CandidateRejected);
    EXPECT_THROW(evaluateProfile(*s, twoGaussRow(12, 0.006f, 800, 0, 500), ws), CandidateRejected);
    // Fitting scale and background to this broad a curve puts the background below 0 and
    // the tails of the scaled curve with it: no logarithm, the candidate is rejected.
    EXPECT_THROW(evaluateProfile(*s, twoGaussRow(20, 0.006f, 800, 300, 500), ws),
                 CandidateRejected);
    s->layerCount = 50;
    EXPECT_THROW(evaluateProfile(*s, good, ws), EngineError);
    EXPECT_EQ(s->curveStore.calcCurve[400], kept);
}

}  // namespace
}  // namespace kelvarin

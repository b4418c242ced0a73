// The "Start" run: a calculation job, refinement jobs in both angle modes, and refused set-ups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "engine/io/rocking_curve.hpp"
#include "engine/state.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/results_fixture.hpp"

namespace kelvarin::testing {
namespace {

class StartRunTest : public CalcTest {
protected:
    /// A measured curve shaped like a broadened Si 0 0 4 peak over -60..60 arcsec.
    std::string measuredFile(const ScratchDir& dir, double angleOffset = 0) {
        std::string text;
        for (int t = -60; t <= 60; ++t) {
            const double y = 30 + 20000 * std::exp(-(t + 2) * (t + 2) / 40.0);
            text += std::to_string(t + angleOffset) + " " + std::to_string(y) + "\n";
        }
        return dir.write("scan.dat", text);
    }
    void refinementJob(const std::string& file, bool integerAngles) {
        main().RadioGroup1.itemIndex = 1;
        main().chkInteiro.checked = integerAngles;
        main().file.text = file;
        chooseCrystal("Si", "5.4309");
        setScan("0", "0", "4", "-60", "60", "1");
    }
    std::size_t argMax(const std::vector<Extended>& v, int n) const {
        return static_cast<std::size_t>(std::max_element(v.begin(), v.begin() + n) - v.begin());
    }
};

TEST_P(StartRunTest, CalculationJobGivesTheBroadenedPerfectCrystalReflectivity) {
    siliconCalculation();
    // Whatever the angle option says, a calculation job takes its scan from the Data Entry
    // window and never reads its depth-profile file as a rocking curve.
    main().chkInteiro.checked = false;
    main().file.text = "/nonexistent/profile.dat";
    ASSERT_TRUE(start());
    ASSERT_TRUE(platform.allMessages().empty()) << platform.allMessages()[0];

    const CurveStore& cs = store();
    EXPECT_EQ(cs.scanStart, -60);
    EXPECT_EQ(cs.scanEnd, 60);
    EXPECT_EQ(cs.scanStep, 1);
    ASSERT_EQ(cs.calcCount, 121);
    EXPECT_EQ(cs.measLast, 0);
    EXPECT_EQ(cs.calcAngle[0], -60);
    EXPECT_EQ(cs.calcAngle[120], 60);

    // The perfect-crystal peak: total reflection just below 1, on the low-angle side of the
    // Bragg angle (Si 0 0 4 with Cu K-alpha1: about -1.8 arcsec).
    const std::size_t peak = argMax(cs.calcRaw, 121);
    EXPECT_LT(cs.calcAngle[peak], 0);
    EXPECT_GE(cs.calcAngle[peak], -3);
    EXPECT_GT(cs.calcRaw[peak], 0.9L);
    EXPECT_LT(cs.calcRaw[peak], 1.0L);
    EXPECT_GT(cs.calcRaw[60 - 10], cs.calcRaw[60 + 10]);

    // Broadened with the 8.5 arcsec instrument width and still a reflectivity: lower, wider,
    // positive, the same area.
    const std::size_t bpeak = argMax(cs.calcCurve, 121);
    EXPECT_LT(cs.calcCurve[bpeak], cs.calcRaw[peak]);
    EXPECT_GT(cs.calcCurve[bpeak], 0.3L);
    EXPECT_NEAR(static_cast<double>(cs.calcAngle[bpeak]), -2, 2);
    Extended rawArea = 0;
    Extended area = 0;
    for (int i = 0; i < 121; ++i) {
        rawArea += cs.calcRaw[static_cast<std::size_t>(i)];
        area += cs.calcCurve[static_cast<std::size_t>(i)];
        EXPECT_GT(cs.calcCurve[static_cast<std::size_t>(i)], 0);
    }
    EXPECT_NEAR(static_cast<double>(area / rawArea), 1.0, 0.02);

    // Window results: the scan, a 0..peak axis for the curve shown, Plot on, GO off, Start off.
    EXPECT_EQ(calc().minX.text, "-60");
    EXPECT_EQ(calc().maxX.text, "60");
    EXPECT_EQ(calc().minY.text, "0");
    EXPECT_EQ(calc().maxY.text, app->locale().floatToText(cs.calcCurve[bpeak]));
    EXPECT_FALSE(calc().Panel2.visible);
    EXPECT_FALSE(calc().Button2.enabled);
    EXPECT_TRUE(calc().Button1.enabled);
    EXPECT_FALSE(calc().butGo.enabled);
    EXPECT_EQ(app->engine().radiationRecord[kSlotLambda], static_cast<Extended>(1.540562));

    // The plot draws the whole computed curve, its peak at the top.
    ASSERT_TRUE(app->dispatch([&] { calc().Button1Click(); }));
    int lines = 0;
    int top = Tformcalc::kPlotHeight;
    for (const DrawOp& op : calc().grafico.ops())
        if (op.kind == DrawKind::LineTo) {
            ++lines;
            top = std::min(top, op.y1);
        }
    EXPECT_EQ(lines, 121);
    EXPECT_EQ(top, 0);

    // A second run overwrites the curve instead of appending to it.
    ASSERT_TRUE(start());
    EXPECT_EQ(store().calcCount, 121);
}

TEST_P(StartRunTest, CalculationJobWithACoarseStep) {
    siliconCalculation("-100", "100", "10");
    ASSERT_TRUE(start());
    ASSERT_EQ(store().calcCount, 21);
    EXPECT_EQ(store().calcAngle[20], 100);
    for (int i = 0; i < 21; ++i)
        EXPECT_LE(store().calcCurve[static_cast<std::size_t>(i)], 1);
}

TEST_P(StartRunTest, AWideInstrumentBroadensAsFarAsItsGaussianReaches) {
    // 80″ on a 1″ grid: the Gaussian reaches 179 steps to a millionth of its peak. The curve is
    // the Darwin curve (3.8″) smeared to about the quadrature sum of the two widths; a kernel cut
    // at 20 steps gave 41″.
    siliconCalculation("-600", "600", "1");
    app->formrefinedata().wmin.text = "79";
    app->formrefinedata().wmax.text = "81";
    ASSERT_TRUE(start());
    ASSERT_TRUE(platform.allMessages().empty()) << platform.allMessages()[0];
    const CurveStore& cs = store();
    const auto top = argMax(cs.calcCurve, cs.calcCount);
    const Extended half = cs.calcCurve[top] / 2;
    std::size_t lo = top, hi = top;
    while (cs.calcCurve[lo] > half)
        --lo;
    while (cs.calcCurve[hi] > half)
        ++hi;
    const auto cross = [&](std::size_t a, std::size_t b) {
        return static_cast<double>(cs.calcAngle[a] +
                                   (half - cs.calcCurve[a]) / (cs.calcCurve[b] - cs.calcCurve[a]));
    };
    const double fwhm = cross(hi - 1, hi) - cross(lo, lo + 1);
    EXPECT_GT(fwhm, 80);
    EXPECT_LT(fwhm, 82);
}

TEST_P(StartRunTest, RefinementJobWithIntegerAnglesLeavesEverythingTheSearchNeeds) {
    ScratchDir dir;
    refinementJob(measuredFile(dir), true);
    Tformrefinedata& settings = app->formrefinedata();
    settings.bg.text = "25";
    ASSERT_TRUE(start());
    ASSERT_TRUE(platform.allMessages().empty()) << platform.allMessages()[0];

    const CurveStore& cs = store();
    const EngineState& engine = app->engine();
    EXPECT_EQ(cs.measLast, 121);  // 121 pairs; the last one is repeated after them
    EXPECT_EQ(cs.measAngle[0], -60);
    EXPECT_EQ(cs.measAngle[121], 60);
    EXPECT_EQ(cs.measMax, 20030);
    EXPECT_EQ(cs.calcCount, 121);
    EXPECT_EQ(engine.radiationRecord[kSlotLambda], static_cast<Extended>(1.540562));
    EXPECT_NEAR(static_cast<double>(engine.radiationRecord[kSlotF1Real]), 0.2538, 1e-12);
    EXPECT_NEAR(static_cast<double>(engine.radiationRecord[kSlotF2Imag]), 0.3294, 1e-12);
    EXPECT_EQ(engine.latticeA, app->locale().textToFloat(num("5.4309")));
    EXPECT_EQ(engine.millerL, 4);
    EXPECT_EQ(engine.sitePositions[1][3][2], 0.25);
    EXPECT_EQ(engine.layerCount, 16);
    EXPECT_EQ(engine.theoryChoice, Theory::Dynamical);
    EXPECT_EQ(engine.profileModel, ProfileKind::TwoGauss);
    EXPECT_EQ(engine.normMode, Scaling::FixedBackground);
    EXPECT_EQ(engine.background, 25);
    EXPECT_GT(engine.scatteringCoefficients[1][1], 4.9L);
    EXPECT_EQ(app->refine().nelements, 50);
    EXPECT_EQ(app->refine().refineSettings.wLo, 7);
    EXPECT_EQ(app->refine().refineSettings.wHi, 10);

    // Scaled onto the counts by least squares with the fixed background.
    const auto peak = std::max_element(cs.calcCurve.begin(), cs.calcCurve.begin() + 121);
    EXPECT_GT(*peak, 5000);
    EXPECT_LT(*peak, 40000);
    EXPECT_EQ(calc().maxY.text, "20030");
    EXPECT_TRUE(calc().Panel2.visible);
    EXPECT_TRUE(calc().butGo.enabled);
    EXPECT_TRUE(calc().Button1.enabled);

    // Matching the top intensities puts the scale and the top into the window caption.
    settings.normtype.itemIndex = 0;
    ASSERT_TRUE(start());
    EXPECT_EQ(calc().caption.rfind(app->locale().floatToText(engine.scaleFactor) + " ", 0), 0u)
        << calc().caption;
}

TEST_P(StartRunTest, RefinementJobResamplesAMeasuredCurveOntoWholeSeconds) {
    ScratchDir dir;
    refinementJob(measuredFile(dir, 0.4), false);
    data().step.text = "not used";  // the step is one second of arc in this mode
    ASSERT_TRUE(start());
    ASSERT_TRUE(platform.allMessages().empty()) << platform.allMessages()[0];
    const CurveStore& cs = store();
    EXPECT_EQ(cs.scanStep, 1);
    EXPECT_EQ(cs.scanStart, -59);
    EXPECT_EQ(cs.measAngle[0], -58);
    EXPECT_EQ(cs.measLast, 119);  // interpolated at -59..60
    EXPECT_EQ(cs.scanEnd, 61);
    EXPECT_EQ(cs.calcCount, 121);  // one point more than the measured curve
    EXPECT_EQ(calc().minX.text, "-59");
    EXPECT_EQ(calc().maxX.text, "61");
}

TEST_P(StartRunTest, RefinementJobReadsAnInstrumentScanConvertedOnceIntoTheTwoColumnCurve) {
    // A coupled Si 0 0 4 scan as the diffractometer writes it: ω in degrees, 1″ steps, counts
    // per second over 2 s per point; its peak 3″ above the Bragg angle and a weaker one 20″ off.
    const double thetaB = substrateBragg(Crystal::fromCatalogue("Si"), 0, 0, 4, 1.540562).thetaB;
    std::string text = "HR-XRDScan\nScanAxis, Omega/2Theta\nFirstAngle, " +
                       std::to_string(thetaB - 57.0 / 3600) +
                       "\nStepWidth, 0.000277777777778\nTimePerStep, 2\nNrOfData, 121\n"
                       "ScanData\n";
    for (int i = 0; i < 121; ++i)
        text += std::to_string(15 + 10000 * std::exp(-(i - 60) * (i - 60) / 40.0) +
                               300 * std::exp(-(i - 80) * (i - 80) / 10.0)) +
                "\n";
    for (const bool integerAngles : {false, true}) {
        SCOPED_TRACE(integerAngles);
        ScratchDir dir;
        refinementJob(dir.write("scan.x00", text), integerAngles);
        ASSERT_TRUE(start());
        ASSERT_TRUE(platform.allMessages().empty()) << platform.allMessages()[0];
        const CurveStore& cs = store();
        EXPECT_GE(cs.measLast, 118);
        int top = 0;
        for (int i = 0; i <= cs.measLast; ++i)
            if (cs.measIntensity[i] > cs.measIntensity[top]) top = i;
        // The zero is the substrate peak, and the counts are counts per second times 2 s.
        EXPECT_NEAR(static_cast<double>(cs.measAngle[top]), 0, 1.0);
        EXPECT_NEAR(static_cast<double>(cs.measMax), 2 * 10015.0, 1.0);
    }
}

TEST_P(StartRunTest, AScanOf40000PointsFits) {
    siliconCalculation("-20000", "19999", "1");
    ASSERT_TRUE(start());
    EXPECT_EQ(store().calcCount, kCurveCapacity);
    siliconCalculation("-20000", "20000", "1");
    start();
    ASSERT_EQ(platform.modalMessages.size(), 1u);
    EXPECT_NE(platform.modalMessages[0].find("40001 points"), std::string::npos);
}

struct BadSetup {
    const char* what;
    std::function<void(StartRunTest&, Tformmain&, Tformdata&, Tformrefinedata&)> change;
    bool conversion;       ///< shown by the standard exception display, else the error window
    const char* expected;  ///< part of the message
};

TEST_P(StartRunTest, RefusedSetupsSayWhyAndLoseNothing) {
    ScratchDir dir;
    const std::string good = measuredFile(dir);
    const std::string empty = dir.write("empty.dat", "");
    const std::string onePair = dir.write("one.dat", "10 5\n");
    const std::string words = dir.write("words.dat", "10 5\n11 six\n");
    const std::string falling = dir.write("falling.dat", "10 5\n12 6\n11 7\n");
    const std::string missing = dir.file("missing.dat");

    using M = Tformmain;
    using D = Tformdata;
    using S = Tformrefinedata;
    const BadSetup cases[] = {
        {"h no number", [](auto&, M&, D& d, S&) { d.h.text = "x"; }, true, "'x'"},
        {"k empty", [](auto&, M&, D& d, S&) { d.k.text = ""; }, true, "k"},
        {"l decimal", [](auto&, M&, D& d, S&) { d.l.text = "4.5"; }, true, "4.5"},
        {"first angle empty", [](auto&, M&, D& d, S&) { d.thetai.text = ""; }, true, "Initial"},
        {"last angle text", [](auto&, M&, D& d, S&) { d.thetaf.text = "end"; }, true, "end"},
        {"step text", [](auto&, M&, D& d, S&) { d.step.text = "one"; }, true, "one"},
        {"wavelength text",
         [](auto&, M&, D& d, S&) {
             d.radiacao.select(6);
             d.wl.text = "short";
         },
         true, "short"},
        {"reversed scan", [](auto&, M&, D& d, S&) { d.thetai.text = "70"; }, false,
         "lies below the initial angle"},
        {"zero step", [](auto&, M&, D& d, S&) { d.step.text = "0"; }, false, "positive"},
        {"negative step", [](auto&, M&, D& d, S&) { d.step.text = "-2"; }, false, "positive"},
        {"too many points",
         [](auto&, M&, D& d, S&) {
             d.thetai.text = "-30000";
             d.thetaf.text = "30000";
         },
         false, "at most 40000"},
        {"no crystal", [](auto&, M&, D& d, S&) { d.Label1.caption = "0"; }, false, "No crystal"},
        {"no radiation", [](auto&, M&, D& d, S&) { d.radiacao.select(-1); }, false, "No radiation"},
        {"forbidden reflection", [](auto&, M&, D& d, S&) { d.l.text = "2"; }, false, "forbidden"},
        {"unreachable reflection", [](auto&, M&, D& d, S&) { d.l.text = "40"; }, false,
         "cannot be reached"},
        {"no reflection", [](auto&, M&, D& d, S&) { d.l.text = "0"; }, false, "0 0 0"},
        {"reflection in the surface plane",
         [](auto&, M&, D& d, S&) {
             d.h.text = "4";
             d.l.text = "0";
         },
         false, "The surface is (001), its normal [001]; the reflection 4 0 0 cannot be measured"},
        {"negative width",
         [](auto&, M&, D&, S& s) {
             s.wmin.text = "-10";
             s.wmax.text = "-7";
         },
         false, "width"},
        {"layers out of range", [](auto&, M& m, D&, S&) { m.nlayers.text = "0"; }, false, "layers"},
        {"file missing", [&](auto&, M& m, D&, S&) { m.file.text = missing; }, false, "missing.dat"},
        {"file empty", [&](auto&, M& m, D&, S&) { m.file.text = empty; }, false, "is empty"},
        {"one pair", [&](auto&, M& m, D&, S&) { m.file.text = onePair; }, false, "only one"},
        {"text in file", [&](auto&, M& m, D&, S&) { m.file.text = words; }, false, "'six'"},
        {"falling angles", [&](auto&, M& m, D&, S&) { m.file.text = falling; }, false,
         "does not increase"},
    };
    for (const BadSetup& bad : cases) {
        SCOPED_TRACE(bad.what);
        // A good refinement set-up and run first.
        app = std::make_unique<Application>(platform, Locale(sep()));
        platform.clearMessages();
        refinementJob(good, true);
        ASSERT_TRUE(start());
        ASSERT_TRUE(platform.allMessages().empty());
        calc().Button2.enabled = true;
        calc().Button1.enabled = false;
        const CurveStore before = store();

        bad.change(*this, main(), data(), app->formrefinedata());
        start();
        const auto& messages = bad.conversion ? platform.exceptionMessages : platform.modalMessages;
        ASSERT_EQ(platform.allMessages().size(), 1u);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find(bad.expected), std::string::npos) << messages[0];

        // Nothing already loaded is lost; "Start" can be pressed again.
        EXPECT_EQ(store().measLast, before.measLast);
        EXPECT_EQ(store().measAngle, before.measAngle);
        EXPECT_EQ(store().measIntensity, before.measIntensity);
        EXPECT_EQ(store().calcCurve, before.calcCurve);
        EXPECT_EQ(store().calcCount, before.calcCount);
        EXPECT_EQ(store().scanStart, before.scanStart);
        EXPECT_TRUE(calc().Button2.enabled);
        EXPECT_FALSE(calc().Button1.enabled);
    }
}

KELVARIN_BOTH_SEPARATORS(StartRunTest);

}  // namespace
}  // namespace kelvarin::testing

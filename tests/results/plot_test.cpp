// The plot on the drawing area: where each point lands, the logarithmic axis, range errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "results/formerro.hpp"
#include "results/plot_axes.hpp"
#include "results/results_fixture.hpp"

namespace kelvarin::testing {
namespace {

class PlotTest : public CalcTest {
protected:
    /// A refinement's curves: measured and computed values at the angles 0..10, one per second.
    void refinementCurves() {
        main().RadioGroup1.itemIndex = 1;
        calc().setShownCurve(Tformcalc::ShownCurve::Refinement);
        CurveStore& cs = store();
        cs.scanStart = 0;
        cs.scanEnd = 10;
        cs.scanStep = 1;
        for (int i = 0; i <= 11; ++i) {
            const auto u = static_cast<std::size_t>(std::min(i, 10));
            cs.measAngle[static_cast<std::size_t>(i)] = static_cast<Extended>(u);
            cs.measIntensity[static_cast<std::size_t>(i)] = 10 + 100 * static_cast<Extended>(u);
            cs.calcCurve[static_cast<std::size_t>(i)] = 10 + 90 * static_cast<Extended>(u);
        }
        cs.measLast = 11;  // eleven points and the repeated last one
        cs.calcCount = 10;
        setRanges("0", "10", "0", "1010");
    }
    void setRanges(const std::string& x0, const std::string& x1, const std::string& y0,
                   const std::string& y1) {
        calc().minX.text = num(x0);
        calc().maxX.text = num(x1);
        calc().minY.text = num(y0);
        calc().maxY.text = num(y1);
    }
    std::vector<DrawOp> opsOf(DrawKind kind) const {
        std::vector<DrawOp> out;
        for (const DrawOp& op : app->formcalc().grafico.ops())
            if (op.kind == kind) out.push_back(op);
        return out;
    }
    bool plot() {
        return app->dispatch([&] { calc().Button1Click(); });
    }
};

TEST_P(PlotTest, PointsLandWhereTheRangesPutThem) {
    refinementCurves();
    ASSERT_TRUE(plot());
    const int W = Tformcalc::kPlotWidth;
    const int H = Tformcalc::kPlotHeight;

    const auto rects = opsOf(DrawKind::Rectangle);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0], (DrawOp{DrawKind::Rectangle, 0, 0, W, H, Colour::Black, Colour::White}));

    // Measured points: circles of radius 2, red on white, the first at px 0, the last at px W.
    const auto circles = opsOf(DrawKind::Ellipse);
    ASSERT_EQ(circles.size(), 11u);
    EXPECT_EQ(circles[0].x1 + 2, 0);
    EXPECT_EQ(circles[0].pen, Colour::Red);
    EXPECT_EQ(circles[0].brush, Colour::White);
    EXPECT_EQ(circles[10].x1 + 2, W);
    // 1010 counts at the top of a 0..1010 axis, 10 counts a hundredth of the way up.
    EXPECT_EQ(circles[10].y1 + 2, 0);
    EXPECT_EQ(circles[0].y1 + 2, H - 3);  // floor(10 / (1010/353))
    EXPECT_EQ(circles[5].x1 + 2, 320);    // floor(5 / (10/641))

    // Computed curve: a black polyline from the bottom-left corner through points 0..9.
    const auto moves = opsOf(DrawKind::MoveTo);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].x1, 0);
    EXPECT_EQ(moves[0].y1, H);
    const auto lines = opsOf(DrawKind::LineTo);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].x1, 0);
    EXPECT_EQ(lines[0].pen, Colour::Black);
    EXPECT_EQ(lines[9].x1, 576);  // floor(9 / (10/641))
    EXPECT_EQ(lines[9].y1, H - static_cast<int>(820 / (1010.0 / H)));

    EXPECT_TRUE(calc().Panel2.visible);
    EXPECT_TRUE(calc().Panel1.visible && calc().grafico.visible);
    EXPECT_TRUE(calc().Button4.visible && calc().Button5.visible);
    EXPECT_FALSE(calc().Button1.enabled);
    // The axes: ticks with their numbers outside the frame, titles with units; no pixel rows in
    // the status line.
    EXPECT_EQ(calc().Label4.caption, "");
    std::vector<std::string> texts;
    for (const DrawOp& op : opsOf(DrawKind::Text))
        texts.push_back(op.text);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Angle (seconds of arc)"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Intensity (counts)"), texts.end());
    for (const char* tick : {"0", "2", "10", "1000"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), tick), texts.end()) << tick;
    for (const DrawOp& tick : opsOf(DrawKind::Segment))
        EXPECT_TRUE(tick.y1 >= H || tick.x1 < 0) << "a tick inside the frame";
}

TEST_P(PlotTest, PointsOutsideTheRangeAreLeftOutOfThePolyline) {
    refinementCurves();
    setRanges("2", "5", "0", "1010");
    ASSERT_TRUE(plot());
    const auto lines = opsOf(DrawKind::LineTo);
    ASSERT_EQ(lines.size(), 4u);  // angles 2, 3, 4, 5
    EXPECT_EQ(lines[0].x1, 0);
    EXPECT_EQ(lines[0].x2, 0);  // from the starting corner
    EXPECT_EQ(lines[0].y2, Tformcalc::kPlotHeight);
    EXPECT_EQ(lines[3].x1, Tformcalc::kPlotWidth);
}

TEST_P(PlotTest, LogAxisBottomIsOneDecadeUnlessMinYIsAbove1) {
    refinementCurves();
    const int H = Tformcalc::kPlotHeight;
    calc().ckLog.checked = true;
    // minY = 0: the axis runs from log 1 (10 counts) to log 1010; the first point (10) sits on
    // the bottom edge.
    ASSERT_TRUE(plot());
    EXPECT_EQ(opsOf(DrawKind::Ellipse)[0].y1 + 2, H);
    EXPECT_EQ(opsOf(DrawKind::LineTo)[0].y1, H);
    EXPECT_EQ(opsOf(DrawKind::Ellipse)[10].y1 + 2, 0);

    // minY = 100: the bottom is log 2; 110 counts lie a little above it.
    setRanges("0", "10", "100", "1010");
    ASSERT_TRUE(plot());
    const double scale = (std::log10(1010.0) - 2) / H;
    EXPECT_EQ(opsOf(DrawKind::Ellipse)[1].y1 + 2,
              H - static_cast<int>(std::floor((std::log10(110.0) - 2) / scale)));

    // A computed value of 0 stays on the bottom edge instead of falling to minus infinity.
    store().calcCurve[3] = 0;
    ASSERT_TRUE(plot());
    EXPECT_EQ(opsOf(DrawKind::LineTo)[3].y1, H);
}

TEST_P(PlotTest, RangeOutsideTheScanShowsTheErrorAndKeepsTheDrawing) {
    refinementCurves();
    ASSERT_TRUE(plot());
    const auto before = calc().grafico.ops();
    app->formerro().Label1.caption = "some other message";
    setRanges("-1", "10", "0", "1010");
    plot();
    setRanges("0", "11", "0", "1010");
    plot();
    ASSERT_EQ(platform.modalMessages.size(), 2u);
    EXPECT_EQ(platform.modalMessages[0], "New x range is outside the calculated interval");
    EXPECT_EQ(platform.modalMessages[1], "New x range is outside the calculated interval");
    EXPECT_EQ(calc().grafico.ops(), before);

    // Ranges the mapping cannot use, and ranges that are no numbers.
    setRanges("5", "5", "0", "1010");
    plot();
    setRanges("0", "10", "7", "7");
    plot();
    calc().ckLog.checked = true;
    setRanges("0", "10", "0", "0");
    plot();
    EXPECT_EQ(platform.modalMessages.size(), 5u);
    calc().maxX.text = "ten";
    EXPECT_FALSE(plot());
    ASSERT_EQ(platform.exceptionMessages.size(), 1u);
    EXPECT_NE(platform.exceptionMessages[0].find("ten"), std::string::npos);
    EXPECT_EQ(calc().grafico.ops(), before);
}

TEST_P(PlotTest, CalculationJobDrawsTheComputedCurveAtItsOwnAngles) {
    main().RadioGroup1.itemIndex = 0;
    calc().setShownCurve(Tformcalc::ShownCurve::PerfectCrystal);
    CurveStore& cs = store();
    cs.scanStart = -5;
    cs.scanEnd = 5;
    cs.scanStep = 5;
    cs.measLast = 0;  // nothing measured
    for (int i = 0; i < 3; ++i) {
        cs.calcAngle[static_cast<std::size_t>(i)] = -5 + 5 * i;
        cs.calcCurve[static_cast<std::size_t>(i)] = i == 1 ? 0.9L : 0.1L;
    }
    cs.calcCount = 3;
    setRanges("-5", "5", "0", "0.9");
    calc().Panel2.visible = false;
    ASSERT_TRUE(plot());
    EXPECT_TRUE(opsOf(DrawKind::Ellipse).empty());
    EXPECT_FALSE(calc().Panel2.visible);
    const auto lines = opsOf(DrawKind::LineTo);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].x1, 0);
    EXPECT_EQ(lines[1].x1, 320);
    EXPECT_EQ(lines[1].y1, 0);
    EXPECT_EQ(lines[2].x1, Tformcalc::kPlotWidth);

    // A reflectivity on a logarithmic axis: the axis reaches six decades below the top.
    calc().ckLog.checked = true;
    ASSERT_TRUE(plot());
    const double scale = 6.0 / Tformcalc::kPlotHeight;
    EXPECT_EQ(opsOf(DrawKind::LineTo)[0].y1,
              Tformcalc::kPlotHeight -
                  static_cast<int>(std::floor((std::log10(0.1) - (std::log10(0.9) - 6)) / scale)));
}

TEST_P(PlotTest, ReversedRangesAreRefusedAndANewSizeRedrawsThePlot) {
    refinementCurves();
    for (auto [x0, x1, y0, y1, named] :
         {std::tuple{"10", "0", "0", "1010", "X range: the first angle (10)"},
          std::tuple{"0", "10", "1010", "0", "Y range: the bottom (1010)"}}) {
        setRanges(x0, x1, y0, y1);
        platform.clearMessages();
        EXPECT_TRUE(plot());
        ASSERT_EQ(platform.modalMessages.size(), 1u);
        EXPECT_EQ(platform.modalMessages[0].find(num(named)), 0u) << platform.modalMessages[0];
    }
    // A plot made, the window grows: the same plot fills the new area.
    setRanges("0", "10", "0", "1010");
    ASSERT_TRUE(plot());
    calc().resizePlot(1282, 706);
    EXPECT_EQ(opsOf(DrawKind::Rectangle)[0].x2, 1282);
    EXPECT_EQ(opsOf(DrawKind::Ellipse)[10].x1 + 2, 1282);
    EXPECT_EQ(opsOf(DrawKind::Ellipse)[0].y1 + 2, 706 - 6);  // floor(10 / (1010/706))
}

TEST(PlotAxes, TicksAreRoundValuesInsideTheRange) {
    const struct {
        double low, high;
        int target;
        std::vector<double> ticks;
    } rows[] = {{0, 10, 5, {0, 2, 4, 6, 8, 10}},
                {-3000, 600, 6, {-3000, -2000, -1000, 0}},
                {-3000, 600, 8, {-3000, -2500, -2000, -1500, -1000, -500, 0, 500}},
                {0, 0.7535, 4, {0, 0.2, 0.4, 0.6}},
                {1, 5, 2, {2, 4}},
                {5, 5, 4, {}}};
    for (const auto& row : rows) {
        const std::vector<double> ticks = tickValues(row.low, row.high, row.target);
        ASSERT_EQ(ticks.size(), row.ticks.size()) << row.low << ".." << row.high;
        for (std::size_t i = 0; i < ticks.size(); ++i)
            EXPECT_NEAR(ticks[i], row.ticks[i], 1e-9);
    }
}

KELVARIN_BOTH_SEPARATORS(PlotTest);

}  // namespace
}  // namespace kelvarin::testing

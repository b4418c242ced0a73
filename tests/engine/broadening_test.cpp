#include "engine/broadening.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "engine/engine_error.hpp"

namespace kelvarin {
namespace {

TEST(BuildKernel, GaussianOfTheGivenFullWidthAtHalfMaximum) {
    InstrumentKernel k;
    buildKernel(10, 5, 1000, k);
    ASSERT_EQ(k.size(), 42);
    EXPECT_NEAR(static_cast<double>(k[20]), 1.5642656765496601 / 10, 1e-17);
    // x = ±5″ is half of the 10″ FWHM away: half the peak height.
    EXPECT_NEAR(static_cast<double>(k[19] / k[20]), 0.5, 1e-15);
    EXPECT_NEAR(static_cast<double>(k[21] / k[20]), 0.5, 1e-15);
    EXPECT_EQ(k[18], k[22]);
    // Not normalised: Σ K·step ≈ 1.5642656765496601·√(π/(4 ln 2)) ≈ 1.6652.
    Extended sum = 0;
    for (Extended v : k.weights)
        sum += v * 5;
    EXPECT_NEAR(static_cast<double>(sum),
                1.5642656765496601 * std::sqrt(std::numbers::pi / (4 * std::log(2.0))), 1e-5);

    // Steps above 2206″ once overflowed a 32-bit x²; the weights must still fall with |x|.
    buildKernel(20000, 3000, 1000, k);
    EXPECT_NEAR(static_cast<double>(k[41] / k[20]),
                std::exp(-4 * std::log(2.0) * std::pow(21 * 3000.0 / 20000, 2)), 1e-12);
    for (int j = 21; j < 42; ++j)
        EXPECT_LT(k[j], k[j - 1]) << j;

    for (Extended w : {0.0L, -3.0L, static_cast<Extended>(NAN)}) {
        EXPECT_THROW(buildKernel(w, 1, 100, k), EngineError) << static_cast<double>(w);
    }
    EXPECT_THROW(buildKernel(10, 0, 100, k), EngineError);
}

TEST(BuildKernel, ReachesWhereTheGaussianHasFallenToAMillionthButNotBeyondTheScan) {
    struct Case {
        Extended w, step;
        int points;
        int centre;  ///< expected reach in steps
    };
    const Case cases[] = {
        {8.5L, 1, 3601, 20},    // today's 42 weights already hold the Gaussian
        {17.9L, 2, 3601, 20},   // the widest width the 42 weights hold on a 2″ grid
        {80, 1, 1201, 179},     // 2.2322·80 = 178.6 steps
        {80, 0.05L, 900, 900},  // cut at the scan
        {1e30L, 1, 100, 100},   // no overflow, cut at the scan
        {80, 1, 5, 20},         // never below −20..+21
    };
    InstrumentKernel k;
    for (const Case& c : cases) {
        buildKernel(c.w, c.step, c.points, k);
        EXPECT_EQ(k.centre, c.centre) << static_cast<double>(c.w);
        EXPECT_EQ(k.size(), 2 * c.centre + 2) << static_cast<double>(c.w);
        const Extended peak = k[k.centre];
        if (c.centre > 20 && c.centre < c.points) {
            EXPECT_LE(k[0], 1e-6L * peak);  // the last weight is below a millionth
            EXPECT_GT(k[1], 1e-6L * peak);  // and the one before it above
        }
    }
}

TEST(Broaden, SumsOverTheWindowAndTreatsUncomputedPointsAsZero) {
    InstrumentKernel k;
    buildKernel(1, 1, 100, k);
    for (int j = 0; j < 42; ++j)
        k[j] = j + 1;  // distinct weights show which terms were used
    std::vector<Extended> raw(100, 0);
    for (int i = 0; i < 100; ++i)
        raw[i] = 1000 + i + 1 / (3.0L + i);  // stale values beyond the computed points
    // Every point, the first one included, equals the plain sum in the same order, to the last
    // bit, for windows that lie inside, across and beyond the computed points.
    for (const auto& [computed, measLast] :
         {std::pair{30, 40}, {100, 99}, {64, 80}, {23, 99}, {47, 45}, {1, 10}, {0, 5}, {30, 0}}) {
        std::vector<Extended> curve(100, -1);
        broaden(k, raw, computed, curve, measLast);
        for (int i = measLast + 1; i < 100; ++i)
            ASSERT_EQ(curve[i], -1) << "above measLast " << measLast;
        for (int i = 0; i <= measLast; ++i) {
            Extended expected = 0;
            for (int j = 0; j < 42; ++j) {
                const int index = i + 20 - j;
                if (index >= 0 && index < computed) expected += k[j] * raw[index];
            }
            ASSERT_EQ(curve[i], expected) << i << " of " << computed << "/" << measLast;
        }
    }
    // measLast at the end of the arrays: no read or write outside them.
    std::vector<Extended> small(50, 0);
    broaden(k, std::span<const Extended>(raw).first(50), 50, small, 49);
    EXPECT_GT(small[49], 0);
}

TEST(Broaden, WideKernelsOnLongScansGoThroughTheFourierTransformAndAgree) {
    // 12000 points under a kernel of some 12000 weights: too many terms to sum one by one.
    const int n = 12000;
    std::vector<Extended> raw(n);
    for (int i = 0; i < n; ++i) {
        const double eta = (i - 7000) / 40.0;
        raw[i] = 1 / (1 + eta * eta) + 1e-6L;  // a peak with long tails, like a Darwin curve
    }
    InstrumentKernel k;
    buildKernel(2600, 1, n, k);
    ASSERT_GT(static_cast<long long>(n) * k.size(), 1LL << 27);
    std::vector<Extended> curve(n), mean(n);
    broaden(k, raw, n, curve, n - 1);
    broadenReflectivity(k, raw, mean);
    for (int i = 0; i < n; i += 397) {
        Extended sum = 0, weight = 0;
        for (int j = std::max(0, i + k.centre - n + 1); j <= std::min(k.size() - 1, i + k.centre);
             ++j) {
            sum += k[j] * raw[static_cast<std::size_t>(i + k.centre - j)];
            weight += k[j];
        }
        ASSERT_NEAR(static_cast<double>(curve[i] / sum), 1, 1e-9) << i;
        ASSERT_NEAR(static_cast<double>(mean[i] / (sum / weight)), 1, 1e-9) << i;
    }
    // A mean over the points of the scan: a constant stays that constant out to the edges.
    std::vector<Extended> flat(n, 0.25L);
    broadenReflectivity(k, flat, mean);
    for (int i = 0; i < n; i += 7)
        ASSERT_NEAR(static_cast<double>(mean[i]), 0.25, 1e-12) << i;
}

TEST(Normalise, EachModeRecoversScaleAndBackgroundOfASyntheticMeasurement) {
    const std::vector<Extended> base = {0.001L, 0.02L, 0.5L, 0.9L, 0.3L, 0.01L};
    std::vector<Extended> meas;
    for (Extended c : base)
        meas.push_back(40 + 2000 * c);

    std::vector<Extended> curve = base;
    NormaliseResult r = normalise(kNormFitBackground, curve, meas, 1840, 0);
    EXPECT_NEAR(static_cast<double>(r.scaleFactor), 2000, 1e-9);
    EXPECT_NEAR(static_cast<double>(r.background), 40, 1e-9);
    for (std::size_t i = 0; i < base.size(); ++i)
        EXPECT_NEAR(static_cast<double>(curve[i]), static_cast<double>(meas[i]), 1e-9);

    curve = base;
    r = normalise(kNormFixedBackground, curve, meas, 1840, 40);
    EXPECT_NEAR(static_cast<double>(r.scaleFactor), 2000, 1e-9);
    EXPECT_EQ(r.background, 40);

    curve = base;
    r = normalise(kNormTopIntensities, curve, meas, 1840, 40);
    EXPECT_EQ(r.top, 0.9L);
    EXPECT_NEAR(static_cast<double>(r.scaleFactor), 1800 / 0.9, 1e-9);
    EXPECT_NEAR(static_cast<double>(curve[3]), 1840, 1e-9);

    curve = base;
    r = normalise(static_cast<Scaling>(7), curve, meas, 1840, 40);  // unknown mode: unchanged
    EXPECT_FALSE(r.applied);
    EXPECT_EQ(curve, base);
}

TEST(Normalise, RefusesCurvesThatGiveNoScale) {
    const std::vector<Extended> meas(5, 100);
    struct Case {
        const char* what;
        int mode;
        std::vector<Extended> curve;
        const char* message;
    };
    const Case cases[] = {
        {"empty scan", 0, {}, "no computed point"},
        {"all zero, mode 0", 0, std::vector<Extended>(5, 0), "zero everywhere"},
        {"all zero, mode 1", 1, std::vector<Extended>(5, 0), "zero everywhere"},
        {"constant, mode 2", 2, std::vector<Extended>(5, 0.25L), "constant"},
    };
    for (const Case& c : cases) {
        std::vector<Extended> curve = c.curve;
        try {
            normalise(static_cast<Scaling>(c.mode), std::span<Extended>(curve),
                      std::span<const Extended>(meas).first(curve.size()), 100, 0);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.what << ": " << e.what();
            EXPECT_EQ(curve, c.curve) << c.what;
        }
    }
}

TEST(LogError, ScoresTheLogarithmicDistanceAndStaysFinite) {
    const std::vector<Extended> meas = {10, 100, 1000, 0, 100};
    std::vector<Extended> calc = {10, 100, 1000, 55, 100};
    ErrorResult r = logError(calc, meas);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.pointsUsed, 4);  // the point without counts is left out

    calc = {100, 100, 1000, 55, 10};  // a decade off at two points
    r = logError(calc, meas);
    EXPECT_NEAR(static_cast<double>(r.ratio), 2.0 / (1 + 2 + 3 + 2), 1e-15);
    EXPECT_NEAR(static_cast<double>(r.error), 25, 1e-12);

    // Measured intensities below 1 make Σ log10 m negative; the error is its absolute value.
    r = logError(std::vector<Extended>{0.01L}, std::vector<Extended>{0.1L});
    EXPECT_NEAR(static_cast<double>(r.ratio), -1, 1e-15);
    EXPECT_NEAR(static_cast<double>(r.error), 100, 1e-12);

    EXPECT_THROW(logError(std::vector<Extended>{5, -1}, std::vector<Extended>{5, 7}), EngineError);
    EXPECT_THROW(logError(std::vector<Extended>{5, 0}, std::vector<Extended>{5, 7}), EngineError);
    EXPECT_THROW(logError(std::vector<Extended>{5, 7}, std::vector<Extended>{1, 1}), EngineError);
    EXPECT_THROW(logError(std::vector<Extended>{5, 7}, std::vector<Extended>{0, 0}), EngineError);
    EXPECT_THROW(logError(std::vector<Extended>{}, std::vector<Extended>{}), EngineError);

    // Kept measured logarithms give the same results, and follow a measured curve that changes.
    MeasuredLogs logs;
    std::vector<Extended> m2 = meas;
    for (int round = 0; round < 3; ++round) {
        const ErrorResult plain = logError(calc, m2);
        const ErrorResult kept = logError(calc, m2, logs);
        EXPECT_EQ(kept.ratio, plain.ratio) << round;
        EXPECT_EQ(kept.error, plain.error) << round;
        EXPECT_EQ(kept.pointsUsed, plain.pointsUsed) << round;
        m2[round] *= 3;
        m2[3] = round + 1;
    }
}

TEST(CurveSteps, ProgramWideCurveOfAStartRun) {
    EngineState s;
    CurveStore& cs = s.curveStore;
    cs.scanStep = 1;
    cs.beginCalculation();
    for (int i = 0; i < 60; ++i)
        cs.addCalculatedPoint(i, i == 30 ? 1 : 0.001L);
    EXPECT_EQ(cs.calcCount, 60);
    EXPECT_EQ(cs.calcMax, 1);
    for (int i = 0; i < 60; ++i)
        cs.measIntensity[i] = 5 + 1000 * cs.calcRaw[i];
    cs.measLast = 59;
    cs.measMax = 1005;
    s.background = 5;
    buildKernel(s, 4);
    broaden(s);
    // A single spike spreads into the kernel's shape: 4″ FWHM, half height 2″ away; the first
    // point is broadened like every other (it once kept its raw value, ten times its neighbour).
    // Near the start of the scan the kernel reaches fewer points, so the curve rises into it.
    EXPECT_LT(cs.calcCurve[0], cs.calcCurve[1]);
    EXPECT_GT(cs.calcCurve[0], 0.5L * cs.calcCurve[1]);
    EXPECT_NEAR(static_cast<double>((cs.calcCurve[32] - cs.calcCurve[10]) /
                                    (cs.calcCurve[30] - cs.calcCurve[10])),
                0.5, 1e-3);
    const NormaliseResult r = normalise(s, kNormFixedBackground);
    EXPECT_TRUE(r.applied);
    EXPECT_EQ(s.scaleFactor, r.scaleFactor);
    EXPECT_EQ(s.background, r.background);
    const Extended e = logError(s);
    EXPECT_TRUE(std::isfinite(e));
    EXPECT_EQ(s.errorRatio * 100, e * (s.errorRatio < 0 ? -1 : 1));

    // The arrays hold kCurveCapacity points; one more is refused.
    cs.beginCalculation();
    for (int i = 0; i < kCurveCapacity; ++i)
        cs.addCalculatedPoint(i, 0);
    EXPECT_THROW(cs.addCalculatedPoint(0, 0), EngineError);
}

}  // namespace
}  // namespace kelvarin

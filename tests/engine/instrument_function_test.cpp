#include "engine/instrument_function.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <vector>

#include "engine/broadening.hpp"
#include "engine/engine_error.hpp"
#include "engine/numio.hpp"

namespace kelvarin {
namespace {

Extended sumOf(const InstrumentKernel& k) {
    Extended s = 0;
    for (Extended v : k.weights)
        s += v;
    return s;
}

TEST(InstrumentKernel, PseudoVoigtSharesItsWidthReachesItsTailsAndIsNormalised) {
    const InstrumentFunction pv{InstrumentShape::PseudoVoigt, nullptr};
    struct Case {
        Extended width, eta, step;
        int points;
    };
    const Case cases[] = {
        {10, 0, 1, 3000},         // Gaussian only: reaches 2.23 widths
        {10, 1, 1, 3000},         // Lorentzian only: cut at the scan
        {50, 0.3L, 2.5L, 40000},  // the omitted tails decide the reach
        {8, 0.05L, 0.5L, 40000},
    };
    InstrumentKernel k;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<double>(c.eta));
        buildInstrumentKernel(pv, {c.width, c.eta, 0}, c.step, c.points, k);
        EXPECT_NEAR(static_cast<double>(sumOf(k)), 1, 1e-15);
        // Half the peak at ±w/2 whatever the mixture (a grid point lies there in every case).
        const int half = static_cast<int>(std::lround(c.width / 2 / c.step));
        EXPECT_NEAR(static_cast<double>(k[k.centre + half] / k[k.centre]), 0.5, 1e-12);
        EXPECT_EQ(k[k.centre - half], k[k.centre + half]);
        // Reach: the Lorentzian tails left out weigh at most 1e-4, or the kernel spans the scan.
        const Extended x = k.centre * c.step;
        const Extended omitted =
            c.eta * 2 / std::numbers::pi_v<Extended> * std::atan(c.width / 2 / x);
        EXPECT_TRUE(omitted <= kOmittedTailWeight * 1.0001 || k.centre == c.points)
            << static_cast<double>(omitted) << " at " << k.centre;
        EXPECT_GE(x + c.step,
                  std::min<Extended>(kKernelReachInWidths * c.width, c.points * c.step));
    }
    // η = 0 is the windows' Gaussian, normalised.
    InstrumentKernel g;
    buildKernel(12, 1, 3000, g);
    buildInstrumentKernel(pv, {12, 0, 0}, 1, 3000, k);
    ASSERT_EQ(k.centre, g.centre);
    const Extended scale = k[k.centre] / g[g.centre];
    for (int j = 0; j < k.size(); ++j)
        EXPECT_NEAR(static_cast<double>(k[j] / scale), static_cast<double>(g[j]), 1e-15);
}

TEST(InstrumentKernel, RefusesValuesNoInstrumentHas) {
    const InstrumentFunction pv{InstrumentShape::PseudoVoigt, nullptr};
    InstrumentKernel k;
    const InstrumentValues bad[] = {{0, 0.3L, 0},    {-5, 0.3L, 0},  {NAN, 0.3L, 0},
                                    {10, -0.01L, 0}, {10, 1.01L, 0}, {10, NAN, 0}};
    for (const InstrumentValues& v : bad)
        EXPECT_THROW(buildInstrumentKernel(pv, v, 1, 100, k), CandidateRejected)
            << static_cast<double>(v.width) << " " << static_cast<double>(v.lorentzFraction);
    EXPECT_THROW(buildInstrumentKernel(pv, {10, 0.3L, 0}, 0, 100, k), EngineError);
    // A measured shape without its curve is a set-up fault, not a bad candidate.
    EXPECT_THROW(buildInstrumentKernel({InstrumentShape::Measured, nullptr}, {}, 1, 100, k),
                 EngineError);
}

TEST(InstrumentBroadening, WideKernelsGoThroughTheTransformAndAgreeWithTheSum) {
    // (bench_engine BM_PseudoVoigtBroadening times the same work.)
    const int n = 3000;
    std::vector<Extended> raw(n), direct(n), fast(n);
    for (int i = 0; i < n; ++i) {
        const double t = (i - 2000) * 1.0;
        raw[i] = 1e-6 + std::exp(-t * t / 50) + 1e-3 / (1 + (t + 700) * (t + 700) / 1e4);
    }
    InstrumentKernel k;
    buildInstrumentKernel({InstrumentShape::PseudoVoigt, nullptr}, {40, 0.3L, 0}, 1, n, k);
    ASSERT_EQ(k.centre, n);  // the Lorentzian reaches over the whole scan
    broaden(k, raw, n, direct, n - 1, 1LL << 40);
    broaden(k, raw, n, fast, n - 1, kWideDirectTerms);
    Extended top = 0;
    for (Extended v : direct)
        top = std::max(top, v);
    for (int i = 0; i < n; ++i)
        ASSERT_NEAR(static_cast<double>(fast[i]), static_cast<double>(direct[i]),
                    1e-13 * static_cast<double>(top))
            << i;
}

TEST(InstrumentBroadening, AnglesOfAnySpacingGiveTheMeanTheEquallySpacedKernelGives) {
    // A curve known everywhere: sampled on an equal 0.5″ grid, and at unequal angles (steps of
    // 0.5″ and 1.5″ over the peak, a 40″ gap in the tail) that lie on that grid.
    const auto curveAt = [](double t) { return 1e-3 + std::exp(-(t - 300) * (t - 300) / 400); };
    std::vector<Extended> grid, gridRaw, unequal, unequalRaw;
    for (int k = 0; k <= 1600; ++k) {
        grid.push_back(0.5L * k);
        gridRaw.push_back(curveAt(0.5 * k));
    }
    for (int k = 0; k <= 1600; k += (k > 1200 && k < 1280) ? 80 : (k % 3 == 0 ? 1 : 3)) {
        unequal.push_back(0.5L * k);
        unequalRaw.push_back(curveAt(0.5 * k));
    }
    for (const InstrumentValues& v : {InstrumentValues{20, 0, 0}, InstrumentValues{20, 0.5L, 0}}) {
        SCOPED_TRACE(static_cast<double>(v.lorentzFraction));
        const InstrumentFunction f{
            v.lorentzFraction > 0 ? InstrumentShape::PseudoVoigt : InstrumentShape::Gaussian,
            nullptr};
        InstrumentKernel k;
        buildInstrumentKernel(f, v, 0.5L, static_cast<int>(grid.size()), k);
        std::vector<Extended> onGrid(grid.size()), atGrid(grid.size());
        std::vector<Extended> atUnequal(unequal.size());
        broadenReflectivity(k, gridRaw, onGrid, kWideDirectTerms);
        // Equal steps given as angles: the same mean.
        broadenAtAngles(f, v, grid, gridRaw, atGrid);
        for (std::size_t i = 0; i < grid.size(); ++i)
            ASSERT_NEAR(static_cast<double>(atGrid[i] / onGrid[i]), 1, 1e-12) << i;
        // Unequal steps: the same curve (taken as straight between measured points, which a gap
        // in its flat tail leaves as it is).
        broadenAtAngles(f, v, unequal, unequalRaw, atUnequal);
        for (std::size_t i = 0; i < unequal.size(); ++i) {
            const auto g = static_cast<std::size_t>(unequal[i] * 2);
            EXPECT_NEAR(static_cast<double>(atUnequal[i] / onGrid[g]), 1, 1e-2) << unequal[i];
        }
    }
}

TEST(ResolutionCurve, CentredOnItsPeakNormalisedAndCheckedNamingTheFile) {
    const ResolutionCurve r = makeResolutionCurve({10, 12, 14, 16, 18}, {0, 1, 3, 1, 0}, "res.txt");
    EXPECT_EQ(r.offset.front(), -4);
    EXPECT_EQ(r.offset.back(), 4);
    EXPECT_NEAR(r.at(0), 3.0 / 10, 1e-15);  // area 2·(0.5 + 2 + 2 + 0.5) = 10
    EXPECT_NEAR(r.at(-1), 2.0 / 10, 1e-15);
    EXPECT_EQ(r.at(4.5), 0);
    // Its kernel on a 1″ grid: unit sum, highest at the centre.
    const InstrumentFunction f{InstrumentShape::Measured,
                               std::make_shared<const ResolutionCurve>(r)};
    InstrumentKernel k;
    buildInstrumentKernel(f, {}, 1, 100, k);
    EXPECT_EQ(k.centre, 4);
    EXPECT_NEAR(static_cast<double>(sumOf(k)), 1, 1e-15);
    EXPECT_EQ(*std::max_element(k.weights.begin(), k.weights.end()), k[k.centre]);

    struct Bad {
        std::vector<double> x, y;
        const char* expected;
    };
    const Bad bad[] = {
        {{0, 1}, {1, 1}, "three points"},   {{0, 2, 1}, {1, 2, 1}, "increase"},
        {{0, 1, 2}, {1, -2, 1}, "point 2"}, {{0, 1, 2}, {0, 0, 0}, "above 0"},
        {{0, 1, NAN}, {1, 1, 1}, "finite"},
    };
    for (const Bad& b : bad) {
        try {
            makeResolutionCurve(b.x, b.y, "res.txt");
            ADD_FAILURE() << b.expected;
        } catch (const DataFileError& e) {
            EXPECT_NE(std::string(e.what()).find("res.txt"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(b.expected), std::string::npos) << e.what();
        }
    }
    // From a file: two columns of offsets, peak moved to 0.
    const auto path = std::filesystem::temp_directory_path() / "kelvarin-resolution-test.txt";
    {
        std::ofstream out(path);
        out << "# offset intensity\n";
        for (int i = 0; i < 21; ++i)
            out << (i - 8) * 1.5 << " " << std::exp(-(i - 10) * (i - 10) / 8.0) << "\n";
    }
    const ResolutionCurve fromFile = readResolutionCurve(path.string());
    std::filesystem::remove(path);
    EXPECT_EQ(fromFile.offset.size(), 21u);
    EXPECT_EQ(fromFile.offset[10], 0);
}

}  // namespace
}  // namespace kelvarin

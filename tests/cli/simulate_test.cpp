// Simulated curves against the same curves computed through the windows and the engine.
#include "cli/simulate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <numeric>

#include "cli/cli_fixture.hpp"
#include "cli/window_road.hpp"
#include "engine/evaluation.hpp"
#include "engine/layered.hpp"
#include "engine/sample.hpp"

namespace kelvarin::cli::testing {
namespace {

SimulationRequest gaAs004(double first, double last, double step) {
    SimulationRequest r;
    r.crystal = "GaAs";
    r.hkl = {0, 0, 4};
    r.radiation = 4;
    r.scanStart = first;
    r.scanEnd = last;
    r.scanStep = step;
    return r;
}

using SimulateTest = TempDirTest;

TEST_F(SimulateTest, PerfectCrystalIsTheStartRunsCurveToTheLastBit) {
    write("profile.dat", "100 0.1\n");
    WindowRoad road;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    road.calculationToStart("profile.dat", -400, 300, 2);
    std::filesystem::current_path(cwd);

    SimulationRequest r = gaAs004(-400, 300, 2);
    r.width = 8.5L;
    const SimulationResult sim = simulate(r);
    const CurveStore& cs = road.app.engine().curveStore;
    ASSERT_EQ(static_cast<int>(sim.raw.size()), cs.calcCount);
    ASSERT_EQ(sim.broadened.size(), sim.raw.size());
    for (std::size_t i = 0; i < sim.raw.size(); ++i) {
        ASSERT_EQ(sim.angle[i], cs.calcAngle[i]) << i;
        ASSERT_EQ(sim.raw[i], cs.calcRaw[i]) << "angle " << sim.angle[i];
        ASSERT_EQ(sim.broadened[i], cs.calcCurve[i]) << "angle " << sim.angle[i];
    }
}

class LayeredSimulateTest : public TempDirTest, public ::testing::WithParamInterface<int> {};

TEST_P(LayeredSimulateTest, ModelStackIsTheRefinementsLayeredCurve) {
    const int theory = GetParam();
    std::string measured;
    for (int a = -700; a <= 200; a += 2)
        measured += std::to_string(a) + " 100\n";
    write("measured.dat", measured);
    WindowRoad road;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    road.refinementToStart("measured.dat", theory, 10, 1);
    std::filesystem::current_path(cwd);

    const CandidateRow row{8.5f, 0.0042f, 300.0f, 150.0f, 250.0f, 0.0f};
    Workspace ws;
    ws.layeredPath = LayeredPath::Reference;
    evaluateProfile(road.app.engine(), row, ws);
    Workspace fast;
    fast.layeredPath = LayeredPath::Fast;
    evaluateProfile(road.app.engine(), row, fast);

    SimulationRequest r = gaAs004(-700, 200, 2);
    r.theory = static_cast<Theory>(theory);
    r.structure = SimulationRequest::Structure::Model;
    r.layers = 16;
    r.params = {row[1], row[2], row[3], row[4]};
    const SimulationResult sim = simulate(r);
    ASSERT_EQ(static_cast<int>(sim.raw.size()), ws.curve.calcComputed);
    for (std::size_t i = 0; i < sim.raw.size(); ++i) {
        // The reference arithmetic to the last bit; the refinement's vectorised loop to 1e-9.
        ASSERT_EQ(sim.raw[i], ws.curve.calcRaw[i]) << "angle " << sim.angle[i];
        ASSERT_NEAR(static_cast<double>(fast.curve.calcRaw[i] / sim.raw[i]), 1.0, 1e-9)
            << "angle " << sim.angle[i];
    }

    // The same lamellae written as a profile file (strain in percent, surface first) give the
    // same curve to the precision of the file's single-precision numbers.
    std::string profile;
    for (int j = ws.profile.layerCount; j >= 1; --j)
        profile += std::to_string(ws.profile.thickness) + " " +
                   std::to_string(
                       static_cast<double>(ws.profile.strain[static_cast<std::size_t>(j)]) * 100) +
                   "\n";
    write("stack.dat", profile);
    r.structure = SimulationRequest::Structure::Profile;
    r.profile = readProfileFile((dir / "stack.dat").string());
    ASSERT_EQ(r.profile.size(), 16u);
    const SimulationResult fromFile = simulate(r);
    for (std::size_t i = 0; i < sim.raw.size(); ++i)
        ASSERT_NEAR(static_cast<double>(fromFile.raw[i]), static_cast<double>(sim.raw[i]),
                    1e-4 * static_cast<double>(sim.raw[i]) + 1e-12)
            << "angle " << sim.angle[i];
}

INSTANTIATE_TEST_SUITE_P(Theories, LayeredSimulateTest,
                         ::testing::Values(kTheoryKinematical, kTheoryDynamical));

TEST(Simulate, ProfileFileKeepsEachLamellasThickness) {
    // A thick strained lamella at the surface shows its peak; the same lamella buried under a
    // thin unstrained one gives nearly the same curve, and swapping thicknesses changes it.
    SimulationRequest r = gaAs004(-1200, 200, 4);
    r.structure = SimulationRequest::Structure::Profile;
    r.profile = {{2000, 0.3}, {10, 0.0}};
    const SimulationResult thickOnTop = simulate(r);
    r.profile = {{10, 0.3}, {2000, 0.0}};
    const SimulationResult thinOnTop = simulate(r);
    auto peakNear = [](const SimulationResult& s, double from, double to) {
        double best = 0;
        for (std::size_t i = 0; i < s.angle.size(); ++i)
            if (s.angle[i] >= from && s.angle[i] <= to)
                best = std::max(best, static_cast<double>(s.raw[i]));
        return best;
    };
    // 0.3 % strain puts the layer peak several hundred seconds below the substrate.
    EXPECT_GT(peakNear(thickOnTop, -900, -200), 20 * peakNear(thinOnTop, -900, -200));
}

TEST(Simulate, FirstProfileLamellaIsTheSurface) {
    // A 1000 Å lamella at 2 % reflects near −2640″, far from a 2 µm lamella at 0.5 %. At the
    // surface its peak is as strong as alone; buried under the 2 µm of GaAs its beams cross
    // them twice and lose about a quarter to absorption. Either physics, either end.
    for (const PhysicsModel model : {PhysicsModel::Classic, PhysicsModel::Full}) {
        auto area = [model](std::vector<ProfileLayer> profile) {
            SimulationRequest r = gaAs004(-3500, -1900, 4);
            r.structure = SimulationRequest::Structure::Profile;
            r.physics.model = model;
            r.profile = std::move(profile);
            const SimulationResult s = simulate(r);
            return std::accumulate(s.raw.begin(), s.raw.end(), 0.0);
        };
        const double alone = area({{1000, 2, 1}});
        EXPECT_NEAR(area({{1000, 2, 1}, {20000, 0.5, 1}}) / alone, 1, 0.02);
        const double buried = area({{20000, 0.5, 1}, {1000, 2, 1}}) / alone;
        EXPECT_GT(buried, 0.6);
        EXPECT_LT(buried, 0.9);
    }
}

TEST(Simulate, FractionalScanCoversEveryAngleFromStartToEnd) {
    EXPECT_EQ(simulationPointCount(-1, 1, 0.05), 41);
    EXPECT_EQ(simulationPointCount(0, 0.3, 0.1), 4);  // 0.3/0.1 is 2.9999999999999996
    EXPECT_EQ(simulationPointCount(5, 5, 1), 1);
    EXPECT_THROW(simulationPointCount(1, 0, 1), SimulationError);
    EXPECT_THROW(simulationPointCount(0, 1, 0), SimulationError);
    EXPECT_THROW(simulationPointCount(0, 1e9, 1e-3), SimulationError);

    SimulationRequest r = gaAs004(-10, 10, 0.05);
    r.width = 4;
    const SimulationResult s = simulate(r);
    ASSERT_EQ(s.angle.size(), 401u);
    EXPECT_DOUBLE_EQ(s.angle[1], -9.95);
    EXPECT_DOUBLE_EQ(s.angle.back(), 10);
    // Finely sampled, the 4" Gaussian is resolved: the broadened peak is lower and wider but
    // keeps the area of the raw one over the scan to within the tails.
    const auto peak = std::max_element(s.raw.begin(), s.raw.end());
    const auto peakB = std::max_element(s.broadened.begin(), s.broadened.end());
    EXPECT_LT(*peakB, *peak);
    const Extended area = std::accumulate(s.raw.begin(), s.raw.end(), Extended(0));
    const Extended areaB = std::accumulate(s.broadened.begin(), s.broadened.end(), Extended(0));
    EXPECT_NEAR(static_cast<double>(areaB / area), 1.0, 0.05);
}

TEST(Simulate, ANarrowInstrumentLeavesTheCurveAsItIs) {
    SimulationRequest r = gaAs004(-50, 50, 1);
    r.width = 0.01L;
    const SimulationResult s = simulate(r);
    for (std::size_t i = 0; i < s.raw.size(); ++i)
        ASSERT_NEAR(static_cast<double>(s.broadened[i] / s.raw[i]), 1.0, 1e-15);
}

TEST(Simulate, InstrumentFunctionsAverageTheReflectivityAndTheLorentzianLiftsTheTails) {
    SimulationRequest r = gaAs004(-300, 300, 1);
    r.width = 20;
    const SimulationResult gauss = simulate(r);
    r.instrument.shape = InstrumentShape::PseudoVoigt;
    r.lorentzFraction = 0;
    const SimulationResult pv0 = simulate(r);
    r.lorentzFraction = 0.5L;
    const SimulationResult pv = simulate(r);
    std::vector<double> x, y;
    for (int i = -40; i <= 40; ++i) {
        x.push_back(i);
        y.push_back(std::exp(-i * i / 150.0));
    }
    r.instrument = {InstrumentShape::Measured,
                    std::make_shared<const ResolutionCurve>(makeResolutionCurve(x, y, "res.txt"))};
    r.width.reset();  // a measured curve has its own width
    const SimulationResult measured = simulate(r);
    const Extended top = *std::max_element(gauss.raw.begin(), gauss.raw.end());
    for (const SimulationResult* s : {&gauss, &pv0, &pv, &measured}) {
        ASSERT_EQ(s->broadened.size(), s->raw.size());
        for (Extended v : s->broadened)
            ASSERT_TRUE(v > 0 && v < top) << static_cast<double>(v);
    }
    // η = 0 is the Gaussian (cut one step apart); η = 1/2 carries far more into the tails (150″
    // is 7.5 widths out).
    for (std::size_t i = 0; i < gauss.raw.size(); ++i)
        ASSERT_NEAR(static_cast<double>(pv0.broadened[i] / gauss.broadened[i]), 1, 1e-5) << i;
    EXPECT_GT(pv.broadened[450], 3 * gauss.broadened[450]);
    r.instrument.shape = InstrumentShape::PseudoVoigt;
    EXPECT_THROW(simulate(r), SimulationError);  // a pseudo-Voigt needs its width
}

/// The reflectivity of a damaged lamella stack by the two-beam recursion as the textbooks write
/// it (Takagi–Taupin solution for each homogeneous lamella, a thick substrate below), in
/// std::complex<long double>. A damage factor f multiplies the lamella's hkl structure factor:
/// its deviation parameter and absorption term divide by f, its thickness parameter grows by f.
/// Only the undamaged slab constants come from the engine.
long double textbookReflectivity(const LayeredConstants& c, const std::vector<double>& damage,
                                 double thetaArcsec) {
    using C = std::complex<long double>;
    const long double theta = thetaArcsec * std::numbers::pi_v<long double> / (180.0L * 3600);
    const auto deviation = [&](const SlabConstants& s, long double f) {
        const long double eta =
            (theta + s.strainShift) * s.etaRoot * s.etaSin2Theta / (s.etaDenominator * f);
        return C(eta, s.g / f) / C(1, s.kappa);
    };
    // Thick substrate: the root X = x ± √(x² − 1) that reflects less than everything.
    const C x0 = deviation(c.slab[0], 1);
    const C r0 = std::sqrt(x0 * x0 - 1.0L);
    C X = std::abs(x0 + r0) < std::abs(x0 - r0) ? x0 + r0 : x0 - r0;
    for (int i = 1; i <= c.layerCount; ++i) {
        const long double f = damage[static_cast<std::size_t>(c.layerCount - i)];
        const SlabConstants& s = c.slab[static_cast<std::size_t>(i)];
        const C x = deviation(s, f);
        const C T = C(s.T.real(), s.T.imag()) * f;
        const C r = std::sqrt(x * x - 1.0L);
        const C s1 = (X - x + r) * std::exp(C(0, -1) * T * r);
        const C s2 = (X - x - r) * std::exp(C(0, 1) * T * r);
        X = x + r * (s1 + s2) / (s1 - s2);
    }
    return std::norm(X);
}

TEST(Simulate, ADamageColumnAgreesWithAnIndependentTwoBeamRecursion) {
    SimulationRequest r = gaAs004(-2500, 400, 3.5);
    r.structure = SimulationRequest::Structure::Profile;
    r.profile = {{300, 0.5, 0.6}, {500, 1.0, 0.8}, {400, 0.3, 0.95}, {200, 0.1, 1}};
    const SimulationResult s = simulate(r);
    // The same stack, undamaged, for the slab constants.
    EngineState state;
    storeSetup(buildSetup(Crystal::fromCatalogue("GaAs"), Reflection{0, 0, 4, Radiation{4, 0}}),
               state);
    Sample sample;
    std::vector<double> damage;
    for (const ProfileLayer& l : r.profile) {
        sample.lamellae.push_back({l.thicknessAngstrom, l.strainPercent / 100, 1});
        damage.push_back(l.damage);
    }
    LayerStack stack;
    layerStack(sample, state, stack);
    LayeredConstants constants;
    prepareLayered(state, stack, constants);
    ASSERT_EQ(constants.layerCount, 4);
    double worst = 0;
    for (std::size_t i = 0; i < s.angle.size(); ++i) {
        const long double expected = textbookReflectivity(constants, damage, s.angle[i]);
        worst = std::max(worst, static_cast<double>(std::fabs(s.raw[i] / expected - 1)));
    }
    EXPECT_LT(worst, 1e-6);
    std::printf("damaged stack against the textbook recursion: worst relative difference %.3g\n",
                worst);
    // The check has teeth: without the damage the curve differs far beyond that.
    const std::vector<double> none(4, 1.0);
    EXPECT_GT(std::fabs(static_cast<double>(
                  s.raw[100] / textbookReflectivity(constants, none, s.angle[100]) - 1)),
              1e-2);
}

TEST(Simulate, RefusesWhatThePhysicsCannotCompute) {
    SimulationRequest r = gaAs004(-10, 10, 1);
    r.crystal = "Xx";
    EXPECT_THROW(simulate(r), SimulationError);
    r = gaAs004(-10, 10, 1);
    r.crystal = "Si";
    r.hkl = {0, 0, 2};  // forbidden in the diamond structure
    EXPECT_THROW(simulate(r), SimulationError);
    r = gaAs004(-10, 10, 1);
    r.structure = SimulationRequest::Structure::Model;
    r.params = {0.004f, 300.0f, 0.0f, 250.0f};  // a half-width of zero
    EXPECT_THROW(simulate(r), SimulationError);
    r = gaAs004(-10, 10, 1);
    r.radiation = 6;
    r.synchrotronWavelength = 99;  // beyond any dispersion table and any reflection
    EXPECT_THROW(simulate(r), SimulationError);
}

TEST_F(SimulateTest, ProfileFilesAreChecked) {
    EXPECT_THROW(readProfileFile((dir / "none.dat").string()), SimulationError);
    write("odd.dat", "100 0.1 200\n");
    EXPECT_THROW(readProfileFile((dir / "odd.dat").string()), SimulationError);
    write("word.dat", "100 abc\n");
    EXPECT_THROW(readProfileFile((dir / "word.dat").string()), SimulationError);
    write("empty.dat", "\n");
    EXPECT_THROW(readProfileFile((dir / "empty.dat").string()), SimulationError);
    write("collapse.dat", "100 -100\n");
    EXPECT_THROW(readProfileFile((dir / "collapse.dat").string()), SimulationError);
    std::string many;
    for (int i = 0; i < kMaxLayers + 1; ++i)
        many += "10 0.1\n";
    write("many.dat", many);
    EXPECT_THROW(readProfileFile((dir / "many.dat").string()), SimulationError);
    // A third number on every line is the lamella's damage factor, refused outside (0, 1].
    for (const char* bad : {"100 0.25 1\n50 -0.5 0\n", "100 0.25 1.5\n"}) {
        write("damage.dat", bad);
        EXPECT_THROW(readProfileFile((dir / "damage.dat").string()), SimulationError) << bad;
    }
    write("damage.dat", "100 0.25 0.5\n50 -0.5 1\n");
    const auto damaged = readProfileFile((dir / "damage.dat").string());
    ASSERT_EQ(damaged.size(), 2u);
    EXPECT_EQ(damaged[0].damage, 0.5);
    EXPECT_EQ(damaged[1].damage, 1);
    write("ok.dat", "100 0.25\n50 -0.5\n");
    const auto layers = readProfileFile((dir / "ok.dat").string());
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[1].thicknessAngstrom, 50);
    EXPECT_EQ(layers[1].strainPercent, -0.5);
    EXPECT_EQ(layers[1].damage, 1);
}

TEST(CountCurve, ScalesWithoutNoiseAndDrawsPoissonCountsFromASeed) {
    const std::vector<Extended> curve{0.5L, 1.0L, 0.25L};
    const auto exact = countCurve(curve, {1000, 30, std::nullopt});
    EXPECT_EQ(exact, (std::vector<double>{530, 1030, 280}));

    // Small means (multiplication of uniforms) and large ones (rejection) alike.
    for (double mean : {3.0, 50.0, 5000.0}) {
        const std::vector<Extended> flat(20000, 1.0L);
        const auto counts = countCurve(flat, {mean, 0, 7});
        double sum = 0, squares = 0;
        for (double c : counts) {
            ASSERT_EQ(c, std::floor(c));
            ASSERT_GE(c, 0);
            sum += c;
        }
        const double m = sum / counts.size();
        for (double c : counts)
            squares += (c - m) * (c - m);
        const double variance = squares / (counts.size() - 1);
        EXPECT_NEAR(m, mean, 4 * std::sqrt(mean / counts.size())) << mean;
        EXPECT_NEAR(variance / mean, 1.0, 0.05) << mean;
        EXPECT_EQ(countCurve(flat, {mean, 0, 7}), counts) << "same seed, same counts";
        EXPECT_NE(countCurve(flat, {mean, 0, 8}), counts);
    }
    EXPECT_THROW(countCurve(std::vector<Extended>(3, 0.0L), {10, 0, 1}), SimulationError);
}

TEST(SimulationText, WritesGeneralNumbersWithAPoint) {
    SimulationResult s;
    s.angle = {-0.05, 12};
    s.raw = {0.123456789012345L, 1e-12L};
    EXPECT_EQ(simulationText(s), "-0.05 0.123456789\n12 1e-12\n");
    s.broadened = {0.5L, 0.25L};
    EXPECT_EQ(simulationText(s), "-0.05 0.123456789 0.5\n12 1e-12 0.25\n");
    const std::vector<double> counts{31, 1e6};
    EXPECT_EQ(simulationText(s, &counts), "-0.05 31\n12 1000000\n");
}

}  // namespace
}  // namespace kelvarin::cli::testing

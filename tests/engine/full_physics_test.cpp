// The full calculation against an independent two-beam solution written here from the
// fundamental equations: in each slab the two wave fields of exact wave vectors K0 = k0 + kδn,
// Kh = K0 + h (δ from the quadratic (2δγ0 − χ0)(α + 2δγh − χ0) = C²χhχh̄), the physical
// amplitude ratio Dh/D0 carried through each lamella by its two modes and continuous at every
// interface, and the reflectivity |Dh/D0|²·|γh|/γ0 at the surface. It shares only the
// scattering factors (the program's tables) with the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "engine/engine_error.hpp"
#include "engine/layered.hpp"
#include "engine/layered_simd.hpp"
#include "engine/physics.hpp"
#include "engine/sample.hpp"

namespace kelvarin {
namespace {

using Cd = std::complex<double>;
constexpr double kArcsec = 3.14159265358979323846 / 648000;

/// One slab of the independent solution: reciprocal vector (1/Å; x along the surface in the
/// beam direction, z along the outward normal), susceptibilities, thickness (Å).
struct Medium {
    double hx = 0, hz = 0;
    Cd chi0, chih;
    double thickness = 0;
};

struct Case {
    const char* crystal;
    int h, k, l;
};

/// Susceptibilities at the spacing of a slab strained by ε, from the program's scattering
/// tables, in the convention exp(−2πi·K·r) (absorption: Im χ < 0). χh̄ = χh for these
/// reflections (all phases whole multiples of π).
struct Crystal2 {
    Setup setup;
    double lambda = 0, a = 0, c = 0;

    explicit Crystal2(const Case& cs)
        : setup(buildSetup(Crystal::fromCatalogue(cs.crystal),
                           Reflection{static_cast<Extended>(cs.h), static_cast<Extended>(cs.k),
                                      static_cast<Extended>(cs.l), Radiation{4, 0}})) {
        lambda = static_cast<double>(setup.dispersion.lambda);
        a = static_cast<double>(setup.crystal.a);
        c = static_cast<double>(setup.crystal.c);
    }

    double f(int site, double s, bool forward) const {
        const CoefficientTables& t = setup.tables;
        const int base = site == 1 ? 0 : 6;
        return static_cast<double>(formFactor(t[base + 1], t[base + 2], t[base + 3], t[base + 4],
                                              t[base + 5], t[base + 6], forward ? 0 : s));
    }

    Medium medium(const Case& cs, double eps, double thickness, int exitSign) const {
        const DispersionValues& d = setup.dispersion;
        Medium m;
        m.hx = exitSign * std::hypot(cs.h / a, cs.k / a);
        m.hz = std::abs(cs.l) / c / (1 + eps);
        const double s = std::hypot(m.hx, m.hz) / 2;
        const double volume = a * a * c * (1 + eps);
        const double Gamma = kElectronRadius * lambda * lambda / (3.14159265358979323846 * volume);
        const StructureFactor F =
            structureFactor(f(1, s, false), f(2, s, false), d.f1Real, d.f1Imag, d.f2Real, d.f2Imag,
                            setup.crystal.sites, cs.h, cs.k, cs.l);
        const double f0 = 4 * (f(1, 0, true) + static_cast<double>(d.f1Real)) +
                          4 * (f(2, 0, true) + static_cast<double>(d.f2Real));
        m.chi0 = -Gamma * Cd(f0, static_cast<double>(F.F0i));
        m.chih = -Gamma * Cd(static_cast<double>(F.Fhr), static_cast<double>(F.Fhi));
        m.thickness = thickness;
        return m;
    }
};

/// Reflectivity at incidence ω (radians) with polarisation factor C of media[0] (substrate)
/// under media[1..] (deepest first).
double independentReflectivity(double lambda, double omega, double C,
                               const std::vector<Medium>& media) {
    const double k = 1 / lambda;
    const double g0 = std::sin(omega);
    Cd X;
    double ghTop = 0;
    for (std::size_t j = 0; j < media.size(); ++j) {
        const Medium& m = media[j];
        const double Kx = k * std::cos(omega) + m.hx;
        const double Kz = -k * std::sin(omega) + m.hz;
        const double alpha = (Kx * Kx + Kz * Kz - k * k) / (k * k);
        const double gh = -Kz / k;
        ghTop = gh;
        const Cd A = 4 * g0 * gh;
        const Cd B = 2.0 * (g0 * (alpha - m.chi0) - gh * m.chi0);
        const Cd Cc = m.chi0 * (m.chi0 - alpha) - C * C * m.chih * m.chih;
        const Cd root = std::sqrt(B * B - 4.0 * A * Cc);
        const Cd d1 = (-B + root) / (2.0 * A);
        const Cd d2 = (-B - root) / (2.0 * A);
        const Cd r1 = (2.0 * d1 * g0 - m.chi0) / (C * m.chih);
        const Cd r2 = (2.0 * d2 * g0 - m.chi0) / (C * m.chih);
        if (j == 0) {
            // The semi-infinite substrate keeps the mode that decays with depth.
            X = d1.imag() < 0 ? r1 : r2;
            continue;
        }
        Cd a1 = (r2 - X) / (r2 - r1);
        Cd a2 = (X - r1) / (r2 - r1);
        const Cd twoPiIkt(0, 2 * 3.14159265358979323846 * k * m.thickness);
        a1 *= std::exp(twoPiIkt * d1);
        a2 *= std::exp(twoPiIkt * d2);
        X = (r1 * a1 + r2 * a2) / (a1 + a2);
    }
    return std::norm(X) * std::fabs(ghTop) / g0;
}

/// The engine's full curve of a substrate under one lamella (none when thickness is 0).
struct Engine {
    EngineState state;
    LayeredConstants constants;

    Engine(const Crystal2& x, double eps, double thickness, const PhysicsOptions& options) {
        storeSetup(x.setup, state);
        Sample sample;
        if (thickness > 0) sample.lamellae.push_back(Lamella{thickness, eps, 1});
        LayerStack stack;
        layerStack(sample, state, stack);
        prepareLayered(state, stack, options, constants);
    }
    double at(double arcsec) const {
        return static_cast<double>(referenceReflectivity(constants, Theory::Dynamical, arcsec));
    }
};

/// Position (″) of the largest value of f on [from, to] in steps of `step`, refined by a
/// parabola through the three points around it.
template <class F>
double peakOf(F&& f, double from, double to, double step) {
    double best = from, bestValue = -1;
    for (double t = from; t <= to; t += step) {
        const double v = f(t);
        if (v > bestValue) bestValue = v, best = t;
    }
    const double a = f(best - step), b = f(best), c = f(best + step);
    const double curvature = a - 2 * b + c;
    return curvature < 0 ? best + step * (a - c) / (2 * curvature) : best;
}

/// Centre and full width (″) at half the maximum of a single peak sampled on [from, to].
template <class F>
void halfMaximum(F&& f, double from, double to, double step, double& centre, double& width) {
    std::vector<double> t, v;
    for (double x = from; x <= to; x += step)
        t.push_back(x), v.push_back(f(x));
    const double top = *std::max_element(v.begin(), v.end());
    const double half = top / 2;
    std::size_t i = 0;
    while (v[i + 1] < half)
        ++i;
    const double left = t[i] + step * (half - v[i]) / (v[i + 1] - v[i]);
    std::size_t j = v.size() - 1;
    while (v[j - 1] < half)
        --j;
    const double right = t[j] - step * (half - v[j]) / (v[j - 1] - v[j]);
    centre = (left + right) / 2;
    width = right - left;
}

PhysicsOptions fullWith(Polarisation pol) {
    PhysicsOptions o = fullPhysicsDefaults();
    o.polarisation = pol;
    return o;
}

TEST(FullPhysics, LayerPeaksOfStrainedLayersAgreeWithTheIndependentSolution) {
    // 1500 Å layers on GaAs and Si, 0 0 4, Cu Kα1, σ: the layer peak within 1″ or 0.1 % of its
    // shift from the substrate, whichever is larger.
    for (const Case cs : {Case{"GaAs", 0, 0, 4}, Case{"Si", 0, 0, 4}}) {
        const Crystal2 x(cs);
        for (const double eps : {-0.05, -0.03, -0.01, 0.01, 0.03, 0.05}) {
            SCOPED_TRACE(std::string(cs.crystal) + " strain " + std::to_string(eps));
            const Engine engine(x, eps, 1500, fullWith(Polarisation::Sigma));
            const std::vector<Medium> media{x.medium(cs, 0, 0, 0), x.medium(cs, eps, 1500, 0)};
            const double thetaB = std::asin(x.lambda * media[0].hz / 2);
            const double thetaL = std::asin(x.lambda * media[1].hz / 2);
            const double guess = (thetaL - thetaB) / kArcsec;
            const auto indep = [&](double t) {
                return independentReflectivity(x.lambda, thetaB + t * kArcsec, 1, media);
            };
            const auto mine = [&](double t) { return engine.at(t); };
            const double expected = peakOf(indep, guess - 150, guess + 150, 1);
            const double got = peakOf(mine, guess - 150, guess + 150, 1);
            EXPECT_NEAR(got, expected, std::max(1.0, 1e-3 * std::fabs(expected)));
        }
    }
}

TEST(FullPhysics, AsymmetricCurvesAndFringePeriodsAgreeInBothGeometries) {
    // GaAs 2 2 4 grazing incidence and 2 2 −4 grazing exit under 2000 Å at +1 %: the whole curve
    // (hence every fringe period) within 1e-3 of the independent one.
    for (const Case cs : {Case{"GaAs", 2, 2, 4}, Case{"GaAs", 2, 2, -4}}) {
        SCOPED_TRACE(cs.l);
        const Crystal2 x(cs);
        const int exitSign = cs.l < 0 ? 1 : -1;
        const Engine engine(x, 0.01, 2000, fullWith(Polarisation::Sigma));
        const std::vector<Medium> media{x.medium(cs, 0, 0, exitSign),
                                        x.medium(cs, 0.01, 2000, exitSign)};
        const double hx = media[0].hx, hz = media[0].hz;
        const double omega0 = std::asin(x.lambda * std::hypot(hx, hz) / 2) - std::atan2(-hx, hz);
        double worst = 0;
        std::vector<double> mine, theirs;
        for (double t = -1500; t <= 400; t += 0.5) {
            const double expected =
                independentReflectivity(x.lambda, omega0 + t * kArcsec, 1, media);
            mine.push_back(engine.at(t));
            theirs.push_back(expected);
            worst = std::max(worst, std::fabs(mine.back() - expected) / (expected + 1e-7));
        }
        EXPECT_LT(worst, 1e-3);
        // The mean fringe period between the first and last minimum within 1 %.
        const auto period = [](const std::vector<double>& r) {
            std::vector<double> minima;
            for (std::size_t i = 1; i + 1 < r.size(); ++i)
                if (r[i] < r[i - 1] && r[i] < r[i + 1]) minima.push_back(0.5 * i);
            return minima.size() < 2 ? 0.0 : (minima.back() - minima.front()) / (minima.size() - 1);
        };
        EXPECT_NEAR(period(mine), period(theirs), 0.01 * period(theirs));
    }
}

TEST(FullPhysics, RefractionShiftsAndUnpolarisedWidthsOfPerfectCrystals) {
    // The substrate peak centre moves by −χ0r·(1 − 1/b)/(2·sin 2θB) (within 0.3″) and its width
    // and centre match the independent σ/π mean within 1 %.
    for (const Case cs : {Case{"GaAs", 0, 0, 4}, Case{"Si", 0, 0, 4}}) {
        SCOPED_TRACE(cs.crystal);
        const Crystal2 x(cs);
        const Medium m = x.medium(cs, 0, 0, 0);
        const double thetaB = std::asin(x.lambda * m.hz / 2);
        const double shift = -m.chi0.real() * 2 / (2 * std::sin(2 * thetaB)) / kArcsec;
        double centre, width;
        const Engine sigma(x, 0, 0, fullWith(Polarisation::Sigma));
        halfMaximum([&](double t) { return sigma.at(t); }, -40, 60, 0.05, centre, width);
        EXPECT_NEAR(centre, shift, 0.3);

        const Engine unpolarised(x, 0, 0, fullWith(Polarisation::Unpolarised));
        const double cosTwo = std::fabs(std::cos(2 * thetaB));
        const auto indep = [&](double t) {
            return 0.5 * (independentReflectivity(x.lambda, thetaB + t * kArcsec, 1, {m}) +
                          independentReflectivity(x.lambda, thetaB + t * kArcsec, cosTwo, {m}));
        };
        double expectedCentre, expectedWidth;
        halfMaximum(indep, -40, 60, 0.05, expectedCentre, expectedWidth);
        halfMaximum([&](double t) { return unpolarised.at(t); }, -40, 60, 0.05, centre, width);
        EXPECT_NEAR(width, expectedWidth, 0.01 * expectedWidth);
        EXPECT_NEAR(centre, expectedCentre, 0.3);
    }
}

TEST(FullPhysics, PerfectLamellaReproducesTheSubstrateInEveryTheoryAndPolarisation) {
    const Crystal2 x(Case{"GaAs", 2, 2, 4});
    for (const Polarisation pol :
         {Polarisation::Sigma, Polarisation::Pi, Polarisation::Unpolarised}) {
        const Engine bare(x, 0, 0, fullWith(pol));
        const Engine covered(x, 0, 5000, fullWith(pol));
        for (double t = -60; t <= 80; t += 7)
            EXPECT_NEAR(covered.at(t), bare.at(t), 1e-9) << t;
    }
}

TEST(FullPhysics, GeometryNamesThatContradictTheReflectionAreRefused) {
    const Crystal2 x(Case{"GaAs", 2, 2, 4});
    PhysicsOptions symmetric = fullPhysicsDefaults();
    symmetric.geometry = ScatteringGeometry::Symmetric;
    EXPECT_THROW(Engine(x, 0, 0, symmetric), EngineError);
    // The named grazing exit of 2 2 4 is the setting a negative l selects.
    PhysicsOptions exit = fullPhysicsDefaults();
    exit.geometry = ScatteringGeometry::GrazingExit;
    const Engine named(x, 0.01, 1000, exit);
    const Engine negative(Crystal2(Case{"GaAs", 2, 2, -4}), 0.01, 1000, fullPhysicsDefaults());
    for (double t = -800; t <= 100; t += 50)
        EXPECT_NEAR(named.at(t), negative.at(t), 1e-9 * negative.at(t)) << t;
}

/// A strained 2Gauss stack of 24 lamellae (1.2 % at most), prepared for `x` with `options`.
LayeredConstants strainedStack(const Crystal2& x, const PhysicsOptions& options) {
    EngineState state;
    storeSetup(x.setup, state);
    StrainProfile profile;
    strainProfile(CandidateRow{0, 0.012f, 900, 300, 600, 0}, kModelTwoGauss, 24, profile);
    LayerStack stack;
    layerStack(profile, state, stack);
    LayeredConstants constants;
    prepareLayered(state, stack, options, constants);
    return constants;
}

/// The vector path of every instruction set of the machine against the reference arithmetic,
/// point for point, to 1e-9 of the reflectivity.
void expectVectorPathAgrees(const LayeredConstants& constants, Theory theory,
                            const ScanGrid& grid) {
    auto reference = std::make_unique<ComputedCurve>();
    layeredCurve(constants, theory, grid, *reference, LayeredPath::Reference);
    for (const SimdLevel level : {SimdLevel::Sse2, SimdLevel::Avx2, SimdLevel::Avx512}) {
        if (!simdLevelAvailable(level)) continue;
        auto fast = std::make_unique<ComputedCurve>();
        layeredCurveFast(constants, theory, grid, *fast, level);
        for (int p = 0; p < grid.points; ++p) {
            const Extended R = reference->calcRaw[static_cast<std::size_t>(p)];
            ASSERT_NEAR(static_cast<double>(fast->calcRaw[static_cast<std::size_t>(p)]),
                        static_cast<double>(R), 1e-9 * static_cast<double>(R) + 1e-13)
                << simdLevelName(level) << " point " << p;
        }
        EXPECT_NEAR(static_cast<double>(fast->calcMax), static_cast<double>(reference->calcMax),
                    1e-9);
    }
}

TEST(FullPhysics, VectorPathAgreesWithTheReferenceOnEveryInstructionSet) {
    // A strained 2Gauss stack of 24 lamellae in each geometry, both theories, σ and the
    // unpolarised mean behind a monochromator, over a scan that reaches past the layer peak.
    struct Run {
        Case reflection;
        Theory theory;
        Polarisation pol;
    };
    for (const Run run : {Run{{"GaAs", 0, 0, 4}, Theory::Dynamical, Polarisation::Sigma},
                          Run{{"GaAs", 2, 2, 4}, Theory::Dynamical, Polarisation::Unpolarised},
                          Run{{"GaAs", 2, 2, -4}, Theory::Kinematical, Polarisation::Pi},
                          Run{{"Si", 0, 0, 4}, Theory::Kinematical, Polarisation::Unpolarised}}) {
        SCOPED_TRACE(std::string(run.reflection.crystal) + " l " +
                     std::to_string(run.reflection.l));
        const Crystal2 x(run.reflection);
        PhysicsOptions options = fullWith(run.pol);
        options.monochromatorTwoTheta = monochromatorTwoTheta("Ge220", x.lambda);
        expectVectorPathAgrees(strainedStack(x, options), run.theory, ScanGrid{-4000, 3.5, 1300});
    }
}

TEST(FullPhysics, VectorPathAgreesForAnyScanStepAndLamellaAbsorption) {
    // The vector path turns the incidence angle from the first point of each chunk of 512 by
    // whole scan steps, and takes the attenuation of a thin lamella from a short series: scans of
    // fine and coarse steps across several chunks, and one lamella thickened until its
    // attenuation (exp(−2·t·μ-like term) over the scan) leaves the short series' range.
    struct Row {
        Theory theory;
        ScanGrid grid;
        double thicker;  ///< factor on the thickness of lamella 7
    };
    const Crystal2 x(Case{"GaAs", 0, 0, 4});
    for (const Row row : {Row{Theory::Kinematical, {-900, 0.25, 1500}, 1},
                          Row{Theory::Kinematical, {-9000, 20, 1100}, 1},
                          Row{Theory::Kinematical, {-4000, 3.5, 1300}, 30},
                          Row{Theory::Kinematical, {-4000, 7, 1300}, 300},
                          Row{Theory::Dynamical, {-9000, 20, 1100}, 30}}) {
        SCOPED_TRACE("step " + std::to_string(row.grid.step) + ", thicker " +
                     std::to_string(row.thicker));
        LayeredConstants constants = strainedStack(x, fullWith(Polarisation::Unpolarised));
        constants.full[7].thicknessScale *= row.thicker;
        expectVectorPathAgrees(constants, row.theory, row.grid);
    }
}

TEST(FullPhysics, ThermalMotionNarrowsTheDarwinCurveByTheDebyeWallerFactor) {
    // The width of a thick crystal's curve is proportional to |χh|, which exp(−B·s²) scales.
    const Crystal2 x(Case{"GaAs", 0, 0, 4});
    PhysicsOptions warm = fullWith(Polarisation::Sigma);
    warm.debyeWallerB = {0.6, 0.6};
    const double s = 4 / (2 * x.c);
    const Engine atRest(x, 0, 0, fullWith(Polarisation::Sigma)), vibrating(x, 0, 0, warm);
    double centre, still, moving;
    halfMaximum([&](double t) { return atRest.at(t); }, -40, 60, 0.05, centre, still);
    halfMaximum([&](double t) { return vibrating.at(t); }, -40, 60, 0.05, centre, moving);
    EXPECT_NEAR(moving / still, std::exp(-0.6 * s * s), 0.01);
}

TEST(FullPhysics, KinematicalRangeWarnings) {
    // GaAs 0 0 4 (extinction length about 1.5 µm) under one lamella, classic and full.
    struct Row {
        Theory theory;
        double thickness;
        Extended calcMax;
        const char* expected;  ///< part of the warning, or "" for none
    };
    const Crystal2 x(Case{"GaAs", 0, 0, 4});
    for (const PhysicsOptions& options : {PhysicsOptions{}, fullPhysicsDefaults()}) {
        for (const Row row :
             {Row{Theory::Dynamical, 1e5, 2, ""}, Row{Theory::Kinematical, 1000, 0.2L, ""},
              Row{Theory::Kinematical, 1e5, 0.5L, "times as thick"},
              Row{Theory::Kinematical, 1000, 25.6L, "above 1"}}) {
            const Engine e(x, 0.01, row.thickness, options);
            const std::string w = kinematicalRangeWarning(e.constants, row.theory, row.calcMax);
            if (*row.expected == 0)
                EXPECT_EQ(w, "") << row.thickness;
            else
                EXPECT_NE(w.find(row.expected), std::string::npos) << w;
        }
    }
}

TEST(FullPhysics, AScanPastTheSurfaceReflectsNothingThere) {
    // GaAs 2 2 4 is met at 6.6° incidence; some 23 800″ lower the incident beam no longer
    // reaches the crystal: those points are 0, on the vector path as on the reference.
    const Crystal2 x(Case{"GaAs", 2, 2, 4});
    const Engine e(x, 0.01, 1000, fullWith(Polarisation::Unpolarised));
    const ScanGrid grid{-24500, 5, 301};
    for (const Theory theory : {Theory::Dynamical, Theory::Kinematical}) {
        auto reference = std::make_unique<ComputedCurve>();
        auto fast = std::make_unique<ComputedCurve>();
        layeredCurve(e.constants, theory, grid, *reference, LayeredPath::Reference);
        layeredCurve(e.constants, theory, grid, *fast, LayeredPath::Fast);
        EXPECT_EQ(reference->calcRaw[0], 0);
        EXPECT_GT(reference->calcRaw[300], 0);
        for (int p = 0; p < grid.points; ++p) {
            const auto i = static_cast<std::size_t>(p);
            ASSERT_NEAR(static_cast<double>(fast->calcRaw[i]),
                        static_cast<double>(reference->calcRaw[i]),
                        1e-9 * static_cast<double>(reference->calcRaw[i]) + 1e-13)
                << p;
        }
    }
}

TEST(FullPhysics, MonochromatorAnglesAndRefusals) {
    // Ge 2 2 0 at Cu Kα1 (1.5405929 Å): 2θM = 45.30°.
    EXPECT_NEAR(monochromatorTwoTheta("Ge220", 1.5405929) * 180 / 3.14159265358979, 45.30, 0.02);
    EXPECT_EQ(monochromatorTwoTheta("none", 1.54), 0);
    EXPECT_THROW(monochromatorTwoTheta("Ge999", 1.54), EngineError);
    EXPECT_THROW(monochromatorTwoTheta("Ge440", 3), EngineError);
}

}  // namespace
}  // namespace kelvarin

#include "engine/layered.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/engine_error.hpp"
#include "engine/strain.hpp"
#include "engine_fixture.hpp"

namespace kelvarin {
namespace {

using testing::setUpCrystal;
using testing::setUpSilicon004;
using testing::twoGaussRow;

constexpr double kArcsecPerRad = 648000 / std::numbers::pi;

/// The layered curve of candidate `row` with `layers` lamellae and theory `theory`.
ComputedCurve curveOf(EngineState& s, const CandidateRow& row, int layers, Theory theory,
                      LayerStack* stackOut = nullptr) {
    StrainProfile p;
    strainProfile(row, kModelTwoGauss, layers, p);
    LayerStack stack;
    layerStack(p, s, stack);
    s.theoryChoice = theory;
    ComputedCurve c;
    layeredCurve(s, stack, c);
    if (stackOut) *stackOut = stack;
    return c;
}

/// Angle (arcsec) of the largest raw value between lo and hi.
double peakAngle(const ComputedCurve& c, double lo, double hi) {
    double best = 0, at = 0;
    for (int i = 0; i < c.calcComputed; ++i) {
        const double a = static_cast<double>(c.calcAngle[i]);
        if (a >= lo && a <= hi && c.calcRaw[i] > best) {
            best = static_cast<double>(c.calcRaw[i]);
            at = a;
        }
    }
    return at;
}

/// A uniform stack: σ so large that every lamella carries τ.
CandidateRow uniform(float tau, float ro) {
    return twoGaussRow(10, tau, ro, 1e9f, 1e9f);
}

TEST(LayeredCurve, UnstrainedLamellaeLeaveTheSubstrateCurveWhateverTheirThickness) {
    EngineState s;
    setUpSilicon004(s, -60, 60, 1);
    // Any other theory value carries the substrate amplitude unchanged: the bare substrate.
    const ComputedCurve bare = curveOf(s, uniform(0, 1000), 8, static_cast<Theory>(2));
    // 3 mm of perfect crystal, far beyond where the textbook form of the step overflows.
    for (float ro : {0.0f, 1000.0f, 6.0e6f}) {
        const ComputedCurve c = curveOf(s, uniform(0, ro), ro > 1e6f ? 1 : 8, kTheoryDynamical);
        ASSERT_EQ(c.calcComputed, bare.calcComputed);
        for (int i = 0; i < c.calcComputed; ++i) {
            EXPECT_NEAR(static_cast<double>(c.calcRaw[i]), static_cast<double>(bare.calcRaw[i]),
                        1e-9)
                << "ro " << ro << " angle " << static_cast<double>(c.calcAngle[i]);
        }
    }
    // Strained lamellae of zero thickness (ρ = 0): T = 0, and both steps return X as it came.
    for (Theory theory : {kTheoryKinematical, kTheoryDynamical}) {
        const ComputedCurve z = curveOf(s, uniform(0.01f, 0), 8, theory);
        for (int i = 0; i < z.calcComputed; ++i) {
            EXPECT_NEAR(static_cast<double>(z.calcRaw[i]), static_cast<double>(bare.calcRaw[i]),
                        1e-15)
                << static_cast<int>(theory);
        }
    }
}

TEST(LayeredCurve, StrainedLayerPeakSitsWhereItsBraggConditionHolds) {
    struct Case {
        int h, k, l;
        float tau;
    };
    for (const Case& c : {Case{0, 0, 4, 0.004f}, Case{2, 2, 4, 0.006f}, Case{0, 0, 4, -0.003f}}) {
        EngineState s;
        setUpCrystal(s, "Si", 5.4309L, c.h, c.k, c.l, 4, -3000, 3000, 1);
        LayerStack st;
        // 1 µm of uniformly strained crystal in 20 lamellae.
        for (Theory theory : {kTheoryKinematical, kTheoryDynamical}) {
            const ComputedCurve curve = curveOf(s, uniform(c.tau, 2000), 20, theory, &st);
            const double phi = std::acos(c.l / std::sqrt(c.h * c.h + c.k * c.k + c.l * c.l + 0.0));
            const double thetaB = static_cast<double>(st.thetaB[1]);
            const double expected =
                -static_cast<double>(c.tau) *
                (std::cos(phi) * std::cos(phi) * std::tan(thetaB) + std::sin(phi) * std::cos(phi)) *
                kArcsecPerRad;
            const double found = peakAngle(curve, expected - 150, expected + 150);
            EXPECT_NEAR(found, expected, 2.0)
                << c.h << c.k << c.l << " theory " << static_cast<int>(theory);
        }
    }
}

TEST(LayeredCurve, ThicknessFringesHaveTheSpacingOfTheLayerThickness) {
    EngineState s;
    setUpSilicon004(s, -2200, -200, 1);
    LayerStack st;
    // 2000 Å at ε = 0.005: the layer peak near −710″, fringes λ|γh|/(t sin 2θB) apart.
    const ComputedCurve c = curveOf(s, uniform(0.005f, 400), 10, kTheoryDynamical, &st);
    const double thetaB = static_cast<double>(st.thetaB[1]);
    const double period =
        1.540562 * std::sin(thetaB) / (2000 * std::sin(2 * thetaB)) * kArcsecPerRad;
    const double centre = peakAngle(c, -900, -500);
    std::vector<double> minima;
    for (int i = 1; i + 1 < c.calcComputed; ++i) {
        const double a = static_cast<double>(c.calcAngle[i]);
        if (std::abs(a - centre) < 5.5 * period && c.calcRaw[i] < c.calcRaw[i - 1] &&
            c.calcRaw[i] <= c.calcRaw[i + 1]) {
            minima.push_back(a);
        }
    }
    ASSERT_GE(minima.size(), 8u);
    // The minima either side of the main peak are two periods apart; the others one.
    const double span = minima.back() - minima.front();
    EXPECT_NEAR(span / static_cast<double>(minima.size()), period, 0.02 * period);
}

TEST(LayeredCurve, KinematicalAndDynamicalAgreeForAThinWeakLayer) {
    EngineState s;
    setUpSilicon004(s, -1800, -1000, 1);
    // 500 Å at ε = 0.01: the layer peak near −1420″, far from the substrate.
    const ComputedCurve kin = curveOf(s, uniform(0.01f, 100), 5, kTheoryKinematical);
    const ComputedCurve dyn = curveOf(s, uniform(0.01f, 100), 5, kTheoryDynamical);
    const double centre = peakAngle(dyn, -1700, -1100);
    int compared = 0;
    for (int i = 0; i < dyn.calcComputed; ++i) {
        if (std::abs(static_cast<double>(dyn.calcAngle[i]) - centre) > 100) continue;
        EXPECT_NEAR(static_cast<double>(kin.calcRaw[i] / dyn.calcRaw[i]), 1.0, 0.03)
            << static_cast<double>(dyn.calcAngle[i]);
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

TEST(LayeredSteps, ScaledFormsMatchTheTextbookFormsWhereThoseAreFinite) {
    // Textbook forms, evaluated here at thicknesses where they still work.
    auto dynamicalTextbook = [](Complex X, Complex x, Complex T) {
        const Complex r = std::sqrt(x * x - 1.0);
        const Complex S = Complex(0, 1) * T * r;
        const Complex n1 = (X - x + r) * std::exp(-S);
        const Complex n2 = (X - x - r) * std::exp(S);
        return x + r * (n1 + n2) / (n1 - n2);
    };
    auto kinematicalTextbook = [](Complex X, Complex x, Complex T) {
        return X * std::exp(Complex(0, -2) * x * T) +
               Complex(0, 1) * std::exp(Complex(0, -1) * x * T) * std::sin(x * T) / x;
    };
    const Complex X(0.1, -0.2);
    // x = (η + i·g)/(1 + i·κ) and T = A·(1 + i·κ) with absorption (g < 0), as a lamella has them.
    struct Slab {
        double eta, g, kappa;
    };
    for (const Slab& c : {Slab{0.3, -0.02, 0.01}, Slab{-2.5, -0.05, 0.02}, Slab{40, -0.8, 0.01},
                          Slab{0.99, -0.001, 0.005}, Slab{-0.5, -0.3, 0.2}}) {
        const Complex x = Complex(c.eta, c.g) / Complex(1, c.kappa);
        for (const double A : {0.0, 0.01, 3.0, 200.0, 400.0, 650.0, 2000.0}) {
            const Complex T = A * Complex(1, c.kappa);
            const Complex a = dynamicalStep(X, x, T);
            const Complex b = dynamicalTextbook(X, x, T);
            if (std::isfinite(b.real()) && std::isfinite(b.imag())) {
                EXPECT_NEAR(std::abs(a - b), 0, 1e-12 * (1 + std::abs(b))) << x << " " << A;
            }
            const Complex k = kinematicalStep(X, x, T);
            const Complex d = kinematicalTextbook(X, x, T);
            if (std::isfinite(d.real()) && std::isfinite(d.imag())) {
                EXPECT_NEAR(std::abs(k - d), 0, 1e-12 * (1 + std::abs(d))) << x << " " << A;
            }
            ASSERT_TRUE(std::isfinite(a.real()) && std::isfinite(a.imag())) << x << " " << A;
            ASSERT_TRUE(std::isfinite(k.real()) && std::isfinite(k.imag())) << x << " " << A;
        }
        // Far beyond the double range of exp: a very thick absorbing lamella is a semi-infinite
        // crystal.
        const Complex thick = dynamicalStep(X, x, 1e6 * Complex(1, c.kappa));
        EXPECT_LT(std::abs(thick - substrateAmplitude(x)), 1e-12) << x;
    }
    // x = 0 (no absorption, exactly at the peak): the kinematical step's limit X + i·T.
    EXPECT_EQ(kinematicalStep(X, Complex(0, 0), Complex(0.5, 0)), X + Complex(0, 0.5));
    // x = 1: r = 0, the limit of the dynamical step; zero thickness leaves X.
    const Complex one = dynamicalStep(X, Complex(1, 0), Complex(0.5, 0));
    EXPECT_TRUE(std::isfinite(one.real()) && std::isfinite(one.imag()));
    EXPECT_LT(std::abs(dynamicalStep(X, Complex(1, 0), Complex(0, 0)) - X), 1e-16);
}

TEST(LayeredCurve, ScanLengthAndCounts) {
    EXPECT_EQ(scanPointCount(-10, 10, 5), 5);
    EXPECT_EQ(scanPointCount(-10, 11, 5), 5);
    EXPECT_EQ(scanPointCount(10, -10, 1), 0);
    EXPECT_EQ(scanPointCount(0, 39999, 1), 40000);
    EXPECT_THROW(scanPointCount(0, 40000, 1), EngineError);
    EXPECT_THROW(scanPointCount(0, 10, 0), EngineError);
    EXPECT_THROW(scanPointCount(0, 10, -1), EngineError);

    EngineState s;
    setUpSilicon004(s, 5, 5, 1);  // one point: dropped from the scored curve
    ComputedCurve c = curveOf(s, uniform(0.001f, 100), 3, kTheoryDynamical);
    EXPECT_EQ(c.calcComputed, 1);
    EXPECT_EQ(c.calcCount, 0);
    setUpSilicon004(s, 5, 4, 1);  // empty scan: nothing computed, the count stays at 0
    c = curveOf(s, uniform(0.001f, 100), 3, kTheoryDynamical);
    EXPECT_EQ(c.calcComputed, 0);
    EXPECT_EQ(c.calcCount, 0);
    setUpSilicon004(s, -100, 100, 10);
    c = curveOf(s, uniform(0.001f, 100), 3, kTheoryDynamical);
    EXPECT_EQ(c.calcComputed, 21);
    EXPECT_EQ(c.calcCount, 20);
    EXPECT_EQ(c.calcAngle[20], 100);
    Extended top = 0;
    for (int i = 0; i < 21; ++i)
        top = std::max(top, c.calcRaw[i]);
    EXPECT_EQ(c.calcMax, top);
}

TEST(LayeredCurve, ForbiddenReflectionIsRefusedBeforeAnyPoint) {
    EngineState s;
    for (int l : {2, 6}) {
        // The set-up builder refuses it, and so does the layered calculation on its own.
        EXPECT_THROW(setUpCrystal(s, "Si", 5.4309L, 0, 0, l), EngineError) << l;
        setUpCrystal(s, "Si", 5.4309L, 0, 0, 4);
        s.millerL = l;
        EXPECT_THROW(curveOf(s, uniform(0.001f, 100), 3, kTheoryDynamical), EngineError) << l;
    }
    setUpCrystal(s, "GaAs", 5.65325L, 0, 0, 2);
    EXPECT_NO_THROW(curveOf(s, uniform(0.001f, 100), 3, kTheoryDynamical));
}

}  // namespace
}  // namespace kelvarin

#include "engine/geometry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "engine/engine_error.hpp"
#include "engine/layered.hpp"
#include "engine/strain.hpp"
#include "engine_fixture.hpp"

namespace kelvarin {
namespace {

using testing::setUpSilicon004;
using testing::zincBlendePositions;

TEST(ReflectionGeometry, SymmetricAndAsymmetricCubicReflections) {
    const auto g = reflectionGeometry(5.4309L, 5.4309L, 5.4309L, 0, 0, 4, 1.540562L);
    EXPECT_NEAR(static_cast<double>(g.d), 5.4309 / 4, 1e-15);
    EXPECT_NEAR(static_cast<double>(g.s), 2 / 5.4309, 1e-15);  // the 0.36826 of the catalogue
    EXPECT_NEAR(static_cast<double>(g.thetaB), std::asin(1.540562 * 4 / (2 * 5.4309)), 1e-15);
    EXPECT_EQ(g.phi, 0);
    EXPECT_NEAR(static_cast<double>(g.gamma0), std::sin(static_cast<double>(g.thetaB)), 1e-15);
    EXPECT_NEAR(static_cast<double>(g.gammaH), -std::sin(static_cast<double>(g.thetaB)), 1e-15);

    // (2 2 4): [224] makes 35.26° with [001]; grazing incidence γ0 < |γh|.
    const auto a = reflectionGeometry(5.4309L, 5.4309L, 5.4309L, 2, 2, 4, 1.540562L);
    EXPECT_NEAR(static_cast<double>(a.phi), std::acos(4 / std::sqrt(24.0)), 1e-15);
    EXPECT_GT(a.gamma0, 0);
    EXPECT_LT(a.gamma0, -a.gammaH);

    // A lamella strained by ε along c: only the c² term of 1/d² changes, by the factor (1 + ε).
    const auto e = reflectionGeometry(5.4309L, 5.4309L, 5.4309L, 0, 0, 4, 1.540562L, 0.01L);
    EXPECT_NEAR(static_cast<double>(e.d), 5.4309 / 4 * std::sqrt(1.01), 1e-14);
    EXPECT_NEAR(static_cast<double>(e.V), 1.01 * std::pow(5.4309, 3), 1e-10);
}

TEST(ReflectionGeometry, RefusesSetUpsWithoutAReflection) {
    struct Case {
        const char* what;
        Extended a, h, k, l, lambda, strain;
        const char* message;
    };
    const Case cases[] = {
        {"no indices", 5.43L, 0, 0, 0, 1.54L, 0, "0 0 0"},
        {"lambda >= 2d", 5.43L, 0, 0, 4, 2.8L, 0, "cannot be reached"},
        {"lambda = 2d", 5.43L, 0, 0, 2, 5.43L, 0, "cannot be reached"},
        {"no crystal", 0, 0, 0, 4, 1.54L, 0, "lattice constants"},
        {"no wavelength", 5.43L, 0, 0, 4, 0, 0, "wavelength"},
        {"collapsed cell", 5.43L, 0, 0, 4, 1.54L, -1, "collapse"},
    };
    for (const Case& c : cases) {
        try {
            reflectionGeometry(c.a, c.a, c.a, c.h, c.k, c.l, c.lambda, c.strain);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.what << ": " << e.what();
        }
    }
}

TEST(ReflectionGeometry, OnlyReflectionsWithBothBeamsOutsideTheSurfaceAreMeasurable) {
    // Cu Kα1 on (001) wafers. A negative l is the grazing-exit setting (γ0 < 0 < γh) and as
    // good as the grazing-incidence one; planes tilted by more than θB, or standing upright,
    // send one beam into the crystal (a transmission case).
    const Extended si = 5.4309L, gaAs = 5.65325L, cu = 1.540562L, co = 1.788965L;
    struct Case {
        Extended a, h, k, l, lambda;
        const char* refusal;  ///< nullptr: measurable; else part of the message
    };
    const Case cases[] = {
        {gaAs, 0, 0, 4, cu, nullptr},
        {si, 0, 0, 4, cu, nullptr},
        {gaAs, 1, 1, 3, cu, nullptr},
        {si, 1, 1, 3, cu, nullptr},
        {gaAs, 2, 2, 4, cu, nullptr},
        {gaAs, 1, 1, -3, cu, nullptr},
        {gaAs, 2, 2, -4, cu, nullptr},
        {si, 1, 1, 5, cu, nullptr},
        {si, 1, 1, -5, cu, nullptr},
        {si, 3, 3, 3, co, nullptr},  // θB = 58.9° above the 54.7° tilt
        {si, 1, 1, 1, cu, "tilted by 54.74° to the surface, more than its Bragg angle of 14.22°"},
        {si, 3, 3, 3, cu, "more than its Bragg angle of 47.48°"},
        {gaAs, 3, 3, 3, cu, "more than its Bragg angle"},
        {si, 2, 2, 0, cu, "lies in the surface plane"},
        {si, 0, 2, 2, cu, "tilted by 45°"},
        {si, 4, 4, 0, cu,
         "lies in the surface plane, so the diffracted beam would pass through "
         "the crystal (a transmission case, which this program does not "
         "compute). Did you mean 0 4 4?"},
        {si, 4, 0, 0, cu,
         "The surface is (001), its normal [001]; the reflection 4 0 0 cannot be "
         "measured in reflection from it: it lies in the surface plane"},
        {gaAs, 0, 4, 0, cu, "Did you mean 0 0 4?"},
    };
    for (const Case& c : cases) {
        const std::string hkl = std::to_string(static_cast<int>(c.h)) + " " +
                                std::to_string(static_cast<int>(c.k)) + " " +
                                std::to_string(static_cast<int>(c.l));
        try {
            const auto g = reflectionGeometry(c.a, c.a, c.a, c.h, c.k, c.l, c.lambda);
            EXPECT_LT(g.gamma0 * g.gammaH, 0) << hkl;
            EXPECT_EQ(c.refusal, nullptr) << hkl << ": accepted";
        } catch (const EngineError& e) {
            ASSERT_NE(c.refusal, nullptr) << hkl << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos)
                << hkl << ": " << e.what();
        }
    }
}

TEST(StructureFactor, DiamondSumsAndForbiddenReflections) {
    const SitePositions sites = zincBlendePositions();
    // Si 0 0 4: all eight atoms in phase.
    const auto F = structureFactor(7.5, 7.5, 0.25, 0.33, 0.25, 0.33, sites, 0, 0, 4);
    EXPECT_NEAR(static_cast<double>(F.Fhr), 8 * 7.75, 1e-9);
    EXPECT_NEAR(static_cast<double>(F.Fhi), 8 * 0.33, 1e-9);
    EXPECT_NEAR(static_cast<double>(F.F0i), 8 * 0.33, 1e-15);
    EXPECT_NO_THROW(requireAllowedReflection(F, 7.5, 7.5, 0.25, 0.25, 0, 0, 4));

    // 1 1 1: the two sites a quarter period apart, |Fh| = 4·√2·f.
    const auto F111 = structureFactor(10, 10, 0, 0, 0, 0, sites, 1, 1, 1);
    EXPECT_NEAR(std::hypot(static_cast<double>(F111.Fhr), static_cast<double>(F111.Fhi)),
                4 * std::sqrt(2.0) * 10, 1e-9);

    // Si 0 0 2 and 0 0 6 cancel to rounding; GaAs 0 0 2 is weak but allowed.
    for (int l : {2, 6}) {
        const auto Fs = structureFactor(8, 8, 0.25, 0.33, 0.25, 0.33, sites, 0, 0, l);
        EXPECT_THROW(requireAllowedReflection(Fs, 8, 8, 0.25, 0.25, 0, 0, l), EngineError) << l;
    }
    const auto Fg = structureFactor(27.3, 29.1, -1.28, 0.78, -0.93, 1.0, sites, 0, 0, 2);
    EXPECT_NO_THROW(requireAllowedReflection(Fg, 27.3, 29.1, -1.28, -0.93, 0, 0, 2));
}

/// The layered constants of the substrate under one unstrained lamella 5·ro thick.
void prepareUnstrainedLamella(EngineState& s, float ro, LayerStack& stack, LayeredConstants& c) {
    s.layerCount = 1;
    StrainProfile profile;
    strainProfile(testing::twoGaussRow(10, 0, ro, 50, 50), kModelTwoGauss, 1, profile);
    layerStack(profile, s, stack);
    prepareLayered(s, stack, c);
}

/// Full width at half maximum (arcsec) of R(θ) sampled every `step` arcsec over ±range.
template <class Curve>
double fullWidthAtHalfMaximum(Curve&& R, double range, double step) {
    std::vector<double> x, y;
    for (double t = -range; t <= range; t += step) {
        x.push_back(t);
        y.push_back(R(t));
    }
    const std::size_t top =
        static_cast<std::size_t>(std::max_element(y.begin(), y.end()) - y.begin());
    const double half = y[top] / 2;
    std::size_t lo = top, hi = top;
    while (lo > 0 && y[lo] > half)
        --lo;
    while (hi + 1 < y.size() && y[hi] > half)
        ++hi;
    const auto cross = [&](std::size_t a, std::size_t b) {
        return x[a] + (half - y[a]) * (x[b] - x[a]) / (y[b] - y[a]);
    };
    return cross(hi - 1, hi) - cross(lo, lo + 1);
}

/// The two-beam solution of a semi-infinite crystal (σ polarisation), worked out from the
/// complex structure factors of +h and −h without the program's geometry or structure factors.
struct TwoBeam {
    double thetaB, b;
    std::complex<double> chi0, chiH, chiHbar;

    TwoBeam(const EngineState& s, const std::string& crystal, int h, int k, int l) {
        const double pi = std::numbers::pi;
        const double a = static_cast<double>(s.latticeA);
        const double lambda = static_cast<double>(s.radiationRecord[kSlotLambda]);
        const double n = std::sqrt(h * h + k * k + l * l + 0.0);
        const double d = a / n;
        thetaB = std::asin(lambda / (2 * d));
        const double phi = std::acos(l / n);
        b = std::sin(thetaB - phi) / -std::sin(thetaB + phi);
        const ScatteringTables tables = scatteringTables(crystal);
        const RadiationRecord& rr = s.radiationRecord;
        const double fReal[2] = {static_cast<double>(rr[kSlotF1Real]),
                                 static_cast<double>(rr[kSlotF2Real])};
        const double fImag[2] = {static_cast<double>(rr[kSlotF1Imag]),
                                 static_cast<double>(rr[kSlotF2Imag])};
        const auto F = [&](int sign, double sinThetaOverLambda) {
            std::complex<double> sum = 0;
            for (int site = 0; site < 2; ++site) {
                const double f0 =
                    static_cast<double>(formFactor(tables, site + 1, sinThetaOverLambda));
                for (const auto& r : s.sitePositions[static_cast<std::size_t>(site)])
                    sum += std::complex<double>(f0 + fReal[site], fImag[site]) *
                           std::polar(1.0, sign * 2 * pi * (h * r[0] + k * r[1] + l * r[2]));
            }
            return sum;
        };
        const double Gamma = 2.8179403e-5 * lambda * lambda / (pi * a * a * a);
        chiH = -Gamma * F(1, 1 / (2 * d));
        chiHbar = -Gamma * F(-1, 1 / (2 * d));
        chi0 = -Gamma * F(0, 0);
    }
    /// Width (arcsec) of the total-reflection range: 2·sqrt|χh·χh̄| / (sin 2θB·sqrt|b|).
    double darwinWidth() const {
        return 2 * std::sqrt(std::abs(chiH * chiHbar)) / (std::sin(2 * thetaB) * std::sqrt(-b)) *
               648000 / std::numbers::pi;
    }
    /// Reflectivity at the offset Δθ (arcsec) from the Bragg angle.
    double reflectivity(double arcsec) const {
        const double dTheta = arcsec * std::numbers::pi / 648000;
        const std::complex<double> eta =
            (-b * dTheta * std::sin(2 * thetaB) - 0.5 * chi0 * (1 - b)) /
            (std::sqrt(-b) * std::sqrt(chiH * chiHbar));
        const std::complex<double> root = std::sqrt(eta * eta - 1.0);
        const double X = std::min(std::abs(eta + root), std::abs(eta - root));
        return std::abs(chiH) / std::abs(chiHbar) * X * X;
    }
};

TEST(StructureFactor, ReflectionsOfEitherParityHaveTheWidthOfTheTwoBeamTheory) {
    // With h + k + l odd the two sites scatter a quarter period apart: Fh has real and imaginary
    // parts of similar size even without absorption, so they cannot stand for the scattering
    // strength and the absorption. Within 2 % of the Darwin width and 3 % of the curve's FWHM.
    struct Case {
        const char* crystal;
        Extended a;
        int h, k, l;
    };
    for (const Case& c : {Case{"Si", 5.4309L, 1, 1, -5}, Case{"GaAs", 5.65325L, 1, 1, -3},
                          Case{"InP", 5.86875L, 1, 1, -5}, Case{"Si", 5.4309L, 1, 1, 3},
                          Case{"GaAs", 5.65325L, 0, 0, 4}, Case{"GaAs", 5.65325L, 2, 2, -4}}) {
        SCOPED_TRACE(std::string(c.crystal) + " " + std::to_string(c.h) + " " +
                     std::to_string(c.k) + " " + std::to_string(c.l));
        EngineState s;
        testing::setUpCrystal(s, c.crystal, c.a, c.h, c.k, c.l);
        const TwoBeam twoBeam(s, c.crystal, c.h, c.k, c.l);

        // The layered calculation's substrate (under one unstrained lamella of no thickness).
        LayerStack stack;
        LayeredConstants constants;
        prepareUnstrainedLamella(s, 0, stack, constants);
        const SlabConstants& sub = constants.slab[0];
        const double darwin = static_cast<double>(
            2 * sub.etaDenominator / (sub.etaRoot * sub.etaSin2Theta) / (kPi * kArcsecFactor));
        EXPECT_NEAR(darwin / twoBeam.darwinWidth(), 1, 0.02);

        // The Start run's perfect crystal.
        const auto g = reflectionGeometry(s.latticeA, s.latticeB, s.latticeC, c.h, c.k, c.l,
                                          s.radiationRecord[kSlotLambda]);
        const CoefficientTables& t = s.scatteringCoefficients;
        const RadiationRecord& rr = s.radiationRecord;
        const StructureFactor F = structureFactor(
            formFactor(t[1], t[2], t[3], t[4], t[5], t[6], g.s),
            formFactor(t[7], t[8], t[9], t[10], t[11], t[12], g.s), rr[kSlotF1Real],
            rr[kSlotF1Imag], rr[kSlotF2Real], rr[kSlotF2Imag], s.sitePositions, c.h, c.k, c.l);
        const auto startRun = [&](double arcsec) {
            const Complex x = deviationParameter(kPi * arcsec * kArcsecFactor, g.thetaB, g.gamma0,
                                                 g.gammaH, g.Gamma, -F.F0i, F.strength, F.kappa);
            return static_cast<double>(reflectivity(substrateAmplitude(x)));
        };
        const auto layered = [&](double arcsec) {
            return static_cast<double>(referenceReflectivity(constants, kTheoryDynamical, arcsec));
        };
        const double range = 8 * twoBeam.darwinWidth();
        const double step = twoBeam.darwinWidth() / 500;
        const double expected =
            fullWidthAtHalfMaximum([&](double a) { return twoBeam.reflectivity(a); }, range, step);
        EXPECT_NEAR(fullWidthAtHalfMaximum(startRun, range, step) / expected, 1, 0.03);
        EXPECT_NEAR(fullWidthAtHalfMaximum(layered, range, step) / expected, 1, 0.03);
    }
}

TEST(SubstrateAmplitude, PerfectCrystalReflectivityHasItsTotalReflectionPlateau) {
    // Without absorption (g = κ = 0) the Darwin curve is exactly 1 for |η| ≤ 1.
    for (double eta = -0.99; eta <= 0.99; eta += 0.01) {
        EXPECT_NEAR(static_cast<double>(reflectivity(substrateAmplitude(Complex(eta, 0)))), 1.0,
                    1e-12);
    }
    EXPECT_NEAR(static_cast<double>(reflectivity(substrateAmplitude(Complex(3.0, 0)))),
                std::pow(3 - std::sqrt(8.0), 2), 1e-12);

    // Si 0 0 4 with Cu Kα1, both signs of the absorption term: R in [0, 1], above 0.9 at the
    // centre of the plateau and small far out.
    EngineState s;
    setUpSilicon004(s);
    const auto g = reflectionGeometry(s.latticeA, s.latticeB, s.latticeC, 0, 0, 4,
                                      s.radiationRecord[kSlotLambda]);
    const Extended f = formFactor(s.scatteringCoefficients[1], s.scatteringCoefficients[2],
                                  s.scatteringCoefficients[3], s.scatteringCoefficients[4],
                                  s.scatteringCoefficients[5], s.scatteringCoefficients[6], g.s);
    const auto F =
        structureFactor(f, f, 0.2538L, 0.3294L, 0.2538L, 0.3294L, s.sitePositions, 0, 0, 4);
    for (const Extended sign : {1.0L, -1.0L}) {
        Extended top = 0;
        for (int theta = -100; theta <= 100; ++theta) {
            const Complex x =
                deviationParameter(kPi * theta * kArcsecFactor, g.thetaB, g.gamma0, g.gammaH,
                                   g.Gamma, sign * F.F0i, F.strength, F.kappa);
            const Extended R = reflectivity(substrateAmplitude(x));
            EXPECT_GE(R, 0);
            EXPECT_LE(R, 1);
            if (std::abs(x.real()) < 0.3) {
                EXPECT_GT(R, 0.9) << theta;
            }
            if (std::abs(x.real()) > 30) {
                EXPECT_LT(R, 1e-3) << theta;
            }
            top = std::max(top, R);
        }
        EXPECT_GT(top, 0.9);
    }
}

TEST(SubstrateAmplitude, PreparedConstantsReproduceTheDeviationParameterExactly) {
    EngineState s;
    setUpSilicon004(s);
    LayerStack stack;
    LayeredConstants c;
    prepareUnstrainedLamella(s, 100, stack, c);
    const Extended f1 =
        formFactor(s.scatteringCoefficients[1], s.scatteringCoefficients[2],
                   s.scatteringCoefficients[3], s.scatteringCoefficients[4],
                   s.scatteringCoefficients[5], s.scatteringCoefficients[6], stack.s[0]);
    const auto F = structureFactor(f1, f1, s.radiationRecord[kSlotF1Real],
                                   s.radiationRecord[kSlotF1Imag], s.radiationRecord[kSlotF2Real],
                                   s.radiationRecord[kSlotF2Imag], s.sitePositions, 0, 0, 4);
    for (int theta : {-700, -13, 0, 1, 5, 250}) {
        const Extended rad = kPi * theta * kArcsecFactor;
        const Complex direct = deviationParameter(rad, stack.thetaB[0], c.gamma0, c.gammaH,
                                                  stack.Gamma[0], -F.F0i, F.strength, F.kappa);
        const Complex prepared = slabDeviation(c.slab[0], rad);
        EXPECT_EQ(direct, prepared) << theta;
    }
}

}  // namespace
}  // namespace kelvarin

#include "engine/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

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
    s.layerCount = 1;
    StrainProfile profile;
    strainProfile(testing::twoGaussRow(10, 0, 100, 50, 50), kModelTwoGauss, 1, profile);
    LayerStack stack;
    layerStack(profile, s, stack);
    LayeredConstants c;
    prepareLayered(s, stack, c);
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

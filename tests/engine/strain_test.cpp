#include "engine/strain.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "engine/engine_error.hpp"
#include "engine/geometry.hpp"
#include "engine_fixture.hpp"

namespace kelvarin {
namespace {

using testing::twoGaussRow;

TEST(StrainProfile, TwoGaussSamplesTheLowerEdgeOfEachLamellaSurfaceLast) {
    StrainProfile p;
    // τ = 0.01 at ρ = 1000 Å, σ1 = 200 Å towards the surface, σ2 = 400 Å into the bulk.
    strainProfile(twoGaussRow(10, 0.01f, 1000, 200, 400), kModelTwoGauss, 10, p);
    EXPECT_DOUBLE_EQ(p.thickness, 500.0);  // five times ρ over ten lamellae
    for (int j = 1; j <= 10; ++j) {
        const double z = 500.0 * j;  // lower edge of the j-th lamella from the surface
        const double sigma = z > 1000 ? 400 : 200;
        // The exponent is (z − ρ)²/(4σ²).
        const double expected = 0.01f * std::exp(-(z - 1000) * (z - 1000) / (4 * sigma * sigma));
        EXPECT_NEAR(p.strain[10 - j + 1], expected, 1e-17) << j;
        EXPECT_EQ(p.profileStrain[10 - j + 1], static_cast<Extended>(p.strain[10 - j + 1]));
        EXPECT_EQ(p.profileThickness[j], 500);
    }
    // z = ρ exactly (j = 2) takes the σ1 branch and gives τ itself.
    EXPECT_EQ(p.strain[9], static_cast<double>(0.01f));

    // ρ = 0: lamellae of zero thickness, all at the maximum strain.
    strainProfile(twoGaussRow(10, 0.02f, 0, 30, 30), kModelTwoGauss, 5, p);
    EXPECT_EQ(p.thickness, 0);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(p.strain[i], static_cast<double>(0.02f));

    // One lamella of thickness 5ρ with the strain of its lower edge.
    strainProfile(twoGaussRow(10, 0.01f, 100, 50, 200), kModelTwoGauss, 1, p);
    EXPECT_DOUBLE_EQ(p.thickness, 500.0);
    EXPECT_NEAR(p.strain[1], 0.01f * std::exp(-1.0), 1e-12);
}

TEST(StrainProfile, PearsonVIIFollowsItsClosedForm) {
    // Lanczos against the library's log-gamma.
    for (double v : {0.25, 0.5, 1.0, 1.5, 3.7, 12.0}) {
        EXPECT_NEAR(lnGamma(v), std::lgamma(static_cast<double>(static_cast<float>(v))), 1e-9) << v;
    }
    StrainProfile p;
    const float xc = 300, A = 2.5f, w = 250, mu = 1.5f;
    strainProfile(CandidateRow{10, xc, A, w, mu, 0}, kModelPearsonVII, 12, p);
    EXPECT_DOUBLE_EQ(p.thickness, 62.01125);
    const double q = std::pow(2.0, 1.0 / mu) - 1;
    const double C =
        2 * A * std::sqrt(static_cast<double>(mu)) *
        std::tgamma(static_cast<double>(static_cast<float>(q))) /
        (std::numbers::pi * w * std::tgamma(static_cast<double>(static_cast<float>(mu - 0.5))));
    for (int j = 1; j <= 12; ++j) {
        const double z = j * 62.01125;
        const double expected =
            2.358 * C *
            std::pow(1 + 4 * q * (z - xc) * (z - xc) / (w * w), -static_cast<double>(mu));
        EXPECT_NEAR(p.strain[12 - j + 1], expected, 1e-9 * std::abs(expected) + 1e-15) << j;
    }
}

TEST(StrainProfile, RefusesCandidatesTheModelsCannotEvaluate) {
    struct Case {
        const char* what;
        CandidateRow row;
        int model, layers;
        const char* message;
    };
    const float nan = std::nanf("");
    const Case cases[] = {
        {"no layer", twoGaussRow(10, 0.01f, 100, 50, 50), 0, 0, "between 1 and 49"},
        {"50 layers", twoGaussRow(10, 0.01f, 100, 50, 50), 0, 50, "between 1 and 49"},
        {"sigma1 0", twoGaussRow(10, 0.01f, 100, 0, 50), 0, 10, "half-widths"},
        {"sigma2 0", twoGaussRow(10, 0.01f, 100, 50, 0), 0, 10, "half-widths"},
        {"negative depth", twoGaussRow(10, 0.01f, -100, 50, 50), 0, 10, "negative"},
        {"nan", twoGaussRow(10, nan, 100, 50, 50), 0, 10, "not a number"},
        {"mu 0.5", CandidateRow{10, 300, 1, 250, 0.5f, 0}, 1, 10, "above 0.5"},
        {"mu negative", CandidateRow{10, 300, 1, 250, -2, 0}, 1, 10, "above 0.5"},
        {"w 0", CandidateRow{10, 300, 1, 0, 1.5f, 0}, 1, 10, "width w"},
        {"unknown model", twoGaussRow(10, 0.01f, 100, 50, 50), 2, 10, "model"},
    };
    for (const Case& c : cases) {
        StrainProfile p;
        try {
            strainProfile(c.row, static_cast<ProfileKind>(c.model), c.layers, p);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.what << ": " << e.what();
        }
    }
}

TEST(LayerStack, StrainStretchesTheCellAlongTheNormal) {
    EngineState s;
    testing::setUpSilicon004(s);
    StrainProfile p;
    strainProfile(twoGaussRow(10, 0.01f, 1000, 1e9f, 1e9f), kModelTwoGauss, 4, p);
    LayerStack st;
    layerStack(p, s, st);
    const double lambda = 1.540562;
    EXPECT_EQ(st.lambda, lambda);
    EXPECT_NEAR(static_cast<double>(st.d[0]), 5.4309 / 4, 1e-15);
    EXPECT_NEAR(static_cast<double>(st.thetaB[0]), std::asin(lambda * 4 / (2 * 5.4309)), 1e-15);
    for (int i = 1; i <= 4; ++i) {
        const double eps = p.strain[i];
        // (0 0 l): d grows with sqrt(1 + ε), V with (1 + ε).
        EXPECT_NEAR(static_cast<double>(st.d[i]), 5.4309 / 4 * std::sqrt(1 + eps), 1e-14);
        EXPECT_NEAR(static_cast<double>(st.V[i] / st.V[0]), 1 + eps, 1e-15);
        EXPECT_NEAR(static_cast<double>(st.Gamma[i] * (1 + eps) / st.Gamma[0]), 1, 1e-15);
        EXPECT_EQ(st.thickness[i], 1250);
    }
    // The forward term is negated: −(4·f1'' + 4·f2'').
    EXPECT_NEAR(static_cast<double>(st.F0i), -8 * 0.3294, 1e-15);

    // A compression that puts the lamella's reflection beyond reach is refused.
    s.radiationRecord[kSlotLambda] = 2.70;
    strainProfile(twoGaussRow(10, -0.02f, 1000, 1e9f, 1e9f), kModelTwoGauss, 4, p);
    EXPECT_THROW(layerStack(p, s, st), EngineError);
}

}  // namespace
}  // namespace kelvarin

#include "engine/layered_simd.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_error.hpp"
#include "engine/evaluation.hpp"
#include "engine/strain.hpp"
#include "engine_fixture.hpp"

namespace kelvarin {
namespace {

using testing::setUpCrystal;
using testing::twoGaussRow;

/// Every instruction set this machine runs; the baseline is always among them.
std::vector<SimdLevel> levels() {
    std::vector<SimdLevel> out;
    for (SimdLevel l : {SimdLevel::Sse2, SimdLevel::Avx2, SimdLevel::Avx512})
        if (simdLevelAvailable(l)) out.push_back(l);
    return out;
}

/// Agreement of the two paths: a relative 1e-9, and below an absolute 1e-15 for the far tails
/// where R is a few 1e-9 and both paths round x − sqrt(x² − 1) with |x| in the thousands.
constexpr double kRelative = 1e-9;
constexpr double kFloor = 1e-15;

struct Deviation {
    double worst = 0;  ///< largest |ΔR| / (kRelative·R + kFloor)
    int points = 0;
};

Deviation compare(const ComputedCurve& ref, const ComputedCurve& fast, const std::string& what) {
    EXPECT_EQ(fast.calcComputed, ref.calcComputed) << what;
    EXPECT_EQ(fast.calcCount, ref.calcCount) << what;
    Deviation d;
    for (int i = 0; i < ref.calcComputed; ++i) {
        EXPECT_EQ(fast.calcAngle[i], ref.calcAngle[i]) << what;
        const double r = static_cast<double>(ref.calcRaw[i]);
        const double f = static_cast<double>(fast.calcRaw[i]);
        const double bound = kRelative * r + kFloor;
        d.worst = std::max(d.worst, std::abs(f - r) / bound);
        EXPECT_LE(std::abs(f - r), bound)
            << what << " at " << static_cast<double>(ref.calcAngle[i]) << "″: reference " << r
            << ", fast " << f;
        EXPECT_EQ(fast.calcCurve[i], fast.calcRaw[i]);
        ++d.points;
    }
    EXPECT_NEAR(static_cast<double>(fast.calcMax), static_cast<double>(ref.calcMax),
                kRelative * static_cast<double>(ref.calcMax))
        << what;
    return d;
}

struct Crystal {
    const char* name;
    Extended a;
    int h, k, l;
};

TEST(FastLayeredCurve, AgreesWithTheReferenceOnEveryPoint) {
    // Symmetric and asymmetric reflections of an elemental and a compound crystal.
    const Crystal crystals[] = {{"Si", 5.4309L, 0, 0, 4},
                                {"Si", 5.4309L, 2, 2, 4},
                                {"GaAs", 5.65325L, 1, 1, 5},
                                {"GaAs", 5.65325L, 0, 0, 4}};
    struct Profile {
        int model;
        CandidateRow row;
    };
    // 2Gauss: w, τ, ρ, σ1, σ2; Pearson VII: w, xc, A, w, μ. Tensile and compressive, thin and
    // thick, narrow and wide.
    const Profile profiles[] = {{kModelTwoGauss, twoGaussRow(12, 0.008f, 1500, 400, 900)},
                                {kModelTwoGauss, twoGaussRow(8, -0.004f, 300, 80, 2500)},
                                {kModelTwoGauss, twoGaussRow(8, 0.02f, 20000, 8000, 30000)},
                                {kModelPearsonVII, CandidateRow{10, 300, 2.5f, 250, 1.5f, 0}},
                                {kModelPearsonVII, CandidateRow{10, 900, -1.0f, 600, 4.0f, 0}}};
    const int layerCounts[] = {1, 2, 7, 16, 33, 48, 49};
    int curves = 0;
    double worst = 0;
    for (const Crystal& c : crystals) {
        auto s = std::make_unique<EngineState>();
        // An odd number of points, so that the last vector of every width is partly filled.
        setUpCrystal(*s, c.name, c.a, c.h, c.k, c.l, 4, -2601, 1000, 1);
        for (const Profile& pr : profiles) {
            for (int layers : layerCounts) {
                StrainProfile p;
                strainProfile(pr.row, pr.model, layers, p);
                LayerStack stack;
                try {
                    layerStack(p, *s, stack);
                } catch (const CandidateRejected&) {
                    continue;
                }
                LayeredConstants constants;
                prepareLayered(*s, stack, constants);
                for (int theory : {kTheoryKinematical, kTheoryDynamical}) {
                    s->theoryChoice = theory;
                    auto ref = std::make_unique<ComputedCurve>();
                    layeredCurve(*s, constants, *ref, LayeredPath::Reference);
                    for (SimdLevel level : levels()) {
                        auto fast = std::make_unique<ComputedCurve>();
                        layeredCurveFast(*s, constants, *fast, level);
                        const std::string what =
                            std::string(c.name) + " " + std::to_string(c.h) + std::to_string(c.k) +
                            std::to_string(c.l) + " model " + std::to_string(pr.model) + " " +
                            std::to_string(layers) + " lamellae, theory " +
                            std::to_string(theory) + ", " + simdLevelName(level);
                        worst = std::max(worst, compare(*ref, *fast, what).worst);
                        ++curves;
                    }
                }
            }
        }
    }
    EXPECT_GT(curves, 200);
    std::printf("compared %d curves, worst deviation %.3g of the bound\n", curves, worst);
}

}  // namespace
}  // namespace kelvarin

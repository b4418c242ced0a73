#include "engine/layered_simd.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
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

/// Agreement of the two paths: |ΔR| ≤ 1e-9·R + 1e-13. The absolute part takes over below
/// R = 1e-4 (the peak is about 1): in the far tails each dynamical step forms the small amplitude
/// as x + (≈ −x) with |x| in the hundreds, so either path carries a rounding error of a few
/// 1e-16·|x| per lamella, which over 49 lamellae reaches a few 1e-9 of R. Both paths are that
/// far from an extended-precision evaluation of the same recursion.
constexpr double kRelative = 1e-9;
constexpr double kFloor = 1e-13;

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
        EXPECT_LE(std::abs(f - r), bound) << what << " at " << static_cast<double>(ref.calcAngle[i])
                                          << "″: reference " << r << ", fast " << f;
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
        ProfileKind model;
        CandidateRow row;
    };
    // 2Gauss: w, τ, ρ, σ1, σ2; Pearson VII: w, xc, A, w, μ. Tensile and compressive, thin and
    // thick, narrow and wide.
    const Profile profiles[] = {{kModelTwoGauss, twoGaussRow(12, 0.008f, 1500, 400, 900)},
                                {kModelTwoGauss, twoGaussRow(8, -0.004f, 300, 80, 2500)},
                                {kModelTwoGauss, twoGaussRow(8, 0.02f, 20000, 8000, 30000)},
                                {kModelPearsonVII, CandidateRow{10, 300, 2.5f, 250, 1.5f, 0}},
                                {kModelPearsonVII, CandidateRow{10, 900, -1.0f, 600, 4.0f, 0}}};
    const int layerCounts[] = {1, 2, 16, 49};
    int curves = 0;
    double worst = 0;
    for (const Crystal& c : crystals) {
        auto s = std::make_unique<EngineState>();
        // An odd number of points, so that the last vector of every width is partly filled.
        setUpCrystal(*s, c.name, c.a, c.h, c.k, c.l, 4, -2601, 1000, 2);
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
                for (Theory theory : {kTheoryKinematical, kTheoryDynamical}) {
                    s->theoryChoice = theory;
                    auto ref = std::make_unique<ComputedCurve>();
                    layeredCurve(*s, constants, *ref, LayeredPath::Reference);
                    for (SimdLevel level : levels()) {
                        auto fast = std::make_unique<ComputedCurve>();
                        layeredCurveFast(*s, constants, *fast, level);
                        const std::string what =
                            std::string(c.name) + " " + std::to_string(c.h) + std::to_string(c.k) +
                            std::to_string(c.l) + " model " +
                            std::to_string(static_cast<int>(pr.model)) + " " +
                            std::to_string(layers) + " lamellae, theory " +
                            std::to_string(static_cast<int>(theory)) + ", " + simdLevelName(level);
                        worst = std::max(worst, compare(*ref, *fast, what).worst);
                        ++curves;
                    }
                }
            }
        }
    }
    EXPECT_GT(curves, 100);
    std::printf("compared %d curves, the worst point at %.2f of its bound\n", curves, worst);
}

/// Si 0 0 4 with a 16-lamella 2Gauss stack, prepared.
struct Prepared {
    std::unique_ptr<EngineState> state = std::make_unique<EngineState>();
    LayeredConstants constants;

    explicit Prepared(Theory theory, int start = -1500, int end = 500) {
        setUpCrystal(*state, "Si", 5.4309L, 0, 0, 4, 4, start, end, 1);
        state->theoryChoice = theory;
        StrainProfile p;
        strainProfile(twoGaussRow(12, 0.008f, 1500, 400, 900), kModelTwoGauss, 16, p);
        LayerStack stack;
        layerStack(p, *state, stack);
        prepareLayered(*state, stack, constants);
    }
};

TEST(FastLayeredCurve, PointsTheKernelCannotTakeGoToTheReferenceArithmetic) {
    for (Theory theory : {kTheoryKinematical, kTheoryDynamical}) {
        // A 2 mm, almost transparent, unstrained lamella: beyond about 15″ from the peak its
        // phase runs past what the vector sine and cosine reduce, while its attenuation stays
        // near 1. Those points come from the reference arithmetic, bit for bit.
        for (const auto& [start, end] : {std::pair{-1500, -100}, std::pair{-120, 120}}) {
            Prepared pr(theory, start, end);
            SlabConstants& thick = pr.constants.slab[5];
            thick.g = -1e-7;
            thick.strainShift = 0;
            thick.T = Complex(5e4, 5e4 * thick.kappa);
            // A lamella of zero thickness in between is skipped.
            pr.constants.slab[9].T = Complex(0, 0);
            auto ref = std::make_unique<ComputedCurve>();
            layeredCurve(*pr.state, pr.constants, *ref, LayeredPath::Reference);
            for (SimdLevel level : levels()) {
                auto fast = std::make_unique<ComputedCurve>();
                layeredCurveFast(*pr.state, pr.constants, *fast, level);
                for (int i = 0; i < ref->calcComputed; ++i) {
                    const double r = static_cast<double>(ref->calcRaw[i]);
                    const double f = static_cast<double>(fast->calcRaw[i]);
                    const double angle = static_cast<double>(ref->calcAngle[i]);
                    if (std::abs(angle) > 20) {
                        ASSERT_EQ(f, r) << angle << "″, " << simdLevelName(level);
                    } else {
                        // Where the kernel takes it, a phase of some 1e5 radians carries a
                        // rounding of some 1e-11 in either path: agreement to 1e-7 only.
                        EXPECT_NEAR(f, r, 1e-7 * r) << angle << "″, " << simdLevelName(level);
                    }
                }
            }
        }
    }
}

TEST(FastLayeredCurve, RejectsANonFiniteReflectivityAsTheReferenceDoes) {
    for (Theory theory : {kTheoryKinematical, kTheoryDynamical}) {
        Prepared pr(theory, -40, 40);
        pr.constants.slab[3].T = Complex(std::nan(""), 0);
        std::string expected;
        try {
            layeredCurve(*pr.state, pr.constants, *std::make_unique<ComputedCurve>(),
                         LayeredPath::Reference);
        } catch (const CandidateRejected& e) {
            expected = e.what();
        }
        ASSERT_NE(expected.find("-40 seconds of arc"), std::string::npos) << expected;
        for (SimdLevel level : levels()) {
            try {
                layeredCurveFast(*pr.state, pr.constants, *std::make_unique<ComputedCurve>(),
                                 level);
                ADD_FAILURE() << "no rejection with " << simdLevelName(level);
            } catch (const CandidateRejected& e) {
                EXPECT_EQ(std::string(e.what()), expected);
            }
        }
    }
}

TEST(FastLayeredCurve, IsWhatAnEvaluationUsesUnlessTheReferenceIsAskedFor) {
    EXPECT_TRUE(simdLevelAvailable(SimdLevel::Sse2));
    EXPECT_TRUE(simdLevelAvailable(bestSimdLevel()));
    auto s = std::make_unique<EngineState>();
    setUpCrystal(*s, "Si", 5.4309L, 2, 2, 4, 4, -1200, 400, 2);
    s->layerCount = 20;
    s->theoryChoice = kTheoryDynamical;
    s->normMode = kNormFitBackground;
    s->curveStore.measLast = 700;
    for (int i = 0; i <= 700; ++i)
        s->curveStore.measIntensity[i] = 5 + (i % 23);
    s->curveStore.measMax = 27;
    const CandidateRow row = twoGaussRow(10, 0.006f, 900, 300, 600);
    auto fast = std::make_unique<Workspace>();
    auto ref = std::make_unique<Workspace>();
    EXPECT_EQ(fast->layeredPath, LayeredPath::Fast);
    ref->layeredPath = LayeredPath::Reference;
    const double ef = static_cast<double>(evaluateProfile(*s, row, *fast));
    const double er = static_cast<double>(evaluateProfile(*s, row, *ref));
    EXPECT_NEAR(ef, er, 1e-9 * er);
    auto direct = std::make_unique<ComputedCurve>();
    layeredCurveFast(*s, fast->constants, *direct, bestSimdLevel());
    for (int i = 0; i < direct->calcComputed; ++i)
        ASSERT_EQ(direct->calcRaw[i], fast->curve.calcRaw[i]) << i;
}

}  // namespace
}  // namespace kelvarin

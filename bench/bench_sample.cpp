// Cost of samples with damage and lamellae of their own thickness on the vector angle loop, and
// of one whole fit evaluation of a B-spline strain and damage profile: SiC 0 0 4 over 300 points.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "engine/evaluation.hpp"
#include "engine/sample.hpp"
#include "fit/fit_problem.hpp"
#include "fit/sample_profile_model.hpp"

namespace kelvarin {
namespace {

constexpr int kAngles = 300;

/// SiC 0 0 4 at λ = 1.5498 Å, 300 angles in 18″ steps from −3780″, a positive measured curve.
std::shared_ptr<EngineState> siliconCarbide() {
    auto s = std::make_shared<EngineState>();
    storeSetup(buildSetup(Crystal::fromCatalogue("SiC"),
                          Reflection{0, 0, 4, Radiation::synchrotron(1.5498L)}),
               *s);
    CurveStore& cs = s->curveStore;
    cs.scanStart = -3780;
    cs.scanStep = 18;
    cs.scanEnd = cs.scanStart + cs.scanStep * (kAngles - 1);
    cs.measLast = kAngles - 1;
    for (int i = 0; i < kAngles; ++i) {
        cs.measAngle[static_cast<std::size_t>(i)] = cs.scanStart + cs.scanStep * i;
        cs.measIntensity[static_cast<std::size_t>(i)] = 10 + (i % 37);
    }
    cs.measMax = 46;
    s->theoryChoice = kTheoryDynamical;
    s->normMode = kNormFitBackground;
    return s;
}

/// The layered curve of `lamellae` lamellae of different thickness, with (1) or without (0)
/// damage; the counter reads as time per angle-lamella step.
void BM_SampleCurve(benchmark::State& st) {
    const int lamellae = static_cast<int>(st.range(0));
    const bool damaged = st.range(1) != 0;
    const auto s = siliconCarbide();
    Sample sample;
    for (int i = 0; i < lamellae; ++i) {
        const double x = (i + 0.5) / lamellae;
        sample.lamellae.push_back({15.0 + (i % 3), 0.011 * std::exp(-(x - 0.3) * (x - 0.3) / 0.02),
                                   damaged ? 0.4 + 0.6 * x : 1.0});
    }
    auto ws = std::make_unique<Workspace>();
    layerStack(sample, *s, ws->stack);
    for (auto _ : st) {
        prepareLayered(*s, ws->stack, ws->constants);
        layeredCurve(*s, ws->constants, ws->curve);
        benchmark::DoNotOptimize(ws->curve.calcRaw[kAngles / 2]);
    }
    st.counters["per_step"] = benchmark::Counter(
        static_cast<double>(kAngles) * lamellae,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SampleCurve)
    ->ArgNames({"lamellae", "damage"})
    ->ArgsProduct({{60, 200}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

/// One fit evaluation of a B-spline strain (10 weights) and damage (8 weights) over 1200 Å cut
/// into 60 lamellae: profile, stack, curve, broadening, scaling and error.
void BM_BSplineEvaluation(benchmark::State& st) {
    using namespace fit;
    FitProblem problem(makeProfileModel(
        ProfileSettings{ProfileKind::BSpline, DamageKind::BSpline, 16, 10, 8, 20}));
    problem.addDataset(siliconCarbide(), {"width", "arcsec", 40, 10, 80, 5, true}, "bench");
    std::vector<Extended> values = problem.parameters().values();
    values[0] = 1200;
    ProblemWorkspace ws = problem.makeWorkspace();
    for (auto _ : st)
        benchmark::DoNotOptimize(problem.evaluate(values, ws));
    if (ws.sample.lamellae.size() != 60) st.SkipWithError("not 60 lamellae");
}
BENCHMARK(BM_BSplineEvaluation)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvarin

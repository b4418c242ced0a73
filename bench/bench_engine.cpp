// Cost of the layered rocking curve and of one whole candidate evaluation: 2000 scan points,
// 16 or 48 lamellae, kinematical and dynamical theory, on one core; the reference angle loop
// side by side with the vector kernel of each instruction set.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/broadening.hpp"
#include "engine/evaluation.hpp"
#include "engine/instrument_function.hpp"
#include "engine/layered_simd.hpp"
#include "engine/sample.hpp"
#include "engine/scattering.hpp"

namespace kelvarin {
namespace {

constexpr int kAngles = 2000;

/// Si 0 0 4 with Cu Kα1, 2000 whole-second angles around the substrate peak, a measured curve
/// that is positive everywhere.
EngineState siliconState(int layers, Theory theory) {
    EngineState s;
    storeSetup(buildSetup(Crystal::fromCatalogue("Si"), Reflection{0, 0, 4, Radiation{4, 0}}), s);
    s.curveStore.scanStart = -1600;
    s.curveStore.scanEnd = s.curveStore.scanStart + kAngles - 1;
    s.curveStore.scanStep = 1;
    s.layerCount = layers;
    s.theoryChoice = theory;
    s.normMode = kNormFitBackground;
    s.curveStore.measLast = kAngles - 2;
    for (int i = 0; i < kAngles; ++i)
        s.curveStore.measIntensity[i] = 10 + (i % 37);
    s.curveStore.measMax = 46;
    return s;
}

const CandidateRow kCandidate{12.0f, 0.008f, 1500.0f, 400.0f, 900.0f, 0.0f};

/// Per-step time: the counter is inverted, so it reads as time per angle-lamella step.
void reportSteps(benchmark::State& st, int layers) {
    st.counters["per_step"] = benchmark::Counter(
        static_cast<double>(kAngles) * layers,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LayeredCurve(benchmark::State& st) {
    const auto theory = static_cast<Theory>(st.range(0));
    const int layers = static_cast<int>(st.range(1));
    const EngineState s = siliconState(layers, theory);
    auto ws = std::make_unique<Workspace>();
    strainProfile(kCandidate, s.profileModel, layers, ws->profile);
    layerStack(ws->profile, s, ws->stack);
    // path 0: the reference loop; 1, 2, 3: the vector kernel for SSE2, AVX2, AVX-512.
    const int path = static_cast<int>(st.range(2));
    const SimdLevel level = path == 3   ? SimdLevel::Avx512
                            : path == 2 ? SimdLevel::Avx2
                                        : SimdLevel::Sse2;
    if (path > 0 && !simdLevelAvailable(level)) {
        st.SkipWithError("instruction set not available on this machine");
        return;
    }
    for (auto _ : st) {
        prepareLayered(s, ws->stack, ws->constants);
        if (path == 0) {
            layeredCurve(s, ws->constants, ws->curve, LayeredPath::Reference);
        } else {
            layeredCurveFast(s, ws->constants, ws->curve, level);
        }
        benchmark::DoNotOptimize(ws->curve.calcRaw[kAngles / 2]);
    }
    reportSteps(st, layers);
}
BENCHMARK(BM_LayeredCurve)
    ->ArgNames({"dynamical", "layers", "path"})
    ->ArgsProduct({{0, 1}, {16, 48}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

/// Classic and full physics side by side on the same stack (48 lamellae), per angle-lamella
/// step: physics 0 classic, 1 full σ, 2 full unpolarised (two curves, σ and π); path 0 the
/// reference loop, 1 the widest vector kernel of the machine.
void BM_LayeredPhysics(benchmark::State& st) {
    const auto theory = static_cast<Theory>(st.range(0));
    const int physics = static_cast<int>(st.range(1));
    const int layers = 48;
    const EngineState s = siliconState(layers, theory);
    auto ws = std::make_unique<Workspace>();
    strainProfile(kCandidate, s.profileModel, layers, ws->profile);
    layerStack(ws->profile, s, ws->stack);
    PhysicsOptions options;
    if (physics > 0) {
        options = fullPhysicsDefaults();
        options.polarisation = physics == 1 ? Polarisation::Sigma : Polarisation::Unpolarised;
    }
    const LayeredPath path = st.range(2) == 0 ? LayeredPath::Reference : LayeredPath::Fast;
    for (auto _ : st) {
        prepareLayered(s, ws->stack, options, ws->constants);
        layeredCurve(s, ws->constants, ws->curve, path);
        benchmark::DoNotOptimize(ws->curve.calcRaw[kAngles / 2]);
    }
    reportSteps(st, layers);
}
BENCHMARK(BM_LayeredPhysics)
    ->ArgNames({"dynamical", "physics", "fast"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

/// The angle-independent part alone (structure factors of every lamella), which BM_LayeredCurve
/// includes; reported per angle-lamella step of the same curve for comparison.
void BM_PrepareLayered(benchmark::State& st) {
    const int layers = static_cast<int>(st.range(0));
    const EngineState s = siliconState(layers, kTheoryDynamical);
    auto ws = std::make_unique<Workspace>();
    strainProfile(kCandidate, s.profileModel, layers, ws->profile);
    layerStack(ws->profile, s, ws->stack);
    for (auto _ : st) {
        prepareLayered(s, ws->stack, ws->constants);
        benchmark::DoNotOptimize(ws->constants.slab[1].T);
    }
    reportSteps(st, layers);
}
BENCHMARK(BM_PrepareLayered)->ArgName("layers")->Arg(48)->Unit(benchmark::kMicrosecond);

void BM_Evaluation(benchmark::State& st) {
    const auto theory = static_cast<Theory>(st.range(0));
    const int layers = static_cast<int>(st.range(1));
    const EngineState s = siliconState(layers, theory);
    auto ws = std::make_unique<Workspace>();
    ws->layeredPath = st.range(2) == 0 ? LayeredPath::Reference : LayeredPath::Fast;
    for (auto _ : st)
        benchmark::DoNotOptimize(evaluateProfile(s, kCandidate, *ws));
    reportSteps(st, layers);
}
BENCHMARK(BM_Evaluation)
    ->ArgNames({"dynamical", "layers", "fast"})
    ->Args({0, 16, 0})
    ->Args({0, 16, 1})
    ->Args({1, 16, 0})
    ->Args({1, 16, 1})
    ->Args({1, 48, 0})
    ->Args({1, 48, 1})
    ->Unit(benchmark::kMillisecond);

/// A pseudo-Voigt kernel (FWHM 40″, Lorentzian fraction 0.3, reaching over the whole scan) built
/// and applied to a 3000-point curve on a 1″ grid, as in every evaluation of a fit: the wide
/// kernel goes through the Fourier transform.
void BM_PseudoVoigtBroadening(benchmark::State& st) {
    const int n = 3000;
    std::vector<Extended> raw(n), out(n);
    for (int i = 0; i < n; ++i) {
        const double t = (i - 2000) * 1.0;
        raw[static_cast<std::size_t>(i)] = 1e-6 + std::exp(-t * t / 50);
    }
    InstrumentKernel k;
    for (auto _ : st) {
        buildInstrumentKernel({InstrumentShape::PseudoVoigt, nullptr}, {40, 0.3L, 0}, 1, n, k);
        broaden(k, raw, n, out, n - 1, kWideDirectTerms);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_PseudoVoigtBroadening)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvarin

// One curve of a sample as kelvarin.simulate computes it from Python: set-up, 16 lamellae, 2000
// whole-second angles by the reference arithmetic, broadened by an 8.5″ instrument Gaussian. The
// Python side of the comparison is tools/time_simulate.py.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/sample_curve.hpp"

namespace kelvarin {
namespace {

void BM_SampleCurve(benchmark::State& st) {
    SampleCurveRequest request;
    for (int i = 0; i < 16; ++i)
        request.sample.lamellae.push_back({100.0, (0.5 - 0.03 * i) / 100.0, 0.9});
    request.width = 8.5L;
    std::vector<double> angles(2000), out(2000);
    for (int p = 0; p < 2000; ++p)
        angles[static_cast<std::size_t>(p)] = -1000.0 + p;
    const Crystal crystal = Crystal::fromCatalogue("GaAs");
    const Reflection reflection{0, 0, 4, Radiation::tubeLine("Cua1")};
    for (auto _ : st) {
        request.setup = buildSetup(crystal, reflection);
        sampleCurve(request, angles, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_SampleCurve)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvarin

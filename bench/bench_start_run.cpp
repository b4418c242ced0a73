// "Start" over a 40000-point scan: the perfect-crystal curve of Si 0 0 4 with Cu K-alpha1,
// broadened, in a calculation job and in a refinement job that reads a measured curve.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "app/platform.hpp"
#include "engine/state.hpp"
#include "results/formcalc.hpp"
#include "setup/formdata.hpp"

namespace {

using namespace kelvarin;

void setUp(Application& app, bool refinement, const std::string& file) {
    Tformdata& d = app.formdata();
    d.Label1.caption = "Si";
    d.Label2.caption = d.Label3.caption = d.Label4.caption = "5.4309";
    const char* s1[4][3] = {
        {"0", "0", "0"}, {"0", "0.5", "0.5"}, {"0.5", "0", "0.5"}, {"0.5", "0.5", "0"}};
    const char* s2[4][3] = {{"0.25", "0.25", "0.25"},
                            {"0.25", "0.75", "0.75"},
                            {"0.75", "0.25", "0.75"},
                            {"0.75", "0.75", "0.25"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) {
            d.posat1.setCell(c, r, s1[r][c]);
            d.posat2.setCell(c, r, s2[r][c]);
        }
    d.h.text = "0";
    d.k.text = "0";
    d.l.text = "4";
    d.thetai.text = "-20000";
    d.thetaf.text = "19999";
    d.step.text = "1";
    d.radiacao.select(4);
    app.formmain().RadioGroup1.itemIndex = refinement ? 1 : 0;
    app.formmain().chkInteiro.checked = true;
    app.formmain().file.text = file;
}

void run(benchmark::State& state, bool refinement) {
    const std::string file =
        (std::filesystem::temp_directory_path() / "kelvarin_bench_scan.dat").string();
    if (refinement) {
        std::ofstream out(file);
        // 39999 pairs: the repeated last point takes the last slot of the arrays.
        for (int t = -20000; t <= 19998; ++t)
            out << t << ' ' << 30 + 20000 * std::exp(-(t + 2) * (t + 2) / 40.0) << '\n';
    }
    HeadlessPlatform platform;
    Application app(platform);
    setUp(app, refinement, file);
    for (auto _ : state) {
        app.formcalc().Button2.enabled = true;
        app.dispatch([&] { app.formcalc().Button2Click(); });
        benchmark::DoNotOptimize(app.engine().curveStore.calcCurve.data());
    }
    if (!platform.allMessages().empty() || app.engine().curveStore.calcCount != kCurveCapacity)
        state.SkipWithError("the run did not compute 40000 points");
    state.SetItemsProcessed(state.iterations() * kCurveCapacity);
    std::remove(file.c_str());
}

void BM_StartRunCalculation40000(benchmark::State& state) {
    run(state, false);
}
void BM_StartRunRefinement40000(benchmark::State& state) {
    run(state, true);
}

BENCHMARK(BM_StartRunCalculation40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartRunRefinement40000)->Unit(benchmark::kMillisecond);

}  // namespace

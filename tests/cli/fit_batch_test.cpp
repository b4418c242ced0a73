// `kelvarin-cli fit` with differential evolution, the polish and reports, and `--batch`: a
// corrupt file among good ones is reported and the others are fitted.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "cli/cli_fixture.hpp"

namespace kelvarin::cli::testing {
namespace {

/// A GaAs 0 0 4 scan of 301 points with a peak and a tail of counts.
std::string measuredCurve(double tail) {
    std::string text;
    for (int t = -400; t <= 200; t += 2) {
        const double counts = 30 + 1e5 * std::exp(-t * t / 800.0) +
                              tail * std::exp(-(t + 250.0) * (t + 250.0) / 4000);
        text += std::to_string(t) + " " + std::to_string(std::lround(counts)) + "\n";
    }
    return text;
}

const char* const kProject = R"([profile]
model = "2gauss"
layers = 8
tau = { value = 0.004, min = 0.003, max = 0.005 }
ro = { value = 300, min = 100, max = 500 }
sigma1 = 150
sigma2 = { value = 250, min = 100, max = 400 }

[[dataset]]
file = "scan.dat"
width = 8.5
background = 30

[fit]
optimizer = "de"
population = 8
generations = 3
seed = 5
polish = true
)";

class FitCommand : public TempDirTest {};

TEST_F(FitCommand, WritesReportsWithErrorsAndTheBand) {
    write("scan.dat", measuredCurve(300));
    const auto project = write("p.toml", kProject);
    const Result r = cli({"fit", "-q", "-j", "2", project.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string report = read(dir / "p.report.txt");
    EXPECT_NE(report.find("differential evolution"), std::string::npos) << report;
    EXPECT_NE(report.find("(generations)"), std::string::npos) << report;
    EXPECT_NE(report.find("ro = "), std::string::npos);
    EXPECT_NE(report.find(" ± "), std::string::npos);
    EXPECT_NE(report.find("sigma1 = 150 Å (fixed)"), std::string::npos) << report;
    EXPECT_NE(read(dir / "p.report.json").find("\"reduced_chi2\": "), std::string::npos);
    const std::string csv = read(dir / "p.profile.csv");
    EXPECT_EQ(csv.rfind("depth_angstrom,strain_percent,damage,strain_low_percent,", 0), 0u) << csv;

    // The polish alone, from the project's values.
    std::string alone = kProject;
    alone.replace(alone.find("optimizer = \"de\""), 16, "optimizer = \"none\"");
    ASSERT_EQ(cli({"fit", "-q", write("p.toml", alone).string()}).code, 0);
    const std::string polished = read(dir / "p.report.txt");
    EXPECT_NE(polished.find("Global search   none"), std::string::npos) << polished;
    EXPECT_NE(polished.find("iterations"), std::string::npos) << polished;
}

TEST_F(FitCommand, ABatchFitsTheGoodFilesPastACorruptOneAndRefusesAPatternOfNothing) {
    write("scans/a.dat", measuredCurve(300));
    write("scans/b.dat", "this is not a curve\n");
    write("scans/c.dat", measuredCurve(600));
    const auto project = write("p.toml", kProject);
    const Result r =
        cli({"fit", "-q", project.string(), "--batch", (dir / "scans/*.dat").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("b.dat"), std::string::npos) << r.err;
    const std::string table = read(dir / "p.batch.csv");
    EXPECT_EQ(table.rfind("file,tau,tau_error,ro,ro_error,sigma1,sigma1_error,", 0), 0u) << table;
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 4) << table;
    EXPECT_NE(table.find("b.dat,,,"), std::string::npos) << table;
    EXPECT_NE(table.find("failed: "), std::string::npos) << table;
    for (const char* good : {"scans/a.report.json", "scans/c.report.json"})
        EXPECT_TRUE(std::filesystem::exists(dir / good)) << good;

    const Result none = cli({"fit", project.string(), "--batch", (dir / "nothing*.dat").string()});
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.err.find("matches no file"), std::string::npos) << none.err;
}

TEST_F(FitCommand, RefusesAFitThatCannotRunNamingWhy) {
    write("scan.dat", measuredCurve(300));
    struct Case {
        const char* from;
        const char* to;
        const char* expected;
    };
    for (const Case c :
         {Case{"polish = true", "tolerance = -1", "'fit.tolerance'"},
          Case{"polish = true", "budget_s = 0", "'fit.budget_s'"},
          Case{"ro = { value = 300, min = 100, max = 500 }",
               "ro = { value = 600, min = 100, max = 500 }", "outside its limits"}}) {
        std::string text = kProject;
        text.replace(text.find(c.from), std::strlen(c.from), c.to);
        const Result r = cli({"fit", write("p.toml", text).string()});
        EXPECT_EQ(r.code, 1) << c.to;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("line "), std::string::npos) << r.err;
    }
    // Every parameter fixed: nothing to fit, and nothing written.
    std::string fixed = kProject;
    for (const char* free :
         {"{ value = 0.004, min = 0.003, max = 0.005 }", "{ value = 300, min = 100, max = 500 }",
          "{ value = 250, min = 100, max = 400 }"}) {
        const auto at = fixed.find(free);
        fixed.replace(at, std::strlen(free), "200");
    }
    const Result r = cli({"fit", write("p.toml", fixed).string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("every parameter is fixed"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "p.report.txt"));
}

}  // namespace
}  // namespace kelvarin::cli::testing

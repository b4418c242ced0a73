// `fit` on a project file gives what the windows' refinement gives for the same search, and
// `simulate --project` computes a project's curves; bad projects are refused with their line.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_fixture.hpp"

namespace kelvarin::cli::testing {
namespace {

class FitProject : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        std::filesystem::copy_file(
            std::filesystem::path(KELVARIN_SOURCE_DIR) / "examples" / "measured.dat",
            dir / "measured.dat");
    }
};

constexpr const char* kJob = R"([main]
job = "refinement"
file = "measured.dat"
integer_angles = true
layers = 12
[data_entry]
hkl = [0, 0, 4]
radiation = "Cua1"
crystal = "GaAs"
[refinement]
model = "2gauss"
tau = [0.003, 0.005, 0.0005]
ro = [50, 800, 10]
sigma1 = [50, 800, 10]
sigma2 = [50, 800, 10]
width = [7, 10, 1]
population = 20
normalisation = "lsm-fixed-background"
background = 30
generations = 8
seed = 777
[output]
name = "windows"
svg = false
)";

constexpr const char* kProject = R"([sample]
substrate = "GaAs"
[profile]
model = "2gauss"
layers = 12
tau = { min = 0.003, max = 0.005, max_mutation = 0.0005 }
ro = { min = 50, max = 800, max_mutation = 10 }
sigma1 = { min = 50, max = 800, max_mutation = 10 }
sigma2 = { min = 50, max = 800, max_mutation = 10 }
[[dataset]]
file = "measured.dat"
radiation = "Cua1"
physics = "classic"
width = { min = 7, max = 10, max_mutation = 1 }
scaling = "lsm-fixed-background"
background = 30
[fit]
population = 20
generations = 8
seed = 777
)";

TEST_F(FitProject, AProjectFitsAsTheWindowsRefineTheSameSearch) {
    ASSERT_EQ(cli({"run", write("job.toml", kJob).string(), "-q", "-j", "1"}).code, 0);
    const Result fitted = cli({"fit", write("project.toml", kProject).string(), "-j", "2"});
    ASSERT_EQ(fitted.code, 0) << fitted.err;
    // The same curve to the last written digit, and the same parameters.
    EXPECT_EQ(read(dir / "project.fit"), read(dir / "windows.fit"));
    const std::string params = read(dir / "project.params.txt");
    const std::string out = read(dir / "windows.out");
    const auto after = [](const std::string& text, const std::string& key) {
        return std::stod(text.substr(text.find(key) + key.size()));
    };
    EXPECT_NEAR(after(params, "tau = "), after(out, "Tau: "), 5e-7);
    EXPECT_NEAR(after(params, "sigma1 = "), after(out, "Sigma1: "), 5e-7);
    EXPECT_NEAR(after(params, "error = "), after(out, "Logarithmic error: "), 5e-7);
    EXPECT_NE(read(dir / "project.profile.csv").find("depth_angstrom,strain_percent,damage"),
              std::string::npos);
}

TEST_F(FitProject, SimulatesAProjectAndRefusesBadOnes) {
    const Result sim = cli({"simulate", "--project", write("p.toml", kProject).string()});
    ASSERT_EQ(sim.code, 0) << sim.err;
    EXPECT_EQ(std::count(sim.out.begin(), sim.out.end(), '\n'), 1801);

    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const std::string bad =
        write("bad.toml", std::string(kProject) + "colour = \"red\"\n").string();
    const Case cases[] = {
        {{"fit", bad}, 1, "bad.toml, line 21: key 'fit.colour' is not known"},
        {{"simulate", "--project", bad}, 1, "'fit.colour'"},
        {{"fit", (dir / "none.toml").string()}, 1, "does not exist"},
        {{"simulate", "--crystal", "GaAs"}, 2, "--hkl is required"},
    };
    for (const Case& c : cases) {
        const Result r = cli(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace kelvarin::cli::testing

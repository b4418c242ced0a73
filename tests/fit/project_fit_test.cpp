// The whole fit of a project (fit::fitProject): a progress answer stops the search after that
// generation whatever the search, the result then keeps the best candidate unpolished with its
// uncertainties, profile and curves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fit/project_fit.hpp"
#include "fit/synthetic_problem.hpp"

namespace kelvarin::fit {
namespace {

/// A noisy measured curve of the known profile, written to a file, and the text of a project
/// that fits it with `optimizer` (and the polish).
std::string projectText(const std::filesystem::path& dir, const std::string& optimizer) {
    const auto synthetic = testing::syntheticProblem(12, 5);
    const CurveStore& cs = synthetic->dataset(0).state->curveStore;
    std::ofstream out(dir / "measured.dat");
    for (int i = 0; i <= cs.measLast; ++i)
        out << static_cast<double>(cs.measAngle[static_cast<std::size_t>(i)]) << " "
            << static_cast<double>(cs.measIntensity[static_cast<std::size_t>(i)]) << "\n";
    return R"([sample]
substrate = "GaAs"
[profile]
model = "2gauss"
layers = 12
tau = { value = 0.004, min = 0.003, max = 0.005, max_mutation = 0.0005 }
ro = { value = 300, min = 50, max = 800, max_mutation = 10 }
sigma1 = { value = 150, min = 50, max = 800, max_mutation = 10 }
sigma2 = { value = 250, min = 50, max = 800, max_mutation = 10 }
[[dataset]]
file = "measured.dat"
radiation = "Cua1"
width = { value = 8.5, min = 7, max = 10, max_mutation = 1 }
scaling = "lsm-fixed-background"
background = 30
[fit]
optimizer = ")" +
           optimizer +
           R"("
polish = true
population = 12
generations = 40
seed = 5
)";
}

class ProjectFit : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("kelvarin_project_fit_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

TEST_F(ProjectFit, StopsAfterTheGenerationItsProgressAnswersNoInEverySearch) {
#ifdef KELVARIN_SANITIZED
    GTEST_SKIP() << "whole fits take minutes under the sanitizers; make test runs them";
#endif
    for (const std::string optimizer : {"evolutionary", "de", "none"}) {
        const Project project =
            parseProject(projectText(dir, optimizer), (dir / "p.toml").string());
        auto problem = buildProblem(project);
        std::vector<ProjectFitProgress> seen;
        ProjectFitOptions options;
        options.threads = 2;
        options.progress = [&seen](const ProjectFitProgress& p) {
            seen.push_back(p);
            return p.generation < 2;
        };
        const ProjectFitResult r = fitProject(project, *problem, options);
        ASSERT_FALSE(r.failed) << optimizer << ": " << r.message;
        ASSERT_TRUE(r.workspace) << optimizer;
        EXPECT_EQ(r.sample.lamellae.size(), 12u) << optimizer;
        EXPECT_EQ(r.report.values.size(), 5u) << optimizer;
        EXPECT_TRUE(r.report.uncertainty.valid)
            << optimizer << ": " << r.report.uncertainty.message;
        if (optimizer == "none") {
            // No search: nothing to stop, and the project's values are polished.
            EXPECT_TRUE(seen.empty());
            EXPECT_FALSE(r.stopped);
            EXPECT_EQ(r.report.searchStop, "none");
            EXPECT_TRUE(r.report.polish.has_value());
            continue;
        }
        ASSERT_EQ(seen.size(), 2u) << optimizer;
        EXPECT_EQ(seen[1].generation, 2);
        EXPECT_EQ(seen[1].generations, 40);
        EXPECT_TRUE(r.stopped) << optimizer;
        EXPECT_EQ(r.generations, 2) << optimizer;
        EXPECT_EQ(r.report.searchStop, "stopped") << optimizer;
        EXPECT_FALSE(r.report.polish.has_value()) << optimizer << ": a stopped fit is not polished";
        EXPECT_NEAR(static_cast<double>(r.report.global.bestError), seen[1].bestError,
                    1e-6 * seen[1].bestError)
            << optimizer;
        // The best candidate so far comes with each generation, for a display to draw.
        ProblemWorkspace ws = problem->makeWorkspace();
        ASSERT_EQ(seen[1].best.size(), 5u) << optimizer;
        EXPECT_NEAR(static_cast<double>(problem->evaluate(seen[1].best, ws)), seen[1].bestError,
                    1e-4 * seen[1].bestError)
            << optimizer;
    }
}

}  // namespace
}  // namespace kelvarin::fit

// Jobs run by the tool against the same jobs driven through the windows by hand.
#include "cli/job_runner.hpp"

#include <gtest/gtest.h>

#include "cli/cli_fixture.hpp"
#include "cli/simulate.hpp"
#include "cli/window_road.hpp"
#include "refine/formrefine.hpp"

namespace kelvarin::cli::testing {
namespace {

/// A measured curve of GaAs 0 0 4 with a strained layer, with counting noise.
std::string measuredCurve() {
    SimulationRequest r;
    r.crystal = "GaAs";
    r.radiation = 4;
    r.scanStart = -700;
    r.scanEnd = 200;
    r.scanStep = 3;
    r.structure = SimulationRequest::Structure::Model;
    r.params = {0.004f, 250.0f, 120.0f, 200.0f};
    r.width = 8.5L;
    const SimulationResult s = simulate(r);
    const std::vector<double> counts = countCurve(s.broadened, {20000, 30, 99});
    return simulationText(s, &counts);
}

const char* const kJob = R"(
[main]
job = "refinement"
file = "measured.dat"
integer_angles = true

[data_entry]
hkl = [0, 0, 4]
radiation = "Cua1"
crystal = "GaAs"

[refinement]
population = 12
generations = 4
seed = 4242

[output]
name = "fit"
)";

class JobRunnerTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        write("job/measured.dat", measuredCurve());
    }
    JobSpec job(const std::string& text) const {
        const auto path = write("job/job.toml", text);
        return readJobFile(path);
    }
};

TEST_F(JobRunnerTest, RefinementFilesAreByteIdenticalToTheWindowsWithTheSameSeed) {
    const auto cwd = std::filesystem::current_path();
    const JobOutcome outcome = runJob(job(kJob));
    EXPECT_EQ(std::filesystem::current_path(), cwd) << "the working directory is restored";
    ASSERT_EQ(outcome.files.size(), 4u);
    EXPECT_EQ(outcome.errorText.rfind("Error=", 0), 0u) << outcome.errorText;

    // The same job by hand, in a folder of its own.
    write("hand/measured.dat", read(dir / "job/measured.dat"));
    std::filesystem::current_path(dir / "hand");
    WindowRoad road;
    try {
        road.refinementToStart("measured.dat", 1, 12, 4242);
        Tformcalc& c = road.app.formcalc();
        c.ncycles.text = "4";
        road.click([&] { c.butGoClick(); });
        road.click([&] { c.Button1Click(); });
        c.nomearquivo.text = "fit";
        road.click([&] { c.Button4Click(); });
    } catch (...) {
        std::filesystem::current_path(cwd);
        throw;
    }
    std::filesystem::current_path(cwd);

    for (const char* ext : {".fit", ".out", ".ion"}) {
        const std::string byTool = read(dir / "job" / (std::string("fit") + ext));
        const std::string byHand = read(dir / "hand" / (std::string("fit") + ext));
        ASSERT_FALSE(byHand.empty()) << ext;
        EXPECT_EQ(byTool, byHand) << ext;
    }
    EXPECT_EQ(outcome.errorText, road.app.formcalc().Panel2.caption);

    // The number of threads that evaluate the candidates changes nothing in the files.
    for (int threads : {1, 3}) {
        std::string same = kJob;
        const std::string name = "threads" + std::to_string(threads);
        same.replace(same.find("name = \"fit\""), 12, "name = \"" + name + "\"");
        runJob(job(same), nullptr, threads);
        for (const char* ext : {".fit", ".out", ".ion"})
            EXPECT_EQ(read(dir / "job" / (name + ext)),
                      read(dir / "job" / (std::string("fit") + ext)))
                << threads << " threads, " << ext;
    }

    // Another seed draws another population and, here, another result.
    std::string other = kJob;
    other.replace(other.find("seed = 4242"), 11, "seed = 4243");
    other.replace(other.find("name = \"fit\""), 12, "name = \"other\"");
    runJob(job(other));
    EXPECT_NE(read(dir / "job/other.out"), read(dir / "job/fit.out"));
}

TEST_F(JobRunnerTest, PlotIsWrittenAsSvgFromTheWindowsDrawing) {
    std::string text = kJob;
    text.replace(text.find("generations = 4"), 15, "generations = 0");
    runJob(job(text));
    const std::string svg = read(dir / "job/fit.svg");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    // The plotting area of the window and the margins that hold the axes.
    EXPECT_NE(svg.find("width=\"735\" height=\"407\""), std::string::npos);
    EXPECT_NE(svg.find(">Angle (seconds of arc)</text>"), std::string::npos);
    EXPECT_NE(svg.find("<polyline"), std::string::npos);
    EXPECT_NE(svg.find("<ellipse"), std::string::npos) << "the measured points";
    EXPECT_NE(svg.find("stroke=\"#ff0000\""), std::string::npos);
}

TEST_F(JobRunnerTest, AScanThatContradictsTheMeasuredFileStopsTheJobBeforeAnythingIsWritten) {
    std::string text = kJob;
    text.replace(text.find("hkl"), 3, "scan = [-700, 200, 2]\nhkl");
    try {
        runJob(job(text));
        FAIL();
    } catch (const JobRunError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("'data_entry.scan'"), std::string::npos) << message;
        EXPECT_NE(message.find("[-700, 200, 3]"), std::string::npos) << message;
    }
    EXPECT_EQ(listing(dir / "job"), (std::vector<std::string>{"job.toml", "measured.dat"}));

    // The scan the file gives is accepted.
    text.replace(text.find("[-700, 200, 2]"), 14, "[-700, 200, 3]");
    EXPECT_NO_THROW(runJob(job(text)));
}

TEST_F(JobRunnerTest, AWindowsMessageEndsTheJobAndNamesTheStep) {
    write("job/measured.dat", "-10 5\n-9 abc\n");
    try {
        runJob(job(kJob));
        FAIL();
    } catch (const JobRunError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("Done"), std::string::npos) << message;
        EXPECT_NE(message.find("abc"), std::string::npos) << message;
    }
    EXPECT_EQ(listing(dir / "job"), (std::vector<std::string>{"job.toml", "measured.dat"}));
}

TEST_F(JobRunnerTest, CalculationJobsFromEachKindOfProfileFile) {
    write("job/conc.dat", "0 1\n100 2\n200 4\n");
    write("job/ions.dat", "1 10 0 0\n2 150 0 0\n3 160 0 0\n");
    const std::string base = R"(
[main]
job = "calculation"
file = "FILE"
file_type = "TYPE"
EXTRA
[data_entry]
scan = [-200, 200, 4]
radiation = "Cua1"
crystal = "Si"
TABLE
[output]
name = "calc"
svg = false
)";
    struct Case {
        const char* file;
        const char* type;
        const char* extra;
        const char* table;
    };
    for (const Case& c : {Case{"conc.dat", "thickness-concentration", "max_strain = 0.5", ""},
                          Case{"measured.dat", "thickness-strain", "", ""},
                          Case{"ions.dat", "ion-positions", "max_strain = 0.5",
                               // 100000 once reached the window as "1e+05".
                               "[ion_positions]\nmax_depth = 100000\nlayers = 2"}}) {
        std::string text = base;
        text.replace(text.find("FILE"), 4, c.file);
        text.replace(text.find("TYPE"), 4, c.type);
        text.replace(text.find("EXTRA"), 5, c.extra);
        text.replace(text.find("TABLE"), 5, c.table);
        const JobOutcome outcome = runJob(job(text));
        EXPECT_EQ(outcome.files.size(), 3u) << c.type;
        const std::string fit = read(dir / "job/calc.fit");
        EXPECT_EQ(std::count(fit.begin(), fit.end(), '\n'), 101) << c.type;
        EXPECT_EQ(fit.rfind("-200.000000 ", 0), 0u) << c.type;
    }
}

}  // namespace
}  // namespace kelvarin::cli::testing

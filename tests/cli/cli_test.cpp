// The command line: exit codes, help, simulate's output, the shipped examples, the SVG plot and
// the progress lines.
#include "cli/cli.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli_fixture.hpp"
#include "cli/progress.hpp"
#include "cli/svg_plot.hpp"

namespace kelvarin::cli::testing {
namespace {

std::vector<std::vector<std::string>> rows(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> row;
        std::string f;
        while (fields >> f)
            row.push_back(f);
        out.push_back(row);
    }
    return out;
}

using CliTest = TempDirTest;

TEST(Cli, ExitCodesForUsageAndHelp) {
    EXPECT_EQ(cli({}).code, kExitUsage);
    EXPECT_EQ(cli({"fit"}).code, kExitUsage);
    EXPECT_EQ(cli({"run"}).code, kExitUsage);
    EXPECT_EQ(cli({"run", "a.toml", "b.toml"}).code, kExitUsage);
    for (const char* threads : {"0", "-2", "257", "two"})
        EXPECT_EQ(cli({"run", "a.toml", "--threads", threads}).code, kExitUsage) << threads;

    const Result help = cli({"run", "--help"});
    EXPECT_EQ(help.code, kExitOk);
    EXPECT_NE(help.out.find("JOB"), std::string::npos);
    const Result simHelp = cli({"simulate", "--help"});
    EXPECT_EQ(simHelp.code, kExitOk);
    EXPECT_NE(simHelp.out.find("--profile"), std::string::npos);

    const std::vector<std::string> base{"simulate", "--crystal", "GaAs",        "--hkl", "0",
                                        "0",        "4",         "--radiation", "Cua1"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = base;
        args.insert(args.end(), more.begin(), more.end());
        return cli(args).code;
    };
    EXPECT_EQ(with({}), kExitUsage) << "no scan";
    EXPECT_EQ(with({"--scan", "0", "1"}), kExitUsage);
    EXPECT_EQ(with({"--scan", "0", "1", "x"}), kExitUsage);
    EXPECT_EQ(with({"--scan", "0", "1", "0,5"}), kExitUsage) << "a comma is no decimal point";
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--theory", "other"}), kExitUsage);
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--model", "2gauss"}), kExitUsage) << "no params";
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--params", "1", "2", "3", "4", "--profile", "p"}),
              kExitUsage);
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--noise", "3"}), kExitUsage) << "noise needs counts";
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--physics", "exact"}), kExitUsage);
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--polarisation", "pi"}), kExitUsage)
        << "polarisation needs the full physics";
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--physics", "full", "--monochromator", "Ge111"}),
              kExitUsage);
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--physics", "full", "--geometry", "symmetric",
                    "--polarisation", "sigma"}),
              kExitOk);
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--layers", "60", "--params", "1", "2", "3", "4"}),
              kExitUsage);
    // Values the physics or the files refuse are bad input, not bad usage.
    EXPECT_EQ(with({"--scan", "1", "0", "1"}), kExitBadInput);
    EXPECT_EQ(with({"--scan", "0", "1", "1", "--profile", "/nonexistent/p.dat"}), kExitBadInput);
    Result r = cli({"simulate", "--crystal", "Unobtainium", "--hkl", "0", "0", "4", "--radiation",
                    "Cua1", "--scan", "0", "1", "1"});
    EXPECT_EQ(r.code, kExitBadInput);
    EXPECT_NE(r.err.find("Unobtainium"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
    r = cli({"simulate", "--crystal", "GaAs", "--hkl", "4", "0", "0", "--radiation", "Cua1",
             "--scan", "0", "1", "1"});
    EXPECT_EQ(r.code, kExitBadInput);
    EXPECT_NE(r.err.find("surface plane"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Did you mean 0 0 4?"), std::string::npos) << r.err;
}

TEST(Cli, SimulateWritesEveryAngleOfAFractionalScan) {
    const Result r = cli({"simulate", "--crystal", "Si", "--hkl", "0", "0", "4", "--radiation",
                          "Cua1", "--scan", "-2", "2", "0.05", "--width", "4"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const auto table = rows(r.out);
    ASSERT_EQ(table.size(), 81u);
    for (const auto& row : table)
        ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(table[0][0], "-2");
    EXPECT_EQ(table[1][0], "-1.95");
    EXPECT_EQ(table[40][0], "0");
    EXPECT_EQ(table[80][0], "2");
    EXPECT_EQ(r.out.find(','), std::string::npos);

    // Without a width: two columns; a model stack and a synchrotron wavelength are accepted.
    const Result m = cli({"simulate", "--crystal",   "GaAs",        "--hkl",    "0",    "0",
                          "4",        "--radiation", "Cua1",        "--scan",   "-600", "100",
                          "10",       "--theory",    "kinematical", "--layers", "8",    "--params",
                          "0.004",    "300",         "150",         "250"});
    ASSERT_EQ(m.code, kExitOk) << m.err;
    const auto mt = rows(m.out);
    ASSERT_EQ(mt.size(), 71u);
    EXPECT_EQ(mt[0].size(), 2u);
}

TEST_F(CliTest, SimulateFullPhysicsRefractsAndWarnsOutsideTheKinematicalRange) {
    // GaAs 0 0 4: the classic peak centre lies near 0, the full one moved by refraction.
    const auto peak = [](const Result& r) {
        double best = -1, at = 0;
        for (const auto& row : rows(r.out))
            if (std::stod(row[1]) > best) best = std::stod(row[1]), at = std::stod(row[0]);
        return at;
    };
    const std::vector<std::string> scan{"simulate", "--crystal", "GaAs",        "--hkl", "0",
                                        "0",        "4",         "--radiation", "Cua1",  "--scan",
                                        "-20",      "30",        "0.5"};
    std::vector<std::string> full = scan;
    for (const char* a : {"--physics", "full", "--polarisation", "sigma"})
        full.emplace_back(a);
    const Result classic = cli(scan), refracted = cli(full);
    ASSERT_EQ(refracted.code, kExitOk) << refracted.err;
    EXPECT_NEAR(peak(refracted) - peak(classic), 6.5, 1.0);

    // A 10 µm layer in the kinematical theory: the curve, a warning, success.
    write("thick.dat", "100000 1\n");
    const Result k = cli({"simulate", "--crystal", "GaAs", "--hkl", "0", "0", "4", "--radiation",
                          "Cua1", "--scan", "-1400", "-1200", "1", "--theory", "kinematical",
                          "--profile", (dir / "thick.dat").string()});
    EXPECT_EQ(k.code, kExitOk) << k.err;
    EXPECT_EQ(rows(k.out).size(), 201u);
    EXPECT_NE(k.err.find("warning: the kinematical theory gives a reflectivity of"),
              std::string::npos)
        << k.err;
}

TEST_F(CliTest, SimulateMakesAMeasuredCurveTheRefinementCanRead) {
    const std::string out = (dir / "m.dat").string();
    const Result r =
        cli({"simulate", "--crystal",    "GaAs", "--hkl",   "0", "0",       "4",   "--radiation",
             "Cua1",     "--scan",       "-300", "100",     "2", "--width", "8.5", "--counts",
             "10000",    "--background", "30",   "--noise", "5", "--out",   out});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(r.out.empty());
    const auto table = rows(read(out));
    ASSERT_EQ(table.size(), 201u);
    double top = 0;
    for (const auto& row : table) {
        ASSERT_EQ(row.size(), 2u);
        ASSERT_EQ(row[1].find('.'), std::string::npos) << "counts are whole numbers";
        top = std::max(top, std::stod(row[1]));
    }
    EXPECT_NEAR(top, 10030, 500);
}

TEST_F(CliTest, BadJobFileGivesExitOneAndWritesNothing) {
    write("measured.dat", "0 1\n1 2\n");
    const auto job = write("job.toml",
                           "[main]\njob = \"refinement\"\nfile = \"measured.dat\"\n"
                           "[data_entry]\nradiation = \"Cua1\"\ncrystal = \"GaAs\"\n"
                           "[refinement]\npopulation = 1\n");
    const Result r = cli({"run", job.string()});
    EXPECT_EQ(r.code, kExitBadInput);
    EXPECT_NE(r.err.find("'refinement.population'"), std::string::npos) << r.err;
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"job.toml", "measured.dat"}));
    EXPECT_EQ(cli({"run", (dir / "missing.toml").string()}).code, kExitBadInput);
}

/// The shipped examples, copied to a scratch folder (the refinement with fewer generations).
TEST_F(CliTest, ExamplesRunAsTheyStand) {
    const std::filesystem::path examples = std::filesystem::path(KELVARIN_SOURCE_DIR) / "examples";
    for (const auto& e : std::filesystem::directory_iterator(examples))
        std::filesystem::copy(e.path(), dir / e.path().filename());

    Result r = cli({"run", "--quiet", (dir / "calculation.toml").string()});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(r.out.empty() && r.err.empty()) << "--quiet";
    for (const char* f :
         {"calculation.fit", "calculation.out", "calculation.ion", "calculation.svg"})
        EXPECT_TRUE(std::filesystem::exists(dir / f)) << f;

    // The refinements: from the two-column curve and from the same curve as an .x00 scan.
    for (const std::string name : {"refinement", "scan-refinement"}) {
        SCOPED_TRACE(name);
        std::string job = read(dir / (name + ".toml"));
        const std::size_t at = job.find("generations = ");
        ASSERT_NE(at, std::string::npos);
        job.replace(at, job.find('\n', at) - at, "generations = 2");
        write(name + ".toml", job);
        r = cli({"run", (dir / (name + ".toml")).string()});
        ASSERT_EQ(r.code, kExitOk) << r.err;
        EXPECT_NE(r.out.find("Error="), std::string::npos);
        EXPECT_NE(r.err.find("generation 2/2"), std::string::npos) << r.err;
        for (const char* ext : {".fit", ".out", ".ion", ".svg"})
            EXPECT_TRUE(std::filesystem::exists(dir / (name + ext))) << ext;
    }
    EXPECT_NE(r.out.find("measured file measured.x00: PANalytical .x00, scan 1 of 1, 1001 points"),
              std::string::npos)
        << r.out;
    // The project that fits the .x00 scan at its own angles with a pseudo-Voigt and an offset.
    std::string project = read(dir / "fit_instrument.toml");
    const std::size_t at = project.find("generations = ");
    ASSERT_NE(at, std::string::npos);
    project.replace(at, project.find('\n', at) - at, "generations = 3");
    write("fit_instrument.toml", project);
    r = cli({"fit", "--quiet", (dir / "fit_instrument.toml").string()});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const std::string report = read(dir / "fit_instrument.report.txt");
    for (const char* name : {"lorentz_fraction = ", "offset = ", "width = "})
        EXPECT_NE(report.find(name), std::string::npos) << name;
}

TEST(SvgPlot, DrawsTheRecordedOperations) {
    Canvas canvas(20, 10);
    canvas.rectangle(0, 0, 20, 10);
    canvas.penColour = Colour::Red;
    canvas.ellipse(3, 3, 7, 7);
    canvas.penColour = Colour::Black;
    canvas.moveTo(0, 10);
    canvas.lineTo(2, 8);
    canvas.lineTo(2, 8);
    canvas.lineTo(5, 1);
    canvas.penColour = Colour::Blue;
    canvas.lineTo(9, 4);
    const std::string svg = canvasToSvg(canvas, "a < b");
    EXPECT_NE(svg.find("<title>a &lt; b</title>"), std::string::npos);
    EXPECT_NE(svg.find("<rect x=\"0.5\" y=\"0.5\" width=\"19\" height=\"9\""), std::string::npos);
    EXPECT_NE(svg.find("<ellipse cx=\"5.5\" cy=\"5.5\" rx=\"2\" ry=\"2\" fill=\"#ffffff\" "
                       "stroke=\"#ff0000\"/>"),
              std::string::npos);
    EXPECT_NE(svg.find("stroke=\"#000000\" points=\"0.5,10.5 2.5,8.5 5.5,1.5\""), std::string::npos)
        << svg;
    EXPECT_NE(svg.find("stroke=\"#0000ff\" points=\"5.5,1.5 9.5,4.5\""), std::string::npos);
}

TEST(Progress, PlainLinesOncePerGenerationAndTheTimeLeft) {
    std::ostringstream out;
    TerminalProgress::Clock::time_point t{};
    TerminalProgress p(out, false, [&] { return t; });
    p.step("Rocking Curve Calculation: GO");
    t += std::chrono::seconds(10);
    p.progress(1, 4, 12.5, 0.2);
    p.progress(1, 4, 12.5, 0.2);
    t += std::chrono::seconds(10);
    p.progress(2, 4, 11.25, 0.4);
    p.refinementDone("Error=11", "1 2 3 4");
    const std::string text = out.str();
    EXPECT_NE(text.find("generation 1/4  best error 12.5000 %  time left 0:40\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("generation 2/4  best error 11.2500 %  time left 0:30\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("generation 1/4", text.find("generation 1/4") + 1), std::string::npos);
    EXPECT_NE(text.find("refinement done in 0:20: Error=11"), std::string::npos);
    EXPECT_EQ(TerminalProgress::duration(3725), "1:02:05");
}

}  // namespace
}  // namespace kelvarin::cli::testing

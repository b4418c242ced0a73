// `kelvarin-cli scan`: the real scans of other groups, the output, and what it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "cli/cli.hpp"
#include "cli/cli_fixture.hpp"

namespace kelvarin::cli::testing {
namespace {

Result scan(std::vector<std::string> args) {
    args.insert(args.begin(), "scan");
    return cli(std::move(args));
}

struct Points {
    std::vector<double> offset, counts;
    std::string header;
};

Points points(const std::string& text) {
    Points p;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("#", 0) == 0) {
            p.header += line + "\n";
            continue;
        }
        std::istringstream f(line);
        double a = 0, y = 0;
        f >> a >> y;
        p.offset.push_back(a);
        p.counts.push_back(y);
    }
    return p;
}

struct RealScan {
    std::vector<std::string> args;
    std::size_t points;
    double otherPeak;  ///< offset (seconds of arc) of the strongest peak when it is not at 0
};

TEST(ScanCommand, RealScansLoadWithTheSubstratePeakAtZero) {
    const std::string dir = std::string(KELVARIN_SHARED_DIR) + "/peers/data/";
    if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no " << dir;
    const std::vector<std::string> gaas = {"--crystal", "GaAs", "--hkl",       "0",
                                           "0",         "4",    "--radiation", "Cua1"};
    const auto with = [](std::vector<std::string> a, const std::vector<std::string>& more) {
        a.insert(a.end(), more.begin(), more.end());
        return a;
    };
    const RealScan cases[] = {
        // The layer is the strongest peak, 306″ below the substrate's.
        {with({dir + "xrayutilities_AlGaAs_GaAs_004.xrdml"}, gaas), 2999, -306},
        {with({dir + "micronovaxrd_GaAsP_on_GaAs_004.x00"}, gaas), 879, 0},
        {with({dir + "micronovaxrd_InGaAs_GaAs_SL_004.x00"}, gaas), 1399, 0},
        {{dir + "xrayutilities_InMnAs_InAs_002_004.ras", "--scan-number", "1", "--crystal", "InAs",
          "--hkl", "0", "0", "2", "--radiation", "Cua1"},
         1501,
         0},
        {{dir + "xrayutilities_InMnAs_InAs_002_004.ras", "--scan-number", "2"}, 2501, 0},
        {{dir + "radmax_3C-SiC_400_irradiated.txt", "--axis", "2theta/omega", "--unit", "deg",
          "--wavelength", "1.5498"},
         301,
         0},
        {{dir + "radmax_YSZ_400_irradiated.txt", "--axis", "2theta/omega", "--unit", "deg",
          "--wavelength", "1.5406"},
         501,
         0},
    };
    for (const RealScan& c : cases) {
        SCOPED_TRACE(c.args.front());
        if (!std::filesystem::exists(c.args.front())) continue;
        const Result r = scan(c.args);
        ASSERT_EQ(r.code, kExitOk) << r.err;
        const Points p = points(r.out);
        EXPECT_EQ(p.offset.size(), c.points) << p.header;
        const auto zero = std::find(p.offset.begin(), p.offset.end(), 0.0);
        ASSERT_NE(zero, p.offset.end()) << p.header;
        const std::size_t top = static_cast<std::size_t>(
            std::max_element(p.counts.begin(), p.counts.end()) - p.counts.begin());
        EXPECT_NEAR(p.offset[top], c.otherPeak, 10) << p.header;
    }
}

using ScanCommandTest = TempDirTest;

TEST_F(ScanCommandTest, OffsetsAndCountsWithWhatWasRead) {
    std::string text = "# omega in degrees\n";
    for (int i = 0; i < 20; ++i)
        text += std::to_string(33.0 + 0.001 * i) + " " + std::to_string(i == 7 ? 500 : 10) + "\n";
    const auto file = write("omega.txt", text);
    Result r = scan({file.string(), "--axis", "omega", "--out", (dir / "out.txt").string()});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(r.out.empty());
    const Points p = points(read(dir / "out.txt"));
    ASSERT_EQ(p.offset.size(), 20u);
    EXPECT_NEAR(p.offset[0], -7 * 3.6, 1e-6);  // 0.001° of ω is 3.6″
    EXPECT_EQ(p.counts[7], 500);
    for (const char* fact : {"# format: plain text", "# axis: omega, degrees", "# points: 20",
                             "# zero: the strongest peak", "# offset_arcsec counts"})
        EXPECT_NE(p.header.find(fact), std::string::npos) << fact << "\n" << p.header;
    // A given zero, and a coupled axis: Δω = Δ(2θ)/2.
    r = scan({file.string(), "--axis", "2theta/omega", "--zero", "33"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NEAR(points(r.out).offset[1], 1.8, 1e-6);
}

TEST_F(ScanCommandTest, UsageAndInputErrors) {
    const std::string counts = "_COUNTS\n1 2 3 4 5 6 7 8 9 10\n";
    const auto two =
        write("two.uxd", "_DRIVE='OMEGA'\n_STEPSIZE=0.01\n_OMEGA=33\n" + counts + counts);
    const auto degrees = write("deg.txt", "72.788 1\n72.79 2\n72.792 3\n");
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {{two.string(), "--zero", "bragg"}, kExitUsage, "--crystal"},
        {{two.string(), "--hkl", "0", "0", "4"}, kExitUsage, "--crystal"},
        {{two.string(), "--axis", "phi"}, kExitUsage, "--axis"},
        {{two.string(), "--zero", "peak"}, kExitUsage, "--zero"},
        {{two.string(), "--crystal", "GaAs", "--hkl", "0", "0", "4", "--radiation", "Xx"},
         kExitUsage,
         "--radiation"},
        {{two.string()}, kExitBadInput, "holds 2 scans"},
        {{two.string(), "--scan-number", "3"}, kExitBadInput, "there is no scan 3"},
        {{two.string(), "--scan-number", "2", "--crystal", "GaAs", "--hkl", "0", "0", "2",
          "--radiation", "Cua1", "--zero", "bragg"},
         kExitBadInput,
         "lies outside the scan"},
        {{degrees.string()}, kExitBadInput, "look like degrees"},
        {{(dir / "missing.xrdml").string()}, kExitBadInput, "Cannot open"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1 < c.args.size() ? 1 : 0]);
        const Result r = scan(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(ScanCommandTest, ARefinementFromAScanItCannotUseWritesNothing) {
    write("bad.xrdml", "<?xml version=\"1.0\"?><svg/>");
    write("two.dat", "0 1\n1 2\n2 3\n");
    const std::string job =
        "[main]\njob = \"refinement\"\nfile = \"FILE\"\n"
        "[data_entry]\nradiation = \"Cua1\"\ncrystal = \"GaAs\"\n";
    const std::pair<std::string, const char*> cases[] = {
        {"file = \"bad.xrdml\"", "root element is <svg>"},
        {"file = \"two.dat\"\nscan_number = 2", "two-column curve, not an instrument scan"},
    };
    for (const auto& [file, message] : cases) {
        std::string text = job;
        text.replace(text.find("file = \"FILE\""), 13, file);
        const auto path = write("job.toml", text);
        const Result r = cli({"run", "--quiet", path.string()});
        EXPECT_EQ(r.code, kExitBadInput) << file;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(listing(dir), (std::vector<std::string>{"bad.xrdml", "job.toml", "two.dat"}));
    }
}

}  // namespace
}  // namespace kelvarin::cli::testing

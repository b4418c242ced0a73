#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/numio.hpp"
#include "engine/scattering.hpp"

namespace kelvarin {
namespace {

namespace fs = std::filesystem;

/// A fresh folder under the system's temporary folder, removed at the end of the test.
class TempFolder {
public:
    TempFolder() {
        static int counter = 0;
        path_ = fs::temp_directory_path() / ("kelvarin-dispersion-" + std::to_string(::getpid()) +
                                             "-" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return (path_ / name).string();
    }
    std::string str() const { return path_.string(); }

private:
    fs::path path_;
};

const char* kTable = "1.0 1 2\n1.5 2 4\n2.0 4 8\n";

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(SynchrotronDispersion, BracketingRule) {
    TempFolder dir;
    dir.write("GAlambda.dat", kTable);
    dir.write("ASlambda.dat", "1.0 -1 0.5 3.0 -3 1.5");
    auto at = [&](Extended lambda) {
        return dispersionCorrections(6, lambda, "GaAs", {dir.str()});
    };

    // A tabulated wavelength gives its row exactly (lower bound included).
    DispersionValues d = at(1.0L);
    EXPECT_EQ(d.lambda, 1.0L);
    EXPECT_EQ(d.f1Real, 1);
    EXPECT_EQ(d.f1Imag, 2);
    d = at(1.5L);
    EXPECT_EQ(d.f1Real, 2);
    EXPECT_EQ(d.f1Imag, 4);
    // Linear in wavelength between the bracketing rows; each site from its own file.
    d = at(1.25L);
    EXPECT_NEAR(static_cast<double>(d.f1Real), 1.5, 1e-15);
    EXPECT_NEAR(static_cast<double>(d.f1Imag), 3.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(d.f2Real), -1.25, 1e-15);
    EXPECT_NEAR(static_cast<double>(d.f2Imag), 0.625, 1e-15);
    // The last tabulated wavelength gives the last row.
    d = at(2.0L);
    EXPECT_EQ(d.f1Real, 4);
    EXPECT_EQ(d.f1Imag, 8);

    // Outside a file's range the run cannot go on silently without corrections.
    for (Extended outside : {0.999L, 2.001L}) {
        const std::string msg = errorOf([&] { at(outside); });
        EXPECT_NE(msg.find("GAlambda.dat"), std::string::npos) << msg;
        EXPECT_NE(msg.find("1 to 2"), std::string::npos) << msg;
    }
    EXPECT_NE(errorOf([&] { at(2.5L); }).find("GAlambda.dat"), std::string::npos);
    // Inside the site-1 range but outside the site-2 one is no different.
    TempFolder narrow;
    narrow.write("GAlambda.dat", kTable);
    narrow.write("ASlambda.dat", "1.2 0 0 1.4 0 0");
    EXPECT_NE(errorOf([&] {
                  dispersionCorrections(6, 1.1L, "GaAs", {narrow.str()});
              }).find("ASlambda.dat"),
              std::string::npos);
}

TEST(SynchrotronDispersion, ElementalCrystalsReadOneFile) {
    TempFolder dir;
    dir.write("SIlambda.dat", kTable);
    dir.write("Clambda.dat", "0.5 9 9 2.5 9 9");
    const DispersionValues si = dispersionCorrections(6, 1.75L, "Si", {dir.str()});
    EXPECT_NEAR(static_cast<double>(si.f1Real), 3.0, 1e-15);
    EXPECT_EQ(si.f2Real, si.f1Real);
    EXPECT_EQ(si.f2Imag, si.f1Imag);
    // SiC has Si on site 1 and C on site 2, from two files.
    const DispersionValues sic = dispersionCorrections(6, 1.75L, "SiC", {dir.str()});
    EXPECT_EQ(sic.f1Real, si.f1Real);
    EXPECT_EQ(sic.f2Real, 9);
    // Diamond's file is named by its one character.
    const DispersionValues c = dispersionCorrections(6, 1.0L, "C", {dir.str()});
    EXPECT_EQ(c.f1Imag, 9);
    EXPECT_EQ(c.f2Imag, 9);
}

TEST(SynchrotronDispersion, FileLookupOrderAndLetterCase) {
    TempFolder first, second;
    second.write("INlambda.dat", "1 5 5 2 5 5");
    second.write("Plambda.dat", "1 6 6 2 6 6");
    first.write("Inlambda.dat", "1 7 7 2 7 7");  // another spelling, found in the first folder
    const DispersionValues d = dispersionCorrections(6, 1.5L, "InP", {first.str(), second.str()});
    EXPECT_EQ(d.f1Real, 7);
    EXPECT_EQ(d.f2Real, 6);

    // The working directory comes before the data folder.
    TempFolder work;
    work.write("Plambda.dat", "1 8 8 2 8 8");
    const fs::path saved = fs::current_path();
    fs::current_path(work.str());
    const DispersionValues w = dispersionCorrections(6, 1.5L, "InP", {"", second.str()});
    fs::current_path(saved);
    EXPECT_EQ(w.f1Real, 5);
    EXPECT_EQ(w.f2Real, 8);

    // A missing file is named, with the folders searched.
    const std::string msg = errorOf([&] {
        dispersionCorrections(6, 1.5L, "GaSb", {first.str(), second.str()});
    });
    EXPECT_NE(msg.find("'GAlambda.dat' not found"), std::string::npos) << msg;
    EXPECT_NE(msg.find(second.str()), std::string::npos) << msg;
}

TEST(SynchrotronDispersion, DataFolderFromEnvironment) {
    const char* old = std::getenv("KELVARIN_DATA_DIR");
    const std::string saved = old ? old : "";
    ::setenv("KELVARIN_DATA_DIR", "/somewhere/data", 1);
    const std::vector<std::string> path = dispersionSearchPath();
    if (old)
        ::setenv("KELVARIN_DATA_DIR", saved.c_str(), 1);
    else
        ::unsetenv("KELVARIN_DATA_DIR");
    ASSERT_EQ(path.size(), 2u);
    EXPECT_EQ(path[0], "");
    EXPECT_EQ(path[1], "/somewhere/data/dispersion");

    // Without the variable the program's own data folder serves a run started anywhere.
    ::unsetenv("KELVARIN_DATA_DIR");
    TempFolder empty;
    const fs::path cwd = fs::current_path();
    fs::current_path(empty.str());
    const std::string msg = errorOf([] {
        const DispersionValues d = dispersionCorrections(6, 1.540562L, "GaAs");
        if (!(d.f1Real < -1 && d.f2Imag > 1)) throw std::runtime_error("unexpected values");
    });
    fs::current_path(cwd);
    if (old) ::setenv("KELVARIN_DATA_DIR", saved.c_str(), 1);
    EXPECT_EQ(msg, "");
}

TEST(SynchrotronDispersion, MalformedFilesAreRefusedClearly) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"1.0 0.1 0.2\n1.5 abc 0.3\n", "line 2: 'abc' is not a number"},
        {"1.0 0.1 0.2\n1,5 0.2 0.3\n", "'1,5' is not a number"},
        {"1.0 0.1 0.2\n1.5 0.2\n", "ends within a row"},
        {"1.0 0.1 0.2\n", "at least two rows"},
        {"", "at least two rows"},
        {"1.0 0.1 0.2\n2.0 0.1 0.2\n1.5 0.1 0.2\n", "line 3: wavelength 1.5 does not follow"},
        {"1.0 0.1 0.2\n1.0 0.1 0.2\n", "ascending"},
        {"-1.0 0.1 0.2\n1.0 0.1 0.2\n", "line 1: wavelength -1 is not positive"},
        {"1.0 0.1 0.2 2.0 nan 0.2\n", "'nan' is not a number"},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        dir.write("ZNlambda.dat", c.text);
        dir.write("Slambda.dat", kTable);
        const std::string msg =
            errorOf([&] { dispersionCorrections(6, 1.2L, "ZnS", {dir.str()}); });
        EXPECT_NE(msg.find("ZNlambda.dat"), std::string::npos) << c.text << " -> " << msg;
        EXPECT_NE(msg.find(c.expected), std::string::npos) << c.text << " -> " << msg;
        EXPECT_THROW(readDispersionFile(dir.str() + "/ZNlambda.dat"), DataFileError);
    }
}

TEST(SynchrotronDispersion, BadWavelengthOrCrystal) {
    TempFolder dir;
    dir.write("SIlambda.dat", kTable);
    const Extended nan = std::numeric_limits<Extended>::quiet_NaN();
    for (Extended bad : {0.0L, -1.0L, nan})
        EXPECT_THROW(dispersionCorrections(6, bad, "Si", {dir.str()}), ScatteringError);
    EXPECT_NE(errorOf([&] { dispersionCorrections(6, 1.5L, "0", {dir.str()}); }).find("No crystal"),
              std::string::npos);
    EXPECT_THROW(dispersionCorrections(6, 1.5L, "Sx", {dir.str()}), ScatteringError);
}

TEST(ShippedDispersionTables, AgreeWithTheTubeLineValues) {
    // The files come from another tabulation than the built-in tube-line values; both should
    // agree to within the spread of published anomalous-scattering tables.
    const std::vector<std::string> folder = {std::string(KELVARIN_SOURCE_DIR) + "/data/dispersion"};
    const char* crystals[] = {"C",    "Si",  "Ge",   "Sn",   "SiC",  "AlN",  "AlP", "AlAs",
                              "AlSb", "GaN", "GaP",  "GaAs", "GaSb", "InN",  "InP", "InAs",
                              "InSb", "ZnS", "ZnSe", "ZnTe", "CdS",  "CdSe", "CdTe"};
    for (const char* name : crystals) {
        for (int line = 0; line < 6; ++line) {
            const DispersionValues t = dispersionCorrections(line, 0, name, {});
            const DispersionValues s = dispersionCorrections(6, t.lambda, name, folder);
            EXPECT_NEAR(static_cast<double>(s.f1Real), static_cast<double>(t.f1Real), 0.25)
                << name << " line " << line;
            EXPECT_NEAR(static_cast<double>(s.f2Real), static_cast<double>(t.f2Real), 0.25)
                << name << " line " << line;
            EXPECT_NEAR(static_cast<double>(s.f1Imag), static_cast<double>(t.f1Imag),
                        0.005 + 0.08 * static_cast<double>(t.f1Imag))
                << name << " line " << line;
            EXPECT_NEAR(static_cast<double>(s.f2Imag), static_cast<double>(t.f2Imag),
                        0.005 + 0.08 * static_cast<double>(t.f2Imag))
                << name << " line " << line;
        }
    }
    // Every file covers 0.3 to 3.0 Å.
    for (const char* file : {"ZN", "CD", "AL", "GA", "IN", "SI", "C", "N", "P", "AS", "SB", "S",
                             "SE", "TE", "GE", "SN"}) {
        const auto rows = readDispersionFile(folder[0] + "/" + file + "lambda.dat");
        EXPECT_NEAR(static_cast<double>(rows.front().lambda), 0.3, 1e-6) << file;
        EXPECT_NEAR(static_cast<double>(rows.back().lambda), 3.0, 1e-6) << file;
    }
}

}  // namespace
}  // namespace kelvarin

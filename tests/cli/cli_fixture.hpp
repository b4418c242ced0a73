// Helpers of the command-line tests: a fresh folder per test, file writing and reading.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.hpp"

namespace kelvarin::cli::testing {

struct Result {
    int code;
    std::string out;
    std::string err;
};

/// kelvarin-cli with `args`; the standard output goes to `out` when given.
inline Result cli(std::vector<std::string> args, std::ostream* out = nullptr) {
    args.insert(args.begin(), "kelvarin-cli");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream text, err;
    const int code =
        runCli(static_cast<int>(argv.size()), argv.data(), out ? *out : text, err, false);
    return {code, text.str(), err.str()};
}

/// A folder of its own for each test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvarin-cli-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    std::filesystem::path write(const std::string& name, const std::string& content) const {
        const std::filesystem::path p = dir / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

    static std::string read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    /// Names of the files in `folder`, sorted.
    static std::vector<std::string> listing(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path dir;
};

/// The same result under the name the scan tests use.
using CliResult = Result;

}  // namespace kelvarin::cli::testing

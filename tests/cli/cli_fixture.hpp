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

/// What one command line gave: the exit code and the two streams.
struct CliResult {
    int code;
    std::string out;
    std::string err;
};

/// Runs `kelvarin-cli` with `args` (without the program name), stderr not a terminal.
inline CliResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), "kelvarin-cli");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = runCli(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return {code, out.str(), err.str()};
}

}  // namespace kelvarin::cli::testing

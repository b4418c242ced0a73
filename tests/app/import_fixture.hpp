// AppTest with scratch data files: each test writes its files into its own temporary folder,
// removed when the test ends.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/formmain.hpp"
#include "setup/formdata.hpp"
#include "support/app_fixture.hpp"

namespace kelvarin::testing {

class ImportTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir_ = std::filesystem::path(::testing::TempDir()) /
               ("kelvarin_app_" + std::to_string(::getpid()) + "_" + name);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    /// Writes `content` byte for byte into a file of the test's folder; returns its path.
    std::string writeFile(const std::string& name, std::string_view content) {
        const std::filesystem::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out << content;
        return path.string();
    }
    std::string missingFile() const { return (dir_ / "no-such-file.dat").string(); }
    std::string folder() const { return dir_.string(); }

    Tformmain& main() { return app->formmain(); }
    Tformdata& dataForm() { return app->formdata(); }
    StringGrid& table() { return app->formdata().data; }

    using Texts = std::vector<std::string>;

    /// The texts of one table column, data rows only.
    Texts column(int col) {
        Texts out;
        for (int r = 1; r < table().rowCount(); ++r)
            out.push_back(table().cell(col, r));
        return out;
    }

    /// The table as one text, row by row, for before/after comparisons.
    std::string tableSnapshot() {
        const StringGrid& t = table();
        std::string s =
            std::to_string(t.rowCount()) + " rows, " + std::to_string(t.fixedRows) + " fixed\n";
        for (int r = 0; r < t.rowCount(); ++r) {
            for (int c = 0; c < t.colCount(); ++c)
                s += t.cell(c, r) + '\t';
            s += '\n';
        }
        return s;
    }

    /// Chooses a calculation job with the given file type and file, as the user would.
    void chooseCalculation(int fileType, const std::string& path) {
        main().RadioGroup1.itemIndex = 0;
        main().RadioGroup1Click();
        main().filetype.itemIndex = fileType;
        main().filetypeClick();
        main().file.text = path;
    }

    /// The single message the user was shown (modal or exception); fails when there is not
    /// exactly one.
    std::string onlyMessage() const {
        const auto all = platform.allMessages();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? std::string() : all.front();
    }

private:
    std::filesystem::path dir_;
};

}  // namespace kelvarin::testing

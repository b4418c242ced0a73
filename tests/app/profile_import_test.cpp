#include "app/profile_import.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/import_fixture.hpp"

namespace kelvarin {
namespace {

class ProfileImportTest : public testing::ImportTest {
protected:
    /// Runs "OK" for a calculation job with the given file kind, content and maximum strain.
    bool importFile(int fileType, std::string_view content, const std::string& maxStrain) {
        chooseCalculation(fileType, writeFile("profile.dat", content));
        main().mstrain.text = maxStrain;
        return app->dispatch([&] { main().butokClick(); });
    }
};

TEST_P(ProfileImportTest, ConcentrationIsScaledToTheMaximumStrain) {
    // The same profile however its numbers are spread over lines, with or without a final line
    // end, and with the maximum strain typed with either separator.
    const char* layouts[] = {"0 1\n100 2\n200 4\n", "0 1\n100 2\n200 4", "0 1 100 2 200 4",
                             "0\n1\n100\r\n2\t200\n\n4\n\n"};
    for (const char* content : layouts) {
        for (const char* maxStrain : {"0.5", "0,5"}) {
            SCOPED_TRACE(::testing::PrintToString(content) + " / " + maxStrain);
            platform.clearMessages();
            dataForm().hide();
            ASSERT_TRUE(importFile(0, content, maxStrain));
            EXPECT_TRUE(platform.allMessages().empty());
            EXPECT_EQ(main().mstrain.text, num("0.5"));
            EXPECT_EQ(table().rowCount(), 4);
            EXPECT_EQ(table().fixedRows, 1);
            EXPECT_EQ(table().cell(0, 0), "Thickness(Å)");
            EXPECT_EQ(table().cell(1, 0), "Strain");
            EXPECT_EQ(column(0), (Texts{"0", "100", "200"}));
            EXPECT_EQ(column(1), (Texts{num("0.125"), num("0.25"), num("0.5")}));
            EXPECT_TRUE(dataForm().visible);
            EXPECT_TRUE(main().visible);
        }
    }
}

TEST_P(ProfileImportTest, ConcentrationKeepsSignsExponentsAndAHalfPair) {
    // Negative concentrations stay negative; the trailing single number is no pair.
    ASSERT_TRUE(importFile(0, "-5 -2\n1.5e2 +4E0\n3e2 1\n400", "2"));
    EXPECT_EQ(column(0), (Texts{"-5", "150", "300"}));
    EXPECT_EQ(column(1), (Texts{"-1", "2", num("0.5")}));
}

TEST_P(ProfileImportTest, StrainValuesAreTakenAsTheyStand) {
    table().fixedRows = 0;
    ASSERT_TRUE(importFile(1, "50 0.75\n50 -0.125 100 1e-3\n", ""));
    EXPECT_TRUE(platform.allMessages().empty());
    EXPECT_EQ(column(0), (Texts{"50", "50", "100"}));
    // Single-precision file values with the digits they hold: 1e-3 is shown as 0.001, not as
    // the widened 0.00100000004749745.
    EXPECT_EQ(column(1), (Texts{num("0.75"), num("-0.125"), num("0.001")}));
    EXPECT_EQ(table().cell(0, 0), "Thickness(Å)");
    EXPECT_EQ(table().fixedRows, 0);  // a strain import leaves the heading as it was
    EXPECT_TRUE(dataForm().visible);
}

TEST_P(ProfileImportTest, TableHasOneRowPerLayer) {
    std::string content;
    for (int i = 0; i < 19; ++i)
        content += std::to_string(10 * i) + " " + std::to_string(i % 5) + "\n";
    ASSERT_TRUE(importFile(1, content, ""));
    EXPECT_EQ(table().rowCount(), 20);
    EXPECT_EQ(table().cell(0, 19), "180");
    ASSERT_TRUE(importFile(1, "1 2\n", ""));
    EXPECT_EQ(table().rowCount(), 2);
    EXPECT_EQ(table().cell(0, 2), "");
}

struct BadProfile {
    const char* name;
    int fileType;
    const char* content;  ///< nullptr: the file does not exist
    const char* maxStrain;
    const char* expected;  ///< part of the message
    bool modal;            ///< error window (true) or exception display (false)
};

TEST_P(ProfileImportTest, BadInputIsReportedAndChangesNothing) {
    const BadProfile cases[] = {
        {"missing concentration file", 0, nullptr, "1", "Cannot open file", true},
        {"missing strain file", 1, nullptr, "", "Cannot open file", true},
        {"empty file", 0, "", "1", "no complete pair", true},
        {"blank file", 1, " \n\t\n", "", "no complete pair", true},
        {"one number", 0, "12.5\n", "1", "no complete pair", true},
        {"word in the middle", 0, "0 1\n100 two\n200 4\n", "1", "line 2: 'two' is not a number",
         true},
        {"comma decimals", 1, "0 1,5\n", "", "decimal separator", true},
        {"header line", 1, "depth strain\n0 1\n", "", "'depth' is not a number", true},
        {"nan", 0, "0 nan\n", "1", "'nan' is not a number", true},
        {"all zero", 0, "0 0\n100 0\n", "1", "no concentration greater than zero", true},
        {"all negative", 0, "0 -1\n100 -3\n", "1", "no concentration greater than zero", true},
        {"empty maximum strain", 0, "0 1\n", "", "Maximum strain (%)", false},
        {"maximum strain no number", 0, "0 1\n", "abc", "'abc'", false},
        {"huge maximum strain", 0, "0 3e38\n", "1e4931", "too large", true},
    };
    // Something earlier in the table that must survive.
    ASSERT_TRUE(importFile(1, "7 0.5\n", ""));
    dataForm().hide();
    const std::string before = tableSnapshot();

    for (const BadProfile& c : cases) {
        SCOPED_TRACE(c.name);
        platform.clearMessages();
        std::string path = missingFile();
        if (c.content) path = writeFile("bad.dat", c.content);
        chooseCalculation(c.fileType, path);
        main().mstrain.text = c.maxStrain;
        app->dispatch([&] { main().butokClick(); });

        const std::string message = onlyMessage();
        EXPECT_EQ(platform.modalMessages.size(), c.modal ? 1u : 0u);
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        if (c.modal) {
            EXPECT_NE(message.find(path), std::string::npos) << message;
        }
        EXPECT_EQ(tableSnapshot(), before);
        EXPECT_FALSE(dataForm().visible);
    }
}

KELVARIN_BOTH_SEPARATORS(ProfileImportTest);

}  // namespace
}  // namespace kelvarin

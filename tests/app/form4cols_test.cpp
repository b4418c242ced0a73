#include "app/form4cols.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/import_fixture.hpp"

namespace kelvarin {
namespace {

class Form4colsTest : public testing::ImportTest {
protected:
    Tform4cols& form() { return app->form4cols(); }

    /// Main window "OK" for a four-column file with the given content.
    void openIons(std::string_view content, const std::string& maxStrain = "0.5") {
        chooseCalculation(2, writeFile("ions.dat", content));
        main().mstrain.text = maxStrain;
        ASSERT_TRUE(app->dispatch([&] { main().butokClick(); }));
    }
    void type(const std::string& depth, const std::string& layers) {
        form().maxdepth.text = depth;
        form().maxdepthChange();
        form().nlayers.text = layers;
        form().maxdepthChange();
    }
    bool calculate() {
        return app->dispatch([&] { form().Button1Click(); });
    }

    static constexpr const char* kIons = "1 0 5 5\n2 99.9 -1 3\n3 100 0 0\n4 250 0 0\n";
};

TEST_P(Form4colsTest, FirstStageShowsTheDeepestIon) {
    for (const char* content : {"1 10 0 0\n2 1234.7 1 1\n3 -50 0 0\n", "1 10 0 0 2 1234.7 1 1",
                                "1 10 0 0\n2 1234.7 1 1\n3 -50 0 0\n7 9999"}) {
        SCOPED_TRACE(content);
        form().hide();
        openIons(content);
        EXPECT_EQ(form().deepest.caption, "1234Å");
        EXPECT_TRUE(form().visible);
        EXPECT_TRUE(main().visible);
        EXPECT_FALSE(dataForm().visible);
        EXPECT_EQ(table().cell(0, 0), "Thickness");
        EXPECT_EQ(table().cell(1, 0), "Strain");
        EXPECT_TRUE(platform.allMessages().empty());
    }
    openIons("1 -3 0 0\n");
    EXPECT_EQ(form().deepest.caption, "0Å");
}

TEST_P(Form4colsTest, LayerThicknessFollowsTheFields) {
    type("1000", "10");
    EXPECT_EQ(form().layerthickness.caption, "100");
    EXPECT_TRUE(form().Button1.enabled);

    type("1000", "0");  // no layers: the thickness stays
    EXPECT_EQ(form().layerthickness.caption, "100");
    type("1000", "3");
    EXPECT_EQ(form().layerthickness.caption, num("333.333333333333"));
    // A decimal separator is taken in the depth, written either way; not in the layer count.
    type("1000.5", "10");
    EXPECT_EQ(form().layerthickness.caption, num("100.05"));
    type("1000,5", "2");
    EXPECT_EQ(form().layerthickness.caption, num("500.25"));
    // Texts that fail the check leave the thickness as it was.
    for (const char* layers : {"2.5", "2,5", "-2", "+2", " 2", "99999999999", ""}) {
        form().nlayers.text = layers;
        form().maxdepthChange();
        EXPECT_EQ(form().layerthickness.caption, num("500.25")) << layers;
    }
    form().nlayers.text = "4";
    for (const char* depth : {"1.000.5", "1e3", "-1000", "", ".", "10 00"}) {
        form().maxdepth.text = depth;
        form().maxdepthChange();
        EXPECT_EQ(form().layerthickness.caption, num("500.25")) << depth;
    }
}

TEST_P(Form4colsTest, TypingEnablesCalculationEvenWithoutAThickness) {
    EXPECT_FALSE(form().Button1.enabled);
    form().maxdepth.text = "1";
    form().maxdepthChange();
    EXPECT_TRUE(form().Button1.enabled);
    EXPECT_EQ(form().layerthickness.caption, "");
}

TEST_P(Form4colsTest, HistogramIsScaledToTheMaximumStrain) {
    for (const char* maxStrain : {"0.5", "0,5"}) {
        SCOPED_TRACE(maxStrain);
        dataForm().hide();
        openIons(kIons, maxStrain);
        type("1000", "10");
        ASSERT_TRUE(calculate());
        EXPECT_TRUE(platform.allMessages().empty());
        EXPECT_EQ(table().rowCount(), 11);
        EXPECT_EQ(table().fixedRows, 1);
        EXPECT_EQ(table().cell(0, 0), "Thickness(Å)");
        EXPECT_EQ(column(0), Texts(10, "100"));
        Texts strains(10, "0");
        strains[0] = num("0.5");
        strains[1] = strains[2] = num("0.25");
        EXPECT_EQ(column(1), strains);
        EXPECT_FALSE(form().visible);
        EXPECT_FALSE(form().Button1.enabled);
        EXPECT_TRUE(dataForm().visible);
    }
}

TEST_P(Form4colsTest, LayerThicknessIsBroughtUpToDateBeforeUse) {
    openIons(kIons);
    type("1000", "10");
    form().nlayers.text = "4";  // changed without the change handler having run
    ASSERT_TRUE(calculate());
    EXPECT_EQ(form().layerthickness.caption, "250");
    EXPECT_EQ(column(1), (Texts{num("0.5"), num("0.166666666666667"), "0", "0"}));
}

struct BadIons {
    const char* name;
    const char* content;  ///< nullptr: the file does not exist
    const char* depth;
    const char* layers;
    const char* maxStrain;
    const char* expected;  ///< part of the message
    bool modal;            ///< error window (true) or exception display (false)
};

TEST_P(Form4colsTest, BadInputIsReportedAndChangesNothing) {
    const BadIons cases[] = {
        {"ion at the maximum depth", "1 50 0 0\n2 1000 0 0\n", "1000", "10", "1",
         "1 of 2 ions lie outside the layers from 0 to 1000", true},
        {"ion above the surface", "1 -0.5 0 0\n2 10 0 0\n", "1000", "10", "1", "outside", true},
        {"no layers", "1 50 0 0\n", "1000", "0", "1", "Number of layers", true},
        {"negative layers", "1 50 0 0\n", "1000", "-3", "1", "Number of layers", true},
        {"too many layers", "1 50 0 0\n", "1000", "100000000", "1", "Number of layers", true},
        {"layers with a separator", "1 50 0 0\n", "1000", "2.5", "1", "'2.5'", false},
        {"empty layers", "1 50 0 0\n", "1000", "", "1", "Number of layers", false},
        {"depth with two separators", "1 50 0 0\n", "1.000,5", "10", "1",
         "Maximum depth for simulation", false},
        {"empty depth", "1 50 0 0\n", "", "10", "1", "Maximum depth for simulation", false},
        {"zero depth", "1 50 0 0\n", "0", "10", "1", "greater than zero", true},
        {"empty maximum strain", "1 50 0 0\n", "1000", "10", "", "Maximum strain (%)", false},
        {"missing file", nullptr, "1000", "10", "1", "Cannot open file", true},
        {"no complete record", "1 50 0\n", "1000", "10", "1", "no complete record", true},
        {"text in the middle", "1 50 0 0\n2 6O 0 0\n", "1000", "10", "1", "'6O'", true},
    };
    openIons(kIons);
    type("1000", "10");
    ASSERT_TRUE(calculate());  // an earlier profile that must survive
    dataForm().hide();
    const std::string before = tableSnapshot();

    for (const BadIons& c : cases) {
        SCOPED_TRACE(c.name);
        platform.clearMessages();
        std::string path = missingFile();
        if (c.content) path = writeFile("bad.dat", c.content);
        main().file.text = path;
        main().mstrain.text = c.maxStrain;
        form().show();
        type(c.depth, c.layers);
        calculate();

        const std::string message = onlyMessage();
        EXPECT_EQ(platform.modalMessages.size(), c.modal ? 1u : 0u);
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
        EXPECT_EQ(tableSnapshot(), before);
        EXPECT_TRUE(form().visible);
        EXPECT_TRUE(form().Button1.enabled);  // the user may correct and try again
        EXPECT_FALSE(dataForm().visible);
    }
}

TEST_P(Form4colsTest, UnusableFileInTheFirstStageOpensNothing) {
    const std::string before = tableSnapshot();
    for (const char* content : {"", "1 2 3\n", "# ions\n1 2 3 4\n"}) {
        SCOPED_TRACE(content);
        platform.clearMessages();
        openIons(content);
        ASSERT_EQ(platform.modalMessages.size(), 1u);
        EXPECT_NE(platform.modalMessages[0].find("ions.dat"), std::string::npos);
        EXPECT_FALSE(form().visible);
        EXPECT_EQ(form().deepest.caption, "Å");
        EXPECT_EQ(tableSnapshot(), before);
    }
}

KELVARIN_BOTH_SEPARATORS(Form4colsTest);

}  // namespace
}  // namespace kelvarin

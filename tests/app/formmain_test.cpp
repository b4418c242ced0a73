#include "app/formmain.hpp"

#include <gtest/gtest.h>

#include "app/form4cols.hpp"
#include "app/import_fixture.hpp"
#include "refine/formrefinedata.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {
namespace {

class FormmainTest : public testing::ImportTest {};

TEST_P(FormmainTest, StartsReadyForACalculationJob) {
    const Tformmain& m = main();
    EXPECT_EQ(m.RadioGroup1.itemIndex, 0);
    EXPECT_EQ(m.filetype.itemIndex, -1);
    EXPECT_EQ(m.theory.itemIndex, 1);
    EXPECT_TRUE(m.filetype.enabled);
    EXPECT_FALSE(m.Label6.enabled || m.mstrain.enabled || m.Label1.enabled || m.nlayers.enabled);
    EXPECT_EQ(m.nlayers.text, "16");
    EXPECT_NE(Tformmain::howToText().find("Data Entry"), std::string_view::npos);
    EXPECT_NE(Tformmain::aboutText().find("Kelvarin"), std::string_view::npos);
}

TEST_P(FormmainTest, FileTypeSwitchesTheMaximumStrain) {
    Tformmain& m = main();
    for (int type : {0, 2, 1, 0}) {
        m.filetype.itemIndex = type;
        m.filetypeClick();
        EXPECT_EQ(m.mstrain.enabled, type != 1) << "file type " << type;
        EXPECT_EQ(m.Label6.enabled, type != 1) << "file type " << type;
    }
}

TEST_P(FormmainTest, JobTypeSwitchesTheFields) {
    Tformmain& m = main();
    Tformdata& d = dataForm();
    m.filetype.itemIndex = 0;
    m.filetypeClick();
    d.thetai.enabled = d.thetaf.enabled = d.step.enabled = false;

    m.RadioGroup1.itemIndex = 1;
    m.RadioGroup1Click();
    EXPECT_FALSE(m.filetype.enabled);
    EXPECT_FALSE(m.Label6.enabled);
    EXPECT_FALSE(m.mstrain.enabled);
    EXPECT_TRUE(m.Label1.enabled);
    EXPECT_TRUE(m.nlayers.enabled);
    EXPECT_EQ(m.Label2.caption, "Measured data file:");
    EXPECT_TRUE(d.thetai.enabled && d.thetaf.enabled && d.step.enabled);

    d.thetai.enabled = d.thetaf.enabled = d.step.enabled = false;
    m.RadioGroup1.itemIndex = 0;
    m.RadioGroup1Click();
    EXPECT_TRUE(m.filetype.enabled);
    EXPECT_TRUE(m.mstrain.enabled);  // file type 0 needs it
    EXPECT_TRUE(m.Label6.enabled);
    EXPECT_FALSE(m.Label1.enabled);
    EXPECT_FALSE(m.nlayers.enabled);
    EXPECT_EQ(m.Label2.caption, "File containing the ion distribution:");
    EXPECT_TRUE(d.thetai.enabled && d.thetaf.enabled && d.step.enabled);
}

TEST_P(FormmainTest, BackToCalculationWithAStrainFileKeepsTheMaximumStrainOff) {
    Tformmain& m = main();
    m.filetype.itemIndex = 1;
    m.filetypeClick();
    m.RadioGroup1.itemIndex = 1;
    m.RadioGroup1Click();
    m.RadioGroup1.itemIndex = 0;
    m.RadioGroup1Click();
    EXPECT_FALSE(m.Label6.enabled);
    EXPECT_FALSE(m.mstrain.enabled);
    EXPECT_TRUE(m.filetype.enabled);
}

TEST_P(FormmainTest, FileExitWarnsOnlyWhenNoSuchFileExists) {
    Tformmain& m = main();
    m.file.text = writeFile("profile.dat", "0 1\n");
    m.fileExit();
    EXPECT_TRUE(platform.allMessages().empty());

    for (const std::string& name : {missingFile(), folder()}) {
        platform.clearMessages();
        m.file.text = name;
        m.fileExit();
        EXPECT_EQ(onlyMessage(), "File does not exist: '" + name + "'.");
        EXPECT_EQ(m.file.text, name);
    }
    // An empty field is not yet a file name: "OK" asks for one.
    platform.clearMessages();
    m.file.text = "";
    m.fileExit();
    EXPECT_TRUE(platform.allMessages().empty());
    // A device exists but reading it would block the window (a pipe) or never end.
    platform.clearMessages();
    m.file.text = "/dev/zero";
    m.fileExit();
    EXPECT_NE(onlyMessage().find("not a regular file"), std::string::npos);
    EXPECT_TRUE(m.butok.enabled);
}

TEST_P(FormmainTest, BrowseTakesAConfirmedChoiceOnlyAndExitEndsTheProgram) {
    Tformmain& m = main();
    platform.fileChoices = {std::nullopt, std::string("/data/scan 1.dat")};
    m.Button1Click();
    EXPECT_EQ(m.file.text, "MorvelSincrotronA2004.DAT");
    m.Button1Click();
    EXPECT_EQ(m.file.text, "/data/scan 1.dat");
    EXPECT_TRUE(platform.allMessages().empty());
    m.Exit1Click();
    EXPECT_TRUE(platform.terminated);
}

TEST_P(FormmainTest, OkWithoutFileTypeOnlyPreparesTheDataEntryWindow) {
    Tformmain& m = main();
    Tformdata& d = dataForm();
    d.tipo.enabled = d.Button1.enabled = true;
    d.Label1.caption = "GaAs";
    d.Lab1.caption = "something else";
    const std::string before = tableSnapshot();
    m.mstrain.text = "0,5";
    EXPECT_TRUE(app->dispatch([&] { m.butokClick(); }));
    EXPECT_EQ(d.Lab1.caption, "Data imported from file (after normalization):");
    EXPECT_EQ(m.mstrain.text, num("0.5"));
    EXPECT_FALSE(d.tipo.enabled);
    EXPECT_FALSE(d.Button1.enabled);
    EXPECT_EQ(d.Label1.caption, "0");
    EXPECT_EQ(tableSnapshot(), before);
    EXPECT_FALSE(d.visible);
    EXPECT_FALSE(app->form4cols().visible);
    EXPECT_FALSE(app->formrefinedata().visible);
    EXPECT_TRUE(m.visible);
    EXPECT_NE(onlyMessage().find("\"File Type\""), std::string::npos) << onlyMessage();

    m.mstrain.text = "0.5";
    m.butokClick();
    EXPECT_EQ(m.mstrain.text, num("0.5"));

    // Without a maximum strain the crystal choice stays.
    d.tipo.enabled = true;
    d.Label1.caption = "GaAs";
    m.mstrain.text = "";
    m.butokClick();
    EXPECT_TRUE(d.tipo.enabled);
    EXPECT_EQ(d.Label1.caption, "GaAs");
}

TEST_P(FormmainTest, RefinementJobOpensTheSettingsOnlyWithLayersAndFile) {
    Tformmain& m = main();
    m.RadioGroup1.itemIndex = 1;
    m.RadioGroup1Click();
    m.file.text = missingFile();  // not read here
    m.nlayers.text = "";
    m.butokClick();
    EXPECT_EQ(dataForm().Lab1.caption, "Initial values for layer strains:");
    EXPECT_FALSE(app->formrefinedata().visible);
    EXPECT_NE(onlyMessage().find("number of layers"), std::string::npos) << onlyMessage();

    platform.clearMessages();
    m.nlayers.text = "16";
    m.file.text = "";
    m.butokClick();
    EXPECT_FALSE(app->formrefinedata().visible);
    EXPECT_NE(onlyMessage().find("measured data file"), std::string::npos) << onlyMessage();

    platform.clearMessages();
    m.file.text = missingFile();
    m.filetype.itemIndex = 0;  // ignored for a refinement job
    m.butokClick();
    EXPECT_TRUE(app->formrefinedata().visible);
    EXPECT_FALSE(dataForm().visible);
    EXPECT_TRUE(platform.allMessages().empty());
}

TEST_P(FormmainTest, MaximumStrainThatIsNoNumberEndsOkAfterTheEarlierSteps) {
    Tformmain& m = main();
    Tformdata& d = dataForm();
    chooseCalculation(0, writeFile("c.dat", "0 1\n100 2\n200 4\n"));
    d.tipo.enabled = d.Button1.enabled = true;
    d.Lab1.caption = "";
    const std::string before = tableSnapshot();
    m.mstrain.text = "half";
    EXPECT_FALSE(app->dispatch([&] { m.butokClick(); }));
    ASSERT_EQ(platform.exceptionMessages.size(), 1u);
    EXPECT_NE(platform.exceptionMessages[0].find("Maximum strain"), std::string::npos);
    EXPECT_NE(platform.exceptionMessages[0].find("'half'"), std::string::npos);
    // Steps 1 and 2 stay done; the table and the windows are untouched.
    EXPECT_EQ(d.Lab1.caption, "Data imported from file (after normalization):");
    EXPECT_FALSE(d.tipo.enabled);
    EXPECT_FALSE(d.Button1.enabled);
    EXPECT_EQ(d.Label1.caption, "0");
    EXPECT_EQ(tableSnapshot(), before);
    EXPECT_FALSE(d.visible);
}

KELVARIN_BOTH_SEPARATORS(FormmainTest);

}  // namespace
}  // namespace kelvarin

#include "app/application.hpp"

#include <gtest/gtest.h>

#include "app/form4cols.hpp"
#include "app/formmain.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "results/formcalc.hpp"
#include "results/formerro.hpp"
#include "setup/formdata.hpp"
#include "support/app_fixture.hpp"

namespace kelvarin {
namespace {

class ApplicationTest : public testing::AppTest {};

TEST_P(ApplicationTest, StartsWithOnlyTheMainWindowVisible) {
    EXPECT_EQ(app->title, "Kelvarin");
    EXPECT_EQ(app->formmain().caption, "Kelvarin");
    EXPECT_TRUE(app->formmain().visible);
    EXPECT_FALSE(app->formdata().visible);
    EXPECT_FALSE(app->formcalc().visible);
    EXPECT_FALSE(app->formerro().visible);
    EXPECT_FALSE(app->form4cols().visible);
    EXPECT_FALSE(app->formrefinedata().visible);
    EXPECT_FALSE(app->formrefine().visible);
    EXPECT_EQ(app->formdata().caption, "Data Entry");
    EXPECT_EQ(app->formcalc().caption, "Rocking Curve Calculation");
    EXPECT_EQ(app->formerro().caption, "Error!");
    EXPECT_EQ(app->form4cols().caption, "Four-Column Data File");
    EXPECT_EQ(app->formrefinedata().caption, "Evolutionary refinement of experimental data");
    EXPECT_EQ(app->formrefine().caption, "Refinement");
}

TEST_P(ApplicationTest, AnExceptionEndsTheHandlerAndIsShown) {
    int after = 0;
    EXPECT_FALSE(app->dispatch([&] {
        app->locale().textToFloat("abc", "Maximum strain (%)");
        ++after;
    }));
    EXPECT_EQ(after, 0);
    ASSERT_EQ(platform.exceptionMessages.size(), 1u);
    EXPECT_NE(platform.exceptionMessages[0].find("Maximum strain"), std::string::npos);
    EXPECT_TRUE(app->dispatch([&] { ++after; }));
    EXPECT_EQ(after, 1);
}

TEST_P(ApplicationTest, BusyRefusesHandlersUnlessAllowed) {
    int ran = 0;
    app->setBusy(true);
    EXPECT_FALSE(app->dispatch([&] { ++ran; }));
    EXPECT_TRUE(app->dispatch([&] { ++ran; }, true));
    EXPECT_EQ(ran, 1);
}

TEST_P(ApplicationTest, ErrorWindowShowsOneMessageAndOkRestoresTheDefault) {
    app->showError("File does not exists!");
    ASSERT_EQ(platform.modalMessages.size(), 1u);
    EXPECT_EQ(platform.modalMessages[0], "File does not exists!");
    app->formerro().Button1Click();
    EXPECT_EQ(app->formerro().Label1.caption, "New x range is outside the calculated interval");
}

KELVARIN_BOTH_SEPARATORS(ApplicationTest);

}  // namespace
}  // namespace kelvarin

// Showing and closing the calculation window, and the error window's "OK".
#include <gtest/gtest.h>

#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formerro.hpp"
#include "results/results_fixture.hpp"

namespace kelvarin::testing {
namespace {

class FormcalcTest : public CalcTest {};

TEST_P(FormcalcTest, ShowingTakesTheMillerIndicesAndTheSearchLimits) {
    setScan("2", "-2", "4", "0", "1", "1");
    Tformrefinedata& settings = app->formrefinedata();
    // The design texts carry a point whatever the locale; a refinement's "Done" rewrites them
    // with the locale's separator. Both read the same.
    settings.taui.text = "0.002";
    settings.tauf.text = num("0.006");
    settings.maxmutw.text = "1,5";
    calc().show();
    EXPECT_TRUE(platform.allMessages().empty());
    const EngineState& engine = app->engine();
    EXPECT_EQ(engine.millerH, 2);
    EXPECT_EQ(engine.millerK, -2);
    EXPECT_EQ(engine.millerL, 4);
    const RefineSettings& rs = app->refine().refineSettings;
    EXPECT_EQ(rs.tauLo, static_cast<Extended>(0.002));  // parsed as a double
    EXPECT_EQ(rs.tauHi, static_cast<Extended>(0.006));
    EXPECT_EQ(rs.roHi, 800);
    EXPECT_EQ(rs.sigma2Lo, 50);
    EXPECT_EQ(rs.maxMutTau, static_cast<Extended>(0.0005));
    EXPECT_EQ(rs.maxMutW, static_cast<Extended>(1.5));

    // A limit that is no number ends the handler with the standard exception display.
    calc().hide();
    settings.rof.text = "far";
    EXPECT_FALSE(app->dispatch([&] { calc().show(); }));
    ASSERT_EQ(platform.exceptionMessages.size(), 1u);
    EXPECT_NE(platform.exceptionMessages[0].find("far"), std::string::npos);
}

TEST_P(FormcalcTest, ClosingAlsoHidesTheProgressWindow) {
    app->formrefine().show();
    calc().show();
    calc().close();
    EXPECT_FALSE(calc().visible);
    EXPECT_FALSE(app->formrefine().visible);
}

TEST_P(FormcalcTest, ErrorWindowOkRestoresTheDefaultMessage) {
    app->showError("File does not exists!");
    ASSERT_EQ(platform.modalMessages.back(), "File does not exists!");
    app->formerro().Button1Click();
    EXPECT_EQ(app->formerro().Label1.caption, "New x range is outside the calculated interval");
    EXPECT_FALSE(app->formerro().visible);
}

KELVARIN_BOTH_SEPARATORS(FormcalcTest);

}  // namespace
}  // namespace kelvarin::testing

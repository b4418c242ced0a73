// The refinement settings window: "Done" in its order, its failures, and the model toggle.
#include "refine/formrefinedata.hpp"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "app/formmain.hpp"
#include "refine/formrefine.hpp"
#include "refine/refine_state.hpp"
#include "setup/formdata.hpp"
#include "support/app_fixture.hpp"

namespace kelvarin {
namespace {

class SettingsWindowTest : public testing::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        dir = std::filesystem::temp_directory_path() /
              ("kelvarin_refinedata_" + std::to_string(::getpid()) + "_" +
               (sep() == ',' ? "c" : "p"));
        std::filesystem::create_directories(dir);
        writeFile("curve.dat", "-100 5\n-98.5 6\n-97 7\n");
        app->formmain().file.text = (dir / "curve.dat").string();
        settings().visible = true;
        // Sentinels: rows a "Done" must not touch.
        for (auto& row : app->refine().population)
            row.fill(-7.0f);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void writeFile(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
    }
    Tformrefinedata& settings() { return app->formrefinedata(); }

    std::filesystem::path dir;
};

TEST_P(SettingsWindowTest, DoneNormalisesCopiesDrawsAndTakesTheScanFromTheFile) {
    Tformrefinedata& f = settings();
    f.taui.text = "0,003";
    f.tauf.text = "0.005";
    f.Edit1.text = "7";
    f.Edit2.text = "0,5";
    f.bg.text = "3,5";
    f.Button1Click();

    EXPECT_EQ(f.taui.text, num("0.003"));
    EXPECT_EQ(f.tauf.text, num("0.005"));
    EXPECT_EQ(f.maxmuttau.text, num("0.0005"));
    // The population-size, mutation-probability and background fields are left as typed.
    EXPECT_EQ(f.Edit2.text, "0,5");
    EXPECT_EQ(f.bg.text, "3,5");
    const Tformrefine& p = app->formrefine();
    EXPECT_EQ(p.taui.text, num("0.003"));
    EXPECT_EQ(p.maxmuttau.text, num("0.0005"));
    EXPECT_EQ(p.wmax.text, "10");

    const auto& pop = app->refine().population;
    for (int i = 0; i < 7; ++i) {
        EXPECT_GE(pop[i][kColW], 7);
        EXPECT_LT(pop[i][kColW], 10);
        EXPECT_GE(pop[i][kColTau], 0.003f);
        EXPECT_LT(pop[i][kColTau], 0.005f);
        EXPECT_GE(pop[i][kColSigma2], 50);
        EXPECT_LT(pop[i][kColSigma2], 800);
        EXPECT_EQ(pop[i][kColError], -7.0f);  // the error column is not touched
    }
    EXPECT_EQ(pop[7][kColW], -7.0f);

    const Tformdata& d = app->formdata();
    EXPECT_EQ(d.thetai.text, "-100");
    EXPECT_EQ(d.thetaf.text, "-97");
    EXPECT_EQ(d.step.text, num("1.5"));
    EXPECT_FALSE(d.thetai.enabled);
    EXPECT_FALSE(d.thetaf.enabled);
    EXPECT_FALSE(d.step.enabled);
    EXPECT_EQ(app->engine().curveStore.measAngle[1], -98.5L);
    EXPECT_FALSE(f.visible);
    EXPECT_TRUE(d.visible);
    EXPECT_TRUE(platform.allMessages().empty());
}

TEST_P(SettingsWindowTest, DoneDrawsRowByRowInGeneOrderFromTheSeed) {
    app->refine().seedOverride = 31337u;
    settings().Edit1.text = "3";
    settings().roi.text = "100";
    settings().Button1Click();
    CRandom g;
    g.seed(31337u);
    const Extended lo[kGeneCount] = {7, 0.003L, 100, 50, 50};
    const Extended hi[kGeneCount] = {10, 0.005L, 800, 800, 800};
    for (int i = 0; i < 3; ++i)
        for (int d = 0; d < kGeneCount; ++d)
            EXPECT_EQ(app->refine().population[i][d],
                      static_cast<float>(uniformDraw(g, lo[d], hi[d])))
                << i << "," << d;
    EXPECT_EQ(app->refine().generator.state(), g.state());
}

TEST_P(SettingsWindowTest, ReversedLimitsAndASinglePointFile) {
    Tformrefinedata& f = settings();
    f.Edit1.text = "200";
    writeFile("one.dat", "12.5 100\n");
    app->formmain().file.text = (dir / "one.dat").string();
    // A minimum above its maximum is refused, naming the row, and nothing is drawn.
    const struct {
        Edit& lo;
        Edit& hi;
        const char* named;
    } rows[] = {{f.wmin, f.wmax, "Gaussian width: the minimum (10)"},
                {f.taui, f.tauf, "tau: the minimum (10)"},
                {f.sigma2i, f.sigma2f, "sigma2: the minimum (10)"}};
    const auto before = app->refine().population;
    for (const auto& row : rows) {
        const std::string lo = row.lo.text, hi = row.hi.text;
        row.lo.text = "10";
        row.hi.text = "7";
        platform.clearMessages();
        f.Button1Click();
        ASSERT_EQ(platform.modalMessages.size(), 1u);
        EXPECT_EQ(platform.modalMessages[0].rfind(row.named, 0), 0u) << platform.modalMessages[0];
        EXPECT_EQ(app->refine().population, before);
        EXPECT_TRUE(f.visible || !app->formdata().visible);
        row.lo.text = lo;
        row.hi.text = hi;
    }
    f.Button1Click();
    const auto& pop = app->refine().population;
    for (int i = 0; i < 200; ++i) {
        EXPECT_GT(pop[i][kColW], 7);
        EXPECT_LE(pop[i][kColW], 10);
    }
    EXPECT_EQ(app->formdata().thetai.text, num("12.5"));
    EXPECT_EQ(app->formdata().thetaf.text, num("12.5"));
    EXPECT_EQ(app->formdata().step.text, "0");
}

TEST_P(SettingsWindowTest, RefusalsChangeNothing) {
    Tformrefinedata& f = settings();
    f.taui.text = "0,003";
    const auto before = app->refine().population;

    // Not an integer: the conversion error ends "Done" at once.
    f.Edit1.text = "50.5";
    EXPECT_THROW(f.Button1Click(), ConversionError);

    // Sizes the tables cannot hold.
    for (const char* n : {"1", "0", "-3", "201"}) {
        f.Edit1.text = n;
        f.Button1Click();
    }
    EXPECT_EQ(platform.modalMessages.size(), 4u);
    EXPECT_NE(platform.modalMessages[0].find("between 2 and 200"), std::string::npos);

    // Missing, empty, damaged and odd measured files.
    f.Edit1.text = "5";
    writeFile("empty.dat", "  \n");
    writeFile("text.dat", "1 2\n3 abc\n");
    writeFile("odd.dat", "1 2\n3\n");
    for (const char* name : {"missing.dat", "empty.dat", "text.dat", "odd.dat"}) {
        platform.clearMessages();
        app->formmain().file.text = (dir / name).string();
        f.Button1Click();
        ASSERT_EQ(platform.modalMessages.size(), 1u) << name;
        EXPECT_NE(platform.modalMessages[0].find(name), std::string::npos)
            << platform.modalMessages[0];
    }
    EXPECT_NE(platform.modalMessages[0].find("no intensity"), std::string::npos);

    // While a refinement runs nothing happens at all.
    app->formmain().file.text = (dir / "curve.dat").string();
    app->setBusy(true);
    f.Button1Click();
    app->setBusy(false);

    EXPECT_EQ(app->refine().population, before);
    EXPECT_EQ(f.taui.text, "0,003");
    EXPECT_TRUE(f.visible);
    EXPECT_FALSE(app->formdata().visible);
    EXPECT_EQ(app->formrefine().taui.text, "0.003");  // the design text, not a copy
}

TEST_P(SettingsWindowTest, BadLimitChangesNothing) {
    Tformrefinedata& f = settings();
    f.Edit1.text = "4";
    f.taui.text = num("0,003");
    f.sigma2f.text = "lots";
    const auto population = app->refine().population;
    const auto generator = app->refine().generator.state();
    EXPECT_THROW(f.Button1Click(), ConversionError);
    EXPECT_EQ(f.taui.text, num("0,003"));              // not normalised
    EXPECT_EQ(app->formrefine().taui.text, "0.003");   // not copied
    EXPECT_EQ(app->formrefine().sigma2f.text, "800");  // the design text
    EXPECT_EQ(app->refine().population, population);
    EXPECT_EQ(app->refine().generator.state(), generator);
    EXPECT_TRUE(f.visible);
    EXPECT_FALSE(app->formdata().visible);
}

TEST_P(SettingsWindowTest, ModelToggleSwitchesCaptionsAndBack) {
    Tformrefinedata& f = settings();
    f.Button2Click();
    EXPECT_EQ(f.Label3.caption, "xc:");
    EXPECT_EQ(f.Label4.caption, "A:");
    EXPECT_EQ(f.Label2.caption, "w:");
    EXPECT_EQ(f.Label5.caption, "mu:");
    EXPECT_EQ(f.Button2.caption, "-> 2Gauss");
    EXPECT_EQ(f.taui.text, "0.003");  // the fields keep their texts
    f.Button2Click();
    EXPECT_EQ(f.Label3.caption, "tau:");
    EXPECT_EQ(f.Label4.caption, "ro:");
    EXPECT_EQ(f.Label2.caption, "sigma1:");
    EXPECT_EQ(f.Label5.caption, "sigma2:");
    EXPECT_EQ(f.Button2.caption, "-> Pearson VII");
}

KELVARIN_BOTH_SEPARATORS(SettingsWindowTest);

}  // namespace
}  // namespace kelvarin

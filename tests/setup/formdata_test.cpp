#include "setup/formdata.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/formmain.hpp"
#include "engine/catalogue.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formcalc.hpp"
#include "support/app_fixture.hpp"

namespace kelvarin {
namespace {

using Symbols = std::set<std::string>;

const Symbols kCations2 = {"Zn", "Cd"};
const Symbols kCations3 = {"Al", "Ga", "In"};
const Symbols kAnions5 = {"N", "P", "As", "Sb"};
const Symbols kAnions6 = {"S", "Se", "Te"};

class DataEntryTest : public testing::AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        // The calculation window reads the refinement limits when it is shown; give them the
        // locale's separator as the settings window's "Done" would.
        Tformrefinedata& settings = app->formrefinedata();
        for (Edit* field :
             {&settings.taui, &settings.tauf, &settings.maxmuttau, &settings.roi, &settings.rof,
              &settings.maxmutro, &settings.sigma1i, &settings.sigma1f, &settings.maxmutsigma1,
              &settings.sigma2i, &settings.sigma2f, &settings.maxmutsigma2, &settings.wmin,
              &settings.wmax, &settings.maxmutw})
            field->text = app->locale().NormalizeDecimalSeparator(field->text);
    }

    Tformdata& form() { return app->formdata(); }

    Symbols enabledElements() {
        Symbols enabled;
        for (auto symbol : Tformdata::kElementSymbols)
            if (form().elementButton(symbol)->enabled) enabled.insert(std::string(symbol));
        return enabled;
    }

    bool run(void (Tformdata::*handler)()) {
        return app->dispatch([&] { (form().*handler)(); });
    }
    void click(std::string_view symbol) {
        ASSERT_TRUE(form().elementButton(symbol)->enabled) << symbol << " is disabled";
        ASSERT_TRUE(app->dispatch([&] { form().clickElement(symbol); }));
    }

    /// Fills the reflection and scan, picks Cu Kα1 and accepts with "Select target...".
    void ready() {
        form().show();
        form().thetai.text = "-200";
        form().thetaf.text = "100";
        form().step.text = "1";
        form().radiacao.select(4);
        run(&Tformdata::radiacaoChange);
        run(&Tformdata::buttargetClick);
        ASSERT_TRUE(form().Button1.enabled);
    }
    void choose(int type) {
        form().tipo.itemIndex = type;
        run(&Tformdata::Button1Click);
    }

    void expectCrystal(const std::string& name) {
        const CrystalEntry* crystal = findCrystal(name);
        ASSERT_NE(crystal, nullptr) << name;
        const std::string lattice = crystal->latticeText(sep());
        EXPECT_EQ(form().Label1.caption, name);
        EXPECT_EQ(form().Label2.caption, lattice);
        EXPECT_EQ(form().Label3.caption, lattice);
        EXPECT_EQ(form().Label4.caption, lattice);
        for (const Label* label : {&form().Label1, &form().Label2, &form().Label3, &form().Label4})
            EXPECT_TRUE(label->visible);
        EXPECT_TRUE(form().butOK.enabled);
        EXPECT_TRUE(form().butUndo.enabled);
    }

    std::vector<std::string> cells(const StringGrid& grid) {
        std::vector<std::string> out;
        for (int row = 0; row < grid.rowCount(); ++row)
            for (int col = 0; col < grid.colCount(); ++col)
                out.push_back(grid.cell(col, row));
        return out;
    }
    std::vector<std::string> site1() {
        return {"0",        "0", "0",        "0",        num("0.5"), num("0.5"),
                num("0.5"), "0", num("0.5"), num("0.5"), num("0.5"), "0"};
    }
    std::vector<std::string> site2() {
        return {num("0.25"), num("0.25"), num("0.25"), num("0.25"), num("0.75"), num("0.75"),
                num("0.75"), num("0.25"), num("0.75"), num("0.75"), num("0.75"), num("0.25")};
    }
};

TEST_P(DataEntryTest, MissingEntriesTurnBlueUntilTheTimerFires) {
    // At start the crystal choice is locked.
    Tformdata& f = form();
    EXPECT_TRUE(enabledElements().empty());
    EXPECT_FALSE(f.Button1.enabled || f.tipo.enabled || f.butOK.enabled || f.butUndo.enabled);
    EXPECT_EQ(f.Timer1.intervalMs, 500);

    f.h.text = "";
    f.thetai.text = "-100";
    f.step.text = "2";
    run(&Tformdata::buttargetClick);
    EXPECT_EQ(f.h.colour, Colour::Blue);
    EXPECT_EQ(f.k.colour, Colour::Window);
    EXPECT_EQ(f.thetai.colour, Colour::Window);
    EXPECT_EQ(f.thetaf.colour, Colour::Blue);
    EXPECT_EQ(f.step.colour, Colour::Window);
    EXPECT_EQ(f.radiacao.colour, Colour::Blue);
    EXPECT_TRUE(f.Timer1.enabled);
    EXPECT_FALSE(f.Button1.enabled || f.tipo.enabled);

    run(&Tformdata::Timer1Timer);
    for (const Edit* field : {&f.h, &f.k, &f.l, &f.thetai, &f.thetaf, &f.step})
        EXPECT_EQ(field->colour, Colour::Window);
    EXPECT_EQ(f.radiacao.colour, Colour::Window);
    EXPECT_FALSE(f.Timer1.enabled);

    // Everything filled (numbers or not) but the radiation typed instead of chosen: only the
    // radiation turns blue, and nothing is unlocked.
    f.h.text = "1";
    f.thetai.text = "x";
    f.thetaf.text = "1";
    f.radiacao.text = "Cu";
    run(&Tformdata::buttargetClick);
    EXPECT_EQ(f.radiacao.colour, Colour::Blue);
    for (const Edit* field : {&f.h, &f.k, &f.l, &f.thetai, &f.thetaf, &f.step})
        EXPECT_EQ(field->colour, Colour::Window);
    EXPECT_FALSE(f.Button1.enabled || f.tipo.enabled);
    EXPECT_TRUE(f.Timer1.enabled);
    EXPECT_TRUE(platform.allMessages().empty());
}

TEST_P(DataEntryTest, ScanAndWavelengthTextsTakeTheLocaleSeparator) {
    // A refinement on the measured file's own angles: fractional angles are fine.
    app->formmain().RadioGroup1.itemIndex = 1;
    Tformdata& f = form();
    EXPECT_EQ(f.wl.text, num("1.43807"));  // the design wavelength in the locale's form
    f.thetai.text = "-12.5";
    f.thetaf.text = "30,25";
    f.step.text = "12,5";
    f.radiacao.select(Tformdata::kSynchrotron);
    run(&Tformdata::radiacaoChange);
    EXPECT_TRUE(f.wl.enabled);
    f.wl.text = "1.5";
    run(&Tformdata::buttargetClick);
    EXPECT_EQ(f.thetai.text, num("-12.5"));
    EXPECT_EQ(f.thetaf.text, num("30.25"));
    EXPECT_EQ(f.step.text, num("12.5"));
    EXPECT_EQ(f.wl.text, "1.5");  // the wavelength waits for "Choose"
    run(&Tformdata::Button1Click);
    EXPECT_EQ(f.wl.text, num("1.5"));

    // Another line disables the wavelength field, which shows that line's wavelength, and
    // "Choose" leaves its text alone; synchrotron radiation brings the typed one back.
    f.radiacao.select(5);
    run(&Tformdata::radiacaoChange);
    EXPECT_FALSE(f.wl.enabled);
    EXPECT_EQ(f.wl.text, num("0.7093"));
    f.radiacao.select(Tformdata::kSynchrotron);
    run(&Tformdata::radiacaoChange);
    EXPECT_EQ(f.wl.text, num("1.5"));
    f.radiacao.select(5);
    run(&Tformdata::radiacaoChange);
    f.wl.text = "2,5";
    run(&Tformdata::butUndoClick);
    run(&Tformdata::Button1Click);
    EXPECT_EQ(f.wl.text, "2,5");

    // "OK" normalises the scan texts once more (they may have been edited since).
    f.step.text = "0.5";
    run(&Tformdata::butOKClick);
    EXPECT_EQ(f.step.text, num("0.5"));
}

/// Entries "Start" could not use are refused while the window is open, naming the field; the
/// crystal choice stays locked and "OK" keeps the window open.
TEST_P(DataEntryTest, EntriesStartCannotUseAreRefusedHere) {
    const struct {
        Edit Tformdata::*field;
        const char* text;
        const char* named;
    } rows[] = {
        {&Tformdata::thetai, "-300x", "Initial angle (seconds of arc): '-300x'"},
        {&Tformdata::thetaf, "12.5", "Final angle (seconds of arc): '"},
        {&Tformdata::step, "0", "Step size: '0' must be at least 1"},
        {&Tformdata::step, "-2", "Step size: '-2' must be at least 1"},
        {&Tformdata::thetaf, "-500", "Final angle (-500) lies below the initial angle (-200)"},
        {&Tformdata::h, "one", "h: 'one' is not a whole number"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        ready();
        run(&Tformdata::butUndoClick);
        const std::string good = (form().*row.field).text;
        (form().*row.field).text = row.text;
        form().Button1.enabled = form().tipo.enabled = false;
        platform.clearMessages();
        run(&Tformdata::buttargetClick);
        ASSERT_EQ(platform.modalMessages.size(), 1u);
        EXPECT_EQ(platform.modalMessages[0].find(row.named), 0u) << platform.modalMessages[0];
        EXPECT_FALSE(form().Button1.enabled || form().tipo.enabled);

        platform.clearMessages();
        run(&Tformdata::butOKClick);
        EXPECT_EQ(platform.modalMessages.size(), 1u);
        EXPECT_TRUE(form().visible);
        EXPECT_FALSE(app->formcalc().visible);
        (form().*row.field).text = good;
    }
    // A refinement on the measured file's own angles takes fractional angles.
    app->formmain().RadioGroup1.itemIndex = 1;
    form().thetai.text = "-12.5";
    platform.clearMessages();
    run(&Tformdata::buttargetClick);
    EXPECT_TRUE(platform.allMessages().empty());
}

TEST_P(DataEntryTest, OneAtomChoiceCompletesWithOneClick) {
    for (const char* element : {"C", "Si", "Ge", "Sn"}) {
        SCOPED_TRACE(element);
        SetUp();
        ready();
        choose(0);
        EXPECT_EQ(enabledElements(), (Symbols{"C", "Si", "Ge", "Sn"}));
        EXPECT_FALSE(form().Button1.enabled);
        click(element);
        expectCrystal(element);
        EXPECT_TRUE(enabledElements().empty());
    }
}

TEST_P(DataEntryTest, TwoAtomChoiceGivesSiliconCarbideFromCOrSi) {
    for (const char* element : {"C", "Si"}) {
        SCOPED_TRACE(element);
        SetUp();
        ready();
        choose(1);
        EXPECT_EQ(enabledElements(), (Symbols{"Zn", "Cd", "Al", "Ga", "In", "Si", "C", "N", "P",
                                              "As", "Sb", "S", "Se", "Te"}));
        click(element);
        expectCrystal("SiC");
        EXPECT_EQ(form().Label2.caption, num("4.3490"));
        EXPECT_TRUE(enabledElements().empty());
    }
}

TEST_P(DataEntryTest, EveryCompoundIsReachableInEitherOrder) {
    int compounds = 0;
    for (const auto& crystal : crystalCatalogue()) {
        if (crystal.atoms != 2 || crystal.name == "SiC") continue;
        ++compounds;
        const std::string cation(crystal.site1), anion(crystal.site2);
        for (bool cationFirst : {true, false}) {
            SCOPED_TRACE(std::string(crystal.name) +
                         (cationFirst ? " cation first" : " anion first"));
            SetUp();
            ready();
            choose(1);
            const std::string first = cationFirst ? cation : anion;
            click(first);
            // The first half stays hidden and leaves exactly the partner group enabled.
            EXPECT_EQ(form().Label1.caption, first);
            EXPECT_FALSE(form().Label1.visible);
            EXPECT_FALSE(form().butOK.enabled);
            const Symbols partners = kCations2.count(first)   ? kAnions6
                                     : kCations3.count(first) ? kAnions5
                                     : kAnions5.count(first)  ? kCations3
                                                              : kCations2;
            EXPECT_EQ(enabledElements(), partners);
            click(cationFirst ? anion : cation);
            expectCrystal(std::string(crystal.name));
            EXPECT_TRUE(enabledElements().empty());
        }
    }
    EXPECT_EQ(compounds, 18);
}

TEST_P(DataEntryTest, CrystalTypeIsReadAtTheClick) {
    ready();
    choose(0);
    form().tipo.itemIndex = 1;  // switched after "Choose"
    EXPECT_EQ(enabledElements(), (Symbols{"C", "Si", "Ge", "Sn"}));
    click("Si");
    expectCrystal("SiC");

    SetUp();
    ready();
    choose(1);
    form().tipo.itemIndex = 0;
    click("C");
    expectCrystal("C");
    // Elemental clicks touch only the group IV buttons.
    EXPECT_EQ(enabledElements(),
              (Symbols{"Zn", "Cd", "Al", "Ga", "In", "N", "P", "As", "Sb", "S", "Se", "Te"}));
}

TEST_P(DataEntryTest, UndoRestartsTheChoice) {
    ready();
    choose(1);
    click("Ga");
    click("As");
    expectCrystal("GaAs");
    run(&Tformdata::butUndoClick);
    EXPECT_EQ(form().Label1.caption, "0");
    for (const Label* label : {&form().Label1, &form().Label2, &form().Label3, &form().Label4})
        EXPECT_FALSE(label->visible);
    EXPECT_EQ(form().Label2.caption, num("5.6534"));  // the texts stay
    EXPECT_TRUE(form().Button1.enabled);
    EXPECT_TRUE(form().butOK.enabled);
    EXPECT_TRUE(form().butUndo.enabled);

    // "Undo" after a first click leaves the partner group enabled; the next click starts anew.
    choose(1);
    click("Zn");
    run(&Tformdata::butUndoClick);
    EXPECT_EQ(enabledElements(), kAnions6);
    click("Se");
    EXPECT_EQ(form().Label1.caption, "Se");
    EXPECT_FALSE(form().Label1.visible);
    EXPECT_TRUE(enabledElements().empty());

    // A stale pair outside the catalogue keeps the previous lattice texts.
    choose(1);
    click("Te");
    EXPECT_EQ(form().Label1.caption, "SeTe");
    EXPECT_EQ(form().Label2.caption, num("5.6534"));
    EXPECT_TRUE(form().Label2.visible);
}

TEST_P(DataEntryTest, CorrectedLatticeConstants) {
    ready();
    choose(1);
    click("In");
    click("N");
    expectCrystal("InN");
    EXPECT_EQ(form().Label2.caption, num("4.98"));

    SetUp();
    ready();
    choose(1);
    click("As");
    click("In");
    EXPECT_EQ(form().Label2.caption, num("6.05838"));

    SetUp();
    ready();
    choose(0);
    click("Sn");
    EXPECT_EQ(form().Label2.caption, num("6.4892"));
    // The label reads back as a number with the locale's conversion.
    EXPECT_NEAR(static_cast<double>(app->locale().textToFloat(form().Label3.caption)), 6.4892,
                1e-12);
}

TEST_P(DataEntryTest, OkWritesTheAtomPositionsOfTheChosenCrystal) {
    const std::vector<std::string> empty(12);
    const struct {
        int type;
        std::vector<const char*> clicks;
        bool site1, site2;
    } cases[] = {
        {1, {"Ga", "As"}, true, true},
        {0, {"Si"}, true, true},
        {0, {"C"}, true, true},
        {1, {"S", "Cd"}, true, true},
        {1, {"C"}, true, true},
        {0, {"Ge"}, true, true},
        {1, {"Zn", "Te"}, true, true},
        {1, {"N", "Al"}, true, true},
        {1, {"Cd", "S", "Undo"}, false, false},  // formula "0": no table, still on to "Start"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clicks.front());
        SetUp();
        ready();
        choose(c.type);
        for (const std::string symbol : c.clicks)
            if (symbol == "Undo")
                run(&Tformdata::butUndoClick);
            else
                click(symbol);
        ASSERT_TRUE(run(&Tformdata::butOKClick));
        EXPECT_EQ(cells(form().posat1), c.site1 ? site1() : empty);
        EXPECT_EQ(cells(form().posat2), c.site2 ? site2() : empty);
        EXPECT_FALSE(form().visible);
        EXPECT_TRUE(app->formcalc().visible);
    }
}

TEST_P(DataEntryTest, OkOfACalculationJobOpensTheCalculationWindowOnly) {
    Tformcalc& calc = app->formcalc();
    calc.grafico.visible = true;
    calc.butGo.enabled = true;
    calc.Label1.visible = false;
    ready();
    choose(1);
    click("Ga");
    click("As");
    ASSERT_TRUE(run(&Tformdata::butOKClick));
    EXPECT_FALSE(form().visible);
    EXPECT_TRUE(calc.visible);
    EXPECT_FALSE(calc.grafico.visible);
    EXPECT_FALSE(calc.butGo.enabled);
    EXPECT_FALSE(calc.Label1.visible);
    EXPECT_FALSE(app->formrefine().visible);
    EXPECT_EQ(app->formrefine().StringGrid1.rowCount(), 2);
}

TEST_P(DataEntryTest, OkOfARefinementJobShowsThePopulation) {
    app->formmain().RadioGroup1.itemIndex = 1;
    app->formrefinedata().Edit1.text = "3";
    auto& population = app->refine().population;
    population[0] = {7.5f, 0.004f, 500.f, 300.f, 200.f, 1.25f};
    population[1] = {8.f, 0.0035f, 120.f, 60.f, 700.f, 0.f};
    population[2] = {9.25f, 0.005f, 799.5f, 50.f, 51.f, 100.f};
    Tformcalc& calc = app->formcalc();
    calc.Label1.visible = false;
    calc.ncycles.visible = false;
    app->formrefine().Label14.caption = "0.004";  // a best candidate of an earlier job
    app->formrefine().Label5.caption = "2.5";
    ready();
    choose(0);
    click("Si");
    ASSERT_TRUE(run(&Tformdata::butOKClick));

    const StringGrid& grid = app->formrefine().StringGrid1;
    EXPECT_TRUE(app->formrefine().visible);
    EXPECT_EQ(app->formrefine().Label14.caption, "---");
    EXPECT_EQ(app->formrefine().Label5.caption, "-----");
    ASSERT_EQ(grid.rowCount(), 4);
    const std::vector<std::string> headers = {"Scale Factor", "Tau",    "Ro",
                                              "Sigma1",       "Sigma2", "Error(%)"};
    for (int col = 0; col < 6; ++col)
        EXPECT_EQ(grid.cell(col, 0), headers[static_cast<std::size_t>(col)]);
    EXPECT_EQ(grid.cell(0, 1), num("7.5"));
    EXPECT_EQ(grid.cell(4, 1), "200");
    EXPECT_EQ(grid.cell(5, 1), num("1.25"));
    EXPECT_EQ(grid.cell(2, 3), num("799.5"));
    // Single-precision values are shown with the digits they hold, as the run driver does.
    EXPECT_EQ(grid.cell(1, 2), num("0.0035"));
    EXPECT_TRUE(calc.visible);
    EXPECT_TRUE(calc.Label1.visible);
    EXPECT_TRUE(calc.ncycles.visible);
    EXPECT_FALSE(calc.butGo.enabled);
}

TEST_P(DataEntryTest, OkRefusesAPopulationSizeOutsideThePopulation) {
    app->formmain().RadioGroup1.itemIndex = 1;
    for (const char* size : {"500", "1", "-3", "abc", ""}) {
        SCOPED_TRACE(size);
        platform.clearMessages();
        app->formrefinedata().Edit1.text = size;
        form().posat1.clear();
        form().show();
        if (!form().butOK.enabled) {
            ready();
            choose(1);
            click("In");
            click("P");
        }
        EXPECT_FALSE(run(&Tformdata::butOKClick) && platform.allMessages().empty());
        ASSERT_EQ(platform.allMessages().size(), 1u);
        // Nothing changed: the set-up window stays open for a correction.
        EXPECT_TRUE(form().visible);
        EXPECT_FALSE(app->formcalc().visible);
        EXPECT_FALSE(app->formrefine().visible);
        EXPECT_EQ(form().posat1.cell(0, 1), "");
    }
}

KELVARIN_BOTH_SEPARATORS(DataEntryTest);

}  // namespace
}  // namespace kelvarin

#include "setup/formdata.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "engine/catalogue.hpp"
#include "engine/scattering.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/population.hpp"
#include "refine/refine_state.hpp"
#include "results/formcalc.hpp"

namespace kelvarin {

namespace {

// Element groups of the catalogue: elemental crystals, cations and anions.
constexpr std::array<std::string_view, 4> kGroupIV = {"C", "Si", "Ge", "Sn"};
constexpr std::array<std::string_view, 2> kGroupII = {"Zn", "Cd"};
constexpr std::array<std::string_view, 3> kGroupIII = {"Al", "Ga", "In"};
constexpr std::array<std::string_view, 4> kGroupV = {"N", "P", "As", "Sb"};
constexpr std::array<std::string_view, 3> kGroupVI = {"S", "Se", "Te"};

}  // namespace

Tformdata::Tformdata(Application& app) : Window(app, "Data Entry") {
    posat1.visible = false;
    posat2.visible = false;
    // The design wavelength is shown with the decimal separator of every other field.
    wl.text = app.locale().NormalizeDecimalSeparator(wl.text);
    synchrotronWavelength_ = wl.text;
}

Button* Tformdata::elementButton(std::string_view symbol) {
    Button* buttons[] = {&C,  &Si, &Ge, &Sn, &Zn, &Cd, &Al, &Ga,
                         &In, &N,  &P,  &As, &Sb, &S,  &Se, &Te};
    for (std::size_t i = 0; i < kElementSymbols.size(); ++i)
        if (kElementSymbols[i] == symbol) return buttons[i];
    return nullptr;
}

bool Tformdata::clickElement(std::string_view symbol) {
    struct Entry {
        std::string_view symbol;
        void (Tformdata::*handler)();
    };
    static constexpr Entry entries[] = {
        {"C", &Tformdata::CClick},   {"Si", &Tformdata::SiClick}, {"Ge", &Tformdata::GeClick},
        {"Sn", &Tformdata::SnClick}, {"Zn", &Tformdata::ZnClick}, {"Cd", &Tformdata::CdClick},
        {"Al", &Tformdata::AlClick}, {"Ga", &Tformdata::GaClick}, {"In", &Tformdata::InClick},
        {"N", &Tformdata::NClick},   {"P", &Tformdata::PClick},   {"As", &Tformdata::AsClick},
        {"Sb", &Tformdata::SbClick}, {"S", &Tformdata::SClick},   {"Se", &Tformdata::SeClick},
        {"Te", &Tformdata::TeClick}};
    for (const Entry& entry : entries)
        if (entry.symbol == symbol) {
            (this->*entry.handler)();
            return true;
        }
    return false;
}

void Tformdata::setEnabled(Symbols symbols, bool enabled) {
    for (auto symbol : symbols)
        if (Button* button = elementButton(symbol)) button->enabled = enabled;
}

// ---- Reflection, scan and radiation ----

void Tformdata::buttargetClick() {
    bool complete = true;
    for (Edit* field : {&h, &k, &l, &thetai, &thetaf, &step})
        if (field->text.empty()) {
            field->colour = Colour::Blue;
            complete = false;
        }
    if (radiacao.itemIndex == -1) {
        radiacao.colour = Colour::Blue;
        complete = false;
    }
    if (complete) {
        const Locale& locale = app_.locale();
        step.text = locale.NormalizeDecimalSeparator(step.text);
        thetai.text = locale.NormalizeDecimalSeparator(thetai.text);
        thetaf.text = locale.NormalizeDecimalSeparator(thetaf.text);
        // Entries that "Start" could not use are refused here, while the window is open.
        const std::string problem = entryProblem(false);
        if (problem.empty()) {
            Button1.enabled = true;
            tipo.enabled = true;
        } else {
            app_.showError(problem);
        }
    }
    Timer1.enabled = true;
}

std::string Tformdata::entryProblem(bool withWavelength) const {
    auto whole = [](const Edit& field, const Label& caption) -> std::string {
        int value = 0;
        if (Locale::tryTextToInt(field.text, value)) return {};
        return caption.fieldName() + ": '" + field.text + "' is not a whole number.";
    };
    for (auto [field, caption] : {std::pair{&h, &La1}, {&k, &Label13}, {&l, &Label14}})
        if (auto problem = whole(*field, *caption); !problem.empty())
            return problem + " Miller indices are whole numbers.";

    // A calculation job, or a refinement on "Integer, equally spaced angle values", computes
    // the scan from these fields in whole seconds of arc.
    const Tformmain& main = app_.formmain();
    const bool integerScan = main.RadioGroup1.itemIndex != 1 || main.chkInteiro.checked;
    if (integerScan) {
        for (auto [field, caption] : {std::pair{&thetai, &L8}, {&thetaf, &L9}, {&step, &L11}})
            if (auto problem = whole(*field, *caption); !problem.empty())
                return problem + " The scan is computed in whole seconds of arc.";
        int first = 0, last = 0, stride = 0;
        Locale::tryTextToInt(thetai.text, first);
        Locale::tryTextToInt(thetaf.text, last);
        Locale::tryTextToInt(step.text, stride);
        if (stride <= 0) return "Step size: '" + step.text + "' must be at least 1 second of arc.";
        if (last < first)
            return "Final angle (" + thetaf.text + ") lies below the initial angle (" +
                   thetai.text + ").";
    }
    if (withWavelength && radiacao.itemIndex == kSynchrotron) {
        long double lambda = 0;
        if (!app_.locale().tryTextToFloat(app_.locale().NormalizeDecimalSeparator(wl.text),
                                          lambda) ||
            !(lambda > 0))
            return "Synchrotron wavelength: '" + wl.text +
                   "' is not a wavelength in ångström greater than 0.";
    }
    return {};
}

void Tformdata::Timer1Timer() {
    for (Edit* field : {&h, &k, &l, &thetai, &thetaf, &step})
        field->colour = Colour::Window;
    radiacao.colour = Colour::Window;
    Timer1.enabled = false;
}

void Tformdata::radiacaoChange() {
    // The field shows the wavelength of the chosen tube line; the one typed for synchrotron
    // radiation is kept for when that is chosen again.
    if (wl.enabled) synchrotronWavelength_ = wl.text;
    wl.enabled = radiacao.itemIndex == kSynchrotron;
    if (wl.enabled)
        wl.text = synchrotronWavelength_;
    else if (radiacao.itemIndex >= 0 && radiacao.itemIndex < kSynchrotron)
        wl.text = app_.locale().floatToText(tubeWavelength(radiacao.itemIndex));
}

// ---- Crystal choice ----

void Tformdata::Button1Click() {
    if (radiacao.itemIndex == kSynchrotron)
        wl.text = app_.locale().NormalizeDecimalSeparator(wl.text);
    if (tipo.itemIndex == 0)
        setEnabled(kGroupIV, true);
    else
        setEnabled({"Zn", "Cd", "Al", "Ga", "In", "Si", "C", "N", "P", "As", "Sb", "S", "Se", "Te"},
                   true);
    Button1.enabled = false;
}

void Tformdata::butUndoClick() {
    Label1.visible = false;
    Label1.caption = "0";
    Label2.visible = false;
    Label3.visible = false;
    Label4.visible = false;
    Button1.enabled = true;
}

void Tformdata::showCrystal() {
    for (Label* label : {&Label1, &Label2, &Label3, &Label4})
        label->visible = true;
    butOK.enabled = true;
    butUndo.enabled = true;
}

namespace {

void writeLattice(Tformdata& form, const CrystalEntry& crystal, char separator) {
    const std::string text = crystal.latticeText(separator);
    form.Label2.caption = text;
    form.Label3.caption = text;
    form.Label4.caption = text;
}

}  // namespace

void Tformdata::elementalClick(std::string_view symbol) {
    setEnabled({"C", "Sn", "Si", "Ge"}, false);
    Label1.caption = std::string(symbol);
    if (const CrystalEntry* crystal = findCrystal(symbol))
        writeLattice(*this, *crystal, app_.locale().decimalSeparator());
    showCrystal();
}

void Tformdata::siliconCarbideClick() {
    setEnabled(kGroupIV, false);
    setEnabled(kGroupII, false);
    setEnabled(kGroupIII, false);
    setEnabled(kGroupV, false);
    setEnabled(kGroupVI, false);
    Label1.caption = "SiC";
    writeLattice(*this, *findCrystal("SiC"), app_.locale().decimalSeparator());
    showCrystal();
}

void Tformdata::compoundHalfClick(std::string_view symbol) {
    struct HalfRule {
        std::string_view symbol;
        bool cation;
        Symbols ownGroup;
        Symbols firstClickSet;
        std::array<std::string_view, 4> recognised;  // unused slots are ""
    };
    // The first click of a cation leaves only its partner anions enabled, and vice versa, so a
    // fresh choice can only build compounds of the catalogue.
    static constexpr std::array<std::string_view, 12> kIIFirst = {
        "Al", "Ga", "In", "Zn", "Cd", "C", "Si", "Ge", "N", "P", "As", "Sb"};
    static constexpr std::array<std::string_view, 11> kIIIFirst = {
        "Al", "Ga", "In", "Zn", "Cd", "C", "Si", "Ge", "S", "Se", "Te"};
    static constexpr std::array<std::string_view, 12> kVFirst = {"N", "P",  "As", "Sb", "Zn", "Cd",
                                                                 "C", "Si", "Ge", "S",  "Se", "Te"};
    static constexpr std::array<std::string_view, 13> kVIFirst = {
        "Al", "Ga", "In", "S", "Se", "Te", "C", "Si", "Ge", "N", "P", "As", "Sb"};
    static const HalfRule rules[] = {
        {"Zn", true, kGroupII, kIIFirst, {"ZnS", "ZnSe", "ZnTe"}},
        {"Cd", true, kGroupII, kIIFirst, {"CdS", "CdSe", "CdTe"}},
        {"Al", true, kGroupIII, kIIIFirst, {"AlAs", "AlN", "AlSb", "AlP"}},
        {"Ga", true, kGroupIII, kIIIFirst, {"GaAs", "GaN", "GaSb", "GaP"}},
        {"In", true, kGroupIII, kIIIFirst, {"InAs", "InN", "InSb", "InP"}},
        {"N", false, kGroupV, kVFirst, {"AlN", "GaN", "InN"}},
        {"P", false, kGroupV, kVFirst, {"AlP", "GaP", "InP"}},
        {"As", false, kGroupV, kVFirst, {"AlAs", "GaAs", "InAs"}},
        {"Sb", false, kGroupV, kVFirst, {"AlSb", "GaSb", "InSb"}},
        {"S", false, kGroupVI, kVIFirst, {"ZnS", "CdS"}},
        {"Se", false, kGroupVI, kVIFirst, {"ZnSe", "CdSe"}},
        {"Te", false, kGroupVI, kVIFirst, {"ZnTe", "CdTe"}},
    };
    const HalfRule* rule = nullptr;
    for (const auto& r : rules)
        if (r.symbol == symbol) rule = &r;
    if (rule == nullptr) return;

    if (Label1.caption == "0") {
        // First half: remember the symbol (still hidden) and leave the partner group enabled.
        setEnabled(rule->firstClickSet, false);
        Label1.caption = std::string(symbol);
        return;
    }
    // Second half: the name is always cation then anion, whichever came first.
    if (rule->cation)
        Label1.caption = std::string(symbol) + Label1.caption;
    else
        Label1.caption += symbol;
    Label1.visible = true;
    setEnabled(rule->ownGroup, false);
    butOK.enabled = true;
    butUndo.enabled = true;
    // A name the handler does not know (a stale first half after "Undo") keeps the old texts.
    for (auto name : rule->recognised)
        if (Label1.caption == name) {
            writeLattice(*this, *findCrystal(name), app_.locale().decimalSeparator());
            break;
        }
    showCrystal();
}

void Tformdata::CClick() {
    if (tipo.itemIndex == 0)
        elementalClick("C");
    else
        siliconCarbideClick();
}

void Tformdata::SiClick() {
    if (tipo.itemIndex == 0)
        elementalClick("Si");
    else
        siliconCarbideClick();
}

void Tformdata::GeClick() {
    elementalClick("Ge");
}
void Tformdata::SnClick() {
    elementalClick("Sn");
}
void Tformdata::ZnClick() {
    compoundHalfClick("Zn");
}
void Tformdata::CdClick() {
    compoundHalfClick("Cd");
}
void Tformdata::AlClick() {
    compoundHalfClick("Al");
}
void Tformdata::GaClick() {
    compoundHalfClick("Ga");
}
void Tformdata::InClick() {
    compoundHalfClick("In");
}
void Tformdata::NClick() {
    compoundHalfClick("N");
}
void Tformdata::PClick() {
    compoundHalfClick("P");
}
void Tformdata::AsClick() {
    compoundHalfClick("As");
}
void Tformdata::SbClick() {
    compoundHalfClick("Sb");
}
void Tformdata::SClick() {
    compoundHalfClick("S");
}
void Tformdata::SeClick() {
    compoundHalfClick("Se");
}
void Tformdata::TeClick() {
    compoundHalfClick("Te");
}

// ---- "OK" ----

namespace {

void writePositions(StringGrid& grid, const SublatticePositions& positions, char separator) {
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col)
            grid.setCell(
                col, row,
                positionText(
                    positions[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)],
                    separator));
}

}  // namespace

void Tformdata::butOKClick() {
    const Locale& locale = app_.locale();
    const bool refinement = app_.formmain().isRefinementJob();

    // The population size is read before anything changes, so a bad size leaves the window
    // open with the set-up as it was.
    int populationSize = 0;
    if (refinement) {
        populationSize = locale.textToInt(app_.formrefinedata().Edit1.text, "# of elements");
        if (populationSize < kMinPopulation || populationSize > kMaxPopulation) {
            app_.showError(
                "The number of elements (\"# of elements\" of the refinement "
                "settings) must lie between " +
                std::to_string(kMinPopulation) + " and " + std::to_string(kMaxPopulation) +
                ", not " + std::to_string(populationSize) + ".");
            return;
        }
    }

    thetai.text = locale.NormalizeDecimalSeparator(thetai.text);
    thetaf.text = locale.NormalizeDecimalSeparator(thetaf.text);
    step.text = locale.NormalizeDecimalSeparator(step.text);
    // The entries may have changed since "Select target...": the window stays open for a
    // correction rather than handing "Start" a set-up it refuses.
    if (const std::string problem = entryProblem(true); !problem.empty()) {
        app_.showError(problem);
        return;
    }

    Tformcalc& calc = app_.formcalc();
    calc.grafico.visible = false;

    const std::string& name = Label1.caption;
    if (writesSite1Positions(name))
        writePositions(posat1, kSite1Positions, locale.decimalSeparator());
    if (writesSite2Positions(name))
        writePositions(posat2, kSite2Positions, locale.decimalSeparator());

    hide();

    if (refinement) {
        Tformrefine& progress = app_.formrefine();
        progress.clearResults();
        progress.show();
        StringGrid& grid = progress.StringGrid1;
        for (int col = 0; col < 6; ++col)
            grid.setCell(col, 0, Tformrefine::kGridHeaders[col]);
        grid.setRowCount(populationSize + 1);
        const auto& population = app_.refine().population;
        for (int row = 0; row < populationSize; ++row)
            for (int col = 0; col < kCandidateColumns; ++col)
                grid.setCell(
                    col, row + 1,
                    candidateText(
                        app_,
                        population[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)]));
        calc.Label1.visible = true;
        calc.ncycles.visible = true;
    }

    calc.butGo.enabled = false;
    calc.show();
}

}  // namespace kelvarin

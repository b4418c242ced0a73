// "Data Entry": reflection, scan, radiation and crystal of a job, and the depth-profile table.
#pragma once

#include <array>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tformdata : public Window {
public:
    explicit Tformdata(Application& app);

    // Depth-profile table (thickness in Å, strain in percent), filled by the profile imports.
    Label Lab1{{}, "Data imported from file (after normalization):", {}};
    StringGrid data{2, 18, 0};

    // Reflection.
    Label L7{{}, "Miller indices (sample reflection):", {}};
    Label La1{{}, "h:", {}};
    Label Label13{{}, "k:", {}};
    Label Label14{{}, "l:", {}};
    Edit h{{}, "0", {}};
    Edit k{{}, "0", {}};
    Edit l{{}, "4", {}};

    // Scan, seconds of arc.
    Label L8{{}, "Initial angle (seconds of arc):", {}};
    Edit thetai{{}, "", {}};
    Label L9{{}, "Final angle (seconds of arc):", {}};
    Edit thetaf{{}, "", {}};
    Label L11{{}, "Step size:", {}};
    Edit step{{}, "", {}};

    // Radiation: a tube line, or synchrotron radiation with the wavelength (Å) typed in `wl`.
    Label L10{{}, "Radiation:", {}};
    ComboBox radiacao{
        {}, {"Cra1", "Fea1", "Coa1", "Nia1", "Cua1", "Moa1", "Synchrotron"}, -1, "Element"};
    /// Wavelength, Å: typed for "Synchrotron", the line's own for a tube line (not editable).
    Edit wl{{.enabled = false}, "1,43807", {}};
    static constexpr int kSynchrotron = 6;  ///< index of "Synchrotron" in `radiacao`

    Button buttarget{{}, "Select target..."};

    // Crystal choice.
    RadioGroup tipo{{.enabled = false}, "Crystal type", {"1 atom", "2 atoms"}, 0};
    Button Button1{{.enabled = false}, "Choose"};
    /// Compound name; "0" while nothing is chosen, the first symbol while a compound is half built.
    Label Label1{{.visible = false}, "0", {}};
    /// Lattice constants a, b, c in Å as number texts.
    Label Label2{{.visible = false}, "a:", {}};
    Label Label3{{.visible = false}, "b:", {}};
    Label Label4{{.visible = false}, "c:", {}};
    Label Label6{{}, "a:", {}};
    Label Label7{{}, "b:", {}};
    Label Label8{{}, "c:", {}};

    // Element buttons.
    Button C{{.enabled = false}, "C"};
    Button Si{{.enabled = false}, "Si"};
    Button Ge{{.enabled = false}, "Ge"};
    Button Sn{{.enabled = false}, "Sn"};
    Button Zn{{.enabled = false}, "Zn"};
    Button Cd{{.enabled = false}, "Cd"};
    Button Al{{.enabled = false}, "Al"};
    Button Ga{{.enabled = false}, "Ga"};
    Button In{{.enabled = false}, "In"};
    Button N{{.enabled = false}, "N"};
    Button P{{.enabled = false}, "P"};
    Button As{{.enabled = false}, "As"};
    Button Sb{{.enabled = false}, "Sb"};
    Button S{{.enabled = false}, "S"};
    Button Se{{.enabled = false}, "Se"};
    Button Te{{.enabled = false}, "Te"};

    /// Fractional atom positions (columns x, y, z; one atom a row) of site 1 and site 2,
    /// written by "OK"; not shown to the user.
    StringGrid posat1{3, 4, 0};
    StringGrid posat2{3, 4, 0};

    Button butOK{{.enabled = false}, "OK"};
    Button butUndo{{.enabled = false}, "Undo"};

    /// Ends the blue highlighting of missing entries.
    Timer Timer1{500, false};

    // Handlers.
    void buttargetClick();  ///< "Select target...": checks the entries, unlocks the crystal
    void Timer1Timer();     ///< restores the normal colours and stops the timer
    void radiacaoChange();  ///< the radiation list changed
    void Button1Click();    ///< "Choose": enables the element buttons of the crystal type
    void butOKClick();      ///< "OK": atom positions, then on to the calculation window
    void butUndoClick();    ///< "Undo": clears the chosen crystal

    void CClick();
    void SiClick();
    void GeClick();
    void SnClick();
    void ZnClick();
    void CdClick();
    void AlClick();
    void GaClick();
    void InClick();
    void NClick();
    void PClick();
    void AsClick();
    void SbClick();
    void SClick();
    void SeClick();
    void TeClick();

    /// The sixteen element buttons with their symbols, in the order C, Si, Ge, Sn, Zn, Cd, Al, Ga,
    /// In, N, P, As, Sb, S, Se, Te.
    static constexpr std::array<std::string_view, 16> kElementSymbols = {
        "C", "Si", "Ge", "Sn", "Zn", "Cd", "Al", "Ga", "In", "N", "P", "As", "Sb", "S", "Se", "Te"};
    /// The button of `symbol`, or nullptr for a symbol without one.
    Button* elementButton(std::string_view symbol);
    const Button* elementButton(std::string_view symbol) const {
        return const_cast<Tformdata*>(this)->elementButton(symbol);
    }
    /// Runs the click handler of the button of `symbol`; false for a symbol without a button.
    bool clickElement(std::string_view symbol);

private:
    using Symbols = std::span<const std::string_view>;
    /// What makes the entries unusable for "Start" ("" when nothing): Miller indices and, when
    /// the scan is taken from the fields, whole-number angles in order and a positive step;
    /// with `withWavelength`, a synchrotron wavelength greater than 0.
    std::string entryProblem(bool withWavelength) const;
    void setEnabled(Symbols symbols, bool enabled);
    void setEnabled(std::initializer_list<std::string_view> symbols, bool enabled) {
        setEnabled(Symbols(symbols.begin(), symbols.size()), enabled);
    }
    void showCrystal();
    void elementalClick(std::string_view symbol);
    void siliconCarbideClick();
    void compoundHalfClick(std::string_view symbol);

    /// The wavelength last typed for synchrotron radiation, shown again when it is chosen.
    std::string synchrotronWavelength_;
};

}  // namespace kelvarin

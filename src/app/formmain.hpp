// The main window: job type, theory, input file and its kind; "OK" hands over to the next window.
#pragma once

#include <string>
#include <string_view>

#include "app/controls.hpp"
#include "app/window.hpp"
#include "engine/state.hpp"

namespace kelvarin {

class Tformmain : public Window {
public:
    explicit Tformmain(Application& app);

    static constexpr const char* kDefaultFile = "MorvelSincrotronA2004.DAT";
    /// The warning of fileExit for a file name that names no file.
    static std::string missingFileMessage(const std::string& name);

    RadioGroup RadioGroup1{
        {}, "Job type", {"Rocking curve calculation", "Evolutionary data refinement"}, 0};
    Label Label2{{}, "File containing the ion distribution:", {}};
    Edit file{{}, kDefaultFile, {}};
    Button Button1{{}, "&Browse..."};
    CheckBox chkInteiro{{}, "Integer, equally spaced angle values", false};
    RadioGroup filetype{{},
                        "File Type",
                        {"2 columns (thickness, concentration)", "2 columns (thickness, strain(%))",
                         "4 columns (Ion number, x, y and z positions)"},
                        -1};
    RadioGroup theory{{}, "Theory", {"Kinematical", "Dynamical"}, 1};
    Label Label6{{.enabled = false}, "Maximum strain (%):", {}};
    Edit mstrain{{.enabled = false}, "", {}};
    Label Label1{{.enabled = false}, "Number of layers used in fitting:", {}};
    Edit nlayers{{.enabled = false}, "16", {}};
    Button butok{{}, "OK"};

    // Menu bar: "&File" > "E&xit"; "&Help" > "H&ow to use Kelvarin", "&About Kelvarin".
    MenuItem File1{{}, "&File"};
    MenuItem Exit1{{}, "E&xit"};
    MenuItem Help1{{}, "&Help"};
    MenuItem KelvarinsHowTo1{{}, "H&ow to use Kelvarin"};
    MenuItem AboutKelvarin1{{}, "&About Kelvarin"};

    /// Text behind "How to use Kelvarin": a short walk through a job.
    static std::string_view howToText();
    /// Text behind "About Kelvarin".
    static std::string_view aboutText();

    /// "Browse...": the file dialog; a confirmed choice replaces `file` (fileExit does not run).
    void Button1Click();
    /// Focus leaves `file`: warns when no file of the typed name exists (the text stays as
    /// typed); an empty field is left for "OK" to ask about.
    void fileExit();
    /// File type changed: a strain file needs no maximum strain.
    void filetypeClick();
    /// Job type changed: switches the fields between a calculation and a refinement job.
    void RadioGroup1Click();
    /// "OK": prepares the Data Entry window and opens the next window of the chosen job.
    void butokClick();

    /// "Evolutionary data refinement" is chosen (otherwise a rocking-curve calculation).
    bool isRefinementJob() const { return RadioGroup1.itemIndex == 1; }
    /// The theory chosen for the strained lamellae.
    Theory theoryChoice() const { return static_cast<Theory>(theory.itemIndex); }
    /// "Exit": ends the program.
    void Exit1Click();
};

}  // namespace kelvarin

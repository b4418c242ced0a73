#include "app/formmain.hpp"

#include <filesystem>
#include <system_error>

#include "app/application.hpp"
#include "app/form4cols.hpp"
#include "app/profile_import.hpp"
#include "refine/formrefinedata.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {

namespace {

constexpr int kJobCalculation = 0;
constexpr int kJobRefinement = 1;

constexpr int kFileConcentration = 0;
constexpr int kFileStrain = 1;
constexpr int kFileIons = 2;

constexpr std::string_view kHowTo =
    "How to use Kelvarin\n"
    "\n"
    "Main window\n"
    "  Choose the job. \"Rocking curve calculation\" starts from a depth profile file: choose "
    "its kind under \"File Type\" and, for a concentration profile or a list of ion positions, "
    "type the maximum strain in percent. \"Evolutionary data refinement\" starts from a "
    "measured rocking curve (angle in seconds of arc, intensity) and the number of layers of "
    "the refined profile. Then press \"OK\".\n"
    "\n"
    "Input files are plain text: numbers separated by blanks or line ends, with a point as "
    "decimal separator.\n"
    "  - thickness (Å) and concentration, one pair per layer;\n"
    "  - thickness (Å) and strain (%), one pair per layer;\n"
    "  - ion number, x, y, z (Å), one record per ion; x is the depth below the surface. The "
    "\"Four-Column Data File\" window turns the ion depths into a histogram of layers.\n"
    "\n"
    "Data Entry\n"
    "  Type the Miller indices h, k, l of the reflection, the first and last angle and the "
    "step of the scan (seconds of arc) and choose the radiation. \"Select target...\" checks "
    "the entries (missing ones flash blue); choose the crystal type, press \"Choose\" and "
    "click the element buttons of the crystal. \"OK\" opens the calculation window.\n"
    "\n"
    "Rocking Curve Calculation\n"
    "  \"Start\" computes the curve of the perfect crystal (and reads the measured curve when "
    "needed), \"Plot\" draws the curves; for a refinement, \"GO\" runs the evolutionary search. "
    "\"Save output files\" writes three text files named after the name typed in the "
    "window's file field: the curves (.fit), the fitted parameters (.out) and the strain "
    "profile (.ion), and the plot as a picture (.png), in the current folder unless the name "
    "holds a folder; the line above the plot says where they went. The window may be resized "
    "and the plot follows it.";

constexpr std::string_view kAbout =
    "Kelvarin\n"
    "\n"
    "High-resolution X-ray diffraction of ion-implanted semiconductor crystals: rocking "
    "curves of a perfect substrate under a stack of strained lamellae (dynamical or "
    "kinematical theory), and an evolutionary fit of the strain-depth profile to a measured "
    "curve.\n"
    "\n"
    "Lengths are in ångström, angles in seconds of arc, strain in percent.";

}  // namespace

Tformmain::Tformmain(Application& app) : Window(app, "Kelvarin") {}

std::string_view Tformmain::howToText() {
    return kHowTo;
}

std::string_view Tformmain::aboutText() {
    return kAbout;
}

void Tformmain::Button1Click() {
    if (auto chosen = app_.platform().chooseFile()) file.text = *chosen;
}

std::string Tformmain::missingFileMessage(const std::string& name) {
    return "File does not exist: '" + name + "'.";
}

void Tformmain::fileExit() {
    if (file.text.empty()) return;
    std::error_code ec;
    const std::filesystem::path path(file.text);
    if (!std::filesystem::exists(path, ec) || std::filesystem::is_directory(path, ec)) {
        app_.showError(missingFileMessage(file.text));
    } else if (!std::filesystem::is_regular_file(path, ec)) {
        // Reading a pipe or a device would block the window.
        app_.showError("'" + file.text + "' is not a regular file: choose a data file.");
    }
}

void Tformmain::filetypeClick() {
    const bool needsMaximumStrain = filetype.itemIndex != kFileStrain;
    Label6.enabled = needsMaximumStrain;
    mstrain.enabled = needsMaximumStrain;
}

void Tformmain::RadioGroup1Click() {
    if (RadioGroup1.itemIndex == kJobRefinement) {
        filetype.enabled = false;
        Label6.enabled = false;
        mstrain.enabled = false;
        Label1.enabled = true;
        nlayers.enabled = true;
        Label2.caption = "Measured data file:";
    } else {
        filetype.enabled = true;
        if (filetype.itemIndex == kFileConcentration || filetype.itemIndex == kFileIons) {
            Label6.enabled = true;
            mstrain.enabled = true;
        }
        Label1.enabled = false;
        nlayers.enabled = false;
        Label2.caption = "File containing the ion distribution:";
    }
    // A refinement set-up fills and locks the scan fields; a new job unlocks them.
    Tformdata& data = app_.formdata();
    data.thetai.enabled = true;
    data.thetaf.enabled = true;
    data.step.enabled = true;
}

void Tformmain::butokClick() {
    Tformdata& formdata = app_.formdata();
    const int job = RadioGroup1.itemIndex;

    // 1. Caption of the Data Entry table.
    formdata.Lab1.caption = job == kJobRefinement
                                ? "Initial values for layer strains:"
                                : "Data imported from file (after normalization):";

    // 2. A new maximum strain starts a new crystal choice.
    if (!mstrain.text.empty()) {
        formdata.tipo.enabled = false;
        formdata.Button1.enabled = false;
        formdata.Label1.caption = "0";
        mstrain.text = app_.locale().NormalizeDecimalSeparator(mstrain.text);
    }

    // 3.-5. A calculation job imports its profile (one file type at a time). A file that cannot
    // be used is reported in the error window and changes nothing; a maximum strain that is not
    // a number ends the handler with a conversion error.
    if (job == kJobCalculation) {
        try {
            switch (filetype.itemIndex) {
                case kFileIons:
                    app_.form4cols().scanIonFile();
                    break;
                case kFileConcentration:
                    importConcentrationProfile(app_);
                    break;
                case kFileStrain:
                    importStrainProfile(app_);
                    break;
                default:
                    break;
            }
        } catch (const ImportError& e) {
            app_.showError(e.what());
            return;
        }
    }

    // 6. A refinement job goes on in the settings window; no file is read here.
    if (!nlayers.text.empty() && job == kJobRefinement && !file.text.empty())
        app_.formrefinedata().show();

    // Nothing opened: say what is missing instead of doing nothing.
    if (job == kJobCalculation && filetype.itemIndex < 0)
        app_.showError("Choose the kind of the input file under \"File Type\" first.");
    else if (job == kJobRefinement && file.text.empty())
        app_.showError("Type the name of the measured data file first.");
    else if (job == kJobRefinement && nlayers.text.empty())
        app_.showError("Type the number of layers used in fitting first.");
}

void Tformmain::Exit1Click() {
    app_.terminate();
}

}  // namespace kelvarin

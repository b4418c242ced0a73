// A batch job read from a TOML file: what to type into each window and which buttons to press.
// Reading checks every key (name, type, range, files it names) before anything runs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace kelvarin::cli {

/// A job file that cannot be run. The message names the file and, where one is at fault, the key
/// ("refinement.population") with its line.
class JobError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class JobKind { Calculation, Refinement };

/// The main window's "File Type" choices (item indices).
enum class ProfileFileType { None = -1, Concentration = 0, Strain = 1, IonPositions = 2 };

/// Limits and maximum mutation of one refined parameter, as typed into the settings window.
struct ParameterLimits {
    double minimum = 0;
    double maximum = 0;
    double maxMutation = 0;
};

struct JobSpec {
    std::filesystem::path jobFile;  ///< as given on the command line
    std::filesystem::path folder;   ///< the job file's folder: file names are relative to it

    // [main]
    JobKind job = JobKind::Calculation;
    int theory = 1;    ///< 0 kinematical, 1 dynamical
    std::string file;  ///< as written in the job (relative to `folder`)
    bool integerAngles = false;
    ProfileFileType fileType = ProfileFileType::None;
    std::optional<double> maxStrainPercent;
    std::optional<int> layers;  ///< refinement: lamellae of the fitted profile
    /// Refinement: which scan of a measured file in an instrument format (0: its only one).
    int scanNumber = 0;

    // [ion_positions]
    std::optional<double> ionMaxDepth;  ///< Å
    std::optional<int> ionLayers;

    // [data_entry]
    std::array<int, 3> hkl{0, 0, 4};
    std::optional<std::array<int, 3>> scan;  ///< initial, final, step (seconds of arc)
    int radiation = -1;                      ///< item of the radiation list, 6 = synchrotron
    std::optional<double> wavelength;        ///< Å, synchrotron only
    std::string crystal;

    // [refinement]; unset values keep the window's design texts.
    std::optional<bool> pearson;  ///< model: false 2gauss, true Pearson VII
    std::optional<ParameterLimits> tau, ro, sigma1, sigma2, width;
    std::optional<double> mutationProbability;
    std::optional<int> population;
    std::optional<int> normalisation;  ///< item of "Experimental-Theoretical Normalization"
    std::optional<double> background;
    std::optional<int> generations;
    std::optional<std::uint32_t> seed;

    // [output]
    std::string outputName;  ///< base name of the result files (no folder)
    bool logScale = false;   ///< the plot's "Log10" axis
    bool svg = true;         ///< also write <name>.svg
};

/// Reads and checks the job file at `path`. Throws JobError for a file that cannot be read, is
/// not TOML, has an unknown key or table, a value of the wrong type or out of range, a missing
/// required key, or names an input file that does not exist.
JobSpec readJobFile(const std::filesystem::path& path);

/// The same from text already read; `path` names the job in messages and fixes the folder that
/// relative file names are taken from.
JobSpec parseJob(const std::string& text, const std::filesystem::path& path);

/// Names of the radiation list items, index 0..6.
inline constexpr std::array<const char*, 7> kRadiationNames = {"Cra1", "Fea1", "Coa1",       "Nia1",
                                                               "Cua1", "Moa1", "Synchrotron"};

/// Item index of a radiation name (letter case ignored), or -1.
int radiationIndex(const std::string& name);

/// A number as a user types it into a field: the shortest plain decimal text (no exponent) that
/// reads back to the same double, "." as decimal separator.
std::string fieldText(double value);

}  // namespace kelvarin::cli

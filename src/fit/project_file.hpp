// The project file: a TOML text that holds a fit problem (sample, profile model, datasets and
// their parameters) and the settings of its fit, so that a fit can be saved, shared and rerun.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/instrument_function.hpp"
#include "engine/io/rocking_curve.hpp"
#include "engine/sample.hpp"
#include "fit/fit_problem.hpp"
#include "fit/layer_materials.hpp"
#include "fit/sample_profile_model.hpp"

namespace kelvarin::fit {

/// A project that cannot be read or used; the message names the file, the line and the key.
class ProjectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DatasetSpec {
    /// Measured curve: a two-column curve (offset in arcsec, counts) or any instrument scan
    /// format readScan knows; or empty.
    std::string file;
    std::optional<std::array<double, 3>> scan;  ///< initial, final, step (arcsec)
    int scanNumber = 0;  ///< which scan of a file with several (`scan = N`); 0: the only one
    /// Where the offset of an instrument scan is zero; unset: the substrate peak (for a file of
    /// offsets: the file's own zero).
    std::optional<ZeroChoice> zero;
    std::optional<ScanAxis> axis;   ///< plain text: what the angle column holds
    std::optional<AngleUnit> unit;  ///< plain text: the angles' unit
    InstrumentShape instrument = InstrumentShape::Gaussian;
    std::string resolutionFile;  ///< the measured resolution curve (`instrument = { file }`)
    Parameter lorentzFraction{"lorentz_fraction", "", 0, 0, 1, 0.1L, false};
    std::optional<Parameter> offset;  ///< fitted or fixed angle offset (arcsec)
    std::array<int, 3> hkl{0, 0, 4};
    Radiation radiation;
    Parameter width{"width", "arcsec", 8.5L, 8.5L, 8.5L, 0, false};
    Scaling scaling = Scaling::FixedBackground;
    double background = 0;
    Theory theory = Theory::Dynamical;
    /// The physics of the dataset's curve; a project computes the full two-beam calculation
    /// for an unpolarised beam unless it says otherwise.
    PhysicsModel physics = PhysicsModel::Full;
    Polarisation polarisation = Polarisation::Unpolarised;
    std::string monochromator = "none";  ///< "none", "Ge220", "Ge440", "Si111" or "Si220"
    ScatteringGeometry geometry = ScatteringGeometry::FromMillerIndices;
};

/// The engine's physics options of a dataset measured at `wavelength` (Å), which sets the
/// monochromator's angle. Throws EngineError for a monochromator that cannot reflect it.
PhysicsOptions physicsOptionsOf(const DatasetSpec& d, double wavelength);

struct FitSettings {
    /// "evolutionary", "de" (differential evolution) or "none" (the given values, then the
    /// polish when asked for).
    std::string optimizer = "evolutionary";
    int population = 50;
    int generations = 100;
    std::uint32_t seed = 0;
    bool seeded = false;  ///< false: the clock seeds the search
    double mutationProbability = 0.5;
    std::string strategy = "rand1bin";  ///< differential evolution: "rand1bin" or "best1bin"
    bool polish = false;                ///< a least-squares polish after the search
    double budgetSeconds = 0;           ///< wall-time budget of the search; 0: none
    /// Differential evolution ends when its best error improves by less than this fraction
    /// over `stallGenerations` generations.
    double tolerance = 1e-4;
    /// Generations over which the tolerance is judged. A population of 60 over 20 free
    /// parameters can keep its best for 25 generations and still be far from the minimum;
    /// a longer window lets such a search run on to its generation limit.
    int stallGenerations = 25;
};

struct Project {
    std::string path;  ///< the file it was read from (results are written beside it)
    std::string substrate = "GaAs";
    std::vector<Lamella> layers;  ///< explicit lamellae, from the surface inward
    /// The crystal of each explicit lamella (same order; an empty material: the substrate's).
    /// In a fit, layer k's crystal goes to lamella k of the model's sample.
    std::vector<LayerMaterialSpec> layerMaterials;
    /// Some layer gives a thickness: the explicit lamellae are the sample (else, with a
    /// [profile], the layers only lend their crystals to the model's lamellae).
    bool layersGiveSample = false;
    /// The project's own crystal catalogue file (`crystals`), relative to its folder.
    std::string crystalsFile;
    /// The crystals the project sees: shipped, the user's and its own file.
    std::shared_ptr<const CrystalCatalogue> catalogue;
    bool hasProfile = false;
    ProfileKind profile = ProfileKind::TwoGauss;
    int profileLayers = 16;
    /// Damage model, B-spline weights and lamella thickness, and whether the double
    /// half-Gaussian or Pearson VII carry their stack depth or lamella thickness as parameters.
    DamageKind damage = DamageKind::None;
    int weights = 10;
    int damageWeights = 8;
    double lamellaThickness = 20;
    int boxes = 1;
    std::string ionProfileFile;  ///< depth/concentration file of the ion-profile model
    bool extendedProfile = false;
    std::vector<Parameter> profileParameters;  ///< in the model's order
    std::vector<DatasetSpec> datasets;
    FitSettings fit;
};

/// The settings of the project's strain model.
ProfileSettings profileSettings(const Project& project);

/// Reads and checks a project file. Unknown keys, wrong types and values out of range are refused
/// with the file, the key and its line. Measured files are not read here.
Project loadProject(const std::string& path);
/// The same from a text (`name` stands for the file in messages).
Project parseProject(const std::string& text, const std::string& name);

/// The project as a TOML text that parseProject reads back to the same project.
std::string projectText(const Project& project);

/// Where the model puts the measured zero of dataset `d` (seconds of arc from the substrate's
/// Bragg angle): a scan zeroed at its substrate peak (the default, and a file of offsets) meets
/// the model's substrate peak, which the full physics shifts by refraction; a scan zeroed at the
/// Bragg angle (zero = "bragg") is compared as it stands.
double zeroShiftOf(const DatasetSpec& d, const EngineState& state, const PhysicsOptions& physics);

/// Hands a changed row of the fit problem's parameter table back to the project it was built
/// from (buildProblem): a profile parameter, or a dataset's width, Lorentzian fraction or angle
/// offset, wherever the table holds them. The project keeps its own key names (a table of several
/// datasets says "width2"). Returns false for a row that is none of them.
bool storeParameter(Project& project, const FitProblem& problem, int row, const Parameter& p);

/// The measured file `path` of dataset `d` read as an instrument scan (readScan with the
/// dataset's scan number, axis and unit) and turned into offsets (seconds of arc) from the zero
/// the dataset chooses: the substrate peak by default, a file of offsets keeping its own zero.
/// Throws DataFileError naming the file, EngineError for a reflection the substrate lacks.
RockingCurve datasetScan(const std::string& path, const Project& p, const DatasetSpec& d);

/// The fit problem of a project: each dataset's set-up and measured curve (file names relative
/// to the project's folder), the profile model and every parameter. Throws ProjectError for a
/// project that has no profile model or whose files or set-up cannot be used.
std::unique_ptr<FitProblem> buildProblem(const Project& project);

}  // namespace kelvarin::fit

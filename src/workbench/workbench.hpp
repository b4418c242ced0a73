// The workbench: a project file opened, fitted live and exported. The state every view of it
// shows and the handlers its buttons call; it knows no toolkit and is driven headless in tests.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/platform.hpp"
#include "engine/io/rocking_curve.hpp"
#include "fit/profile_band.hpp"
#include "fit/project_file.hpp"
#include "fit/uncertainty.hpp"

namespace kelvarin::workbench {

/// The rocking curve of the first dataset as the plots draw it.
struct CurveView {
    std::vector<double> angle;     ///< seconds of arc, relative to the Bragg angle
    std::vector<double> measured;  ///< counts
    std::vector<double> computed;  ///< counts, scaled onto the measurement; empty before a curve
    /// log10(measured) − log10(computed) at each angle; NaN where a point is not scored.
    std::vector<double> residual;
};

/// The strain and damage profiles against depth as step functions: corner points from the
/// surface inward, ending on the substrate (strain 0, damage factor 1).
struct ProfileView {
    std::vector<double> depth;          ///< Å below the surface
    std::vector<double> strainPercent;  ///< %
    std::vector<double> damage;         ///< static Debye–Waller factor, 1: undamaged
};

/// The confidence band of a fitted profile, at the middle of each lamella: the 16 % and 84 %
/// quantiles of strain and damage factor. Empty when the fit result carries none.
struct BandView {
    std::vector<double> depth;              ///< Å below the surface
    std::vector<double> strainLowPercent;   ///< %
    std::vector<double> strainHighPercent;  ///< %
    std::vector<double> damageLow;
    std::vector<double> damageHigh;
};

/// A point of the strain or damage profile that a user can drag up and down: a weight of a
/// B-spline (where it pulls the curve most) or the strain or damage factor of a box (at its
/// middle).
struct ControlPoint {
    double depth = 0;  ///< Å below the surface
    double value = 0;  ///< strain in %, or the damage factor
    int row = -1;      ///< the table row of the parameter it moves
    /// The row of the thickness a sideways drag changes (a box's, which keeps its top and puts
    /// its middle under the cursor), or −1 where the point only moves up and down.
    int thicknessRow = -1;
};

/// Which of the two profiles.
enum class ProfilePart { Strain, Damage };

/// What was read of the first dataset's measured file.
struct DataInfo {
    std::string file;    ///< the file as the user chose it
    std::string format;  ///< "XRDML", "PANalytical .x00", …, "plain text"
    std::string axis;    ///< "omega", "omega/2theta", …, "omega offset"
    std::string unit;    ///< of the file's angles: "°" or "arcsec"
    std::size_t points = 0;
    std::optional<double> countingTime;  ///< s per point, when the file states it
    double zero = 0;         ///< the angle (file's axis and unit) taken as the Bragg angle
    std::string zeroReason;  ///< why this zero
    /// The file the fit reads: the measured file itself, or the offsets (arcsec) and counts
    /// the workbench wrote beside the project when the file is not already that, interpolated
    /// onto whole seconds of arc in steps of `resampledStep`.
    std::string fitFile;
    int resampledStep = 0;           ///< arcsec; 0 when the file is read as it stands
    std::vector<std::string> notes;  ///< anything else the reader had to say
};

/// Progress of a running or finished fit.
struct FitProgress {
    bool running = false;
    int generation = 0;                    ///< last generation complete
    int generations = 0;                   ///< generations asked for
    std::vector<double> bestByGeneration;  ///< best error (%) after each generation
    double elapsedSeconds = 0;
    double secondsLeft = 0;  ///< estimate from the pace so far; 0 before a generation is done
};

/// One row of the parameter table.
struct ParameterRow {
    fit::Parameter parameter;
    bool fitted = false;  ///< the value is the result of the last fit
    /// Standard error of a fitted value (its unit); NaN where the data do not determine it, none
    /// before a fit result carries uncertainties.
    std::optional<double> error;
};

/// Columns of the parameter table a user can edit.
enum class ParameterField { Value, Min, Max, Free };

class Workbench {
public:
    explicit Workbench(Platform& platform);

    /// A project around the measured file `measuredPath` with the default double half-Gaussian
    /// model (GaAs 004, Cu Kα1); its file is `<measured stem>.toml` beside it, not yet written
    /// (a scan that is not offsets in arcsec has them written beside it, as importMeasured
    /// does). A file that cannot be read leaves everything as it was and returns false.
    bool newProject(const std::string& measuredPath, const ScanReadOptions& read = {});
    /// Opens a project file (refused while a fit runs, as are every other change and the save). One
    /// with errors leaves everything as it was; `message` then names the file, the line and the
    /// key.
    bool open(const std::string& path);
    /// Writes the project (fitted values included) to `path`, or to its own file when empty.
    bool save(const std::string& path = {});

    /// Changes the strain and damage model (the table follows: parameters of the same name keep
    /// their value, limits and free/fixed, also from a model used earlier since the project was
    /// opened; new ones come with the model's defaults). The ion-profile model needs its
    /// depth/concentration file: `ionProfileFile`, or the one the project names. A combination
    /// the models refuse changes nothing and says why.
    bool setModel(ProfileKind strain, fit::DamageKind damage,
                  const std::string& ionProfileFile = {});
    /// Substrate crystal (a catalogue name), reflection (h k l) and tube line ("Cua1", …) of the
    /// measurement: the substrate of the project and the reflection and radiation of its first
    /// dataset ("synchrotron" keeps the dataset's wavelength). A set-up the geometry refuses
    /// changes nothing and says why.
    bool setSetup(const std::string& substrate, const std::array<int, 3>& hkl,
                  const std::string& radiation);

    /// Reads a measured file of any format the scan readers know (XRDML, .x00, RAS, UXD, plain
    /// text) as the first dataset's curve, its zero on the substrate peak (the strongest peak;
    /// offsets are kept as they are). Without a project, a new one is made around it. A file
    /// that cannot be read or used leaves the data (and everything else) as it was.
    /// `read` chooses among the scans of a file with several and declares the axis and unit of
    /// a plain text file that does not hold offsets in arcsec.
    bool importMeasured(const std::string& path, const ScanReadOptions& read = {});
    /// Scans in the measured file `path` (0 when it cannot be read).
    static int scansIn(const std::string& path);
    /// Whether `path` is a plain text scan (whose axis and unit the user may declare).
    static bool isPlainText(const std::string& path);
    /// Moves the zero of the measured curve to `zero` (on the file's axis and unit) and
    /// recomputes; refused (nothing changes) for a zero outside the scan.
    bool setZero(double zero);
    /// What was read of the measured file; `points` is 0 when it could not be told.
    const DataInfo& dataInfo() const { return dataInfo_; }

    /// Edits a parameter from the table's text; a value that is not a number is refused.
    bool setParameter(int row, ParameterField field, const std::string& text);

    /// The control points of the strain or damage profile now shown: the B-spline's weights (the
    /// last control point, 0 strain or an undamaged 1 at the depth, is not a parameter) or the
    /// boxes' strains or damage factors; none for other models and while a fit runs.
    std::vector<ControlPoint> controlPoints(ProfilePart part = ProfilePart::Strain) const;
    /// Moves control point `index` to `value` (strain in %, or a damage factor held in (0, 1])
    /// and recomputes curve and profiles at once. A free parameter is held within its limits; a
    /// fixed one widens them when it leaves them.
    bool moveControlPoint(int index, double value, ProfilePart part = ProfilePart::Strain);
    /// Moves a point with a thickness (ControlPoint::thicknessRow) sideways to `depth` (Å): the
    /// box keeps its top and gets its middle there, at least 1 Å thick.
    bool moveControlPointTo(int index, double depth, ProfilePart part = ProfilePart::Strain);

    /// Runs the project's evolutionary search in the background. Progress, the current best
    /// curve and profile reach the state through posted updates (at most ~10 a second);
    /// onChanged runs after each. Returns when the fit has ended.
    void fit();
    /// Asks a running fit to end after its current generation; the best so far is kept.
    void stop() { stopRequested_ = true; }

    /// Writes the profile as CSV. An unwritable folder is named in `message`.
    bool exportProfileCsv(const std::string& path);
    /// Writes the report of the last fit as text; refused before a fit.
    bool exportReport(const std::string& path);

    bool hasProject() const { return problem_ != nullptr; }
    const fit::Project& project() const { return project_; }
    const std::vector<ParameterRow>& parameters() const { return rows_; }
    const CurveView& curve() const { return curve_; }
    const ProfileView& profile() const { return profile_; }
    /// Whether the model gives the lamellae a damage factor of their own (a damage model, or
    /// boxes with a damage factor each).
    bool hasDamage() const;
    /// Shows the confidence band of the profile now shown (a fit result's band); refused (false)
    /// when its lamellae are not those of the profile. Any later change of the profile drops it.
    bool setBand(const fit::ProfileBand& band);
    const BandView& band() const { return band_; }
    /// Shows the standard errors of a fit result beside the values it fitted (the parameters of
    /// `uncertainty` are table indices); refused when it is not valid or names rows the table
    /// does not have. Any later change of the values drops them.
    bool setUncertainty(const fit::Uncertainty& uncertainty);
    const FitProgress& progress() const { return progress_; }
    /// The report of the last fit: its summary and the parameters; empty before a fit.
    const std::string& report() const { return report_; }
    /// The last refusal or failure, for the user; empty after a success.
    const std::string& message() const { return message_; }
    /// Changed since the last open or save.
    bool dirty() const { return dirty_; }
    std::string title() const;
    /// What was read of the measured curve: "measured.dat: 1802 points, −900 … 901 arcsec,
    /// 10 … 1.2e+05 counts"; empty without a project.
    std::string dataSummary() const;

    /// Called on the window thread whenever the state changed.
    std::function<void()> onChanged;

    /// Shortest time between two progress updates of a running fit.
    static constexpr std::chrono::milliseconds kUpdateInterval{100};

private:
    /// True (with a message) while a fit runs: the project cannot change under it.
    bool busy();
    bool adopt(fit::Project project);
    /// `project` with its first dataset reading `scan` with zero `zero`: the file itself when it
    /// already holds offsets in arcsec from that zero, else offsets written beside the project.
    /// Adopts it; on failure nothing changes (a file written for it is removed again).
    bool adoptScan(fit::Project project, const Scan& scan, const ZeroChoice& zero);
    /// The scan in `path` as `read` asks, or nullopt with the reader's message.
    std::optional<Scan> readMeasured(const std::string& path, const ScanReadOptions& read);
    /// Reads the first dataset's file for dataInfo() after a project was opened.
    void describeData();
    /// adopt() of a changed project, which then differs from its file.
    bool adoptChange(fit::Project project);
    void rebuildRows();
    /// Puts `p` into the table and the project at `row`; redraws after a new value.
    void store(int row, const fit::Parameter& p, bool redraw);
    /// Puts a dragged value into `row`: a free parameter is held within its limits, a fixed one
    /// widens them.
    void dragTo(int row, Extended v);
    /// The table row of the parameter named `name`, or −1.
    int rowOf(const std::string& name) const;
    /// What the plots show for one parameter vector.
    struct Shown {
        CurveView curve;
        ProfileView profile;
        Sample sample;  ///< the lamellae the profile shows, surface first
    };
    /// Evaluates `values` on a workspace of its own (the datasets are only read).
    Shown evaluated(const std::vector<Extended>& values) const;
    void show(Shown shown);
    void changed();
    /// Writes `text` to `path`; false with the failure (naming the file or folder) in message().
    bool writeOut(const std::string& path, const std::string& text);

    Platform& platform_;
    fit::Project project_;
    std::unique_ptr<fit::FitProblem> problem_;
    std::vector<ParameterRow> rows_;
    CurveView curve_;
    ProfileView profile_;
    FitProgress progress_;
    std::string report_;
    std::string message_;
    /// Parameters of the models used since the project was opened, by name: a model chosen
    /// again gets back the values it had.
    std::vector<fit::Parameter> remembered_;
    Sample sample_;
    std::optional<Scan> scan_;  ///< the first dataset's scan as read
    DataInfo dataInfo_;
    /// Offset files this workbench wrote: they may be written again (any other file is kept).
    std::vector<std::string> written_;
    fit::ProfileBand bandSource_;
    BandView band_;
    bool dirty_ = false;
    std::atomic<bool> stopRequested_ = false;
};

/// The curve of a committed dataset: measured and computed counts on the measured angles.
CurveView curveOf(const EngineState& state);
/// The step-function corners of a profile, surface first.
ProfileView profileOf(const StrainProfile& profile);
/// The same for lamellae listed from the surface inward.
ProfileView profileOf(const Sample& sample);
/// The band of `band` with strains in %.
BandView bandOf(const fit::ProfileBand& band);

}  // namespace kelvarin::workbench

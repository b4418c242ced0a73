// The fit problem: measured datasets with their set-up, a strain-depth model and the table of
// parameters. It turns any parameter vector into computed curves, the log residuals and the
// logarithmic error, and knows nothing of windows.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/evaluation.hpp"
#include "engine/sample.hpp"
#include "fit/parameter_table.hpp"
#include "fit/profile_model.hpp"

namespace kelvarin::fit {

/// One measured curve with everything needed to compute it: the engine state that holds its
/// set-up, scan and measured points, and the table index of its instrument width.
struct Dataset {
    std::string label;  ///< the measured file, for messages and reports
    EngineState* state = nullptr;
    std::shared_ptr<EngineState> owned;  ///< set when the problem owns the state
    int widthParameter = -1;
    /// The physics of its curve: classic unless the project asks for more (the windows' fits).
    PhysicsOptions physics;
    InstrumentSettings instrument;  ///< instrument function; where the curve is computed
    int lorentzParameter = -1;      ///< table index of the Lorentzian fraction η, or −1 (η = 0)
    int offsetParameter = -1;       ///< table index of the angle offset (arcsec), or −1 (none)
    /// Where the model puts the measured zero, seconds of arc from the substrate's Bragg angle:
    /// the model's own substrate peak for a scan zeroed at its substrate peak (0 with the classic
    /// physics, the refraction shift with the full one), 0 for a scan zeroed at the Bragg angle.
    double zeroShift = 0;
};

/// Changes the sample a model fills before one dataset computes it: the lamellae's own crystals
/// and the strain they bring (which may follow a fitted composition in `values`, one value per
/// table entry). Called from several threads at once.
class SampleAdjustment {
public:
    virtual ~SampleAdjustment() = default;
    virtual void apply(std::span<const Extended> values, std::size_t dataset,
                       Sample& sample) const = 0;
};

/// Workspaces of one evaluation of a whole problem (one per dataset), reused between
/// evaluations. Each concurrent evaluation needs its own.
struct ProblemWorkspace {
    std::vector<std::unique_ptr<Workspace>> datasets;
    Extended error = 0;  ///< of the last successful evaluation, percent
    Sample sample;       ///< lamellae of the last evaluation of a model that fills a sample
    Sample adjusted;     ///< the sample after the SampleAdjustment of the last dataset
    std::vector<Extended> modelValues;  ///< the model's values, reused between evaluations
};

/// The range warnings of the curves last evaluated in `ws` (kinematicalRangeWarning of each
/// dataset), each naming its dataset.
std::vector<std::string> rangeWarnings(const class FitProblem& problem, const ProblemWorkspace& ws);

class FitProblem {
public:
    /// A problem with the strain-depth model `model` (its parameters are added to the table).
    explicit FitProblem(std::unique_ptr<ProfileModel> model);

    ParameterTable& parameters() { return table_; }
    const ParameterTable& parameters() const { return table_; }
    const ProfileModel& model() const { return *model_; }

    /// Adds a dataset computed on `state` (not owned: the windows' program-wide state) with an
    /// instrument-width parameter of that name. Returns the dataset's index.
    int addDataset(EngineState& state, Parameter width, std::string label = {});
    /// The same with a state the problem keeps.
    int addDataset(std::shared_ptr<EngineState> state, Parameter width, std::string label = {});

    /// Sets how dataset `d` is broadened and where it is computed.
    void setInstrument(int d, InstrumentSettings settings);
    /// Adds the Lorentzian fraction η of dataset `d`'s pseudo-Voigt to the table.
    void addLorentzFraction(int d, Parameter p);
    /// Adds the angle offset of dataset `d` to the table: the model is computed at the measured
    /// angle − offset (seconds of arc).
    void addOffset(int d, Parameter p);
    /// The instrument values of dataset `d` in the parameter vector `values`.
    InstrumentValues instrumentValues(int d, std::span<const Extended> values) const;

    /// The free parameters in the order a search holds them as genes: each dataset's instrument
    /// width first, then the other free parameters in table order.
    std::vector<int> geneOrder() const;

    int datasetCount() const { return static_cast<int>(datasets_.size()); }
    /// Sets the physics dataset `i` is computed with.
    void setPhysics(int i, const PhysicsOptions& physics) {
        datasets_.at(static_cast<std::size_t>(i)).physics = physics;
    }
    /// Sets where the model puts the measured zero of dataset `i` (see Dataset::zeroShift).
    void setZeroShift(int i, double arcsec) {
        datasets_.at(static_cast<std::size_t>(i)).zeroShift = arcsec;
    }
    const Dataset& dataset(int i) const { return datasets_[static_cast<std::size_t>(i)]; }

    /// Empty when the problem can be evaluated; otherwise why not (no dataset, a parameter table
    /// that cannot be fitted, a dataset without a measured point or scan).
    std::string validate() const;

    /// A workspace for evaluate() and residuals().
    ProblemWorkspace makeWorkspace() const;

    /// The logarithmic error (percent) of the curves for `values` (one per table entry): for one
    /// dataset exactly the windows' error, for several the mean of their errors. The curves,
    /// profile and scaling stay in `ws`; no dataset state changes. Throws CandidateRejected for
    /// values the physics cannot score and EngineError for a set-up that nothing can be scored on.
    /// Safe to call from several threads at once, each with its own workspace.
    Extended evaluate(std::span<const Extended> values, ProblemWorkspace& ws) const;

    /// Evaluates and appends the log residuals log10(measured) − log10(computed) of every scored
    /// point (measured above 0) of every dataset to `out` (cleared first).
    void residuals(std::span<const Extended> values, ProblemWorkspace& ws,
                   std::vector<double>& out) const;

    /// Whether every value is rounded to single precision before it is used, as the windows'
    /// search stores its genes (default true, which keeps the windows' numbers exactly). A
    /// derivative-based optimizer wants false.
    void setSinglePrecision(bool single) { singlePrecision_ = single; }
    bool singlePrecision() const { return singlePrecision_; }

    /// Hands the results of a successful evaluation to the dataset states (curves, profile,
    /// scaling: what plots and result files read).
    void commit(const ProblemWorkspace& ws) const;

    /// Applies `adjustment` to the model's sample before each dataset computes it (a model that
    /// fills a sample only).
    void setSampleAdjustment(std::shared_ptr<const SampleAdjustment> adjustment) {
        adjustment_ = std::move(adjustment);
    }

private:
    std::unique_ptr<ProfileModel> model_;
    ParameterTable table_;
    std::vector<int> modelParameters_;
    std::vector<Dataset> datasets_;
    bool singlePrecision_ = true;
    std::shared_ptr<const SampleAdjustment> adjustment_;
};

}  // namespace kelvarin::fit

// "Start": reads the job set-up from the windows, the measured curve when the job has one, and
// computes the rocking curve of the perfect crystal over the scan, broadened and scaled.
#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "engine/broadening.hpp"
#include "engine/engine_error.hpp"
#include "engine/geometry.hpp"
#include "engine/io/rocking_curve.hpp"
#include "engine/io/scan.hpp"
#include "engine/layered.hpp"
#include "engine/measured_curve.hpp"
#include "engine/numio.hpp"
#include "engine/sample.hpp"
#include "engine/scattering.hpp"
#include "engine/state.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formcalc.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {

namespace {

/// A set-up the run refuses, with the message the user sees.
class SetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace

void Tformcalc::startRun() {
    const Locale& loc = app_.locale();
    Tformmain& main = app_.formmain();
    Tformdata& data = app_.formdata();
    Tformrefinedata& settings = app_.formrefinedata();
    EngineState& engine = app_.engine();
    RefineState& refine = app_.refine();
    CurveStore& cs = engine.curveStore;

    // Everything is read and checked first; the program-wide values change only once the whole
    // set-up is sound, so a refused run loses nothing that an earlier one left.
    try {
        // Model and refinement settings.
        const ProfileKind profileModel = settings.profileKind();
        const Scaling normMode = settings.scaling();
        const Extended background =
            loc.textToFloat(settings.bg.text, "background (refinement settings)");
        const int nelements =
            loc.textToInt(settings.Edit1.text, "# of elements (refinement settings)");
        const Extended wLo =
            loc.textToFloat(settings.wmin.text, "Gaussian width Min (refinement settings)");
        const Extended wHi =
            loc.textToFloat(settings.wmax.text, "Gaussian width Max (refinement settings)");

        // Angle mode. A calculation job has no measured curve: its angles always come from the
        // Data Entry fields (the job's file is a depth profile, not a rocking curve).
        const bool refinementJob = main.isRefinementJob();
        const bool integerAngles = main.chkInteiro.checked || !refinementJob;
        const int scanStep = integerAngles ? loc.textToInt(data.step.text, "Step size") : 1;

        // Crystal.
        const int layerCount = loc.textToInt(main.nlayers.text, "Number of layers");
        const std::string compound = data.Label1.caption;
        if (compound.empty() || compound == "0")
            throw SetupError(
                "No crystal has been chosen: choose one in the Data Entry window first.");
        const Extended a = loc.textToFloat(data.Label2.caption, "lattice constant a");
        const Extended b = loc.textToFloat(data.Label3.caption, "lattice constant b");
        const Extended c = loc.textToFloat(data.Label4.caption, "lattice constant c");
        SitePositions sites{};
        const StringGrid* grids[2] = {&data.posat1, &data.posat2};
        for (int site = 0; site < 2; ++site)
            for (int atom = 0; atom < 4; ++atom)
                for (int xyz = 0; xyz < 3; ++xyz)
                    sites[static_cast<std::size_t>(site)][static_cast<std::size_t>(atom)]
                         [static_cast<std::size_t>(xyz)] = static_cast<double>(loc.textToFloat(
                             grids[site]->cell(xyz, atom),
                             site == 0 ? "atom positions of site 1" : "atom positions of site 2"));
        const Theory theoryChoice = main.theoryChoice();
        if (refinementJob && (layerCount < 1 || layerCount > kMaxLayers))
            throw SetupError("The number of layers used in fitting must lie between 1 and " +
                             std::to_string(kMaxLayers) + " (it is " + std::to_string(layerCount) +
                             ").");

        // Reflection and radiation.
        const Extended h = loc.textToInt(data.h.text, "h");
        const Extended k = loc.textToInt(data.k.text, "k");
        const Extended l = loc.textToInt(data.l.text, "l");
        const int radiation = data.radiacao.itemIndex;
        if (radiation < 0 || radiation >= kRadiationCount)
            throw SetupError("No radiation has been chosen: choose one in the Data Entry window.");
        const Extended synchrotronLambda =
            radiation == kSynchrotron ? loc.textToFloat(data.wl.text, "wavelength") : 0;
        Crystal crystal;
        crystal.name = compound;
        crystal.a = a;
        crystal.b = b;
        crystal.c = c;
        crystal.sites = sites;
        const Reflection reflection{h, k, l, Radiation{radiation, synchrotronLambda}};
        // The measured file: an instrument scan is converted once into the two-column curve,
        // its zero at the substrate peak nearest the reflection's Bragg angle; a two-column file
        // is read as it stands.
        const auto measuredReader = [&]() {
            const Extended lambda =
                radiation == kSynchrotron ? synchrotronLambda : tubeWavelength(radiation);
            const auto braggOf = [&] { return substrateBragg(crystal, h, k, l, lambda); };
            if (scanFormatOfFile(main.file.text) != ScanFormat::PlainText) {
                if (std::optional<std::string> text =
                        instrumentScanAsTwoColumns(main.file.text, 0, braggOf()))
                    return NumberReader(std::move(*text), main.file.text);
            }
            return NumberReader::fromFile(main.file.text);
        };

        // Scan and measured curve.
        int scanStart = 0;
        int scanEnd = 0;
        MeasuredCurve measured;
        bool haveMeasured = false;
        MeasuredMode mode = MeasuredMode::Raw;
        if (integerAngles) {
            scanStart = loc.textToInt(data.thetai.text, "Initial angle");
            scanEnd = loc.textToInt(data.thetaf.text, "Final angle");
            if (scanStep <= 0)
                throw SetupError(
                    "The step size must be a positive whole number of seconds of "
                    "arc (it is " +
                    data.step.text + ").");
            if (scanEnd < scanStart)
                throw SetupError("The final angle (" + data.thetaf.text +
                                 ") lies below the initial angle (" + data.thetai.text + ").");
            scanPointCount(scanStart, scanEnd, scanStep);  // refuses more points than fit
            if (refinementJob) {
                NumberReader reader = measuredReader();
                measured = parseMeasuredCurve(reader, MeasuredMode::Raw);
                haveMeasured = true;
            }
        } else {
            mode = MeasuredMode::Resampled;
            NumberReader reader = measuredReader();
            measured = parseMeasuredCurve(reader, MeasuredMode::Resampled);
            haveMeasured = true;
            scanStart = measured.scanStart;
            scanEnd = measured.scanEnd;
        }

        // Instrument width of this run.
        const Extended w = (wLo + wHi) * 0.5L;
        if (!(w > 0) || !std::isfinite(w))
            throw SetupError("The Gaussian width limits (" + settings.wmin.text + " to " +
                             settings.wmax.text + ") give no positive instrument width.");

        // Crystal physics.
        const Setup setup = buildSetup(crystal, reflection);

        // The set-up is sound: store it program-wide.
        engine.profileModel = profileModel;
        engine.normMode = normMode;
        engine.background = background;
        refine.refineSettings.wLo = wLo;
        refine.refineSettings.wHi = wHi;
        refine.nelements = nelements;
        engine.layerCount = layerCount;
        engine.theoryChoice = theoryChoice;
        cs.scanStep = scanStep;
        cs.scanStart = scanStart;
        cs.scanEnd = scanEnd;
        cs.measMax = 0;
        if (haveMeasured) storeMeasuredCurve(cs, engine.radiationRecord, measured, mode);
        storeSetup(setup, engine);

        // Perfect-crystal curve.
        cs.beginCalculation();
        const int points = scanPointCount(scanStart, scanEnd, scanStep);
        for (int p = 0; p < points; ++p) {
            const double theta = static_cast<double>(scanStart) + static_cast<double>(p) * scanStep;
            cs.addCalculatedPoint(theta, perfectCrystalReflectivity(setup, theta));
        }

        // Broadening and scaling.
        buildKernel(engine, w);
        if (refinementJob) {
            broaden(engine);
            const NormaliseResult scaled = normalise(engine, normMode);
            if (scaled.applied && normMode == kNormTopIntensities)
                caption = loc.floatToText(scaled.scaleFactor) + " " + loc.floatToText(scaled.top);
        } else {
            // No measured curve to scale onto: the curve stays a reflectivity.
            const auto n = static_cast<std::size_t>(cs.calcCount);
            broadenReflectivity(engine.instrumentKernel,
                                std::span<const Extended>(cs.calcRaw).first(n),
                                std::span<Extended>(cs.calcCurve).first(n));
        }

        // Window results: the scan, and an intensity axis up to the measured maximum or, for a
        // reflectivity, up to the peak of the curve shown.
        minX.text = std::to_string(scanStart);
        maxX.text = std::to_string(scanEnd);
        minY.text = "0";
        if (refinementJob) {
            maxY.text = loc.floatToText(cs.measMax);
            Panel2.visible = true;
        } else {
            Extended shownMax = 0;
            for (int i = 0; i < cs.calcCount; ++i)
                shownMax = std::max(shownMax, cs.calcCurve[static_cast<std::size_t>(i)]);
            maxY.text = loc.floatToText(shownMax);
        }

        Button2.enabled = false;
        Button1.enabled = true;
        butGo.enabled = refinementJob;
        shownCurve_ = refinementJob ? ShownCurve::Refinement : ShownCurve::PerfectCrystal;
    } catch (const SetupError& e) {
        app_.showError(e.what());
    } catch (const DataFileError& e) {
        app_.showError(e.what());
    } catch (const EngineError& e) {
        app_.showError(e.what());
    } catch (const ScatteringError& e) {
        app_.showError(e.what());
    }
}

}  // namespace kelvarin

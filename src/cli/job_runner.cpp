#include "cli/job_runner.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string_view>

#include "app/application.hpp"
#include "app/form4cols.hpp"
#include "app/formmain.hpp"
#include "cli/scan_command.hpp"
#include "cli/simulate.hpp"
#include "cli/svg_plot.hpp"
#include "engine/catalogue.hpp"
#include "engine/io/rocking_curve.hpp"
#include "engine/io/scan.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"
#include "engine/state.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "refine/refinement_run.hpp"
#include "results/formcalc.hpp"
#include "results/output_files.hpp"
#include "setup/formdata.hpp"

namespace kelvarin::cli {

namespace {

/// Makes the job's folder the working directory for the lifetime of the object.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& folder) {
        std::error_code ec;
        previous_ = std::filesystem::current_path(ec);
        if (ec) throw JobRunError("cannot read the working directory: " + ec.message());
        std::filesystem::current_path(folder, ec);
        if (ec)
            throw JobRunError("cannot change to the job's folder '" + folder.string() +
                              "': " + ec.message());
    }
    ~WorkingDirectory() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

/// The result files a job writes, in the order they are reported.
std::vector<std::string> resultNames(const JobSpec& job) {
    std::vector<std::string> names;
    for (const char* ext : {".fit", ".out", ".ion", ".svg"})
        if (job.svg || std::string_view(ext) != ".svg") names.push_back(job.outputName + ext);
    return names;
}

/// Presses buttons as a user would and stops the job at the first message a window shows.
class Driver {
public:
    Driver(Application& app, JobPlatform& platform, RunObserver* observer)
        : app_(app), platform_(platform), observer_(observer) {}

    /// Runs one handler; a message or an exception shown by it ends the job.
    void press(const std::string& what, const std::function<void()>& handler) {
        if (observer_) observer_->step(what);
        const std::size_t before = platform_.allMessages().size();
        const bool completed = app_.dispatch(handler);
        const std::vector<std::string> messages = platform_.allMessages();
        if (messages.size() > before || !completed) {
            std::string text;
            for (std::size_t i = before; i < messages.size(); ++i)
                text += (text.empty() ? "" : "; ") + messages[i];
            if (text.empty()) text = "the window did not complete the step";
            throw JobRunError(what + ": " + text);
        }
    }

    /// A window that a step should have opened.
    static void expect(bool condition, const std::string& what) {
        if (!condition) throw JobRunError(what);
    }

private:
    Application& app_;
    JobPlatform& platform_;
    RunObserver* observer_;
};

void typeLimits(Edit& lo, Edit& hi, Edit& mut, const std::optional<ParameterLimits>& limits) {
    if (!limits) return;
    lo.text = fieldText(limits->minimum);
    hi.text = fieldText(limits->maximum);
    mut.text = fieldText(limits->maxMutation);
}

std::string scanText(long double a, long double b, long double c) {
    return "[" + fieldText(static_cast<double>(a)) + ", " + fieldText(static_cast<double>(b)) +
           ", " + fieldText(static_cast<double>(c)) + "]";
}

void mainWindow(Driver& d, Application& app, const JobSpec& job) {
    Tformmain& m = app.formmain();
    const bool refinement = job.job == JobKind::Refinement;
    m.RadioGroup1.itemIndex = refinement ? 1 : 0;
    d.press("main window: Job type", [&] { m.RadioGroup1Click(); });
    if (!refinement) {
        m.filetype.itemIndex = static_cast<int>(job.fileType);
        d.press("main window: File Type", [&] { m.filetypeClick(); });
        if (job.maxStrainPercent) {
            Driver::expect(m.mstrain.enabled, "main window: the maximum strain field is disabled");
            m.mstrain.text = fieldText(*job.maxStrainPercent);
        }
    }
    m.theory.itemIndex = job.theory;
    m.file.text = job.file;
    d.press("main window: file", [&] { m.fileExit(); });
    m.chkInteiro.checked = job.integerAngles;
    if (job.layers) {
        Driver::expect(m.nlayers.enabled, "main window: the number of layers field is disabled");
        m.nlayers.text = std::to_string(*job.layers);
    }
    d.press("main window: OK", [&] { m.butokClick(); });
}

void ionPositionsWindow(Driver& d, Application& app, const JobSpec& job) {
    Tform4cols& f = app.form4cols();
    Driver::expect(f.visible, "main window: OK did not open the \"Four-Column Data File\" window");
    f.maxdepth.text = fieldText(*job.ionMaxDepth);
    d.press("Four-Column Data File: Maximum depth", [&] { f.maxdepthChange(); });
    f.nlayers.text = std::to_string(*job.ionLayers);
    d.press("Four-Column Data File: Number of layers", [&] { f.maxdepthChange(); });
    d.press("Four-Column Data File: Calculate Concentration Profile", [&] { f.Button1Click(); });
}

void settingsWindow(Driver& d, Application& app, const JobSpec& job) {
    Tformrefinedata& s = app.formrefinedata();
    const bool refinement = job.job == JobKind::Refinement;
    if (refinement)
        Driver::expect(s.visible,
                       "main window: OK did not open the refinement settings window (is "
                       "main.layers or main.file empty?)");
    if (job.pearson && *job.pearson != (s.Label3.caption != "tau:"))
        d.press("refinement settings: model", [&] { s.Button2Click(); });
    typeLimits(s.taui, s.tauf, s.maxmuttau, job.tau);
    typeLimits(s.roi, s.rof, s.maxmutro, job.ro);
    typeLimits(s.sigma1i, s.sigma1f, s.maxmutsigma1, job.sigma1);
    typeLimits(s.sigma2i, s.sigma2f, s.maxmutsigma2, job.sigma2);
    typeLimits(s.wmin, s.wmax, s.maxmutw, job.width);
    if (job.mutationProbability) s.Edit2.text = fieldText(*job.mutationProbability);
    if (job.population) s.Edit1.text = std::to_string(*job.population);
    if (job.normalisation) s.normtype.itemIndex = *job.normalisation;
    if (job.background) s.bg.text = fieldText(*job.background);
    if (!refinement) return;

    app.refine().seedOverride = job.seed;
    d.press("refinement settings: Done", [&] { s.Button1Click(); });
    Driver::expect(app.formdata().visible,
                   "refinement settings: Done did not open the Data Entry window");

    // The scan follows the measured curve; a scan in the job must agree with it.
    if (job.scan) {
        const Tformdata& data = app.formdata();
        const Locale& loc = app.locale();
        long double first = 0, last = 0, step = 0;
        const bool numbers = loc.tryTextToFloat(data.thetai.text, first) &&
                             loc.tryTextToFloat(data.thetaf.text, last) &&
                             loc.tryTextToFloat(data.step.text, step);
        const auto& want = *job.scan;
        if (!numbers || first != want[0] || last != want[1] || step != want[2])
            throw JobRunError(job.jobFile.string() + ": key 'data_entry.scan' is " +
                              scanText(want[0], want[1], want[2]) + " but the measured file '" +
                              job.file + "' gives " + scanText(first, last, step) +
                              "; the scan of a refinement follows its measured curve (leave "
                              "the key out)");
    }
}

void dataEntryWindow(Driver& d, Application& app, const JobSpec& job) {
    Tformdata& w = app.formdata();
    Driver::expect(w.visible, "the Data Entry window was not opened");
    w.h.text = std::to_string(job.hkl[0]);
    w.k.text = std::to_string(job.hkl[1]);
    w.l.text = std::to_string(job.hkl[2]);
    if (job.job == JobKind::Calculation) {
        const auto& s = *job.scan;
        w.thetai.text = std::to_string(s[0]);
        w.thetaf.text = std::to_string(s[1]);
        w.step.text = std::to_string(s[2]);
    }
    w.radiacao.select(job.radiation);
    d.press("Data Entry: Radiation", [&] { w.radiacaoChange(); });
    if (job.wavelength) {
        Driver::expect(w.wl.enabled, "Data Entry: the wavelength field is disabled");
        w.wl.text = fieldText(*job.wavelength);
    }
    d.press("Data Entry: Select target...", [&] { w.buttargetClick(); });
    d.press("Data Entry: timer", [&] { w.Timer1Timer(); });
    Driver::expect(w.Button1.enabled && w.tipo.enabled,
                   "Data Entry: \"Select target...\" did not unlock the crystal choice");

    const CrystalEntry* crystal = findCrystal(job.crystal);
    Driver::expect(crystal != nullptr, "unknown crystal " + job.crystal);
    w.tipo.itemIndex = crystal->atoms == 1 ? 0 : 1;
    d.press("Data Entry: Choose", [&] { w.Button1Click(); });
    std::vector<std::string_view> clicks;
    if (crystal->atoms == 1)
        clicks = {crystal->site1};
    else if (crystal->name == "SiC")
        clicks = {"Si"};
    else
        clicks = {crystal->site1, crystal->site2};
    for (std::string_view symbol : clicks) {
        const Button* button = w.elementButton(symbol);
        Driver::expect(button != nullptr && button->enabled,
                       "Data Entry: the element button " + std::string(symbol) + " is not enabled");
        d.press("Data Entry: " + std::string(symbol), [&] { w.clickElement(symbol); });
    }
    Driver::expect(w.Label1.caption == crystal->name && w.butOK.enabled,
                   "Data Entry: the element buttons gave \"" + w.Label1.caption + "\", not \"" +
                       std::string(crystal->name) + "\"");
    d.press("Data Entry: OK", [&] { w.butOKClick(); });
}

/// Progress of a running refinement, from the message pumps of its breeding loop; a stop
/// request presses "Stop" (the run ends after the generation under way).
void watchRefinement(Application& app, JobPlatform& platform, RunObserver* observer,
                     int generations, const std::function<bool()>& stopRequested) {
    auto pumps = std::make_shared<long long>(0);
    platform.onPump = [&app, observer, generations, pumps, stopRequested] {
        if (stopRequested && stopRequested()) app.formcalc().butStopClick();
        if (observer == nullptr) return;
        ++*pumps;
        const RefineState& state = app.refine();
        const int n = std::clamp(state.nelements, kMinPopulation, kMaxPopulation);
        // Each generation pumps once per bred pair and once after breeding.
        const long long perGeneration = std::max(1, (n - 1) / 2) + 1;
        const int g =
            static_cast<int>(std::min<long long>(generations, (*pumps - 1) / perGeneration + 1));
        float best = kUnscorableError;
        for (int i = 0; i < n; ++i)
            best = std::min(best, state.population[i][kColError]);
        // Evaluations done: the first pass and the generations before this one.
        const double fraction = static_cast<double>(g) / (generations + 1);
        observer->progress(g, generations, best, fraction);
    };
}

void calculationWindow(Driver& d, Application& app, JobPlatform& platform, const JobSpec& job,
                       RunObserver* observer, const std::function<bool()>& stopRequested,
                       JobOutcome& outcome) {
    Tformcalc& c = app.formcalc();
    Driver::expect(c.visible, "Data Entry: OK did not open the calculation window");
    d.press("Rocking Curve Calculation: Start", [&] { c.Button2Click(); });
    Driver::expect(c.Button1.enabled, "Rocking Curve Calculation: Start did not complete");
    if (job.job == JobKind::Refinement) {
        if (job.generations) c.ncycles.text = std::to_string(*job.generations);
        int generations = 0;
        Locale::tryTextToInt(c.ncycles.text, generations);
        Driver::expect(c.butGo.enabled, "Rocking Curve Calculation: GO is not enabled");
        watchRefinement(app, platform, observer, std::max(generations, 0), stopRequested);
        d.press("Rocking Curve Calculation: GO", [&] { c.butGoClick(); });
        platform.onPump = nullptr;
        outcome.errorText = c.Panel2.caption;
        outcome.bestText = c.Label4.caption;
        if (observer) observer->refinementDone(outcome.errorText, outcome.bestText);
    }
    c.ckLog.checked = job.logScale;
    d.press("Rocking Curve Calculation: Plot", [&] { c.Button1Click(); });
    c.nomearquivo.text = job.outputName;
    if (job.svg) {
        // The plot goes into the same set as the window's three files: all are written or none.
        std::string title = "Kelvarin: " + job.jobFile.filename().string();
        if (!outcome.errorText.empty()) title += ", " + outcome.errorText;
        c.moreResultFiles = [&c, title](const std::string& base) {
            return std::vector<ResultFile>{{base + ".svg", canvasToSvg(c.grafico, title)}};
        };
    }
    d.press("Rocking Curve Calculation: Save output files", [&] { c.Button4Click(); });
    c.moreResultFiles = nullptr;
    for (const std::string& name : resultNames(job))
        outcome.files.push_back(std::filesystem::absolute(name));
}

/// The two-column curve made from an instrument scan, removed when the job ends.
class ConvertedScan {
public:
    ConvertedScan() = default;
    ConvertedScan(const ConvertedScan&) = delete;
    ConvertedScan& operator=(const ConvertedScan&) = delete;
    ~ConvertedScan() {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    /// Reads the measured file of a refinement; an instrument scan is converted and written to a
    /// temporary file (returned), a two-column file is left to the windows (empty path).
    std::filesystem::path convert(const JobSpec& job, JobOutcome& outcome) {
        if (job.job != JobKind::Refinement) return {};
        const int synchrotron = static_cast<int>(kRadiationNames.size()) - 1;
        const Extended lambda = job.radiation >= 0 && job.radiation < synchrotron
                                    ? tubeWavelength(job.radiation)
                                    : static_cast<Extended>(job.wavelength.value_or(0));
        std::optional<std::string> text;
        std::string summary;
        if (scanFormatOfFile(job.file) != ScanFormat::PlainText) {
            try {
                text = instrumentScanAsTwoColumns(job.file, job.scanNumber,
                                                  substrateBragg(job.crystal, job.hkl, lambda),
                                                  &summary);
            } catch (const SimulationError& e) {
                throw JobRunError(std::string("measured file: ") + e.what());
            }
        }
        if (!text) {
            if (job.scanNumber != 0)
                throw JobRunError(job.jobFile.string() +
                                  ": key 'main.scan_number': the measured "
                                  "file '" +
                                  job.file + "' is a two-column curve, not an instrument scan");
            return {};
        }
        path_ = std::filesystem::temp_directory_path() /
                ("kelvarin-measured-" + std::to_string(static_cast<long>(::getpid())) + ".dat");
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << *text;
        out.close();
        if (!out) throw JobRunError("cannot write the converted measured curve " + path_.string());
        outcome.measuredText = "measured file " + job.file + ": " + summary;
        return path_;
    }

private:
    std::filesystem::path path_;
};

}  // namespace

JobOutcome runJob(const JobSpec& job, RunObserver* observer, int threads,
                  const std::function<bool()>& stopRequested) {
    WorkingDirectory cwd(job.folder);
    // The result names are checked before any work: a refinement must not run for an hour and
    // then find that its results cannot be written or would overwrite the job's own files.
    try {
        checkResultTargets(resultNames(job), {job.jobFile.filename().string(), job.file});
    } catch (const ResultFileError& e) {
        throw JobRunError(e.what());
    }
    JobPlatform platform;
    Application app(platform, Locale('.'));
    app.refine().evaluationThreads = threads;
    Driver d(app, platform, observer);
    JobOutcome outcome;
    ConvertedScan converted;
    JobSpec windowsJob = job;
    if (const std::filesystem::path curve = converted.convert(job, outcome); !curve.empty())
        windowsJob.file = curve.string();

    mainWindow(d, app, windowsJob);
    if (job.fileType == ProfileFileType::IonPositions) ionPositionsWindow(d, app, job);
    settingsWindow(d, app, job);
    dataEntryWindow(d, app, job);
    calculationWindow(d, app, platform, job, observer, stopRequested, outcome);
    return outcome;
}

}  // namespace kelvarin::cli

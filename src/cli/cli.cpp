#include "cli/cli.hpp"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "app/locale.hpp"
#include "cli/batch_fit.hpp"
#include "cli/crystals_command.hpp"
#include "cli/fit_command.hpp"
#include "cli/job_file.hpp"
#include "cli/job_runner.hpp"
#include "cli/progress.hpp"
#include "cli/scan_command.hpp"
#include "cli/simulate.hpp"
#include "engine/scattering.hpp"
#include "engine/state.hpp"
#include "fit/project_curves.hpp"
#include "fit/project_file.hpp"
#include "fit/worker_pool.hpp"
#include "results/output_files.hpp"

namespace kelvarin::cli {

namespace {

/// A command line whose values cannot be used as they stand (exit code 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

long double number(const std::string& text, const std::string& option) {
    long double value = 0;
    if (!Locale('.').tryTextToFloat(text, value))
        throw UsageError("option " + option + ": '" + text +
                         "' is not a number (use '.' as decimal point)");
    return value;
}

/// A number that must fit a double (and, for `single`, a float) as a finite value: 1e309
/// would become an infinity that every later check lets through.
double finiteNumber(const std::string& text, const std::string& option, bool single = false) {
    const long double value = number(text, option);
    const double d = static_cast<double>(value);
    if (!std::isfinite(d) || (single && !std::isfinite(static_cast<float>(d))))
        throw UsageError("option " + option + ": '" + text + "' is beyond the range of " +
                         (single ? "a single-precision number" : "a number"));
    return d;
}

int integer(const std::string& text, const std::string& option) {
    int value = 0;
    if (!Locale::tryTextToInt(text, value))
        throw UsageError("option " + option + ": '" + text + "' is not a whole number");
    return value;
}

struct Radiation {
    int index = 0;                       ///< radiation list item
    Extended synchrotronWavelength = 0;  ///< Å, for the synchrotron item
};

/// --radiation: a tube line by name or a synchrotron wavelength in Å.
Radiation parseRadiation(const std::string& text) {
    Radiation r;
    r.index = radiationIndex(text);
    const int synchrotron = static_cast<int>(kRadiationNames.size()) - 1;
    if (r.index < 0) {
        long double lambda = 0;
        if (!Locale('.').tryTextToFloat(text, lambda) || !(lambda > 0))
            throw UsageError("option --radiation: '" + text +
                             "' is neither a line (Cra1, Fea1, Coa1, Nia1, Cua1, Moa1) nor a "
                             "synchrotron wavelength in Å");
        r.index = synchrotron;
        r.synchrotronWavelength = lambda;
    } else if (r.index == synchrotron) {
        throw UsageError("option --radiation: give the synchrotron wavelength in Å as the value");
    }
    return r;
}

std::array<int, 3> parseHkl(const std::vector<std::string>& hkl) {
    std::array<int, 3> r{};
    for (std::size_t i = 0; i < 3; ++i)
        r[i] = integer(hkl[i], "--hkl");
    if (r == std::array<int, 3>{0, 0, 0}) throw UsageError("option --hkl: 0 0 0 is no reflection");
    return r;
}

struct RunArgs {
    std::string job;
    bool quiet = false;
    int threads = 0;
};

struct SimulateArgs {
    std::string crystal;
    std::vector<std::string> hkl;
    std::string radiation;
    std::vector<std::string> scan;
    std::string theory = "dynamical";
    std::string layers;
    std::string model;
    std::vector<std::string> params;
    std::string profile;
    std::string width;
    std::string instrument;
    std::string lorentzFraction;
    std::string out;
    std::string counts;
    std::string background;
    std::string noise;
    std::string project;
    std::string physics = "classic";
    std::string polarisation;
    std::string monochromator;
    std::string geometry;
};

volatile std::sig_atomic_t gInterrupts = 0;

extern "C" void onInterrupt(int signal) {
    if (gInterrupts == 0) {
        gInterrupts = 1;
        static constexpr char kNote[] =
            "\nkelvarin-cli: stopping after this generation; the results will be written "
            "(interrupt again to end at once)\n";
        [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
        return;
    }
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
}

/// For the lifetime of a job: the first SIGINT asks the refinement to stop as "Stop" does,
/// a second one ends the program at once.
class InterruptAsStop {
public:
    InterruptAsStop() {
        gInterrupts = 0;
        struct sigaction ours {};
        ours.sa_handler = onInterrupt;
        sigemptyset(&ours.sa_mask);
        installed_ = ::sigaction(SIGINT, nullptr, &previous_) == 0 &&
                     previous_.sa_handler != SIG_IGN && ::sigaction(SIGINT, &ours, nullptr) == 0;
    }
    ~InterruptAsStop() {
        if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    }
    InterruptAsStop(const InterruptAsStop&) = delete;
    InterruptAsStop& operator=(const InterruptAsStop&) = delete;

    static bool requested() { return gInterrupts != 0; }

private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

struct ScanArgs {
    std::string file;
    int scanNumber = 0;
    std::string crystal;
    std::vector<std::string> hkl;
    std::string radiation;
    std::string zero = "substrate-peak";
    std::string axis;
    std::string unit;
    std::string wavelength;
    std::string out;
};

int doRun(const RunArgs& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    const JobSpec job = readJobFile(args.job);
    if (args.threads > fit::WorkerPool::maxWorkers())
        err << "kelvarin-cli: --threads " << args.threads << ": using "
            << fit::WorkerPool::maxWorkers()
            << " (two per core; more threads than that only cost memory)\n";
    TerminalProgress progress(err, errIsTerminal);
    InterruptAsStop interrupts;
    const JobOutcome outcome =
        runJob(job, args.quiet ? nullptr : &progress, args.threads, &InterruptAsStop::requested);
    if (!args.quiet) {
        if (!outcome.measuredText.empty()) out << outcome.measuredText << "\n";
        if (!outcome.errorText.empty()) out << outcome.errorText << "\n";
        if (!outcome.bestText.empty()) out << outcome.bestText << "\n";
        for (const auto& f : outcome.files)
            out << "wrote " << f.string() << "\n";
    }
    return kExitOk;
}

SimulationRequest simulationRequest(const SimulateArgs& a) {
    SimulationRequest r;
    r.crystal = a.crystal;
    r.hkl = parseHkl(a.hkl);
    const Radiation radiation = parseRadiation(a.radiation);
    r.radiation = radiation.index;
    r.synchrotronWavelength = radiation.synchrotronWavelength;
    r.scanStart = finiteNumber(a.scan[0], "--scan");
    r.scanEnd = finiteNumber(a.scan[1], "--scan");
    r.scanStep = finiteNumber(a.scan[2], "--scan");
    r.theory = a.theory == "kinematical" ? kTheoryKinematical : kTheoryDynamical;

    if (!a.profile.empty()) {
        r.structure = SimulationRequest::Structure::Profile;
        r.profile = readProfileFile(a.profile);
    } else if (!a.params.empty()) {
        r.structure = SimulationRequest::Structure::Model;
        r.model = a.model == "pearson" ? kModelPearsonVII : kModelTwoGauss;
        for (std::size_t i = 0; i < 4; ++i)
            r.params[i] = static_cast<float>(finiteNumber(a.params[i], "--params", true));
        r.layers = a.layers.empty() ? 16 : integer(a.layers, "--layers");
        if (r.layers < 1 || r.layers > kMaxLayers)
            throw UsageError("option --layers: the number of lamellae must lie between 1 and " +
                             std::to_string(kMaxLayers));
    }
    if (!a.width.empty()) {
        r.width = finiteNumber(a.width, "--width");
        if (!(*r.width > 0)) throw UsageError("option --width: the width must be above 0");
    }
    if (a.physics == "full") {
        r.physics = fullPhysicsDefaults();
        r.physics.polarisation = defaultPolarisation(r.radiation);
    }
    const bool full = r.physics.full();
    for (const auto& [value, name] :
         {std::pair{&a.polarisation, "--polarisation"},
          std::pair{&a.monochromator, "--monochromator"}, std::pair{&a.geometry, "--geometry"}})
        if (!value->empty() && !full)
            throw UsageError(std::string("option ") + name +
                             ": the classic physics is σ-polarised in the Miller indices' "
                             "geometry; give --physics full");
    if (!a.polarisation.empty()) r.physics.polarisation = *polarisationNamed(a.polarisation);
    if (!a.geometry.empty()) r.physics.geometry = *geometryNamed(a.geometry);
    if (!a.monochromator.empty()) {
        if (a.monochromator != "none" && !monochromatorSpacing(a.monochromator))
            throw UsageError("option --monochromator: '" + a.monochromator + "' is none of none, " +
                             monochromatorNames());
        r.monochromator = a.monochromator;
    }
    if (a.instrument == "pseudo-voigt") {
        r.instrument.shape = InstrumentShape::PseudoVoigt;
        if (a.width.empty())
            throw UsageError("option --instrument pseudo-voigt: give its width with --width");
        r.lorentzFraction = a.lorentzFraction.empty()
                                ? 0.5L
                                : finiteNumber(a.lorentzFraction, "--lorentz-fraction");
        if (!(r.lorentzFraction >= 0 && r.lorentzFraction <= 1))
            throw UsageError("option --lorentz-fraction: must lie between 0 and 1");
    } else if (!a.lorentzFraction.empty()) {
        throw UsageError("option --lorentz-fraction: belongs to --instrument pseudo-voigt");
    } else if (!a.instrument.empty() && a.instrument != "gaussian") {
        // Anything else names a measured resolution curve.
        r.instrument.shape = InstrumentShape::Measured;
        try {
            r.instrument.resolution =
                std::make_shared<const ResolutionCurve>(readResolutionCurve(a.instrument));
        } catch (const DataFileError& e) {
            throw SimulationError(e.what());
        }
    }
    return r;
}

/// `simulate --project`: every dataset's curve at the project's values, one block a dataset.
int doSimulateProject(const SimulateArgs& a, std::ostream& out, std::ostream& err) {
    const bool toStdout = a.out.empty() || a.out == "-";
    if (!toStdout) checkResultTargets({a.out}, {a.project});
    const fit::Project project = fit::loadProject(a.project);
    std::string text;
    for (const fit::ProjectCurve& c : fit::projectCurves(project)) {
        SimulationResult r{c.angle, c.reflectivity, c.broadened, {}};
        if (!c.warning.empty()) err << "kelvarin-cli: warning: " << c.warning << "\n";
        if (!text.empty()) text += "\n";
        text += simulationText(r);
    }
    if (toStdout) {
        out << text << std::flush;
        if (!out) throw SimulationError("the curve could not be written to standard output");
    } else {
        writeResultFile(a.out, text);
    }
    return kExitOk;
}

int doSimulate(const SimulateArgs& a, std::ostream& out, std::ostream& err) {
    if (!a.project.empty()) return doSimulateProject(a, out, err);
    for (const auto& [given, name] :
         {std::pair{!a.crystal.empty(), "--crystal"}, std::pair{!a.hkl.empty(), "--hkl"},
          std::pair{!a.radiation.empty(), "--radiation"}, std::pair{!a.scan.empty(), "--scan"}})
        if (!given) throw UsageError(std::string(name) + " is required (or give --project)");
    const bool toStdout = a.out.empty() || a.out == "-";
    // The output name is checked before the curve is computed; it must not be the profile.
    if (!toStdout) checkResultTargets({a.out}, {a.profile});
    const SimulationRequest request = simulationRequest(a);
    std::optional<CountingNoise> noise;
    if (!a.counts.empty()) {
        noise.emplace();
        noise->peakCounts = finiteNumber(a.counts, "--counts");
        if (!(noise->peakCounts > 0)) throw UsageError("option --counts: must be above 0");
        if (!a.background.empty()) {
            noise->background = finiteNumber(a.background, "--background");
            if (noise->background < 0) throw UsageError("option --background: must be 0 or more");
        }
        if (!std::isfinite(noise->peakCounts + noise->background))
            throw UsageError(
                "options --counts and --background: their sum is beyond the range "
                "of a number");
        if (!a.noise.empty()) {
            unsigned long long seed = 0;
            const auto res = std::from_chars(a.noise.data(), a.noise.data() + a.noise.size(), seed);
            if (res.ec != std::errc() || res.ptr != a.noise.data() + a.noise.size())
                throw UsageError("option --noise: '" + a.noise +
                                 "' is not a seed (a whole number)");
            noise->seed = seed;
        }
    }

    const SimulationResult result = simulate(request);
    for (const std::string& w : result.warnings)
        err << "kelvarin-cli: warning: " << w << "\n";
    std::string text;
    if (noise) {
        const std::vector<double> counts =
            countCurve(result.broadened.empty() ? result.raw : result.broadened, *noise);
        text = simulationText(result, &counts);
    } else {
        text = simulationText(result);
    }
    if (toStdout) {
        out << text << std::flush;
        // A full disk or a closed pipe must not end with success and half the curve.
        if (!out) throw std::runtime_error("cannot write the curve to the standard output");
    } else {
        writeResultFiles({{a.out, text}}, {a.profile});
    }
    return kExitOk;
}

int doScan(const ScanArgs& a, std::ostream& out) {
    ScanRequest r;
    r.file = a.file;
    r.read.scanNumber = a.scanNumber;
    if (!a.axis.empty()) {
        r.read.axis = axisFromName(a.axis);
        if (!r.read.axis)
            throw UsageError("option --axis: '" + a.axis +
                             "' is none of omega, omega/2theta, 2theta/omega, 2theta, "
                             "omega-offset");
    }
    if (a.unit == "deg")
        r.read.unit = AngleUnit::Degrees;
    else if (a.unit == "arcsec")
        r.read.unit = AngleUnit::ArcSeconds;
    if (!a.wavelength.empty()) {
        const long double lambda = number(a.wavelength, "--wavelength");
        if (!(lambda > 0)) throw UsageError("option --wavelength: must be above 0 (Å)");
        r.read.wavelength = static_cast<double>(lambda);
    }
    if (a.zero == "bragg") {
        r.zero.kind = ZeroChoice::Kind::Bragg;
    } else if (a.zero != "substrate-peak") {
        r.zero.kind = ZeroChoice::Kind::Angle;
        r.zero.angle = static_cast<double>(number(a.zero, "--zero"));
    }
    r.crystal = a.crystal;
    if (!a.hkl.empty()) r.hkl = parseHkl(a.hkl);
    if (!a.radiation.empty()) {
        const Radiation radiation = parseRadiation(a.radiation);
        r.wavelength = radiation.index < static_cast<int>(kRadiationNames.size()) - 1
                           ? tubeWavelength(radiation.index)
                           : radiation.synchrotronWavelength;
    }
    if (r.zero.kind == ZeroChoice::Kind::Bragg && r.crystal.empty())
        throw UsageError(
            "option --zero bragg: give the substrate with --crystal (and --hkl, "
            "--radiation where the file does not state them)");
    const std::string text = scanText(r);
    if (a.out.empty() || a.out == "-")
        out << text << std::flush;
    else
        writeResultFile(a.out, text);
    return kExitOk;
}

}  // namespace

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           bool errIsTerminal) {
    CLI::App app{
        "Kelvarin without a display: batch jobs, rocking-curve simulation and measured scan files.",
        "kelvarin-cli"};
    app.require_subcommand(1);

    RunArgs run;
    CLI::App* runCmd = app.add_subcommand(
        "run",
        "Runs a calculation or refinement job described by a TOML file through the window "
        "logic and writes <name>.fit, .out, .ion and .svg next to the job file.");
    runCmd->add_option("JOB", run.job, "job file (TOML)")->required();
    runCmd->add_flag("-q,--quiet", run.quiet, "no progress and no summary (errors only)");
    runCmd
        ->add_option("-j,--threads", run.threads,
                     "threads that evaluate the candidates (default: one per core; the results "
                     "are the same for any number)")
        ->check(CLI::Range(1, 256));

    SimulateArgs sim;
    CLI::App* simCmd = app.add_subcommand(
        "simulate",
        "Computes the rocking curve of a known strain profile: one line per angle, the angle "
        "(seconds of arc), the reflectivity and, with --width, the broadened reflectivity.");
    CLI::Option* crystal =
        simCmd->add_option("--crystal", sim.crystal, "catalogue crystal (GaAs, Si, InP, ...)")
            ->type_name("NAME");
    CLI::Option* hkl = simCmd->add_option("--hkl", sim.hkl, "Miller indices H K L")
                           ->type_name("INT")
                           ->expected(3)
                           ->allow_extra_args(false);
    simCmd
        ->add_option("--radiation", sim.radiation,
                     "tube line (Cra1 Fea1 Coa1 Nia1 Cua1 Moa1) or a synchrotron wavelength (Å)")
        ->type_name("LINE|WAVELENGTH");
    CLI::Option* scan =
        simCmd
            ->add_option("--scan", sim.scan, "START END STEP in seconds of arc (may be fractional)")
            ->type_name("NUMBER")
            ->expected(3)
            ->allow_extra_args(false);
    CLI::Option* projectOption =
        simCmd
            ->add_option("--project", sim.project,
                         "project file: the curve of each of its datasets at its parameter "
                         "values (instead of --crystal, --hkl, --radiation, --scan)")
            ->type_name("FILE");
    projectOption->excludes(crystal)->excludes(hkl)->excludes(scan);
    simCmd->add_option("--theory", sim.theory, "theory of the strained lamellae")
        ->check(CLI::IsMember({"dynamical", "kinematical"}));
    CLI::Option* layers =
        simCmd->add_option("--layers", sim.layers, "number of lamellae of the model (default 16)")
            ->type_name("INT");
    CLI::Option* model = simCmd->add_option("--model", sim.model, "strain model (default 2gauss)")
                             ->check(CLI::IsMember({"2gauss", "pearson"}));
    CLI::Option* params = simCmd
                              ->add_option("--params", sim.params,
                                           "tau ro sigma1 sigma2 (2gauss) or xc A w mu (pearson)")
                              ->type_name("NUMBER")
                              ->expected(4)
                              ->allow_extra_args(false);
    CLI::Option* profile =
        simCmd
            ->add_option(
                "--profile", sim.profile,
                "two-column file: thickness (Å) and strain (%) per lamella, surface lamella first")
            ->type_name("FILE");
    simCmd->add_option("--width", sim.width, "FWHM of the instrument function (seconds of arc)")
        ->type_name("NUMBER");
    simCmd
        ->add_option("--instrument", sim.instrument,
                     "instrument function: gaussian (default), pseudo-voigt, or a file holding a "
                     "measured resolution curve (offset in seconds of arc, intensity)")
        ->type_name("gaussian|pseudo-voigt|FILE");
    simCmd
        ->add_option("--lorentz-fraction", sim.lorentzFraction,
                     "Lorentzian fraction of the pseudo-Voigt, 0..1 (default 0.5)")
        ->type_name("NUMBER");
    CLI::Option* physicsOptions[] = {
        simCmd
            ->add_option("--physics", sim.physics,
                         "classic (the windows' arithmetic, default) or full (exact wave "
                         "vectors, refraction, polarisation)")
            ->check(CLI::IsMember({"classic", "full"})),
        simCmd
            ->add_option("--polarisation", sim.polarisation,
                         "with --physics full: sigma, pi or unpolarised (default)")
            ->check(CLI::IsMember({"sigma", "pi", "unpolarised"})),
        simCmd
            ->add_option("--monochromator", sim.monochromator,
                         "with --physics full: none (default), Ge220, Ge440, Si111 or Si220")
            ->type_name("NAME"),
        simCmd
            ->add_option("--geometry", sim.geometry,
                         "with --physics full: symmetric, grazing-incidence or grazing-exit "
                         "(default: from the sign of l)")
            ->check(CLI::IsMember({"symmetric", "grazing-incidence", "grazing-exit"}))};
    // A project states the physics of each dataset itself.
    for (CLI::Option* o : physicsOptions)
        projectOption->excludes(o);
    simCmd->add_option("--out", sim.out, "output file (default: standard output)")
        ->type_name("FILE");
    CLI::Option* counts =
        simCmd
            ->add_option(
                "--counts", sim.counts,
                "write a measured curve instead: angle and counts, the curve scaled to this peak")
            ->type_name("NUMBER");
    CLI::Option* background = simCmd
                                  ->add_option("--background", sim.background,
                                               "counts added to every point (with --counts)")
                                  ->type_name("NUMBER");
    CLI::Option* noise =
        simCmd
            ->add_option("--noise", sim.noise, "seed of the Poisson counting noise (with --counts)")
            ->type_name("SEED");
    ScanArgs scanArgs;
    CLI::App* scanCmd = app.add_subcommand(
        "scan",
        "Reads a measured scan (XRDML, .x00, RAS, UXD or plain text) and prints what the "
        "program will use: '#' lines on what was read, then one line per point, the offset "
        "from the substrate peak (seconds of arc) and the counts.");
    scanCmd->add_option("FILE", scanArgs.file, "the scan file")->required();
    scanCmd->add_option("--scan-number", scanArgs.scanNumber, "which scan of a file with several")
        ->type_name("N")
        ->check(CLI::Range(1, 1000000));
    CLI::Option* scanCrystal =
        scanCmd->add_option("--crystal", scanArgs.crystal, "the substrate: a catalogue crystal")
            ->type_name("NAME");
    CLI::Option* scanHkl =
        scanCmd->add_option("--hkl", scanArgs.hkl, "the reflection (default: the file's)")
            ->type_name("INT")
            ->expected(3)
            ->allow_extra_args(false);
    CLI::Option* scanRadiation =
        scanCmd
            ->add_option("--radiation", scanArgs.radiation,
                         "tube line or wavelength (Å) for the Bragg angle (default: the file's)")
            ->type_name("LINE|WAVELENGTH");
    scanCmd
        ->add_option("--zero", scanArgs.zero,
                     "where the offset is 0: substrate-peak (default; the peak nearest the "
                     "substrate's Bragg angle when --crystal is given, else the strongest), "
                     "bragg, or an angle on the file's axis")
        ->type_name("substrate-peak|bragg|ANGLE");
    scanCmd
        ->add_option("--axis", scanArgs.axis,
                     "plain text: what the angles are (omega, omega/2theta, 2theta/omega, "
                     "2theta, omega-offset; default omega-offset)")
        ->type_name("AXIS");
    scanCmd
        ->add_option("--unit", scanArgs.unit,
                     "plain text: the angles' unit (default arcsec for offsets, else deg)")
        ->check(CLI::IsMember({"deg", "arcsec"}));
    scanCmd->add_option("--wavelength", scanArgs.wavelength, "wavelength in Å the file lacks")
        ->type_name("NUMBER");
    scanCmd->add_option("--out", scanArgs.out, "output file (default: standard output)")
        ->type_name("FILE");
    scanHkl->needs(scanCrystal);
    scanRadiation->needs(scanCrystal);

    profile->excludes(model)->excludes(params)->excludes(layers);
    model->needs(params);
    layers->needs(params);
    background->needs(counts);
    noise->needs(counts);

    std::string crystalsFile;
    CLI::App* crystalsCmd = app.add_subcommand(
        "crystals",
        "Lists the crystals a project may name (substrate, layer material), with structure, "
        "lattice constant, elastic constants and their sources: the shipped catalogue and the "
        "user's (~/.config/kelvarin/crystals.toml).");
    crystalsCmd->add_option("--file", crystalsFile,
                            "a crystal catalogue file to check and add to the listing");

    FitArgs fitArgs;
    CLI::App* fitCmd = app.add_subcommand(
        "fit",
        "Fits the project file's model to its measured curves and writes <name>.fit, "
        "<name>.params.txt, <name>.profile.csv, <name>.report.txt and <name>.report.json next "
        "to it.");
    fitCmd->add_option("PROJECT", fitArgs.project, "project file (TOML)")->required();
    fitCmd->add_flag("-q,--quiet", fitArgs.quiet, "no progress and no summary (errors only)");
    fitCmd
        ->add_option("-j,--threads", fitArgs.threads,
                     "threads that evaluate the candidates (default: one per core)")
        ->check(CLI::Range(1, 256));
    std::vector<std::string> batchPatterns;
    fitCmd->add_option("--batch", batchPatterns,
                       "fit the project to each measured file these patterns match (one fit per "
                       "file, several at once; quote the patterns); writes <name>.batch.csv");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }

    try {
        if (runCmd->parsed()) return doRun(run, out, err, errIsTerminal);
        if (fitCmd->parsed() && !batchPatterns.empty())
            return doBatchFit(fitArgs, batchPatterns, out, err);
        if (fitCmd->parsed()) return doFit(fitArgs, out, err);
        if (scanCmd->parsed()) return doScan(scanArgs, out);
        if (crystalsCmd->parsed()) return doCrystals(crystalsFile, out, err);
        return doSimulate(sim, out, err);
    } catch (const UsageError& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
        return kExitUsage;
    } catch (const JobError& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
    } catch (const JobRunError& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
    } catch (const SimulationError& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
    } catch (const BatchError& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
        return kExitUsage;
    } catch (const fit::ProjectError& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
    } catch (const ResultFileError& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
    } catch (const std::exception& e) {
        err << "kelvarin-cli: " << e.what() << "\n";
    }
    return kExitBadInput;
}

}  // namespace kelvarin::cli

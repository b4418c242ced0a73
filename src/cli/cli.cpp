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
#include "cli/fit_command.hpp"
#include "cli/job_file.hpp"
#include "cli/job_runner.hpp"
#include "cli/progress.hpp"
#include "cli/simulate.hpp"
#include "engine/state.hpp"
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
    std::string out;
    std::string counts;
    std::string background;
    std::string noise;
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
        if (!outcome.errorText.empty()) out << outcome.errorText << "\n";
        if (!outcome.bestText.empty())
            out << "best tau, ro, sigma1, sigma2: " << outcome.bestText << "\n";
        for (const auto& f : outcome.files)
            out << "wrote " << f.string() << "\n";
    }
    return kExitOk;
}

SimulationRequest simulationRequest(const SimulateArgs& a) {
    SimulationRequest r;
    r.crystal = a.crystal;
    for (std::size_t i = 0; i < 3; ++i)
        r.hkl[i] = integer(a.hkl[i], "--hkl");
    if (r.hkl == std::array<int, 3>{0, 0, 0})
        throw UsageError("option --hkl: 0 0 0 is no reflection");
    r.radiation = radiationIndex(a.radiation);
    if (r.radiation < 0) {
        long double lambda = 0;
        if (!Locale('.').tryTextToFloat(a.radiation, lambda) || !(lambda > 0))
            throw UsageError("option --radiation: '" + a.radiation +
                             "' is neither a line (Cra1, Fea1, Coa1, Nia1, Cua1, Moa1) nor a "
                             "synchrotron wavelength in Å");
        r.radiation = static_cast<int>(kRadiationNames.size()) - 1;
        r.synchrotronWavelength = lambda;
    } else if (r.radiation == static_cast<int>(kRadiationNames.size()) - 1) {
        throw UsageError("option --radiation: give the synchrotron wavelength in Å as the value");
    }
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
    return r;
}

int doSimulate(const SimulateArgs& a, std::ostream& out) {
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

}  // namespace

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           bool errIsTerminal) {
    CLI::App app{"Kelvarin without a display: batch jobs and rocking-curve simulation.",
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
    simCmd->add_option("--crystal", sim.crystal, "catalogue crystal (GaAs, Si, InP, ...)")
        ->type_name("NAME")
        ->required();
    simCmd->add_option("--hkl", sim.hkl, "Miller indices H K L")
        ->type_name("INT")
        ->expected(3)
        ->required()
        ->allow_extra_args(false);
    simCmd
        ->add_option("--radiation", sim.radiation,
                     "tube line (Cra1 Fea1 Coa1 Nia1 Cua1 Moa1) or a synchrotron wavelength (Å)")
        ->type_name("LINE|WAVELENGTH")
        ->required();
    simCmd->add_option("--scan", sim.scan, "START END STEP in seconds of arc (may be fractional)")
        ->type_name("NUMBER")
        ->expected(3)
        ->required()
        ->allow_extra_args(false);
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
    simCmd->add_option("--width", sim.width, "FWHM of the instrument Gaussian (seconds of arc)")
        ->type_name("NUMBER");
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
    profile->excludes(model)->excludes(params)->excludes(layers);
    model->needs(params);
    layers->needs(params);
    background->needs(counts);
    noise->needs(counts);

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
        return doSimulate(sim, out);
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

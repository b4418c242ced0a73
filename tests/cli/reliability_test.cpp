// Faults that hang the program, clobber or half-write files, report a failure as success,
// refuse what is valid, or waste resources: each case as the user met it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "cli/cli_fixture.hpp"
#include "cli/job_runner.hpp"
#include "cli/simulate.hpp"
#include "cli/svg_plot.hpp"
#include "engine/engine_error.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"
#include "engine/strain.hpp"
#include "fit/worker_pool.hpp"
#include "results/output_files.hpp"

namespace kelvarin::cli::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

/// Runs `body` in a child process that is killed after `seconds`; its exit code, or minus the
/// signal that ended it (−SIGALRM: it hung).
int inChild(const std::function<int()>& body, int seconds) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(static_cast<unsigned>(seconds));
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

std::vector<std::string> simulateArgs(std::vector<std::string> more) {
    std::vector<std::string> args{"simulate",    "--crystal", "GaAs",   "--hkl", "0",   "0", "4",
                                  "--radiation", "Cua1",      "--scan", "-100",  "100", "50"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

const char* const kRefinementJob = R"(
[main]
job = "refinement"
file = "measured.dat"
integer_angles = true
[data_entry]
radiation = "Cua1"
crystal = "GaAs"
[refinement]
population = 12
generations = GENERATIONS
seed = 7
[output]
name = "NAME"
)";

class Reliability : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        std::string curve;
        for (int a = -300; a <= 100; a += 2)
            curve +=
                std::to_string(a) + " " + std::to_string(30 + 10000 / (1 + a * a / 100)) + "\n";
        write("measured.dat", curve);
    }
    std::filesystem::path job(const std::string& file, int generations, const std::string& name,
                              const std::string& measured = "measured.dat") {
        std::string text = kRefinementJob;
        text.replace(text.find("GENERATIONS"), 11, std::to_string(generations));
        text.replace(text.find("NAME"), 4, name);
        text.replace(text.find("measured.dat"), 12, measured);
        if (measured != "measured.dat") write(measured, read(dir / "measured.dat"));
        return write(file, text);
    }
    std::filesystem::path fifo(const std::string& name) const {
        const std::filesystem::path p = dir / name;
        EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0);
        return p;
    }
};

/// Records the steps a job takes.
struct Steps : RunObserver {
    void step(const std::string& what) override { steps.push_back(what); }
    std::vector<std::string> steps;
};

TEST_F(Reliability, HangsThreadsTheSystemRefusesLeaveAWorkingPool) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
    const int code = inChild(
        [] {
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            // Room for a few thread stacks (8 MiB each), not for 64.
            const rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (48 << 20);
            const rlimit r{limit, limit};
            ::setrlimit(RLIMIT_AS, &r);
            fit::WorkerPool pool(64);
            std::atomic<int> ran{0};
            pool.runOnAll([&](int) { ++ran; });
            return pool.size() < 64 && ran == pool.size() ? 0 : 3;
        },
        20);
    EXPECT_EQ(code, 0) << "-14: hung; -6: aborted";
}

TEST_F(Reliability, HangsPipesAndDevicesAreRefusedAsDataFiles) {
    const std::string pipe = fifo("curve.fifo").string();
    for (const std::string& path : {pipe, std::string("/dev/zero")}) {
        const auto refused = [&] {
            try {
                NumberReader::fromFile(path);
            } catch (const DataFileError& e) {
                return std::string(e.what()).find(path) != std::string::npos;
            }
            return false;
        };
        EXPECT_EQ(inChild([&] { return refused() ? 0 : 1; }, 10), 0) << path;
    }
    EXPECT_EQ(inChild(
                  [&] {
                      return cli(simulateArgs({"--profile", pipe})).code;
                  },
                  10),
              kExitBadInput);

    // The main window's file field names the pipe; it is not "missing".
    HeadlessPlatform platform;
    Application app(platform);
    app.formmain().file.text = pipe;
    app.formmain().fileExit();
    ASSERT_EQ(platform.allMessages().size(), 1u);
    EXPECT_NE(platform.allMessages()[0].find("not a regular file"), std::string::npos);
}

TEST_F(Reliability, FilesDevicesAndPipesAreWrittenThroughNotReplaced) {
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat("/dev/null", &before), 0);
    writeResultFile("/dev/null", "curve\n");
    ASSERT_EQ(::stat("/dev/null", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(cli(simulateArgs({"--out", "/dev/null"})).code, kExitOk);

    const std::filesystem::path pipe = fifo("out.fifo");
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    writeResultFile(pipe.string(), "1 2\n");
    char buffer[8] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 4);
    ::close(reader);
    EXPECT_EQ(std::filesystem::status(pipe).type(), std::filesystem::file_type::fifo);
}

TEST_F(Reliability, FilesTemporariesNeverFollowAPlantedLink) {
    const auto victim = write("elsewhere/victim.txt", "precious\n");
    const std::string target = (dir / "run.fit").string();
    // Every name the program used to write through: <name>.tmp<pid>.
    for (pid_t pid : {::getpid(), static_cast<pid_t>(::getpid() + 1)})
        std::filesystem::create_symlink(victim, target + ".tmp" + std::to_string(pid));
    writeResultFile(target, "results\n");
    EXPECT_EQ(read(victim), "precious\n");
    EXPECT_EQ(read(target), "results\n");
}

TEST_F(Reliability, FilesKeepTheirPermissionsAndStaleTemporariesGo) {
    const std::string target = (dir / "run.fit").string();
    for (mode_t mode : {0600u, 0444u, 0640u}) {
        writeResultFile(target, "x\n");
        ::chmod(target.c_str(), mode);
        writeResultFile(target, "y\n");
        struct stat info {};
        ::stat(target.c_str(), &info);
        EXPECT_EQ(info.st_mode & 07777, mode);
    }
    // Temporaries of saves whose process has ended, in the earlier and the current naming; one
    // of a process that still runs is left alone.
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string deadPid = std::to_string(dead);
    write("run.fit.tmp" + deadPid, "45 MB\n");
    write(".run.fit.kelvarin-" + deadPid + "-abcdefgh.tmp", "half\n");
    write(".run.fit.kelvarin-1-abcdefgh.tmp", "init's\n");
    writeResultFile(target, "z\n");
    EXPECT_EQ(listing(dir), (std::vector<std::string>{".run.fit.kelvarin-1-abcdefgh.tmp",
                                                      "measured.dat", "run.fit"}));
}

TEST_F(Reliability, FilesAnInterruptedSaveRemovesItsTemporary) {
    const std::string target = (dir / "big.fit").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        writeResultFile(target, std::string(96u << 20, 'x'));
        ::_exit(0);
    }
    // Interrupt once the temporary is there.
    bool seen = false;
    for (int i = 0; i < 100000 && !seen; ++i) {
        for (const std::string& name : listing(dir))
            seen = seen || name.rfind(".big.fit.kelvarin-", 0) == 0;
        if (!seen) ::usleep(100);
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) GTEST_SKIP() << "the save ended before the interrupt";
    EXPECT_TRUE(seen);
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"measured.dat"}));
}

TEST_F(Reliability, FilesAreCheckedBeforeTheWorkAndTheSetIsAllOrNothing) {
    struct Case {
        const char* what;
        std::string jobFile;
        std::string name;
        std::function<void()> prepare;
        const char* message;
    };
    const std::string longName(252, 'n');  // 256 bytes with ".fit"
    const std::vector<Case> cases{
        {"the plot's name is a folder", "job.toml", "old",
         [&] {
             for (const char* ext : {".fit", ".out", ".ion"})
                 write(std::string("old") + ext, "old\n");
             std::filesystem::create_directories(dir / "old.svg/inside");
         },
         "folder"},
        {"a measured file named like a result", "job.toml", "measured", [] {}, "reads"},
        {"the job's own name as the result", "job.out", "job", [] {}, "reads"},
        {"a name too long", "job.toml", longName, [] {}, "longer"},
    };
    for (const Case& c : cases) {
        c.prepare();
        const std::string measured = c.name == "measured" ? "measured.fit" : "measured.dat";
        const std::string text = read(job(c.jobFile, 50, c.name, measured));
        const auto before = listing(dir);
        Steps steps;
        try {
            runJob(readJobFile(dir / c.jobFile), &steps);
            ADD_FAILURE() << c.what;
        } catch (const JobRunError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_TRUE(steps.steps.empty()) << c.what << ": refused only after " << steps.steps[0];
        EXPECT_EQ(listing(dir), before) << c.what;
        EXPECT_EQ(read(dir / c.jobFile), text) << c.what;
        EXPECT_EQ(read(dir / measured), read(dir / "measured.dat")) << c.what;
    }
    for (const char* ext : {".fit", ".out", ".ion"})
        EXPECT_EQ(read(dir / (std::string("old") + ext)), "old\n");
    // A name of 251 bytes fits with its extension and its temporaries.
    EXPECT_NO_THROW(runJob(readJobFile(job("job.toml", 0, std::string(251, 'n')))));
}

TEST(ReliabilityFailures, ReportedAsFailures) {
    // A stream that fails after 20 bytes, as a full disk does.
    struct FullDisk : std::streambuf {
        int overflow(int c) override { return ++written > 20 ? traits_type::eof() : c; }
        int written = 0;
    } disk;
    std::ostream full(&disk);
    const Result stdoutFull = cli(simulateArgs({}), &full);
    EXPECT_EQ(stdoutFull.code, kExitBadInput);
    EXPECT_NE(stdoutFull.err.find("standard output"), std::string::npos);

    struct Case {
        std::vector<std::string> args;
        int code;
    };
    for (const Case& c : {Case{{"--counts", "1e400"}, kExitUsage},
                          Case{{"--counts", "1e308", "--background", "1e308"}, kExitUsage},
                          Case{{"--counts", "1", "--background", "1e309"}, kExitUsage},
                          Case{{"--params", "1e39", "300", "150", "250"}, kExitUsage},
                          Case{{"--width", "1e999"}, kExitUsage},
                          Case{{"--params", "1e13", "300", "150", "250"}, kExitBadInput},
                          Case{{"--params", "2", "300", "150", "250"}, kExitBadInput}}) {
        const Result r = cli(simulateArgs(c.args));
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args[1] << ": " << r.err;
        EXPECT_EQ(r.out, "");
    }
    std::vector<std::string> scan = simulateArgs({});
    scan[10] = "1e309";
    EXPECT_EQ(cli(scan).code, kExitUsage);

    // Whatever the job file is called, the plot is well-formed XML in UTF-8.
    Canvas canvas(10, 10);
    const std::string svg = canvasToSvg(canvas, "Kelvarin: r\xe9sultat\x01\x1b[0m<\xc3\xa9>.toml");
    EXPECT_NE(svg.find("r\xEF\xBF\xBDsultat\xEF\xBF\xBD\xEF\xBF\xBD[0m&lt;\xc3\xa9&gt;"),
              std::string::npos)
        << svg;
}

TEST_F(Reliability, RefusalsOfValidInputAreGone) {
    // Typed into digit-only fields: 100000 once became "1e+05".
    EXPECT_EQ(fieldText(100000), "100000");
    EXPECT_EQ(fieldText(-2.5e-7), "-0.00000025");

    // The first and last rows of a dispersion table, typed as the table shows them.
    const std::vector<DispersionRow> rows{{0.3f, 1, 2}, {1.1f, 3, 4}, {3.0f, 5, 6}};
    EXPECT_EQ(interpolateDispersion(rows, 0.3L, "t").fReal, 1);
    EXPECT_EQ(interpolateDispersion(rows, 3.0L, "t").fReal, 5);
    EXPECT_THROW(interpolateDispersion(rows, 0.2999L, "t"), DataFileError);
    std::vector<std::string> synchrotron = simulateArgs({});
    synchrotron[8] = "0.3";
    EXPECT_EQ(cli(synchrotron).code, kExitOk);

    // Pearson VII shape exponents: beyond the limit the old normalisation gave 0 or divided by 0.
    StrainProfile profile;
    for (double mu : {1.5, 1000.0})
        EXPECT_NO_THROW(strainProfile({0, 300, 1, 100, static_cast<float>(mu), 0}, kModelPearsonVII,
                                      16, profile));
    for (double mu : {2000.0, 1e5, 1e30})
        EXPECT_THROW(strainProfile({0, 300, 1, 100, static_cast<float>(mu), 0}, kModelPearsonVII,
                                   16, profile),
                     CandidateRejected)
            << mu;
}

/// Whether SIGINT is set in the signal mask `field` ("SigCgt:", "ShdPnd:") of process `pid`.
bool interruptIn(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) != 0) continue;
        const unsigned long long mask = std::stoull(line.substr(field.size()), nullptr, 16);
        return (mask >> (SIGINT - 1)) & 1u;
    }
    return false;
}
/// The process has a handler of its own for SIGINT.
bool catchesInterrupt(pid_t pid) {
    return interruptIn(pid, "SigCgt:");
}
/// A SIGINT sent to the process has not been taken yet.
bool interruptPending(pid_t pid) {
    return interruptIn(pid, "ShdPnd:");
}

TEST_F(Reliability, ResourcesThreadsAreCappedAndAnInterruptStopsLikeStop) {
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_LE(fit::WorkerPool::resolve(256), 2 * cores);
    EXPECT_EQ(fit::WorkerPool::resolve(1), 1);
    const Result capped = cli({"run", job("j.toml", 0, "j").string(), "-j", "256", "-q"});
    EXPECT_EQ(capped.code, kExitOk) << capped.err;
    if (2 * cores < 256) {
        EXPECT_NE(capped.err.find("using"), std::string::npos);
    }

    // Ctrl-C once: the run stops after the generation under way and writes its results; twice:
    // it ends at once.
    const std::string longJob = job("long.toml", 100000, "long").string();
    // ThreadSanitizer hands signals to the program at points of its own choosing, so the second
    // interrupt cannot be timed to arrive while the stopped run is still finishing.
#ifdef __SANITIZE_THREAD__
    const std::vector<int> interrupts{1};
#else
    const std::vector<int> interrupts{1, 2};
#endif
    for (int signals : interrupts) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::signal(SIGINT, SIG_DFL);
            ::_exit(cli({"run", longJob, "-q", "-j", "1"}).code);
        }
        // Interrupt once the tool catches SIGINT, that is once the job is under way (a loaded
        // machine may take a while to get there).
        for (int wait = 0; wait < 3000 && !catchesInterrupt(pid); ++wait)
            ::usleep(10 * 1000);
        ::usleep(300 * 1000);
        for (int i = 0; i < signals; ++i) {
            ::kill(pid, SIGINT);
            // The next interrupt only once this one has been taken: two pending at once merge.
            for (int wait = 0; wait < 5000 && interruptPending(pid); ++wait)
                ::usleep(200);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (signals == 1) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            EXPECT_TRUE(std::filesystem::exists(dir / "long.svg"));
            std::filesystem::remove(dir / "long.svg");
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
        }
    }
}

}  // namespace
}  // namespace kelvarin::cli::testing

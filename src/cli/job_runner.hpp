// Runs a batch job through the window logic without a display: types the job's values into the
// windows and presses the buttons in the order a user would, so every check and message of the
// windows applies, then saves the result files as "Save output files" does, plus an SVG plot.
#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/platform.hpp"
#include "cli/job_file.hpp"

namespace kelvarin::cli {

/// A window refused a step of the job (the message it showed), or the job asked for something
/// the windows contradict. Nothing has been written.
class JobRunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// What a job reports while it runs; every method may be left as it is.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    /// A step of the job begins ("Data Entry: OK").
    virtual void step(const std::string& /*what*/) {}
    /// The refinement is breeding generation `generation` of `generations`; `bestError` is the
    /// smallest error (percent) of the last evaluated population; `fraction` of the run is done.
    virtual void progress(int /*generation*/, int /*generations*/, double /*bestError*/,
                          double /*fraction*/) {}
    /// The refinement ended; `errorText` is what the calculation window shows ("Error=…").
    virtual void refinementDone(const std::string& /*errorText*/, const std::string& /*best*/) {}
};

/// The headless platform of a job: records messages like HeadlessPlatform and hands each
/// message pump of a running refinement to `onPump`.
class JobPlatform : public HeadlessPlatform {
public:
    void processMessages() override {
        HeadlessPlatform::processMessages();
        if (onPump) onPump();
    }
    std::function<void()> onPump;
};

struct JobOutcome {
    std::vector<std::filesystem::path> files;  ///< result files written, in order
    std::string errorText;                     ///< the calculation window's "Error=…" panel
    std::string bestText;  ///< best parameters of a refinement, named, as the window shows them
    /// How a measured file in an instrument format was read and where its zero was put
    /// (empty for a two-column file).
    std::string measuredText;
};

/// Runs `job` with the job file's folder as the working directory (restored afterwards), so
/// that its relative file names and its result files resolve there exactly as in the windows.
/// The measured file of a refinement may be an instrument scan (XRDML, .x00, RAS, UXD): it is
/// read once and handed to the windows as the two-column curve of offsets from the substrate
/// peak nearest the crystal's Bragg angle (seconds of arc) and counts, from a temporary file.
/// Throws JobRunError when a window refuses a step. A refinement evaluates its candidates on
/// `threads` threads (0: one per core); the results do not depend on the number. While it
/// runs, `stopRequested` returning true acts as the calculation window's "Stop": the run ends
/// after the generation under way with its best candidate, and the results are written.
JobOutcome runJob(const JobSpec& job, RunObserver* observer = nullptr, int threads = 0,
                  const std::function<bool()>& stopRequested = {});

}  // namespace kelvarin::cli

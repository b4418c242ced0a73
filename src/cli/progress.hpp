// Progress of a batch job on the terminal: a redrawn bar with the generation, the best error and
// the time left when the stream is a terminal, one plain line per generation otherwise.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>

#include "cli/job_runner.hpp"

namespace kelvarin::cli {

class TerminalProgress : public RunObserver {
public:
    using Clock = std::chrono::steady_clock;

    /// `terminal`: redraw one line in place; otherwise print a line per generation. `now` may be
    /// replaced for tests.
    TerminalProgress(std::ostream& out, bool terminal,
                     std::function<Clock::time_point()> now = Clock::now);

    void step(const std::string& what) override;
    void progress(int generation, int generations, double bestError, double fraction) override;
    void refinementDone(const std::string& errorText, const std::string& best) override;

    /// "1:05" for 65 seconds, "2:03:04" beyond an hour.
    static std::string duration(double seconds);

private:
    std::ostream& out_;
    bool terminal_;
    std::function<Clock::time_point()> now_;
    Clock::time_point started_{};
    Clock::time_point lastDraw_{};
    int lastGeneration_ = -1;
    bool lineOpen_ = false;
};

}  // namespace kelvarin::cli

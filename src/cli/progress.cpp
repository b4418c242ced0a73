#include "cli/progress.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace kelvarin::cli {

namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr auto kLineInterval = std::chrono::seconds(1);

std::string fixed(double value, int decimals) {
    char buffer[48];
    const auto res =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, res.ptr);
}

}  // namespace

TerminalProgress::TerminalProgress(std::ostream& out, bool terminal,
                                   std::function<Clock::time_point()> now)
    : out_(out), terminal_(terminal), now_(std::move(now)) {}

std::string TerminalProgress::duration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "?";
    const long long s = std::llround(seconds);
    const long long h = s / 3600;
    const long long m = (s / 60) % 60;
    const long long sec = s % 60;
    auto two = [](long long v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (h > 0) return std::to_string(h) + ":" + two(m) + ":" + two(sec);
    return std::to_string(m) + ":" + two(sec);
}

void TerminalProgress::step(const std::string& what) {
    // The refinement is the long step: its clock starts with "GO" (first pass included).
    if (what.find("GO") != std::string::npos) {
        started_ = now_();
        lastGeneration_ = -1;
        if (terminal_) {
            out_ << "\r[" << std::string(kBarWidth, '.') << "] evaluating the first population"
                 << "\x1b[K" << std::flush;
            lineOpen_ = true;
        } else {
            out_ << "refinement: evaluating the first population" << std::endl;
        }
    } else if (what.find("Start") != std::string::npos && !terminal_) {
        out_ << "computing the perfect-crystal curve" << std::endl;
    }
}

void TerminalProgress::progress(int generation, int generations, double bestError,
                                double fraction) {
    const Clock::time_point now = now_();
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double left = fraction > 0 ? elapsed * (1 - fraction) / fraction : -1;
    const std::string status = "generation " + std::to_string(generation) + "/" +
                               std::to_string(generations) + "  best error " + fixed(bestError, 4) +
                               " %  time left " + duration(left);
    if (!terminal_) {
        // One line per generation, at most about one a second, and always the last one.
        if (generation != lastGeneration_ && (lastGeneration_ < 0 || generation == generations ||
                                              now - lastDraw_ >= kLineInterval)) {
            out_ << status << std::endl;
            lastDraw_ = now;
        }
        lastGeneration_ = generation;
        return;
    }
    if (generation == lastGeneration_ && now - lastDraw_ < kRedrawInterval) return;
    lastGeneration_ = generation;
    lastDraw_ = now;
    const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kBarWidth);
    out_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << status
         << "\x1b[K" << std::flush;
    lineOpen_ = true;
}

void TerminalProgress::refinementDone(const std::string& errorText, const std::string& best) {
    if (lineOpen_) out_ << "\r\x1b[K";
    lineOpen_ = false;
    const double elapsed = std::chrono::duration<double>(now_() - started_).count();
    out_ << "refinement done in " << duration(elapsed) << ": " << errorText << "  " << best
         << std::endl;
}

}  // namespace kelvarin::cli

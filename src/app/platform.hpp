// Everything a window handler needs from the outside world. Implemented by the Qt binding
// (src/gui) and by HeadlessPlatform (tests and the command-line tool).
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvarin {

class Window;

class Platform {
public:
    virtual ~Platform() = default;
    /// Shows a window modally and returns when it is closed (the "Error!" window).
    virtual void showModal(Window& window) = 0;
    /// The standard exception display: an exception that ended a handler.
    virtual void showException(const std::exception& error) = 0;
    /// The file-open dialog; nullopt when the user cancels.
    virtual std::optional<std::string> chooseFile() = 0;
    /// Lets pending window messages run (repaints, clicks) during a long run.
    virtual void processMessages() = 0;
    /// The end-of-run sound.
    virtual void beep() = 0;
    /// Ends the event loop; all windows close.
    virtual void terminate() = 0;

    /// Runs `work` away from the window thread and returns when it has ended, rethrowing what
    /// it threw. Meanwhile the windows stay live: they repaint and take clicks (which the
    /// application refuses while it is busy). Without a display the work simply runs.
    virtual void runInBackground(const std::function<void()>& work) { work(); }
    /// From background work: runs `update` on the window thread after every update posted
    /// before it, and returns at once. Only such updates may change window state during a run.
    virtual void post(std::function<void()> update) { update(); }
    /// From background work: runs `task` on the window thread and waits for it, rethrowing
    /// what it threw.
    virtual void invoke(const std::function<void()>& task) { task(); }
};

/// A platform without a display: records what a user would have seen.
class HeadlessPlatform : public Platform {
public:
    void showModal(Window& window) override;
    void showException(const std::exception& error) override;
    std::optional<std::string> chooseFile() override;
    void processMessages() override { ++messagePumps; }
    void beep() override { ++beeps; }
    void terminate() override { terminated = true; }

    /// Text of each modal window shown (for "Error!", its message), in order.
    std::vector<std::string> modalMessages;
    /// what() of each exception shown, in order.
    std::vector<std::string> exceptionMessages;
    /// Answers of the file dialog, taken front first; empty means "cancelled".
    std::deque<std::optional<std::string>> fileChoices;
    int messagePumps = 0;
    int beeps = 0;
    bool terminated = false;

    /// Everything the user was told, modal messages and exceptions alike.
    std::vector<std::string> allMessages() const;
    void clearMessages();
};

}  // namespace kelvarin

// The platform services on Qt 6 widgets.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "app/platform.hpp"

namespace kelvarin::gui {

class QtPlatform : public Platform {
public:
    /// Shows a window modally. A window with a registered modal runner (the "Error!" dialog)
    /// uses it; any other window's message goes to a plain message box.
    void showModal(Window& window) override;
    /// The standard exception display: a message box naming what went wrong.
    void showException(const std::exception& error) override;
    std::optional<std::string> chooseFile() override;
    /// Brings the widgets up to date with the window state, then lets pending events run.
    void processMessages() override;
    void beep() override;
    void terminate() override;
    /// Runs the work on a thread of its own while a local event loop keeps the windows live;
    /// updates posted by the work are applied (and the widgets brought up to date) every few
    /// milliseconds.
    void runInBackground(const std::function<void()>& work) override;
    void post(std::function<void()> update) override;
    void invoke(const std::function<void()>& task) override;

    /// Registers the modal loop of one window (it returns when the window is closed).
    void setModalRunner(const Window& window, std::function<void()> runner);
    /// Called before pending events run and before a message is shown (the binder's push).
    void setBeforeEvents(std::function<void()> step) { beforeEvents_ = std::move(step); }

    /// Asked before the program ends (the main window's Exit); false keeps it running (the
    /// workbench's unsaved project, kept at the user's word).
    void setBeforeTerminate(std::function<bool()> ask) { beforeTerminate_ = std::move(ask); }

    /// Number of exceptions shown so far (for tests).
    int exceptionsShown() const { return exceptionsShown_; }

private:
    /// Applies the updates posted so far, then pushes the state to the widgets.
    void applyPosted();

    std::mutex postedMutex_;
    std::vector<std::function<void()>> posted_;
    const Window* modalWindow_ = nullptr;
    std::function<void()> modalRunner_;
    std::function<void()> beforeEvents_;
    std::function<bool()> beforeTerminate_;
    int exceptionsShown_ = 0;
};

}  // namespace kelvarin::gui

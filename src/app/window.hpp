// Base of the seven single-instance windows: caption, visibility and the shown/closed hooks.
#pragma once

#include <string>

namespace kelvarin {

class Application;

class Window {
public:
    Window(Application& app, std::string caption);
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    std::string caption;
    bool visible = false;

    /// Makes the window visible; runs FormShow when it was hidden.
    void show();
    /// Hides the window without running FormClose (a handler hiding it).
    void hide();
    /// The user closes the window: FormClose runs, then the window is hidden.
    void close();

    /// The message a modal window carries (the "Error!" window's text); "" for others.
    virtual std::string message() const { return {}; }

protected:
    virtual void FormShow() {}
    virtual void FormClose() {}
    Application& app_;
};

}  // namespace kelvarin

// The application object: owns the seven windows, created in a fixed order and kept until the
// end, the program-wide engine and refinement state, the platform and the locale.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/locale.hpp"
#include "app/platform.hpp"

namespace kelvarin {

struct EngineState;
struct RefineState;
class Tformmain;
class Tformdata;
class Tformcalc;
class Tformerro;
class Tform4cols;
class Tformrefinedata;
class Tformrefine;

class Application {
public:
    explicit Application(Platform& platform, Locale locale = Locale('.'));
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    std::string title = "Kelvarin";

    Platform& platform() { return platform_; }
    const Locale& locale() const { return locale_; }

    EngineState& engine() { return *engine_; }
    RefineState& refine() { return *refine_; }

    Tformmain& formmain() { return *formmain_; }
    Tformdata& formdata() { return *formdata_; }
    Tformcalc& formcalc() { return *formcalc_; }
    Tformerro& formerro() { return *formerro_; }
    Tform4cols& form4cols() { return *form4cols_; }
    Tformrefinedata& formrefinedata() { return *formrefinedata_; }
    Tformrefine& formrefine() { return *formrefine_; }

    /// Runs one handler as the event loop does: an exception that ends it goes to the standard
    /// exception display and the program goes on. While a refinement runs, a handler that is not
    /// marked `allowedWhileBusy` is refused (nothing happens). Returns true when the handler ran
    /// to its end.
    bool dispatch(const std::function<void()>& handler, bool allowedWhileBusy = false);

    /// Shows `message` in the "Error!" window, modally.
    void showError(const std::string& message);

    /// True while a refinement run is in progress: nothing may start a second one.
    bool busy() const { return busy_; }
    void setBusy(bool busy) { busy_ = busy; }

    /// "Exit": ends the event loop.
    void terminate();
    /// May be asked from a running refinement's threads.
    bool terminated() const { return terminated_.load(); }

    /// "Stop": asks the running refinement to end after its current generation.
    void requestStop() { stopRequested_ = true; }
    void clearStopRequest() { stopRequested_ = false; }
    bool stopRequested() const { return stopRequested_.load(); }

private:
    Platform& platform_;
    Locale locale_;
    std::unique_ptr<EngineState> engine_;
    std::unique_ptr<RefineState> refine_;
    std::unique_ptr<Tformmain> formmain_;
    std::unique_ptr<Tformdata> formdata_;
    std::unique_ptr<Tformcalc> formcalc_;
    std::unique_ptr<Tformerro> formerro_;
    std::unique_ptr<Tform4cols> form4cols_;
    std::unique_ptr<Tformrefinedata> formrefinedata_;
    std::unique_ptr<Tformrefine> formrefine_;
    bool busy_ = false;
    std::atomic<bool> terminated_ = false;
    std::atomic<bool> stopRequested_ = false;
};

}  // namespace kelvarin

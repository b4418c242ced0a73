#include "app/application.hpp"

#include "app/form4cols.hpp"
#include "app/formmain.hpp"
#include "app/window.hpp"
#include "engine/state.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formcalc.hpp"
#include "results/formerro.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {

Window::Window(Application& app, std::string caption) : caption(std::move(caption)), app_(app) {}

void Window::show() {
    if (visible) return;
    visible = true;
    FormShow();
}

void Window::hide() {
    visible = false;
}

void Window::close() {
    FormClose();
    visible = false;
}

Application::Application(Platform& platform, Locale locale)
    : platform_(platform),
      locale_(locale),
      engine_(std::make_unique<EngineState>()),
      refine_(std::make_unique<RefineState>()) {
    // The windows are created in this order and live as long as the application.
    formmain_ = std::make_unique<Tformmain>(*this);
    formdata_ = std::make_unique<Tformdata>(*this);
    formcalc_ = std::make_unique<Tformcalc>(*this);
    formerro_ = std::make_unique<Tformerro>(*this);
    form4cols_ = std::make_unique<Tform4cols>(*this);
    formrefinedata_ = std::make_unique<Tformrefinedata>(*this);
    formrefine_ = std::make_unique<Tformrefine>(*this);
    formmain_->visible = true;
}

Application::~Application() = default;

bool Application::dispatch(const std::function<void()>& handler, bool allowedWhileBusy) {
    if (busy_ && !allowedWhileBusy) return false;
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        platform_.showException(e);
    } catch (...) {
        platform_.showException(std::runtime_error("Unknown error"));
    }
    return false;
}

void Application::showError(const std::string& message) {
    formerro_->Label1.caption = message;
    platform_.showModal(*formerro_);
}

void Application::terminate() {
    terminated_ = true;
    platform_.terminate();
}

}  // namespace kelvarin

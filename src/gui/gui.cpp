#include <QDialog>

#include "app/application.hpp"
#include "gui/plot_painter.hpp"
#include "gui/qt_platform.hpp"
#include "gui/views.hpp"
#include "results/formcalc.hpp"

namespace kelvarin::gui {

Gui::Gui(Application& app, QtPlatform& platform) : binder_(app) {
    // Same order as the window states.
    views_[0].reset(buildMainView(binder_, app.formmain()));
    views_[1].reset(buildDataView(binder_, app.formdata()));
    views_[2].reset(buildCalcView(binder_, app.formcalc()));
    views_[3].reset(buildErrorView(binder_, app.formerro(), platform));
    views_[4].reset(build4colsView(binder_, app.form4cols()));
    views_[5].reset(buildRefineDataView(binder_, app.formrefinedata()));
    views_[6].reset(buildRefineView(binder_, app.formrefine()));

    Tformcalc& calc = app.formcalc();
    calc.savePlotImage = [&calc](const std::string& path) { return savePng(calc.grafico, path); };
    // A long run lets events through; the widgets first catch up with the state.
    platform.setBeforeEvents([this] { binder_.push(); });
    binder_.push();
}

Gui::~Gui() = default;

}  // namespace kelvarin::gui

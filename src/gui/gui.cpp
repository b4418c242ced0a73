#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "app/application.hpp"
#include "gui/plot_painter.hpp"
#include "gui/qt_platform.hpp"
#include "gui/views.hpp"
#include "gui/workbench_window.hpp"
#include "results/formcalc.hpp"

namespace kelvarin::gui {

Gui::Gui(Application& app, QtPlatform& platform) : binder_(app), platform_(platform) {
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
    // The main window's File menu opens the workbench, above its own entries.
    if (auto* main = qobject_cast<QMainWindow*>(mainView());
        main && !main->menuBar()->actions().isEmpty()) {
        QMenu* file = main->menuBar()->actions().front()->menu();
        QAction* first = file->actions().value(0);
        const auto open = [this](bool fresh) {
            WorkbenchWindow& w = workbench();
            w.show();
            w.raise();
            if (fresh)
                w.newProjectDialog();
            else
                w.openProjectDialog();
        };
        auto* newProject = new QAction(QObject::tr("&New project…"), file);
        auto* openProject = new QAction(QObject::tr("&Open project…"), file);
        QObject::connect(newProject, &QAction::triggered, file, [open] { open(true); });
        QObject::connect(openProject, &QAction::triggered, file, [open] { open(false); });
        file->insertAction(first, newProject);
        file->insertAction(first, openProject);
        auto* recent = new QMenu(QObject::tr("&Recent projects"), file);
        QObject::connect(recent, &QMenu::aboutToShow, recent, [this, recent] {
            WorkbenchWindow::fillRecentMenu(recent,
                                            [this]() -> WorkbenchWindow& { return workbench(); });
        });
        file->insertMenu(first, recent);
        file->insertSeparator(first);
    }
    // The program ends from the main window too: the workbench first asks about its unsaved
    // project (and stops a running fit).
    platform.setBeforeTerminate([this] { return !workbench_ || workbench_->close(); });
    // A long run lets events through; the widgets first catch up with the state.
    platform.setBeforeEvents([this] { binder_.push(); });
    binder_.push();
}

Gui::~Gui() = default;

WorkbenchWindow& Gui::workbench() {
    if (!workbench_) workbench_ = std::make_unique<WorkbenchWindow>(platform_);
    return *workbench_;
}

}  // namespace kelvarin::gui

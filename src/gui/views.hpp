// The seven windows on screen: one view per window state, built in the order the windows are
// created, all bound through one Binder.
#pragma once

#include <QWidget>
#include <memory>

#include "gui/binding.hpp"

class QDialog;

namespace kelvarin {
class Application;
class Tformmain;
class Tformdata;
class Tformcalc;
class Tformerro;
class Tform4cols;
class Tformrefinedata;
class Tformrefine;
}  // namespace kelvarin

namespace kelvarin::gui {

class QtPlatform;
class WorkbenchWindow;

// One builder per window (each in its own <window>_view.cpp). They return a top-level widget
// that the caller owns.
QWidget* buildMainView(Binder& binder, Tformmain& form);
QWidget* buildDataView(Binder& binder, Tformdata& form);
QWidget* buildCalcView(Binder& binder, Tformcalc& form);
/// The "Error!" dialog; registers itself as the platform's modal window.
QDialog* buildErrorView(Binder& binder, Tformerro& form, QtPlatform& platform);
QWidget* build4colsView(Binder& binder, Tform4cols& form);
QWidget* buildRefineDataView(Binder& binder, Tformrefinedata& form);
QWidget* buildRefineView(Binder& binder, Tformrefine& form);

/// The whole user interface of one Application: the binder and the seven views. After
/// construction the widgets show the state (only the main window visible).
class Gui {
public:
    Gui(Application& app, QtPlatform& platform);
    ~Gui();
    Gui(const Gui&) = delete;
    Gui& operator=(const Gui&) = delete;

    Binder& binder() { return binder_; }
    QWidget* mainView() const { return views_[0].get(); }
    QWidget* dataView() const { return views_[1].get(); }
    QWidget* calcView() const { return views_[2].get(); }
    QWidget* errorView() const { return views_[3].get(); }
    QWidget* fourColsView() const { return views_[4].get(); }
    QWidget* refineDataView() const { return views_[5].get(); }
    QWidget* refineView() const { return views_[6].get(); }
    /// The workbench window, made when the main window's File menu first asks for it.
    WorkbenchWindow& workbench();

private:
    Binder binder_;
    std::unique_ptr<QWidget> views_[7];
    QtPlatform& platform_;
    std::unique_ptr<WorkbenchWindow> workbench_;
};

}  // namespace kelvarin::gui

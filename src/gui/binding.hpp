// Binds the plain window-state controls to Qt widgets. State is the truth: `push` copies it to
// the widgets after every handler, `pull` copies what the user typed or clicked back into it
// before a handler runs. User actions reach the handlers only through Binder::run, which goes
// through the application's dispatcher (exception display, refusal while a run is busy).
#pragma once

#include <QColor>
#include <QMainWindow>
#include <QObject>
#include <QWidget>
#include <functional>
#include <vector>

#include "app/controls.hpp"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace kelvarin {
class Application;
class Window;
}  // namespace kelvarin

namespace kelvarin::gui {

using Handler = std::function<void()>;

/// The Qt colour of a state colour (Blue is the highlight of a missing entry).
QColor toQColor(Colour colour);

/// A top-level window whose title-bar close is handed to the window logic instead of closing.
class FormWidget : public QWidget {
public:
    explicit FormWidget(Qt::WindowFlags flags = Qt::Window) : QWidget(nullptr, flags) {}
    Handler onClose;

protected:
    void closeEvent(QCloseEvent* event) override;
};

/// The main window: a QMainWindow (for its menu bar) with the same close rule.
class MainFormWidget : public QMainWindow {
public:
    MainFormWidget() = default;
    Handler onClose;

protected:
    void closeEvent(QCloseEvent* event) override;
};

class Binder : public QObject {
public:
    explicit Binder(Application& app);
    ~Binder() override;

    Application& app() { return app_; }

    /// Runs a handler as a user action: pull, dispatch, push. Returns true when it ran to its end.
    bool run(const Handler& handler, bool allowedWhileBusy = false);

    /// Widgets to state: what the user changed in a widget since it last agreed with the state
    /// (texts typed, boxes checked, items picked). State the program changed is never undone.
    void pull();
    /// State to widgets: every bound control and window, then the extra push steps.
    void push();

    /// A label; its colour, when not the window colour, is the colour of its text.
    QLabel* label(Label& state, QWidget* parent);
    /// `onExit` runs when the focus leaves the field for another control of the program;
    /// `onChange` on every text change the user makes.
    QLineEdit* edit(Edit& state, QWidget* parent, Handler onExit = {}, Handler onChange = {});
    QPushButton* button(Button& state, QWidget* parent, Handler onClick,
                        bool allowedWhileBusy = false);
    QCheckBox* checkBox(CheckBox& state, QWidget* parent, Handler onClick = {});
    /// A group box of radio buttons laid out in `columns` columns; `onClick` runs when the user
    /// selects another item.
    QGroupBox* radioGroup(RadioGroup& state, QWidget* parent, Handler onClick = {},
                          int columns = 1);
    /// An editable drop-down list; `onChange` runs when the user picks an item or types.
    QComboBox* comboBox(ComboBox& state, QWidget* parent, Handler onChange = {});
    /// A read-only table; rows below `fixedRows` are shown as headings.
    QTableWidget* grid(StringGrid& state, QWidget* parent, int defaultColWidth = 64);
    QProgressBar* progressBar(ProgressBar& state, QWidget* parent);
    /// A raised frame showing the caption (centred); other widgets may be placed inside it.
    QFrame* panel(Panel& state, QWidget* parent);
    /// A top-level menu of a menu bar, or an item of a menu.
    QMenu* menu(MenuItem& state, QMenuBar* bar);
    QAction* menuItem(MenuItem& state, QMenu* menu, Handler onClick, bool allowedWhileBusy = false);
    /// Whenever the state timer is enabled and not yet running, a single-shot QTimer of its
    /// interval is started; when it fires, `onTimer` runs (again while still enabled).
    void timer(Timer& state, Handler onTimer);
    /// A top-level widget follows the window's caption and visible flag. A modal window is only
    /// hidden by push; showing it is the platform's modal loop. `beforeShow` runs each time the
    /// widget is about to appear (to place it); a window that does not `activate` appears
    /// without taking the keyboard from the window the user works in.
    void window(Window& state, QWidget* widget, bool modal = false, Handler beforeShow = {},
                bool activate = true);

    /// Extra step run at the end of every push (the plot painter uses it).
    void onPush(Handler step);

    /// The widget bound to a control, for tests and views (nullptr when not bound).
    QWidget* widgetOf(const void* state) const;

private:
    struct Binding {
        const void* state;
        QWidget* widget;  // may be null (timers, menu items)
        Handler pull;
        Handler push;
    };
    void add(const void* state, QWidget* widget, Handler pull, Handler push);

    Application& app_;
    std::vector<Binding> bindings_;
    std::vector<Handler> pushSteps_;
    bool pushing_ = false;
};

}  // namespace kelvarin::gui

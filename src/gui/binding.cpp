#include "gui/binding.hpp"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/application.hpp"
#include "app/window.hpp"

namespace kelvarin::gui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string ss(const QString& text) {
    return text.toStdString();
}

/// Keeps the space of a hidden control, so a dialog does not jump when a label appears.
void keepSpace(QWidget* w) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
}

void pushCommon(QWidget* w, const Control& c) {
    if (w->isEnabled() != c.enabled) w->setEnabled(c.enabled);
    // isHidden() is the control's own flag, independent of whether its window is shown.
    if (w->isHidden() == c.visible) w->setVisible(c.visible);
}

bool darkColour(Colour colour) {
    return colour == Colour::Blue || colour == Colour::Navy || colour == Colour::Black ||
           colour == Colour::Red || colour == Colour::Fuchsia;
}

/// Background of a text field or list: the state colour; text stays readable on dark colours.
void pushBackground(QWidget* w, const QPalette& normal, Colour colour, Colour& shown) {
    if (shown == colour) return;
    shown = colour;
    if (colour == Colour::Window) {
        w->setPalette(normal);
        return;
    }
    QPalette palette = normal;
    palette.setColor(QPalette::Base, toQColor(colour));
    palette.setColor(QPalette::Button, toQColor(colour));
    if (darkColour(colour)) {
        palette.setColor(QPalette::Text, Qt::white);
        palette.setColor(QPalette::ButtonText, Qt::white);
    }
    w->setPalette(palette);
}

/// Runs a handler when the focus moves from a field to another control of the program (not
/// when another window or a popup takes it, as a modal message does).
class FocusOutFilter : public QObject {
public:
    FocusOutFilter(QObject* parent, Handler handler)
        : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                // Deferred: a modal message must not open inside the focus change itself.
                QTimer::singleShot(0, this, handler_);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    Handler handler_;
};

}  // namespace

QColor toQColor(Colour colour) {
    switch (colour) {
        case Colour::Window:
            return QColor(240, 240, 240);
        case Colour::Blue:
            return QColor(0, 0, 255);
        case Colour::White:
            return Qt::white;
        case Colour::Black:
            return Qt::black;
        case Colour::Red:
            return QColor(255, 0, 0);
        case Colour::Green:
            return QColor(0, 128, 0);
        case Colour::Yellow:
            return QColor(255, 255, 0);
        case Colour::Navy:
            return QColor(0, 0, 128);
        case Colour::Fuchsia:
            return QColor(255, 0, 255);
        case Colour::Gray:
            return QColor(128, 128, 128);
    }
    return Qt::white;
}

void FormWidget::closeEvent(QCloseEvent* event) {
    if (onClose) {
        event->ignore();
        onClose();
    } else {
        QWidget::closeEvent(event);
    }
}

void MainFormWidget::closeEvent(QCloseEvent* event) {
    if (onClose) {
        event->ignore();
        onClose();
    } else {
        QMainWindow::closeEvent(event);
    }
}

Binder::Binder(Application& app) : app_(app) {}

Binder::~Binder() = default;

bool Binder::run(const Handler& handler, bool allowedWhileBusy) {
    pull();
    const bool done = app_.dispatch(handler, allowedWhileBusy);
    push();
    return done;
}

void Binder::pull() {
    for (auto& b : bindings_)
        if (b.pull) b.pull();
}

void Binder::push() {
    if (pushing_) return;  // a widget signal during a push must not start another
    pushing_ = true;
    for (auto& b : bindings_)
        if (b.push) b.push();
    for (auto& step : pushSteps_)
        step();
    pushing_ = false;
}

void Binder::add(const void* state, QWidget* widget, Handler pull, Handler push) {
    // The widget shows its state at once, so layouts measure the real texts.
    if (push) push();
    bindings_.push_back({state, widget, std::move(pull), std::move(push)});
}

void Binder::onPush(Handler step) {
    pushSteps_.push_back(std::move(step));
}

QWidget* Binder::widgetOf(const void* state) const {
    for (const auto& b : bindings_)
        if (b.state == state) return b.widget;
    return nullptr;
}

QLabel* Binder::label(Label& state, QWidget* parent) {
    auto* w = new QLabel(parent);
    w->setTextFormat(Qt::PlainText);
    keepSpace(w);
    QPointer<QLabel> p(w);
    const QPalette normal = w->palette();
    auto shown = std::make_shared<Colour>(Colour::Window);
    add(&state, w, {}, [p, &state, shown, normal] {
        if (!p) return;
        pushCommon(p, state);
        if (p->text() != qs(state.caption)) p->setText(qs(state.caption));
        if (p->toolTip() != qs(state.hint)) p->setToolTip(qs(state.hint));
        // A label's colour is the colour of its text (the blue value labels).
        if (*shown != state.colour) {
            *shown = state.colour;
            QPalette palette = normal;
            if (state.colour != Colour::Window)
                palette.setColor(QPalette::WindowText, toQColor(state.colour));
            p->setPalette(palette);
        }
    });
    return w;
}

QLineEdit* Binder::edit(Edit& state, QWidget* parent, Handler onExit, Handler onChange) {
    auto* w = new QLineEdit(parent);
    keepSpace(w);
    QPointer<QLineEdit> p(w);
    const QPalette normal = w->palette();
    auto shown = std::make_shared<Colour>(Colour::Window);
    auto synced = std::make_shared<QString>();
    connect(w, &QLineEdit::textEdited, this, [this, &state, onChange, synced](const QString& text) {
        state.text = ss(text);
        *synced = text;
        if (onChange) run(onChange);
    });
    if (onExit) w->installEventFilter(new FocusOutFilter(w, [this, onExit] { run(onExit); }));
    add(
        &state, w,
        [p, &state, synced] {
            if (p && p->text() != *synced) {
                *synced = p->text();
                state.text = ss(*synced);
            }
        },
        [p, &state, normal, shown, synced] {
            if (!p) return;
            pushCommon(p, state);
            if (p->text() != qs(state.text)) {
                p->setText(qs(state.text));
                // A text the program writes is shown from its start, as a user reads it.
                if (!p->hasFocus()) p->setCursorPosition(0);
            }
            *synced = p->text();
            if (p->toolTip() != qs(state.hint)) p->setToolTip(qs(state.hint));
            pushBackground(p, normal, state.colour, *shown);
        });
    return w;
}

QPushButton* Binder::button(Button& state, QWidget* parent, Handler onClick,
                            bool allowedWhileBusy) {
    auto* w = new QPushButton(parent);
    w->setAutoDefault(false);
    keepSpace(w);
    QPointer<QPushButton> p(w);
    connect(w, &QPushButton::clicked, this,
            [this, onClick, allowedWhileBusy] { run(onClick, allowedWhileBusy); });
    add(&state, w, {}, [p, &state] {
        if (!p) return;
        pushCommon(p, state);
        if (p->text() != qs(state.caption)) p->setText(qs(state.caption));
    });
    return w;
}

QCheckBox* Binder::checkBox(CheckBox& state, QWidget* parent, Handler onClick) {
    auto* w = new QCheckBox(parent);
    keepSpace(w);
    QPointer<QCheckBox> p(w);
    auto synced = std::make_shared<bool>(false);
    connect(w, &QCheckBox::clicked, this, [this, &state, onClick, synced](bool checked) {
        state.checked = checked;
        *synced = checked;
        if (onClick) run(onClick);
    });
    add(
        &state, w,
        [p, &state, synced] {
            if (p && p->isChecked() != *synced) state.checked = *synced = p->isChecked();
        },
        [p, &state, synced] {
            if (!p) return;
            pushCommon(p, state);
            if (p->text() != qs(state.caption)) p->setText(qs(state.caption));
            if (p->isChecked() != state.checked) p->setChecked(state.checked);
            *synced = state.checked;
        });
    return w;
}

QGroupBox* Binder::radioGroup(RadioGroup& state, QWidget* parent, Handler onClick, int columns) {
    auto* box = new QGroupBox(parent);
    keepSpace(box);
    auto* layout = new QGridLayout(box);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setVerticalSpacing(2);
    auto* group = new QButtonGroup(box);
    const int count = static_cast<int>(state.items.size());
    const int perColumn = (count + std::max(columns, 1) - 1) / std::max(columns, 1);
    for (int i = 0; i < count; ++i) {
        auto* radio = new QRadioButton(box);
        group->addButton(radio, i);
        layout->addWidget(radio, perColumn > 0 ? i % perColumn : 0,
                          perColumn > 0 ? i / perColumn : 0);
    }
    auto synced = std::make_shared<int>(-1);
    connect(group, &QButtonGroup::idClicked, this, [this, &state, onClick, synced](int id) {
        *synced = id;
        if (state.itemIndex == id) return;  // the selected item clicked again changes nothing
        state.itemIndex = id;
        if (onClick) run(onClick);
    });
    QPointer<QGroupBox> p(box);
    QPointer<QButtonGroup> g(group);
    add(
        &state, box,
        [g, &state, synced] {
            if (g && g->checkedId() != *synced) state.itemIndex = *synced = g->checkedId();
        },
        [p, g, &state, synced] {
            if (!p || !g) return;
            pushCommon(p, state);
            if (p->title() != qs(state.caption)) p->setTitle(qs(state.caption));
            const auto buttons = g->buttons();
            for (auto* b : buttons) {
                const int id = g->id(b);
                if (id >= 0 && id < static_cast<int>(state.items.size()) &&
                    b->text() != qs(state.items[static_cast<std::size_t>(id)]))
                    b->setText(qs(state.items[static_cast<std::size_t>(id)]));
            }
            if (g->checkedId() != state.itemIndex) {
                if (state.itemIndex < 0 || !g->button(state.itemIndex)) {
                    // An exclusive group cannot uncheck its last button by itself.
                    g->setExclusive(false);
                    for (auto* b : buttons)
                        b->setChecked(false);
                    g->setExclusive(true);
                } else {
                    g->button(state.itemIndex)->setChecked(true);
                }
            }
            *synced = g->checkedId();
        });
    return box;
}

QComboBox* Binder::comboBox(ComboBox& state, QWidget* parent, Handler onChange) {
    auto* w = new QComboBox(parent);
    w->setEditable(true);
    w->setInsertPolicy(QComboBox::NoInsert);
    keepSpace(w);
    QPointer<QComboBox> p(w);
    const QPalette normal = w->palette();
    auto shown = std::make_shared<Colour>(Colour::Window);
    auto synced = std::make_shared<QString>();
    connect(w, &QComboBox::activated, this, [this, &state, onChange, synced](int index) {
        state.select(index);
        *synced = QString::fromStdString(state.text);
        if (onChange) run(onChange);
    });
    connect(w->lineEdit(), &QLineEdit::textEdited, this,
            [this, &state, onChange, synced](const QString& text) {
                // Typed text selects an item only when it is exactly that item.
                state.text = ss(text);
                *synced = text;
                state.itemIndex = -1;
                for (std::size_t i = 0; i < state.items.size(); ++i)
                    if (state.items[i] == state.text) state.itemIndex = static_cast<int>(i);
                if (onChange) run(onChange);
            });
    add(
        &state, w,
        [p, &state, synced] {
            if (p && p->currentText() != *synced) {
                *synced = p->currentText();
                state.text = ss(*synced);
            }
        },
        [p, &state, normal, shown, synced] {
            if (!p) return;
            pushCommon(p, state);
            QStringList items;
            for (const auto& item : state.items)
                items << qs(item);
            QStringList current;
            for (int i = 0; i < p->count(); ++i)
                current << p->itemText(i);
            if (current != items) {
                p->clear();
                p->addItems(items);
            }
            if (p->currentIndex() != state.itemIndex) p->setCurrentIndex(state.itemIndex);
            if (p->currentText() != qs(state.text)) p->setEditText(qs(state.text));
            *synced = p->currentText();
            pushBackground(p, normal, state.colour, *shown);
        });
    return w;
}

QTableWidget* Binder::grid(StringGrid& state, QWidget* parent, int defaultColWidth) {
    auto* w = new QTableWidget(parent);
    w->setEditTriggers(QAbstractItemView::NoEditTriggers);
    w->horizontalHeader()->hide();
    w->verticalHeader()->hide();
    w->horizontalHeader()->setDefaultSectionSize(defaultColWidth);
    w->verticalHeader()->setDefaultSectionSize(20);
    w->setSelectionMode(QAbstractItemView::NoSelection);
    w->setFocusPolicy(Qt::NoFocus);
    w->horizontalHeader()->setStretchLastSection(true);
    w->setWordWrap(false);
    w->setTextElideMode(Qt::ElideRight);
    keepSpace(w);
    QPointer<QTableWidget> p(w);
    add(&state, w, {}, [p, &state] {
        if (!p) return;
        pushCommon(p, state);
        if (p->rowCount() != state.rowCount()) p->setRowCount(state.rowCount());
        if (p->columnCount() != state.colCount()) p->setColumnCount(state.colCount());
        const QColor heading = p->palette().color(QPalette::Button);
        for (int r = 0; r < state.rowCount(); ++r) {
            const bool fixed = r < state.fixedRows;
            for (int c = 0; c < state.colCount(); ++c) {
                const QString text = qs(state.cell(c, r));
                QTableWidgetItem* item = p->item(r, c);
                if (!item) {
                    item = new QTableWidgetItem(text);
                    p->setItem(r, c, item);
                } else if (item->text() != text) {
                    item->setText(text);
                }
                const bool shownFixed = item->data(Qt::UserRole).toBool();
                if (shownFixed != fixed || !item->data(Qt::UserRole).isValid()) {
                    item->setData(Qt::UserRole, fixed);
                    item->setBackground(fixed ? QBrush(heading) : QBrush());
                    QFont font = item->font();
                    font.setBold(fixed);
                    item->setFont(font);
                }
            }
        }
    });
    return w;
}

QProgressBar* Binder::progressBar(ProgressBar& state, QWidget* parent) {
    auto* w = new QProgressBar(parent);
    w->setTextVisible(false);
    keepSpace(w);
    QPointer<QProgressBar> p(w);
    add(&state, w, {}, [p, &state] {
        if (!p) return;
        pushCommon(p, state);
        // An empty range would make Qt show a busy animation instead of an empty bar.
        const int max = std::max(state.min + 1, state.max);
        if (p->minimum() != state.min || p->maximum() != max) p->setRange(state.min, max);
        const int value = std::clamp(state.position, p->minimum(), p->maximum());
        if (p->value() != value) p->setValue(value);
    });
    return w;
}

QFrame* Binder::panel(Panel& state, QWidget* parent) {
    auto* w = new QFrame(parent);
    w->setFrameStyle(QFrame::Panel | QFrame::Raised);
    w->setLineWidth(1);
    keepSpace(w);
    auto* caption = new QLabel(w);
    caption->setTextFormat(Qt::PlainText);
    caption->setAlignment(Qt::AlignCenter);
    caption->setObjectName(QStringLiteral("caption"));
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(caption);
    QPointer<QFrame> p(w);
    QPointer<QLabel> c(caption);
    add(&state, w, {}, [p, c, &state] {
        if (!p || !c) return;
        pushCommon(p, state);
        if (c->text() != qs(state.caption)) c->setText(qs(state.caption));
        c->setVisible(!state.caption.empty());
    });
    return w;
}

QMenu* Binder::menu(MenuItem& state, QMenuBar* bar) {
    auto* m = bar->addMenu(qs(state.caption));
    QPointer<QMenu> p(m);
    add(&state, nullptr, {}, [p, &state] {
        if (!p) return;
        QAction* a = p->menuAction();
        if (a->isEnabled() != state.enabled) a->setEnabled(state.enabled);
        if (a->isVisible() != state.visible) a->setVisible(state.visible);
        if (a->text() != qs(state.caption)) a->setText(qs(state.caption));
    });
    return m;
}

QAction* Binder::menuItem(MenuItem& state, QMenu* menu, Handler onClick, bool allowedWhileBusy) {
    QAction* a = menu->addAction(qs(state.caption));
    connect(a, &QAction::triggered, this,
            [this, onClick, allowedWhileBusy] { run(onClick, allowedWhileBusy); });
    QPointer<QAction> p(a);
    add(&state, nullptr, {}, [p, &state] {
        if (!p) return;
        if (p->isEnabled() != state.enabled) p->setEnabled(state.enabled);
        if (p->isVisible() != state.visible) p->setVisible(state.visible);
        if (p->text() != qs(state.caption)) p->setText(qs(state.caption));
    });
    return a;
}

void Binder::timer(Timer& state, Handler onTimer) {
    auto* t = new QTimer(this);
    t->setSingleShot(true);
    // Ending a highlight is harmless during a run, so the timer is never refused.
    connect(t, &QTimer::timeout, this, [this, &state, onTimer] {
        if (state.enabled) run(onTimer, true);
    });
    QPointer<QTimer> p(t);
    add(&state, nullptr, {}, [p, &state] {
        if (!p) return;
        if (state.enabled && !p->isActive()) p->start(std::max(state.intervalMs, 0));
        if (!state.enabled && p->isActive()) p->stop();
    });
}

void Binder::window(Window& state, QWidget* widget, bool modal, Handler beforeShow, bool activate) {
    QPointer<QWidget> p(widget);
    if (!activate) widget->setAttribute(Qt::WA_ShowWithoutActivating);
    add(&state, widget, {}, [p, &state, modal, beforeShow, activate] {
        if (!p) return;
        if (p->windowTitle() != qs(state.caption)) p->setWindowTitle(qs(state.caption));
        if (!state.visible && p->isVisible()) {
            p->hide();
        } else if (state.visible && !p->isVisible() && !modal) {
            if (beforeShow) beforeShow();
            p->show();
            p->raise();
            if (activate) p->activateWindow();
        }
    });
}

}  // namespace kelvarin::gui

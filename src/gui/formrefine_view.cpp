// "Refinement": the current population and the working copy of the search limits. It stays
// on top of the other windows.
#include "gui/view_util.hpp"
#include "gui/views.hpp"
#include "refine/formrefine.hpp"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "app/application.hpp"
#include "results/formcalc.hpp"

namespace kelvarin::gui {

namespace {

QLineEdit* limitEdit(Binder& b, Edit& state, QWidget* parent) {
    QLineEdit* e = b.edit(state, parent);
    e->setFixedWidth(75);
    return e;
}

/// Top-left corner for a window of `size` next to `other` within the screen: to its right, to
/// its left, below it; when none has room but the screen is wide enough for both side by side,
/// `other` moves to the left edge to make room on its right; else the screen's bottom-right.
QPoint besideWindow(QWidget& other, QSize size) {
    constexpr int kGap = 8;
    constexpr int kFrame = 32;  // room for the title bar and borders the window manager adds
    QRect o = other.frameGeometry();
    const QScreen* screen = other.screen() ? other.screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1600, 1000);
    const int w = size.width() + kFrame / 2;
    const int h = size.height() + kFrame;
    auto top = [&] {
        return std::clamp(o.top(), area.top(), std::max(area.top(), area.bottom() - h));
    };
    if (o.right() + kGap + w <= area.right()) return {o.right() + kGap, top()};
    if (o.left() - kGap - w >= area.left()) return {o.left() - kGap - w, top()};
    if (o.bottom() + kGap + h <= area.bottom())
        return {std::clamp(o.left(), area.left(), std::max(area.left(), area.right() - w)),
                o.bottom() + kGap};
    if (o.width() + kGap + w <= area.width()) {
        other.move(area.left(), o.top());
        o.moveLeft(area.left());
        return {o.right() + kGap, top()};
    }
    return {std::max(area.left(), area.right() - w), std::max(area.top(), area.bottom() - h)};
}

}  // namespace

QWidget* buildRefineView(Binder& b, Tformrefine& form) {
    auto* window = new FormWidget(bareDialogFlags() | Qt::WindowStaysOnTopHint);
    window->onClose = [&b, &form] { b.run([&form] { form.close(); }); };
    auto* column = new QVBoxLayout(window);
    column->setSizeConstraint(QLayout::SetFixedSize);

    column->addWidget(b.label(form.Label3, window));
    QTableWidget* grid = b.grid(form.StringGrid1, window, 96);
    grid->setColumnCount(6);
    grid->setFixedSize(6 * 96 + 2 + grid->verticalScrollBar()->sizeHint().width(), 240);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(grid);

    auto* variance = new QHBoxLayout;
    variance->addWidget(b.label(form.Label2, window));
    variance->addWidget(b.label(form.Label5, window));
    variance->addStretch();
    column->addLayout(variance);

    auto* limits = new QGroupBox(window);
    auto* lg = new QGridLayout(limits);
    lg->addWidget(b.label(form.Label1, limits), 0, 0, 1, 5);
    lg->addWidget(b.label(form.Label8, limits), 1, 1);
    lg->addWidget(b.label(form.Label9, limits), 1, 2);
    lg->addWidget(b.label(form.Label13, limits), 1, 3);
    lg->addWidget(b.label(form.Label12, limits), 1, 4);
    struct Row {
        Label& caption;
        Edit& lo;
        Edit& hi;
        Edit& mut;
        Label& best;
    };
    const Row rows[] = {
        {form.Label6, form.taui, form.tauf, form.maxmuttau, form.Label14},
        {form.Label10, form.roi, form.rof, form.maxmutro, form.Label15},
        {form.Label4, form.sigma1i, form.sigma1f, form.maxmutsigma1, form.Label16},
        {form.Label7, form.sigma2i, form.sigma2f, form.maxmutsigma2, form.Label17},
        {form.Label11, form.wmin, form.wmax, form.maxmutw, form.Label18},
    };
    int r = 2;
    for (const Row& row : rows) {
        lg->addWidget(b.label(row.caption, limits), r, 0);
        lg->addWidget(limitEdit(b, row.lo, limits), r, 1);
        lg->addWidget(limitEdit(b, row.hi, limits), r, 2);
        lg->addWidget(limitEdit(b, row.mut, limits), r, 3);
        lg->addWidget(b.label(row.best, limits), r, 4);
        ++r;
    }
    lg->setColumnMinimumWidth(4, 60);
    column->addWidget(limits);

    // The window stays on top, so it must not sit on the calculation window's buttons, fields
    // and plot: the first time it opens beside that window; afterwards where the user left it.
    // It never takes the keyboard from the window the user types in.
    QWidget* calc = b.widgetOf(&b.app().formcalc());
    auto placed = std::make_shared<bool>(false);
    b.window(
        form, window, false,
        [window, calc, placed] {
            if (*placed) {
                window->move(window->pos());  // an explicit position is kept by the window manager
                return;
            }
            *placed = true;
            // The calculation window appears in the same step and the window manager places it
            // a moment later: this window waits in a corner and then moves beside it.
            const QScreen* screen = QGuiApplication::primaryScreen();
            if (screen) {
                const QRect area = screen->availableGeometry();
                window->move(area.right() - window->sizeHint().width(), area.top());
            }
            QTimer::singleShot(150, window, [window, calc] {
                if (calc && calc->isVisible()) window->move(besideWindow(*calc, window->size()));
            });
        },
        false);
    return window;
}

}  // namespace kelvarin::gui

// "Four-Column Data File": depth range and layers of the ion-depth histogram.
#include "app/form4cols.hpp"
#include "gui/view_util.hpp"
#include "gui/views.hpp"

namespace kelvarin::gui {

QWidget* build4colsView(Binder& b, Tform4cols& form) {
    auto* window = new FormWidget(closableDialogFlags());
    window->onClose = [&b, &form] { b.run([&form] { form.close(); }); };
    QGridLayout* grid = fixedGrid(window);
    grid->setContentsMargins(16, 16, 16, 16);
    const Handler change = [&form] { form.maxdepthChange(); };

    grid->addWidget(b.label(form.Label1, window), 0, 0);
    grid->addWidget(b.label(form.deepest, window), 0, 1);
    grid->addWidget(b.label(form.Label2, window), 1, 0);
    QLineEdit* depth = b.edit(form.maxdepth, window, {}, change);
    depth->setFixedWidth(100);
    grid->addWidget(depth, 1, 1);
    grid->addWidget(plainLabel(QStringLiteral("Å"), window), 1, 2);
    grid->addWidget(b.label(form.Label3, window), 2, 0);
    QLineEdit* layers = b.edit(form.nlayers, window, {}, change);
    layers->setFixedWidth(100);
    grid->addWidget(layers, 2, 1);
    grid->addWidget(b.label(form.Label4, window), 3, 0);
    grid->addWidget(b.label(form.layerthickness, window), 3, 1);
    grid->addWidget(plainLabel(QStringLiteral("Å"), window), 3, 2);
    grid->setColumnMinimumWidth(1, 110);
    grid->addWidget(b.button(form.Button1, window, [&form] { form.Button1Click(); }), 4, 0, 1, 3,
                    Qt::AlignHCenter);

    b.window(form, window);
    return window;
}

}  // namespace kelvarin::gui

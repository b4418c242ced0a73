// "Data Entry": depth-profile table, reflection, scan, radiation and the crystal choice.
#include "gui/view_util.hpp"
#include "gui/views.hpp"
#include "setup/formdata.hpp"

namespace kelvarin::gui {

namespace {

QLineEdit* shortEdit(Binder& b, Edit& state, QWidget* parent, int width) {
    QLineEdit* e = b.edit(state, parent);
    e->setFixedWidth(width);
    return e;
}

}  // namespace

QWidget* buildDataView(Binder& b, Tformdata& form) {
    auto* window = new FormWidget(bareDialogFlags());
    window->onClose = [&b, &form] { b.run([&form] { form.close(); }); };
    auto* top = new QHBoxLayout(window);
    top->setSizeConstraint(QLayout::SetFixedSize);
    top->setSpacing(14);

    // Depth-profile table.
    auto* left = new QVBoxLayout;
    QLabel* lab1 = b.label(form.Lab1, window);
    lab1->setWordWrap(true);
    lab1->setFixedWidth(240);
    left->addWidget(lab1);
    QTableWidget* data = b.grid(form.data, window, 105);
    data->setFixedSize(240, 330);
    left->addWidget(data);
    left->addStretch();
    top->addLayout(left);

    // Reflection, scan and radiation.
    auto* entries = new QGroupBox(window);
    auto* eg = new QGridLayout(entries);
    eg->setVerticalSpacing(6);
    eg->addWidget(b.label(form.L7, entries), 0, 0, 1, 2);
    auto* hkl = new QHBoxLayout;
    hkl->addWidget(b.label(form.La1, entries));
    hkl->addWidget(shortEdit(b, form.h, entries, 40));
    hkl->addSpacing(8);
    hkl->addWidget(b.label(form.Label13, entries));
    hkl->addWidget(shortEdit(b, form.k, entries, 40));
    hkl->addSpacing(8);
    hkl->addWidget(b.label(form.Label14, entries));
    hkl->addWidget(shortEdit(b, form.l, entries, 40));
    hkl->addStretch();
    eg->addLayout(hkl, 1, 0, 1, 2);
    eg->addWidget(b.label(form.L8, entries), 2, 0);
    eg->addWidget(shortEdit(b, form.thetai, entries, 90), 2, 1);
    eg->addWidget(b.label(form.L9, entries), 3, 0);
    eg->addWidget(shortEdit(b, form.thetaf, entries, 90), 3, 1);
    eg->addWidget(b.label(form.L11, entries), 4, 0);
    eg->addWidget(shortEdit(b, form.step, entries, 90), 4, 1);
    eg->addWidget(b.label(form.L10, entries), 5, 0);
    QComboBox* radiation = b.comboBox(form.radiacao, entries, [&form] { form.radiacaoChange(); });
    radiation->setFixedWidth(120);
    eg->addWidget(radiation, 5, 1);
    eg->addWidget(plainLabel(QStringLiteral("Wavelength (Å):"), entries), 6, 0);
    eg->addWidget(shortEdit(b, form.wl, entries, 90), 6, 1);
    eg->addWidget(b.button(form.buttarget, entries, [&form] { form.buttargetClick(); }), 7, 0, 1, 2,
                  Qt::AlignRight);
    eg->setRowStretch(8, 1);
    top->addWidget(entries);

    // Crystal choice: type, "Choose", the element buttons placed as in the periodic table
    // (columns group II to VI, rows period 2 to 5), the chosen crystal and its lattice constants.
    auto* crystal = new QGroupBox(window);
    auto* cg = new QGridLayout(crystal);
    cg->setVerticalSpacing(6);
    cg->addWidget(b.radioGroup(form.tipo, crystal, {}, 2), 0, 0, 1, 3);
    cg->addWidget(b.button(form.Button1, crystal, [&form] { form.Button1Click(); }), 0, 3, 1, 2,
                  Qt::AlignCenter);
    struct Place {
        const char* symbol;
        int row, col;
    };
    static constexpr Place places[] = {
        {"C", 0, 2},  {"N", 0, 3},  {"Al", 1, 1}, {"Si", 1, 2}, {"P", 1, 3},  {"S", 1, 4},
        {"Zn", 2, 0}, {"Ga", 2, 1}, {"Ge", 2, 2}, {"As", 2, 3}, {"Se", 2, 4}, {"Cd", 3, 0},
        {"In", 3, 1}, {"Sn", 3, 2}, {"Sb", 3, 3}, {"Te", 3, 4},
    };
    auto* elements = new QGridLayout;
    elements->setSpacing(3);
    for (const Place& place : places) {
        Button* state = form.elementButton(place.symbol);
        if (!state) continue;
        const std::string symbol = place.symbol;
        QPushButton* button =
            b.button(*state, crystal, [&form, symbol] { form.clickElement(symbol); });
        button->setFixedSize(40, 30);
        elements->addWidget(button, place.row, place.col);
    }
    cg->addLayout(elements, 1, 0, 1, 5);

    auto* chosen = new QGridLayout;
    chosen->addWidget(plainLabel(QStringLiteral("Crystal:"), crystal), 0, 0);
    QLabel* formula = b.label(form.Label1, crystal);
    QFont bold = formula->font();
    bold.setBold(true);
    formula->setFont(bold);
    chosen->addWidget(formula, 0, 1);
    chosen->addWidget(b.label(form.Label6, crystal), 1, 0);
    chosen->addWidget(b.label(form.Label2, crystal), 1, 1);
    chosen->addWidget(b.label(form.Label7, crystal), 2, 0);
    chosen->addWidget(b.label(form.Label3, crystal), 2, 1);
    chosen->addWidget(b.label(form.Label8, crystal), 3, 0);
    chosen->addWidget(b.label(form.Label4, crystal), 3, 1);
    chosen->addWidget(plainLabel(QStringLiteral("Å"), crystal), 1, 2);
    chosen->addWidget(plainLabel(QStringLiteral("Å"), crystal), 2, 2);
    chosen->addWidget(plainLabel(QStringLiteral("Å"), crystal), 3, 2);
    chosen->setColumnMinimumWidth(1, 80);
    chosen->setColumnStretch(3, 1);
    cg->addLayout(chosen, 2, 0, 1, 5);
    cg->setRowStretch(3, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* undo = b.button(form.butUndo, crystal, [&form] { form.butUndoClick(); });
    QPushButton* ok = b.button(form.butOK, crystal, [&form] { form.butOKClick(); });
    undo->setMinimumWidth(80);
    ok->setMinimumWidth(80);
    buttons->addWidget(undo);
    buttons->addWidget(ok);
    cg->addLayout(buttons, 4, 0, 1, 5);
    top->addWidget(crystal);

    b.timer(form.Timer1, [&form] { form.Timer1Timer(); });
    b.window(form, window);
    return window;
}

}  // namespace kelvarin::gui

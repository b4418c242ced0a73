// The main window: job options, input file and the menu bar.
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

#include "app/formmain.hpp"
#include "gui/view_util.hpp"
#include "gui/views.hpp"

namespace kelvarin::gui {

namespace {

void showText(QWidget* parent, const QString& title, std::string_view text) {
    QMessageBox box(QMessageBox::Information, title,
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

QWidget* buildMainView(Binder& b, Tformmain& form) {
    auto* window = new MainFormWidget;
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint);
    // Closing the main window ends the program, also while a run is busy.
    window->onClose = [&b, &form] { b.run([&form] { form.Exit1Click(); }, true); };

    QMenuBar* bar = window->menuBar();
    QMenu* file = b.menu(form.File1, bar);
    b.menuItem(
        form.Exit1, file, [&form] { form.Exit1Click(); }, true);
    QMenu* help = b.menu(form.Help1, bar);
    b.menuItem(
        form.KelvarinsHowTo1, help,
        [window] {
            showText(window, QStringLiteral("How to use Kelvarin"), Tformmain::howToText());
        },
        true);
    b.menuItem(
        form.AboutKelvarin1, help,
        [window] { showText(window, QStringLiteral("About Kelvarin"), Tformmain::aboutText()); },
        true);

    auto* central = new QWidget(window);
    window->setCentralWidget(central);
    auto* grid = new QGridLayout(central);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);

    grid->addWidget(b.radioGroup(form.RadioGroup1, central, [&form] { form.RadioGroup1Click(); }),
                    0, 0, 1, 2);
    grid->addWidget(b.radioGroup(form.theory, central), 0, 2, 1, 1);

    grid->addWidget(b.label(form.Label2, central), 1, 0, 1, 3);
    auto* fileRow = new QHBoxLayout;
    QLineEdit* fileEdit = b.edit(form.file, central, [&form] { form.fileExit(); });
    fileEdit->setMinimumWidth(360);
    fileRow->addWidget(fileEdit, 1);
    fileRow->addWidget(b.button(form.Button1, central, [&form] { form.Button1Click(); }));
    grid->addLayout(fileRow, 2, 0, 1, 3);

    grid->addWidget(b.checkBox(form.chkInteiro, central), 3, 0, 1, 3);
    grid->addWidget(b.radioGroup(form.filetype, central, [&form] { form.filetypeClick(); }), 4, 0,
                    1, 3);

    grid->addWidget(b.label(form.Label6, central), 5, 0);
    QLineEdit* mstrain = b.edit(form.mstrain, central);
    mstrain->setFixedWidth(90);
    grid->addWidget(mstrain, 5, 1, Qt::AlignLeft);
    grid->addWidget(b.label(form.Label1, central), 6, 0);
    QLineEdit* nlayers = b.edit(form.nlayers, central);
    nlayers->setFixedWidth(90);
    grid->addWidget(nlayers, 6, 1, Qt::AlignLeft);

    QPushButton* ok = b.button(form.butok, central, [&form] { form.butokClick(); });
    ok->setMinimumWidth(90);
    grid->addWidget(ok, 6, 2, Qt::AlignRight | Qt::AlignBottom);

    window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    b.window(form, window);
    return window;
}

}  // namespace kelvarin::gui

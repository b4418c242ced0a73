// "Error!": one word-wrapped message, shown modally; "OK" (or Esc) runs the window's OK handler.
#include <QDialog>

#include "gui/qt_platform.hpp"
#include "gui/view_util.hpp"
#include "gui/views.hpp"
#include "results/formerro.hpp"

namespace kelvarin::gui {

namespace {

class ErrorDialog : public QDialog {
public:
    ErrorDialog() : QDialog(nullptr, bareDialogFlags() | Qt::WindowStaysOnTopHint) {}
    Handler onDismiss;

    void reject() override {
        if (onDismiss) onDismiss();
        if (isVisible()) QDialog::reject();
    }
};

}  // namespace

QDialog* buildErrorView(Binder& b, Tformerro& form, QtPlatform& platform) {
    auto* dialog = new ErrorDialog;
    dialog->setModal(true);
    dialog->setObjectName(QStringLiteral("errorWindow"));
    auto* column = new QVBoxLayout(dialog);
    column->setSizeConstraint(QLayout::SetFixedSize);
    column->setContentsMargins(16, 16, 16, 12);
    column->setSpacing(12);
    QLabel* message = b.label(form.Label1, dialog);
    message->setWordWrap(true);
    message->setFixedWidth(300);
    message->setMinimumHeight(40);
    message->setAlignment(Qt::AlignCenter);
    column->addWidget(message);

    // The dialog must always be dismissable, also while a run is busy.
    const Handler dismiss = [&b, &form] { b.run([&form] { form.Button1Click(); }, true); };
    QPushButton* ok = b.button(
        form.Button1, dialog, [&form] { form.Button1Click(); }, true);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    ok->setMinimumWidth(80);
    QObject::connect(ok, &QPushButton::clicked, dialog, [dialog] {
        if (dialog->isVisible()) dialog->accept();
    });
    column->addWidget(ok, 0, Qt::AlignHCenter);
    dialog->onDismiss = dismiss;

    b.window(form, dialog, true);
    platform.setModalRunner(form, [&b, dialog] {
        b.push();  // the dialog shows the message just set
        dialog->exec();
    });
    return dialog;
}

}  // namespace kelvarin::gui

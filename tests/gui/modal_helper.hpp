// Answers the next modal window (message box or dialog) from inside its own event loop, as a
// user would, and remembers what it showed.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace kelvarin::gui::testing {

struct ModalSeen {
    int count = 0;
    QString title;
    QString text;
};

/// Polls for a modal window; when one is up, records its title and text and presses its
/// default (or first) button. Keeps answering until the returned object is destroyed.
class ModalAnswerer {
public:
    ModalAnswerer() : timer_(std::make_unique<QTimer>()) {
        timer_->setInterval(10);
        QObject::connect(timer_.get(), &QTimer::timeout, [this] { answer(); });
        timer_->start();
    }
    ModalSeen seen;

private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        ++seen.count;
        seen.title = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.text = box->text();
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->accept();
            return;
        }
        const auto labels = modal->findChildren<QLabel*>();
        if (!labels.isEmpty()) seen.text = labels.first()->text();
        const auto buttons = modal->findChildren<QPushButton*>();
        if (!buttons.isEmpty())
            buttons.first()->click();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }
    std::unique_ptr<QTimer> timer_;
};

}  // namespace kelvarin::gui::testing

#include "gui/qt_platform.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "app/window.hpp"

namespace kelvarin::gui {

void QtPlatform::setModalRunner(const Window& window, std::function<void()> runner) {
    modalWindow_ = &window;
    modalRunner_ = std::move(runner);
}

void QtPlatform::showModal(Window& window) {
    if (&window == modalWindow_ && modalRunner_) {
        window.visible = true;
        modalRunner_();
        window.visible = false;
        return;
    }
    if (beforeEvents_) beforeEvents_();
    QMessageBox::warning(QApplication::activeWindow(), QString::fromStdString(window.caption),
                         QString::fromStdString(window.message()));
    window.hide();
}

void QtPlatform::showException(const std::exception& error) {
    ++exceptionsShown_;
    // The windows show what the failed handler had done before the message appears.
    if (beforeEvents_) beforeEvents_();
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Kelvarin"),
                    QString::fromUtf8(error.what()), QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("exceptionDisplay"));
    box.exec();
}

std::optional<std::string> QtPlatform::chooseFile() {
    const QString name =
        QFileDialog::getOpenFileName(QApplication::activeWindow(), QStringLiteral("Open"),
                                     QString(), QStringLiteral("All files (*)"));
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
}

void QtPlatform::processMessages() {
    if (beforeEvents_) beforeEvents_();
    QApplication::processEvents();
}

void QtPlatform::beep() {
    QApplication::beep();
}

void QtPlatform::terminate() {
    // Leaves the event loop directly: a quit request would first try to close every window.
    QCoreApplication::exit(0);
}

}  // namespace kelvarin::gui

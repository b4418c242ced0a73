#include "gui/qt_platform.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "app/window.hpp"

namespace kelvarin::gui {

void QtPlatform::showModal(Window& window) {
    QMessageBox::warning(QApplication::activeWindow(), QString::fromStdString(window.caption),
                         QString::fromStdString(window.message()));
    window.hide();
}

void QtPlatform::showException(const std::exception& error) {
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Kelvarin"),
                          QString::fromUtf8(error.what()));
}

std::optional<std::string> QtPlatform::chooseFile() {
    const QString name = QFileDialog::getOpenFileName(QApplication::activeWindow());
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
}

void QtPlatform::processMessages() {
    QApplication::processEvents();
}

void QtPlatform::beep() {
    QApplication::beep();
}

void QtPlatform::terminate() {
    QApplication::quit();
}

}  // namespace kelvarin::gui

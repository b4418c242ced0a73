// Kelvarin: the desktop program. Creates the application with its seven windows, shows the
// main window and runs the event loop.
#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <clocale>
#include <memory>

#include "app/application.hpp"
#include "gui/qt_platform.hpp"
#include "gui/views.hpp"
#include "gui/workbench_window.hpp"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    // Qt adopts the user's C locale; data and result files must always use ".".
    std::setlocale(LC_NUMERIC, "C");
    kelvarin::gui::QtPlatform platform;
    try {
        const QString point = QLocale::system().decimalPoint();
        kelvarin::Application app(platform, kelvarin::Locale(point == "," ? ',' : '.'));
        QApplication::setApplicationName(QString::fromStdString(app.title));
        kelvarin::gui::Gui gui(app, platform);
        // "kelvarin PROJECT.toml" opens the project in the workbench beside the main window.
        if (argc > 1 && QString::fromLocal8Bit(argv[1]).endsWith(".toml")) {
            kelvarin::gui::WorkbenchWindow& workbench = gui.workbench();
            workbench.show();
            workbench.openProject(QString::fromLocal8Bit(argv[1]));
        }
        qapp.exec();
    } catch (const std::exception& error) {
        platform.showException(error);
    } catch (...) {
        platform.showException(std::runtime_error("Unknown error"));
    }
    return 0;
}

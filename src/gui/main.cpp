#include <QApplication>
#include <QLocale>
#include <QMainWindow>
#include <clocale>

#include "app/application.hpp"
#include "gui/qt_platform.hpp"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    // Qt adopts the user's C locale; data and result files must always use ".".
    std::setlocale(LC_NUMERIC, "C");
    const QString point = QLocale::system().decimalPoint();
    kelvarin::gui::QtPlatform platform;
    kelvarin::Application app(platform, kelvarin::Locale(point == "," ? ',' : '.'));
    QApplication::setApplicationName(QString::fromStdString(app.title));
    QMainWindow main;
    main.setWindowTitle(QString::fromStdString(app.title));
    main.show();
    return qapp.exec();
}

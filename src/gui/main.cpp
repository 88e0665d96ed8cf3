#include "gui/app/tform1.h"
#include "gui/app/windows.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Paritas"));
    QApplication::setApplicationDisplayName(QStringLiteral("Paritas"));
    // Date and time texts follow the user's locale; Qt has set it already, this makes it explicit.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    paritas::gui::Windows windows = paritas::gui::createWindows();
    windows.form1->show();
    const int result = app.exec();
    paritas::gui::destroyWindows(windows);
    return result;
}

#include "gui/app/application.h"

#include "gui/app/app_icons.h"

#include <QApplication>

#include <clocale>

namespace paritas::gui {

void setUpApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Paritas"));
    QGuiApplication::setDesktopFileName(QStringLiteral("paritas"));
    app.setWindowIcon(appIcon());
    // Date and time texts follow the user's locale; Qt has set it already, this makes it explicit.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace paritas::gui

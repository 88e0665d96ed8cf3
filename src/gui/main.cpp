#include "gui/app/application.h"
#include "gui/app/tform1.h"
#include "gui/app/windows.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    paritas::gui::setUpApplication(app);
    paritas::gui::Windows windows = paritas::gui::createWindows();
    windows.form1->show();
    const int result = app.exec();
    paritas::gui::destroyWindows(windows);
    return result;
}

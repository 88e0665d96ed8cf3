#include "gui/app/windows.h"

#include "gui/app/tform1.h"
#include "gui/app/tform10.h"
#include "gui/app/tform5.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/jobs/tform9.h"
#include "gui/settings/tform2.h"

#include <QShortcut>

namespace paritas::gui {

Windows createWindows() {
    Windows w;
    w.form1 = new TForm1();
    w.form2 = new TForm2(w.form1);
    w.form2->setMainWindow(w.form1);
    w.form1->setWindows(w);
    w.form3 = new TForm3(w.form1);
    w.form5 = new TForm5(w.form1);
    w.crcMatch = new TCRCMatch(w.form1);
    w.form1->setWindows(w);
    w.form9 = new TForm9(w.form1, w.form2); // loads the settings file
    w.form10 = new TForm10(w.form1);
    w.form11 = new TForm11(w.form1);
    w.form1->setWindows(w);
    // Escape closes (hides) a secondary window. Not the stop window: it is the run's brake.
    for (QWidget* window :
         std::initializer_list<QWidget*>{w.form2, w.form3, w.form5, w.crcMatch, w.form9, w.form10}) {
        auto* escape = new QShortcut(QKeySequence::Cancel, window);
        escape->setContext(Qt::WindowShortcut);
        QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
    }
    return w;
}

void destroyWindows(Windows& windows) {
    delete windows.form1; // the secondary windows are its children
    windows = Windows{};
}

} // namespace paritas::gui

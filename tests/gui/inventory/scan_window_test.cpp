#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using namespace paritas::gui;
using namespace paritas::gui::testing;

class ScanWindowTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
    }
    void cleanup() { destroyWindows(w); }

    void scanningARealFolderShowsItsCountAndSizeInTheStatusBar() {
        TwoLocations t;
        writeFile(t.a + "/one.txt", QByteArray(1000, 'x'));
        writeFile(t.a + "/sub/two.txt", QByteArray(3 * 1048576, 'y'));
        writeFile(t.a + "/.hidden", "h");
        t.setOn(f);
        f->SearchAGrid();
        QCOMPARE(f->StatusPanelA->text(), QStringLiteral("Files Count A : 3  Size: 3MB"));
        QCOMPARE(f->Label1->text(), QStringLiteral("Path A Finished"));
        QVERIFY(f->ShellTreeView1->isEnabled());
        QVERIFY(!f->Timer1->isActive());
        QCOMPARE(f->session().scanned(paritas::Side::A).inventory.fileCount(), std::size_t(3));
        QCOMPARE(f->session().scanned(paritas::Side::A).folders.size(), std::size_t(2));
        QVERIFY(logHas(f, "Scanning folder " + t.a + "/"));
        QVERIFY(logHas(f, "Scanning folder " + t.a + "/sub/"));
        QCOMPARE(f->ProgressBar1->maximum(), 1);
    }

    void withoutSubfoldersOnlyTheTopFolderIsListed() {
        TwoLocations t;
        writeFile(t.b + "/top.txt", "t");
        writeFile(t.b + "/sub/deep.txt", "d");
        t.setOn(f);
        f->CheckBox1->setChecked(false);
        f->SearchBGrid();
        QCOMPARE(f->StatusPanelB->text(), QStringLiteral("Files Count B : 1  Size: 0MB"));
        QCOMPARE(f->Label7->text(), QStringLiteral("Path B Finished"));
        QCOMPARE(f->session().scanned(paritas::Side::B).folders.size(), std::size_t(1));
    }

    void aMissingOrEmptyLocationIsReportedAndListsNothing() {
        f->Edit1->setText(QString());
        f->SearchAGrid();
        QVERIFY(logHas(f, "Folder  does not exist!"));
        QCOMPARE(f->StatusPanelA->text(), QStringLiteral("Files Count A : 0  Size: 0MB"));
        f->Edit2->setText("/no/such/folder/");
        f->SearchBGrid();
        QVERIFY(logHas(f, "Folder /no/such/folder/ does not exist!"));
        QCOMPARE(f->session().scanned(paritas::Side::B).inventory.fileCount(), std::size_t(0));
    }

    void theStatusLabelBlinksWhileTheTimerRuns() {
        QPalette p = f->Label1->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        f->Label1->setPalette(p);
        f->Timer1Timer();
        QCOMPARE(f->Label1->palette().color(QPalette::WindowText), QColor(Qt::white));
        f->Timer1Timer();
        QCOMPARE(f->Label1->palette().color(QPalette::WindowText), QColor(Qt::black));
    }
};

QTEST_MAIN(ScanWindowTest)
#include "scan_window_test.moc"

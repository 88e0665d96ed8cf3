// A command works on the locations and "Include Subfolders" as they were when its button was
// pressed: changing them while its scans run changes nothing of what it scans, plans or runs, and
// neither tree nor drop-down can be used until the command has ended.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/app/keep_alive.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/execution/tform3.h"

#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <QTreeView>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

class RunLocationsTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

    // Between the two scans (the first scan's last pump) the user points both locations at `other`
    // and unticks "Include Subfolders"; records whether any chooser could be used at that moment.
    bool choosersUsableMidway = false;
    bool switched = false;
    void switchMidway(const QString& other) {
        switched = false;
        KeepAlive::setBeforePump([this, other] {
            if (switched || !f->isBusy())
                return;
            switched = true;
            choosersUsableMidway = f->ShellTreeView1->isEnabled() || f->ShellTreeView2->isEnabled() ||
                                   f->ShellComboBox1->isEnabled() || f->ShellComboBox2->isEnabled();
            f->Edit1->setText(other + "/");
            f->Edit2->setText(other + "/");
            f->CheckBox1->setChecked(false);
        });
    }

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
        w.form2->CheckBoxConfirm->setChecked(false);
    }
    void cleanup() {
        KeepAlive::setBeforePump({});
        destroyWindows(w);
    }

    void commandsKeepTheLocationsOfThePress_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("Analyse/Synchronize Now") << "analyse";
        QTest::newRow("Delete duplicates within A") << "duplicates";
        QTest::newRow("CRC Matching A -> B") << "crc";
    }
    void commandsKeepTheLocationsOfThePress() {
        QFETCH(QString, command);
        FakeDialogs dialogs;
        TwoLocations t;
        const QString other = t.root.filePath("Other");
        writeFile(t.a + "/deep/photo.jpg", "same bytes");
        writeFile(t.a + "/photo.jpg", "same bytes");
        writeFile(other + "/keep.txt", "not chosen");
        writeFile(other + "/copy/keep.txt", "not chosen");
        t.setOn(f);
        switchMidway(other);

        if (command == "analyse") {
            f->BitBtn6Click(); // backup A into B
            QCOMPARE(readFile(t.b + "/deep/photo.jpg"), QByteArray("same bytes"));
            QCOMPARE(readFile(t.b + "/photo.jpg"), QByteArray("same bytes"));
            QCOMPARE(f->StatusPanelB->text(), QStringLiteral("Files Count B : 2  Size: 0MB"));
        } else if (command == "duplicates") {
            f->DeleteduplicateswithinA1Click();
            QVERIFY(QFile::exists(t.a + "/photo.jpg") != QFile::exists(t.a + "/deep/photo.jpg"));
            QCOMPARE(f->StatusPanelA->text(), QStringLiteral("Files Count A : 1  Size: 0MB"));
        } else {
            writeFile(t.b + "/photo.jpg", "same bytes");
            f->CRCMatchingAB1Click();
            QCOMPARE(w.crcMatch->grid->rowCount(), 3);
            QCOMPARE(w.crcMatch->grid->cell(0, 4), t.b + "/photo.jpg");
        }
        QVERIFY(switched);
        QVERIFY(!choosersUsableMidway);
        QCOMPARE(readFile(other + "/keep.txt"), QByteArray("not chosen"));
        QCOMPARE(readFile(other + "/copy/keep.txt"), QByteArray("not chosen"));
        QVERIFY(f->ShellTreeView1->isEnabled() && f->ShellTreeView2->isEnabled());
        QVERIFY(f->ShellComboBox1->isEnabled() && f->ShellComboBox2->isEnabled());
    }

    // With the review on, the run after the confirmation scans again where the list was planned.
    void theScansAfterAReviewedRunLookWhereTheListWasPlanned() {
        FakeDialogs dialogs;
        TwoLocations t;
        const QString other = t.root.filePath("Other");
        writeFile(t.a + "/new.txt", "new");
        writeFile(other + "/x.txt", "x");
        writeFile(other + "/y.txt", "y");
        t.setOn(f);
        w.form2->CheckBoxConfirm->setChecked(true);
        f->BitBtn6Click();
        QVERIFY(w.form3->isVisible());
        QVERIFY(f->ShellTreeView2->isEnabled()); // the user may browse while reviewing
        f->Edit2->setText(other + "/");
        w.form3->BitBtn3Click();
        QCOMPARE(readFile(t.b + "/new.txt"), QByteArray("new"));
        QCOMPARE(f->StatusPanelB->text(), QStringLiteral("Files Count B : 1  Size: 0MB"));
    }
};

QTEST_MAIN(RunLocationsTest)
#include "run_locations_test.moc"

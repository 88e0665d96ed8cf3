#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "core/app/run_lock.h"

#include "gui/execution/action_review_model.h"
#include "gui/execution/run_ending.h"
#include "gui/execution/tform3.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

class AnalyseTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
    }
    void cleanup() { destroyWindows(w); }

    void withReviewOnTheCommandShowsTheListAndChangesNothing() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/new.txt", "fresh");
        writeFile(t.b + "/stale.txt", "old");
        t.setOn(f);
        f->BitBtn6Click();
        QVERIFY(w.form3->isVisible());
        QCOMPARE(f->lblActionCount->text(), QStringLiteral("Actions: 2"));
        QCOMPARE(w.form3->model()->size(), f->session().actions().size());
        QCOMPARE(&w.form3->model()->item(0), &f->session().actions()[0]);
        QVERIFY(QFile::exists(t.b + "/stale.txt"));
        QVERIFY(!QFile::exists(t.b + "/new.txt"));
        QVERIFY(dialogs.messages.isEmpty());
        w.form3->BitBtn3Click();
        QCOMPARE(readFile(t.b + "/new.txt"), QByteArray("fresh"));
        QVERIFY(!QFile::exists(t.b + "/stale.txt"));
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].startsWith("Synchronisation FINISHED!\n2 done, 0 failed, 0 skipped\n"));
    }

    void withReviewOffTheCommandRunsAtOnceAndFinishes() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/docs/report.txt", "report");
        t.setOn(f);
        w.form2->CheckBoxConfirm->setChecked(false);
        f->setModeIndex(2); // copy missing
        f->BitBtn6Click();
        QVERIFY(!w.form3->isVisible());
        QCOMPARE(readFile(t.b + "/docs/report.txt"), QByteArray("report"));
        QCOMPARE(f->lblActionCount->text(), QStringLiteral("2"));
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].startsWith("Synchronisation FINISHED!\n2 done, 0 failed, 0 skipped\n"));
        QCOMPARE(f->StatusPanelB->text(), QStringLiteral("Files Count B : 1  Size: 0MB"));
        QVERIFY(f->BitBtn6->isEnabled());
        QVERIFY(!f->BitBtn5->isEnabled());
    }

    // The configuration window's choice reaches the window's runs: a backup moves what it deletes and
    // replaces to the trash and says where each file went.
    void withTheTrashChosenABackupKeepsWhatItDeletesAndReplaces() {
        FakeDialogs dialogs;
        TwoLocations t;
        struct DataHome {
            QByteArray previous = qgetenv("XDG_DATA_HOME");
            ~DataHome() { qputenv("XDG_DATA_HOME", previous); }
        } restored;
        qputenv("XDG_DATA_HOME", t.root.filePath("data").toUtf8());
        writeFile(t.a + "/report.txt", "the new report", 1800000000);
        writeFile(t.b + "/report.txt", "old report", 1700000000);
        writeFile(t.b + "/stale.txt", "stale");
        t.setOn(f);
        w.form2->CheckBoxConfirm->setChecked(false);
        w.form2->RadioTrash->setChecked(true);
        f->BitBtn6Click();
        const QString trash = t.root.filePath("data/Trash/files");
        QCOMPARE(readFile(trash + "/stale.txt"), QByteArray("stale"));
        QCOMPARE(readFile(trash + "/report.txt"), QByteArray("old report"));
        QCOMPARE(readFile(t.b + "/report.txt"), QByteArray("the new report"));
        QVERIFY(!QFile::exists(t.b + "/stale.txt"));
        QVERIFY(logHas(f, "Moved to the trash: " + trash + "/stale.txt"));
        QVERIFY(logHas(f, "Old version moved to the trash: " + trash + "/report.txt"));
    }

    // One run per destination, and the window takes its lock before it reads anything: with another
    // program's run on B, Analyse scans nothing, plans nothing and says who holds B.
    void anotherRunOnBRefusesTheAnalysisBeforeAnythingIsScanned() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/new.txt", "new");
        writeFile(t.b + "/stale.txt", "stale");
        t.setOn(f);
        w.form2->CheckBoxConfirm->setChecked(false);
        QDir().mkpath(QString::fromStdString(runLockFolder()));
        const QString lockFile =
            QString::fromStdString(runLockFolder() + "/lock-" + runLockKey((t.b + "/").toStdString()));
        QProcess holder; // another program's run: it holds B's lock as long as it lives
        holder.start("flock", {lockFile, "sleep", "60"});
        QVERIFY(holder.waitForStarted());
        QTRY_VERIFY(QFile::exists(lockFile));
        QTest::qWait(200);
        f->BitBtn6Click();
        holder.kill();
        holder.waitForFinished();
        const QString refusal = "Refused: another run is working on " + t.b + "/; no action was run";
        QCOMPARE(dialogs.messages, QStringList({refusal}));
        QVERIFY(logHas(f, refusal));
        for (const QString& line : f->activityLog().lines())
            QVERIFY2(!line.contains("Searching for Folders"), qPrintable(line));
        QVERIFY(QFile::exists(t.b + "/stale.txt"));
        QVERIFY(!QFile::exists(t.b + "/new.txt"));
        QVERIFY(!f->isBusy());
    }

    void nothingToDoStillEndsWithTheFinishedMessage() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/same.txt", "same");
        writeFile(t.b + "/same.txt", "same");
        t.setOn(f);
        w.form2->CheckBoxConfirm->setChecked(false);
        f->BitBtn6Click();
        QVERIFY(f->session().actions().empty());
        QCOMPARE(f->lblActionCount->text(), QStringLiteral("Actions: 0"));
        QCOMPARE(dialogs.messages, QStringList({"Synchronisation FINISHED!\n" +
                                                nothingToDoText(PlanKind::Backup, f->currentSettings())}));
    }

    void aBackupFromAMissingLocationIsRefusedAndBKeepsItsFiles() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.b + "/only-copy.txt", "precious");
        f->Edit1->setText(t.root.filePath("unplugged") + "/");
        f->Edit2->setText(t.b + "/");
        w.form2->CheckBoxConfirm->setChecked(false);
        f->BitBtn6Click();
        QVERIFY(f->session().actions().empty());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].contains("does not exist"));
        QCOMPARE(readFile(t.b + "/only-copy.txt"), QByteArray("precious"));
    }

    void withoutASelectedModeNothingIsPlanned() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->radioButtons->setExclusive(false);
        f->radioButtons->button(0)->setChecked(false);
        f->radioButtons->setExclusive(true);
        QCOMPARE(f->modeIndex(), -1);
        f->BitBtn6Click();
        QCOMPARE(dialogs.messages, QStringList({"You must Select Synchronisation mode"}));
        QVERIFY(f->session().actions().empty());
        QVERIFY(!w.form3->isVisible());
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        QVERIFY(!f->isBusy());
    }

    void deletingDuplicatesWithinAKeepsTheFirstOfEachGroup() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/1/photo.jpg", "same bytes");
        writeFile(t.a + "/2/photo.jpg", "same bytes");
        writeFile(t.a + "/3/photo.jpg", "diff bytes"); // same size and name, other content
        t.setOn(f);
        w.form2->CheckBoxConfirm->setChecked(false);
        f->DeleteduplicateswithinA1Click();
        QCOMPARE(f->lblActionCount->text(), QStringLiteral("Actions: 4"));
        QCOMPARE(readFile(t.a + "/1/photo.jpg"), QByteArray("same bytes"));
        QVERIFY(!QFile::exists(t.a + "/2/photo.jpg"));
        QCOMPARE(readFile(t.a + "/3/photo.jpg"), QByteArray("diff bytes"));
        // The third photo only looked like a duplicate: its deletion failed, and the end says so.
        QVERIFY(dialogs.messages.isEmpty());
        QCOMPARE(dialogs.warnings.size(), 1);
        QVERIFY(dialogs.warnings[0].startsWith("Synchronisation FINISHED!\n1 done, 1 failed, 0 skipped\n"));
        QVERIFY(logHas(f, "Actions summary: 1 done, 1 failed, 0 skipped"));
    }

    void noSameFileCriterionRefusesTheDuplicateCommand() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        writeFile(t.a + "/y.txt", "y");
        t.setOn(f);
        w.form2->CheckSize->setChecked(false);
        w.form2->CheckName->setChecked(false);
        w.form2->CheckTimeStamp->setChecked(false);
        w.form2->CheckBoxConfirm->setChecked(false);
        f->DeleteduplicateswithinA1Click();
        QVERIFY(f->session().actions().empty());
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(QFile::exists(t.a + "/x.txt") && QFile::exists(t.a + "/y.txt"));
    }
};

QTEST_MAIN(AnalyseTest)
#include "analyse_test.moc"

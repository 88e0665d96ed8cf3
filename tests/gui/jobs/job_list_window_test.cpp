#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/app/keep_alive.h"
#include "gui/execution/tform3.h"

#include "core/app/run_lock.h"
#include "core/base/modes.h"

#include <QAction>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

namespace {

QString cell(TForm1* f, int row, int column) {
    const QTableWidgetItem* item = f->StringGrid3->item(row, column);
    return item ? item->text() : QString();
}

QStringList statuses(TForm1* f) {
    QStringList s;
    for (int r = 0; r < f->StringGrid3->rowCount(); ++r)
        s << cell(f, r, 0);
    return s;
}

void writeText(const QString& path, const QByteArray& content) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(content);
}

// A job for location a, copy missing, location b, with subfolders.
void addCopyJob(TForm1* f, const QString& a, const QString& b) {
    f->Edit1->setText(a + "/");
    f->Edit2->setText(b + "/");
    f->setModeIndex(2);
    f->CheckBox1->setChecked(true);
    f->BitBtn1Click();
}

enum class Fault { ActionFails, NameNotCarried, NoToAll };

} // namespace

class JobListWindowTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
    }
    void cleanup() {
        KeepAlive::setBeforePump([this] { f->activityLog().flush(); });
        destroyWindows(w);
    }

    void aNewWindowShowsOnlyTheOpenRowAndSavesAnEmptyFile() {
        FakeDialogs dialogs;
        QTemporaryDir dir;
        QCOMPARE(f->StringGrid3->rowCount(), 1);
        dialogs.saveName = dir.filePath("empty.jbl");
        f->ToolButton4Click();
        QCOMPARE(readFile(dialogs.saveName), QByteArray());
    }

    void addingThreeJobsAndDeletingTheSecondKeepsTheFirstAndThird() {
        f->Compact1Click();
        f->Edit1->setText("/one/");
        f->BitBtn1Click();
        QVERIFY(f->Normal1->isChecked()); // adding shows the job list
        f->Edit1->setText("/two/");
        f->BitBtn1Click();
        f->Edit1->setText("/three/");
        f->BitBtn1Click();
        QCOMPARE(f->StringGrid3->rowCount(), 4);
        f->StringGrid3->setCurrentCell(1, 0);
        f->BitBtn2Click();
        QCOMPARE(f->StringGrid3->rowCount(), 3);
        QCOMPARE(cell(f, 0, 1), QStringLiteral("/one/"));
        QCOMPARE(cell(f, 1, 1), QStringLiteral("/three/"));
        QCOMPARE(cell(f, 2, 0), QString()); // the open row
        // Deleting the open row changes nothing, and the open row never goes.
        f->StringGrid3->setCurrentCell(2, 0);
        f->BitBtn2Click();
        QCOMPARE(f->StringGrid3->rowCount(), 3);
        f->StringGrid3->setCurrentCell(0, 0);
        f->BitBtn2Click();
        f->StringGrid3->setCurrentCell(0, 0);
        f->BitBtn2Click();
        f->StringGrid3->setCurrentCell(0, 0);
        f->BitBtn2Click();
        QCOMPARE(f->StringGrid3->rowCount(), 1);
    }

    void savingWritesOneCrLfLinePerJobWithTheModeDigit() {
        FakeDialogs dialogs;
        QTemporaryDir dir;
        f->Edit1->setText("/x/A/");
        f->Edit2->setText("/y/B/");
        f->setModeIndex(1);
        f->CheckBox1->setChecked(false);
        f->BitBtn1Click();
        f->setModeIndex(3);
        f->CheckBox1->setChecked(true);
        f->BitBtn1Click();
        QCOMPARE(cell(f, 0, 2), QString::fromLatin1(kModeNames[1].data()));
        QCOMPARE(cell(f, 0, 4), QStringLiteral("No"));
        dialogs.saveName = dir.filePath("jobs.jbl");
        f->ToolButton4Click();
        QCOMPARE(readFile(dialogs.saveName),
                 QByteArray("/x/A/*A*1*B*/y/B/*C*No\r\n/x/A/*A*3*B*/y/B/*C*Yes\r\n"));
        QVERIFY(dialogs.errors.isEmpty());

        dialogs.saveName = dir.filePath("no-such-folder/jobs.jbl");
        f->ToolButton4Click();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(dialogs.errors[0].startsWith("Cannot create file"));
        QCOMPARE(f->StringGrid3->rowCount(), 3); // a failed save leaves the table alone
    }

    void loadingReplacesTheJobsAndEveryJobIsWaiting() {
        FakeDialogs dialogs;
        QTemporaryDir dir;
        f->Edit1->setText("/before/");
        f->BitBtn1Click();
        f->Compact1Click();
        dialogs.openName = dir.filePath("two.jbl");
        writeText(dialogs.openName, "/a/*A*0*B*/b/*C*Yes\r\n/c/*A*7*B*/d/*C*Maybe\r\n");
        f->ToolButton5Click();
        QCOMPARE(f->StringGrid3->rowCount(), 3);
        QCOMPARE(statuses(f), QStringList({"Waiting", "Waiting", ""}));
        QCOMPARE(cell(f, 0, 1), QStringLiteral("/a/"));
        QCOMPARE(cell(f, 0, 2), QString::fromLatin1(kModeNames[0].data()));
        QCOMPARE(cell(f, 1, 2), QString()); // digit 7 names no mode
        QCOMPARE(cell(f, 1, 3), QStringLiteral("/d/"));
        QCOMPARE(cell(f, 1, 4), QStringLiteral("Maybe"));
        QVERIFY(f->Normal1->isChecked());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void aBadLineStopsLoadingWithAnErrorAndKeepsTheJobsBeforeIt() {
        FakeDialogs dialogs;
        QTemporaryDir dir;
        dialogs.openName = dir.filePath("bad.jbl");
        writeText(dialogs.openName, "/a/*A*0*B*/b/*C*Yes\r\n/c/*A*x*B*/d/*C*No\r\n/e/*A*1*B*/f/*C*No\r\n");
        f->ToolButton5Click();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(dialogs.errors[0].contains("Line 2"));
        QCOMPARE(statuses(f), QStringList({"Waiting", ""}));
        QCOMPARE(cell(f, 0, 1), QStringLiteral("/a/"));
    }

    void aFileThatCannotBeReadLeavesTheTableAsItWas() {
        FakeDialogs dialogs;
        QTemporaryDir dir;
        f->Edit1->setText("/kept/");
        f->BitBtn1Click();
        dialogs.openName = dir.filePath("missing.jbl");
        f->ToolButton5Click();
        QCOMPARE(dialogs.errors.size(), 1);
        QCOMPARE(statuses(f), QStringList({"Waiting", ""}));
        QCOMPARE(cell(f, 0, 1), QStringLiteral("/kept/"));
    }

    // A run started by hand once went without the per-action prompts, whatever the settings said.
    void aRunByHandProcessesTheJobsInOrderAskingThePromptsTheSettingsAskFor() {
        FakeDialogs dialogs;
        TwoLocations t;
        const QString c = t.root.filePath("C");
        QDir().mkpath(c);
        writeFile(t.a + "/docs/report.txt", "report");
        addCopyJob(f, t.a, t.b);
        addCopyJob(f, t.b, c); // finds the report only when the first job ran before it
        f->CheckBox1->setChecked(false);
        w.form2->CheckCopy->setChecked(true);
        w.form2->CheckCreate->setChecked(true);
        f->StringGrid3->item(0, 0)->setText("Finished");
        f->BitBtn3Click();
        // The start, then for each job its folder and its copy.
        QCOMPARE(dialogs.confirmations.size(), 5);
        QVERIFY(dialogs.confirmations[0].startsWith("This will start job list procesing."));
        QVERIFY(dialogs.confirmations[1].startsWith("CreateDir "));
        QVERIFY(dialogs.confirmations[4].startsWith("Copy-File "));
        QCOMPARE(readFile(t.b + "/docs/report.txt"), QByteArray("report"));
        QCOMPARE(readFile(c + "/docs/report.txt"), QByteArray("report"));
        QCOMPARE(statuses(f), QStringList({"Finished", "Finished", ""}));
        QCOMPARE(dialogs.messages.size(), 1); // one box at the end, no other
        QVERIFY(dialogs.messages[0].startsWith("Job list FINISHED!\n2 jobs: 2 finished\nActions: 4 done, 0 failed"));
        QVERIFY(!w.form3->isVisible()); // never the review window
        QVERIFY(f->CheckBox1->isChecked());
        QVERIFY(f->BitBtn3->isEnabled());
        QVERIFY(!f->BitBtn5->isEnabled());
        QVERIFY(!f->isBusy());
    }

    void cancelInTheConfirmationStartsNothing() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        addCopyJob(f, t.a, t.b);
        f->StringGrid3->item(0, 0)->setText("Finished");
        dialogs.answers = {Answer::Cancel};
        f->BitBtn3Click();
        QCOMPARE(statuses(f), QStringList({"Finished", ""}));
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
    }

    // The executor clears the action stop flag when it starts: a stop while a job scanned once let
    // that job's whole action list run.
    void aStopWhileAJobScansRunsNoneOfItsActionsAndNoLaterJob() {
        FakeDialogs dialogs;
        TwoLocations t;
        const QString c = t.root.filePath("C"), d = t.root.filePath("D");
        QDir().mkpath(c);
        QDir().mkpath(d);
        writeFile(t.a + "/1.txt", "1");
        writeFile(t.a + "/2.txt", "2");
        addCopyJob(f, t.a, t.b);
        addCopyJob(f, t.a, c);
        addCopyJob(f, t.a, d);
        bool pressed = false;
        KeepAlive::setBeforePump([&] {
            f->activityLog().flush();
            if (!pressed && cell(f, 0, 0) == QStringLiteral("In Progress")) {
                pressed = true;
                f->BitBtn5Click();
            }
        });
        f->BitBtn3Click();
        QVERIFY(pressed);
        QCOMPARE(statuses(f), QStringList({"Stopped", "Waiting", "Waiting", ""}));
        QVERIFY(QDir(t.b).isEmpty());
        QVERIFY(QDir(c).isEmpty());
        QVERIFY(QDir(d).isEmpty());
        QVERIFY(logHas(f, "Job Processing Interupted"));
        QVERIFY(logHas(f, "Job 1 stopped before its actions ran"));
        QVERIFY(f->BitBtn3->isEnabled());
        QVERIFY(!f->BitBtn5->isEnabled());
    }

    void aJobThatDidNotDoEverythingSaysSoInItsStatus_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("nextStatus");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("an action failed") << int(Fault::ActionFails) << "Failed"
                                          << "Finished"
                                          << "Job 1 failed: 1 action(s) failed";
        QTest::newRow("a name the scan cannot carry")
            << int(Fault::NameNotCarried) << "Failed"
            << "Finished"
            << "Job 1 failed: the scan of location A could not see everything";
        QTest::newRow("No to All at a prompt") << int(Fault::NoToAll) << "Stopped"
                                               << "Waiting"
                                               << "Job 1 stopped during its actions";
    }
    // Jobs that failed or were stopped once showed "Finished" like a complete one.
    void aJobThatDidNotDoEverythingSaysSoInItsStatus() {
        QFETCH(int, fault);
        QFETCH(QString, status);
        QFETCH(QString, nextStatus);
        QFETCH(QString, logLine);
        FakeDialogs dialogs;
        TwoLocations t;
        const QString c = t.root.filePath("C"), d = t.root.filePath("D");
        QDir().mkpath(c);
        writeFile(t.a + "/x.txt", "x");
        writeFile(d + "/d.txt", "d");
        addCopyJob(f, t.a, t.b);
        addCopyJob(f, d, c);
        w.form2->CheckCopy->setChecked(fault != int(Fault::NameNotCarried));
        if (fault == int(Fault::NameNotCarried))
            writeFile(t.a + "/odd*name.txt", "odd");
        if (fault == int(Fault::NoToAll))
            dialogs.answers = {Answer::Ok, Answer::NoToAll};
        if (fault == int(Fault::ActionFails)) // the source goes while its copy's prompt is open
            dialogs.whileOpen = [&] {
                if (dialogs.confirmations.last().startsWith("Copy-File "))
                    QFile::remove(t.a + "/x.txt");
            };
        f->BitBtn3Click();
        QCOMPARE(statuses(f), QStringList({status, nextStatus, ""}));
        QVERIFY2(logHas(f, logLine), qPrintable(f->activityLog().lines().join('\n')));
        QCOMPARE(readFile(c + "/d.txt"),
                 nextStatus == "Finished" ? QByteArray("d") : QByteArray("<missing>"));
    }

    void aJobWithoutAModeRunsNeitherPlannerNorTheLeftoverActions() {
        FakeDialogs dialogs;
        TwoLocations t;
        QTemporaryDir dir;
        writeFile(t.b + "/precious.txt", "keep");
        // A leftover action list from an earlier analysis must not run for a job without a mode.
        t.setOn(f);
        planByHand(f, {deleteItem((t.b + "/precious.txt").toStdString())});
        dialogs.openName = dir.filePath("odd.jbl");
        writeText(dialogs.openName, (t.a + "/*A*7*B*" + t.b + "/*C*Yes\r\n").toUtf8());
        f->ToolButton5Click();
        f->BitBtn3Click();
        QCOMPARE(readFile(t.b + "/precious.txt"), QByteArray("keep"));
        QCOMPARE(statuses(f), QStringList({"Not Run", ""}));
        QVERIFY(logHas(f, "Job 1 not run: its Synch Mode names none of the synchronisation modes"));
        QCOMPARE(dialogs.endOfRunBoxes, 1); // one summary at the end
        QVERIFY(dialogs.warnings[0].contains("1 job: 1 not run\nJob 1 not run: "));
    }

    void aRefusedPlanIsLoggedAndTheNextJobStillRuns() {
        FakeDialogs dialogs;
        TwoLocations t;
        const QString c = t.root.filePath("C");
        QDir().mkpath(c);
        writeFile(t.b + "/only-copy.txt", "precious");
        writeFile(t.a + "/x.txt", "x");
        // A backup from a location that is gone would empty B: refused, and logged, not asked.
        f->Edit1->setText(t.root.filePath("unplugged") + "/");
        f->Edit2->setText(t.b + "/");
        f->setModeIndex(0);
        f->BitBtn1Click();
        addCopyJob(f, t.a, c);
        f->BitBtn3Click();
        QCOMPARE(readFile(t.b + "/only-copy.txt"), QByteArray("precious"));
        QCOMPARE(readFile(c + "/x.txt"), QByteArray("x"));
        QCOMPARE(statuses(f), QStringList({"Refused", "Finished", ""}));
        QCOMPARE(dialogs.endOfRunBoxes, 1);
        QVERIFY(dialogs.warnings[0].contains("2 jobs: 1 finished, 1 refused\nJob 1 refused: "));
        bool logged = false;
        for (const QString& line : f->activityLog().lines())
            logged = logged || line.startsWith("Job 1 refused: ");
        QVERIFY(logged);
    }

    // A job refused before anything was planned shows no "0 of 0" actions; the tooltip says why.
    void aJobRefusedBeforeItsPlanCountsNoActions() {
        FakeDialogs dialogs;
        TwoLocations t;
        f->Edit1->setText(t.root.filePath("unplugged") + "/");
        f->Edit2->setText(t.b + "/");
        f->setModeIndex(0);
        f->BitBtn1Click();
        f->BitBtn3Click();
        QCOMPARE(statuses(f), QStringList({"Refused", ""}));
        QVERIFY2(!f->lblActionCount->text().contains(" of "), qPrintable(f->lblActionCount->text()));
        QVERIFY(f->lblActionCount->text().endsWith('0'));
        QVERIFY2(f->lblActionCount->toolTip().startsWith("Refused: ") &&
                     f->lblActionCount->toolTip().contains("does not exist"),
                 qPrintable(f->lblActionCount->toolTip()));
    }

    // Another program (cron's paritas-cli) works on B: the window runs nothing there and says so.
    void aRunOnADestinationAnotherProgramWorksOnIsRefusedWithAMessage_data() {
        QTest::addColumn<bool>("jobList");
        QTest::newRow("Process Job List") << true;
        QTest::newRow("Analyse/Synchronize Now") << false;
    }
    void aRunOnADestinationAnotherProgramWorksOnIsRefusedWithAMessage() {
        QFETCH(bool, jobList);
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        const QString runtime = t.root.filePath("run");
        QDir().mkpath(runtime);
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        QDir().mkpath(runtime + "/paritas");
        const QString lockFile =
            QString::fromStdString(runLockFolder() + "/lock-" + runLockKey((t.b + "/").toStdString()));
        QProcess other; // holds the lock as another run would, with its process id in the file
        other.start("sh",
                    {"-c", "echo $$ >\"$0\"; exec flock -n \"$0\" sh -c 'echo locked; sleep 30'", lockFile});
        QVERIFY(other.waitForReadyRead(5000));
        const QString pid = QString::fromUtf8(readFile(lockFile)).trimmed();

        addCopyJob(f, t.a, t.b);
        w.form2->CheckBoxConfirm->setChecked(false);
        if (jobList)
            f->BitBtn3Click();
        else
            f->BitBtn6Click();
        other.kill();
        other.waitForFinished();
        qunsetenv("XDG_RUNTIME_DIR");

        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        const QString taken = "another run (process " + pid + ") is working on " + t.b + "/";
        const QString boxes = (dialogs.messages + dialogs.warnings).join('\n');
        QVERIFY2(boxes.contains(taken), qPrintable(boxes));
        bool logged = false;
        for (const QString& line : f->activityLog().lines())
            logged = logged || line.contains(taken);
        QVERIFY(logged);
        if (jobList)
            QCOMPARE(statuses(f), QStringList({"Refused", ""}));
        else
            QVERIFY2(!(dialogs.messages + dialogs.warnings).join('\n').contains("FINISHED"),
                     "a refused run does not end with the box of a finished one");
    }

    void aJobRunDoesNotStartWhileAnotherOperationRuns() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        addCopyJob(f, t.a, t.b);
        f->beginBusy();
        f->BitBtn3Click();
        f->endBusy();
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        QCOMPARE(statuses(f), QStringList({"Waiting", ""}));
    }
};

QTEST_MAIN(JobListWindowTest)
#include "job_list_window_test.moc"

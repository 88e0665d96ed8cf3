#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/app/keep_alive.h"
#include "gui/jobs/tform9.h"

#include "core/jobs/job_list.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

namespace {

// 2026-12-07 was a Monday; 12:00:05 in UTC, the tests' time zone.
constexpr std::time_t kMondayNoon = 1796644805;
constexpr std::time_t kDay = 86400;

QStringList actionLogFiles(const QString& folder) {
    return QDir(folder).entryList({"ActionLog*"}, QDir::Files);
}

} // namespace

class SchedulerTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;
    TForm2* s = nullptr;
    std::time_t moment = kMondayNoon - 2;
    QString previousFolder;
    QTemporaryDir workFolder; // the current folder, where the action log lands

private slots:
    void initTestCase() {
        previousFolder = QDir::currentPath();
        QDir::setCurrent(workFolder.path());
    }
    void cleanupTestCase() { QDir::setCurrent(previousFolder); }
    void init() {
        w = createWindows();
        f = w.form1;
        s = w.form2;
        moment = kMondayNoon - 2;
        s->clock = [this] { return moment; };
        for (const QString& name : actionLogFiles(workFolder.path()))
            QFile::remove(workFolder.filePath(name));
    }
    void cleanup() { destroyWindows(w); }

    void activatingAndDeactivatingSetTheControlsOfBothWindows() {
        s->BitBtn2Click();
        QVERIFY(s->Timer1->isActive());
        QVERIFY(!s->BitBtn2->isEnabled());
        QVERIFY(s->BitBtn1->isEnabled());
        for (QPushButton* b : {f->BitBtn6, f->BitBtn1, f->BitBtn2, f->BitBtn3, f->BitBtn5})
            QVERIFY(!b->isEnabled());
        QVERIFY(f->BitBtn4->isEnabled());
        QVERIFY(!s->Monday->isEnabled() && !s->Every->isEnabled() && !s->Edit1->isEnabled());
        QVERIFY(!s->SaveLog->isEnabled());
        s->Timer1Timer();
        QCOMPARE(s->Label2->text(), QStringLiteral("12:00:03"));

        s->BitBtn1Click();
        QVERIFY(!s->Timer1->isActive());
        QVERIFY(s->BitBtn2->isEnabled());
        QVERIFY(!s->BitBtn1->isEnabled());
        for (QPushButton* b : {f->BitBtn6, f->BitBtn1, f->BitBtn2, f->BitBtn3, f->BitBtn4})
            QVERIFY(b->isEnabled());
        QVERIFY(!f->BitBtn5->isEnabled());
        QVERIFY(s->Sunday->isEnabled() && s->SaveLog->isEnabled());
        QCOMPARE(s->Label2->text(), QString());
    }

    void theScheduleFiresOnceAtTheSecondAndSavesTheLog() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn1Click();
        s->Monday->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->SaveLog->setChecked(true);
        s->CheckCopy->setChecked(true); // nobody may be at the desk: a scheduled run never prompts
        s->BitBtn2Click();

        for (int i = 0; i < 2; ++i, ++moment) // 12:00:03, 12:00:04
            s->Timer1Timer();
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        QCOMPARE(s->Label2->text(), QStringLiteral("12:00:04"));

        s->Timer1Timer(); // 12:00:05
        QCOMPARE(readFile(t.b + "/x.txt"), QByteArray("x"));
        QVERIFY(dialogs.confirmations.isEmpty()); // no question in a scheduled run
        QVERIFY(dialogs.messages.isEmpty());
        const QStringList logs = actionLogFiles(workFolder.path());
        QCOMPARE(logs, QStringList({QString::fromStdString(actionLogFileName(kMondayNoon))}));
        QVERIFY(!logs[0].contains(':'));
        QVERIFY(logs[0].endsWith(".txt"));
        QVERIFY(readFile(workFolder.filePath(logs[0])).contains("Success"));
        QVERIFY(f->activityLog().lines().isEmpty());
        QCOMPARE(f->StringGrid3->item(0, 0)->text(), QStringLiteral("Finished"));

        // Back in the active state after the run.
        QVERIFY(s->Timer1->isActive());
        QVERIFY(!s->BitBtn2->isEnabled() && s->BitBtn1->isEnabled());
        for (QPushButton* b : {f->BitBtn6, f->BitBtn1, f->BitBtn2, f->BitBtn3})
            QVERIFY(!b->isEnabled());
        QVERIFY(f->BitBtn5->isEnabled());
        QVERIFY(!s->Monday->isEnabled() && !s->SaveLog->isEnabled());

        // The next second does not start a second run; a manual start would ask again.
        ++moment;
        s->Timer1Timer();
        QVERIFY(!s->scheduledStart);
        QCOMPARE(actionLogFiles(workFolder.path()).size(), 1);
        QVERIFY(f->activityLog().lines().isEmpty());
    }

    void withSaveLogUntickedTheActivityLogKeepsItsLines() {
        FakeDialogs dialogs;
        s->Every->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->BitBtn2Click();
        moment = kMondayNoon + 3 * kDay; // a Thursday
        s->Timer1Timer();
        QVERIFY(actionLogFiles(workFolder.path()).isEmpty());
        QVERIFY(s->Timer1->isActive()); // an empty job list: active again at once
        f->log(QStringLiteral("kept"));
        moment += kDay;
        s->Timer1Timer(); // fires again the next day
        QVERIFY(logHas(f, "kept"));
        QVERIFY(actionLogFiles(workFolder.path()).isEmpty());
    }

    void aLogThatCannotBeSavedStaysInTheWindowAndTheScheduleGoesOn() {
        FakeDialogs dialogs;
        const QString name = QString::fromStdString(actionLogFileName(kMondayNoon));
        QVERIFY(QDir(workFolder.path()).mkdir(name)); // a folder where the file should go
        s->Monday->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->SaveLog->setChecked(true);
        f->log(QStringLiteral("earlier line"));
        s->BitBtn2Click();
        moment = kMondayNoon;
        s->Timer1Timer();
        QVERIFY(logHas(f, "earlier line"));
        bool reported = false;
        for (const QString& line : f->activityLog().lines())
            reported = reported || line.startsWith("Cannot create file \"" + name);
        QVERIFY(reported);
        QVERIFY(s->Timer1->isActive());
        QVERIFY(dialogs.messages.isEmpty() && dialogs.errors.isEmpty()); // nobody may be there to click
        QDir(workFolder.filePath(name)).removeRecursively();
    }

    void anUntickedDayOrAnotherTimeNeverFires() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn1Click();
        s->Monday->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->BitBtn2Click();
        moment = kMondayNoon + kDay; // Tuesday, same time
        s->Timer1Timer();
        QCOMPARE(s->Label2->text(), QStringLiteral("12:00:05"));
        s->Edit1->setText("12:00"); // without seconds never matches
        moment = kMondayNoon - 5;
        s->Timer1Timer();
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        QCOMPARE(f->StringGrid3->item(0, 0)->text(), QStringLiteral("Waiting"));
    }

    void aStartDuringAnotherOperationWaitsUntilItEnds() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn1Click();
        s->Monday->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->BitBtn2Click();
        moment = kMondayNoon;
        f->beginBusy(); // e.g. a CRC compare serving messages
        s->Timer1Timer();
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        QVERIFY(logHas(f, "Scheduled job list processing waits until the running operation ends"));
        ++moment;
        s->Timer1Timer();
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        f->endBusy();
        ++moment;
        s->Timer1Timer();
        QCOMPARE(readFile(t.b + "/x.txt"), QByteArray("x"));
        QVERIFY(dialogs.confirmations.isEmpty());
    }

    // The favourite's name box once had a scheduled run start inside it, and recorded the job's
    // folders as the favourite's.
    void aStartUnderAnOpenQuestionWaitsUntilItIsAnswered() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn1Click();
        f->Edit1->setText("/favourite/");
        s->Monday->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->BitBtn2Click();
        moment = kMondayNoon;

        QDialog modal(f); // a modal window that is not one of the seam's questions
        modal.setModal(true);
        modal.show();
        s->Timer1Timer();
        QVERIFY(logHas(f, "Scheduled job list processing waits until the open dialog is closed"));
        modal.close();

        dialogs.inputs.push_back(QStringLiteral("Mine"));
        dialogs.whileOpen = [&] {
            ++moment;
            s->Timer1Timer();
        };
        f->SpeedButton1Click();
        QVERIFY(!QFile::exists(t.b + "/x.txt"));
        QCOMPARE(w.form9->StringGrid1->item(0, 2)->text(), QStringLiteral("/favourite/"));

        dialogs.whileOpen = nullptr;
        ++moment;
        s->Timer1Timer();
        QCOMPARE(readFile(t.b + "/x.txt"), QByteArray("x"));
    }

    void activatingTheScheduleDuringARunByHandLeavesThatRunAlone_data() {
        QTest::addColumn<bool>("jobList");
        QTest::addColumn<bool>("deactivate");
        QTest::newRow("Process Job List") << true << false;
        QTest::newRow("Analyse/Synchronize Now") << false << false;
        QTest::newRow("Process Job List, deactivated again during it") << true << true;
    }
    // Activating once disabled the running list's "Stop All Actions", and the end of a job list run by
    // hand saved and cleared its log as a scheduled run's.
    void activatingTheScheduleDuringARunByHandLeavesThatRunAlone() {
        QFETCH(bool, jobList);
        QFETCH(bool, deactivate);
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn1Click();
        s->CheckBoxConfirm->setChecked(false);
        s->SaveLog->setChecked(true);
        f->log(QStringLiteral("earlier line"));
        int presses = 0;
        bool runKeptItsButtons = true;
        KeepAlive::setBeforePump([&] {
            f->activityLog().flush();
            if (!f->BitBtn5->isEnabled() || presses == (deactivate ? 2 : 1))
                return;
            presses++ == 0 ? s->BitBtn2Click() : s->BitBtn1Click();
            runKeptItsButtons = runKeptItsButtons && f->BitBtn5->isEnabled() && !f->BitBtn1->isEnabled();
        });
        if (jobList)
            f->BitBtn3Click();
        else
            f->BitBtn6Click();
        KeepAlive::setBeforePump([this] { f->activityLog().flush(); });

        QCOMPARE(presses, deactivate ? 2 : 1);
        QVERIFY(runKeptItsButtons);
        QCOMPARE(readFile(t.b + "/x.txt"), QByteArray("x"));
        QVERIFY(actionLogFiles(workFolder.path()).isEmpty());
        QVERIFY(logHas(f, "earlier line"));
        // The state the schedule is in now; "Stop All Actions" is off, since nothing runs.
        QCOMPARE(s->Timer1->isActive(), !deactivate);
        for (QPushButton* b : {f->BitBtn6, f->BitBtn1, f->BitBtn2, f->BitBtn3})
            QVERIFY2(b->isEnabled() == deactivate, qPrintable(b->text()));
        QVERIFY(!f->BitBtn5->isEnabled());
        s->BitBtn1Click();
        for (QPushButton* b : {f->BitBtn6, f->BitBtn1, f->BitBtn2, f->BitBtn3, f->BitBtn4})
            QVERIFY2(b->isEnabled(), qPrintable(b->text()));
    }

    void everyTicksAndUnticksAllSevenDays() {
        s->Tuesday->setChecked(true);
        s->Every->setChecked(true);
        for (QCheckBox* day : s->dayBoxes())
            QVERIFY(day->isChecked());
        s->Every->setChecked(false);
        for (QCheckBox* day : s->dayBoxes())
            QVERIFY(!day->isChecked());
    }
};

QTEST_MAIN(SchedulerTest)
#include "scheduler_test.moc"

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
    QTemporaryDir workFolder; // the current folder; the settings folder, where the action log lands, is in it
    QString logFolder() const { return QString::fromStdString(s->settingsFolder()); }

    // The windows as at a start of the program, on Monday a few seconds before noon.
    void startWindows() {
        w = createWindows();
        f = w.form1;
        s = w.form2;
        moment = kMondayNoon - 2;
        s->clock = [this] { return moment; };
    }

private slots:
    void initTestCase() {
        previousFolder = QDir::currentPath();
        QDir::setCurrent(workFolder.path());
        qputenv("XDG_CONFIG_HOME", workFolder.path().toUtf8());
    }
    void cleanupTestCase() { QDir::setCurrent(previousFolder); }
    void init() {
        startWindows();
        for (const QString& name : actionLogFiles(logFolder()))
            QFile::remove(QDir(logFolder()).filePath(name));
        QFile::remove(QDir(logFolder()).filePath("schedule.state"));
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
        const QStringList logs = actionLogFiles(logFolder());
        QCOMPARE(logs, QStringList({QString::fromStdString(actionLogFileName(kMondayNoon))}));
        QVERIFY(!logs[0].contains(':'));
        QVERIFY(logs[0].endsWith(".txt"));
        const QByteArray saved = readFile(QDir(logFolder()).filePath(logs[0]));
        QVERIFY(saved.contains("Success"));
        // The window keeps what the night's run did for whoever comes to the desk next.
        QVERIFY(logHas(f, "Success Copy-File to " + t.b + "/x.txt"));
        QVERIFY(logHas(f, "Activity log saved to \"" + QDir(logFolder()).filePath(logs[0]) + "\""));
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
        QCOMPARE(actionLogFiles(logFolder()).size(), 1);

        // The next day's file holds that day's lines alone.
        f->log(QStringLiteral("a line of Tuesday"));
        moment = kMondayNoon + 7 * kDay;
        s->Timer1Timer();
        const QStringList next = actionLogFiles(logFolder());
        QCOMPARE(next.size(), 2);
        const QByteArray second = readFile(QDir(logFolder()).filePath(next.filter(QString::fromStdString(actionLogFileName(moment))).value(0)));
        QVERIFY(second.startsWith("a line of Tuesday"));
        QVERIFY(!second.contains("Activity log saved to"));
    }

    void withSaveLogUntickedTheActivityLogKeepsItsLines() {
        FakeDialogs dialogs;
        s->Every->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->BitBtn2Click();
        moment = kMondayNoon + 3 * kDay; // a Thursday
        s->Timer1Timer();
        QVERIFY(actionLogFiles(logFolder()).isEmpty());
        QVERIFY(s->Timer1->isActive()); // an empty job list: active again at once
        f->log(QStringLiteral("kept"));
        moment += kDay;
        s->Timer1Timer(); // fires again the next day
        QVERIFY(logHas(f, "kept"));
        QVERIFY(actionLogFiles(logFolder()).isEmpty());
    }

    void aLogThatCannotBeSavedStaysInTheWindowAndTheScheduleGoesOn() {
        FakeDialogs dialogs;
        const QString name = QString::fromStdString(actionLogFileName(kMondayNoon));
        QVERIFY(QDir(logFolder()).mkdir(name)); // a folder where the file should go
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
            reported = reported || line.startsWith("Cannot create file \"" + logFolder() + name);
        QVERIFY(reported);
        QVERIFY(s->Timer1->isActive());
        QVERIFY(dialogs.messages.isEmpty() && dialogs.errors.isEmpty()); // nobody may be there to click
        QDir(QDir(logFolder()).filePath(name)).removeRecursively();
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
        moment = kMondayNoon + kDay + 3600; // an hour later
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
        QVERIFY(actionLogFiles(logFolder()).isEmpty());
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

    // A time the clock never shows once let an activated schedule wait for ever.
    void activationCompletesATimeTheClockWouldShowOtherwiseOrRefusesIt_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("completed"); // empty: refused
        QTest::newRow("no seconds") << "12:00"
                                    << "12:00:00";
        QTest::newRow("12-hour clock") << "2:30 pm"
                                       << "14:30:00";
        QTest::newRow("as the clock shows it") << "07:15:30"
                                               << "07:15:30";
        QTest::newRow("no time") << "noon" << QString();
        QTest::newRow("no such hour") << "25:00:00" << QString();
    }
    void activationCompletesATimeTheClockWouldShowOtherwiseOrRefusesIt() {
        QFETCH(QString, field);
        QFETCH(QString, completed);
        FakeDialogs dialogs;
        s->Monday->setChecked(true);
        s->Edit1->setText(field);
        s->BitBtn2Click();
        QCOMPARE(s->Timer1->isActive(), !completed.isEmpty());
        QCOMPARE(s->Edit1->text(), completed.isEmpty() ? field : completed);
        QCOMPARE(dialogs.messages.size(), completed == field ? 0 : 1);
        if (completed.isEmpty())
            QVERIFY(dialogs.messages[0].contains("no time of day"));
        else if (completed != field)
            QVERIFY(dialogs.messages[0].contains("completed to " + completed));
    }

    // A second that no tick fell on (a sleeping machine) lost that day's run without a word.
    void aMomentTheClockSleptThroughStartsTheRunOnceLateAndTheDaysBeforeAreLogged() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn1Click();
        s->Every->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->BitBtn2Click();
        s->Timer1Timer();                       // Monday 12:00:03
        moment = kMondayNoon + kDay + 3 * 3600; // Tuesday 15:00:05: asleep since Monday
        s->Timer1Timer();
        QCOMPARE(readFile(t.b + "/x.txt"), QByteArray("x"));
        QVERIFY(logHas(f,
                       "Scheduled job list processing of 12/07/26 12:00:05 was missed: the schedule's clock "
                       "did not tick on that day (the machine was asleep)"));
        QVERIFY2(
            logHas(f, "Scheduled job list processing starts late (due at 12/08/26 12:00:05): the schedule's "
                      "clock did not tick at that moment (the machine was asleep or the window was busy)"),
            qPrintable(f->activityLog().lines().join('\n')));
        QFile::remove(t.b + "/x.txt");
        ++moment;
        s->Timer1Timer();
        QVERIFY2(!QFile::exists(t.b + "/x.txt"), "one late start, not one per tick");
    }

    void daysMissedWhileTheProgramWasClosedAreLoggedAtTheNextActivation() {
        FakeDialogs dialogs;
        s->Every->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->BitBtn2Click(); // Monday 12:00:03, and the program ends with the schedule active
        destroyWindows(w);
        startWindows();
        s->Every->setChecked(true);
        s->Edit1->setText("12:00:05");
        moment = kMondayNoon + 2 * kDay + 3600; // Wednesday 13:00:05
        s->BitBtn2Click();
        QStringList missed;
        for (const QString& line : f->activityLog().lines())
            if (line.endsWith("was missed: the schedule was not running then (the program was closed or the "
                              "machine was off)"))
                missed << line.mid(33, 17);
        QCOMPARE(missed, QStringList({"12/07/26 12:00:05", "12/08/26 12:00:05", "12/09/26 12:00:05"}));
        // A schedule deactivated on purpose missed nothing.
        s->BitBtn1Click();
        destroyWindows(w);
        startWindows();
        moment = kMondayNoon + 5 * kDay;
        s->Every->setChecked(true);
        s->BitBtn2Click();
        QVERIFY(f->activityLog().lines().filter("was missed").isEmpty());
    }

    // Nobody watches a scheduled run: a backup from a source that came up empty would empty B. The
    // refusal once showed as a bare "Refused", "Save log file" emptied the log that said why, and the
    // count label's "Actions: 12" suggested the deletions were done.
    void aScheduledRunThatWouldDeleteMostOfBIsRefusedKeepsItsLogAndSaysWhy() {
        FakeDialogs dialogs;
        TwoLocations t;
        for (int i = 0; i < 12; ++i)
            writeFile(t.b + QStringLiteral("/f%1.txt").arg(i), "backed up");
        t.setOn(f);
        f->setModeIndex(0);
        f->BitBtn1Click();
        s->Monday->setChecked(true);
        s->Edit1->setText("12:00:05");
        s->SaveLog->setChecked(true);
        s->BitBtn2Click();
        moment = kMondayNoon;
        s->Timer1Timer();
        QCOMPARE(f->StringGrid3->item(0, 0)->text(), QStringLiteral("Refused"));
        QCOMPARE(QDir(t.b).entryList(QDir::Files).size(), 12);
        const QString why = "Job 1 refused: the plan deletes 12 of 12 files in " + t.b + "/ (more than 50%)";
        QVERIFY2(logHas(f, why), qPrintable(f->activityLog().lines().join('\n')));
        QVERIFY(dialogs.messages.isEmpty() && dialogs.warnings.isEmpty());
        QCOMPARE(f->StringGrid3->item(0, 0)->toolTip(), why.mid(6));
        QCOMPARE(f->Label9->text(), "Job list FINISHED: 1 job: 1 refused; " + why);
        QCOMPARE(f->lblActionCount->text(), QStringLiteral("Actions: 0 of 12"));
        QVERIFY(f->lblActionCount->toolTip().contains("the plan deletes 12 of 12 files"));
        const QStringList saved = actionLogFiles(logFolder());
        QCOMPARE(saved.size(), 1);
        QVERIFY(readFile(QDir(logFolder()).filePath(saved[0])).contains(why.toUtf8()));

        s->BitBtn1Click();
        f->BitBtn3Click(); // by hand, after the confirmation
        QCOMPARE(f->StringGrid3->item(0, 0)->text(), QStringLiteral("Finished"));
        QVERIFY(QDir(t.b).entryList(QDir::Files).isEmpty());
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

// The weekly schedule of the job list, held by the configuration window: a one-second timer that
// presses "Process Job List" on the ticked weekdays at the time of the time field.
//
//   inactive ─Activate─> active ─matching tick─> running (timer off) ─run ends─> active
//   active ─Deactivate─> inactive
//
// The schedule never misses silently. Activation completes a time the clock could never show
// ("12:00" where the clock shows seconds) or refuses one that is no time of day, with a message. A
// scheduled moment that no tick fell on (the machine slept, the window was busy) starts the run once,
// late, on the same day, and the log says so and why (core/jobs/schedule.h). Moments of earlier days
// are logged as missed: after a sleep at the next tick, and after the program was closed with the
// schedule active at the next activation (the schedule keeps a record, schedule.state, beside
// config.ini).
//
// A matching tick never starts the job list inside another operation (a synchronisation, a CRC
// compare, a favourite) that is letting the window serve messages, nor under an open question (a
// message box, the favourite's name, a file dialog): the start then waits, tick by tick, until that
// operation has ended and the question is answered.
//
// While the schedule is active the main window's run and edit buttons stay disabled, also after a run
// started by hand before the activation (its end asks the schedule, TForm1::setRunButtonsEnabled).
// Such a run keeps its "Stop All Actions" and its log; only a run the schedule started saves the log.

#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/settings/tform2.h"

#include "core/app/text_file.h"
#include "core/jobs/job_list.h"
#include "core/jobs/schedule.h"
#include "core/platform/datetime.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

namespace paritas::gui {
namespace {

TForm1* mainWindowOf(QWidget* window) {
    return qobject_cast<TForm1*>(window->parentWidget());
}

// "Analyse/Synchronize Now", "Add to Synchronize Job List", "Delete Job", "Process Job List".
std::array<QPushButton*, 4> runAndEditButtons(TForm1* main) {
    return {main->BitBtn6, main->BitBtn1, main->BitBtn2, main->BitBtn3};
}

// An action list or a job list started by hand is running: it holds the run buttons and "Stop All
// Actions" from its start to its end.
bool runUnderWay(const TForm1* main) {
    return main->isBusy() && main->BitBtn5->isEnabled();
}

// A question of the seam, or any other modal window, waits for the user.
bool questionOpen() {
    return DialogSeam::questionOpen() || QApplication::activeModalWidget() != nullptr;
}

constexpr const char* kLastSeenKey = "last-seen";
constexpr const char* kActiveKey = "active";
// The record is refreshed this often while the schedule is active.
constexpr std::time_t kRecordEvery = 60;
// A tick this long after the one before it means the clock did not tick in between.
constexpr std::time_t kTickGap = 2;

std::array<bool, 7> tickedDays(const TForm2& form) {
    std::array<bool, 7> days{};
    const auto boxes = form.dayBoxes();
    for (std::size_t d = 0; d < days.size(); ++d)
        days[d] = boxes[d]->isChecked();
    return days;
}

} // namespace

void TForm2::setSchedulerControlsEnabled(bool enabled) {
    for (QCheckBox* day : dayBoxes())
        day->setEnabled(enabled);
    Every->setEnabled(enabled);
    Edit1->setEnabled(enabled);
    SaveLog->setEnabled(enabled);
}

bool TForm2::scheduleCanBeActivated() {
    const std::time_t moment = now();
    const std::string field = Edit1->text().toStdString();
    const auto completed = completedTimeField(field, moment);
    if (!completed) {
        DialogSeam::current().message(
            this,
            QStringLiteral("The schedule is not activated: \"%1\" is no time of day. Write the time as the "
                           "clock shows it, for example %2.")
                .arg(Edit1->text(), QString::fromStdString(timeText(moment))));
        return false;
    }
    if (!parseDeletionBound(EditMaxDelete->text().trimmed().toStdString())) {
        DialogSeam::current().message(
            this, QStringLiteral("The schedule is not activated: \"%1\" is no deletion bound. Write a share "
                                 "such as 50%, a number of files such as 200, or none.")
                      .arg(EditMaxDelete->text()));
        return false;
    }
    if (*completed != field) {
        Edit1->setText(QString::fromStdString(*completed));
        DialogSeam::current().message(
            this, QStringLiteral("The schedule time was completed to %1, as the clock shows it: the schedule "
                                 "compares it with the clock's time.")
                      .arg(Edit1->text()));
    }
    return true;
}

void TForm2::logScheduleLine(const std::string& line) {
    if (TForm1* main = mainWindowOf(this))
        main->log(line);
}

void TForm2::recordScheduleSeen(std::time_t moment, bool active) {
    lastRecorded_ = moment;
    if (settingsFolder_.empty() || !makeSettingsFolder(settingsFolder_).empty())
        return;
    KeyValueFile record;
    record.lines.push_back("# The weekly schedule's record: when it last looked at the clock");
    record.set(kLastSeenKey, std::to_string(static_cast<long long>(moment)));
    record.set(kActiveKey, active ? "yes" : "no");
    // A record that cannot be written costs only the report of missed days; the schedule goes on.
    writeTextLines(settingsFolder_ + kScheduleStateFileName, record.lines);
}

// Scheduled moments between the last record of an active schedule and now were missed: the program
// was closed or the machine was off.
void TForm2::logMissedRuns(std::time_t moment) {
    const auto lines = readTextLines(settingsFolder_ + kScheduleStateFileName);
    if (!lines)
        return;
    const KeyValueFile record = readKeyValues(*lines);
    if (record.get(kActiveKey) != "yes")
        return;
    const std::time_t lastSeen = std::atoll(record.get(kLastSeenKey, "0").c_str());
    if (lastSeen <= 0)
        return;
    for (std::time_t missed :
         scheduledMomentsBetween(tickedDays(*this), Edit1->text().toStdString(), lastSeen, moment))
        logScheduleLine("Scheduled job list processing of " + dateTimeText(missed) +
                        " was missed: the schedule was not running then (the program was closed or the "
                        "machine was off)");
}

// "Activate Schedule".
void TForm2::BitBtn2Click() {
    if (Timer1->isActive() || scheduleActive_)
        return;
    if (!scheduleCanBeActivated())
        return;
    const std::time_t moment = now();
    logMissedRuns(moment);
    recordScheduleSeen(moment, true);
    lastTick_ = moment;
    Timer1->start();
    scheduleActive_ = true;
    startDeferred_ = false;
    BitBtn2->setEnabled(false);
    BitBtn1->setEnabled(true);
    if (TForm1* main = mainWindowOf(this)) {
        for (QPushButton* b : runAndEditButtons(main))
            b->setEnabled(false);
        if (!runUnderWay(main))
            main->BitBtn5->setEnabled(false);
    }
    setSchedulerControlsEnabled(false);
}

// "Deactivate Schedule". During a scheduled run the timer is off and this does nothing; the run
// returns to the active state, from which the schedule can then be deactivated. A run started by
// hand keeps its buttons as they are; its end enables them.
void TForm2::BitBtn1Click() {
    if (!Timer1->isActive())
        return;
    Timer1->stop();
    scheduleActive_ = false;
    startDeferred_ = false;
    recordScheduleSeen(now(), false);
    BitBtn2->setEnabled(true);
    BitBtn1->setEnabled(false);
    if (TForm1* main = mainWindowOf(this)) {
        if (!runUnderWay(main)) {
            for (QPushButton* b : {main->BitBtn6, main->BitBtn1, main->BitBtn2, main->BitBtn4, main->BitBtn3})
                b->setEnabled(true);
            main->BitBtn5->setEnabled(false);
        }
    }
    setSchedulerControlsEnabled(true);
    Label2->clear();
}

void TForm2::resumeSchedule() {
    Timer1->start();
    BitBtn2->setEnabled(false);
    BitBtn1->setEnabled(true);
    if (TForm1* main = mainWindowOf(this)) {
        for (QPushButton* b : runAndEditButtons(main))
            b->setEnabled(false);
        main->BitBtn5->setEnabled(true);
    }
    setSchedulerControlsEnabled(false);
}

void TForm2::Timer1Timer() {
    scheduledStart = false;
    const std::time_t moment = now();
    Label2->setText(QString::fromStdString(timeText(moment)));
    const std::time_t previous = lastTick_ > 0 && lastTick_ < moment ? lastTick_ : moment - 1;
    lastTick_ = std::max(lastTick_, moment);
    if (scheduleActive_ && moment - lastRecorded_ >= kRecordEvery)
        recordScheduleSeen(moment, true);
    if (!startDeferred_ && !takeDueMoment(previous, moment))
        return;
    TForm1* main = mainWindowOf(this);
    if (main == nullptr)
        return;
    if (main->isBusy() || questionOpen()) {
        if (!startDeferred_) {
            main->log(
                main->isBusy()
                    ? QStringLiteral("Scheduled job list processing waits until the running operation ends")
                    : QStringLiteral("Scheduled job list processing waits until the open dialog is closed"));
            if (deferredBecause_.empty())
                deferredBecause_ = main->isBusy() ? "the window was busy with another operation"
                                                  : "a dialog of the window was open";
        }
        startDeferred_ = true;
        return;
    }
    if (moment > dueMoment_)
        main->log("Scheduled job list processing starts late (due at " + dateTimeText(dueMoment_) +
                  "): " + deferredBecause_);
    startDeferred_ = false;
    deferredBecause_.clear();
    scheduledStart = true;
    Timer1->stop();
    main->BitBtn3Click();
    // The run is over; a later press of "Process Job List" by hand must ask again.
    scheduledStart = false;
}

// True when a scheduled moment lies after the previous tick and not after this one (dueMoment_ and
// the reason of a late start are set then). Moments of earlier days that no tick saw are logged as
// missed.
bool TForm2::takeDueMoment(std::time_t previous, std::time_t moment) {
    const std::array<bool, 7> days = tickedDays(*this);
    const std::string field = Edit1->text().toStdString();
    const auto due = dueMoment(days, field, previous, moment);
    if (moment - previous > kTickGap)
        for (std::time_t missed : scheduledMomentsBetween(days, field, previous, moment))
            if (!due || missed != *due)
                logScheduleLine("Scheduled job list processing of " + dateTimeText(missed) +
                                " was missed: the schedule's clock did not tick on that day (the machine was "
                                "asleep)");
    if (!due)
        return false;
    dueMoment_ = *due;
    deferredBecause_ = moment > *due
                           ? "the schedule's clock did not tick at that moment (the machine was asleep "
                             "or the window was busy)"
                           : "";
    return true;
}

} // namespace paritas::gui

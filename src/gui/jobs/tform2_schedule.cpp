// The weekly schedule of the job list, held by the configuration window: a one-second timer that
// presses "Process Job List" on the ticked weekdays when the time field equals the clock's time
// text exactly.
//
//   inactive ─Activate─> active ─matching tick─> running (timer off) ─run ends─> active
//   active ─Deactivate─> inactive
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

#include "core/jobs/job_list.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

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

} // namespace

void TForm2::setSchedulerControlsEnabled(bool enabled) {
    for (QCheckBox* day : dayBoxes())
        day->setEnabled(enabled);
    Every->setEnabled(enabled);
    Edit1->setEnabled(enabled);
    SaveLog->setEnabled(enabled);
}

// "Activate Schedule".
void TForm2::BitBtn2Click() {
    if (Timer1->isActive() || scheduleActive_)
        return;
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
    std::array<bool, 7> days{};
    const auto boxes = dayBoxes();
    for (std::size_t d = 0; d < days.size(); ++d)
        days[d] = boxes[d]->isChecked();
    if (!startDeferred_ && !scheduleFires(days, Edit1->text().toStdString(), moment))
        return;
    TForm1* main = mainWindowOf(this);
    if (main == nullptr)
        return;
    if (main->isBusy() || questionOpen()) {
        if (!startDeferred_)
            main->log(
                main->isBusy()
                    ? QStringLiteral("Scheduled job list processing waits until the running operation ends")
                    : QStringLiteral("Scheduled job list processing waits until the open dialog is closed"));
        startDeferred_ = true;
        return;
    }
    startDeferred_ = false;
    scheduledStart = true;
    Timer1->stop();
    main->BitBtn3Click();
    // The run is over; a later press of "Process Job List" by hand must ask again.
    scheduledStart = false;
}

} // namespace paritas::gui

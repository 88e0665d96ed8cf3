// The main window's side of running an action list: the executor's host (prompts, the status label,
// the stop window, the copy progress window), the review window's filling, and the command
// availability while a run is under way.

#include "gui/app/activity_log.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/keep_alive.h"
#include "gui/app/tform1.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/execution/tprogressform.h"
#include "gui/settings/tform2.h"

#include "core/execution/copy_progress.h"
#include "core/execution/executor.h"

#include <QAction>
#include <QPushButton>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace paritas::gui {
namespace {

// A command over a large tree frees hundreds of thousands of small blocks (the replaced inventories,
// the planner's indexes); the C library keeps them for reuse unless asked. Handing them back after
// each command keeps a long session's size where its live data are.
void returnFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

class WindowExecutorHost final : public ExecutorHost {
public:
    explicit WindowExecutorHost(TForm1& form) : f_(form) {}

    void log(std::string_view line) override { f_.log(line); }
    void setProgressMaximum(int64_t maximum) override {
        lineBar_ = true;
        f_.setProgressMaximum(maximum);
    }
    void setProgressPosition(int64_t position) override { f_.setProgressPosition(position); }
    void keepAlive() override { KeepAlive::pump(); }
    // A job list runs unattended ("All actions will be done without prompting"): no per-action prompt.
    Settings settings() override {
        Settings s = f_.currentSettings();
        if (f_.runsWithoutPrompts())
            s.CheckDelete = s.CheckCreate = s.CheckCopy = false;
        return s;
    }

    PromptAnswer confirm(std::string_view text) override {
        f_.flushProgress();
        KeepAlive::pumpNow();
        switch (DialogSeam::current().confirm(&f_, QString::fromStdString(std::string(text)), true)) {
        case Answer::Ok:
            return PromptAnswer::Ok;
        case Answer::NoToAll:
            return PromptAnswer::NoToAll;
        case Answer::Cancel:
            break;
        }
        return PromptAnswer::Cancel;
    }
    void showMessage(std::string_view text) override {
        DialogSeam::current().message(&f_, QString::fromStdString(std::string(text)));
    }
    void setStatus(std::string_view text, bool red) override {
        f_.setProgressStatus(QString::fromStdString(std::string(text)));
        if (red)
            f_.setProgressStatusColour(Qt::red);
    }
    void runStarted() override {
        if (TForm11* stop = f_.windows().form11)
            stop->showBesideMainWindow();
        f_.lockChooser(Side::A);
        f_.lockChooser(Side::B);
        f_.setProgressStatusColour(f_.palette().color(QPalette::WindowText));
    }
    void runFinished() override {
        if (TForm11* stop = f_.windows().form11)
            stop->hide();
        f_.unlockChooser(Side::A);
        f_.unlockChooser(Side::B);
    }
    void beforeLine() override {
        if (TForm11* stop = f_.windows().form11)
            stop->takeFocus(TForm11::Focus::WhenLost);
    }
    void pressStopButton(StopFlags& /*flags*/) override {
        if (TForm11* stop = f_.windows().form11)
            stop->BitBtn1Click();
        else
            ExecutorHost::pressStopButton(f_.stopFlags);
    }
    // A run of one line (the bar's maximum is then left alone) shows the bytes of its copy on the main
    // bar; longer runs show the lines done.
    CopyResult copyWithProgress(CopyTask& copy, std::string_view copyName, StopFlags& flags) override {
        TProgressForm::BytesReport bytes;
        if (!lineBar_)
            bytes = [this](uint64_t done, uint64_t total) {
                f_.setProgressMaximum(100);
                f_.setProgressPosition(copyPercentage(done, total));
            };
        return TProgressForm::CopyWithProgress(f_, flags, f_.activityLog(), copy,
                                               QString::fromStdString(std::string(copyName)), bytes);
    }

    // Small copies run on the engine's pool, as on the command line; a copy large enough to show the
    // copy window runs alone, with it.
    int copyWorkers() override { return kDefaultCopyWorkers; }
    uint64_t largestPooledCopy() override { return kLargestPooledCopy; }

private:
    static constexpr uint64_t kLargestPooledCopy = 4 << 20;
    TForm1& f_;
    bool lineBar_ = false; // the executor set the bar's range to the lines of the run
};

} // namespace

ExecutionCounts TForm1::PerformActions() {
    return PerformActions(session_);
}

// Runs a run's plan and logs one line that sums the run up. One run per destination: a run whose
// lock another program's run holds (the review had let it go) runs nothing and says so.
ExecutionCounts TForm1::PerformActions(RunSession& run) {
    WindowExecutorHost host(*this);
    const ExecutionCounts counts = run.execute(host, stopFlags);
    run.releaseLock();
    runRefused_ = run.refusal().has_value();
    if (runRefused_) {
        const std::string refusal = "Refused: " + run.refusal()->reason + "; no action was run";
        log(refusal);
        if (!runsWithoutPrompts())
            DialogSeam::current().message(this, QString::fromStdString(refusal));
        return counts;
    }
    log(QStringLiteral("Actions summary: ") + runCountsText(counts));
    flushProgress();
    KeepAlive::pumpNow();
    return counts;
}

QString runCountsText(const ExecutionCounts& counts) {
    const int skipped = counts.dependencySkipped + counts.promptSkipped + counts.notReached;
    return QStringLiteral("%1 done, %2 failed, %3 cancelled, %4 skipped")
        .arg(counts.good)
        .arg(counts.failed())
        .arg(counts.cancelled)
        .arg(skipped);
}

// "Synchronisation FINISHED!" stays the box's first line; the second gives the counts, and the box
// warns when anything failed, was cancelled or was not run.
void TForm1::reportRunEnd(const ExecutionCounts& counts) {
    if (runRefused_)
        return; // the refusal was the run's one message
    const QString text = QStringLiteral("Synchronisation FINISHED!\n") + runCountsText(counts);
    const bool allDone = counts.bad == 0 && counts.notReached == 0 && counts.promptSkipped == 0;
    if (allDone)
        DialogSeam::current().message(this, text);
    else
        DialogSeam::current().warning(this, text);
}

void TForm1::PrepareActionForm() {
    if (windows_.form3)
        windows_.form3->fill();
}

// At the end of a run the buttons come back, except those an active schedule holds: the run and edit
// buttons stay disabled until the schedule is deactivated.
void TForm1::setRunButtonsEnabled(bool enabled) {
    const bool scheduleHolds = enabled && windows_.form2 && windows_.form2->scheduleActive();
    for (QPushButton* b : {BitBtn6, BitBtn1, BitBtn2, BitBtn3})
        b->setEnabled(enabled && !scheduleHolds);
    BitBtn4->setEnabled(enabled);
    BitBtn5->setEnabled(!enabled);
}

// While one synchronisation, job list or CRC compare runs and lets the window serve messages, the
// commands that would start another one are unavailable.
void TForm1::beginBusy() {
    if (busy_++ > 0)
        return;
    lockChooser(Side::A);
    lockChooser(Side::B);
    for (QAction* a : {DeleteduplicateswithinA1, CRCMatchingAB1})
        a->setEnabled(false);
    if (windows_.form3)
        windows_.form3->BitBtn3->setEnabled(false);
    if (windows_.crcMatch)
        windows_.crcMatch->BitBtn3->setEnabled(false);
}

void TForm1::endBusy() {
    if (busy_ == 0 || --busy_ > 0)
        return;
    unlockChooser(Side::A);
    unlockChooser(Side::B);
    returnFreedMemory();
    for (QAction* a : {DeleteduplicateswithinA1, CRCMatchingAB1})
        a->setEnabled(true);
    if (windows_.form3)
        windows_.form3->BitBtn3->setEnabled(true);
    if (windows_.crcMatch)
        windows_.crcMatch->BitBtn3->setEnabled(true);
}

// "Stop All Actions": the run stops after its current action, the job list before its next job.
void TForm1::BitBtn5Click() {
    interruptJobProcessing(stopFlags, *log_);
    DialogSeam::current().message(this, QString::fromLatin1(kStopAllActionsMessage));
}

} // namespace paritas::gui

// The main window's side of running an action list: the executor's host (prompts, the status label,
// the bar and its bytes, the stop window, the copy progress window), the box at the end of a run, the
// review window's filling, and the command availability while a run is under way.

#include "gui/app/activity_log.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/keep_alive.h"
#include "gui/app/log_view.h"
#include "gui/app/tform1.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/execution/run_ending.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/execution/tprogressform.h"
#include "gui/settings/tform2.h"

#include "core/execution/copy_progress.h"
#include "core/execution/executor.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

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

// The executor's host in the main window. The bar follows the bytes of the run's copies when it has
// any (the whole run, every copy, small or large), else its lines; the text right of the progress
// label gives the bytes, the speed and the time left.
class WindowExecutorHost final : public ExecutorHost {
public:
    explicit WindowExecutorHost(TForm1& form) : f_(form) {}

    void log(std::string_view line) override { f_.log(line); }
    void setProgressMaximum(int64_t maximum) override {
        lineMaximum_ = maximum;
        if (bytesPlanned_ == 0)
            f_.setProgressMaximum(maximum);
    }
    void setProgressPosition(int64_t position) override {
        linePosition_ = position;
        if (bytesPlanned_ == 0)
            f_.setProgressPosition(position);
        else
            showBytes(false); // the last line done lets the bar reach its end
    }
    void setBytesProgress(uint64_t done, uint64_t planned) override {
        bytesDone_ = done;
        bytesPlanned_ = planned;
        if (planned == 0)
            return;
        if (!clock_.isValid()) {
            clock_.start();
            f_.setProgressMaximum(kBarSteps);
        }
        showBytes(false);
    }
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
        f_.setProgressDetail({});
    }
    void runFinished() override {
        // The stop window has had the keyboard; when it goes, the main window takes it back, unless
        // the user works in another program meanwhile.
        const bool keyboardIsOurs = QApplication::activeWindow() != nullptr;
        if (TForm11* stop = f_.windows().form11)
            stop->hide();
        f_.unlockChooser(Side::A);
        f_.unlockChooser(Side::B);
        keepFinalProgress();
        if (keyboardIsOurs)
            f_.takeBackKeyboard();
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
    CopyResult copyWithProgress(CopyTask& copy, std::string_view copyName, StopFlags& flags) override {
        return TProgressForm::CopyWithProgress(f_, flags, f_.activityLog(), copy,
                                               QString::fromStdString(std::string(copyName)));
    }

    // Small copies run on the engine's pool, as on the command line; a copy large enough to show the
    // copy window runs alone, with it.
    int copyWorkers() override { return kDefaultCopyWorkers; }
    uint64_t largestPooledCopy() override { return kLargestPooledCopy; }

private:
    static constexpr uint64_t kLargestPooledCopy = 4 << 20;
    static constexpr int64_t kBarSteps = 10000;
    static constexpr int64_t kDetailEveryMs = 250;

    // Every line is done: only then may the bar stand at its end.
    bool allLinesDone() const { return linePosition_ >= std::max<int64_t>(lineMaximum_, 0); }

    int64_t barSteps() const {
        const auto steps = int64_t(double(bytesDone_) / double(bytesPlanned_) * double(kBarSteps));
        return std::clamp<int64_t>(steps, 0, allLinesDone() ? kBarSteps : kBarSteps - 1);
    }

    void showBytes(bool now) {
        f_.setProgressPosition(barSteps());
        if (!now && detailClock_.isValid() && detailClock_.elapsed() < kDetailEveryMs)
            return;
        detailClock_.start();
        f_.setProgressDetail(runBytesText(bytesDone_, bytesPlanned_, clock_.elapsed()));
    }

    // What the bar and its text show at the end, kept for after the scans that follow the run.
    void keepFinalProgress() {
        if (bytesPlanned_ == 0 && lineMaximum_ >= 0) {
            f_.keepRunProgress(lineMaximum_, std::max<int64_t>(linePosition_, 0), {});
            return;
        }
        if (bytesPlanned_ == 0) { // one line or none: done, unless a stop kept the line from running
            f_.keepRunProgress(1, f_.stopFlags.action ? 0 : 1, {});
            return;
        }
        const QString detail = runBytesDoneText(bytesDone_, bytesPlanned_, clock_.elapsed());
        f_.setProgressPosition(barSteps());
        f_.setProgressDetail(detail);
        f_.keepRunProgress(kBarSteps, barSteps(), detail);
    }

    TForm1& f_;
    int64_t lineMaximum_ = -1; // -1: a run of one line leaves the bar's maximum alone
    int64_t linePosition_ = -1;
    uint64_t bytesDone_ = 0;
    uint64_t bytesPlanned_ = 0;
    QElapsedTimer clock_;       // since the run's first bytes report
    QElapsedTimer detailClock_; // since the detail text was last written
};

} // namespace

ExecutionCounts TForm1::PerformActions() {
    return PerformActions(session_);
}

// Runs a run's plan and logs one line that sums the run up. One run per destination: a run whose
// lock another program's run holds (the review had let it go) runs nothing and says so.
ExecutionCounts TForm1::PerformActions(RunSession& run) {
    if (!jobListRunning_)
        runLogStart_ = log_->store().size();
    WindowExecutorHost host(*this);
    const ExecutionCounts counts = run.execute(host, stopFlags);
    run.releaseLock();
    runRefused_ = run.refusal().has_value();
    if (runRefused_) {
        const std::string refusal = "Refused: " + run.refusal()->reason + "; no action was run";
        log(refusal);
        // A job list says it once, in the box that ends it.
        if (!jobListRunning_)
            DialogSeam::current().message(this, QString::fromStdString(refusal));
        return counts;
    }
    log(QStringLiteral("Actions summary: ") + runCountsText(counts));
    flushProgress();
    KeepAlive::pumpNow();
    return counts;
}

void TForm1::reportRunEnd(const ExecutionCounts& counts) {
    showRunProgress();
    if (runRefused_) {
        takeBackKeyboard();
        return; // the refusal was the run's one message
    }
    const RunRequest& request = session_.request();
    const bool nothingToDo = !holdsAnAction(session_.actions()) && counts.good + counts.bad == 0;
    const QString text = runEndingText(counts, request.settings, request.kind, nothingToDo);
    const bool showLog = DialogSeam::current().endOfRun(this, text, runEndingIsWarning(counts));
    takeBackKeyboard();
    if (showLog)
        showRunLog();
}

void TForm1::showRunLog() {
    if (!Normal1->isChecked())
        Normal1Click();
    log_->flush();
    const std::size_t lines = log_->store().size();
    if (lines == 0)
        return;
    Memo3->selectLines(std::min(runLogStart_, lines - 1), lines - 1);
    Memo3->setFocus(Qt::OtherFocusReason);
}

void TForm1::takeBackKeyboard() {
    if (!isVisible())
        return;
    activateWindow();
    QWidget* target = focusBeforeBusy_;
    if (!target || !target->isEnabled() || !target->isVisible() || target->window() != this)
        target = focusWidget();
    if (!target || !target->isEnabled() || !target->isVisible())
        target = ShellComboBox1;
    target->setFocus(Qt::ActiveWindowFocusReason);
}

void TForm1::keepRunProgress(int64_t maximum, int64_t position, const QString& detail) {
    runProgress_ = RunProgress{maximum, position, detail, true};
}

void TForm1::showRunProgress() {
    if (!runProgress_.kept)
        return;
    setProgressMaximum(runProgress_.maximum);
    setProgressPosition(runProgress_.position);
    setProgressDetail(runProgress_.detail);
    flushProgress();
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
    focusBeforeBusy_ = focusWidget();
    runProgress_.kept = false;
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

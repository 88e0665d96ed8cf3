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

#include "core/app/run_lock.h"
#include "core/execution/executor.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>

namespace paritas::gui {
namespace {

class WindowExecutorHost final : public ExecutorHost {
public:
    explicit WindowExecutorHost(TForm1& form) : f_(form) {}

    void log(std::string_view line) override { f_.log(line); }
    void setProgressMaximum(int64_t maximum) override { f_.setProgressMaximum(maximum); }
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
        f_.Label9->setText(QString::fromStdString(std::string(text)));
        if (red)
            setLabelColour(Qt::red);
    }
    void runStarted() override {
        if (TForm11* stop = f_.windows().form11)
            stop->showBesideMainWindow();
        setTreesEnabled(false);
        setLabelColour(f_.palette().color(QPalette::WindowText));
    }
    void runFinished() override {
        if (TForm11* stop = f_.windows().form11)
            stop->hide();
        setTreesEnabled(true);
    }
    void beforeLine() override {
        if (TForm11* stop = f_.windows().form11)
            stop->takeFocus();
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

private:
    void setTreesEnabled(bool enabled) {
        f_.ShellTreeView1->setEnabled(enabled);
        f_.ShellComboBox1->setEnabled(enabled);
        f_.ShellTreeView2->setEnabled(enabled);
        f_.ShellComboBox2->setEnabled(enabled);
    }
    void setLabelColour(const QColor& colour) {
        QPalette p = f_.Label9->palette();
        p.setColor(QPalette::WindowText, colour);
        f_.Label9->setPalette(p);
    }

    TForm1& f_;
};

} // namespace

ExecutionCounts TForm1::PerformActions() {
    // One run per destination: a job run holds its lock already (shared here); another program's run
    // on a folder these lines change refuses this run before its first line.
    RunLock lock;
    const RunLockResult locked = lock.acquire(foldersWrittenBy(actions, actionFacts.locations));
    if (!locked.acquired) {
        const std::string refusal = "Refused: " + runLockRefusal(locked) + "; no action was run";
        log(refusal);
        if (!runsWithoutPrompts())
            DialogSeam::current().message(this, QString::fromStdString(refusal));
        return ExecutionCounts{};
    }
    WindowExecutorHost host(*this);
    const ExecutionCounts counts = paritas::PerformActions(actions, stopFlags, host, actionFacts);
    KeepAlive::pumpNow();
    return counts;
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

// "Analyse/Synchronize Now": lock, scan both locations, plan in the selected mode, then show the
// review window or run the actions at once.

#include "gui/app/dialog_seam.h"
#include "gui/app/keep_alive.h"
#include "gui/app/tform1.h"
#include "gui/execution/run_ending.h"
#include "gui/execution/tform3.h"
#include "gui/inventory/window_run_host.h"

#include <QCheckBox>
#include <QLabel>

namespace paritas::gui {

RunRequest TForm1::runRequest(PlanKind kind, const RunLocations& run) const {
    RunRequest request;
    request.kind = kind;
    request.locationA = run.a;
    request.locationB = run.b; // duplicates within A neither reads nor writes it; the window shows it
    request.includeSubfolders = run.includeSubfolders;
    request.settings = currentSettings();
    return request;
}

void TForm1::replaceSession(RunSession next) {
    // The review shows the old run's items: it lets go of them before they go.
    if (windows_.form3)
        windows_.form3->letGo();
    session_ = std::move(next);
}

// The locations and "Include Subfolders" are taken once, here: the lock, the scans, the plan and the
// run use them even when the user picks other folders while the scans go on.
void TForm1::BitBtn6Click() {
    if (isBusy())
        return;
    const RunLocations run = chosenLocations();
    const int mode = modeIndex();
    beginBusy();
    WindowRunHost host(*this);
    if (mode < 0) {
        SearchBothGrids(run);
        endBusy();
        DialogSeam::current().message(this, QStringLiteral("You must Select Synchronisation mode"));
        return;
    }
    replaceSession(RunSession(runRequest(PlanKind(mode), run)));
    if (!session_.lock(host)) {
        endBusy();
        showRefusal();
        return;
    }
    session_.scan(host);
    const bool planned = showPlan(session_.plan(host));
    reviewOrRun(planned, session_.request().settings, RescanAfterRun::BothSides);
}

bool TForm1::showPlan(bool planned) {
    const PlanResult& plan = session_.planned();
    if (session_.request().settings.CheckBoxConfirm)
        PrepareActionForm();
    lblActionCount->setText(QString::fromStdString(plan.countText));
    flushProgress();
    if (!planned) {
        KeepAlive::pumpNow();
        DialogSeam::current().message(this, QString::fromStdString(session_.refusal()->reason));
    }
    return planned;
}

// A run of the window refused by the lock: another run works on a folder it would write.
void TForm1::showRefusal() {
    const std::string refusal = "Refused: " + session_.refusal()->reason + "; no action was run";
    log(refusal);
    if (!runsWithoutPrompts())
        DialogSeam::current().message(this, QString::fromStdString(refusal));
}

// The end of a planning command: with the review on, show the review window (the lock is let go while
// the user reviews and taken again when the list runs), or say in one line that there is nothing to
// do; otherwise run the actions at once, scan again and say so. Ends the busy state begun by the
// command.
void TForm1::reviewOrRun(bool planned, const Settings& settings, RescanAfterRun rescan) {
    if (!planned || settings.CheckBoxConfirm) {
        session_.releaseLock();
        endBusy();
        if (planned && !holdsAnAction(session_.actions())) {
            if (windows_.form3)
                windows_.form3->hide();
            DialogSeam::current().message(this, nothingToDoText(session_.request().kind, settings));
            return;
        }
        if (planned && windows_.form3) {
            windows_.form3->show();
            windows_.form3->raise();
        }
        return;
    }
    setRunButtonsEnabled(false);
    const ExecutionCounts counts = PerformActions();
    setRunButtonsEnabled(true);
    if (rescan == RescanAfterRun::BothSides)
        SearchBothGrids(planLocations());
    else
        SearchAGrid(planLocations());
    endBusy();
    reportRunEnd(counts);
}

} // namespace paritas::gui

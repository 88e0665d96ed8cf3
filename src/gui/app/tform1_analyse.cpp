// "Analyse/Synchronize Now": scan both locations, plan in the selected mode, then show the review
// window or run the actions at once.

#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/execution/tform3.h"
#include "gui/planning/window_planner_host.h"

#include <QCheckBox>

namespace paritas::gui {

PlanInput TForm1::planInput(const Settings& settings) {
    return planInput(settings, chosenLocations());
}

PlanInput TForm1::planInput(const Settings& settings, const RunLocations& run) {
    PlanInput input{run.a,       run.b,       &foldersA, &foldersB,
                    &inventoryA, &inventoryB, settings,  run.includeSubfolders};
    input.coverageA = &coverageA;
    input.coverageB = &coverageB;
    return input;
}

// The locations and "Include Subfolders" are taken once, here: the scans, the plan and the run use
// them even when the user picks other folders while the scans go on.
void TForm1::BitBtn6Click() {
    if (isBusy())
        return;
    const RunLocations run = chosenLocations();
    beginBusy();
    SearchBothGrids(run);
    const int mode = modeIndex();
    if (mode < 0) {
        endBusy();
        DialogSeam::current().message(this, QStringLiteral("You must Select Synchronisation mode"));
        return;
    }
    const Settings settings = currentSettings();
    PlanInput input = planInput(settings, run);
    WindowPlannerHost host(*this);
    const bool planned = takePlan(*this, planForMode(mode, input, host), settings, run);
    reviewOrRun(planned, settings, run, RescanAfterRun::BothSides);
}

// The end of a planning command that has taken its plan: with the review on, show the review window;
// otherwise run the actions at once, scan again and say so. Ends the busy state begun by the command.
void TForm1::reviewOrRun(bool planned, const Settings& settings, const RunLocations& run,
                         RescanAfterRun rescan) {
    if (!planned || settings.CheckBoxConfirm) {
        endBusy();
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
        SearchBothGrids(run);
    else
        SearchAGrid(run);
    endBusy();
    reportRunEnd(counts);
}

} // namespace paritas::gui

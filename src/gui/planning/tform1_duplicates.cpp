// "Delete duplicates within A": scan A alone, keep the first file of every group of matching files
// and delete the others, after the review or at once.

#include "gui/app/tform1.h"
#include "gui/planning/window_planner_host.h"

namespace paritas::gui {

// Location A and "Include Subfolders" are taken once, at the press, as Analyse/Synchronize does.
void TForm1::DeleteduplicateswithinA1Click() {
    if (isBusy())
        return;
    const RunLocations run = chosenLocations();
    beginBusy();
    actions.clear();
    actionFacts = {};
    ++actionsGeneration;
    SearchAGrid(run);
    const Settings settings = currentSettings();
    PlanInput input = planInput(settings, run);
    WindowPlannerHost host(*this);
    const bool planned = takePlan(*this, DuplicatesWithinA(input, host), settings, run);
    reviewOrRun(planned, settings, run, RescanAfterRun::SideAOnly);
}

} // namespace paritas::gui

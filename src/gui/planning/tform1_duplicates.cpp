// "Delete duplicates within A": scan A alone, keep the first file of every group of matching files
// and delete the others, after the review or at once.

#include "gui/app/tform1.h"
#include "gui/planning/window_planner_host.h"

#include <QCheckBox>

namespace paritas::gui {

void TForm1::DeleteduplicateswithinA1Click() {
    if (isBusy())
        return;
    beginBusy();
    actions.clear();
    actionFacts = {};
    ++actionsGeneration;
    SearchAGrid();
    const Settings settings = currentSettings();
    PlanInput input = planInput(settings);
    WindowPlannerHost host(*this);
    const bool planned = takePlan(*this, DuplicatesWithinA(input, host), settings);
    reviewOrRun(planned, settings, RescanAfterRun::SideAOnly);
}

} // namespace paritas::gui

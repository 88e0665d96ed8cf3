// "Delete duplicates within A": scan A alone, keep the first file of every group of matching files
// and delete the others, after the review or at once.

#include "gui/app/tform1.h"
#include "gui/inventory/window_run_host.h"

namespace paritas::gui {

// Location A and "Include Subfolders" are taken once, at the press, as Analyse/Synchronize does.
void TForm1::DeleteduplicateswithinA1Click() {
    if (isBusy())
        return;
    const RunLocations run = chosenLocations();
    beginBusy();
    replaceSession(RunSession(runRequest(PlanKind::DuplicatesWithinA, run)));
    WindowRunHost host(*this);
    if (!session_.lock(host)) {
        endBusy();
        showRefusal();
        return;
    }
    session_.scan(host);
    const bool planned = showPlan(session_.plan(host));
    reviewOrRun(planned, session_.request().settings, RescanAfterRun::SideAOnly);
}

} // namespace paritas::gui

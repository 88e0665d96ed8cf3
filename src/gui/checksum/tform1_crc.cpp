// "CRC Matching A -> B": scan both locations, pair every file of A with its first match in B and show
// the CRC matching window, where the compare is started.

#include "gui/app/tform1.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/planning/window_planner_host.h"

namespace paritas::gui {

// Both locations and "Include Subfolders" are taken once, at the press.
void TForm1::CRCMatchingAB1Click() {
    if (isBusy() || windows_.crcMatch == nullptr)
        return;
    const RunLocations run = chosenLocations();
    beginBusy();
    SearchBothGrids(run);
    WindowPlannerHost host(*this);
    windows_.crcMatch->setPairs(pairCrcMatches(session_.scanned(Side::A).inventory,
                                               session_.scanned(Side::B).inventory, currentSettings(), host));
    flushProgress();
    endBusy();
    windows_.crcMatch->show();
    windows_.crcMatch->raise();
}

} // namespace paritas::gui

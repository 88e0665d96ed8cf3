// "Analyse/Synchronize Now": scan both locations, plan in the selected mode, then show the review
// window or run the actions at once.

#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/execution/tform3.h"
#include "gui/planning/window_planner_host.h"

#include <QCheckBox>

namespace paritas::gui {
namespace {

PlanResult planInMode(int mode, PlanInput& input, PlannerHost& host) {
    switch (mode) {
    case 0:
        return AMasterB(input, host);
    case 1:
        return FolderSynch(input, host);
    case 2:
        return CopyMissing(input, host);
    default:
        return Duplicatedel(input, host);
    }
}

} // namespace

void TForm1::BitBtn6Click() {
    if (isBusy())
        return;
    beginBusy();
    SearchAGrid();
    SearchBGrid();
    const int mode = modeIndex();
    if (mode < 0) {
        endBusy();
        DialogSeam::current().message(this, QStringLiteral("You must Select Synchronisation mode"));
        return;
    }
    const Settings settings = currentSettings();
    PlanInput input{locationA(), locationB(), &foldersA, &foldersB,
                    &inventoryA, &inventoryB, settings,  CheckBox1->isChecked()};
    WindowPlannerHost host(*this);
    if (!takePlan(*this, planInMode(mode, input, host), settings)) {
        endBusy();
        return;
    }
    if (settings.CheckBoxConfirm) {
        endBusy();
        if (windows_.form3) {
            windows_.form3->show();
            windows_.form3->raise();
        }
        return;
    }
    setRunButtonsEnabled(false);
    PerformActions();
    setRunButtonsEnabled(true);
    SearchAGrid();
    SearchBGrid();
    endBusy();
    DialogSeam::current().message(this, QStringLiteral("Synchronisation FINISHED!"));
}

} // namespace paritas::gui

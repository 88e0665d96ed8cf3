// "Delete duplicates within A": scan A alone, keep the first file of every group of matching files
// and delete the others, after the review or at once.

#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/execution/tform3.h"
#include "gui/planning/window_planner_host.h"

#include <QCheckBox>

namespace paritas::gui {

void TForm1::DeleteduplicateswithinA1Click() {
    if (isBusy())
        return;
    beginBusy();
    actions.clear();
    ++actionsGeneration;
    SearchAGrid();
    const Settings settings = currentSettings();
    PlanInput input{locationA(), locationB(), &foldersA, &foldersB,
                    &inventoryA, &inventoryB, settings,  CheckBox1->isChecked()};
    WindowPlannerHost host(*this);
    if (!takePlan(*this, DuplicatesWithinA(input, host), settings)) {
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
    endBusy();
    DialogSeam::current().message(this, QStringLiteral("Synchronisation FINISHED!"));
}

} // namespace paritas::gui

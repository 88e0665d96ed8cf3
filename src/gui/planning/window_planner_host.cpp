#include "gui/planning/window_planner_host.h"

#include "gui/app/dialog_seam.h"
#include "gui/app/keep_alive.h"
#include "gui/app/tform1.h"

#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace paritas::gui {

void WindowPlannerHost::log(std::string_view line) {
    f_.log(line);
}

void WindowPlannerHost::setProgressMaximum(int64_t maximum) {
    f_.setProgressMaximum(maximum);
}

void WindowPlannerHost::setProgressPosition(int64_t position) {
    f_.setProgressPosition(position);
}

void WindowPlannerHost::keepAlive() {
    KeepAlive::pump();
}

bool takePlan(TForm1& form, PlanResult result, const Settings& settings) {
    return takePlan(form, std::move(result), settings, form.chosenLocations());
}

bool takePlan(TForm1& form, PlanResult result, const Settings& settings, const RunLocations& run) {
    form.actions = std::move(result.actions);
    form.planLocations = run;
    form.actionFacts = std::move(result.facts);
    ++form.actionsGeneration;
    if (settings.CheckBoxConfirm)
        form.PrepareActionForm();
    form.lblActionCount->setText(QString::fromStdString(result.countText));
    form.flushProgress();
    if (result.refused) {
        KeepAlive::pumpNow();
        DialogSeam::current().message(&form, QString::fromStdString(result.refusal));
        return false;
    }
    return true;
}

} // namespace paritas::gui

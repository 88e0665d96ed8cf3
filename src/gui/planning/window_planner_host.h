#pragma once
// The planners' host for the main window: log lines into the activity log, the progress bar, and
// the throttled keep-alive. File-system questions go to the real file system.

#include "core/planning/planners.h"

namespace paritas::gui {

class TForm1;
struct RunLocations;

class WindowPlannerHost final : public PlannerHost {
public:
    explicit WindowPlannerHost(TForm1& form) : f_(form) {}
    void log(std::string_view line) override;
    void setProgressMaximum(int64_t maximum) override;
    void setProgressPosition(int64_t position) override;
    void keepAlive() override;

private:
    TForm1& f_;
};

// Takes a planner's result into the main window: the new action list, the locations it was planned
// for (the scans after its run look there), the count label, the review window's check list when the
// review is on, and the message box of a refused plan. Returns false when the plan was refused. The
// shorter form takes the locations the window shows now (the job runner sets them per job).
bool takePlan(TForm1& form, PlanResult result, const Settings& settings, const RunLocations& run);
bool takePlan(TForm1& form, PlanResult result, const Settings& settings);

} // namespace paritas::gui

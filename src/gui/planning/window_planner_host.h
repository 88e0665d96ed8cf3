#pragma once
// The planners' host for the main window: log lines into the activity log, the progress bar, and
// the throttled keep-alive. File-system questions go to the run's locations.

#include "core/planning/planners.h"

namespace paritas::gui {

class TForm1;

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

} // namespace paritas::gui

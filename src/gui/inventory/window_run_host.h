#pragma once
// The run's host in the main window: each side's scan shows in its status label (blinking while the
// folders are searched) and its status panel, the planner's lines go to the activity log and its
// progress to the main bar, and the window stays alive while B's scan is awaited. Another run holding
// a lock refuses a run of the window at once (the window says so). A remote typed into a location
// box while the rclone configuration is encrypted and no password is known: the password is asked
// once per command, in a box that hides it (kept in memory only); Cancel refuses the run, saying why.

#include "core/app/run.h"
#include "gui/planning/window_planner_host.h"

#include <memory>

namespace paritas::gui {

class TForm1;

class WindowRunHost : public RunHost {
public:
    explicit WindowRunHost(TForm1& form);
    ~WindowRunHost() override;
    ScanHost& scanHost(Side side) override;
    PlannerHost& plannerHost() override { return planner_; }
    void scanStarting(Side side) override;
    void scanEnded(Side side, const ScanResult& result) override;
    void whileWaiting() override;
    std::unique_ptr<Location> openLocation(const std::string& text) override;

private:
    TForm1& f_;
    WindowPlannerHost planner_;
    std::unique_ptr<ScanHost> scanA_, scanB_;
    bool passwordAsked_ = false;
};

} // namespace paritas::gui

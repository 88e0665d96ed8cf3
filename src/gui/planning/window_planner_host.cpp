#include "gui/planning/window_planner_host.h"

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

} // namespace paritas::gui

#pragma once
// Long work on the window's thread calls keepAlive() after every unit (file row, folder, action
// line, copy chunk). Pumping window messages that often would cost more than the work itself, so the
// pump runs at most every few tens of milliseconds; the check in between is one clock read.

#include "core/base/host.h"

#include <functional>

namespace paritas::gui {

class KeepAlive {
public:
    // Processes pending window messages when the last pump is long enough ago.
    static void pump();
    // Processes them now (before a modal question, at the end of a run).
    static void pumpNow();
    // Called before every pump, e.g. to flush buffered log lines into the activity log.
    static void setBeforePump(std::function<void()> hook);
};

} // namespace paritas::gui

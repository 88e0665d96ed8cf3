#pragma once
// The two stop requests a user can make while actions run. Both are plain flags written by button
// handlers and read between units of work on the same thread; nothing is locked.
//   action   the executor clears it when a run starts and ends its loop after the line during
//            which it was set
//   jobList  the job runner reads it before each job; the executor never reads it

namespace paritas {

struct StopFlags {
    bool action = false;
    bool jobList = false;
};

} // namespace paritas

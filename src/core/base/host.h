#pragma once
// The narrow interface through which long core work talks to whoever runs it (the windows, the
// command line, a test). Work units call keepAlive() after each file row, folder or action line; the
// window's implementation pumps pending messages there, throttled, so that a million calls cost
// little. The core never blocks on the host and never learns what kind of host it has.

#include <cstdint>
#include <string_view>

namespace paritas {

class ActivityHost {
public:
    virtual ~ActivityHost() = default;
    // Appends one whole line to the activity log.
    virtual void log(std::string_view line) = 0;
    virtual void setProgressMaximum(int64_t /*maximum*/) {}
    virtual void setProgressPosition(int64_t /*position*/) {}
    virtual void keepAlive() {}
};

} // namespace paritas

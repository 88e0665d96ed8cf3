#pragma once
// A scan host for tests: records every call in order, and lets a test act at a keep-alive.

#include "core/inventory/scan.h"

#include <functional>
#include <string>
#include <vector>

namespace paritas::test {

class RecordingHost : public ScanHost {
public:
    void log(std::string_view line) override {
        lines.emplace_back(line);
        events.push_back("log " + std::string(line));
    }
    void setProgressMaximum(int64_t maximum) override {
        progressMaximum = maximum;
        events.push_back("maximum " + std::to_string(maximum));
    }
    void setProgressPosition(int64_t position) override {
        positions.push_back(position);
        events.push_back("position " + std::to_string(position));
    }
    void keepAlive() override {
        ++keepAliveCount;
        events.emplace_back("keepAlive");
        if (onKeepAlive)
            onKeepAlive(keepAliveCount);
    }
    void foldersListed() override { events.emplace_back("foldersListed"); }

    std::vector<std::string> lines;
    std::vector<std::string> events;
    std::vector<int64_t> positions;
    int64_t progressMaximum = -1;
    int keepAliveCount = 0;
    std::function<void(int)> onKeepAlive; // gets the count of keep-alives so far
};

} // namespace paritas::test

#pragma once
// The command line's hosts: activity-log lines go to one stream (stdout for sync and dedupe, stderr
// otherwise), and when stderr is a terminal a live progress line is drawn there, at most a few times
// a second. Nothing is ever asked: a command-line run has no prompts.

#include "core/checksum/crc_matching.h"
#include "core/execution/executor.h"
#include "core/inventory/scan.h"
#include "core/planning/planners.h"

#include <chrono>
#include <functional>
#include <cstdint>
#include <cstdio>
#include <string>

namespace paritas::cli {

class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { clear(); }
    // Draws `text` when the last drawing is long enough ago (or always with force).
    void show(const std::string& text, bool force = false);
    void clear();
    bool enabled() const { return enabled_; }

private:
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

class ConsoleHost : public ScanHost, public PlannerHost, public ExecutorHost, public CrcCompareHost {
public:
    ConsoleHost(std::FILE* logStream, ProgressLine& progress) : log_(logStream), progress_(progress) {}

    void log(std::string_view line) override;
    void setProgressMaximum(int64_t maximum) override { maximum_ = maximum; }
    void setProgressPosition(int64_t position) override { position_ = position; }
    void keepAlive() override;

    Settings settings() override { return settings_; }
    PromptAnswer confirm(std::string_view) override { return PromptAnswer::Ok; }
    void showMessage(std::string_view text) override;
    bool copyWithProgress(const std::string& source, const std::string& destination, std::string_view copyName,
                          StopFlags& flags) override;

    bool stopRequested() override { return false; }
    void rowChanged(std::size_t) override { ++rowsDone_; }

    void setSettings(const Settings& settings) { settings_ = settings; }
    // What the progress line is about: "Scanning A", "Planning", "Actions", "CRC".
    void setPhase(std::string phase);
    void countFile() { ++filesSeen_; }

private:
    void drawProgress(bool force);

    std::FILE* log_;
    ProgressLine& progress_;
    Settings settings_;
    std::string phase_;
    int64_t maximum_ = 0, position_ = 0;
    uint64_t filesSeen_ = 0, rowsDone_ = 0, bytesCopied_ = 0, copyDone_ = 0;
};

} // namespace paritas::cli

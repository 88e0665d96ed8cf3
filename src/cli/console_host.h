#pragma once
// The command line's host: activity-log lines go to one stream (stdout for sync, dedupe and jobs,
// stderr otherwise), and when stderr is a terminal a live progress line is drawn there, at most a few
// times a second. Nothing is ever asked: a command-line run has no prompts.
//
// Besides the stream (LogSinks): --quiet keeps only the lines that tell of an error there, --log-file
// appends every line to a file with a time stamp, and jobs --log keeps every line for its action log.

#include "core/app/run.h"
#include "core/checksum/crc_matching.h"
#include "core/execution/executor.h"
#include "core/inventory/scan.h"
#include "core/planning/planners.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace paritas::cli {

struct LogSinks {
    bool quiet = false;
    std::FILE* file = nullptr;                // --log-file, opened for appending
    std::vector<std::string>* kept = nullptr; // jobs --log
    bool fileFailed = false;                  // a line could not be written to `file`

    // Writes `line` to the file and the kept lines (not to any stream).
    void record(std::string_view line);
};

// True for the lines --quiet keeps: failures and their reasons, what could not be seen or carried,
// refusals, jobs that did not finish, interruptions.
bool tellsOfAnError(std::string_view line);

// One line of stderr, redrawn in place. Disabled (draws nothing, ever) when stderr is not a terminal,
// so that redirected output holds no carriage returns or escape sequences.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled) {}
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Draws `text` when the last drawing is long enough ago (or always with force), so that a million
    // keep-alives cost a few writes.
    void show(const std::string& text, bool force = false);
    void clear();
    bool enabled() const { return enabled_; }

private:
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_{};
};

enum class Phase { Scanning, Planning, Actions, Crc };

class ConsoleHost : public ScanHost, public PlannerHost, public ExecutorHost, public CrcCompareHost {
public:
    ConsoleHost(std::FILE* logStream, ProgressLine& progress, const Settings& settings,
                LogSinks* sinks = nullptr);

    void log(std::string_view line) override;
    void setProgressMaximum(int64_t maximum) override { maximum_ = maximum; }
    void setProgressPosition(int64_t position) override;
    void keepAlive() override;

    Settings settings() override { return settings_; }
    PromptAnswer confirm(std::string_view) override { return PromptAnswer::Ok; }
    void showMessage(std::string_view text) override { log(text); }
    CopyResult copyWithProgress(CopyTask& copy, std::string_view copyName, StopFlags& flags) override;
    bool stopRequested() override { return false; }

    // What the progress line tells about: files scanned, actions done of `total`, rows compared.
    void setPhase(Phase phase, std::string label, int64_t total = 0);

    // Copies that may run at once (copy lines need no prompt on the command line).
    void setCopyWorkers(int workers) { copyWorkers_ = workers; }
    int copyWorkers() override { return copyWorkers_; }

    // What must still happen when a signal ends the program before the actions (jobs --log writes the
    // log so far); it runs after the line that says so.
    void setBeforeExit(std::function<void()> beforeExit) { beforeExit_ = std::move(beforeExit); }

    // The stop flags of the run under way: a caught signal sets their action flag, so the run cancels
    // the copy under way and ends after the current line.
    void watch(StopFlags* flags) {
        watched_ = flags;
        if (flags)
            actionsStarted_ = true;
    }

private:
    void drawProgress(bool force);
    void noticeSignal();

    std::FILE* log_;
    LogSinks* sinks_;
    std::function<void()> beforeExit_;
    bool logOnTerminal_;
    ProgressLine& progress_;
    Settings settings_;
    Phase phase_ = Phase::Scanning;
    std::string label_;
    int64_t total_ = 0, maximum_ = 0, position_ = -1;
    uint64_t itemsSeen_ = 0, bytesCopied_ = 0, copyDone_ = 0;
    StopFlags* watched_ = nullptr;
    int copyWorkers_ = 1;
    bool actionsStarted_ = false;
    std::chrono::steady_clock::time_point lastFlush_{};
};

// A run on the command line: the console serves as scan, planner and executor host; a lock taken by
// another run is waited for with --wait (said once in the log) or refuses the run.
class ConsoleRunHost : public RunHost {
public:
    ConsoleRunHost(ConsoleHost& console, bool waitForLock) : console_(console), waitForLock_(waitForLock) {}
    ScanHost& scanHost(Side) override { return console_; }
    PlannerHost& plannerHost() override {
        console_.setPhase(Phase::Planning, "Planning");
        return console_;
    }
    void scanStarting(Side side) override {
        console_.setPhase(Phase::Scanning, side == Side::A ? "Scanning A" : "Scanning B");
    }
    bool keepWaitingForLock(const RunLockResult& taken) override;

private:
    ConsoleHost& console_;
    bool waitForLock_;
    bool said_ = false;
};

// SIGINT, SIGTERM and SIGHUP are caught: before any action the program ends at once (nothing has
// changed), during the actions the copy under way is cancelled and the run ends after that line. A
// second signal ends the program at once (a copy is written unnamed, so nothing partial stays).
void catchInterruptions();
// The signal caught, or 0.
int interruption();
// "SIGINT" and the like.
const char* signalName(int signal);

} // namespace paritas::cli

#pragma once
// The command line's words: commands, modes and options, parsed into one plain value. Every mistake is
// a UsageError with a one-line message (the program adds the hint and exits 2).

#include "core/app/run_filters.h"
#include "core/planning/deletion_guard.h"
#include "core/settings/settings.h"

#include <optional>
#include <string>
#include <vector>

namespace paritas::cli {

struct UsageError {
    std::string message;
};

enum class Command { Scan, Plan, Sync, Dedupe, Crc, Jobs };
enum class PlanFormat { Text, Json };

struct Options {
    Command command = Command::Scan;
    std::string commandName;
    int mode = -1;
    bool includeSubfolders = true;
    Settings settings;
    bool criteriaGiven = false;
    bool dryRun = false;
    PlanFormat format = PlanFormat::Text;
    DeletionBound maxDelete;            // sync and jobs
    bool waitForLock = false;           // sync, dedupe and jobs
    bool quiet = false;                 // only errors
    std::string logFile;                // --log-file: every log line appended, with a time stamp
    std::string jobsLog;                // jobs --log: the run's activity log, as the window saves it
    std::vector<std::string> locations; // absolute or remote ("nas:backup/"), each ending with "/"
    std::string jobList;                // jobs: the .jbl file as given
    int threads = 0;                    // scan readers and copy workers: 0 the default, 1 one thread
    // --trash, --delete, --versions, --versions-keep, --verify given (jobs: they override the window's
    // settings).
    bool trashGiven = false;
    bool deleteGiven = false;
    bool versionsGiven = false;
    bool keepDaysGiven = false;
    bool verifyGiven = false;
    // --exclude, --include and --exclude-from in the order given; --delete-excluded (sync and plan of
    // a backup).
    RunFilters filters;
};

// The settings of a command-line run: no review, no prompts; the same-file criteria size, name and
// time (the quick check of other sync tools: a file edited without changing its size is noticed);
// the newer file wins.
Settings commandLineSettings();

// "size,name": the criteria ticked (an empty list ticks none; the run is then refused, as the windows
// refuse it).
void parseCriteria(const std::string& list, Settings& settings);

// argv as given to main.
Options parse(int argc, char** argv);

// The command-line name of a mode index ("backup"), or "(no mode)".
const char* modeWord(int mode);

} // namespace paritas::cli

#pragma once
// The commands of paritas-cli and what they share. Each command returns the program's exit status.

#include "cli/console_host.h"
#include "cli/options.h"

#include "core/app/run_lock.h"

#include <string>

namespace paritas::cli {

struct RunContext {
    ProgressLine& progress;
    LogSinks& sinks;
};

void printLine(const std::string& line);
// The refusal on stderr (and in the --log-file): "paritas-cli: refused: " + reason; returns 3.
int refused(const std::string& reason, LogSinks& sinks);

// Takes the run's lock on the folders it writes. Another run holding one: with --wait the run waits
// (saying so once in the log), else it is refused. Returns 0 when locked, else the exit status.
int lockFolders(RunLock& lock, const std::vector<std::string>& folders, const Options& o, ConsoleHost& host,
                LogSinks& sinks);

int runJobs(const Options& o, RunContext& context);

} // namespace paritas::cli

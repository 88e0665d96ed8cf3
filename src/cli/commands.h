#pragma once
// The commands of paritas-cli and what they share. Each command returns the program's exit status.

#include "cli/console_host.h"
#include "cli/options.h"

#include "core/app/run.h"

#include <string>

namespace paritas::cli {

struct RunContext {
    ProgressLine& progress;
    LogSinks& sinks;
};

void printLine(const std::string& line);
// The refusal on stderr (and in the --log-file): "paritas-cli: refused: " + reason; returns 3.
int refused(const std::string& reason, LogSinks& sinks);

// A filter rule or ignore file that cannot be read (its error text names the file and line): on
// stderr (and in the --log-file) as "paritas-cli: " + error; returns 2, nothing having run.
int unreadableFilters(const std::string& error, LogSinks& sinks);

// The text after "refused: " for a run's refusal, with the option that changes it.
std::string runRefusalText(const RunRefusal& refusal);

int runJobs(const Options& o, RunContext& context);

} // namespace paritas::cli

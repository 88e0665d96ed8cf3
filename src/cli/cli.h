#pragma once
// paritas-cli: the synchronisation engine for scripts, cron jobs and machines without a display. It
// runs the same scans, planners and executor as the windows and prints the same lines.

namespace paritas::cli {

enum ExitStatus {
    kSuccess = 0,
    kFailedActions = 1, // sync or dedupe with a failed action, crc with a bad match
    kUsageError = 2,
    kRefused = 3,         // a safety rule refused the run; nothing was changed
    kUnexpectedError = 4, // an unexpected error, or stdout could not be written
};

// The whole program: parses argv, runs the command, returns the exit status. Reads LC_TIME and TZ
// as set up by main.
int run(int argc, char** argv);

} // namespace paritas::cli

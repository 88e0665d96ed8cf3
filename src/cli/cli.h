#pragma once
// paritas-cli: the synchronisation engine for scripts, cron jobs and machines without a display. It
// runs the same scans, planners and executor as the windows and prints the same lines.

namespace paritas::cli {

enum ExitStatus { kSuccess = 0, kFailedActions = 1, kUsageError = 2, kRefused = 3 };

int run(int argc, char** argv);

} // namespace paritas::cli

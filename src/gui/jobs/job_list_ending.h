#pragma once
// What the window says at the end of a job list: one box that sums the jobs up (how many finished,
// failed, were refused, not run or stopped, each job that did not finish with its reason) and the
// actions of all jobs together, and one line for the progress label, which a scheduled run leaves
// for the user to find in place of a box.

#include "core/execution/executor.h"
#include "core/jobs/job_runner.h"

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

namespace paritas::gui {

// A job that ran: its row in the table (from 0) and its report.
struct EndedJob {
    std::size_t row = 0;
    JobReport report;
};

// "3 jobs: 2 finished, 1 refused" (with "1 waiting" for the jobs a stop kept from starting).
QString jobCountsText(const std::vector<EndedJob>& jobs, int waiting);

// The box: "Job list FINISHED!" (or "Job list Stopped" when a stop ended it), the job counts, one
// line per job that did not finish ("Job 2 refused: the plan deletes 12 of 12 files in /b/ (more
// than 50%)"), and the actions of all jobs ("Actions: 12 done, 0 failed, 0 skipped").
QString jobListEndingText(const std::vector<EndedJob>& jobs, int waiting, bool stopped);
// Whether the box is a warning: a job did not finish, or the list was stopped.
bool jobListEndingIsWarning(const std::vector<EndedJob>& jobs, int waiting, bool stopped);

// The progress label's line: "Job list FINISHED: 2 finished, 1 refused" and, when one job did not
// finish, why ("; Job 2 refused: ...").
QString jobListStatusText(const std::vector<EndedJob>& jobs, int waiting, bool stopped);

// The counts of every job's actions, added up.
ExecutionCounts summedCounts(const std::vector<EndedJob>& jobs);

} // namespace paritas::gui

#pragma once
// The job runner: processes a job list from top to bottom, each job a whole synchronisation without
// the review window. The window ("Process Job List", the schedule) and the command line
// (`paritas-cli jobs`) run jobs through this one runner, each with its own host; each job is one
// run of core/app/run.h.
//
//   for each job row, while the job-list stop flag is clear:
//     host.jobStarted                            (the window shows "In Progress")
//     mode and locations usable?                 else "Not Run"
//     the run: lock, scans, plan, guard          a refusal (another run, the planner, the
//                                                mass-deletion guard): "Refused", nothing runs
//     ─(stop?)─> its actions ─> "Finished", or "Failed" / "Stopped" with the reason in the log
//     host.jobEnded
//
// A job's status says what happened: "Finished" only when it did everything, else one line in the
// activity log, "Job <n> " + the reason, says why.

#include "core/app/run.h"
#include "core/base/host.h"
#include "core/execution/executor.h"
#include "core/jobs/job_list.h"
#include "core/planning/deletion_guard.h"
#include "core/planning/planners.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace paritas {

struct JobRunOptions {
    // The mass-deletion guard (deletion_guard.h); nullopt for runs a person watches over (a job list
    // started by hand in the window), which keep the prompts the settings ask for.
    std::optional<DeletionBound> deletionBound;
    // Plan every job and hand its plan to the host instead of running it; takes no lock.
    bool dryRun = false;
    // Threads that read folders in each scan (0: the default).
    int scanThreads = 0;
    // What every job leaves out besides the settings' "Leave out" lines and the ignore files of its
    // locations (run_filters.h).
    RunFilters filters;
};

// How one job ended.
struct JobReport {
    const char* status = kJobWaiting; // kJobFinished, kJobFailed, kJobNotRun, kJobRefused, kJobStopped
    std::string why;                  // after "Job <n> ": "failed: 1 action(s) failed"; empty when finished
    ExecutionCounts counts;           // of its actions (zero when none ran)
    std::size_t plannedLines = 0;
};

// What the runner needs from whoever runs it: the run's host (scans, planner; the window shows
// them), the executor's host and the stop flags.
class JobRunHost : public RunHost {
public:
    virtual void log(std::string_view line) = 0;
    // A job starts / ended; `row` is its index in the rows handed to runJobList.
    virtual void jobStarted(std::size_t /*row*/, const Job& /*job*/) {}
    virtual void jobEnded(std::size_t /*row*/, const Job& /*job*/, const JobReport& /*report*/) {}
    virtual Settings settings() = 0;
    // A job's run has planned (or was refused: session.refusal() says why) and is about to go on.
    virtual void planned(const RunSession& /*session*/) {}
    // Runs the actions of the job's run, the host's way (the window: stop window, copy window).
    virtual ExecutionCounts execute(RunSession& session) = 0;
    // A dry run's plan, instead of execute.
    virtual void showPlan(const PlanResult& /*plan*/) {}
    // The job-list stop flag: no further job starts, and a job that is still scanning or planning
    // ends before its actions.
    virtual bool jobListStopped() = 0;
    // A stop ended the last execute() early (the copy window's "Cancel All", a signal).
    virtual bool actionsStopped() = 0;
};

// Runs one job (see above). `number` is the job's number in the log (its row, from 1).
JobReport runJob(const Job& job, std::size_t number, const JobRunOptions& options, JobRunHost& host);

struct JobListSummary {
    std::vector<JobReport> reports; // one per job row that started, in order
    int finished = 0, failed = 0, notRun = 0, refused = 0, stopped = 0;
};

// Runs every row that is a job (a non-empty status), in order, until the job-list stop flag is set.
// Rows that are no job are skipped; jobs after a stop keep their status.
JobListSummary runJobList(const std::vector<Job>& rows, const JobRunOptions& options, JobRunHost& host);

// The first filter rule or ignore file that cannot be read among the rule sets of the jobs of `rows`
// whose mode and locations are usable (each job's own: its locations' ignore files), or nothing. A
// caller that runs nothing of a list with such a rule asks this before the first job.
std::optional<FilterError> unreadableJobFilters(const std::vector<Job>& rows, const JobRunOptions& options,
                                                const Settings& settings);

// Why a job's location cannot be run, or empty. Locations come from the choosers (absolute, ending
// with the separator, or a remote reached through rclone: "nas:backup/") or from a job-list file,
// which anyone may have edited.
std::string unusableLocation(const std::string& location);

} // namespace paritas

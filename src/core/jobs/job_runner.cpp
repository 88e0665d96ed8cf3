#include "core/jobs/job_runner.h"

#include "core/app/modes.h"
#include "core/app/run_lock.h"
#include "core/platform/path_text.h"

#include <string_view>

namespace paritas {
namespace {

JobReport ended(const char* status, std::string why) {
    JobReport report;
    report.status = status;
    report.why = std::move(why);
    return report;
}

// What a job that ran did not do, or empty: "1 action(s) failed; the scan of location B ...".
std::string shortfalls(const PlanInput& input, const ExecutionCounts& counts, std::size_t leftAlone) {
    std::vector<std::string> parts;
    if (counts.bad > 0)
        parts.push_back(std::to_string(counts.bad) + " action(s) failed");
    if (input.coverageA && !input.coverageA->complete())
        parts.push_back("the scan of location A could not see everything");
    if (input.coverageB && !input.coverageB->complete())
        parts.push_back("the scan of location B could not see everything");
    if (leftAlone > 0)
        parts.push_back("the plan left " + std::to_string(leftAlone) +
                        " file(s) alone because the other side could not be read");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

// The folders a job writes: B, and A too in folder synch.
std::vector<std::string> writtenFolders(int mode, const std::string& a, const std::string& b) {
    if (mode == int(SyncMode::FolderSynch))
        return {a, b};
    return {b};
}

// A refused plan runs nothing: the host gets it without its lines.
JobReport refuse(PlanResult plan, const Settings& settings, const std::string& reason, JobRunHost& host) {
    plan.actions.clear();
    plan.facts = PlanFacts{};
    plan.refused = true;
    plan.refusal = reason;
    host.takePlan(std::move(plan), settings);
    return ended(kJobRefused, "refused: " + reason);
}

std::optional<std::string> guardRefusal(const PlanResult& plan, const PlanInput& input,
                                        const JobRunOptions& options) {
    if (!options.deletionBound)
        return std::nullopt;
    const GuardSide a{input.locationA, input.inventoryA ? input.inventoryA->fileCount() : 0};
    const GuardSide b{input.locationB, input.inventoryB ? input.inventoryB->fileCount() : 0};
    return massDeletionRefusal(plan.actions, a, b, *options.deletionBound);
}

// Scans, plans and executes a job whose locations are usable, under its lock when it runs.
JobReport scanPlanAndRun(int mode, const std::string& a, const std::string& b, bool subfolders,
                         const JobRunOptions& options, JobRunHost& host) {
    host.scanLocations(a, b, subfolders);
    if (host.jobListStopped())
        return ended(kJobStopped, "stopped before its actions ran");
    const Settings settings = host.settings();
    PlanInput input = host.planInput(settings);
    PlanResult plan = planForMode(mode, input, host.plannerHost());
    if (plan.refused) {
        const std::string reason = plan.refusal;
        return refuse(std::move(plan), settings, reason, host);
    }
    if (auto refusal = guardRefusal(plan, input, options))
        return refuse(std::move(plan), settings, *refusal, host);
    const std::size_t planned = plan.actions.size();
    const std::size_t leftAlone = plan.leftAlone;
    if (options.dryRun) {
        host.showPlan(plan);
        JobReport report = ended(kJobFinished, {});
        report.plannedLines = planned;
        return report;
    }
    host.takePlan(std::move(plan), settings);
    if (host.jobListStopped())
        return ended(kJobStopped, "stopped before its actions ran");

    JobReport report;
    report.counts = host.execute();
    report.plannedLines = planned;
    // The action flag alone: "Cancel All" of a copy ended this job's actions; later jobs still run.
    if (host.jobListStopped() || host.actionsStopped()) {
        report.status = kJobStopped;
        report.why = "stopped during its actions";
        return report;
    }
    const std::string missed = shortfalls(input, report.counts, leftAlone);
    report.status = missed.empty() ? kJobFinished : kJobFailed;
    report.why = missed.empty() ? std::string() : "failed: " + missed;
    return report;
}

} // namespace

std::string unusableLocation(const std::string& location) {
    if (!isAbsolutePath(location))
        return "location \"" + location + "\" is not an absolute folder path";
    if (holdsUncarriableCharacter(location))
        return "location \"" + location + "\" holds a character that action lines cannot carry";
    return {};
}

JobReport runJob(const Job& job, std::size_t /*number*/, const JobRunOptions& options, JobRunHost& host) {
    const int mode = modeIndex(job.modeName);
    if (mode < 0)
        return ended(kJobNotRun, "not run: its Synch Mode names none of the synchronisation modes");
    for (const std::string& location : {job.locationA, job.locationB}) {
        const std::string why = unusableLocation(location);
        if (!why.empty())
            return ended(kJobNotRun, "not run: " + why);
    }
    // A location from a hand-edited file may lack its closing separator; the planners build paths by
    // concatenation, so it gets one, as the location choosers give it.
    const std::string a = withTrailingSeparator(job.locationA);
    const std::string b = withTrailingSeparator(job.locationB);
    RunLock lock;
    if (!options.dryRun) {
        const RunLockResult locked =
            lock.acquire(writtenFolders(mode, a, b), [&](const RunLockResult& other) {
                return host.keepWaitingForLock(runLockRefusal(other));
            });
        if (!locked.acquired) {
            PlanResult none;
            return refuse(std::move(none), host.settings(), runLockRefusal(locked), host);
        }
    }
    return scanPlanAndRun(mode, a, b, job.includesSubfolders(), options, host);
}

JobListSummary runJobList(const std::vector<Job>& rows, const JobRunOptions& options, JobRunHost& host) {
    JobListSummary summary;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (host.jobListStopped())
            break;
        const Job& job = rows[row];
        if (!job.isJob())
            continue;
        host.jobStarted(row, job);
        JobReport report = runJob(job, row + 1, options, host);
        if (!report.why.empty())
            host.log("Job " + std::to_string(row + 1) + " " + report.why);
        const std::string_view status = report.status;
        summary.finished += status == kJobFinished;
        summary.failed += status == kJobFailed;
        summary.notRun += status == kJobNotRun;
        summary.refused += status == kJobRefused;
        summary.stopped += status == kJobStopped;
        host.jobEnded(row, job, report);
        summary.reports.push_back(std::move(report));
    }
    return summary;
}

} // namespace paritas

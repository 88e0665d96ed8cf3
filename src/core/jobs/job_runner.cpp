#include "core/jobs/job_runner.h"

#include "core/base/modes.h"
#include "core/platform/path_text.h"
#include "core/remote/remote_path.h"

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
std::string shortfalls(const RunSession& run, const ExecutionCounts& counts) {
    std::vector<std::string> parts;
    if (counts.bad > 0)
        parts.push_back(std::to_string(counts.bad) + " action(s) failed");
    if (!run.scanned(Side::A).coverage.complete())
        parts.push_back("the scan of location A could not see everything");
    if (!run.scanned(Side::B).coverage.complete())
        parts.push_back("the scan of location B could not see everything");
    if (const std::size_t leftAlone = run.planned().leftAlone; leftAlone > 0)
        parts.push_back("the plan left " + std::to_string(leftAlone) +
                        " file(s) alone because the other side could not be read");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

// The run of a job whose mode and locations are usable: lock, scans, plan and guard, then its actions.
JobReport runUsableJob(RunRequest request, const JobRunOptions& options, JobRunHost& host) {
    RunSession run(std::move(request));
    if (!run.lock(host)) {
        host.planned(run);
        return ended(kJobRefused, "refused: " + run.refusal()->reason);
    }
    run.scan(host);
    if (host.jobListStopped())
        return ended(kJobStopped, "stopped before its actions ran");
    const bool planned = run.plan(host);
    host.planned(run);
    if (!planned)
        return ended(kJobRefused, "refused: " + run.refusal()->reason);
    if (options.dryRun) {
        host.showPlan(run.planned());
        JobReport report = ended(kJobFinished, {});
        report.plannedLines = run.actions().size();
        return report;
    }
    if (host.jobListStopped())
        return ended(kJobStopped, "stopped before its actions ran");

    JobReport report;
    report.plannedLines = run.actions().size();
    report.counts = host.execute(run);
    if (const auto& refusal = run.refusal())
        return ended(kJobRefused, "refused: " + refusal->reason);
    // The action flag alone: "Cancel All" of a copy ended this job's actions; later jobs still run.
    if (host.jobListStopped() || host.actionsStopped()) {
        report.status = kJobStopped;
        report.why = "stopped during its actions";
        return report;
    }
    const std::string missed = shortfalls(run, report.counts);
    report.status = missed.empty() ? kJobFinished : kJobFailed;
    report.why = missed.empty() ? std::string() : "failed: " + missed;
    return report;
}

} // namespace

std::string unusableLocation(const std::string& location) {
    if (const ParsedLocation parsed = parseLocation(location); parsed.kind != LocationKind::Local) {
        std::string why = parsed.reason;
        if (parsed.kind == LocationKind::Remote && !remoteLocationText(location, &why).empty())
            return {}; // a folder on a remote, reached through rclone
        return "location \"" + location + "\" cannot be used: " + why;
    }
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
    RunRequest request;
    request.kind = PlanKind(mode);
    // A location from a hand-edited file may lack its closing separator; the planners build paths by
    // concatenation, so it gets one, as the location choosers give it.
    request.locationA = withTrailingSeparator(job.locationA);
    request.locationB = withTrailingSeparator(job.locationB);
    request.includeSubfolders = job.includesSubfolders();
    request.settings = host.settings();
    request.deletionBound = options.deletionBound;
    request.scanThreads = options.scanThreads;
    request.planOnly = options.dryRun;
    request.filters = options.filters;
    return runUsableJob(std::move(request), options, host);
}

std::optional<FilterError> unreadableJobFilters(const std::vector<Job>& rows, const JobRunOptions& options,
                                                const Settings& settings) {
    for (const Job& job : rows) {
        const int mode = modeIndex(job.modeName);
        if (!job.isJob() || mode < 0 || !unusableLocation(job.locationA).empty() ||
            !unusableLocation(job.locationB).empty())
            continue;
        RunRules rules = runRules(settings, options.filters, PlanKind(mode),
                                  withTrailingSeparator(job.locationA), withTrailingSeparator(job.locationB));
        if (rules.error)
            return rules.error;
    }
    return std::nullopt;
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

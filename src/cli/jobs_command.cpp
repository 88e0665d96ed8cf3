// `paritas-cli jobs`: a job-list file run as the window's job runner runs it (core/jobs/job_runner.h),
// headless: no review, no prompts, the mass-deletion guard on, one result line per job.

#include "cli/cli.h"
#include "cli/commands.h"

#include "core/app/text_file.h"
#include "core/base/modes.h"
#include "core/inventory/scan.h"
#include "core/jobs/job_runner.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"
#include "core/settings/config_file.h"
#include "core/settings/leave_out.h"
#include "core/settings/metadata_settings.h"
#include "core/settings/removal_settings.h"
#include "core/settings/settings_folder.h"

#include <filesystem>
#include <string_view>

namespace paritas::cli {
namespace {

// The job list, checked whole before anything runs: every line a job line with a mode and usable
// locations. Throws a UsageError naming the first bad line.
std::vector<Job> readJobs(const std::string& file) {
    std::string error;
    const auto lines = readTextLines(file, &error);
    if (!lines)
        throw UsageError{"cannot read the job list \"" + file + "\": " + error};
    JobListReading reading = readJobLines(*lines);
    if (!reading.error.empty())
        throw UsageError{file + ": " + reading.error};
    for (std::size_t i = 0; i < reading.jobs.size(); ++i) {
        const Job& job = reading.jobs[i];
        const std::string where = file + ": line " + std::to_string(i + 1) + ": ";
        if (job.modeName.empty())
            throw UsageError{where + "the mode digit names none of the four modes (0 to 3)"};
        for (const std::string& location : {job.locationA, job.locationB})
            if (const std::string why = unusableLocation(location); !why.empty())
                throw UsageError{where + why};
    }
    return reading.jobs;
}

// The settings the window would run the jobs with: config.ini's and unattended.ini's where they are
// (as the window finds them), else the window's defaults; never a prompt. The window's "Leave out"
// lines come along. --criteria overrides the
// file's criteria; --trash, --delete, --versions, --versions-keep and --verify what becomes of removed
// files and whether copies are verified; --hard-links and --xattrs add to what backups keep.
Settings jobSettings(const Options& o) {
    ConfigFile config;
    std::error_code ec;
    const std::string here = std::filesystem::current_path(ec).string();
    if (!ec) {
        const std::string folder = settingsFolderFor(here);
        if (const auto lines = readTextLines(folder + kConfigFileName))
            applyConfigLines(*lines, config);
        if (const auto lines = readTextLines(folder + kUnattendedFileName)) {
            const KeyValueFile unattended = readKeyValues(*lines);
            readRemovalSettings(unattended, config.settings);
            config.settings.leaveOut = readLeaveOut(unattended);
            readMetadataSettings(unattended, config.settings);
        }
    }
    Settings s = config.settings;
    if (o.trashGiven || o.deleteGiven || o.versionsGiven || o.keepDaysGiven) {
        s.removedFiles = o.settings.removedFiles;
        if (o.versionsGiven)
            s.versionsFolder = o.settings.versionsFolder;
        if (o.keepDaysGiven)
            s.versionsKeepDays = o.settings.versionsKeepDays;
    }
    if (o.verifyGiven)
        s.verifyCopies = true;
    s.hardLinks = s.hardLinks || o.settings.hardLinks;
    s.compareAttributes = s.compareAttributes || o.settings.compareAttributes;
    s.CheckDelete = s.CheckCreate = s.CheckCopy = false;
    if (o.criteriaGiven) {
        s.CheckSize = o.settings.CheckSize;
        s.CheckName = o.settings.CheckName;
        s.CheckTimeStamp = o.settings.CheckTimeStamp;
    }
    return s;
}

class ConsoleJobHost final : public JobRunHost {
public:
    ConsoleJobHost(ConsoleHost& console, const Options& o, const Settings& settings, LogSinks& sinks)
        : console_(console), run_(console, o.waitForLock), options_(o), settings_(settings), sinks_(sinks) {}

    void log(std::string_view line) override { console_.log(line); }
    void jobEnded(std::size_t row, const Job& job, const JobReport& report) override {
        const bool planned = options_.dryRun && std::string_view(report.status) == kJobFinished;
        std::string line = "Job " + std::to_string(row + 1) + ": " + modeWord(modeIndex(job.modeName)) + " " +
                           job.locationA + " to " + job.locationB + ": " +
                           (planned ? "Planned" : report.status);
        line += planned ? ", " + std::to_string(report.plannedLines) + " action(s)"
                        : ", " + std::to_string(report.counts.good) + " done, " +
                              std::to_string(report.counts.bad) + " failed";
        sinks_.record(line);
        if (!sinks_.quiet || std::string_view(report.status) != kJobFinished)
            printLine(line);
    }
    ScanHost& scanHost(Side side) override { return run_.scanHost(side); }
    PlannerHost& plannerHost() override { return run_.plannerHost(); }
    void scanStarting(Side side) override { run_.scanStarting(side); }
    bool keepWaitingForLock(const RunLockResult& taken) override { return run_.keepWaitingForLock(taken); }
    Settings settings() override { return settings_; }
    ExecutionCounts execute(RunSession& run) override {
        flags_ = StopFlags{};
        console_.setPhase(Phase::Actions, "Actions", static_cast<int64_t>(run.actions().size()));
        console_.watch(&flags_);
        const ExecutionCounts counts = run.execute(console_, flags_);
        console_.watch(nullptr);
        return counts;
    }
    void showPlan(const PlanResult& plan) override {
        for (const PlanItem& item : plan.actions)
            printLine(lineText(item));
    }
    bool jobListStopped() override { return interruption() != 0; }
    bool actionsStopped() override { return flags_.action; }

private:
    ConsoleHost& console_;
    ConsoleRunHost run_;
    const Options& options_;
    Settings settings_;
    LogSinks& sinks_;
    StopFlags flags_;
};

// jobs --log: the run's log as the window saves its action log; a folder gets the window's file name.
int writeActionLog(const Options& o, const std::vector<std::string>& lines) {
    std::string file = o.jobsLog;
    if (folderExists(file))
        file = withTrailingSeparator(file) + actionLogFileName(std::time(nullptr));
    const std::string error = writeTextLines(file, lines);
    if (error.empty())
        return kSuccess;
    std::fprintf(stderr, "paritas-cli: the log \"%s\" could not be written: %s\n", file.c_str(),
                 error.c_str());
    return kUnexpectedError;
}

} // namespace

int runJobs(const Options& o, RunContext& context) {
    const std::vector<Job> jobs = readJobs(o.jobList);
    const Settings settings = jobSettings(o);
    JobRunOptions options;
    options.deletionBound = o.maxDelete;
    options.dryRun = o.dryRun;
    options.scanThreads = o.threads;
    options.filters = o.filters;
    // A rule that cannot be read stops the list before its first job, as a bad job line does.
    if (const auto error = unreadableJobFilters(jobs, options, settings))
        return unreadableFilters(error->text(), context.sinks);
    std::vector<std::string> kept;
    if (!o.jobsLog.empty())
        context.sinks.kept = &kept;
    ConsoleHost console(o.dryRun ? stderr : stdout, context.progress, settings, &context.sinks);
    console.setCopyWorkers(o.threads > 0 ? o.threads : kDefaultCopyWorkers);
    if (!o.jobsLog.empty()) // a signal before the actions still leaves the log of what was done
        console.setBeforeExit([&] { writeActionLog(o, kept); });
    ConsoleJobHost host(console, o, settings, context.sinks);
    const JobListSummary summary = runJobList(jobs, options, host);
    context.progress.clear();
    context.sinks.kept = nullptr;
    int status = summary.refused > 0                                     ? kRefused
                 : summary.failed + summary.notRun + summary.stopped > 0 ? kFailedActions
                                                                         : kSuccess;
    if (const int signal = interruption()) {
        console.log(std::string("Interrupted by ") + signalName(signal) +
                    ": the copy under way was cancelled and no further action or job ran");
        status = 128 + signal;
    }
    if (!o.jobsLog.empty() && writeActionLog(o, kept) != kSuccess && status == kSuccess)
        status = kUnexpectedError;
    return status;
}

} // namespace paritas::cli

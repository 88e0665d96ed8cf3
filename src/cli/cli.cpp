#include "cli/cli.h"

#include "cli/commands.h"
#include "cli/console_host.h"
#include "cli/options.h"
#include "cli/plan_json.h"

#include "core/base/modes.h"
#include "core/checksum/crc_matching.h"
#include "core/planning/plan_support.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"
#include "core/remote/remote_path.h"
#include "core/remote/remote_session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace paritas::cli {
namespace {

constexpr const char* kUsage = R"(Usage:
  paritas-cli scan  [--no-subfolders] LOCATION
  paritas-cli plan  MODE [OPTIONS] A B
  paritas-cli sync  MODE [OPTIONS] A B
  paritas-cli dedupe [--no-subfolders] [--criteria LIST] [--dry-run] [--trash | --versions DIR] A
  paritas-cli crc   [--no-subfolders] [--criteria LIST] A B
  paritas-cli jobs  [--log FILE] [--dry-run] [--max-delete BOUND] [--wait]
                    [--trash | --delete | --versions DIR] [--versions-keep DAYS] [--verify] JOBLIST.jbl
  paritas-cli --help | --version

Commands:
  scan    list every file of LOCATION, one line per file: full path, size, file time (packed
          local DOS date/time), name, modified text, separated by a TAB
  plan    print the action list that MODE would run, one line per action; nothing changes
  sync    plan and run without review and without prompts; prints the activity log
  dedupe  delete the duplicates within A, keeping the first file of every group (--dry-run:
          print the action list only)
  crc     compare every file of A with its matching file of B by checksum; prints one line per
          file of A (status, CRC of A, CRC of B, path A, path B) and the count of bad matches
  jobs    run every job of a job-list file (made in the window) as the window's job runner does,
          without prompts; prints the log and one result line per job (number, mode, A, B, status,
          lines done and failed). The criteria and the folder-synch rule come from config.ini
          where the window keeps it. --dry-run prints each job's plan instead

MODE is backup, synch, copy-missing or delete-duplicates (or its index 0 to 3). jobs takes what
becomes of removed files and --verify from the window's unattended.ini unless given here.

Options:
  --no-subfolders   only the files directly in the locations
  --criteria LIST   which facts make two files the same file: a comma-separated subset of
                    size,name,time (default size,name,time)
  --keep-older      folder synch keeps the older of two same-named files (default: the newer)
  --keep-other      folder synch also keeps the other file under a dated name
  --dry-run         dedupe, jobs: print the action lists, change nothing
  --format FORMAT   plan: text (the action lines, the default) or json (one JSON object per
                    action: kind, source, target, size, reason)
  --max-delete BOUND  sync, jobs: refuse a plan that deletes more than BOUND of the files of the
                    side it deletes from: a share (50%, the default, applies when that side holds
                    at least 10 files), a number of files (200), or none
  --wait            sync, dedupe, jobs: when another run works on the same destination, wait for
                    it to end instead of refusing
  --trash           sync, dedupe, jobs: move every file an action removes or replaces (a deleted
                    file, the old version under a copy) to the desktop's trash of its own file
                    system instead of deleting it; a file no trash can take stays, its line fails
  --delete          jobs: delete removed and replaced files outright, whatever the window saved
                    (without it, jobs keep them as the configuration window says)
  --versions DIR    sync, dedupe, jobs: move every file an action removes or replaces into DIR,
                    under its path below its location, with the run's date and time in its name;
                    DIR lies outside A and B, on their file system (files are moved, never copied)
  --versions-keep DAYS  sync, dedupe, jobs: keep versions (in DIR, else in .paritas-versions at the
                    top of each location) and remove those older than DAYS at the end of the run
  --verify          sync, jobs: read every copy back and compare its CRC with the source's before
                    it takes its name; a copy that differs fails and leaves the destination as it was
  --hard-links      plan, sync, jobs: a backup links the names of A that share one file in B too
                    (the first copied, the others "HardLink" lines to it)
  --xattrs          plan, sync, jobs: a backup also compares ACLs and extended attributes (a read
                    per file on both sides), so that a change of them alone is carried; copies
                    carry them always
  -q, --quiet       print only what tells of an error
  --log-file FILE   also append every log line to FILE, each with a time stamp
  --log FILE        jobs: write the run's log to FILE as the window saves its action log (a
                    folder: ActionLog<date and time>.txt inside it)
  --threads N       how many threads read folders in each scan and copy files at once
                    (1 to 64; default: the number of cores, at most 8, for reading, and 4 for
                    copying); 1 does everything one step at a time. Plans, logs and results are
                    the same for every N
  --exclude PATTERN leave out what PATTERN matches (.gitignore syntax); may be given again
  --include PATTERN take back what an earlier rule left out
  --exclude-from FILE  leave out what the patterns of FILE match (one a line, as in .gitignore)
  --delete-excluded plan, sync: a backup deletes from B what the rules leave out (counted by
                    --max-delete like any deletion)

Locations are folders, given with or without a trailing "/"; relative ones are taken from the
current folder. A location that does not exist is reported and scanned as empty. The activity log
of plan, crc and dedupe --dry-run goes to stderr; a progress line is shown there when it is a
terminal. Dates and times follow LC_TIME.

Copies and the folders a run makes keep permissions, times, ACLs and extended attributes, and owner
and group where the process may set them (as root; anyone else keeps its own, as cp does in archive
mode). A backup makes B follow A in these too: a change of permissions (owner and group as root)
alone becomes an "Attributes" line, and a folder's times are set once its contents are done. What the
file system of B cannot hold (exFAT: owners, modes, attributes) is skipped with one line saying so.

A location may lie on another machine or in the cloud, reached through rclone (apt install rclone):
REMOTE:FOLDER names a folder on a remote of "rclone config" (nas:backup, or nas:/srv/backup from
the server's root), and :BACKEND,PARAMETER=VALUE,...:FOLDER one made on the fly
(:sftp,host=server,user=ann:backup). Such a location is taken as written; its folders are read and
changed through rclone, which Paritas starts for the run and ends with it. Links there cannot be
seen, times are compared as closely as the remote keeps them (a remote that keeps none refuses the
time criterion and folder synch), and it has no trash (--versions-keep keeps removed files in its
.paritas-versions folder, moved there on the server). crc takes no remote. A local folder whose
name holds ":" before any "/" is written ./name:x.

Folders that cannot be read are reported and never taken for empty: nothing on the other side is
deleted, moved away or overwritten because of what could not be seen. Names holding "*" or a control
character cannot be carried and are skipped with a line each.

Leaving things out: ".paritasignore" at the top of A (for synch, of A and of B) holds patterns in
.gitignore syntax. With --exclude, --include and --exclude-from (first, in the order given) they make
one rule set for both sides; the last rule that matches a path decides, as in git (unlike rsync's
first match): --exclude 'build/*' --include 'build/keep.txt' keeps that one file. A left-out folder
is not read at all, and nothing left out is copied, moved, overwritten or deleted on either side (a
left-out file that only B holds stays, unless --delete-excluded). A pattern or ignore file that
cannot be read stops the command before anything runs, with exit status 2.

One run per destination: sync, dedupe and jobs lock the folder they write (B; A too in folder
synch; A for dedupe) for the time of the run; a second run on it is refused, or waits with --wait.

Exit status: 0 success; 1 sync or dedupe with a failed action, crc with a bad match, jobs with a
job that failed or did not run, or any command that could not see everything (a folder or file
that cannot be read, a name that cannot be carried); 2 usage error, a job list that cannot be
read or holds a bad line (nothing runs), or a remote location while rclone is not installed (apt
install rclone) or its configuration's password is missing; 3 refused by a safety rule (location A
missing in backup, a location that cannot be read, no criterion, overlapping locations, more
deletions than --max-delete allows, another run working on the destination); 4 an unexpected
error, or output that could not be written; 130 / 143 / 129 interrupted by SIGINT / SIGTERM /
SIGHUP (the copy under way is cancelled and leaves the old file as it was; no action runs after it).

Example, a nightly backup from cron (crontab -e):
  30 2 * * *  paritas-cli sync backup /home/ann/Documents /mnt/backup/Documents >>/var/log/paritas.log 2>&1
Example, a backup to a NAS over SFTP (a remote "nas" made with rclone config):
  paritas-cli sync backup --versions-keep 30 /home/ann/Documents nas:backup/Documents
)";

// Copies that run at once on the command line: --threads, else the engine's default pool.
int copyWorkers(const Options& o) {
    return o.threads > 0 ? o.threads : kDefaultCopyWorkers;
}

// The scans of scan and crc (which make no run): the filter options, then A's ignore file, for both
// sides, as a backup composes them.
ScanOptions scanOptions(const Options& o, const std::shared_ptr<const FilterRules>& rules) {
    ScanOptions options;
    options.includeSubfolders = o.includeSubfolders;
    options.threads = o.threads;
    if (rules && !rules->empty())
        options.filters = rules;
    return options;
}

ScanResult scanSide(const std::string& location, Side side, const ScanOptions& options, ConsoleHost& host) {
    host.setPhase(Phase::Scanning, side == Side::A ? "Scanning A" : "Scanning B");
    if (isRemoteLocation(location)) {
        // A remote is read through its location (the command checked that rclone starts).
        std::string problem;
        if (const std::unique_ptr<Location> opened = openLocation(location, &problem))
            return scanLocation(*opened, options, side, host);
        host.log(problem);
    }
    return scanLocation(location, options, side, host);
}

// Both locations at once: B is scanned in the background while A is scanned here; the log tells A's
// scan, then B's, as one after the other would.
std::pair<ScanResult, ScanResult> scanBoth(const Options& o, const ScanOptions& options, ConsoleHost& host) {
    ScanAhead b(o.locations[1], options, Side::B);
    ScanResult a = scanSide(o.locations[0], Side::A, options, host);
    host.setPhase(Phase::Scanning, "Scanning B");
    return {std::move(a), b.finish(host)};
}

void printLines(const ActionList& items) {
    for (const PlanItem& item : items)
        printLine(lineText(item));
}

// Runs the plan as the windows run it without review; the log goes wherever the host writes it.
// A signal during the run cancels the copy under way and ends the run after that line.
int performAndCount(RunSession& run, ConsoleHost& host, LogSinks& sinks) {
    StopFlags flags;
    host.setPhase(Phase::Actions, "Actions", static_cast<int64_t>(run.actions().size()));
    host.watch(&flags);
    const ExecutionCounts counts = run.execute(host, flags);
    host.watch(nullptr);
    if (const auto& refusal = run.refusal())
        return refused(runRefusalText(*refusal), sinks);
    if (const int signal = interruption()) {
        host.log(std::string("Interrupted by ") + signalName(signal) +
                 (counts.cancelled > 0 ? ": the copy under way was cancelled and no further action ran"
                                       : ": no further action ran"));
        return 128 + signal;
    }
    return counts.bad > 0 ? kFailedActions : kSuccess;
}

// A run that could not see everything, or left files alone because of it, is no complete run.
int incompleteUnlessSo(int status, bool complete) {
    return status == kSuccess && !complete ? kFailedActions : status;
}

int runScan(const Options& o, RunContext& context) {
    const RunRules rules = runRules(o.settings, o.filters, PlanKind::DuplicatesWithinA, o.locations[0], {});
    if (rules.error)
        return unreadableFilters(rules.error->text(), context.sinks);
    ConsoleHost host(stderr, context.progress, o.settings, &context.sinks);
    const ScanResult scan = scanSide(o.locations[0], Side::A, scanOptions(o, rules.rules), host);
    context.progress.clear();
    const bool complete = scan.coverage.complete();
    const Inventory& inv = scan.inventory;
    for (std::size_t i = 0; i < inv.fileCount(); ++i) {
        std::string line = inv.fullPathCell(i);
        for (int column = 1; column < 5; ++column)
            line.append(1, '\t').append(inv.cell(i, column));
        printLine(line);
    }
    return incompleteUnlessSo(kSuccess, complete);
}

void printPlan(const Options& o, const PlanResult& plan) {
    if (o.format == PlanFormat::Text) {
        printLines(plan.actions);
        return;
    }
    for (std::size_t i = 0; i < plan.actions.size(); ++i)
        printLine(actionJson(plan, i, o.mode, o.settings));
}

// The run of plan, sync and dedupe: the lock (sync and dedupe) before the scans, so that what is
// planned is what no other run changes; the guard (sync) looks at the plan before any item runs.
// Unlike the windows, the command line does not scan again after the run: nobody looks at the counts.
int runSession(RunRequest request, const Options& o, RunContext& context, bool printsPlan) {
    const bool changes = !request.planOnly;
    ConsoleHost host(changes ? stdout : stderr, context.progress, o.settings, &context.sinks);
    host.setCopyWorkers(copyWorkers(o));
    ConsoleRunHost runHost(host, o.waitForLock);
    RunSession run(std::move(request));
    const bool planned = run.prepare(runHost);
    context.progress.clear();
    if (!planned) {
        const RunRefusal& refusal = *run.refusal();
        if (refusal.by == RunRefusal::By::Filters)
            return unreadableFilters(refusal.reason, context.sinks);
        if (refusal.by == RunRefusal::By::Guard)
            host.log("Refused: " + refusal.reason);
        return refused(runRefusalText(refusal), context.sinks);
    }
    const bool complete = run.complete();
    if (!changes) {
        if (printsPlan)
            printPlan(o, run.planned());
        else
            printLines(run.actions());
        return incompleteUnlessSo(kSuccess, complete);
    }
    const int status = performAndCount(run, host, context.sinks);
    if (status > 128 || status == kRefused)
        return status;
    if (!complete && run.request().kind != PlanKind::DuplicatesWithinA)
        host.log("The run is incomplete: what could not be seen or carried was left alone (see above).");
    return incompleteUnlessSo(status, complete);
}

RunRequest requestOf(const Options& o, PlanKind kind) {
    RunRequest request;
    request.kind = kind;
    request.locationA = o.locations[0];
    request.locationB = kind == PlanKind::DuplicatesWithinA ? std::string() : o.locations[1];
    request.includeSubfolders = o.includeSubfolders;
    request.settings = o.settings;
    request.scanThreads = o.threads;
    request.filters = o.filters;
    return request;
}

int runPlanOrSync(const Options& o, RunContext& context) {
    RunRequest request = requestOf(o, PlanKind(o.mode));
    request.planOnly = o.command != Command::Sync;
    if (!request.planOnly)
        request.deletionBound = o.maxDelete;
    return runSession(std::move(request), o, context, true);
}

int runDedupe(const Options& o, RunContext& context) {
    RunRequest request = requestOf(o, PlanKind::DuplicatesWithinA);
    request.planOnly = o.dryRun;
    return runSession(std::move(request), o, context, false);
}

int runCrc(const Options& o, RunContext& context) {
    // With no criterion every file of A would pair with the first file of B: a page of meaningless
    // "Different!!!" rows. Refused like a plan without criteria.
    if (auto problem = criteriaProblem(o.settings))
        return refused(*problem, context.sinks);
    const RunRules rules = runRules(o.settings, o.filters, PlanKind::Backup, o.locations[0], o.locations[1]);
    if (rules.error)
        return unreadableFilters(rules.error->text(), context.sinks);
    ConsoleHost host(stderr, context.progress, o.settings, &context.sinks);
    const auto [a, b] = scanBoth(o, scanOptions(o, rules.rules), host);
    const bool sawA = a.coverage.complete();
    const bool sawB = b.coverage.complete();
    host.setPhase(Phase::Planning, "Pairing");
    CrcMatchTable table = pairCrcMatches(a.inventory, b.inventory, o.settings, static_cast<ScanHost&>(host));
    host.setPhase(Phase::Crc, "CRC");
    const int bad = compareCrcMatches(table, host);
    context.progress.clear();
    for (const CrcMatchRow& row : table)
        printLine(row.status + '\t' + row.crcA + '\t' + row.crcB + '\t' + row.pathA + '\t' + row.pathB);
    printLine(badCrcMatchMessage(bad));
    return incompleteUnlessSo(bad > 0 ? kFailedActions : kSuccess, sawA && sawB);
}

int dispatch(const Options& options, RunContext& context) {
    switch (options.command) {
    case Command::Scan:
        return runScan(options, context);
    case Command::Dedupe:
        return runDedupe(options, context);
    case Command::Crc:
        return runCrc(options, context);
    case Command::Jobs:
        return runJobs(options, context);
    case Command::Plan:
    case Command::Sync:
        break;
    }
    return runPlanOrSync(options, context);
}

// Remote locations need rclone: the run's daemon is started here, before anything else, so that a
// missing rclone or a locked configuration is a usage error (2) with its remedy, and held for the
// whole command, so that its runs share it; it ends with the command (and on a signal).
int startRemotes(const Options& options, std::shared_ptr<RemoteSession>& session) {
    const bool remote = std::any_of(options.locations.begin(), options.locations.end(),
                                    [](const std::string& text) { return isRemoteLocation(text); });
    if (!remote)
        return kSuccess;
    if (options.command == Command::Crc) {
        std::fprintf(stderr, "paritas-cli: crc reads both files on this machine and takes no remote location\n");
        return kUsageError;
    }
    RcResult failure;
    session = RemoteSession::acquire(failure);
    if (session)
        return kSuccess;
    std::fprintf(stderr, "paritas-cli: %s\n", describe(failure).c_str());
    return failure.error == kRcloneMissing || failure.error == kRcloneConfigPassword ? kUsageError
                                                                                      : kUnexpectedError;
}

int runCommand(const Options& options) {
    // A run whose log reader goes away (a closed pipe) runs to its end rather than stop between two
    // actions; the lost output is reported by the exit status.
    const bool changes = options.command == Command::Sync || options.command == Command::Jobs ||
                         (options.command == Command::Dedupe && !options.dryRun);
    if (changes)
        std::signal(SIGPIPE, SIG_IGN);
    catchInterruptions();
    std::shared_ptr<RemoteSession> remotes;
    if (const int status = startRemotes(options, remotes); status != kSuccess)
        return status;
    LogSinks sinks;
    sinks.quiet = options.quiet;
    std::FILE* logFile = nullptr;
    if (!options.logFile.empty()) {
        logFile = std::fopen(options.logFile.c_str(), "ae");
        if (!logFile) {
            std::fprintf(stderr, "paritas-cli: the log file \"%s\" cannot be opened: %s\n",
                         options.logFile.c_str(), std::strerror(errno));
            return kUnexpectedError;
        }
        sinks.file = logFile;
    }
    ProgressLine progress(::isatty(STDERR_FILENO) == 1 && !options.quiet);
    RunContext context{progress, sinks};
    int status = dispatch(options, context);
    progress.clear();
    if (logFile && std::fclose(logFile) != 0)
        sinks.fileFailed = true;
    if (sinks.fileFailed) {
        std::fprintf(stderr, "paritas-cli: the log file \"%s\" could not be written\n",
                     options.logFile.c_str());
        if (status == kSuccess)
            status = kUnexpectedError;
    }
    return status;
}

bool asksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            return false;
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "paritas-cli: %s\nTry 'paritas-cli --help' for the usage.\n", message.c_str());
    return kUsageError;
}

} // namespace

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

int unreadableFilters(const std::string& error, LogSinks& sinks) {
    std::fflush(stdout);
    sinks.record("paritas-cli: " + error);
    std::fprintf(stderr, "paritas-cli: %s\n", error.c_str());
    return kUsageError;
}

int refused(const std::string& reason, LogSinks& sinks) {
    std::fflush(stdout);
    sinks.record("paritas-cli: refused: " + reason);
    std::fprintf(stderr, "paritas-cli: refused: %s\n", reason.c_str());
    return kRefused;
}

std::string runRefusalText(const RunRefusal& refusal) {
    switch (refusal.by) {
    case RunRefusal::By::Lock:
        return refusal.byAnotherRun ? refusal.reason + "; --wait waits for it" : refusal.reason;
    case RunRefusal::By::Guard:
        return refusal.reason + "; --max-delete sets the bound";
    case RunRefusal::By::Planner:
    case RunRefusal::By::Filters:
        break;
    }
    return refusal.reason;
}

int run(int argc, char** argv) {
    if (asksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return kSuccess;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("paritas-cli %s\n", PARITAS_VERSION);
        return kSuccess;
    }
    int status = kSuccess;
    try {
        status = runCommand(parse(argc, argv));
    } catch (const UsageError& e) {
        return usageError(e.message);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "paritas-cli: the output could not be written: %s\n", std::strerror(errno));
        return kUnexpectedError;
    }
    return status;
}

} // namespace paritas::cli

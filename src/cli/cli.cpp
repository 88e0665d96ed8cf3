#include "cli/cli.h"

#include "cli/console_host.h"

#include "core/checksum/crc_matching.h"
#include "core/planning/plan_support.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"

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
  paritas-cli dedupe [--no-subfolders] [--criteria LIST] [--dry-run] A
  paritas-cli crc   [--no-subfolders] [--criteria LIST] A B
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

MODE is backup, synch, copy-missing or delete-duplicates (or its index 0 to 3).

Options:
  --no-subfolders   only the files directly in the locations
  --criteria LIST   which facts make two files the same file: a comma-separated subset of
                    size,name,time (default size,name)
  --keep-older      folder synch keeps the older of two same-named files (default: the newer)
  --keep-other      folder synch also keeps the other file under a dated name
  --dry-run         dedupe: print the action list, delete nothing

Locations are folders, given with or without a trailing "/"; relative ones are taken from the
current folder. A location that does not exist is reported and scanned as empty. The activity log
of plan, crc and dedupe --dry-run goes to stderr; a progress line is shown there when it is a
terminal. Dates and times follow LC_TIME.

Folders that cannot be read are reported and never taken for empty: nothing on the other side is
deleted, moved away or overwritten because of what could not be seen. Names holding "*" or a control
character cannot be carried and are skipped with a line each.

Exit status: 0 success; 1 sync or dedupe with a failed action, crc with a bad match, or any command
that could not see everything (a folder or file that cannot be read, a name that cannot be carried);
2 usage error; 3 refused by a safety rule (location A missing in backup, a location that cannot be
read, no criterion, overlapping locations); 4 an unexpected error, or output that could not be
written; 130 / 143 / 129 interrupted by SIGINT / SIGTERM / SIGHUP (the copy under way is cancelled
and leaves the old file as it was; no action runs after it).

Example, a nightly backup from cron (crontab -e):
  30 2 * * *  paritas-cli sync backup /home/ann/Documents /mnt/backup/Documents >>/var/log/paritas.log 2>&1
)";

struct UsageError {
    std::string message;
};

enum class Command { Scan, Plan, Sync, Dedupe, Crc };

struct Options {
    Command command = Command::Scan;
    int mode = -1;
    bool includeSubfolders = true;
    Settings settings;
    bool dryRun = false;
    std::vector<std::string> locations;
};

// The settings of a command-line run: no review, no prompts; the same-file criteria size and name,
// the newer file wins, as a fresh configuration has them.
Settings commandLineSettings() {
    Settings s;
    s.CheckBoxConfirm = false;
    s.CheckDelete = s.CheckCreate = s.CheckCopy = false;
    return s;
}

Command parseCommand(const std::string& text) {
    static const std::pair<const char*, Command> commands[] = {{"scan", Command::Scan},
                                                               {"plan", Command::Plan},
                                                               {"sync", Command::Sync},
                                                               {"dedupe", Command::Dedupe},
                                                               {"crc", Command::Crc}};
    for (const auto& [name, command] : commands)
        if (text == name)
            return command;
    throw UsageError{"unknown command \"" + text + "\""};
}

int parseMode(const std::string& text) {
    static const char* names[4] = {"backup", "synch", "copy-missing", "delete-duplicates"};
    for (int i = 0; i < 4; ++i)
        if (text == names[i] || text == std::to_string(i))
            return i;
    throw UsageError{"unknown mode \"" + text + "\" (use backup, synch, copy-missing or delete-duplicates)"};
}

// An empty list (or one of commas only) ticks no criterion; the run is then refused, as the windows
// refuse it.
void parseCriteria(const std::string& list, Settings& s) {
    s.CheckSize = s.CheckName = s.CheckTimeStamp = false;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        std::string word = list.substr(start, end - start);
        word.erase(0, word.find_first_not_of(' '));
        word.erase(word.find_last_not_of(' ') + 1);
        if (word == "size")
            s.CheckSize = true;
        else if (word == "name")
            s.CheckName = true;
        else if (word == "time")
            s.CheckTimeStamp = true;
        else if (!word.empty())
            throw UsageError{"unknown criterion \"" + word + "\" in --criteria (use size, name, time)"};
        start = end + 1;
    }
}

// An absolute location text ending with exactly one separator. A location that does not exist is
// accepted (backup into a new folder; the scan reports it), one that is a file is not.
std::string locationText(const std::string& given) {
    namespace fs = std::filesystem;
    if (given.empty())
        throw UsageError{"a location must not be empty"};
    std::string shown = given; // the message stays one line
    std::replace_if(
        shown.begin(), shown.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }, '?');
    const std::string uncarriable =
        "the location \"" + shown + "\" holds a \"*\" or a control character, which cannot be carried";
    if (holdsUncarriableCharacter(given))
        throw UsageError{uncarriable};
    fs::path path = fs::absolute(given);
    // ".." is resolved on the real folders, as the file system would: the folder before it may be a
    // link, and cutting the text would then name another folder.
    const bool climbs =
        std::any_of(path.begin(), path.end(), [](const fs::path& part) { return part == ".."; });
    std::string text = (climbs ? fs::weakly_canonical(path) : path.lexically_normal()).string();
    while (text.size() > 1 && text.back() == kSeparator)
        text.pop_back();
    if (holdsUncarriableCharacter(text))
        throw UsageError{uncarriable};
    if (fileExists(text) && !folderExists(text))
        throw UsageError{"the location \"" + given + "\" is a file, not a folder"};
    return withTrailingSeparator(text);
}

Options parse(int argc, char** argv) {
    if (argc < 2)
        throw UsageError{"no command given"};
    Options o;
    o.command = parseCommand(argv[1]);
    o.settings = commandLineSettings();
    const bool takesMode = o.command == Command::Plan || o.command == Command::Sync;
    const bool takesCriteria = o.command != Command::Scan;
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-subfolders") {
            o.includeSubfolders = false;
        } else if (arg == "--criteria" && takesCriteria) {
            if (i + 1 >= argc)
                throw UsageError{"--criteria needs a list such as size,name"};
            parseCriteria(argv[++i], o.settings);
        } else if (arg.rfind("--criteria=", 0) == 0 && takesCriteria) {
            parseCriteria(arg.substr(11), o.settings);
        } else if (arg == "--keep-older" && takesMode) {
            o.settings.CheckNewer = false;
        } else if (arg == "--keep-other" && takesMode) {
            o.settings.CheckKeepOld = true;
        } else if (arg == "--dry-run" && o.command == Command::Dedupe) {
            o.dryRun = true;
        } else if (arg == "--") {
            positional.insert(positional.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option \"" + arg + "\" for " + argv[1]};
        } else {
            positional.push_back(arg);
        }
    }
    if (takesMode) {
        if (positional.empty())
            throw UsageError{std::string(argv[1]) + " needs a MODE"};
        o.mode = parseMode(positional.front());
        positional.erase(positional.begin());
    }
    const std::size_t wanted = o.command == Command::Scan || o.command == Command::Dedupe ? 1 : 2;
    if (positional.size() != wanted)
        throw UsageError{std::string(argv[1]) + " needs " +
                         (wanted == 1 ? std::string("one location") : "locations A and B") + ", got " +
                         std::to_string(positional.size())};
    for (const std::string& p : positional)
        o.locations.push_back(locationText(p));
    return o;
}

ScanResult scanSide(const std::string& location, Side side, bool subfolders, ConsoleHost& host) {
    host.setPhase(Phase::Scanning, side == Side::A ? "Scanning A" : "Scanning B");
    return scanLocation(location, subfolders, side, host);
}

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void printLines(const ActionList& lines) {
    for (const std::string& line : lines)
        printLine(line);
}

int refused(const std::string& reason) {
    std::fflush(stdout);
    std::fprintf(stderr, "paritas-cli: refused: %s\n", reason.c_str());
    return kRefused;
}

// Runs the list as the windows run it without review; the log goes wherever the host writes it.
// A signal during the run cancels the copy under way and ends the run after that line.
int performAndCount(const PlanResult& plan, ConsoleHost& host) {
    StopFlags flags;
    host.setPhase(Phase::Actions, "Actions", static_cast<int64_t>(plan.actions.size()));
    host.watch(&flags);
    const ExecutionCounts counts = PerformActions(plan.actions, flags, host, plan.facts);
    host.watch(nullptr);
    if (const int signal = interruption()) {
        host.log(std::string("Interrupted by ") + signalName(signal) +
                 ": the copy under way was cancelled and no further action ran");
        return 128 + signal;
    }
    return counts.bad > 0 ? kFailedActions : kSuccess;
}

// A run that could not see everything, or left files alone because of it, is no complete run.
int incompleteUnlessSo(int status, bool complete) {
    return status == kSuccess && !complete ? kFailedActions : status;
}

int runScan(const Options& o, ProgressLine& progress) {
    ConsoleHost host(stderr, progress, o.settings);
    const ScanResult scan = scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    progress.clear();
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

int runPlanOrSync(const Options& o, ProgressLine& progress) {
    const bool sync = o.command == Command::Sync;
    ConsoleHost host(sync ? stdout : stderr, progress, o.settings);
    ScanResult a = scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    ScanResult b = scanSide(o.locations[1], Side::B, o.includeSubfolders, host);
    PlanInput input{o.locations[0], o.locations[1], &a.folders, &b.folders,
                    &a.inventory,   &b.inventory,   o.settings, o.includeSubfolders};
    input.coverageA = &a.coverage;
    input.coverageB = &b.coverage;
    host.setPhase(Phase::Planning, "Planning");
    const PlanResult plan = planForMode(o.mode, input, host);
    progress.clear();
    if (plan.refused)
        return refused(plan.refusal);
    const bool complete = a.coverage.complete() && b.coverage.complete() && plan.leftAlone == 0;
    if (!sync) {
        printLines(plan.actions);
        return incompleteUnlessSo(kSuccess, complete);
    }
    const int status = performAndCount(plan, host);
    if (status > 128)
        return status;
    // The windows scan both sides again after a run so that their counts show the new state.
    scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    scanSide(o.locations[1], Side::B, o.includeSubfolders, host);
    if (!complete)
        host.log("The run is incomplete: what could not be seen or carried was left alone (see above).");
    return incompleteUnlessSo(status, complete);
}

int runDedupe(const Options& o, ProgressLine& progress) {
    ConsoleHost host(o.dryRun ? stderr : stdout, progress, o.settings);
    ScanResult a = scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    FolderList noFolders;
    Inventory noInventory;
    PlanInput input{o.locations[0], std::string(), &a.folders, &noFolders,
                    &a.inventory,   &noInventory,  o.settings, o.includeSubfolders};
    input.coverageA = &a.coverage;
    host.setPhase(Phase::Planning, "Planning");
    const PlanResult plan = DuplicatesWithinA(input, host);
    progress.clear();
    if (plan.refused)
        return refused(plan.refusal);
    const bool complete = a.coverage.complete();
    if (o.dryRun) {
        printLines(plan.actions);
        return incompleteUnlessSo(kSuccess, complete);
    }
    const int status = performAndCount(plan, host);
    if (status > 128)
        return status;
    scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    return incompleteUnlessSo(status, complete);
}

int runCrc(const Options& o, ProgressLine& progress) {
    // With no criterion every file of A would pair with the first file of B: a page of meaningless
    // "Different!!!" rows. Refused like a plan without criteria.
    if (auto problem = criteriaProblem(o.settings))
        return refused(*problem);
    ConsoleHost host(stderr, progress, o.settings);
    const ScanResult a = scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    const ScanResult b = scanSide(o.locations[1], Side::B, o.includeSubfolders, host);
    const bool sawA = a.coverage.complete();
    const bool sawB = b.coverage.complete();
    host.setPhase(Phase::Planning, "Pairing");
    CrcMatchTable table = pairCrcMatches(a.inventory, b.inventory, o.settings, static_cast<ScanHost&>(host));
    host.setPhase(Phase::Crc, "CRC");
    const int bad = compareCrcMatches(table, host);
    progress.clear();
    for (const CrcMatchRow& row : table)
        printLine(row.status + '\t' + row.crcA + '\t' + row.crcB + '\t' + row.pathA + '\t' + row.pathB);
    printLine(badCrcMatchMessage(bad));
    return incompleteUnlessSo(bad > 0 ? kFailedActions : kSuccess, sawA && sawB);
}

int runCommand(const Options& options) {
    // A sync or dedupe whose log reader goes away (a closed pipe) runs to its end rather than stop
    // between two actions; the lost output is reported by the exit status.
    if (options.command == Command::Sync || (options.command == Command::Dedupe && !options.dryRun))
        std::signal(SIGPIPE, SIG_IGN);
    catchInterruptions();
    ProgressLine progress(::isatty(STDERR_FILENO) == 1);
    switch (options.command) {
    case Command::Scan:
        return runScan(options, progress);
    case Command::Dedupe:
        return runDedupe(options, progress);
    case Command::Crc:
        return runCrc(options, progress);
    case Command::Plan:
    case Command::Sync:
        break;
    }
    return runPlanOrSync(options, progress);
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

} // namespace

int run(int argc, char** argv) {
    if (asksForHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return kSuccess;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("paritas-cli %s\n", PARITAS_VERSION);
        return kSuccess;
    }
    Options options;
    try {
        options = parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "paritas-cli: %s\nTry 'paritas-cli --help' for the usage.\n", e.message.c_str());
        return kUsageError;
    }
    const int status = runCommand(options);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "paritas-cli: the output could not be written: %s\n", std::strerror(errno));
        return kUnexpectedError;
    }
    return status;
}

} // namespace paritas::cli

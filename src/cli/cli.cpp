#include "cli/cli.h"

#include "cli/console_host.h"

#include "core/app/modes.h"
#include "core/checksum/crc_matching.h"
#include "core/platform/path_text.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
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

Locations may be given with or without a trailing "/"; relative ones are taken from the current
folder. The activity log of plan, crc and dedupe --dry-run goes to stderr; a progress line is shown
there when it is a terminal. Dates and times follow LC_TIME.

Exit status: 0 success; 1 sync or dedupe with a failed action, or crc with a bad match;
2 usage error; 3 refused by a safety rule (location A missing in backup, no criterion,
overlapping locations); 4 an unexpected internal error.

Example, a nightly backup from cron (crontab -e):
  30 2 * * *  paritas-cli sync backup /home/ann/Documents /mnt/backup/Documents >>/var/log/paritas.log 2>&1
)";

struct UsageError {
    std::string message;
};

struct Options {
    std::string command;
    int mode = -1;
    bool includeSubfolders = true;
    Settings settings;
    bool dryRun = false;
    std::vector<std::string> locations;
};

Settings commandLineSettings() {
    Settings s;
    s.CheckBoxConfirm = false; // no review: the plan runs as printed
    s.CheckDelete = s.CheckCreate = s.CheckCopy = false;
    return s;
}

int parseMode(const std::string& text) {
    static const char* names[4] = {"backup", "synch", "copy-missing", "delete-duplicates"};
    for (int i = 0; i < 4; ++i)
        if (text == names[i] || text == std::to_string(i))
            return i;
    throw UsageError{"unknown mode \"" + text + "\" (use backup, synch, copy-missing or delete-duplicates)"};
}

void parseCriteria(const std::string& list, Settings& s) {
    s.CheckSize = s.CheckName = s.CheckTimeStamp = false;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string word = list.substr(start, end - start);
        if (word == "size")
            s.CheckSize = true;
        else if (word == "name")
            s.CheckName = true;
        else if (word == "time")
            s.CheckTimeStamp = true;
        else if (!word.empty() || list.empty())
            throw UsageError{"unknown criterion \"" + word + "\" in --criteria (use size, name, time)"};
        start = end + 1;
    }
}

// An absolute location text ending with exactly one separator.
std::string locationText(const std::string& given) {
    if (given.empty())
        throw UsageError{"a location must not be empty"};
    if (holdsUncarriableCharacter(given))
        throw UsageError{"the location \"" + given +
                         "\" holds a \"*\" or a control character, which cannot be carried"};
    std::filesystem::path path(given);
    if (!path.is_absolute())
        path = std::filesystem::current_path() / path;
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == kSeparator)
        text.pop_back();
    return withTrailingSeparator(text);
}

Options parse(int argc, char** argv) {
    if (argc < 2)
        throw UsageError{"no command given"};
    Options o;
    o.command = argv[1];
    o.settings = commandLineSettings();
    static const std::vector<std::string> commands = {"scan", "plan", "sync", "dedupe", "crc"};
    if (std::find(commands.begin(), commands.end(), o.command) == commands.end())
        throw UsageError{"unknown command \"" + o.command + "\""};
    const bool takesMode = o.command == "plan" || o.command == "sync";
    const bool takesCriteria = takesMode || o.command == "dedupe" || o.command == "crc";
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
        } else if (arg == "--dry-run" && o.command == "dedupe") {
            o.dryRun = true;
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                positional.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option \"" + arg + "\" for " + o.command};
        } else {
            positional.push_back(arg);
        }
    }
    std::size_t wanted = o.command == "scan" || o.command == "dedupe" ? 1 : 2;
    if (takesMode) {
        if (positional.empty())
            throw UsageError{o.command + " needs a MODE"};
        o.mode = parseMode(positional.front());
        positional.erase(positional.begin());
    }
    if (positional.size() != wanted)
        throw UsageError{o.command + " needs " +
                         (wanted == 1 ? std::string("one location") : "locations A and B") + ", got " +
                         std::to_string(positional.size())};
    for (const std::string& p : positional)
        o.locations.push_back(locationText(p));
    return o;
}

struct Scans {
    ScanResult a, b;
};

ScanResult scanSide(const std::string& location, Side side, bool subfolders, ConsoleHost& host) {
    host.setPhase(side == Side::A ? "Scanning A" : "Scanning B");
    return scanLocation(location, subfolders, side, host);
}

PlanResult planMode(int mode, PlanInput& input, PlannerHost& host) {
    switch (mode) {
    case 0:
        return AMasterB(input, host);
    case 1:
        return FolderSynch(input, host);
    case 2:
        return CopyMissing(input, host);
    default:
        return Duplicatedel(input, host);
    }
}

void printLines(const ActionList& lines) {
    for (const std::string& line : lines) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
}

int refused(const PlanResult& plan) {
    std::fflush(stdout);
    std::fprintf(stderr, "paritas-cli: refused: %s\n", plan.refusal.c_str());
    return kRefused;
}

int runScan(const Options& o, ProgressLine& progress) {
    ConsoleHost host(stderr, progress);
    const ScanResult scan = scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    progress.clear();
    const Inventory& inv = scan.inventory;
    for (std::size_t i = 0; i < inv.fileCount(); ++i) {
        std::string line = inv.fullPathCell(i);
        for (int column = 1; column < 5; ++column) {
            line += '\t';
            line += inv.cell(i, column);
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return kSuccess;
}

int runPlanOrSync(const Options& o, ProgressLine& progress) {
    const bool sync = o.command == "sync";
    ConsoleHost host(sync ? stdout : stderr, progress);
    host.setSettings(o.settings);
    Scans scans{scanSide(o.locations[0], Side::A, o.includeSubfolders, host),
                scanSide(o.locations[1], Side::B, o.includeSubfolders, host)};
    PlanInput input{o.locations[0],     o.locations[1],     &scans.a.folders, &scans.b.folders,
                    &scans.a.inventory, &scans.b.inventory, o.settings,       o.includeSubfolders};
    host.setPhase("Planning");
    const PlanResult plan = planMode(o.mode, input, host);
    progress.clear();
    if (plan.refused)
        return refused(plan);
    if (!sync) {
        printLines(plan.actions);
        return kSuccess;
    }
    StopFlags flags;
    host.setPhase("Actions");
    const ExecutionCounts counts = PerformActions(plan.actions, flags, host);
    // The window scans both sides again after a run so that its counts show the new state.
    scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    scanSide(o.locations[1], Side::B, o.includeSubfolders, host);
    return counts.bad > 0 ? kFailedActions : kSuccess;
}

int runDedupe(const Options& o, ProgressLine& progress) {
    ConsoleHost host(o.dryRun ? stderr : stdout, progress);
    host.setSettings(o.settings);
    ScanResult a = scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    FolderList noFolders;
    Inventory noInventory;
    PlanInput input{o.locations[0], std::string(), &a.folders, &noFolders,
                    &a.inventory,   &noInventory,  o.settings, o.includeSubfolders};
    host.setPhase("Planning");
    const PlanResult plan = DuplicatesWithinA(input, host);
    progress.clear();
    if (plan.refused)
        return refused(plan);
    if (o.dryRun) {
        printLines(plan.actions);
        return kSuccess;
    }
    StopFlags flags;
    host.setPhase("Actions");
    const ExecutionCounts counts = PerformActions(plan.actions, flags, host);
    scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    return counts.bad > 0 ? kFailedActions : kSuccess;
}

int runCrc(const Options& o, ProgressLine& progress) {
    ConsoleHost host(stderr, progress);
    const ScanResult a = scanSide(o.locations[0], Side::A, o.includeSubfolders, host);
    const ScanResult b = scanSide(o.locations[1], Side::B, o.includeSubfolders, host);
    host.setPhase("Pairing");
    CrcMatchTable table = pairCrcMatches(a.inventory, b.inventory, o.settings, static_cast<ScanHost&>(host));
    host.setPhase("CRC");
    const int bad = compareCrcMatches(table, host);
    progress.clear();
    for (const CrcMatchRow& row : table) {
        const std::string line =
            row.status + '\t' + row.crcA + '\t' + row.crcB + '\t' + row.pathA + '\t' + row.pathB + '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::printf("%s\n", badCrcMatchMessage(bad).c_str());
    return bad > 0 ? kFailedActions : kSuccess;
}

} // namespace

int run(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
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
    ProgressLine progress(::isatty(STDERR_FILENO) == 1);
    if (options.command == "scan")
        return runScan(options, progress);
    if (options.command == "dedupe")
        return runDedupe(options, progress);
    if (options.command == "crc")
        return runCrc(options, progress);
    return runPlanOrSync(options, progress);
}

} // namespace paritas::cli

#include "cli/options.h"

#include "core/execution/removed_files.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"
#include "core/remote/remote_path.h"
#include "core/settings/removal_settings.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

namespace paritas::cli {
namespace {

constexpr const char* kModeWords[4] = {"backup", "synch", "copy-missing", "delete-duplicates"};

// Commands as bits, for the table of which command takes which option.
constexpr unsigned bit(Command c) {
    return 1u << unsigned(c);
}
constexpr unsigned kScan = bit(Command::Scan), kPlan = bit(Command::Plan), kSync = bit(Command::Sync),
                   kDedupe = bit(Command::Dedupe), kCrc = bit(Command::Crc), kJobs = bit(Command::Jobs);
constexpr unsigned kEvery = kScan | kPlan | kSync | kDedupe | kCrc | kJobs;

struct OptionSpec {
    const char* name;
    unsigned commands;
    const char* needs; // for options with a value: "--criteria needs ..." when it is missing
    void (*apply)(Options& o, const std::string& value);
};

void applyCriteria(Options& o, const std::string& value) {
    parseCriteria(value, o.settings);
    o.criteriaGiven = true;
}

void applyFormat(Options& o, const std::string& value) {
    if (value == "text")
        o.format = PlanFormat::Text;
    else if (value == "json")
        o.format = PlanFormat::Json;
    else
        throw UsageError{"unknown format \"" + value + "\" (use text or json)"};
}

void applyMaxDelete(Options& o, const std::string& value) {
    const auto bound = parseDeletionBound(value);
    if (!bound)
        throw UsageError{"--max-delete takes a number of files, a share such as 50%, or none; not \"" +
                         value + "\""};
    o.maxDelete = *bound;
}

void applyThreads(Options& o, const std::string& value) {
    const bool digits = !value.empty() && value.size() <= 3 &&
                        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int n = digits ? std::stoi(value) : 0;
    if (n < 1 || n > 64)
        throw UsageError{"--threads takes a number from 1 to 64, not \"" + value + "\""};
    o.threads = n;
}

void applyVersions(Options& o, const std::string& value) {
    namespace fs = std::filesystem;
    if (value.empty())
        throw UsageError{"the --versions folder must not be empty"};
    if (holdsUncarriableCharacter(value))
        throw UsageError{"the --versions folder holds a \"*\" or a control character"};
    std::string text = fs::absolute(value).lexically_normal().string();
    while (text.size() > 1 && text.back() == kSeparator)
        text.pop_back();
    if (fileExists(text) && !folderExists(text))
        throw UsageError{"the --versions folder \"" + value + "\" is a file, not a folder"};
    o.settings.removedFiles = RemovedFiles::Versions;
    o.settings.versionsFolder = text;
    o.versionsGiven = true;
}

void applyKeepDays(Options& o, const std::string& value) {
    const auto days = parseKeepDays(value);
    if (!days || *days < 1)
        throw UsageError{"--versions-keep takes a number of days from 1 to 36500, not \"" + value + "\""};
    o.settings.removedFiles = RemovedFiles::Versions;
    o.settings.versionsKeepDays = *days;
    o.keepDaysGiven = true;
}

// A filter option's pattern or file is taken as given; the run reads it (and refuses it when it cannot
// be read, naming the file and line) before anything else.
void addFilter(Options& o, FilterOption::Kind kind, const std::string& value) {
    o.filters.options.push_back(FilterOption{kind, value});
}

void needsText(std::string& into, const std::string& value, const char* what) {
    if (value.empty())
        throw UsageError{std::string(what) + " must not be empty"};
    into = value;
}

const OptionSpec kOptions[] = {
    {"--no-subfolders", kEvery & ~kJobs, nullptr,
     [](Options& o, const std::string&) { o.includeSubfolders = false; }},
    {"--criteria", kEvery & ~kScan, "a list such as size,name", applyCriteria},
    {"--keep-older", kPlan | kSync, nullptr,
     [](Options& o, const std::string&) { o.settings.CheckNewer = false; }},
    {"--keep-other", kPlan | kSync, nullptr,
     [](Options& o, const std::string&) { o.settings.CheckKeepOld = true; }},
    {"--dry-run", kDedupe | kJobs, nullptr, [](Options& o, const std::string&) { o.dryRun = true; }},
    {"--format", kPlan, "text or json", applyFormat},
    {"--max-delete", kSync | kJobs, "a bound such as 50%, 200 or none", applyMaxDelete},
    {"--wait", kSync | kDedupe | kJobs, nullptr,
     [](Options& o, const std::string&) { o.waitForLock = true; }},
    {"--quiet", kEvery, nullptr, [](Options& o, const std::string&) { o.quiet = true; }},
    {"-q", kEvery, nullptr, [](Options& o, const std::string&) { o.quiet = true; }},
    {"--log-file", kEvery, "a file name",
     [](Options& o, const std::string& v) { needsText(o.logFile, v, "the --log-file name"); }},
    {"--threads", kEvery, "a number from 1 to 64", applyThreads},
    {"--trash", kSync | kDedupe | kJobs, nullptr,
     [](Options& o, const std::string&) {
         o.settings.removedFiles = RemovedFiles::Trash;
         o.trashGiven = true;
     }},
    {"--delete", kJobs, nullptr,
     [](Options& o, const std::string&) {
         o.settings.removedFiles = RemovedFiles::Delete;
         o.deleteGiven = true;
     }},
    {"--versions", kSync | kDedupe | kJobs, "a folder", applyVersions},
    {"--versions-keep", kSync | kDedupe | kJobs, "a number of days", applyKeepDays},
    {"--verify", kSync | kJobs, nullptr,
     [](Options& o, const std::string&) {
         o.settings.verifyCopies = true;
         o.verifyGiven = true;
     }},
    {"--hard-links", kPlan | kSync | kJobs, nullptr,
     [](Options& o, const std::string&) { o.settings.hardLinks = true; }},
    {"--xattrs", kPlan | kSync | kJobs, nullptr,
     [](Options& o, const std::string&) { o.settings.compareAttributes = true; }},
    {"--log", kJobs, "a file name",
     [](Options& o, const std::string& v) { needsText(o.jobsLog, v, "the --log name"); }},
    {"--exclude", kEvery, "a pattern",
     [](Options& o, const std::string& v) { addFilter(o, FilterOption::Kind::Exclude, v); }},
    {"--include", kEvery, "a pattern",
     [](Options& o, const std::string& v) { addFilter(o, FilterOption::Kind::Include, v); }},
    {"--exclude-from", kEvery, "a file of patterns",
     [](Options& o, const std::string& v) { addFilter(o, FilterOption::Kind::ExcludeFrom, v); }},
    {"--delete-excluded", kPlan | kSync, nullptr,
     [](Options& o, const std::string&) { o.filters.deleteLeftOutOfB = true; }},
};

Command parseCommand(const std::string& text) {
    static const std::pair<const char*, Command> commands[] = {
        {"scan", Command::Scan},     {"plan", Command::Plan}, {"sync", Command::Sync},
        {"dedupe", Command::Dedupe}, {"crc", Command::Crc},   {"jobs", Command::Jobs}};
    for (const auto& [name, command] : commands)
        if (text == name)
            return command;
    throw UsageError{"unknown command \"" + text + "\""};
}

int parseMode(const std::string& text) {
    for (int i = 0; i < 4; ++i)
        if (text == kModeWords[i] || text == std::to_string(i))
            return i;
    throw UsageError{"unknown mode \"" + text + "\" (use backup, synch, copy-missing or delete-duplicates)"};
}

// An absolute location text ending with exactly one separator, or a remote location's text (ending
// with "/" too). A location that does not exist is accepted (backup into a new folder; the scan
// reports it), one that is a file is not.
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
    // A folder on a remote reached through rclone is taken as written: never made absolute, never
    // looked for on this machine.
    if (const ParsedLocation parsed = parseLocation(given); parsed.kind != LocationKind::Local) {
        std::string why = parsed.reason;
        const std::string text = parsed.kind == LocationKind::Remote ? remoteLocationText(given, &why) : "";
        if (text.empty())
            throw UsageError{"the location \"" + shown + "\" cannot be used: " + why};
        return text;
    }
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

// Applies the option at argv[i] (and its value), advancing i past the value. False when argv[i] is no
// option of the table.
bool applyOption(Options& o, int argc, char** argv, int& i) {
    const std::string arg = argv[i];
    const std::size_t equals = arg.find('=');
    const std::string name =
        arg.rfind("--", 0) == 0 && equals != std::string::npos ? arg.substr(0, equals) : arg;
    const auto spec = std::find_if(std::begin(kOptions), std::end(kOptions),
                                   [&](const OptionSpec& s) { return name == s.name; });
    if (spec == std::end(kOptions) || (spec->commands & bit(o.command)) == 0)
        return false;
    if (spec->needs == nullptr) {
        if (name != arg)
            throw UsageError{std::string(spec->name) + " takes no value"};
        spec->apply(o, {});
        return true;
    }
    if (name != arg) {
        spec->apply(o, arg.substr(equals + 1));
        return true;
    }
    if (i + 1 >= argc)
        throw UsageError{std::string(spec->name) + " needs " + spec->needs};
    spec->apply(o, argv[++i]);
    return true;
}

} // namespace

Settings commandLineSettings() {
    Settings s;
    s.CheckBoxConfirm = false;
    s.CheckDelete = s.CheckCreate = s.CheckCopy = false;
    s.CheckSize = s.CheckName = s.CheckTimeStamp = true;
    return s;
}

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

const char* modeWord(int mode) {
    return mode >= 0 && mode < 4 ? kModeWords[mode] : "(no mode)";
}

Options parse(int argc, char** argv) {
    if (argc < 2)
        throw UsageError{"no command given"};
    Options o;
    o.command = parseCommand(argv[1]);
    o.commandName = argv[1];
    o.settings = commandLineSettings();
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            positional.insert(positional.end(), argv + i + 1, argv + argc);
            break;
        }
        if (applyOption(o, argc, argv, i))
            continue;
        if (arg.size() > 1 && arg[0] == '-')
            throw UsageError{"unknown option \"" + arg + "\" for " + o.commandName};
        positional.push_back(arg);
    }
    if (o.trashGiven && (o.versionsGiven || o.keepDaysGiven))
        throw UsageError{"--trash and --versions (or --versions-keep) exclude each other"};
    if (o.deleteGiven && (o.trashGiven || o.versionsGiven || o.keepDaysGiven))
        throw UsageError{"--delete excludes --trash, --versions and --versions-keep"};
    if (o.command == Command::Jobs) {
        if (positional.size() != 1)
            throw UsageError{"jobs needs one job-list file, got " + std::to_string(positional.size())};
        o.jobList = positional.front();
        return o;
    }
    if (o.command == Command::Plan || o.command == Command::Sync) {
        if (positional.empty())
            throw UsageError{o.commandName + " needs a MODE"};
        o.mode = parseMode(positional.front());
        positional.erase(positional.begin());
        // Only a backup deletes what A lacks; the other modes never delete what they do not carry.
        if (o.filters.deleteLeftOutOfB && o.mode != 0)
            throw UsageError{"--delete-excluded works only with the backup mode"};
    }
    const std::size_t wanted = o.command == Command::Scan || o.command == Command::Dedupe ? 1 : 2;
    if (positional.size() != wanted)
        throw UsageError{o.commandName + " needs " +
                         (wanted == 1 ? std::string("one location") : "locations A and B") + ", got " +
                         std::to_string(positional.size())};
    for (const std::string& p : positional)
        o.locations.push_back(locationText(p));
    if (o.versionsGiven)
        if (const std::string problem = versionsFolderProblem(o.settings.versionsFolder, o.locations);
            !problem.empty())
            throw UsageError{problem};
    return o;
}

} // namespace paritas::cli

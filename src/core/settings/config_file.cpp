#include "core/settings/config_file.h"

#include "core/base/modes.h"

#include <array>
#include <cstddef>

namespace paritas {
namespace {

constexpr int kFlagLines = 18;
constexpr int kTimeLine = 18;
constexpr int kViewLine = 19;
constexpr int kHeightLine = 20;
constexpr int kWidthLine = 21;
constexpr int kMaximisedLine = 22;
constexpr std::size_t kTimeChars = 15;
constexpr std::size_t kNameChars = 100;
constexpr std::size_t kQuotedChars = 40; // of a bad entry, in its report

// The check boxes in file order, each with its caption (written for the human reader only).
std::array<bool*, kFlagLines> flagsOf(Settings& s) {
    return {&s.CheckDelete, &s.CheckCreate,    &s.CheckCopy,  &s.CheckBoxConfirm, &s.CheckSize,
            &s.CheckName,   &s.CheckTimeStamp, &s.CheckNewer, &s.CheckKeepOld,    &s.days[0],
            &s.days[1],     &s.days[2],        &s.days[3],    &s.days[4],         &s.days[5],
            &s.days[6],     &s.Every,          &s.SaveLog};
}

constexpr std::array<const char*, kFlagLines> kCaptions = {
    "Prompt for every Delete",
    "Prompt for new Folder creation",
    "Prompt for Copy/Move",
    "Confirm Action list before File changes",
    "Match Size",
    "Match FileName",
    "Match Modified TimeStamp",
    "Leave file with newer modified date (Unchecked leaves older file)",
    "Also keep other file - rename File+ModifiedDate",
    "Monday",
    "Tuesday",
    "Wednesday",
    "Thursday",
    "Friday",
    "Saturday",
    "Sunday",
    "Every day at :",
    "Save log file After scheduled job finishes",
};

// The first `count` characters of a UTF-8 text (a character is never cut in half).
std::string firstCharacters(const std::string& text, std::size_t count) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (characters == count)
                return text.substr(0, i);
            ++characters;
        }
    }
    return text;
}

// A favourite line must stay one line: control characters (a pasted line break) become blanks.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return text;
}

// Characters 2 to 5 of a size line, at most four digits, as an integer. A line without digits ("H",
// an empty line) is no size.
bool readSize(const std::string& line, int& value) {
    if (line.size() < 2)
        return false;
    const std::string digits = line.substr(1, 4);
    int v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    value = v;
    return true;
}

std::string lineProblem(std::size_t index, const std::string& what) {
    return "Line " + std::to_string(index + 1) + ": " + what;
}

// Reads a favourite line by the first occurrence of each marker. Returns an empty text or the error.
std::string readFavourite(const std::string& line, Favourite& favourite) {
    const std::size_t a = line.find("*A*");
    const std::size_t b = line.find("*B*");
    const std::size_t c = line.find("*C*");
    const std::size_t d = line.find("*D*");
    if (a == std::string::npos || b == std::string::npos || c == std::string::npos ||
        d == std::string::npos || !(a < b && b < c && c < d))
        return "the favourite line lacks one of its markers *A*, *B*, *C*, *D*";
    if (a + 3 >= line.size() || line[a + 3] < '0' || line[a + 3] > '9')
        return "the favourite's mode is not a digit";
    const int mode = line[a + 3] - '0';
    favourite.locationA = line.substr(0, a);
    favourite.modeName =
        mode < int(kModeNames.size()) ? std::string(kModeNames[std::size_t(mode)]) : std::string();
    favourite.locationB = line.substr(b + 3, c - b - 3);
    favourite.subfolders = line.substr(c + 3, d - c - 3);
    favourite.name = firstCharacters(line.substr(d + 3), kNameChars);
    return {};
}

// "Lines 11 to 23 are missing ...": the lines from `count` (0-based) up to `needed` are absent.
std::string missingLines(std::size_t count, std::size_t needed) {
    const std::string first = std::to_string(count + 1), last = std::to_string(needed);
    return (count + 1 == needed ? "Line " + last + " is" : "Lines " + first + " to " + last + " are") +
           " missing (the file ends after " + std::to_string(count) + " lines)";
}

void applyFlags(const std::vector<std::string>& lines, Settings& settings) {
    const auto flags = flagsOf(settings);
    for (std::size_t i = 0; i < flags.size() && i < lines.size(); ++i) {
        const bool ticked = !lines[i].empty() && lines[i][0] == 'T';
        // Every comes after the days: as in the window, a change of Every ticks or unticks all seven.
        if (flags[i] == &settings.Every && ticked != settings.Every)
            settings.days.fill(ticked);
        *flags[i] = ticked;
    }
}

// Lines 20 to 22. A size that cannot be read keeps the size it had; the other one still applies.
void applyWindow(const std::vector<std::string>& lines, ConfigFile& config,
                 std::vector<std::string>& problems) {
    if (lines.size() > std::size_t(kMaximisedLine))
        config.maximised = !lines[kMaximisedLine].empty() && lines[kMaximisedLine][0] == 'M';
    if (config.maximised)
        return;
    struct SizeLine {
        int line;
        const char* what;
        int* value;
    };
    const SizeLine sizes[] = {{kHeightLine, "height", &config.clientHeight},
                              {kWidthLine, "width", &config.clientWidth}};
    for (const SizeLine& size : sizes) {
        if (lines.size() <= std::size_t(size.line))
            continue;
        const std::string& text = lines[std::size_t(size.line)];
        if (!readSize(text, *size.value))
            problems.push_back(lineProblem(std::size_t(size.line),
                                           std::string("the window ") + size.what + " \"" +
                                               firstCharacters(text, kQuotedChars) + "\" is not a number"));
    }
}

} // namespace

std::string favouriteLine(const Favourite& f) {
    const int mode = modeIndex(f.modeName);
    const char digit = mode < 0 ? '9' : char('0' + mode);
    return oneLine(f.locationA) + "*A*" + digit + "*B*" + oneLine(f.locationB) + "*C*" +
           oneLine(f.subfolders) + "*D*" + oneLine(f.name);
}

std::vector<std::string> configLines(const ConfigFile& config) {
    std::vector<std::string> lines;
    Settings settings = config.settings;
    const auto flags = flagsOf(settings);
    for (int i = 0; i < kFlagLines; ++i)
        lines.push_back(std::string(*flags[std::size_t(i)] ? "T " : "F ") + kCaptions[std::size_t(i)]);
    lines.push_back(oneLine(config.settings.timeText));
    lines.push_back(config.compact ? "T Compact" : "F Compact");
    // Appended rather than prefixed: GCC 12 warns wrongly (-Wrestrict) on "H" + std::to_string(...).
    lines.push_back(std::string("H").append(std::to_string(config.clientHeight)));
    lines.push_back(std::string("W").append(std::to_string(config.clientWidth)));
    lines.push_back(config.maximised ? "M" : " ");
    lines.resize(kConfigFixedLines);
    for (const Favourite& f : config.favourites)
        if (!f.name.empty())
            lines.push_back(favouriteLine(f));
    lines.insert(lines.end(), config.unreadFavouriteLines.begin(), config.unreadFavouriteLines.end());
    return lines;
}

std::vector<std::string> applyConfigLines(const std::vector<std::string>& lines, ConfigFile& config) {
    std::vector<std::string> problems;
    const std::size_t settingLines = std::size_t(kMaximisedLine) + 1;
    if (lines.size() < settingLines)
        problems.push_back(missingLines(lines.size(), settingLines));
    applyFlags(lines, config.settings);
    if (lines.size() > std::size_t(kTimeLine))
        config.settings.timeText = firstCharacters(lines[kTimeLine], kTimeChars);
    if (lines.size() > std::size_t(kViewLine))
        config.compact = !lines[kViewLine].empty() && lines[kViewLine][0] == 'T';
    applyWindow(lines, config, problems);
    for (std::size_t i = kConfigFixedLines; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue; // a blank line (a hand-edited file) holds no favourite
        Favourite favourite;
        const std::string error = readFavourite(lines[i], favourite);
        if (error.empty()) {
            config.favourites.push_back(std::move(favourite));
            continue;
        }
        problems.push_back(lineProblem(i, error));
        config.unreadFavouriteLines.push_back(lines[i]);
    }
    return problems;
}

} // namespace paritas

#pragma once
// The settings file "config.ini": the settings, the main window's view and size, and the favourite
// synchronisations, as plain values. Every entry sits on a fixed line; a reader finds an entry by its
// line number, never by a key. Lines 0 to 38 are the fixed part, favourite lines follow from line 39.

#include "core/settings/settings.h"

#include <string>
#include <vector>

namespace paritas {

// One named synchronisation, as the favourites table holds it (texts as shown in its cells).
struct Favourite {
    std::string name;
    std::string locationA;
    std::string modeName; // one of kModeNames, or empty
    std::string locationB;
    std::string subfolders; // "Yes" or "No"
    bool operator==(const Favourite&) const = default;
};

struct ConfigFile {
    Settings settings;
    bool compact = false;
    int clientHeight = 0;
    int clientWidth = 0;
    bool maximised = false;
    std::vector<Favourite> favourites;
    // Favourite lines of the file that could not be read, as they stand. They are written back after
    // the favourites, so that saving never loses a favourite the program could not make sense of.
    std::vector<std::string> unreadFavouriteLines;
};

inline constexpr int kConfigFixedLines = 39;
inline constexpr const char* kConfigFileName = "config.ini";

// The whole file, line by line: the fixed part, the favourites (those without a name are left out),
// then the unread favourite lines unchanged.
std::vector<std::string> configLines(const ConfigFile& config);
// "A*A*<mode digit>*B*B*C*Yes*D*Name". A mode name that matches none of the four is written as 9,
// which reads back as an empty mode.
std::string favouriteLine(const Favourite& favourite);

// Applies the lines to `config` in file order, entry by entry. An entry that cannot be read keeps the
// value it had in `config`, is reported, and reading goes on with the next entry: a damaged file
// never stops the program, and one bad line never costs the settings after it. A favourite line that
// cannot be read goes to unreadFavouriteLines. A file shorter than the 23 lines that carry settings
// applies what it has and reports the rest as missing. Returns one text per problem, each naming its
// line as an editor counts them (from 1); empty when the whole file was read.
std::vector<std::string> applyConfigLines(const std::vector<std::string>& lines, ConfigFile& config);

} // namespace paritas

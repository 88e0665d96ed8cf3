#pragma once
// Where the settings live. config.ini is read from the current folder when one is there (a portable
// set-up, and the place older versions kept it); otherwise from $XDG_CONFIG_HOME/paritas/ (by default
// ~/.config/paritas/), where it is also written. Settings that config.ini has no line for (its 39
// fixed lines and the favourite lines keep their meaning for every reader of the file) go into a
// second file beside it, unattended.ini; the schedule's own record, schedule.state, lies there too.

#include <map>
#include <string>
#include <vector>

namespace paritas {

inline constexpr const char* kUnattendedFileName = "unattended.ini";
inline constexpr const char* kScheduleStateFileName = "schedule.state";

// The settings folder, with a trailing separator: `currentFolder` (with its separator) when it holds a
// config.ini, else the XDG folder. Never creates anything.
std::string settingsFolderFor(const std::string& currentFolder);
// $XDG_CONFIG_HOME/paritas/, or $HOME/.config/paritas/ (XDG_CONFIG_HOME unset, empty or relative).
std::string xdgSettingsFolder();
// Makes the folder and its missing parents (0700 for the ones made, as the XDG rules ask); returns an
// empty text or the system's error text.
std::string makeSettingsFolder(const std::string& folder);

// A small "key = value" file: one entry a line, "#" starts a comment line. Lines it does not know are
// kept as they stand, so that a newer version's entries survive a save by an older one.
struct KeyValueFile {
    std::map<std::string, std::string> values;
    std::vector<std::string> lines; // the file as read, for writing back

    std::string get(const std::string& key, const std::string& fallback = {}) const;
    // Sets the value; the entry's line is replaced in place, or appended.
    void set(const std::string& key, const std::string& value);
};

KeyValueFile readKeyValues(const std::vector<std::string>& lines);

} // namespace paritas

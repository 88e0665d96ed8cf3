#include "core/settings/last_run.h"

#include <algorithm>

namespace paritas {
namespace {

constexpr const char* kLocationAKey = "last-location-a";
constexpr const char* kLocationBKey = "last-location-b";
constexpr const char* kModeKey = "last-mode";
constexpr const char* kSubfoldersKey = "last-subfolders";

// What one "key = value" line carries unchanged: an absolute path without control characters (the
// reader trims blanks at both ends, and a path begins with "/" and ends with its separator).
bool storable(const std::string& location) {
    return !location.empty() && location.front() == '/' && location.back() != ' ' &&
           std::none_of(location.begin(), location.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void readLocation(const KeyValueFile& file, const char* key, std::string& into) {
    const auto found = file.values.find(key);
    if (found == file.values.end())
        return;
    if (found->second.empty() || storable(found->second))
        into = found->second;
}

} // namespace

void readLastRun(const KeyValueFile& file, LastRun& into) {
    readLocation(file, kLocationAKey, into.locationA);
    readLocation(file, kLocationBKey, into.locationB);
    const std::string mode = file.get(kModeKey);
    if (mode.size() == 1 && mode[0] >= '0' && mode[0] <= '3')
        into.mode = mode[0] - '0';
    const std::string subfolders = file.get(kSubfoldersKey);
    if (subfolders == "yes" || subfolders == "no")
        into.includeSubfolders = subfolders == "yes";
}

void storeLastRun(const LastRun& run, KeyValueFile& file) {
    file.set(kLocationAKey, storable(run.locationA) ? run.locationA : std::string());
    file.set(kLocationBKey, storable(run.locationB) ? run.locationB : std::string());
    file.set(kModeKey, run.mode >= 0 && run.mode <= 3 ? std::to_string(run.mode) : std::string());
    file.set(kSubfoldersKey, run.includeSubfolders ? "yes" : "no");
}

} // namespace paritas

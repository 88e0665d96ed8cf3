#pragma once
// The synchronisation the window showed when it was last left (locations A and B, the mode and
// "Include Subfolders"), kept in unattended.ini so that the next start shows it again. They are
// written when the window is left, without a question: they are where the user was, not settings.
//
//   last-location-a = /home/ann/Documents/
//   last-location-b = /mnt/backup/Documents/
//   last-mode = 0                     the mode index, 0 to 3
//   last-subfolders = yes             yes | no

#include "core/settings/settings_folder.h"

#include <string>

namespace paritas {

struct LastRun {
    std::string locationA; // empty: none
    std::string locationB;
    int mode = -1; // 0 to 3, or -1: none
    bool includeSubfolders = true;
    bool operator==(const LastRun&) const = default;
};

// An entry that is missing or cannot be read (a relative location, a control character, a mode
// outside 0 to 3) leaves its member as it was in `into`.
void readLastRun(const KeyValueFile& file, LastRun& into);
// Writes the four entries (their lines replaced in place, or appended). A location that could not
// be read back unchanged is written empty.
void storeLastRun(const LastRun& run, KeyValueFile& file);

} // namespace paritas

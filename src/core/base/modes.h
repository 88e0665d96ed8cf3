#pragma once
// The four synchronisation modes. Tables (job list, favourites) store the name, files store the index.

#include <array>
#include <string_view>

namespace paritas {

enum class SyncMode { Backup = 0, FolderSynch = 1, CopyMissing = 2, DeleteDuplicates = 3 };

// The mode choice's item texts, each with its trailing blank; they are also the stored mode names.
inline constexpr std::array<std::string_view, 4> kModeNames = {
    "BACKUP (ADVANCED) A to B ",
    "FOLDER SYNCH - Union of A and B ",
    "COPY MISSING - from A to B ",
    "DELETE DUPLICATES in B ",
};

// Position of a mode name among the four (exact, case-sensitive comparison), or -1.
inline int modeIndex(std::string_view name) {
    for (std::size_t i = 0; i < kModeNames.size(); ++i)
        if (kModeNames[i] == name)
            return static_cast<int>(i);
    return -1;
}

} // namespace paritas

#pragma once
// What was seen of one file at one moment: enough to tell, later, whether the file at a path is still
// that file. Planners keep it beside each action line; the executor compares it with what it finds
// just before it acts.

#include <cstdint>

namespace paritas {

struct FileStamp {
    int64_t size = 0;
    int32_t fileTime = 0;      // packed local DOS date/time, as the inventory shows it
    int64_t modifiedTime = 0;  // seconds since the epoch
    int32_t modifiedNanos = 0; // 0 to 999,999,999
    uint64_t inode = 0;        // 0 when unknown

    // The same file as far as a stamp can tell: size and modified time to the nanosecond, and the
    // inode where both know it.
    bool sameFileAs(const FileStamp& other) const {
        return size == other.size && modifiedTime == other.modifiedTime &&
               modifiedNanos == other.modifiedNanos &&
               (inode == 0 || other.inode == 0 || inode == other.inode);
    }
};

// Times are compared at the packed value's resolution of two seconds (a copy on a FAT file system
// keeps its time only that closely), as true times: the two-second step a moment falls into. Newer
// means a later step; the same step means the same time.
inline int64_t timeStep(int64_t seconds) {
    return seconds >= 0 ? seconds / 2 : -((1 - seconds) / 2);
}

} // namespace paritas

#pragma once
// What the file system under a location can do. The engine keeps every promise with what is there:
// where a kernel interface is missing it falls back to one that keeps the same promise (or states how
// narrow the window is where none can).

#include <cstdint>

namespace paritas {

struct FileSystemCapabilities {
    bool unnamedFiles = true;       // O_TMPFILE, then linkat
    bool renameNoReplace = true;    // renameat2 RENAME_NOREPLACE
    bool renameExchange = true;     // renameat2 RENAME_EXCHANGE
    bool hardLinks = true;
    bool caseSensitive = true;      // false: two spellings differing in letter case name one entry
    bool symbolicLinks = true;
    bool ownersAndModes = true;     // permission bits stick (and owners where the process may set them)
    bool extendedAttributes = true; // user.* attributes stick
    int64_t timeGranularityNs = 1;  // ext4 1; NTFS 100; exFAT 10 ms; FAT 2 s; sshfs 1 s
    bool clones = false;            // FICLONE works
};

} // namespace paritas

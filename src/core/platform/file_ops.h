#pragma once
// The single-step changes the executor makes to the file system. Each one either happens whole or
// not at all, none of them ever replaces something that already stands at its target, and each acts
// on a path resolved beneath its location without passing through a symbolic link (beneath.h):
//   makeFolder         fails when anything exists at the path
//   removeEmptyFolder  removes a folder only when it is empty (a link is no folder)
//   deleteIfUnchanged  removes one file, and only the file the plan saw there; a symbolic link is
//                      removed as a link, never its target
//   moveIfUnchanged    gives the planned file a new name, failing when the new name is taken, and
//                      failing across file systems and mounts with kMoveAcrossFileSystems (no hidden
//                      copy-and-delete; copyThenDeleteIfUnchanged in file_copy.h is the explicit one)
// A planned stamp that no longer matches fails with kChangedSincePlanning. Results carry the errno
// (or a code of beneath.h) of a failure so that the log can say why.
//
// "Never replace" takes the first means the file system offers: renameat2 RENAME_NOREPLACE; else a
// hard link to the new name (which fails when it is taken) and then the old name goes; else (exFAT,
// FAT: neither) a check that nothing stands at the new name right before a plain rename. Only that
// last one has a window, the time the rename takes after the check (tens of microseconds locally, a
// quarter of a millisecond through FUSE; file_ops.cpp has the figures).
// The optional capabilities (capabilities.h, of the file system acted on; nullptr: none known) pick
// the means at once, and say whether inode numbers may be compared.

#include "core/platform/act_hooks.h"
#include "core/platform/beneath.h"
#include "core/platform/disposal.h"
#include "core/platform/file_stamp.h"

#include <cstdint>
#include <string>

namespace paritas {

struct FileSystemCapabilities;

struct FsResult {
    FsResult() = default;
    FsResult(int failure, std::string why = {}) : error(failure), detail(std::move(why)) {}
    int error = 0;      // errno or a code of beneath.h, 0 on success
    std::string detail; // more about a failure, for the reason line (a remote's own words); may be empty
    bool ok() const { return error == 0; }
    explicit operator bool() const { return ok(); }
};

FsResult makeFolder(LocationResolver& locations, const std::string& path);
FsResult removeEmptyFolder(LocationResolver& locations, const std::string& path);
// `planned`: the stamp the file had when the line was planned; nullptr deletes whatever file is there.
// `capabilities`: of the file system acted on (nullptr: none known). `between`: told after the last
// check, right before the act (act_hooks.h).
FsResult deleteIfUnchanged(LocationResolver& locations, const std::string& path, const FileStamp* planned,
                           const FileSystemCapabilities* capabilities = nullptr,
                           BetweenCheckAndAct* between = nullptr);
FsResult moveIfUnchanged(LocationResolver& locations, const std::string& source, const FileStamp* planned,
                         const std::string& destination, const FileSystemCapabilities* capabilities = nullptr,
                         BetweenCheckAndAct* between = nullptr);
// Removes the planned file as deleteIfUnchanged does, but hands it to `disposal` (disposal.h), which
// deletes it or keeps it elsewhere; keptAt says where.
Disposed disposeIfUnchanged(LocationResolver& locations, const std::string& path, const FileStamp* planned,
                            Disposal& disposal, const FileSystemCapabilities* capabilities = nullptr,
                            BetweenCheckAndAct* between = nullptr);
// Gives the entry `from` of the open folder `fromDir` the name `to` in `toDir`, never replacing what
// stands there (EEXIST), never across file systems (EXDEV).
FsResult moveNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to,
                         const FileSystemCapabilities* capabilities = nullptr);
// True when a real folder (not a link to one) stands at the path.
bool realFolderAt(LocationResolver& locations, const std::string& path);

// The same with paths as written (no locations, no plan): for callers that act on single paths.
FsResult makeFolder(const std::string& path);
FsResult removeEmptyFolder(const std::string& path);
FsResult deleteFile(const std::string& path);
FsResult moveNoReplace(const std::string& source, const std::string& destination,
                       const FileSystemCapabilities* capabilities = nullptr);
// What a move falls back to where the file system lacks RENAME_NOREPLACE: a hard link, then the old
// name goes, or where it lacks hard links too, a check right before a plain rename (folders: rename
// over an empty placeholder made exclusively). Open for tests.
FsResult moveNoReplaceWithoutRenameFlag(const std::string& source, const std::string& destination);

// A number that differs at every call of this process and is spread across runs (for names that must
// not clash: temporary copies, trash entries).
uint64_t uniqueNumber();

} // namespace paritas

#pragma once
// The single-step changes the executor makes to the file system. Each one either happens whole or
// not at all, and none of them ever replaces something that already stands at its target:
//   makeFolder         fails when anything exists at the path
//   removeEmptyFolder  removes a folder only when it is empty
//   deleteFile         removes one file; a symbolic link is removed as a link, never its target
//   moveNoReplace      gives a file a new name, failing when the new name is taken, and failing
//                      across file systems (no hidden copy-and-delete)
// Results carry the errno of a failure so that callers and tests can tell causes apart; the activity
// log itself only says success or failure.

#include <string>

namespace paritas {

struct FsResult {
    int error = 0; // errno of the failure, 0 on success
    bool ok() const { return error == 0; }
    explicit operator bool() const { return ok(); }
};

FsResult makeFolder(const std::string& path);
FsResult removeEmptyFolder(const std::string& path);
FsResult deleteFile(const std::string& path);
FsResult moveNoReplace(const std::string& source, const std::string& destination);
// What moveNoReplace falls back to where the file system lacks RENAME_NOREPLACE: a hard link, then
// the old name goes (folders: rename over an empty placeholder made exclusively). Open for tests.
FsResult moveNoReplaceWithoutRenameFlag(const std::string& source, const std::string& destination);

} // namespace paritas

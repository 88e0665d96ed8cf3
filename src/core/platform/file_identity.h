#pragma once
// Whether two paths name one file-system object, and where a folder really lies. Planners ask these to
// recognise a file that a case-insensitive file system (or a link) shows under two spellings, and to
// refuse locations that overlap: by identity (device and inode), so that links and bind mounts are
// seen through.

#include "core/platform/object_id.h"

#include <optional>
#include <string>
#include <vector>

namespace paritas {

// True when both paths exist and name the same object (same device and inode; a link at the last
// component is the link itself, not its target).
bool sameFileObject(const std::string& first, const std::string& second);

// The object a path leads to, links followed (a location may be a link the user chose).
std::optional<ObjectId> objectIdOf(const std::string& path);

// The identities of a folder and of every folder above it, up to the root of the file system, as the
// kernel sees them ("..", not the text: a link or a bind mount on the way leads where it leads). For a
// path that does not exist yet, the chain starts at its nearest existing ancestor; `exists` says which.
struct FolderAncestry {
    bool exists = false;
    std::vector<ObjectId> chain; // the folder (or its nearest existing ancestor) first
};
FolderAncestry folderAncestry(const std::string& path);

// The key of a folder for the run lock: its file system's device and the folder's path from the top
// of that file system, as the kernel resolves it (links and ".." followed, a bind mount seen through to
// the folder it shows), and for a folder that does not exist yet the rest of its path as written. So
// every spelling of one folder gives one key, and the key stays the same once the folder is made.
// Empty when not even the root can be looked at.
std::string folderIdentityKey(const std::string& folder);

// The same identity as text: the device and the path from the top of its file system ("8:1/home/ann"),
// so that one folder lying inside another can be told by identity (a link or a bind mount seen
// through). Empty when not even the root can be looked at.
std::string folderIdentityPath(const std::string& folder);

} // namespace paritas

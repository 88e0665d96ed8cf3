#include "core/platform/versions_folder.h"

#include "core/platform/file_identity.h"
#include "core/platform/file_ops.h"
#include "core/platform/path_text.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace paritas {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr int kNameAttempts = 16;

int openOrMake(int parent, const std::string& name, FolderHandle& into) {
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST)
        return errno;
    const int fd = ::openat(parent, name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd < 0)
        return errno == ELOOP || errno == ENOTDIR ? kCrossesLink : errno;
    into = FolderHandle(fd);
    return 0;
}

void recordFirst(PruneResult& result, int error) {
    if (result.error == 0)
        result.error = error;
}

// The names in the open folder `folder`, "." and ".." left out; false when it cannot be read.
bool namesIn(int folder, std::vector<std::string>& names) {
    const int listed = ::dup(folder);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

// Prunes the open folder `folder`; true when it is empty afterwards.
bool pruneFolder(int folder, std::time_t cutoff, PruneResult& result) {
    std::vector<std::string> names;
    if (!namesIn(folder, names)) {
        recordFirst(result, errno);
        return false;
    }
    bool empty = true;
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            recordFirst(result, errno);
            empty = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const FolderHandle below(::openat(folder, name.c_str(), kFolderFlags | O_NOFOLLOW));
            if (!below.valid()) {
                recordFirst(result, errno);
                empty = false;
            } else if (!pruneFolder(below.get(), cutoff, result) ||
                       ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0) {
                empty = false;
            }
            continue;
        }
        if (st.st_ctime >= cutoff || name == kVersionsMarkName) {
            empty = false;
            continue;
        }
        if (::unlinkat(folder, name.c_str(), 0) == 0) {
            ++result.removed;
        } else {
            recordFirst(result, errno);
            empty = false;
        }
    }
    return empty;
}

} // namespace

bool isVersionsFolder(int root) {
    struct stat st {};
    return ::fstatat(root, kVersionsMarkName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

int claimVersionsFolder(int root) {
    if (isVersionsFolder(root))
        return 0;
    std::vector<std::string> names;
    if (!namesIn(root, names))
        return errno;
    if (!names.empty())
        return kVersionsFolderUnusable;
    const int fd = ::openat(root, kVersionsMarkName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

int openFolderTree(int root, const std::string& relative, FolderHandle& into) {
    return openFolderStepwise(root, relative, into, openOrMake);
}

int openOrMakeFolder(const std::string& path, FolderHandle& into) {
    const int fd = ::open(path.c_str(), kFolderFlags);
    if (fd >= 0) {
        into = FolderHandle(fd);
        return 0;
    }
    if (errno != ENOENT)
        return errno;
    const std::size_t slash = path.rfind(kSeparator);
    if (slash == std::string::npos || path.size() <= 1)
        return ENOENT;
    FolderHandle parent;
    if (const int error = openOrMakeFolder(slash == 0 ? "/" : path.substr(0, slash), parent); error != 0)
        return error;
    if (::mkdirat(parent.get(), path.c_str() + slash + 1, 0777) != 0 && errno != EEXIST)
        return errno;
    const int made = ::openat(parent.get(), path.c_str() + slash + 1, kFolderFlags);
    if (made < 0)
        return errno;
    into = FolderHandle(made);
    return 0;
}

int moveUnderFreeName(int folder, const std::string& name, int target,
                      const std::function<std::string(int attempt)>& nameAt, std::string& used) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string candidate = nameAt(attempt);
        const FsResult moved = moveNoReplaceAt(folder, name, target, candidate);
        if (moved.ok()) {
            used = candidate;
            return 0;
        }
        if (moved.error != EEXIST)
            return moved.error;
    }
    return EEXIST;
}

PruneResult pruneOlderThan(int root, std::time_t cutoff) {
    PruneResult result;
    pruneFolder(root, cutoff, result);
    return result;
}

std::string versionsFolderProblem(const std::string& folder, const std::vector<std::string>& locations) {
    if (!isAbsolutePath(folder))
        return "the versions folder \"" + folder + "\" is not an absolute folder path";
    const std::string inside = withTrailingSeparator(folder);
    for (const std::string& given : locations) {
        const std::string location = withTrailingSeparator(given);
        if (location.empty())
            continue;
        if (inside == location + kVersionsFolderName + kSeparator)
            continue; // the location's own, which the scans never list
        if (inside.compare(0, location.size(), location) == 0)
            return "the versions folder " + folder + " lies inside location " + location +
                   ", whose scans would take the versions for its own files; choose a folder outside it, or "
                   "none for the default, " +
                   location + kVersionsFolderName;
        if (location.compare(0, inside.size(), inside) == 0)
            return "location " + location + " lies inside the versions folder " + folder;
    }
    // By identity too: a link or a bind mount may lead from a folder outside into a location.
    const std::string versions = folderIdentityPath(folder);
    if (versions.empty())
        return {};
    const std::string versionsInside = withTrailingSeparator(versions);
    for (const std::string& given : locations) {
        if (given.empty() || !isAbsolutePath(given))
            continue;
        const std::string location = withTrailingSeparator(given);
        const std::string identity = folderIdentityPath(location);
        if (identity.empty())
            continue;
        const std::string locationInside = withTrailingSeparator(identity);
        if (versionsInside == locationInside + kVersionsFolderName + kSeparator)
            continue;
        if (versionsInside.compare(0, locationInside.size(), locationInside) == 0)
            return "the versions folder " + folder + " leads into location " + location +
                   " (through a link or a mount), whose scans would take the versions for its own files; "
                   "choose a folder outside it, or none for the default, " +
                   location + kVersionsFolderName;
        if (locationInside.compare(0, versionsInside.size(), versionsInside) == 0)
            return "location " + location + " lies inside the versions folder " + folder +
                   " (through a link or a mount)";
    }
    return {};
}

} // namespace paritas

#include "core/platform/file_ops.h"

#include "core/platform/file_queries.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/fs.h> // RENAME_NOREPLACE
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace paritas {
namespace {

FsResult resultOf(int rc) {
    return rc == 0 ? FsResult{} : FsResult{errno};
}

int renameNoReplace(int fromDir, const char* source, int toDir, const char* destination) {
    return static_cast<int>(::syscall(SYS_renameat2, fromDir, source, toDir, destination, RENAME_NOREPLACE));
}

// For file systems without RENAME_NOREPLACE. A second name is made first (link fails when the
// destination exists), then the old name goes; if the old name cannot go, the new one is taken back
// so that the file keeps exactly one name.
FsResult moveFileByLink(int fromDir, const char* source, int toDir, const char* destination) {
    if (::linkat(fromDir, source, toDir, destination, 0) != 0) // a link is linked, not followed
        return FsResult{errno};
    if (::unlinkat(fromDir, source, 0) != 0) {
        const int error = errno;
        ::unlinkat(toDir, destination, 0);
        return FsResult{error};
    }
    return {};
}

// Folders cannot be hard-linked. An empty folder made here (mkdir fails when the name is taken) may
// be replaced by rename, which fails when someone has put anything into it meanwhile.
FsResult moveFolderByPlaceholder(int fromDir, const char* source, int toDir, const char* destination) {
    if (::mkdirat(toDir, destination, 0700) != 0)
        return FsResult{errno};
    if (::renameat(fromDir, source, toDir, destination) != 0) {
        const int error = errno;
        ::unlinkat(toDir, destination, AT_REMOVEDIR);
        return FsResult{error};
    }
    return {};
}

FsResult moveWithoutFlag(int fromDir, const char* source, int toDir, const char* destination) {
    struct stat st {};
    if (::fstatat(fromDir, source, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult{errno};
    if (S_ISDIR(st.st_mode))
        return moveFolderByPlaceholder(fromDir, source, toDir, destination);
    return moveFileByLink(fromDir, source, toDir, destination);
}

FsResult moveResolved(int fromDir, const char* source, int toDir, const char* destination) {
    if (renameNoReplace(fromDir, source, toDir, destination) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return FsResult{errno};
    return moveWithoutFlag(fromDir, source, toDir, destination);
}

// The file at `name` in `dir` is still the planned one (a folder never is).
FsResult stillPlanned(int dir, const std::string& name, const FileStamp* planned) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult{errno};
    if (planned && (S_ISDIR(st.st_mode) || !stampOf(st).sameFileAs(*planned)))
        return FsResult{kChangedSincePlanning};
    return {};
}

} // namespace

FsResult makeFolder(LocationResolver& locations, const std::string& path) {
    const ResolvedPath at = locations.resolve(path);
    if (!at.ok())
        return FsResult{at.error};
    return resultOf(::mkdirat(at.folder.get(), at.name.c_str(), 0777));
}

FsResult removeEmptyFolder(LocationResolver& locations, const std::string& path) {
    const ResolvedPath at = locations.resolve(path);
    if (!at.ok())
        return FsResult{at.error};
    const FsResult removed = resultOf(::unlinkat(at.folder.get(), at.name.c_str(), AT_REMOVEDIR));
    if (removed.ok())
        locations.forgetFolders(); // the folder kept open may be this one, and its name free again
    return removed;
}

FsResult deleteIfUnchanged(LocationResolver& locations, const std::string& path, const FileStamp* planned,
                           BetweenCheckAndAct* between) {
    const ResolvedPath at = locations.resolve(path);
    if (!at.ok())
        return FsResult{at.error};
    if (const FsResult check = stillPlanned(at.folder.get(), at.name, planned); !check.ok())
        return check;
    if (between)
        between->now(path);
    return resultOf(::unlinkat(at.folder.get(), at.name.c_str(), 0));
}

Disposed disposeIfUnchanged(LocationResolver& locations, const std::string& path, const FileStamp* planned,
                            Disposal& disposal, BetweenCheckAndAct* between) {
    const ResolvedPath at = locations.resolve(path);
    if (!at.ok())
        return Disposed{at.error, {}, {}};
    if (const FsResult check = stillPlanned(at.folder.get(), at.name, planned); !check.ok())
        return Disposed{check.error, {}, {}};
    if (between)
        between->now(path);
    return disposal.dispose(at.folder.get(), at.name, path);
}

FsResult moveNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to) {
    return moveResolved(fromDir, from.c_str(), toDir, to.c_str());
}

FsResult moveIfUnchanged(LocationResolver& locations, const std::string& source, const FileStamp* planned,
                         const std::string& destination, BetweenCheckAndAct* between) {
    const ResolvedPath from = locations.resolve(source);
    if (!from.ok())
        return FsResult{from.error};
    const ResolvedPath to = locations.resolve(destination);
    if (!to.ok())
        return FsResult{to.error};
    if (planned)
        if (const FsResult check = stillPlanned(from.folder.get(), from.name, planned); !check.ok())
            return check;
    if (between)
        between->now(source);
    const FsResult moved =
        moveResolved(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str());
    if (moved.ok() && !planned)
        locations.forgetFolders(); // an unplanned move may have moved a folder kept open
    return moved;
}

bool realFolderAt(LocationResolver& locations, const std::string& path) {
    const ResolvedPath at = locations.resolve(path);
    struct stat st {};
    return at.ok() && ::fstatat(at.folder.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
}

FsResult makeFolder(const std::string& path) {
    return resultOf(::mkdir(path.c_str(), 0777));
}

FsResult removeEmptyFolder(const std::string& path) {
    return resultOf(::rmdir(path.c_str()));
}

FsResult deleteFile(const std::string& path) {
    return resultOf(::unlink(path.c_str()));
}

FsResult moveNoReplace(const std::string& source, const std::string& destination) {
    return moveResolved(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str());
}

FsResult moveNoReplaceWithoutRenameFlag(const std::string& source, const std::string& destination) {
    return moveWithoutFlag(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str());
}

uint64_t uniqueNumber() {
    static std::atomic<uint64_t> counter{0};
    static const uint64_t seed =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<uint64_t>(::getpid()) << 32);
    // splitmix64 over seed + counter: distinct for every call of this process, spread across runs.
    uint64_t z = seed + 0x9e3779b97f4a7c15ull * (counter.fetch_add(1) + 1);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

} // namespace paritas

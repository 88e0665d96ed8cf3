#include "core/platform/file_ops.h"

#include "core/platform/capabilities.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
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

// The errors by which linkat says that the file system has no hard links (exFAT and FAT: EPERM).
bool withoutHardLinks(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
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

// "Never replace" where the file system has neither RENAME_NOREPLACE nor hard links (exFAT, FAT):
// nothing may stand under the new name when it is looked up, and the plain rename follows at once.
// The window is the time from the lookup's answer to the rename taking effect, the rename's own
// time: measured on average 20 us on ext4 (a loop image), 240 us through exfat-fuse and 270 us
// through ntfs-3g (a round trip to the daemon), on a busy machine where a preempted process can
// stretch it to milliseconds. A file created under the name inside that window is replaced; a folder
// there makes the rename fail. Nothing narrows it on such a file system: an exclusively created
// placeholder would leave an empty file under the real name if the process died before the rename.
// Where letter case does not tell names apart, the lookup finds the name in any spelling.
FsResult renameIfNothingThere(int fromDir, const char* source, int toDir, const char* destination) {
    struct stat st {};
    if (::fstatat(toDir, destination, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return FsResult{EEXIST};
    if (errno != ENOENT)
        return FsResult{errno};
    return resultOf(::renameat(fromDir, source, toDir, destination));
}

FsResult moveFileWithoutFlag(int fromDir, const char* source, int toDir, const char* destination,
                             const FileSystemCapabilities* capabilities) {
    if (!capabilities || capabilities->hardLinks) {
        const FsResult linked = moveFileByLink(fromDir, source, toDir, destination);
        if (linked.ok() || !withoutHardLinks(linked.error))
            return linked;
    }
    return renameIfNothingThere(fromDir, source, toDir, destination);
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

FsResult moveWithoutFlag(int fromDir, const char* source, int toDir, const char* destination,
                         const FileSystemCapabilities* capabilities) {
    struct stat st {};
    if (::fstatat(fromDir, source, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult{errno};
    if (S_ISDIR(st.st_mode))
        return moveFolderByPlaceholder(fromDir, source, toDir, destination);
    return moveFileWithoutFlag(fromDir, source, toDir, destination, capabilities);
}

FsResult moveResolved(int fromDir, const char* source, int toDir, const char* destination,
                      const FileSystemCapabilities* capabilities) {
    if (!capabilities || capabilities->renameNoReplace) {
        if (renameNoReplace(fromDir, source, toDir, destination) == 0)
            return {};
        if (errno != EINVAL && errno != ENOSYS)
            return FsResult{errno};
    }
    return moveWithoutFlag(fromDir, source, toDir, destination, capabilities);
}

// The file at `name` in `dir` is still the planned one (a folder never is).
FsResult stillPlanned(int dir, const std::string& name, const FileStamp* planned,
                      const FileSystemCapabilities* capabilities) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FsResult{errno};
    if (planned && (S_ISDIR(st.st_mode) || !sameFileOn(capabilities, stampOf(st), *planned)))
        return FsResult{kChangedSincePlanning};
    return {};
}

// Whether the folder lists entries spelled exactly `one` and `other`; false when it cannot be read.
bool listedSpellings(int dir, const std::string& one, const std::string& other, bool& hasOne,
                     bool& hasOther) {
    const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return false;
    }
    hasOne = hasOther = false;
    while (const dirent* entry = ::readdir(listing)) {
        hasOne = hasOne || one == entry->d_name;
        hasOther = hasOther || other == entry->d_name;
    }
    ::closedir(listing);
    return true;
}

bool sameFolder(int a, int b) {
    struct stat one {
    }, other{};
    return a == b || (::fstat(a, &one) == 0 && ::fstat(b, &other) == 0 && one.st_dev == other.st_dev &&
                      one.st_ino == other.st_ino);
}

// A case-only rename ("Report.txt" to "report.txt" in one folder) where letter case does not tell
// names apart: every never-replace means finds the new spelling taken, by the file itself. It is the
// file itself when the folder lists the old spelling and not the new one and the two differ only in
// the case of ASCII letters, because at most one entry answers to either spelling there (and none
// can be created under either meanwhile). A plain rename then changes only the spelling. Letters
// beyond ASCII are left alone: which of them the file system folds together is its own table.
FsResult renameLetterCase(int fromDir, const std::string& from, int toDir, const std::string& to) {
    bool hasFrom = false, hasTo = false;
    if (!sameFolder(fromDir, toDir) || !differOnlyInAsciiCase(from, to) ||
        !listedSpellings(fromDir, from, to, hasFrom, hasTo) || !hasFrom || hasTo)
        return FsResult{EEXIST};
    return resultOf(::renameat(fromDir, from.c_str(), toDir, to.c_str()));
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
                           const FileSystemCapabilities* capabilities, BetweenCheckAndAct* between) {
    const ResolvedPath at = locations.resolve(path);
    if (!at.ok())
        return FsResult{at.error};
    if (const FsResult check = stillPlanned(at.folder.get(), at.name, planned, capabilities); !check.ok())
        return check;
    if (between)
        between->now(path);
    return resultOf(::unlinkat(at.folder.get(), at.name.c_str(), 0));
}

Disposed disposeIfUnchanged(LocationResolver& locations, const std::string& path, const FileStamp* planned,
                            Disposal& disposal, const FileSystemCapabilities* capabilities,
                            BetweenCheckAndAct* between) {
    const ResolvedPath at = locations.resolve(path);
    if (!at.ok())
        return Disposed{at.error, {}, {}};
    if (const FsResult check = stillPlanned(at.folder.get(), at.name, planned, capabilities); !check.ok())
        return Disposed{check.error, {}, {}};
    if (between)
        between->now(path);
    return disposal.dispose(at.folder.get(), at.name, path);
}

FsResult moveNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to,
                         const FileSystemCapabilities* capabilities) {
    return moveResolved(fromDir, from.c_str(), toDir, to.c_str(), capabilities);
}

FsResult moveIfUnchanged(LocationResolver& locations, const std::string& source, const FileStamp* planned,
                         const std::string& destination, const FileSystemCapabilities* capabilities,
                         BetweenCheckAndAct* between) {
    const ResolvedPath from = locations.resolve(source);
    if (!from.ok())
        return FsResult{from.error};
    const ResolvedPath to = locations.resolve(destination);
    if (!to.ok())
        return FsResult{to.error};
    if (planned)
        if (const FsResult check = stillPlanned(from.folder.get(), from.name, planned, capabilities);
            !check.ok())
            return check;
    if (between)
        between->now(source);
    FsResult moved =
        moveResolved(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(), capabilities);
    if (moved.error == EEXIST && capabilities && !capabilities->caseSensitive)
        moved = renameLetterCase(from.folder.get(), from.name, to.folder.get(), to.name);
    if (moved.error == EXDEV)
        return FsResult{kMoveAcrossFileSystems};
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

FsResult moveNoReplace(const std::string& source, const std::string& destination,
                       const FileSystemCapabilities* capabilities) {
    return moveResolved(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), capabilities);
}

FsResult moveNoReplaceWithoutRenameFlag(const std::string& source, const std::string& destination) {
    return moveWithoutFlag(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), nullptr);
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

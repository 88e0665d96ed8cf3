#include "core/platform/placement.h"

#include "core/platform/capabilities.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_queries.h"
#include "core/platform/work_journal.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h> // RENAME_EXCHANGE
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace paritas::placement {
namespace {

int renameAt(int fromDir, const std::string& from, int toDir, const std::string& to, unsigned flags) {
    return static_cast<int>(::syscall(SYS_renameat2, fromDir, from.c_str(), toDir, to.c_str(), flags));
}

Disposed failure(int error, std::string detail = {}) {
    return Disposed{error, std::move(detail), {}};
}

void addDetail(Disposed& result, const std::string& more) {
    result.detail += (result.detail.empty() ? "" : "; ") + more;
}

// The journal is told that `aside` is about to hold the old version of `name` (and until then holds
// the new content at `held`, when given). 0 when recorded or when there is no journal.
int recordOldVersion(int dir, const std::string& aside, const std::string& name, const std::string* held,
                     const OldVersion& old) {
    if (!old.journal || !old.path)
        return 0;
    struct stat standing {
    }, content{};
    if (::fstatat(dir, name.c_str(), &standing, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? kChangedSincePlanning : errno;
    FileStamp heldStamp;
    if (held) {
        if (::fstatat(dir, held->c_str(), &content, AT_SYMLINK_NOFOLLOW) != 0)
            return errno;
        heldStamp = stampOf(content);
    }
    return old.journal->oldVersion(folderOfPath(*old.path), aside, name, stampOf(standing),
                                   held ? &heldStamp : nullptr);
}

int recordNewContent(const std::string& name, const OldVersion& old) {
    if (!old.journal || !old.path)
        return 0;
    return old.journal->newContent(folderOfPath(*old.path), name);
}

// After the exchange the temporary name holds the old version: it goes to the disposal, or, when it
// cannot be kept, back into place (the new content leaves with the temporary name).
Disposed keepDisplaced(int dir, TemporaryName& held, const std::string& name, const OldVersion& old) {
    Disposed kept = old.disposal->dispose(dir, held.name(), *old.path);
    if (kept.ok()) {
        held.release();
        return kept;
    }
    if (renameAt(dir, held.name(), dir, name, RENAME_EXCHANGE) != 0) {
        // It cannot go back: it stays under the temporary name rather than be lost with it.
        addDetail(kept, "the old version stays beside it as " + held.name());
        held.release();
    }
    return kept;
}

// The exchange is done: what came out (now at `held`) must be a file, and with `expected` that file,
// or it is exchanged back. The old version then goes as `old` says.
Disposed afterExchange(int dir, TemporaryName& held, const std::string& name, const FileStamp* expected,
                       const OldVersion& old, const FileSystemCapabilities* capabilities) {
    struct stat out {};
    const bool same = ::fstatat(dir, held.name().c_str(), &out, AT_SYMLINK_NOFOLLOW) == 0 &&
                      !S_ISDIR(out.st_mode) &&
                      (!expected || sameFileOn(capabilities, stampOf(out), *expected));
    if (!same) {
        if (renameAt(dir, held.name(), dir, name, RENAME_EXCHANGE) != 0) {
            // What came out cannot go back: it stays under the temporary name rather than be lost.
            held.release();
            return failure(kChangedSincePlanning, "what stood there is now at " + held.name());
        }
        return failure(kChangedSincePlanning);
    }
    if (!old.disposal)
        return {}; // the old version goes with `held`
    return keepDisplaced(dir, held, name, old);
}

// The old version at `aside` returns under `name`, never replacing; when it cannot, it stays where it
// is and the reason says so. Returns `error` with that detail.
Disposed putBack(int dir, const std::string& aside, const std::string& name, int error,
                 const FileSystemCapabilities* capabilities) {
    if (moveNoReplaceAt(dir, aside, dir, name, capabilities).ok())
        return failure(error);
    return failure(error, "what stood there is now at " + aside);
}

// The old version at `aside` could not be kept: the new content leaves `name` again (only while it
// is still the content placed there, `placed`) and the old version returns. What cannot be undone
// is said in the detail of `why`, which is returned.
Disposed takeBackPlacement(int dir, TemporaryName& held, const std::string& name, const std::string& aside,
                           const struct stat& placed, Disposed why, const OldVersion& old,
                           const FileSystemCapabilities* capabilities) {
    struct stat now {};
    const bool stillPlaced = ::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                             sameFileOn(capabilities, stampOf(now), stampOf(placed));
    const std::string back = copyTemporaryName();
    if (!stillPlaced || recordNewContent(back, old) != 0 ||
        !moveNoReplaceAt(dir, name, dir, back, capabilities).ok()) {
        addDetail(why, "the old version stays beside it as " + aside);
        return why;
    }
    held.hold(back); // the new content goes with the temporary name
    if (!moveNoReplaceAt(dir, aside, dir, name, capabilities).ok())
        addDetail(why, "the old version stays beside it as " + aside);
    return why;
}

// Replacing without RENAME_EXCHANGE. The file at `name` steps aside to a fresh temporary name (no
// replace: nothing else can stand under a fresh random name) and is checked there: the file that
// was moved is the one the plan expected, which no check before the move could make sure of. The
// new content then takes the name, never replacing, so a file that appears there meanwhile stays.
// Between the two moves the name is empty for a moment; a crash there leaves the old version
// under the temporary name (the scans report it as a temporary file and never list or remove it).
Disposed replaceByMovingAside(int dir, TemporaryName& held, const std::string& name,
                              const FileStamp* expected, const OldVersion& old,
                              const FileSystemCapabilities* given) {
    // Without capabilities in hand, the identity checks below still need to know whether an inode
    // number survives the move (it does not where a FUSE daemon numbers each name it is told of).
    FileSystemCapabilities learned;
    learned.renameExchange = false;
    learned.stableInodes = given ? given->stableInodes : !inodesMayChange(dir);
    const FileSystemCapabilities* capabilities = given ? given : &learned;
    const std::string aside = copyTemporaryName();
    if (const int error = recordOldVersion(dir, aside, name, nullptr, old); error != 0)
        return failure(error);
    if (const FsResult moved = moveNoReplaceAt(dir, name, dir, aside, capabilities); !moved.ok())
        return failure(moved.error == ENOENT ? kChangedSincePlanning : moved.error);
    struct stat out {};
    const bool planned = ::fstatat(dir, aside.c_str(), &out, AT_SYMLINK_NOFOLLOW) == 0 &&
                         !S_ISDIR(out.st_mode) &&
                         (!expected || sameFileOn(capabilities, stampOf(out), *expected));
    if (!planned)
        return putBack(dir, aside, name, kChangedSincePlanning, capabilities);
    struct stat placed {};
    if (::fstatat(dir, held.name().c_str(), &placed, AT_SYMLINK_NOFOLLOW) != 0)
        return putBack(dir, aside, name, errno, capabilities);
    if (const FsResult moved = moveNoReplaceAt(dir, held.name(), dir, name, capabilities); !moved.ok())
        return putBack(dir, aside, name, moved.error == EEXIST ? kChangedSincePlanning : moved.error,
                       capabilities);
    held.release();
    if (!old.disposal) {
        ::unlinkat(dir, aside.c_str(), 0);
        return {};
    }
    Disposed kept = old.disposal->dispose(dir, aside, *old.path);
    if (kept.ok())
        return kept;
    return takeBackPlacement(dir, held, name, aside, placed, std::move(kept), old, capabilities);
}

// Replaces the file at `name` (with `expected`, only that file) by the content at `held`.
Disposed replaceExisting(int dir, TemporaryName& held, const std::string& name, const FileStamp* expected,
                         const OldVersion& old, const FileSystemCapabilities* capabilities) {
    if (!capabilities || capabilities->renameExchange) {
        if (const int error = recordOldVersion(dir, held.name(), name, &held.name(), old); error != 0)
            return failure(error);
        if (renameAt(dir, held.name(), dir, name, RENAME_EXCHANGE) == 0)
            return afterExchange(dir, held, name, expected, old, capabilities);
        if (errno != EINVAL && errno != ENOSYS)
            return failure(errno == ENOENT ? kChangedSincePlanning : errno);
    }
    return replaceByMovingAside(dir, held, name, expected, old, capabilities);
}

Disposed placeNew(int dir, TemporaryName& held, const std::string& name,
                  const FileSystemCapabilities* capabilities) {
    const FsResult moved = moveNoReplaceAt(dir, held.name(), dir, name, capabilities);
    if (moved.ok()) {
        held.release();
        return {};
    }
    return failure(moved.error == EEXIST ? takenReason(dir, name) : moved.error);
}

Disposed placeOverAnything(int dir, TemporaryName& held, const std::string& name, const OldVersion& old,
                           const FileSystemCapabilities* capabilities) {
    if (old.disposal) {
        // A file standing there is kept when it is to be kept: never renamed over, even one that
        // appears at the last moment.
        const FsResult moved = moveNoReplaceAt(dir, held.name(), dir, name, capabilities);
        if (moved.ok()) {
            held.release();
            return {};
        }
        if (moved.error != EEXIST)
            return failure(moved.error);
        if (takenReason(dir, name) == EISDIR)
            return failure(EISDIR);
        if (old.between)
            old.between->now(*old.path);
        return replaceExisting(dir, held, name, nullptr, old, capabilities);
    }
    if (::renameat(dir, held.name().c_str(), dir, name.c_str()) != 0)
        return failure(errno);
    held.release();
    return {};
}

} // namespace

TemporaryName::TemporaryName(int dir) : dir_(dir) {}

TemporaryName::~TemporaryName() {
    if (!name_.empty())
        ::unlinkat(dir_, name_.c_str(), 0);
}

std::string folderOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

int takenReason(int dir, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
        return EISDIR;
    return kChangedSincePlanning;
}

Disposed placeHeld(int dir, TemporaryName& held, const std::string& name, const DestinationPlan& plan,
                   const OldVersion& old, const FileSystemCapabilities* capabilities) {
    switch (plan.kind) {
    case DestinationPlan::Kind::Anything:
        return placeOverAnything(dir, held, name, old, capabilities);
    case DestinationPlan::Kind::Nothing:
        return placeNew(dir, held, name, capabilities);
    case DestinationPlan::Kind::Planned:
        break;
    }
    struct stat before {};
    if (::fstatat(dir, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0)
        return failure(errno == ENOENT ? kChangedSincePlanning : errno);
    if (S_ISDIR(before.st_mode) || !sameFileOn(capabilities, stampOf(before), plan.stamp))
        return failure(kChangedSincePlanning);
    if (old.between)
        old.between->now(*old.path);
    return replaceExisting(dir, held, name, &plan.stamp, old, capabilities);
}

} // namespace paritas::placement

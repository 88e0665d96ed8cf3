#include "core/platform/file_copy.h"

#include "core/platform/file_queries.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h> // FICLONE, RENAME_EXCHANGE, RENAME_NOREPLACE
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace paritas {
namespace {

constexpr std::size_t kBufferBytes = 256u << 10;
constexpr int kNameAttempts = 16;
// Reported when the source changed size or modified time during the copy.
constexpr int kSourceChanged = EAGAIN;

CopyResult copied() {
    return {CopyOutcome::Copied, 0};
}
CopyResult cancelled() {
    return {CopyOutcome::Cancelled, 0};
}
CopyResult failed(int error) {
    return {CopyOutcome::Failed, error};
}

class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the close's own failure (some file systems report write errors here).
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int fd_;
};

int renameAt(int fromDir, const std::string& from, int toDir, const std::string& to, unsigned flags) {
    return static_cast<int>(::syscall(SYS_renameat2, fromDir, from.c_str(), toDir, to.c_str(), flags));
}

// A temporary name in `dir` that this copy made and removes again unless it is handed on.
class TemporaryName {
public:
    explicit TemporaryName(int dir) : dir_(dir) {}
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName() {
        if (!name_.empty())
            ::unlinkat(dir_, name_.c_str(), 0);
    }
    void hold(std::string name) { name_ = std::move(name); }
    const std::string& name() const { return name_; }
    bool held() const { return !name_.empty(); }
    void release() { name_.clear(); }

private:
    int dir_;
    std::string name_;
};

// Gives the unnamed file `fd` the name `name` in `dir`; fails with EEXIST when the name is taken.
int linkUnnamed(int fd, int dir, const std::string& name) {
    if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    if (errno != ENOENT && errno != EPERM)
        return errno;
    // AT_EMPTY_PATH needs a capability ordinary users lack; the descriptor's /proc entry does not.
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, procPath, dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// Why a name that was to be free is taken: a folder standing there (the plan could see it), or
// something that appeared since planning.
int takenReason(int dir, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
        return EISDIR;
    return kChangedSincePlanning;
}

// Puts the complete content at `held` (a temporary name in `dir`) in place of `name` as the plan
// allows. On success the temporary name is gone.
int placeHeld(int dir, TemporaryName& held, const std::string& name, const DestinationPlan& plan) {
    switch (plan.kind) {
    case DestinationPlan::Kind::Anything:
        if (::renameat(dir, held.name().c_str(), dir, name.c_str()) != 0)
            return errno;
        held.release();
        return 0;
    case DestinationPlan::Kind::Nothing:
        if (renameAt(dir, held.name(), dir, name, RENAME_NOREPLACE) == 0) {
            held.release();
            return 0;
        }
        if (errno == EEXIST)
            return takenReason(dir, name);
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        // No RENAME_NOREPLACE here: a second name fails when the name is taken.
        if (::linkat(dir, held.name().c_str(), dir, name.c_str(), 0) != 0)
            return errno == EEXIST ? takenReason(dir, name) : errno;
        return 0; // the temporary name goes with `held`
    case DestinationPlan::Kind::Planned:
        break;
    }
    struct stat before {};
    if (::fstatat(dir, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? kChangedSincePlanning : errno;
    if (S_ISDIR(before.st_mode) || !stampOf(before).sameFileAs(plan.stamp))
        return kChangedSincePlanning;
    if (renameAt(dir, held.name(), dir, name, RENAME_EXCHANGE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            return errno == ENOENT ? kChangedSincePlanning : errno;
        // No exchange here: the check above is the last word.
        if (::renameat(dir, held.name().c_str(), dir, name.c_str()) != 0)
            return errno;
        held.release();
        return 0;
    }
    // The temporary name now holds what stood at the destination: the planned file, or it goes back.
    struct stat out {};
    const bool same = ::fstatat(dir, held.name().c_str(), &out, AT_SYMLINK_NOFOLLOW) == 0 &&
                      !S_ISDIR(out.st_mode) && stampOf(out).sameFileAs(plan.stamp);
    if (!same) {
        renameAt(dir, held.name(), dir, name, RENAME_EXCHANGE);
        return kChangedSincePlanning;
    }
    return 0; // the old version goes with `held`
}

// Copies up to `want` bytes from `offset` of `in` to the same offset of `out`; the byte count, 0 at
// end of file, -1 on error.
ssize_t readWriteChunk(int in, int out, off_t offset, uint64_t want, char* buffer) {
    uint64_t done = 0;
    while (done < want) {
        const ssize_t got =
            ::pread(in, buffer, std::min<uint64_t>(kBufferBytes, want - done), offset + off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t n = ::pwrite(out, buffer + written, static_cast<std::size_t>(got - written),
                                       offset + off_t(done) + written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            written += n;
        }
        done += static_cast<uint64_t>(got);
    }
    return static_cast<ssize_t>(done);
}

// A file system that cannot clone at all says so for every file; remembering the last such source
// device saves a failing call per file when copying many small files.
std::atomic<dev_t> noCloneDevice{static_cast<dev_t>(-1)};

bool cloneMayWork(dev_t sourceDevice) {
    return noCloneDevice.load(std::memory_order_relaxed) != sourceDevice;
}

bool rangeCopyUnavailable(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF ||
           error == EPERM;
}

// Copies byte ranges of one file into the same places of another, by copy_file_range, or by reading
// and writing where the file systems refuse it (decided at the first byte), in chunks so that progress
// and cancel come often enough.
class RangeCopier {
public:
    RangeCopier(int in, int out, uint64_t total, CopyObserver& observer)
        : in_(in), out_(out), total_(total), observer_(observer) {}

    // Copies [from, to). Progress counts positions, so a skipped hole counts as done.
    CopyResult copy(uint64_t from, uint64_t to) {
        uint64_t at = from;
        while (at < to) {
            const uint64_t want = std::min(kCopyChunkBytes, to - at);
            ssize_t n;
            if (useRange_) {
                loff_t inOffset = loff_t(at), outOffset = loff_t(at);
                n = ::copy_file_range(in_, &inOffset, out_, &outOffset, want, 0);
                // Before the first byte, any refusal (or a file system that reports nothing to copy
                // from a non-empty file) sends the copy to plain reading and writing.
                if (!started_ && (n == 0 || (n < 0 && rangeCopyUnavailable(errno)))) {
                    useRange_ = false;
                    continue;
                }
            } else {
                if (!buffer_)
                    buffer_ = std::make_unique<char[]>(kBufferBytes);
                n = readWriteChunk(in_, out_, off_t(at), want, buffer_.get());
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return failed(errno);
            if (n == 0)
                return failed(kSourceChanged); // the source is shorter than it was
            started_ = true;
            at += static_cast<uint64_t>(n);
            if (CopyResult stop = report(at); !stop.ok())
                return stop;
        }
        return copied();
    }

    CopyResult report(uint64_t position) {
        observer_.progress(position, total_);
        return observer_.cancelRequested() ? cancelled() : copied();
    }

private:
    int in_, out_;
    uint64_t total_;
    CopyObserver& observer_;
    bool useRange_ = true;
    bool started_ = false;
    std::unique_ptr<char[]> buffer_;
};

// A file with fewer blocks than its size needs has holes.
bool looksSparse(const struct stat& st) {
    return uint64_t(st.st_blocks) * 512u < uint64_t(st.st_size);
}

// Copies only the data of a file with holes, so that holes stay holes; the size is set at the end.
CopyResult copySparse(int in, int out, uint64_t total, RangeCopier& copier) {
    uint64_t position = 0;
    while (position < total) {
        const off_t data = ::lseek(in, off_t(position), SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // only a hole is left
        if (data < 0)
            return copier.copy(position, total); // the file system cannot tell: copy the rest
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || uint64_t(hole) > total)
            hole = off_t(total);
        if (CopyResult step = copier.copy(uint64_t(data), uint64_t(hole)); !step.ok())
            return step;
        position = uint64_t(hole);
    }
    if (::ftruncate(out, off_t(total)) != 0)
        return failed(errno);
    return copier.report(total);
}

// Copies `total` bytes of `in` into the empty file `out`: a clone where the file system offers one,
// else only the data of a file with holes, else every byte.
CopyResult copyContents(int in, const struct stat& source, int out, CopyObserver& observer) {
    const uint64_t total = static_cast<uint64_t>(source.st_size);
    observer.progress(0, total);
    if (observer.cancelRequested())
        return cancelled();
    if (total == 0)
        return copied();
    if (cloneMayWork(source.st_dev)) {
        if (::ioctl(out, FICLONE, in) == 0) {
            observer.progress(total, total);
            return observer.cancelRequested() ? cancelled() : copied();
        }
        if (errno == EOPNOTSUPP || errno == ENOTTY)
            noCloneDevice.store(source.st_dev, std::memory_order_relaxed);
    }
    RangeCopier copier(in, out, total, observer);
    if (looksSparse(source))
        return copySparse(in, out, total, copier);
    return copier.copy(0, total);
}

bool sameMoment(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Opens an unnamed file in `dir`, or (where the file system cannot) a hidden temporary file held by
// `temporary`. -1 with errno on failure.
int openNewContent(int dir, TemporaryName& temporary) {
    const int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT))
        return fd;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = copyTemporaryName();
        const int named =
            ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (named >= 0) {
            temporary.hold(std::move(name));
            return named;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Gives a complete unnamed file a temporary name in `dir`.
int nameUnnamed(int fd, int dir, TemporaryName& temporary) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = copyTemporaryName();
        const int error = linkUnnamed(fd, dir, name);
        if (error == 0) {
            temporary.hold(std::move(name));
            return 0;
        }
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

CopyResult copyRegularFile(int in, const struct stat& before, int dir, const std::string& name,
                           const DestinationPlan& plan, CopyObserver& observer) {
    TemporaryName temporary(dir);
    const int outFd = openNewContent(dir, temporary);
    if (outFd < 0)
        return failed(errno);
    FileHandle out(outFd);

    const CopyResult contents = copyContents(in, before, out.get(), observer);
    if (!contents.ok())
        return contents;

    struct stat after {};
    if (::fstat(in, &after) != 0)
        return failed(errno);
    if (after.st_size != before.st_size || !sameMoment(after.st_mtim, before.st_mtim))
        return failed(kSourceChanged);

    const timespec times[2] = {before.st_atim, before.st_mtim};
    if (::futimens(out.get(), times) != 0)
        return failed(errno);
    if (::fchmod(out.get(), before.st_mode & 0777) != 0)
        return failed(errno);

    if (!temporary.held()) {
        // Unnamed: nothing expected at the destination means one link, which fails if it is taken.
        if (plan.kind == DestinationPlan::Kind::Nothing) {
            const int error = linkUnnamed(out.get(), dir, name);
            if (error != 0)
                return failed(error == EEXIST ? takenReason(dir, name) : error);
            if (const int closeError = out.close(); closeError != 0) {
                // Some file systems report a failed write only here: the name must not keep it.
                ::unlinkat(dir, name.c_str(), 0);
                return failed(closeError);
            }
            return copied();
        }
        if (const int error = nameUnnamed(out.get(), dir, temporary); error != 0)
            return failed(error);
    }
    if (const int error = out.close(); error != 0)
        return failed(error);
    if (const int error = placeHeld(dir, temporary, name, plan); error != 0)
        return failed(error);
    return copied();
}

std::string readLinkAt(int dir, const std::string& name, std::size_t sizeHint, int& error) {
    std::string target(std::max<std::size_t>(sizeHint + 1, 256), '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(dir, name.c_str(), target.data(), target.size());
        if (n < 0) {
            error = errno;
            return {};
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

CopyResult copySymbolicLink(int sourceDir, const std::string& sourceName, const struct stat& link, int dir,
                            const std::string& name, const DestinationPlan& plan, CopyObserver& observer) {
    int error = 0;
    const std::string target =
        readLinkAt(sourceDir, sourceName, static_cast<std::size_t>(link.st_size), error);
    if (error != 0)
        return failed(error);
    const uint64_t total = target.size();
    observer.progress(0, total);
    if (observer.cancelRequested())
        return cancelled();

    TemporaryName temporary(dir);
    for (int attempt = 0; attempt < kNameAttempts && !temporary.held(); ++attempt) {
        std::string tempName = copyTemporaryName();
        if (::symlinkat(target.c_str(), dir, tempName.c_str()) == 0)
            temporary.hold(std::move(tempName));
        else if (errno != EEXIST)
            return failed(errno);
    }
    if (!temporary.held())
        return failed(EEXIST);
    const timespec times[2] = {link.st_atim, link.st_mtim};
    if (::utimensat(dir, temporary.name().c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(errno);
    observer.progress(total, total);
    if (observer.cancelRequested())
        return cancelled();
    if (const int placeError = placeHeld(dir, temporary, name, plan); placeError != 0)
        return failed(placeError);
    return copied();
}

} // namespace

std::string copyTemporaryName() {
    static std::atomic<uint64_t> counter{0};
    static const uint64_t seed =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<uint64_t>(::getpid()) << 32);
    // splitmix64 over seed + counter: distinct for every call of this process, spread across runs.
    uint64_t z = seed + 0x9e3779b97f4a7c15ull * (counter.fetch_add(1) + 1);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(z));
    return std::string(kCopyTempPrefix) + digits + ".tmp";
}

CopyResult copyFileBeneath(LocationResolver& locations, const std::string& source,
                           const FileStamp* plannedSource, const std::string& destination,
                           const DestinationPlan& plan, CopyObserver& observer) {
    if (source.empty() || destination.empty())
        return failed(ENOENT);
    ResolvedPath from = locations.resolve(source);
    if (!from.ok())
        return failed(from.error);
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below. Regular files
    // ignore the flag. A link is not opened (ELOOP) but copied as a link.
    const int inFd = ::openat(from.folder.get(), from.name.c_str(),
                              O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    const int openError = inFd < 0 ? errno : 0;
    FileHandle in(inFd);
    struct stat st {};
    if (inFd >= 0 ? ::fstat(inFd, &st) != 0
                  : ::fstatat(from.folder.get(), from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(inFd >= 0 ? errno : openError);
    if (inFd < 0 && (openError != ELOOP || !S_ISLNK(st.st_mode)))
        return failed(openError);
    if (S_ISDIR(st.st_mode))
        return failed(EISDIR);
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return failed(EINVAL);
    if (plannedSource && !stampOf(st).sameFileAs(*plannedSource))
        return failed(kChangedSincePlanning);
    ResolvedPath to = locations.resolve(destination);
    if (!to.ok())
        return failed(to.error);
    if (S_ISLNK(st.st_mode))
        return copySymbolicLink(from.folder.get(), from.name, st, to.folder.get(), to.name, plan, observer);
    return copyRegularFile(in.get(), st, to.folder.get(), to.name, plan, observer);
}

CopyResult copyFileWithProgress(const std::string& source, const std::string& destination,
                                CopyObserver& observer) {
    LocationResolver asWritten;
    return copyFileBeneath(asWritten, source, nullptr, destination, DestinationPlan{}, observer);
}

} // namespace paritas

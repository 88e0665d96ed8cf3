#include "core/platform/file_copy.h"

#include "core/platform/path_text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h> // FICLONE
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

// A name in the destination's folder that no one else uses: the prefix, 16 hex digits and ".tmp".
std::string temporaryName(const std::string& destination) {
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
    const std::size_t slash = destination.rfind(kSeparator);
    const std::string folder = slash == std::string::npos ? std::string() : destination.substr(0, slash + 1);
    return folder + kCopyTempPrefix + digits + ".tmp";
}

// Removes the temporary name unless the copy was renamed into place.
class TemporaryName {
public:
    TemporaryName() = default;
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    void hold(std::string path) { path_ = std::move(path); }
    const std::string& path() const { return path_; }
    int renameOnto(const std::string& destination) {
        if (::rename(path_.c_str(), destination.c_str()) != 0)
            return errno;
        path_.clear();
        return 0;
    }

private:
    std::string path_;
};

// Copies up to `want` bytes from the current offsets; the byte count, 0 at end of file, -1 on error.
ssize_t readWriteChunk(int in, int out, uint64_t want, char* buffer) {
    uint64_t done = 0;
    while (done < want) {
        const ssize_t got = ::read(in, buffer, std::min<uint64_t>(kBufferBytes, want - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t n = ::write(out, buffer + written, static_cast<std::size_t>(got - written));
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

// Copies `total` bytes of `in` into the empty file `out`: a clone where the file system offers one,
// else copy_file_range, else read and write.
CopyResult copyContents(int in, dev_t sourceDevice, int out, uint64_t total, CopyObserver& observer) {
    observer.progress(0, total);
    if (observer.cancelRequested())
        return cancelled();
    if (total == 0)
        return copied();
    if (cloneMayWork(sourceDevice)) {
        if (::ioctl(out, FICLONE, in) == 0) {
            observer.progress(total, total);
            return observer.cancelRequested() ? cancelled() : copied();
        }
        if (errno == EOPNOTSUPP || errno == ENOTTY)
            noCloneDevice.store(sourceDevice, std::memory_order_relaxed);
    }
    bool useRange = true;
    std::unique_ptr<char[]> buffer;
    uint64_t done = 0;
    while (done < total) {
        const uint64_t want = std::min(kCopyChunkBytes, total - done);
        ssize_t n;
        if (useRange) {
            n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            // Before the first byte, any refusal (or a file system that reports nothing to copy from
            // a non-empty file) sends the copy to plain reading and writing.
            if (done == 0 && (n == 0 || (n < 0 && rangeCopyUnavailable(errno)))) {
                useRange = false;
                continue;
            }
        } else {
            if (!buffer)
                buffer = std::make_unique<char[]>(kBufferBytes);
            n = readWriteChunk(in, out, want, buffer.get());
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failed(errno);
        if (n == 0)
            return failed(kSourceChanged); // the source is shorter than it was
        done += static_cast<uint64_t>(n);
        observer.progress(done, total);
        if (observer.cancelRequested())
            return cancelled();
    }
    return copied();
}

bool sameMoment(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

CopyResult copyRegularFile(int in, const struct stat& before, const std::string& destination,
                           CopyObserver& observer) {
    TemporaryName temporary;
    int outFd = -1;
    for (int attempt = 0; attempt < kNameAttempts && outFd < 0; ++attempt) {
        std::string name = temporaryName(destination);
        outFd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (outFd >= 0)
            temporary.hold(std::move(name));
        else if (errno != EEXIST)
            return failed(errno);
    }
    if (outFd < 0)
        return failed(EEXIST);
    FileHandle out(outFd);

    const CopyResult contents =
        copyContents(in, before.st_dev, out.get(), static_cast<uint64_t>(before.st_size), observer);
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
    if (const int error = out.close(); error != 0)
        return failed(error);
    if (const int error = temporary.renameOnto(destination); error != 0)
        return failed(error);
    return copied();
}

CopyResult copySymbolicLink(const std::string& source, const struct stat& link,
                            const std::string& destination, CopyObserver& observer) {
    std::string target(std::max<std::size_t>(static_cast<std::size_t>(link.st_size) + 1, 256), '\0');
    for (;;) {
        const ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
        if (n < 0)
            return failed(errno);
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            break;
        }
        target.resize(target.size() * 2);
    }
    const uint64_t total = target.size();
    observer.progress(0, total);
    if (observer.cancelRequested())
        return cancelled();

    TemporaryName temporary;
    for (int attempt = 0; attempt < kNameAttempts && temporary.path().empty(); ++attempt) {
        std::string name = temporaryName(destination);
        if (::symlink(target.c_str(), name.c_str()) == 0)
            temporary.hold(std::move(name));
        else if (errno != EEXIST)
            return failed(errno);
    }
    if (temporary.path().empty())
        return failed(EEXIST);
    const timespec times[2] = {link.st_atim, link.st_mtim};
    if (::utimensat(AT_FDCWD, temporary.path().c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(errno);
    observer.progress(total, total);
    if (observer.cancelRequested())
        return cancelled();
    if (const int error = temporary.renameOnto(destination); error != 0)
        return failed(error);
    return copied();
}

} // namespace

CopyResult copyFileWithProgress(const std::string& source, const std::string& destination,
                                CopyObserver& observer) {
    if (source.empty() || destination.empty())
        return failed(ENOENT);
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below. Regular files
    // ignore the flag.
    const int inFd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (inFd < 0) {
        const int error = errno;
        struct stat st {};
        if (error == ELOOP && ::lstat(source.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return copySymbolicLink(source, st, destination, observer);
        return failed(error);
    }
    FileHandle in(inFd);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return failed(errno);
    if (S_ISDIR(st.st_mode))
        return failed(EISDIR);
    if (!S_ISREG(st.st_mode))
        return failed(EINVAL);
    return copyRegularFile(in.get(), st, destination, observer);
}

} // namespace paritas

#include "core/platform/file_copy.h"

#include "core/base/crc32.h"
#include "core/platform/capabilities.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_queries.h"
#include "core/platform/metadata.h"
#include "core/platform/placement.h"
#include "core/platform/unique_fd.h"
#include "core/platform/work_journal.h"

#include <algorithm>
#include <array>
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

using placement::OldVersion;
using placement::TemporaryName;

CopyResult copied(std::string keptAt = {}) {
    return {CopyOutcome::Copied, 0, {}, std::move(keptAt)};
}
CopyResult cancelled() {
    return {CopyOutcome::Cancelled, 0, {}, {}};
}
CopyResult failed(int error, std::string detail = {}) {
    return {CopyOutcome::Failed, error, std::move(detail), {}};
}
CopyResult failed(const Disposed& why) {
    return failed(why.error, why.detail);
}

using FileHandle = UniqueFd;

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

// Copies up to `want` bytes from `offset` of `in` to the same offset of `out`; the byte count, 0 at
// end of file, -1 on error. With `crc`, the bytes read are folded into it on the way.
ssize_t readWriteChunk(int in, int out, off_t offset, uint64_t want, char* buffer, uint32_t* crc) {
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
        if (crc)
            CRC32Update(reinterpret_cast<const uint8_t*>(buffer), static_cast<std::size_t>(got), *crc);
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
// and cancel come often enough. With `crc` it always reads and writes, and folds the source's bytes
// (and the zeros of the holes it skips) into the CRC, in file order.
class RangeCopier {
public:
    RangeCopier(int in, int out, uint64_t total, CopyObserver& observer, uint32_t* crc)
        : in_(in), out_(out), total_(total), observer_(observer), crc_(crc), useRange_(crc == nullptr) {}

    // Copies [from, to). Progress counts positions, so a skipped hole counts as done.
    CopyResult copy(uint64_t from, uint64_t to) {
        foldZerosUpTo(from);
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
                n = readWriteChunk(in_, out_, off_t(at), want, buffer_.get(), crc_);
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return failed(errno);
            if (n == 0)
                return failed(kChangedWhileCopied); // the source is shorter than it was
            started_ = true;
            at += static_cast<uint64_t>(n);
            crcAt_ = at;
            if (CopyResult stop = report(at); !stop.ok())
                return stop;
        }
        return copied();
    }

    CopyResult report(uint64_t position) {
        observer_.progress(position, total_);
        return observer_.cancelRequested() ? cancelled() : copied();
    }

    // The zeros of a hole before `position` that the CRC has not seen yet (a hole reads as zeros).
    void foldZerosUpTo(uint64_t position) {
        static const std::array<uint8_t, 65536> zeros{};
        for (; crc_ && crcAt_ < position;) {
            const uint64_t n = std::min<uint64_t>(zeros.size(), position - crcAt_);
            CRC32Update(zeros.data(), std::size_t(n), *crc_);
            crcAt_ += n;
        }
    }

private:
    int in_, out_;
    uint64_t total_;
    CopyObserver& observer_;
    uint32_t* crc_;
    uint64_t crcAt_ = 0;
    bool useRange_;
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
    copier.foldZerosUpTo(total);
    return copier.report(total);
}

// Copies `total` bytes of `in` into the empty file `out`: a clone where the file system offers one,
// else only the data of a file with holes, else every byte. With `crc`, the source is read through a
// buffer and its CRC folded into `crc` (never a clone, which would not show the bytes).
CopyResult copyContents(int in, const struct stat& source, int out, CopyObserver& observer, uint32_t* crc) {
    const uint64_t total = static_cast<uint64_t>(source.st_size);
    observer.progress(0, total);
    if (observer.cancelRequested())
        return cancelled();
    if (total == 0)
        return copied();
    if (!crc && cloneMayWork(source.st_dev)) {
        if (::ioctl(out, FICLONE, in) == 0) {
            observer.progress(total, total);
            return observer.cancelRequested() ? cancelled() : copied();
        }
        if (errno == EOPNOTSUPP || errno == ENOTTY)
            noCloneDevice.store(source.st_dev, std::memory_order_relaxed);
    }
    RangeCopier copier(in, out, total, observer, crc);
    if (looksSparse(source))
        return copySparse(in, out, total, copier);
    return copier.copy(0, total);
}

bool sameMoment(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The journal is told of a temporary name for new content before it is made (0 without a journal).
int recorded(const std::string& name, const OldVersion& old) {
    if (!old.journal || !old.path)
        return 0;
    return old.journal->newContent(placement::folderOfPath(*old.path), name);
}

// Opens an unnamed file in `dir`, or (where the file system cannot, or `unnamed` says so at once) a
// hidden temporary file held by `temporary`. -1 with errno on failure.
int openNewContent(int dir, TemporaryName& temporary, bool unnamed, const OldVersion& old) {
    // Read and write: a verified copy is read back before it takes its name.
    if (unnamed) {
        const int fd = ::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT))
            return fd;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = copyTemporaryName();
        if (const int error = recorded(name, old); error != 0) {
            errno = error;
            return -1;
        }
        const int named =
            ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
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
int nameUnnamed(int fd, int dir, TemporaryName& temporary, const OldVersion& old) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = copyTemporaryName();
        if (const int error = recorded(name, old); error != 0)
            return error;
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

// The new content as the disk holds it: written out and dropped from the page cache first, so that
// the bytes come from the disk and not from the memory that wrote them. Its CRC and size must be the
// source's.
CopyResult readBackAndCompare(int fd, uint64_t total, uint32_t sourceCrc, CopyObserver& observer) {
    observer.beforeReadBack(fd);
    if (::fdatasync(fd) != 0)
        return failed(errno);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    const auto buffer = std::make_unique<uint8_t[]>(kCrcReadBlockSize);
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.get(), kCrcReadBlockSize, off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failed(errno);
        if (n == 0)
            break;
        CRC32Update(buffer.get(), std::size_t(n), crc);
        at += uint64_t(n);
        if (observer.cancelRequested())
            return cancelled();
    }
    if (at == total && crc == sourceCrc)
        return copied();
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "the source has CRC %08X and %llu bytes, the copy CRC %08X and %llu bytes", ~sourceCrc,
                  static_cast<unsigned long long>(total), ~crc, static_cast<unsigned long long>(at));
    return failed(kCopyDiffers, detail);
}

CopyResult placed(const Disposed& placing) {
    return placing.ok() ? copied(placing.keptAt) : failed(placing);
}

// Unnamed content where nothing is expected at the destination: one link, which fails if the name
// is taken.
CopyResult linkUnnamedAsNew(FileHandle& out, int dir, const std::string& name) {
    const int error = linkUnnamed(out.get(), dir, name);
    if (error != 0)
        return failed(error == EEXIST ? placement::takenReason(dir, name) : error);
    if (const int closeError = out.close(); closeError != 0) {
        // Some file systems report a failed write only here: the name must not keep it.
        ::unlinkat(dir, name.c_str(), 0);
        return failed(closeError);
    }
    return copied();
}

// The new content takes the source's metadata before it takes a name: with a keeper all of it
// (metadata.h), else the rwx bits and the times.
CopyResult keepMetadata(int in, const struct stat& before, int out, const CopyOptions& options) {
    if (!options.keeper) {
        const timespec times[2] = {before.st_atim, before.st_mtim};
        if (::futimens(out, times) != 0)
            return failed(errno);
        if (::fchmod(out, before.st_mode & 0777) != 0)
            return failed(errno);
        return copied();
    }
    EntryMetadata source = metadataFromStat(before);
    AttributesRead attributes = readAttributes(in, kAllAttributes);
    if (!attributes.ok())
        return failed(attributes.error, "the source's " + attributes.detail);
    source.attributesRead = kAllAttributes;
    source.attributes = std::move(attributes.attributes);
    const MetadataApplied applied = applyToNewFile(out, source, *options.keeper);
    if (!applied.ok())
        return failed(applied.error, applied.detail);
    return copied();
}

// A link's metadata, on its temporary name: with a keeper its owner, attributes and times, else its
// times.
CopyResult keepLinkMetadata(int sourceDir, const std::string& sourceName, const struct stat& link, int dir,
                            const std::string& name, const CopyOptions& options) {
    if (!options.keeper) {
        const timespec times[2] = {link.st_atim, link.st_mtim};
        return ::utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? copied() : failed(errno);
    }
    EntryMetadata source = metadataFromStat(link);
    AttributesRead attributes = readAttributesAt(sourceDir, sourceName, kAllAttributes);
    if (!attributes.ok())
        return failed(attributes.error, "the source's " + attributes.detail);
    source.attributesRead = kAllAttributes;
    source.attributes = std::move(attributes.attributes);
    const MetadataApplied applied = applyToLink(dir, name, source, *options.keeper);
    return applied.ok() ? copied() : failed(applied.error, applied.detail);
}

CopyResult copyRegularFile(int in, const struct stat& before, int dir, const std::string& name,
                           const DestinationPlan& plan, CopyObserver& observer, const OldVersion& old,
                           const CopyOptions& options) {
    const FileSystemCapabilities* capabilities = options.capabilities;
    TemporaryName temporary(dir);
    const int outFd = openNewContent(dir, temporary, !capabilities || capabilities->unnamedFiles, old);
    if (outFd < 0)
        return failed(errno);
    FileHandle out(outFd);

    uint32_t sourceCrc = 0xFFFFFFFFu;
    const CopyResult contents =
        copyContents(in, before, out.get(), observer, options.verify ? &sourceCrc : nullptr);
    if (!contents.ok())
        return contents;

    struct stat after {};
    if (::fstat(in, &after) != 0)
        return failed(errno);
    if (after.st_size != before.st_size || !sameMoment(after.st_mtim, before.st_mtim))
        return failed(kChangedWhileCopied);
    if (options.verify)
        if (CopyResult compared =
                readBackAndCompare(out.get(), uint64_t(before.st_size), sourceCrc, observer);
            !compared.ok())
            return compared;

    if (CopyResult kept = keepMetadata(in, before, out.get(), options); !kept.ok())
        return kept;

    if (!temporary.held()) {
        if (plan.kind == DestinationPlan::Kind::Nothing)
            return linkUnnamedAsNew(out, dir, name);
        if (const int error = nameUnnamed(out.get(), dir, temporary, old); error != 0)
            return failed(error);
    } else if (::fsync(out.get()) != 0) {
        // A named temporary is on a file system that may not order data before a rename (FAT,
        // NTFS, a share): its content is on the disk before it takes a real name.
        return failed(errno);
    }
    if (const int error = out.close(); error != 0)
        return failed(error);
    return placed(placeHeld(dir, temporary, name, plan, old, capabilities));
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
                            const std::string& name, const DestinationPlan& plan, CopyObserver& observer,
                            const OldVersion& old, const CopyOptions& options) {
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
        if (const int recordError = recorded(tempName, old); recordError != 0)
            return failed(recordError);
        if (::symlinkat(target.c_str(), dir, tempName.c_str()) == 0)
            temporary.hold(std::move(tempName));
        else if (errno != EEXIST)
            return failed(errno);
    }
    if (!temporary.held())
        return failed(EEXIST);
    if (CopyResult kept = keepLinkMetadata(sourceDir, sourceName, link, dir, temporary.name(), options); !kept.ok())
        return kept;
    observer.progress(total, total);
    if (observer.cancelRequested())
        return cancelled();
    return placed(placeHeld(dir, temporary, name, plan, old, options.capabilities));
}

} // namespace

std::string copyTemporaryName() {
    const uint64_t z = uniqueNumber();
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(z));
    return std::string(kCopyTempPrefix) + digits + ".tmp";
}

CopyResult copyFileBeneath(LocationResolver& locations, const std::string& source,
                           const FileStamp* plannedSource, const std::string& destination,
                           const DestinationPlan& plan, CopyObserver& observer, const CopyOptions& options) {
    return copyFileBeneath(locations, source, plannedSource, locations, destination, plan, observer, options);
}

CopyResult copyFileBeneath(LocationResolver& sourceSide, const std::string& source,
                           const FileStamp* plannedSource, LocationResolver& destinationSide,
                           const std::string& destination, const DestinationPlan& plan,
                           CopyObserver& observer, const CopyOptions& options) {
    if (source.empty() || destination.empty())
        return failed(ENOENT);
    ResolvedPath from = sourceSide.resolve(source);
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
        return failed(kNoLongerAFile); // a FIFO, a device or a socket: reading it could block or never end
    if (plannedSource && !sameFileOn(options.sourceCapabilities, stampOf(st), *plannedSource))
        return failed(kChangedSincePlanning);
    ResolvedPath to = destinationSide.resolve(destination);
    if (!to.ok())
        return failed(to.error);
    // A file there that is to be kept must have somewhere to go before anything is copied.
    const OldVersion old{options.disposal, &destination, options.between, options.journal};
    struct stat existing {};
    if (options.disposal && plan.kind != DestinationPlan::Kind::Nothing &&
        ::fstatat(to.folder.get(), to.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(existing.st_mode))
        if (const Disposed ready = options.disposal->ready(to.folder.get(), destination); !ready.ok())
            return failed(ready);
    if (S_ISLNK(st.st_mode))
        return copySymbolicLink(from.folder.get(), from.name, st, to.folder.get(), to.name, plan, observer,
                                old, options);
    return copyRegularFile(in.get(), st, to.folder.get(), to.name, plan, observer, old, options);
}

CopyResult copyFileWithProgress(const std::string& source, const std::string& destination,
                                CopyObserver& observer) {
    LocationResolver asWritten;
    return copyFileBeneath(asWritten, source, nullptr, destination, DestinationPlan{}, observer);
}

CopyResult copyThenDeleteIfUnchanged(LocationResolver& locations, const std::string& source,
                                     const FileStamp* plannedSource, const std::string& destination,
                                     CopyObserver& observer, const CopyOptions& options) {
    // The source's stamp is what the delete checks: the planned one, else the one seen now (the copy
    // itself fails when the source changes while it is copied).
    FileStamp copiedSource;
    if (plannedSource) {
        copiedSource = *plannedSource;
    } else {
        const ResolvedPath from = locations.resolve(source);
        struct stat st {};
        if (!from.ok())
            return failed(from.error);
        if (::fstatat(from.folder.get(), from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return failed(errno);
        copiedSource = stampOf(st);
    }
    CopyResult result =
        copyFileBeneath(locations, source, &copiedSource, destination,
                        DestinationPlan{DestinationPlan::Kind::Nothing, {}}, observer, options);
    if (!result.ok())
        return result;
    // The copy as it stands now, so that only the copy itself is ever removed again.
    const ResolvedPath to = locations.resolve(destination);
    struct stat made {};
    const bool copySeen =
        to.ok() && ::fstatat(to.folder.get(), to.name.c_str(), &made, AT_SYMLINK_NOFOLLOW) == 0;
    const FsResult removed = deleteIfUnchanged(locations, source, &copiedSource, options.sourceCapabilities);
    if (removed.ok())
        return result;
    // The source stays, so the copy goes again: the line either moved the file or changed nothing.
    const FileStamp copyStamp = stampOf(made);
    if (copySeen && deleteIfUnchanged(locations, destination, &copyStamp, options.capabilities).ok())
        return failed(removed.error, "the source stays where it was, and its copy was removed again");
    return failed(removed.error, "the source stays where it was, and so does its copy at " + destination);
}

} // namespace paritas

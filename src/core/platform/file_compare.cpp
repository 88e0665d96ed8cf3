#include "core/platform/file_compare.h"
#include "core/platform/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

constexpr std::size_t kBlockBytes = 256u << 10;

// The file at a resolved path, opened for reading without following a link or waiting on a FIFO.
UniqueFd openForComparing(const ResolvedPath& at) {
    return UniqueFd(::openat(at.folder.get(), at.name.c_str(),
                             O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
}

// Reads up to `size` bytes, retrying short reads; the count read, or -1 on error.
ssize_t readFully(int fd, char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool readLinkText(const ResolvedPath& at, std::string& text) {
    text.assign(256, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(at.folder.get(), at.name.c_str(), text.data(), text.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) < text.size()) {
            text.resize(static_cast<std::size_t>(n));
            return true;
        }
        text.resize(text.size() * 2);
    }
}

DuplicateProof compareLinks(const ResolvedPath& kept, const ResolvedPath& duplicate) {
    std::string keptText, duplicateText;
    if (!readLinkText(kept, keptText) || !readLinkText(duplicate, duplicateText))
        return DuplicateProof::Unreadable;
    return keptText == duplicateText ? DuplicateProof::Proven : DuplicateProof::Different;
}

DuplicateProof compareContents(const ResolvedPath& kept, const ResolvedPath& duplicate) {
    const UniqueFd a = openForComparing(kept), b = openForComparing(duplicate);
    if (a.get() < 0 || b.get() < 0)
        return DuplicateProof::Unreadable;
    struct stat sa {
    }, sb{};
    if (::fstat(a.get(), &sa) != 0 || ::fstat(b.get(), &sb) != 0)
        return DuplicateProof::Unreadable;
    if (!S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode))
        return DuplicateProof::Different;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return DuplicateProof::SameFile;
    if (sa.st_size != sb.st_size)
        return DuplicateProof::Different;
    const auto bufferA = std::make_unique<char[]>(kBlockBytes);
    const auto bufferB = std::make_unique<char[]>(kBlockBytes);
    for (;;) {
        const ssize_t na = readFully(a.get(), bufferA.get(), kBlockBytes);
        const ssize_t nb = readFully(b.get(), bufferB.get(), kBlockBytes);
        if (na < 0 || nb < 0)
            return DuplicateProof::Unreadable;
        if (na != nb || std::memcmp(bufferA.get(), bufferB.get(), static_cast<std::size_t>(na)) != 0)
            return DuplicateProof::Different;
        if (na == 0)
            return DuplicateProof::Proven;
    }
}

} // namespace

DuplicateProof proveDuplicate(const std::string& kept, const std::string& duplicate) {
    LocationResolver asWritten;
    return proveDuplicate(asWritten, kept, duplicate);
}

DuplicateProof proveDuplicate(LocationResolver& locations, const std::string& keptPath,
                              const std::string& duplicatePath) {
    return proveDuplicate(locations, keptPath, locations, duplicatePath);
}

DuplicateProof proveDuplicate(LocationResolver& keptSide, const std::string& keptPath,
                              LocationResolver& duplicateSide, const std::string& duplicatePath) {
    const ResolvedPath duplicate = duplicateSide.resolve(duplicatePath);
    struct stat sd {
    }, sk{};
    if (!duplicate.ok())
        return duplicate.error == ENOENT ? DuplicateProof::DuplicateMissing : DuplicateProof::Unreadable;
    if (::fstatat(duplicate.folder.get(), duplicate.name.c_str(), &sd, AT_SYMLINK_NOFOLLOW) != 0 ||
        S_ISDIR(sd.st_mode))
        return DuplicateProof::DuplicateMissing;
    if (keptPath == duplicatePath)
        return DuplicateProof::SameFile;
    const ResolvedPath kept = keptSide.resolve(keptPath);
    if (!kept.ok())
        return kept.error == ENOENT ? DuplicateProof::KeptMissing : DuplicateProof::Unreadable;
    if (::fstatat(kept.folder.get(), kept.name.c_str(), &sk, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(sk.st_mode))
        return DuplicateProof::KeptMissing;
    if (sk.st_dev == sd.st_dev && sk.st_ino == sd.st_ino)
        return DuplicateProof::SameFile;
    if (S_ISLNK(sk.st_mode) != S_ISLNK(sd.st_mode))
        return DuplicateProof::Different;
    if (S_ISLNK(sk.st_mode))
        return compareLinks(kept, duplicate);
    return compareContents(kept, duplicate);
}

} // namespace paritas

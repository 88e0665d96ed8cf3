#include "core/checksum/crc32.h"
#include "core/platform/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {

namespace {

int openNoFollow(const char* path) {
    int fd;
    do
        fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// The target text of a symbolic link, or the errno of the failure.
int readLinkTarget(const char* path, std::vector<char>& target) {
    target.resize(256);
    for (;;) {
        const ssize_t length = ::readlink(path, target.data(), target.size());
        if (length < 0)
            return errno;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return 0;
        }
        target.resize(target.size() * 2);
    }
}

// The file was opened: reads it block by block into the running crc.
void foldOpenFile(int fd, uint32_t& crc, int64_t& totalBytes, uint16_t& error,
                  const CrcBlockHook& afterEachBlock) {
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kCrcReadBlockSize);
    totalBytes = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kCrcReadBlockSize);
        if (got < 0 && errno == EINTR)
            continue;
        error = got < 0 ? static_cast<uint16_t>(errno) : 0;
        if (got <= 0)
            return;
        CRC32Update(buffer.get(), static_cast<std::size_t>(got), crc);
        totalBytes += got;
        if (afterEachBlock)
            afterEachBlock();
    }
}

} // namespace

void CRC32File(const std::string& fileName, uint32_t& crc, int64_t& totalBytes, uint16_t& error,
               const CrcBlockHook& afterEachBlock) {
    crc = 0xFFFFFFFFu;
    error = 0;
    const int fd = openNoFollow(fileName.c_str());
    if (fd < 0) {
        const int openError = errno;
        std::vector<char> target;
        // O_NOFOLLOW refuses a link at the last component with ELOOP: the link's own content is its
        // target text. A readlink failing with EINVAL means the ELOOP had another cause.
        const int linkError = openError == ELOOP ? readLinkTarget(fileName.c_str(), target) : EINVAL;
        if (linkError == 0) {
            CRC32Update(reinterpret_cast<const uint8_t*>(target.data()), target.size(), crc);
            totalBytes = static_cast<int64_t>(target.size());
        } else {
            error = static_cast<uint16_t>(linkError == EINVAL ? openError : linkError);
        }
        crc = ~crc;
        return;
    }

    const UniqueFd file(fd); // closed however the reading ends (a block hook may throw after all)
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = static_cast<uint16_t>(errno);
    } else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        error = EINVAL;
    } else {
        // O_NONBLOCK only kept the open from waiting (a FIFO, a file under a lease); reads wait as usual.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        foldOpenFile(fd, crc, totalBytes, error, afterEachBlock);
    }
    crc = ~crc;
}

void CRC32File(const std::string& fileName, uint32_t& crc, int64_t& totalBytes, uint16_t& error) {
    CRC32File(fileName, crc, totalBytes, error, CrcBlockHook{});
}

} // namespace paritas

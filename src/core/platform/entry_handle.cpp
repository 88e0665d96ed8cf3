#include "core/platform/entry_handle.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace paritas::detail {
namespace {

// Most entries' attribute lists and values fit here, so that one call reads them.
constexpr std::size_t kStackBytes = 4096;

int result(int rc) {
    return rc == 0 ? 0 : errno;
}

} // namespace

EntryHandle::EntryHandle(int fd, bool owned, bool pathOnly, int error)
    : fd_(fd), owned_(owned), pathOnly_(pathOnly), error_(error) {
    if (fd_ >= 0)
        std::snprintf(proc_, sizeof proc_, "/proc/self/fd/%d", fd_);
}

EntryHandle EntryHandle::openPath(int dir, const std::string& name) {
    const int fd = ::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    return EntryHandle(fd, true, true, fd < 0 ? errno : 0);
}

EntryHandle EntryHandle::borrow(int fd) {
    return EntryHandle(fd, false, false, fd < 0 ? EBADF : 0);
}

EntryHandle::EntryHandle(EntryHandle&& other) noexcept
    : fd_(other.fd_), owned_(other.owned_), pathOnly_(other.pathOnly_), error_(other.error_) {
    std::copy(std::begin(other.proc_), std::end(other.proc_), std::begin(proc_));
    other.fd_ = -1;
    other.owned_ = false;
}

EntryHandle::~EntryHandle() {
    if (owned_ && fd_ >= 0)
        ::close(fd_);
}

int EntryHandle::stat(struct stat& st) const {
    return result(::fstat(fd_, &st));
}

int EntryHandle::chown(uid_t owner, gid_t group) const {
    if (!pathOnly_)
        return result(::fchown(fd_, owner, group));
    return result(::fchownat(fd_, "", owner, group, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW));
}

int EntryHandle::chmod(mode_t permissions) const {
    if (!pathOnly_)
        return result(::fchmod(fd_, permissions));
    return result(::fchmodat(AT_FDCWD, proc_, permissions, 0));
}

int EntryHandle::setTimes(const timespec times[2]) const {
    if (!pathOnly_)
        return result(::futimens(fd_, times));
    return result(::utimensat(AT_FDCWD, proc_, times, 0));
}

ssize_t EntryHandle::listAttributes(char* buffer, std::size_t size) const {
    return pathOnly_ ? ::listxattr(proc_, buffer, size) : ::flistxattr(fd_, buffer, size);
}

ssize_t EntryHandle::getAttribute(const char* name, void* buffer, std::size_t size) const {
    return pathOnly_ ? ::getxattr(proc_, name, buffer, size) : ::fgetxattr(fd_, name, buffer, size);
}

int EntryHandle::setAttribute(const std::string& name, const std::string& value) const {
    return result(pathOnly_ ? ::setxattr(proc_, name.c_str(), value.data(), value.size(), 0)
                            : ::fsetxattr(fd_, name.c_str(), value.data(), value.size(), 0));
}

int EntryHandle::removeAttribute(const char* name) const {
    return result(pathOnly_ ? ::removexattr(proc_, name) : ::fremovexattr(fd_, name));
}

int listAttributeNames(const EntryHandle& entry, std::vector<std::string>& names) {
    names.clear();
    std::array<char, kStackBytes> onStack;
    std::vector<char> large;
    char* buffer = onStack.data();
    ssize_t n = entry.listAttributes(buffer, onStack.size());
    while (n < 0 && errno == ERANGE) {
        // The list grows between the calls only when someone adds names meanwhile: ask again.
        const ssize_t needed = entry.listAttributes(nullptr, 0);
        if (needed < 0)
            return errno;
        large.resize(static_cast<std::size_t>(needed) + 256);
        buffer = large.data();
        n = entry.listAttributes(buffer, large.size());
    }
    if (n < 0)
        return errno == ENOTSUP || errno == EOPNOTSUPP ? 0 : errno; // a file system without attributes
    for (ssize_t at = 0; at < n;) {
        std::string name(buffer + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        if (!name.empty())
            names.push_back(std::move(name));
    }
    return 0;
}

int readAttributeValue(const EntryHandle& entry, const std::string& name, std::string& value) {
    std::array<char, kStackBytes> onStack;
    ssize_t n = entry.getAttribute(name.c_str(), onStack.data(), onStack.size());
    if (n >= 0) {
        value.assign(onStack.data(), static_cast<std::size_t>(n));
        return 0;
    }
    while (errno == ERANGE) {
        const ssize_t needed = entry.getAttribute(name.c_str(), nullptr, 0);
        if (needed < 0)
            return errno;
        value.resize(static_cast<std::size_t>(needed));
        n = entry.getAttribute(name.c_str(), value.data(), value.size());
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            return 0;
        }
    }
    return errno;
}

} // namespace paritas::detail

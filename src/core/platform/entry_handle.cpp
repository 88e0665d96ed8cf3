#include "core/platform/entry_handle.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace paritas::detail {
namespace {

// Most entries' attribute lists and values fit here, so that one call reads them.
constexpr std::size_t kStackBytes = 4096;

int result(int rc) {
    return rc == 0 ? 0 : errno;
}

// The *xattrat calls of Linux 6.13, numbered alike on these architectures; C libraries do not wrap
// them yet. Where the kernel lacks them the first call says ENOSYS and they are not tried again.
#if defined(__x86_64__) || defined(__aarch64__)
constexpr long kGetXattrAt = 464;
constexpr long kListXattrAt = 465;
std::atomic<bool> xattrAtAvailable{true};
#else
constexpr long kGetXattrAt = -1;
constexpr long kListXattrAt = -1;
std::atomic<bool> xattrAtAvailable{false};
#endif

struct XattrArgs { // struct xattr_args
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

// The answer of an *xattrat call, or false when the kernel lacks it (then the caller asks otherwise).
bool answeredAt(long rc, ssize_t& out) {
    if (rc < 0 && errno == ENOSYS) {
        xattrAtAvailable.store(false, std::memory_order_relaxed);
        return false;
    }
    out = static_cast<ssize_t>(rc);
    return true;
}

} // namespace

EntryHandle::EntryHandle(int fd, bool owned, Kind kind, int error)
    : fd_(fd), owned_(owned ? fd : -1), kind_(kind), error_(error) {
    if (fd_ >= 0)
        std::snprintf(proc_, sizeof proc_, "/proc/self/fd/%d", fd_);
}

EntryHandle EntryHandle::openPath(int dir, const std::string& name) {
    const int fd = ::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    return EntryHandle(fd, true, Kind::PathDescriptor, fd < 0 ? errno : 0);
}

EntryHandle EntryHandle::borrow(int fd) {
    return EntryHandle(fd, false, Kind::Descriptor, fd < 0 ? EBADF : 0);
}

EntryHandle EntryHandle::named(int dir, const std::string& name) {
    EntryHandle entry(dir, false, Kind::Named, dir < 0 ? EBADF : 0);
    entry.name_ = &name;
    return entry;
}

EntryHandle::EntryHandle(EntryHandle&& other) noexcept
    : fd_(other.fd_), owned_(std::move(other.owned_)), kind_(other.kind_), error_(other.error_),
      name_(other.name_), namedPath_(std::move(other.namedPath_)) {
    std::copy(std::begin(other.proc_), std::end(other.proc_), std::begin(proc_));
    other.fd_ = -1;
}

const char* EntryHandle::namedPath() const {
    if (namedPath_.empty())
        namedPath_ = std::string(proc_) + "/" + *name_;
    return namedPath_.c_str();
}

EntryHandle::~EntryHandle() = default;

int EntryHandle::stat(struct stat& st) const {
    if (kind_ == Kind::Named)
        return result(::fstatat(fd_, name_->c_str(), &st, AT_SYMLINK_NOFOLLOW));
    return result(::fstat(fd_, &st));
}

// Changes go through a descriptor on the entry itself; a named entry's descriptor is its folder's.
int EntryHandle::chown(uid_t owner, gid_t group) const {
    if (kind_ == Kind::Named)
        return EBADF;
    if (kind_ == Kind::Descriptor)
        return result(::fchown(fd_, owner, group));
    return result(::fchownat(fd_, "", owner, group, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW));
}

int EntryHandle::chmod(mode_t permissions) const {
    if (kind_ == Kind::Named)
        return EBADF;
    if (kind_ == Kind::Descriptor)
        return result(::fchmod(fd_, permissions));
    return result(::fchmodat(AT_FDCWD, proc_, permissions, 0));
}

int EntryHandle::setTimes(const timespec times[2]) const {
    if (kind_ == Kind::Named)
        return EBADF;
    if (kind_ == Kind::Descriptor)
        return result(::futimens(fd_, times));
    return result(::utimensat(AT_FDCWD, proc_, times, 0));
}

ssize_t EntryHandle::listAttributes(char* buffer, std::size_t size) const {
    switch (kind_) {
    case Kind::Descriptor:
        return ::flistxattr(fd_, buffer, size);
    case Kind::PathDescriptor:
        return ::listxattr(proc_, buffer, size);
    case Kind::Named:
        break;
    }
    ssize_t answer = -1;
    if (xattrAtAvailable.load(std::memory_order_relaxed) &&
        answeredAt(::syscall(kListXattrAt, fd_, name_->c_str(), AT_SYMLINK_NOFOLLOW, buffer, size), answer))
        return answer;
    return ::llistxattr(namedPath(), buffer, size);
}

ssize_t EntryHandle::getAttribute(const char* name, void* buffer, std::size_t size) const {
    switch (kind_) {
    case Kind::Descriptor:
        return ::fgetxattr(fd_, name, buffer, size);
    case Kind::PathDescriptor:
        return ::getxattr(proc_, name, buffer, size);
    case Kind::Named:
        break;
    }
    ssize_t answer = -1;
    XattrArgs args{reinterpret_cast<uintptr_t>(buffer), static_cast<uint32_t>(size), 0};
    if (xattrAtAvailable.load(std::memory_order_relaxed) &&
        answeredAt(::syscall(kGetXattrAt, fd_, name_->c_str(), AT_SYMLINK_NOFOLLOW, name, &args, sizeof args),
                   answer))
        return answer;
    return ::lgetxattr(namedPath(), name, buffer, size);
}

int EntryHandle::setAttribute(const std::string& name, const std::string& value) const {
    if (kind_ == Kind::Named)
        return EBADF;
    return result(kind_ == Kind::PathDescriptor
                      ? ::setxattr(proc_, name.c_str(), value.data(), value.size(), 0)
                      : ::fsetxattr(fd_, name.c_str(), value.data(), value.size(), 0));
}

int EntryHandle::removeAttribute(const char* name) const {
    if (kind_ == Kind::Named)
        return EBADF;
    return result(kind_ == Kind::PathDescriptor ? ::removexattr(proc_, name) : ::fremovexattr(fd_, name));
}

bool allowXattrAtCalls(bool allowed) {
#if defined(__x86_64__) || defined(__aarch64__)
    return xattrAtAvailable.exchange(allowed);
#else
    (void)allowed;
    return false;
#endif
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

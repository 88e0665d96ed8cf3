#pragma once
// One entry's metadata calls, on a descriptor open on the entry itself: a full descriptor (a new copy, a
// folder) takes the f* calls; an O_PATH descriptor (a link, a file this process may not open) takes the
// path calls on "/proc/self/fd/N", which leads to the entry itself, a link included, never its target.
// Reading alone needs no descriptor: a named entry (folder descriptor and name) is read with
// listxattrat/getxattrat (Linux 6.13), else through "/proc/self/fd/DIR/NAME" with the l* calls; the
// open and close an O_PATH descriptor costs more than the reading itself (bench/metadata_bench.sh).
// Every call answers 0 or an errno, a size or -1 with errno for the reading ones.
//
// Used by the metadata and hard-link code only.

#include "core/platform/unique_fd.h"
#include <cstddef>

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace paritas::detail {

class EntryHandle {
public:
    // Opens `name` in `dir` as O_PATH, never following a link. valid() tells; error() says why not.
    static EntryHandle openPath(int dir, const std::string& name);
    // Wraps a full descriptor the caller keeps open.
    static EntryHandle borrow(int fd);
    // `name` in `dir`, both kept by the caller, for stat() and reading attributes only; never follows
    // a link.
    static EntryHandle named(int dir, const std::string& name);

    EntryHandle(EntryHandle&& other) noexcept;
    EntryHandle& operator=(EntryHandle&&) = delete;
    EntryHandle(const EntryHandle&) = delete;
    ~EntryHandle();

    bool valid() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }
    // "/proc/self/fd/N": the entry itself for the path calls (linkat with AT_SYMLINK_FOLLOW, ...).
    const char* procPath() const { return proc_; }

    int stat(struct stat& st) const;
    int chown(uid_t owner, gid_t group) const;
    int chmod(mode_t permissions) const;
    int setTimes(const timespec times[2]) const;
    ssize_t listAttributes(char* buffer, std::size_t size) const;
    ssize_t getAttribute(const char* name, void* buffer, std::size_t size) const;
    int setAttribute(const std::string& name, const std::string& value) const;
    int removeAttribute(const char* name) const;

private:
    enum class Kind { Descriptor, PathDescriptor, Named };
    EntryHandle(int fd, bool owned, Kind kind, int error);
    const char* namedPath() const; // "/proc/self/fd/DIR/NAME", made when first needed
    int fd_ = -1;                  // the descriptor used: owned_'s, or one the caller keeps
    UniqueFd owned_;               // when this handle opened it
    Kind kind_ = Kind::Descriptor;
    int error_ = 0;
    char proc_[32] = {};
    const std::string* name_ = nullptr; // Named
    mutable std::string namedPath_;
};

// Whether named entries are read with the *xattrat calls (where the kernel has them); tests turn them
// off to read as on older kernels. Returns the previous setting.
bool allowXattrAtCalls(bool allowed);

// The names of `entry`'s attributes (all namespaces), in the kernel's order; -1 with errno on failure.
int listAttributeNames(const EntryHandle& entry, std::vector<std::string>& names);
// One attribute's value; 0 or an errno (ENODATA when it is gone).
int readAttributeValue(const EntryHandle& entry, const std::string& name, std::string& value);

} // namespace paritas::detail

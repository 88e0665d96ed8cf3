#include "core/platform/file_identity.h"

#include "core/platform/path_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace paritas {
namespace {

ObjectId idOf(const struct stat& st) {
    return ObjectId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// The text of the folder above `path` ("/a/b" -> "/a", "/a" -> "/"); empty for the root itself.
std::string parentText(std::string path) {
    while (path.size() > 1 && path.back() == kSeparator)
        path.pop_back();
    if (path.size() <= 1)
        return {};
    const std::size_t slash = path.rfind(kSeparator);
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string(1, kSeparator) : path.substr(0, slash);
}

} // namespace

bool sameFileObject(const std::string& first, const std::string& second) {
    struct stat a {
    }, b{};
    if (first.empty() || second.empty())
        return false;
    if (::lstat(first.c_str(), &a) != 0 || ::lstat(second.c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<ObjectId> objectIdOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return idOf(st);
}

FolderAncestry folderAncestry(const std::string& path) {
    FolderAncestry result;
    if (!isAbsolutePath(path))
        return result;
    std::string at = path;
    int fd = -1;
    for (bool first = true; !at.empty(); at = parentText(at), first = false) {
        fd = ::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            result.exists = first;
            break;
        }
    }
    if (fd < 0)
        return result;
    for (;;) {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            break;
        const ObjectId id = idOf(st);
        if (!result.chain.empty() && result.chain.back() == id)
            break; // ".." of the root is the root
        result.chain.push_back(id);
        const int up = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = up;
        if (fd < 0)
            break;
    }
    if (fd >= 0)
        ::close(fd);
    return result;
}

} // namespace paritas

namespace paritas {
namespace {

// One line of /proc/self/mountinfo: the device, the folder of the file system that is mounted, and
// where it is mounted.
struct MountEntry {
    std::string device; // "8:1"
    std::string root;   // the mounted folder, from the top of its file system
    std::string point;  // where it is mounted
};

// Undoes the octal escapes of mountinfo fields ("\040" for a blank).
std::string unescapeMountField(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
            text.push_back(char(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
            i += 3;
        } else {
            text.push_back(field[i]);
        }
    }
    return text;
}

// The mount that `path` (a real path: no link, no "..") lies in: the last one mounted at the longest
// mount point above it.
std::optional<MountEntry> mountHolding(const std::string& path) {
    std::ifstream in("/proc/self/mountinfo");
    if (!in)
        return std::nullopt;
    std::optional<MountEntry> best;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (!(fields >> id >> parent >> device >> root >> point))
            continue;
        point = unescapeMountField(point);
        const bool above = point == "/" || path == point ||
                           (path.compare(0, point.size(), point) == 0 && path.size() > point.size() &&
                            path[point.size()] == kSeparator);
        if (above && (!best || point.size() >= best->point.size()))
            best = MountEntry{device, unescapeMountField(root), point};
    }
    return best;
}

// "a/./b/../c" -> "a/c", lexically (for the part of a path that does not exist yet).
std::string lexicallyNormal(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(kSeparator, start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string text;
    for (const std::string& part : parts)
        text.append(1, kSeparator).append(part);
    return text;
}

uint64_t fnv1a(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

namespace {

// The device ("8:1") and the path from the top of its file system of `folder`; false when not even
// the root can be looked at.
bool folderIdentity(const std::string& folder, std::string& device, std::string& within) {
    if (!isAbsolutePath(folder))
        return false;
    // The nearest folder that exists, as the kernel resolves it; the rest is taken as written.
    std::string existing = lexicallyNormal(folder);
    if (existing.empty())
        existing = "/";
    std::string missing;
    std::string real;
    for (;;) {
        char* resolved = ::realpath(existing.c_str(), nullptr);
        if (resolved) {
            real = resolved;
            std::free(resolved);
            break;
        }
        if (existing == "/")
            return false;
        const std::size_t cut = existing.rfind(kSeparator);
        missing = existing.substr(cut) + missing;
        existing = cut == 0 ? "/" : existing.substr(0, cut);
    }
    struct stat st {};
    if (::stat(real.c_str(), &st) != 0)
        return false;
    // Through the mount table a bind mount and its source name one folder of one file system.
    device = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    within = real;
    if (const std::optional<MountEntry> mount = mountHolding(real); mount && mount->device == device) {
        const std::string below = mount->point == "/" ? real : real.substr(mount->point.size());
        within = (mount->root == "/" ? std::string() : mount->root) + below;
    }
    within = lexicallyNormal(within + missing);
    return true;
}

} // namespace

std::string folderIdentityKey(const std::string& folder) {
    std::string device, within;
    if (!folderIdentity(folder, device, within))
        return {};
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(within)));
    const std::size_t colon = device.find(':');
    return device.substr(0, colon) + "-" + device.substr(colon + 1) + "-" + hash;
}

std::string folderIdentityPath(const std::string& folder) {
    std::string device, within;
    if (!folderIdentity(folder, device, within))
        return {};
    return device + (within.empty() || within[0] != kSeparator ? std::string(1, kSeparator) : std::string()) +
           within;
}

} // namespace paritas

#include "core/platform/file_identity.h"

#include "core/platform/path_text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

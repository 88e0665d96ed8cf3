#include "core/platform/file_identity.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace paritas {

bool sameFileObject(const std::string& first, const std::string& second) {
    struct stat a {
    }, b{};
    if (first.empty() || second.empty())
        return false;
    if (::lstat(first.c_str(), &a) != 0 || ::lstat(second.c_str(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<std::string> resolvedFolderPath(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr)
        return std::nullopt;
    return std::string(buffer);
}

} // namespace paritas

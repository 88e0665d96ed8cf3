#include "core/platform/file_queries.h"

#include "core/platform/datetime.h"

#include <sys/stat.h>

namespace paritas {

bool folderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<FileFacts> fileFacts(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return std::nullopt;
    return stampOf(st);
}

FileStamp stampOf(const struct stat& st) {
    return FileStamp{static_cast<int64_t>(st.st_size), packDosDateTime(st.st_mtim.tv_sec),
                     static_cast<int64_t>(st.st_mtim.tv_sec), static_cast<int32_t>(st.st_mtim.tv_nsec),
                     static_cast<uint64_t>(st.st_ino)};
}

} // namespace paritas

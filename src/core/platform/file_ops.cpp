#include "core/platform/file_ops.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h> // RENAME_NOREPLACE
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace paritas {
namespace {

FsResult resultOf(int rc) {
    return rc == 0 ? FsResult{} : FsResult{errno};
}

int renameNoReplace(const char* source, const char* destination) {
    return static_cast<int>(
        ::syscall(SYS_renameat2, AT_FDCWD, source, AT_FDCWD, destination, RENAME_NOREPLACE));
}

// For file systems without RENAME_NOREPLACE. A second name is made first (link fails when the
// destination exists), then the old name goes; if the old name cannot go, the new one is taken back
// so that the file keeps exactly one name.
FsResult moveFileByLink(const char* source, const char* destination) {
    if (::linkat(AT_FDCWD, source, AT_FDCWD, destination, 0) != 0) // a link is linked, not followed
        return FsResult{errno};
    if (::unlink(source) != 0) {
        const int error = errno;
        ::unlink(destination);
        return FsResult{error};
    }
    return {};
}

// Folders cannot be hard-linked. An empty folder made here (mkdir fails when the name is taken) may
// be replaced by rename, which fails when someone has put anything into it meanwhile.
FsResult moveFolderByPlaceholder(const char* source, const char* destination) {
    if (::mkdir(destination, 0700) != 0)
        return FsResult{errno};
    if (::rename(source, destination) != 0) {
        const int error = errno;
        ::rmdir(destination);
        return FsResult{error};
    }
    return {};
}

} // namespace

FsResult makeFolder(const std::string& path) {
    return resultOf(::mkdir(path.c_str(), 0777));
}

FsResult removeEmptyFolder(const std::string& path) {
    return resultOf(::rmdir(path.c_str()));
}

FsResult deleteFile(const std::string& path) {
    return resultOf(::unlink(path.c_str()));
}

FsResult moveNoReplace(const std::string& source, const std::string& destination) {
    if (renameNoReplace(source.c_str(), destination.c_str()) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return FsResult{errno};
    return moveNoReplaceWithoutRenameFlag(source, destination);
}

FsResult moveNoReplaceWithoutRenameFlag(const std::string& source, const std::string& destination) {
    struct stat st {};
    if (::lstat(source.c_str(), &st) != 0)
        return FsResult{errno};
    if (S_ISDIR(st.st_mode))
        return moveFolderByPlaceholder(source.c_str(), destination.c_str());
    return moveFileByLink(source.c_str(), destination.c_str());
}

} // namespace paritas

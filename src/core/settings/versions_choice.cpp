#include "core/settings/versions_choice.h"

#include "core/platform/beneath.h"
#include "core/platform/path_text.h"
#include "core/platform/versions_folder.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

// True when the open folder holds no entry; errno is set when it cannot be read.
bool emptyFolder(int folder, bool& readable) {
    const int listed = ::dup(folder);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    readable = dir != nullptr;
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(dir);
    return empty;
}

} // namespace

std::string chosenVersionsFolderProblem(const std::string& folder,
                                        const std::vector<std::string>& locations) {
    if (folder.empty())
        return {};
    if (const std::string problem = versionsFolderProblem(folder, locations); !problem.empty())
        return problem;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return errno == ENOENT
                   ? std::string()
                   : "the versions folder " + folder + " cannot be looked at: " + failureText(errno);
    if (!S_ISDIR(st.st_mode))
        return "the versions folder " + folder + " is a file, not a folder";
    FolderHandle opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened.valid())
        return "the versions folder " + folder + " cannot be opened: " + failureText(errno);
    if (isVersionsFolder(opened.get()))
        return {};
    bool readable = false;
    if (emptyFolder(opened.get(), readable))
        return {};
    if (!readable)
        return "the versions folder " + folder + " cannot be read: " + failureText(errno);
    return folder +
           " holds files that Paritas did not put there; choose an empty folder (Paritas marks a "
           "versions folder with " +
           kVersionsMarkName + " and keeps versions only in such a folder)";
}

} // namespace paritas

// Every window test program runs in a fresh temporary folder of its own: the favourites window loads
// (and at the first start writes) config.ini in the current folder or in $XDG_CONFIG_HOME/paritas/,
// neither of which may be the folder ctest runs in, the user's own, or shared between test programs.
// The home trash ($XDG_DATA_HOME/Trash), where a first start's settings put what runs delete or
// replace, lies in the same folder, on the file system of the tests' temporary trees. The folder is
// removed when the program ends.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct WorkingFolder {
    std::string path;
    WorkingFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "paritas-gui-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) {
            std::perror("paritas gui test: temporary working folder");
            std::abort();
        }
        path = pattern;
        ::setenv("XDG_CONFIG_HOME", (path + "/xdg-config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (path + "/xdg-data").c_str(), 1);
    }
    ~WorkingFolder() {
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::temp_directory_path(), ec);
        std::filesystem::remove_all(path, ec);
    }
};

const WorkingFolder workingFolder;

} // namespace

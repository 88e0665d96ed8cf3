#pragma once
// Real temporary folders for planner tests: write a small tree, then read it back the way the scan
// lists it (folders breadth-first by name, files of each folder by name), into a folder list and an
// inventory.

#include "core/inventory/inventory.h"
#include "core/planning/planners.h"
#include "core/platform/datetime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace paritas::testing {

// A host on the real file system that keeps the log.
class PlanRecordingHost : public PlannerHost {
public:
    std::vector<std::string> logLines;
    void log(std::string_view line) override { logLines.emplace_back(line); }
};

class TempTree {
public:
    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "paritas-plan-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // An absolute location text below the temporary root, ending with the separator.
    std::string location(const std::string& name) const { return root_ + "/" + name + "/"; }
    const std::string& root() const { return root_; }

    void folder(const std::string& rel) { std::filesystem::create_directories(root_ + "/" + rel); }

    // A file of `size` bytes with the given modification time (seconds since the epoch).
    void file(const std::string& rel, std::size_t size, std::time_t mtime = 1700000000, char fill = 'x') {
        const std::filesystem::path path = root_ + "/" + rel;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(size, fill);
        const timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }

    struct Scan {
        FolderList folders;
        Inventory inventory;
    };

    // Lists a location as the scan does.
    static void scan(const std::string& location, bool subfolders, Scan& out) {
        out.folders = {location};
        for (std::size_t k = 0; subfolders && k < out.folders.size(); ++k)
            for (const auto& name : entries(out.folders[k], true))
                out.folders.push_back(out.folders[k] + name + "/");
        for (const std::string& folder : out.folders) {
            for (const auto& name : entries(folder, false)) {
                struct stat st {};
                ::lstat((folder + name).c_str(), &st);
                out.inventory.addFile(folder, name, stampOf(st));
            }
        }
    }

private:
    static std::vector<std::string> entries(const std::string& folder, bool folders) {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            return names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            struct stat st {};
            ::lstat((folder + name).c_str(), &st);
            if (S_ISDIR(st.st_mode) == folders)
                names.push_back(name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string root_;
};

// Both locations scanned and ready to plan.
struct TwoScans {
    TempTree::Scan a, b;
    PlanInput input;

    TwoScans(const std::string& locationA, const std::string& locationB, Settings settings = {},
             bool subfolders = true) {
        TempTree::scan(locationA, subfolders, a);
        TempTree::scan(locationB, subfolders, b);
        input = PlanInput{locationA,    locationB,    &a.folders, &b.folders,
                          &a.inventory, &b.inventory, settings,   subfolders};
    }
};

} // namespace paritas::testing

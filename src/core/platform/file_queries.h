#pragma once
// Questions to the file system that planners ask: does a folder or a file stand at a path, and what
// are the facts of that file. They never follow a symbolic link at the last component: a link is a
// file, as the scan lists it.

#include <cstdint>
#include <optional>
#include <string>

namespace paritas {

struct FileFacts {
    int64_t size = 0;
    int32_t fileTime = 0; // packed local DOS date/time
};

bool folderExists(const std::string& path);                  // stat says directory
bool fileExists(const std::string& path);                    // lstat says anything but a directory
std::optional<FileFacts> fileFacts(const std::string& path); // lstat of a non-directory

} // namespace paritas

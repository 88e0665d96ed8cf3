#pragma once
// Questions to the file system that planners ask: does a folder or a file stand at a path, and what
// are the facts of that file. They never follow a symbolic link at the last component: a link is a
// file, as the scan lists it.

#include "core/platform/file_stamp.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace paritas {

// The facts of a file as the planners ask for them: size, packed and true modified time, inode.
using FileFacts = FileStamp;

// The stamp of an lstat result.
FileStamp stampOf(const struct stat& st);

bool folderExists(const std::string& path);                  // stat says directory
bool fileExists(const std::string& path);                    // lstat says anything but a directory
std::optional<FileFacts> fileFacts(const std::string& path); // lstat of a non-directory

} // namespace paritas

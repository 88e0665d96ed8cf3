#pragma once
// Whether two paths name one file-system object, and where a folder really lies. Planners ask these to
// recognise a file that a case-insensitive file system (or a link) shows under two spellings, and to
// refuse locations that overlap once links are resolved.

#include <optional>
#include <string>

namespace paritas {

// True when both paths exist and name the same object (same device and inode; a link at the last
// component is the link itself, not its target).
bool sameFileObject(const std::string& first, const std::string& second);

// The folder with every link, "." and ".." resolved; nothing when it cannot be resolved (missing).
std::optional<std::string> resolvedFolderPath(const std::string& path);

} // namespace paritas

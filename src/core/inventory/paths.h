#pragma once
// Path and folder helpers: the last part of a path text, and the breadth-first walk that gives the
// scans their folder lists.

#include "core/base/host.h"
#include "core/inventory/inventory.h"

#include <string>
#include <string_view>

namespace paritas {

// The text after the last separator that stands before the final character, at most 500 bytes (never
// cutting a UTF-8 sequence). The final character is never taken as the separator, so a folder path
// keeps its trailing separator: "/data/photos/" gives "photos/", "/data/a.txt" gives "a.txt",
// "/a.txt" gives "a.txt". A text without a separator before its final character is its own last part
// ("a.txt" gives "a.txt", "docs/" gives "docs/").
std::string LastPathPart(std::string_view path);

// The folder list of a tree: the root first, exactly as given, then every folder below it,
// breadth-first (the root's subfolders, then theirs in the order of their parents, level by level),
// the subfolders of one folder sorted by name in byte order. Every entry is its parent entry followed
// by the folder's name and a separator; a root given without its trailing separator gets one in front
// of its subfolders' names.
//
// Symbolic links are never followed. A folder that cannot be opened stands in the list but nothing
// below it does; host.log() gets "Cannot read folder <path>: <reason>" and, when given, coverage
// records it (the root as locationUnreadable). A folder whose name holds "*" or a control character is
// neither listed nor walked, and host.log() gets one line for it. host.keepAlive() is called after
// every folder found. coverage also receives the device and inode of every folder opened.
// A root that is empty or not absolute is returned alone, unwalked.
FolderList FolderTree(std::string_view root, ActivityHost& host, ScanCoverage* coverage = nullptr);

// "Cannot read folder <path>: <reason>", the line for a folder whose contents stay unknown.
std::string unreadFolderLine(std::string_view folder, int error);
// The system's text for an errno value and its name: "Permission denied (EACCES)".
std::string errorText(int error);

// A path as it may stand in a log line: control characters (which would split the line) become "?".
std::string printablePath(std::string_view path);

} // namespace paritas

#pragma once
// A folder that keeps old versions of files in a tree of its own: files are moved in (never copied,
// never replacing anything there), and removed again when they have been there long enough.
//
// A version's age is the time it was moved in: the rename sets the file's status-change time, and
// nothing else of Paritas touches it afterwards (its modified time stays the file's own, so that a
// version put back looks as the file did).

#include "core/platform/beneath.h"

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

// The versions folder a location gets when none is chosen: at its top, where the scans never list it.
inline constexpr const char* kVersionsFolderName = ".paritas-versions";

// The mark of a folder chosen to keep versions. Paritas takes a chosen folder only when it is empty
// or already marked, and marks it then; it prunes only a marked folder. So a folder of one's own
// files chosen by mistake is refused, never emptied of its older files.
inline constexpr const char* kVersionsMarkName = ".paritas-versions-folder";

// 0 when the open folder `root` is marked, or was empty and is marked now; else the reason
// (kVersionsFolderUnusable: it holds files Paritas did not put there) or the system's error.
int claimVersionsFolder(int root);
bool isVersionsFolder(int root);

// Opens the folder `relative` ("docs/2026", or empty for `root` itself) beneath the open folder
// `root`, making the folders that are missing; never through a symbolic link.
int openFolderTree(int root, const std::string& relative, FolderHandle& into);

// Opens the folder at `path` as written, making it and the folders above it that are missing.
int openOrMakeFolder(const std::string& path, FolderHandle& into);

// Moves the entry `name` of the open folder `folder` into the open folder `target` under the first
// free name among nameAt(0), nameAt(1), ... (a few tries); never replaces anything. 0 and the name
// used in `used`, or the error (EXDEV: `target` lies on another file system).
int moveUnderFreeName(int folder, const std::string& name, int target,
                      const std::function<std::string(int attempt)>& nameAt, std::string& used);

struct PruneResult {
    std::size_t removed = 0; // files (and links) removed
    int error = 0;           // the first failure met on the way; pruning goes on past it
};

// Removes every entry below the open folder `root` that is not a folder and was moved in before
// `cutoff` (the mark excepted), then the folders below `root` that this leaves empty. Never follows a
// link.
PruneResult pruneOlderThan(int root, std::time_t cutoff);

// The time a version was kept, read from the date-time text its name carries (the run's start, as
// this machine writes it, dateTimeText; with ":" "/" and the like made "_", and " (2)", " (3)", ...
// after it when the name was taken), which stands before the last four characters of the name (of a
// shorter name, before its extension or at its end). False when the name carries none that reads
// back: such a version has no age and is never pruned. For folders whose files keep no time of their
// own moving in (a remote's, where a move keeps the file's status times as they were).
bool versionTimeInName(std::string_view name, std::time_t& when);

// Why `folder` (absolute) cannot be the versions folder of a run on `locations`, or empty.
std::string versionsFolderProblem(const std::string& folder, const std::vector<std::string>& locations);

} // namespace paritas

#pragma once
// The breadth-first walk of a folder tree, with each folder listed once.
//
//   list = [root]
//   for k = 0, 1, 2, ...:   read folder k (open, entries sorted by name, one stat per entry that is
//                           not a folder) -> commit it on the caller's thread, in order: its
//                           subfolders are appended to the list, then the caller takes what it wants
//
// Reading is what costs (every stat a system call, on a network file system a round trip), so a small
// pool of worker threads reads the folders ahead of the commit, as far as the list is known. Commits
// happen strictly in list order on the caller's thread, so the folder list, the rows and every call
// to the host come out exactly as in a walk by one thread. Workers never call the host.

#include "core/base/host.h"
#include "core/inventory/inventory.h"
#include "core/platform/folder_listing.h"
#include "core/platform/location.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

class FilterRules;

struct WalkOptions {
    bool subfolders = true; // walk below the root (else the root alone)
    bool fileFacts = true;  // stat the entries that are not folders
    AttributeSelection attributes; // read digests of attributes (FolderReadOptions::attributes)
    int threads = 0;        // reading threads: 0 the location's wish (Location::readersWanted), else the
                            // default (cores, at most 8); 1 none besides the caller
    // Folders these rules leave out are neither listed nor read (they must outlive the walk).
    const FilterRules* filters = nullptr;
};

// The default number of reading threads, sized for waiting on the disk or the network rather than for
// the cores: 8, or the machine's cores up to 16 where it has more.
int defaultWalkThreads();

// Called on the caller's thread for every folder, in list order, after its subfolders have been
// appended to `folders` (and `host` told of each: keepAlive after every folder found, a log line for
// a name that cannot be carried).
using FolderCommit =
    std::function<void(std::size_t index, const std::string& folder, const FolderRead& read)>;

// Walks the tree of `location` (its folders read through it, each reader thread through a handle of
// its own) and returns the folder list, the location's text first. The folders at the root that keep what
// runs removed are not walked: ".paritas-versions", and where the root is the top of its file system,
// its trash folders (".Trash", ".Trash-<uid>"). The root is opened following a link
// the user chose; nothing below it is followed. `skippedNames` counts the folder names that cannot be
// carried. `leftOut`, when given, counts the folders the filter rules leave out and records the folders
// that hold them (in list order; the caller sorts).
FolderList walkTree(Location& location, const WalkOptions& options, ActivityHost& host,
                    const FolderCommit& commit, std::size_t* skippedNames = nullptr,
                    ScanLeftOut* leftOut = nullptr);

} // namespace paritas

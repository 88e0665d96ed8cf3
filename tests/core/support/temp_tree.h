#pragma once
// A temporary folder tree for file-system tests: write a tree from a short description, change it,
// take a snapshot of it and compare snapshots.
//
// Description: one entry per line, blank lines ignored, paths relative to the root (parents are
// made as needed, mode 0755):
//   docs/                      a folder
//   docs/a.txt = hello\n       a file with that content (escapes \n \t \\; nothing after "=" is empty)
//   data/b.bin size=4096       a file of that many deterministic bytes
//   big.iso size=5000000000 sparse   a sparse file of that size (no data blocks written)
//   link -> docs/a.txt         a symbolic link holding that target text
//   pipe fifo                  a FIFO
// Any line may end with " @YYYY-MM-DD HH:MM:SS" (UTC): the entry's modified time (links: their own).
//
// Snapshot: relative path -> state; folders are spelled with a trailing "/". File content is held
// as a hash (and size); links by their target text.

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace paritas::test {

struct NodeState {
    enum class Type { Folder, File, Link, Other };
    Type type = Type::Other;
    int64_t size = 0;         // files and links (lstat)
    uint64_t contentHash = 0; // files up to the snapshot's hash limit, else 0
    std::string linkTarget;   // links
    mode_t mode = 0;          // permission bits, when the snapshot takes them
    int64_t modifiedTime = 0; // seconds; folders only when the snapshot takes folder times
    bool operator==(const NodeState&) const = default;
};

using TreeSnapshot = std::map<std::string, NodeState>;

struct SnapshotOptions {
    bool modes = true;
    bool folderTimes = false;     // folder times change whenever an entry is added or removed
    int64_t hashLimit = 64 << 20; // larger files are compared by size and time alone
};

TreeSnapshot snapshotTree(const std::string& root, const SnapshotOptions& options = {});
// One line per difference ("missing a/b.txt", "extra c/", "changed a/x: size 3 -> 5"); empty when equal.
std::string snapshotDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual);

// Seconds since the epoch of a UTC calendar moment.
std::time_t utcTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// The bytes that "size=N" writes, for tests that want to compare content.
std::string patternBytes(int64_t size);

class TempTree {
public:
    // Creates an empty folder below parent (default: $TMPDIR or /tmp), then writes the description.
    explicit TempTree(std::string_view description = {}, std::string parent = {});
    ~TempTree(); // removes everything, unlocking folders first
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The root folder, ending with the separator.
    const std::string& root() const { return root_; }
    // root() + relative
    std::string path(std::string_view relative) const;

    TempTree& write(std::string_view description);
    TempTree& folder(std::string_view relative);
    TempTree& file(std::string_view relative, std::string_view content);
    TempTree& sizedFile(std::string_view relative, int64_t size);
    TempTree& sparseFile(std::string_view relative, int64_t size);
    TempTree& link(std::string_view relative, std::string_view target);
    TempTree& fifo(std::string_view relative);
    TempTree& setModifiedTime(std::string_view relative, std::time_t time); // never follows a link
    TempTree& setMode(std::string_view relative, mode_t mode);
    // Removes a file, a link or a whole folder.
    TempTree& remove(std::string_view relative);
    // Gives the whole tree to uid/gid (for tests that drop root's privileges in a child).
    TempTree& giveTo(uid_t uid, gid_t gid);

    bool exists(std::string_view relative) const; // lstat
    std::string read(std::string_view relative) const;

    TreeSnapshot snapshot(const SnapshotOptions& options = {}) const { return snapshotTree(root_, options); }

private:
    void makeParents(std::string_view relative);
    std::string root_;
};

} // namespace paritas::test

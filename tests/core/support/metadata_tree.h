#pragma once
// Trees whose metadata must survive a backup, the oracle that says whether B restores A exactly, and a
// reference copy that keeps everything through the platform layer's metadata calls.
//
// Oracle: `rsync -a -n -i --numeric-ids -H -A -X --delete A/ B/` lists each entry of B that differs
// from A's (content, type, permissions, owner, group, times of files, folders and links, ACLs,
// extended attributes, hard links, names B has and A lacks); no line means B restores A exactly.
// Its lines read "YXcstpoguax path" (rsync(1), --itemize-changes), e.g. ".f...p..... a.txt" for a file
// whose permissions differ, "hf          b.txt => a.txt" for a hard link to make.
//
//   buildMetadataTree(a.root(), {.seed = 7});
//   copyTreeKeepingMetadata(a.root(), b.root(), selection, keeper);
//   EXPECT_EQ(rsyncItemizedChanges(a.root(), b.root()).changes, "");

#include "core/platform/metadata.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace paritas::test {

struct OracleOptions {
    bool hardLinks = true; // -H
    bool acls = true;      // -A
    bool xattrs = true;    // -X (as root all namespaces but system.*, else user.*)
    bool deletions = true; // --delete: names B has and A lacks are differences
    // The two roots themselves ("./"): off, since a run never changes its locations' own metadata.
    bool includeRoot = false;
};

struct OracleAnswer {
    std::string changes; // one itemized line per differing entry
    std::string failure; // why rsync could not answer (not installed, an error); empty when it did
    bool exact() const { return failure.empty() && changes.empty(); }
};

// Asks rsync whether B (a folder) restores A (a folder) exactly.
OracleAnswer rsyncItemizedChanges(const std::string& a, const std::string& b,
                                  const OracleOptions& options = {});

// The value of a system.posix_acl_access or system.posix_acl_default attribute, as the kernel takes it.
struct AclEntry {
    enum Tag : uint16_t {
        UserObj = 0x01,
        User = 0x02,
        GroupObj = 0x04,
        Group = 0x08,
        Mask = 0x10,
        Other = 0x20
    };
    Tag tag;
    uint16_t permissions;      // rwx as 4, 2, 1
    uint32_t id = 0xFFFFFFFFu; // for User and Group entries
};
// Entries in any order; sorted as the kernel requires.
std::string aclValue(std::vector<AclEntry> entries);

struct MetadataTreeOptions {
    uint32_t seed = 1;
    int folders = 8;
    int files = 30;
    int links = 5;                  // symbolic links, with their own times (and owners, as root)
    int hardLinkNames = 4;          // second and third names of some files, in other folders
    bool owners = true;             // root, nobody and daemon; only as root
    bool specialBits = true;        // set-user-id and set-group-id files, set-group-id and sticky folders
    bool extendedAttributes = true; // user.* with binary values; trusted.* on some entries as root
    bool accessControlLists = true; // access ACLs on files and folders, default ACLs on folders
};

struct BuiltTree {
    int folders = 0, files = 0, links = 0, linkedNames = 0;
    std::string summary; // what was made, for a failure message
};

// Fills the existing empty folder `root` with a random tree (the same one for the same options); the
// root's own metadata is left alone. Throws std::runtime_error when a step fails.
BuiltTree buildMetadataTree(const std::string& root, const MetadataTreeOptions& options);

struct TreeCopyResult {
    int copied = 0, linked = 0, folders = 0, links = 0;
    std::vector<std::string> failures; // "relative path: reason"
};

// The reference copy: every folder of A made in B (applyToNewFolder, finishFolder once its contents are
// done), every file copied into an unnamed file and given its metadata before its name (applyToNewFile),
// second names of one file linked (linkBeneath), links made and given theirs (applyToLink). `b` exists
// and is empty.
TreeCopyResult copyTreeKeepingMetadata(const std::string& a, const std::string& b,
                                       const AttributeSelection& selection, MetadataKeeper& keeper);

// A scratch file system mounted for a test and unmounted with the object.
class ScratchMount {
public:
    // An exFAT image (mkfs.exfat) mounted through exfat-fuse on a loop device: no owners, no permission
    // bits, no extended attributes, no links of either kind. Null with `whyNot` when it cannot be made.
    static std::unique_ptr<ScratchMount> exfat(const std::string& folder, std::string& whyNot);
    // ramfs: owners and permissions, no extended attributes or ACLs.
    static std::unique_ptr<ScratchMount> ramfs(const std::string& folder, std::string& whyNot);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    const std::string& path() const { return folder_; }

private:
    ScratchMount(std::string folder, std::string loopDevice, std::string image)
        : folder_(std::move(folder)), loopDevice_(std::move(loopDevice)), image_(std::move(image)) {}
    std::string folder_, loopDevice_, image_;
};

// Runs a program with arguments, no shell; its exit status (-1 when it could not start) and output.
int runProgram(const std::vector<std::string>& arguments, std::string* out = nullptr,
               std::string* err = nullptr);

} // namespace paritas::test

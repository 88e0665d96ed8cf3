#pragma once
// What a file, folder or link carries beyond its contents: owner and group, permission bits (set-user-id,
// set-group-id and sticky included), access and modified time to the nanosecond, and, when asked, its
// extended attributes, POSIX ACLs among them. Read from A's entries, applied to B's new copies before they
// take their names, and compared for planning.
//
// Applying to a new copy, in this order and why:
//   1. owner and group     chown clears set-user-id, set-group-id and security.capability, so it comes
//                          first; as root always, as another user only its own uid and its own groups
//                          (as `cp -a` does); never a failure of the copy
//   2. extended attributes each kept name is set, ACLs last (one may take away the owner's write
//                          permission, which anyone but root needs for the others); names the copy
//                          carries that the source lacks are removed (an access ACL inherited from a
//                          default ACL of B's folder), except security.selinux, the policy's label
//   3. permission bits     after 1, which clears the set-id bits, and after 2, since an ACL sets the
//                          group bits (the ACL's mask) and the bits set the mask again, consistently;
//                          set-user-id only where the owner was kept, set-group-id only where the
//                          group was (as cp does), so that no copy runs with another user's powers
//   4. times               a file's and a link's at once; a folder's only when its contents are done,
//                          since every entry made in it changes them (finishFolder)
//
// Which attributes are kept (AttributeSelection): user.* with `extendedAttributes`, and trusted.* and
// security.* too when the process runs as root (others can neither read nor write them all);
// system.posix_acl_access and system.posix_acl_default with `accessControlLists`. Other system.* names
// are never copied (the kernel derives them). A symbolic link holds no user.* attributes and no ACLs.
//
// What a destination's file system cannot hold (exFAT and many FUSE file systems: no owners, no modes,
// no attributes) is learnt from the first refusal (EOPNOTSUPP, ENOTSUP, EPERM where the process owns the
// file or is root, ENOSYS; or a chown or chmod that succeeds and keeps nothing, as exfat-fuse's) and not
// tried again on that file system for the rest of the run: the
// MetadataKeeper of the destination remembers it per device and yields one report line per kind, e.g.
//   "Owners and groups cannot be kept on /media/stick/ (the file system does not hold them)"
// A refusal is never a failure of the copy. What the file system holds but refuses for one file (no
// space for an attribute, an attribute too large) is: the copy would not restore the source.

#include "core/platform/beneath.h"
#include "core/platform/file_stamp.h"

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace paritas {

enum class MetadataKind : uint8_t {
    Owners,             // owner and group
    Permissions,        // the 07777 bits
    Times,              // of folders and links (a file's time is part of its copy)
    ExtendedAttributes, // user.*, trusted.*, security.*
    AccessControlLists, // system.posix_acl_access, system.posix_acl_default
    HardLinks,          // names sharing one file
};
inline constexpr int kMetadataKindCount = 6;

// A set of kinds.
class MetadataKinds {
public:
    constexpr MetadataKinds() = default;
    constexpr MetadataKinds(MetadataKind kind) : bits_(bit(kind)) {}
    constexpr bool has(MetadataKind kind) const { return (bits_ & bit(kind)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr MetadataKinds& add(MetadataKinds other) {
        bits_ = static_cast<uint8_t>(bits_ | other.bits_);
        return *this;
    }
    constexpr MetadataKinds operator|(MetadataKinds other) const { return MetadataKinds(*this).add(other); }
    constexpr bool operator==(const MetadataKinds&) const = default;

private:
    static constexpr uint8_t bit(MetadataKind kind) { return static_cast<uint8_t>(1u << unsigned(kind)); }
    uint8_t bits_ = 0;
};

constexpr MetadataKinds operator|(MetadataKind a, MetadataKind b) {
    return MetadataKinds(a) | MetadataKinds(b);
}

// "owner and group", "permissions", "times", "extended attributes", "ACLs", "hard links"
std::string_view metadataKindName(MetadataKind kind);
// The kinds' names joined by ", " in the enum's order; "" for none.
std::string metadataKindsText(MetadataKinds kinds);

// Which extended attributes are read, compared and applied.
struct AttributeSelection {
    bool extendedAttributes = false; // user.* (and trusted.*, security.* as root)
    bool accessControlLists = false; // the two POSIX ACL names
    bool any() const { return extendedAttributes || accessControlLists; }
    bool operator==(const AttributeSelection&) const = default;
};

// Whether `name` is kept under `selection`; `privileged` (root) adds trusted.* and security.*.
bool keepsAttribute(const AttributeSelection& selection, std::string_view name, bool privileged);
bool isAclAttribute(std::string_view name);

struct ExtendedAttribute {
    std::string name;
    std::string value; // bytes, may hold NULs; empty is a value
    bool operator==(const ExtendedAttribute&) const = default;
};

// The metadata of one entry as read at one moment.
struct EntryMetadata {
    uint32_t type = 0;        // S_IFMT bits
    uint32_t permissions = 0; // the 07777 bits
    uint32_t owner = 0;
    uint32_t group = 0;
    timespec accessTime{};
    timespec modifiedTime{};
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t links = 0; // hard links to the file
    int64_t size = 0;
    // The namespaces `attributes` was read for; none when attributes were not asked for.
    AttributeSelection attributesRead;
    std::vector<ExtendedAttribute> attributes; // sorted by name

    bool isFolder() const { return S_ISDIR(type); }
    bool isLink() const { return S_ISLNK(type); }
    FileStamp stamp() const; // size, modified time, inode (fileTime left 0)
};

EntryMetadata metadataFromStat(const struct stat& st);

struct MetadataRead {
    EntryMetadata metadata;
    int error = 0;      // errno, or a code of beneath.h
    std::string detail; // which attribute could not be read, when one could not
    bool ok() const { return error == 0; }
};

// From an open descriptor (a file or folder opened for reading; not O_PATH).
MetadataRead readMetadata(int fd, const AttributeSelection& selection);
// `name` in the open folder `dir`, never following a link: a link's own owner, times and attributes.
MetadataRead readMetadataAt(int dir, const std::string& name, const AttributeSelection& selection);
// The attributes alone, for a planner that has the stat from its scan (comparing with --xattrs).
struct AttributesRead {
    std::vector<ExtendedAttribute> attributes; // sorted by name
    int error = 0;
    std::string detail;
    bool ok() const { return error == 0; }
};
AttributesRead readAttributesAt(int dir, const std::string& name, const AttributeSelection& selection);
// The same from an open descriptor (a copy's source; not O_PATH).
AttributesRead readAttributes(int fd, const AttributeSelection& selection);

// Every attribute a copy carries: user.* and the ACLs (trusted.* and security.* too as root).
inline constexpr AttributeSelection kAllAttributes{.extendedAttributes = true, .accessControlLists = true};

// A scan keeps 64 bits per entry for its attributes instead of the attributes themselves: equal digests
// mean equal attributes (names and values; security.selinux left out, since the policy labels every new
// file and a copy never takes a label away). 0: none; kAttributesUnread: they could not be read (the
// planner then sees no difference).
inline constexpr uint64_t kAttributesUnread = 1;
uint64_t attributesDigest(const std::vector<ExtendedAttribute>& attributes);
// The digest of `name` in the open folder `dir` (one listxattr call where it holds none).
uint64_t attributesDigestAt(int dir, const std::string& name, const AttributeSelection& selection);
uint64_t attributesDigestOf(int fd, const AttributeSelection& selection);
// A path resolved beneath its location.
MetadataRead readMetadataBeneath(LocationResolver& locations, const std::string& path,
                                 const AttributeSelection& selection);

// ---- comparison, for planning ----

// Owner, group and permission bits: what every scan's stat already holds.
struct OwnershipFacts {
    uint32_t permissions = 0; // 07777
    uint32_t owner = 0;
    uint32_t group = 0;
    bool operator==(const OwnershipFacts&) const = default;
};
OwnershipFacts ownershipOf(const struct stat& st);
OwnershipFacts ownershipOf(const EntryMetadata& metadata);

struct MetadataComparison {
    // Compare owners and groups. Only root can give files away, so a run as another user would find
    // them different on every run and never mend them: set it from canKeepOwners().
    bool owners = true;
    bool permissions = true;
};
// True when this process may set any owner (it runs as root).
bool canKeepOwners();

// Which of Owners and Permissions differ. Without owners, a set-id bit is not compared where the owner
// (set-user-id) or group (set-group-id) differs: a copy keeps it only with them.
MetadataKinds ownershipDifferences(const OwnershipFacts& a, const OwnershipFacts& b,
                                   const MetadataComparison& comparison);
// Which of ExtendedAttributes and AccessControlLists differ; both lists sorted by name.
MetadataKinds attributeDifferences(const std::vector<ExtendedAttribute>& a,
                                   const std::vector<ExtendedAttribute>& b);
// A change of metadata alone: A's and B's files hold the same content as the planners judge it (same
// size, modified times in the same two-second step) and differ in owner, group or permission bits.
// The kinds that differ; none when the content differs (a copy carries the metadata anyway) or when
// nothing differs.
MetadataKinds metadataOnlyChange(const FileStamp& a, const OwnershipFacts& aOwnership, const FileStamp& b,
                                 const OwnershipFacts& bOwnership, const MetadataComparison& comparison);
// All kinds but HardLinks, for two full reads (attributes only when both read them alike).
MetadataKinds metadataDifferences(const EntryMetadata& a, const EntryMetadata& b,
                                  const MetadataComparison& comparison);

// ---- what a destination cannot hold ----

// One per destination location, shared by the threads that copy into it.
class MetadataKeeper {
public:
    // `destination` as the report names it ("/media/stick/").
    explicit MetadataKeeper(std::string destination);
    MetadataKeeper(const MetadataKeeper&) = delete;
    MetadataKeeper& operator=(const MetadataKeeper&) = delete;

    const std::string& destination() const { return destination_; }
    // Whether `kind` is still worth trying on the file system of `device`.
    bool mayTry(MetadataKind kind, uint64_t device) const;
    // The file system of `device` refused `kind`: not tried there again; one report line per kind.
    void refused(MetadataKind kind, uint64_t device);
    // This process may not keep `kind` as the source has it (owners of other users, as another user
    // than root): one report line per kind; the copy goes on without it.
    void notPermitted(MetadataKind kind);

    // The report lines not taken yet, in the order they arose; each line is given once.
    std::vector<std::string> takeReport();
    // Every kind refused on some file system of this destination, and every kind not permitted.
    MetadataKinds refusedKinds() const;
    MetadataKinds notPermittedKinds() const;

private:
    struct Refusals {
        uint64_t device;
        MetadataKinds kinds;
    };
    std::string destination_;
    mutable std::mutex mutex_;
    std::vector<Refusals> refusals_;
    MetadataKinds reportedRefused_;
    MetadataKinds reportedNotPermitted_;
    std::vector<std::string> pending_;
};

// ---- applying to B ----

struct MetadataApplied {
    int error = 0;      // errno or a code of beneath.h; 0 when everything the destination holds was kept
    std::string detail; // what could not be kept ("the extended attribute user.x")
    bool ok() const { return error == 0; }
};

// A new file made by a copy, before it takes its name: `fd` is the new file, open for writing. Sets owner
// and group, the attributes `source` was read with, the permission bits, then the access and modified
// times. A failure means the copy would not restore the source: it should not take the name.
MetadataApplied applyToNewFile(int fd, const EntryMetadata& source, MetadataKeeper& keeper);

// A folder a run made (`fd` open on it, O_RDONLY | O_DIRECTORY): owner and group, attributes (a default
// ACL included, so that what is made in it inherits what A's entries inherited), and the permission
// bits, with the owner's read, write and search added where this process needs them to fill the folder
// (not root). finishFolder sets the exact bits and the times once the folder's contents are done.
MetadataApplied applyToNewFolder(int fd, const EntryMetadata& source, MetadataKeeper& keeper);
MetadataApplied finishFolder(int fd, const EntryMetadata& source, MetadataKeeper& keeper);
// The times alone, for a folder that stood already and whose contents a run changed.
MetadataApplied finishFolderTimes(int fd, const EntryMetadata& source, MetadataKeeper& keeper);

// A new symbolic link `name` in `dir`: owner and group, attributes (trusted.* and security.*; no
// user.* or ACLs exist on links), its own times. Never follows the link.
MetadataApplied applyToLink(int dir, const std::string& name, const EntryMetadata& source,
                            MetadataKeeper& keeper);

// An entry that already stands in B and differs from `source` in metadata alone (a permission change
// in A): sets what differs, in place, without following a link, the times included (a planner sends a
// file here only when it judged the contents the same). With `expected`, the entry must still be that
// file (size, modified time, inode) or nothing is changed (kChangedSincePlanning).
MetadataApplied updateMetadataAt(int dir, const std::string& name, const EntryMetadata& source,
                                 const FileStamp* expected, MetadataKeeper& keeper);

} // namespace paritas

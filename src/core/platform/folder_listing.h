#pragma once
// Reading one folder: the entries of a folder, sorted by name in byte order, each with its type and,
// when asked, the size and modified time of the entries that are not folders.
//
// Types are seen as lstat sees them: a symbolic link is a link (never a folder, never followed), and
// FIFOs, sockets and device nodes are "special". Entries that vanish between reading the folder and
// asking for their facts are left out, as if read a moment later.
//
// This is the hot path of every scan, so a listing is a reusable object: its buffers keep their
// capacity from one folder to the next, and the names point into the raw entry buffer; reading a
// folder makes no allocation per entry.

#include "core/platform/metadata.h"
#include "core/platform/object_id.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

enum class EntryType : uint8_t {
    Directory,
    File,
    Link,
    Special, // FIFO, socket, character or block device
    Unknown, // the type could not be learnt (no search permission on the folder)
};

// Who owns an entry, what its mode allows and how many names its file has, as the one stat a listing
// makes of it already says (no call of its own).
struct EntryOwnership {
    uint32_t mode = 0;  // st_mode: the type and the 07777 bits; 0 when not read
    uint32_t owner = 0; // uid
    uint32_t group = 0; // gid
    uint32_t links = 1; // st_nlink
    uint64_t device = 0;
    bool known() const { return mode != 0; }
};

struct FolderEntry {
    std::string_view name; // valid until the listing reads the next folder; NUL-terminated
    EntryType type = EntryType::Unknown;
    bool factsKnown = false; // size, times and inode were read
    int64_t size = 0;
    int64_t modifiedTime = 0;  // seconds since the epoch (st_mtime)
    int32_t modifiedNanos = 0; // the nanoseconds of st_mtim
    uint64_t inode = 0;
    int factsError = 0; // errno when the type or the facts could not be read
    EntryOwnership ownership; // with the facts
    uint64_t attributes = 0;  // digest (metadata.h), when ListingOptions::attributes asked for them
};

// What a listing learns of the folder itself with folderId.
struct FolderSelf {
    EntryOwnership ownership;
    int64_t modifiedTime = 0;
    int32_t modifiedNanos = 0;
    uint64_t attributes = 0; // digest, when asked for
};

struct ListingOptions {
    // Read size and modified time of every entry that is not a folder (one fstatat each).
    bool fileFacts = false;
    // When the path itself names a symbolic link to a folder, read that folder. Off for folders found
    // by a walk, so that a folder swapped for a link meanwhile is not followed out of the tree.
    bool followLinkAtPath = true;
    // Read the device and inode of the folder itself (folderId()), and its owner, mode and times.
    bool folderId = false;
    // Read a digest of the attributes of every entry that is not a folder, and of the folder itself
    // with folderId (one call each where they hold none). None: not read.
    AttributeSelection attributes;
};

class FolderListing {
public:
    FolderListing();
    ~FolderListing();
    FolderListing(FolderListing&&) noexcept;
    FolderListing& operator=(FolderListing&&) noexcept;

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const FolderEntry& operator[](std::size_t i) const { return entries_[i]; }
    std::vector<FolderEntry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<FolderEntry>::const_iterator end() const { return entries_.end(); }
    // errno of the failure when the last listFolderSorted returned false, else 0.
    int errorCode() const { return error_; }
    // The folder's device and inode, when ListingOptions::folderId asked for them.
    const ObjectId& folderId() const { return folderId_; }
    const FolderSelf& folderSelf() const { return folderSelf_; }
    // The folder could be listed but not searched: its names are known, nothing behind them (asked
    // of every listing with fileFacts; a folder holding only folders is probed through its first).
    bool searchDenied() const { return searchDenied_; }

private:
    friend bool listFolderSorted(const std::string& path, const ListingOptions& options,
                                 FolderListing& listing);
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::vector<FolderEntry> entries_;
    int error_ = 0;
    ObjectId folderId_;
    FolderSelf folderSelf_;
    bool searchDenied_ = false;
};

// Reads the entries of the folder at path, except "." and "..", into listing, sorted by name in byte
// order. Returns false, with an empty listing, when the folder cannot be opened or read.
bool listFolderSorted(const std::string& path, const ListingOptions& options, FolderListing& listing);

// One folder as one listing found it, taken out of the listing's buffers.
struct FolderRead {
    int openError = 0;         // the folder could not be opened or read (its entries are unknown)
    bool vanished = false;     // a folder below the root was gone (or no folder any more) when read
    bool searchDenied = false; // its names could be read, nothing behind them
    ObjectId id;               // device and inode of the folder itself
    FolderSelf self;           // its owner, mode, times (and attributes, when asked for)
    std::string names;         // the entries' names, back to back
    struct Entry {
        uint32_t nameOffset = 0;
        uint32_t nameLength = 0;
        EntryType type = EntryType::Unknown;
        bool factsKnown = false;
        int factsError = 0;
        int64_t size = 0;
        int64_t modifiedTime = 0;
        int32_t modifiedNanos = 0;
        uint64_t inode = 0;
        EntryOwnership ownership;
        uint64_t attributes = 0;
    };
    std::vector<Entry> entries; // sorted by name, byte order
    std::string_view name(const Entry& e) const {
        return std::string_view(names).substr(e.nameOffset, e.nameLength);
    }
};

} // namespace paritas

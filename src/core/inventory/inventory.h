#pragma once
// Folder lists and inventories: what a scan of one location found.
//
// An inventory is a table of one row per file, in scan order (folder by folder in folder-list order,
// within a folder by name). Its text columns are
//   0 full path   (folder-list entry + name; the matched marks of a planning are kept by the
//                  planning's result, not here: an inventory is only read by planners)
//   1 size        (decimal bytes)
//   2 file time   (packed local DOS date/time, signed decimal)
//   3 name
//   4 modified text (date-time text of column 2)
// and, as readers expect, the table always ends with one empty row: rowCount() == fileCount() + 1.
//
// Rows are held compactly: the path bytes in large shared blocks, the numbers as numbers; the text
// cells are made when read.
//
// Beside the five columns every row keeps what the scan saw of the file: its modified time as a true
// time (seconds since the epoch and nanoseconds), its inode, its link count, and its type, permission
// bits, owner, group and device (as an index into a small table of the combinations the scan met: a
// tree holds few of them, so a row grows by 8 bytes, not 24), and, when the scan read them, a digest of
// its extended attributes and ACLs (8 bytes a row, only then). Planners compare times as true times
// (the packed value is local, signed and clamped, so it orders dates from 2044 on and the repeated
// autumn hour wrongly) and hand the facts to the executor, which checks them before it acts.

#include "core/platform/file_stamp.h"
#include "core/platform/folder_listing.h"
#include "core/platform/hard_links.h"
#include "core/platform/metadata.h"
#include "core/platform/object_id.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace paritas {

// Folder paths, each ending with the separator; the location itself first.
using FolderList = std::vector<std::string>;

// What a scan could not see. A folder that cannot be listed is not empty: it is unknown, and no
// planner may delete, move away or overwrite anything on the other side because of it. Paths are
// full paths as the inventory spells them (folders with their trailing separator).
struct ScanCoverage {
    bool locationUnreadable = false;        // the location exists but cannot be listed at all
    int locationError = 0;                  // its errno
    std::vector<std::string> unreadFolders; // listed in the folder list, contents unknown
    std::vector<std::string> unreadEntries; // entries whose type or facts could not be read
    std::size_t skippedNames = 0;           // names the action lines cannot carry ("*", controls)
    // Files named as Paritas names its temporary files and journals (work_journal.h): left out of
    // every plan, since what they hold is unknown (a leftover no journal names, or a user's own file).
    std::vector<std::string> temporaryNames;
    // Device and inode of every folder of the folder list, position for position (all zero for one
    // that could not be opened): a location mounted or bound inside the other one is recognised by
    // them, and a planner sees which folders lie on another file system. Empty when the location is
    // missing.
    std::vector<ObjectId> folderIds;
    // The location's listings leave symbolic links out without a trace (a remote reached through
    // rclone): a link there is not seen, so no run copies, moves or deletes it. Not a blind spot: what
    // the listings show is all the location holds as files.
    bool linksUnseen = false;

    // Nothing was left out that the user would miss.
    bool complete() const {
        return !locationUnreadable && unreadFolders.empty() && unreadEntries.empty() && skippedNames == 0 &&
               temporaryNames.empty();
    }
};

// What the user's filters left out of a scan (see filters.h). Unlike coverage's unread spots nothing
// here is unknown: these entries are there, and the user asked that no run look at them, so no plan may
// copy, move or delete them, and no folder that holds one may be removed as if empty. Counts are taken
// where an entry was met: a left-out folder counts once, and what it holds is never read.
struct ScanLeftOut {
    std::size_t files = 0;   // entries that are no folder (links and special files too)
    std::size_t folders = 0; // folders, never walked
    // The folders that directly hold a left-out entry, relative to the location with a trailing
    // separator ("" the location itself, "a/b/"), sorted in byte order without repeats.
    std::vector<std::string> holdingFolders;

    bool any() const { return files + folders > 0; }
    // `relativeFolder` itself holds a left-out entry.
    bool holds(std::string_view relativeFolder) const {
        return std::binary_search(holdingFolders.begin(), holdingFolders.end(), relativeFolder);
    }
    // `relativeFolder` or a folder anywhere below it holds one: removing that tree would take it along.
    bool holdsWithin(std::string_view relativeFolder) const {
        const auto next = std::lower_bound(holdingFolders.begin(), holdingFolders.end(), relativeFolder);
        return next != holdingFolders.end() &&
               std::string_view(*next).substr(0, relativeFolder.size()) == relativeFolder;
    }
};

// What a scan saw of one folder itself (position for position with its folder list).
struct FolderMetadata {
    EntryOwnership ownership; // unknown (mode 0) when the folder could not be read
    int64_t modifiedTime = 0;
    int32_t modifiedNanos = 0;
    uint64_t attributes = 0; // digest (metadata.h), when the scan read attributes
    bool known() const { return ownership.known(); }
};

class Inventory {
public:
    void clear();
    void addFile(std::string_view folder, std::string_view name, const FileStamp& stamp);
    // With what the scan's stat said of it, and its attributes' digest (0: none, or not read).
    void addFile(std::string_view folder, std::string_view name, const FileStamp& stamp,
                 const EntryOwnership& ownership, uint64_t attributes = 0);
    // A row known only by its packed time (tests and in-memory tables): its true time is taken as
    // twice the packed value in seconds, so that true-time comparisons order and equate such rows
    // exactly as their packed values; no inode.
    void addFile(std::string_view folder, std::string_view name, int64_t size, int32_t fileTime);

    std::size_t fileCount() const { return rows_.size(); }
    std::size_t rowCount() const { return rows_.size() + 1; }

    std::string_view fullPath(std::size_t row) const;
    std::string_view name(std::size_t row) const;
    int64_t size(std::size_t row) const { return rows_[row].size; }
    int32_t fileTime(std::size_t row) const { return rows_[row].fileTime; }
    int64_t modifiedTime(std::size_t row) const { return rows_[row].modifiedTime; }
    int64_t timeStepOf(std::size_t row) const { return timeStep(rows_[row].modifiedTime); }
    FileStamp stamp(std::size_t row) const;
    // Owner, mode and links, as the scan saw them; unknown for a row added without them.
    bool ownershipKnown(std::size_t row) const { return rows_[row].ownership != kNoOwnership; }
    EntryOwnership ownership(std::size_t row) const;
    OwnershipFacts ownershipFacts(std::size_t row) const;
    bool isLink(std::size_t row) const;
    LinkFacts linkFacts(std::size_t row) const;
    // The digest of the row's attributes; 0 when it holds none or they were not read.
    uint64_t attributes(std::size_t row) const { return row < attributes_.size() ? attributes_[row] : 0; }
    // The scan read every row's attributes (set by the scan that asked for them).
    bool attributesRead() const { return attributesRead_; }
    void setAttributesRead(bool read) { attributesRead_ = read; }
    // Hints for lookups made ahead of time: fetch a row's facts, or its name, into the cache.
    void prefetchRow(std::size_t row) const { __builtin_prefetch(&rows_[row]); }
    void prefetchName(std::size_t row) const {
        const Row& r = rows_[row];
        __builtin_prefetch(at(r.pathOffset + (r.pathLength - r.nameLength)));
    }
    void prefetchPath(std::size_t row) const {
        const Row& r = rows_[row];
        __builtin_prefetch(at(r.pathOffset));
        __builtin_prefetch(at(r.pathOffset + r.pathLength - 1));
    }

    // The cells as text, as the hidden grid would hold them. Row fileCount() is the empty last row.
    std::string fullPathCell(std::size_t row) const;
    std::string sizeText(std::size_t row) const;
    std::string fileTimeText(std::size_t row) const;
    std::string modifiedText(std::size_t row) const;
    std::string cell(std::size_t row, int column) const;

    int64_t sizeTotal() const { return sizeTotal_; }
    // Bytes held, for the memory benchmark.
    std::size_t memoryBytes() const;

private:
    struct Row {
        uint64_t pathOffset;
        uint32_t pathLength;
        uint32_t nameLength;
        int64_t size;
        int64_t modifiedTime;
        uint64_t inode;
        int32_t fileTime;
        uint32_t nanos;
        uint32_t ownership; // index into owners_, or kNoOwnership
        uint32_t links;
    };
    struct Owners {
        uint32_t mode, owner, group;
        uint64_t device;
        bool operator==(const Owners&) const = default;
    };
    struct OwnersHash {
        std::size_t operator()(const Owners& o) const {
            uint64_t h = (uint64_t(o.mode) << 32 | o.owner) * 0x9e3779b97f4a7c15ull;
            h ^= (uint64_t(o.group) << 32 ^ o.device) * 0xc2b2ae3d27d4eb4full;
            return std::size_t(h ^ (h >> 29));
        }
    };
    static constexpr uint32_t kNoOwnership = 0xffffffffu;
    uint32_t ownersIndex(const EntryOwnership& ownership);
    static constexpr std::size_t kBlockSize = 1 << 20;

    const char* at(uint64_t offset) const { return blocks_[offset / kBlockSize].get() + offset % kBlockSize; }

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t blockUsed_ = kBlockSize;
    std::vector<Row> rows_;
    std::vector<Owners> owners_;
    std::unordered_map<Owners, uint32_t, OwnersHash> ownersIndex_;
    uint32_t lastOwners_ = kNoOwnership; // rows of one folder mostly share it
    std::vector<uint64_t> attributes_;  // empty while every row's digest is 0
    bool attributesRead_ = false;
    int64_t sizeTotal_ = 0;
};

} // namespace paritas

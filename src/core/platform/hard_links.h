#pragma once
// Names that share one file. In A, several names may lead to one inode; a backup that restores A makes
// them share one file in B too: the group's first name (in row order) is copied, and every other name is
// linked to that copy.
//
//   A rows (device, inode, links):  0 a.txt (1, 7, 2)   1 b.txt (1, 9, 1)   2 c/a2.txt (1, 7, 2)
//   groups:                         {0, 2}: copy row 0, then link row 2 to row 0's copy
//
// Rows with one link are in no group. A group may hold fewer names than the file's link count (the other
// names lie outside A); it is still one group.

#include "core/platform/beneath.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_stamp.h"
#include "core/platform/metadata.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace paritas {

// What a scan's stat says of a name's file.
struct LinkFacts {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t links = 1;
};

struct HardLinkGroup {
    std::vector<std::size_t> rows; // ascending, at least two; rows[0] is copied, the others linked to it
};

// The groups among `rows`, ordered by their first row.
std::vector<HardLinkGroup> groupHardLinks(std::span<const LinkFacts> rows);

// Whether B's names share files as A's do. `a` and `b` hold, position for position, the facts of one
// relative name on each side. Returns the positions whose name must be made anew in B: linked to an
// earlier name it shares a file with in A, or copied apart from an earlier name it shares a file with in
// B only. Empty when the groupings match.
std::vector<std::size_t> hardLinkMismatches(std::span<const LinkFacts> a, std::span<const LinkFacts> b);

enum class LinkOutcome {
    Linked,
    NotHeld, // the file system holds no hard links here (or no more to this file): copy instead
    Failed,
};

struct LinkResult {
    LinkOutcome outcome = LinkOutcome::Failed;
    int error = 0;      // errno or a code of beneath.h
    std::string detail; // more about a failure, for the reason line
    std::string keptAt; // where a replaced old version went when it was kept (placeHardLinkBeneath)
    bool ok() const { return outcome == LinkOutcome::Linked; }
};

// Makes `newPath` a second name of the file at `existingPath`, both resolved beneath their locations,
// never replacing anything (an entry standing at `newPath` fails with kChangedSincePlanning, a folder
// with EISDIR). With `expected`, the file at `existingPath` must still be that one (the copy just made).
// A file system without hard links is reported once through `keeper` (HardLinks) and answered NotHeld,
// as are a full link count and a second name on another file system below the location.
LinkResult linkBeneath(LocationResolver& locations, const std::string& existingPath,
                       const FileStamp* expected, const std::string& newPath, MetadataKeeper& keeper);

// linkBeneath placed as a copy is (placement.h): nothing expected at `newPath` (plan Nothing): linked
// there, never replacing; a file expected there (Planned): linked under a temporary name in its folder
// and put in place of only that file, the old version going where options.disposal sends it (and
// returning when it cannot be kept); Anything: in place of whatever file stands there. With `expected`
// the file at `existingPath` must still be that one (compared as options.capabilities allow). The
// hard links a file system lacks (options.capabilities, options.keeper) answer NotHeld, changing
// nothing.
LinkResult placeHardLinkBeneath(LocationResolver& locations, const std::string& existingPath,
                                const FileStamp* expected, const std::string& newPath,
                                const DestinationPlan& plan, const CopyOptions& options);

} // namespace paritas

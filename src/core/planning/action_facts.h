#pragma once
// What a planner saw when it wrote each action item, kept in the item (action_list.h).
//
// The executor checks these facts just before it acts, so a plan is a promise it keeps only while the
// world still looks as planned: a copy onto an absent destination never replaces something that
// appeared since, a copy over a file replaces only that file, a delete deletes only the planned file,
// a move moves only the planned source. A line that depends on an earlier one (a copy into a folder
// that an earlier line creates, keep-other's copies after its rename) runs only when that line
// succeeded.
//
// Items are numbered as the planner wrote them; the number travels with the item, so the review
// window may remove unticked lines (and swap the files of a duplicate pair) without breaking the links
// between them.

#include "core/platform/file_copy.h"
#include "core/platform/file_stamp.h"
#include "core/platform/metadata.h"

#include <cstdint>

namespace paritas {

// An attributes item: what the planner saw of the source's entry, which must still look so when the
// line runs, and what differed.
struct MetadataFacts {
    uint32_t mode = 0; // type and permission bits
    uint32_t owner = 0;
    uint32_t group = 0;
    MetadataKinds differs; // the kinds that differ from the entry's as planned
};

struct ActionFacts {
    static constexpr uint32_t kNone = 0xffffffffu;
    uint32_t line = kNone;  // the line's number in the plan as written
    uint32_t after = kNone; // the number of an earlier line that must have succeeded first
    // A duplicate's delete: the number of the original item whose file must still hold the same bytes.
    uint32_t original = kNone;
    bool sourceKnown = false;
    // Copy and Move-Rename: the source. DeleteFile: the file to delete. Original: the kept file.
    // Attributes: the entry to change. HardLink: the file the new name joins.
    FileStamp source;
    // Copy, HardLink: what may stand at the destination when the copy is placed.
    DestinationPlan destination;
    // Attributes: the source's metadata as planned. `source` above is then the stamp of the entry to
    // change (files and links).
    MetadataFacts metadata;
};

} // namespace paritas

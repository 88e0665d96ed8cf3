#pragma once
// Proof that a file about to be deleted as a duplicate really has a separate twin. The planners
// pair files by size, name and time stamp only; before the executor deletes one of a pair it makes
// sure the kept file still exists, is another file (not the same file under a second path, a hard
// link or a bind mount) and holds the same bytes. Symbolic links compare by their target text and
// never equal a regular file.

#include "core/platform/beneath.h"

#include <string>

namespace paritas {

enum class DuplicateProof {
    Proven,           // kept exists, is another file and holds the same bytes
    DuplicateMissing, // nothing to delete
    KeptMissing,      // the kept file is gone (or is a folder)
    SameFile,         // both paths lead to one file
    Different,        // different kinds, sizes or bytes
    Unreadable,       // one of them could not be read to the end
};

// Both paths resolved beneath their locations (a link on the way makes the proof fail: Unreadable).
DuplicateProof proveDuplicate(LocationResolver& locations, const std::string& kept,
                              const std::string& duplicate);
// The kept file beneath one location, the duplicate beneath another (or the same).
DuplicateProof proveDuplicate(LocationResolver& keptSide, const std::string& kept,
                              LocationResolver& duplicateSide, const std::string& duplicate);
// Paths as written.
DuplicateProof proveDuplicate(const std::string& kept, const std::string& duplicate);

} // namespace paritas

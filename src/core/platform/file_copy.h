#pragma once
// Copying one file so that the destination is either the old file or the complete new copy, never
// anything in between.
//
//   source --(clone, else copy_file_range, else read/write, in chunks)--> hidden temporary file in
//   the destination's folder --(permission bits, modified time)--> rename over the destination
//
// The temporary name starts with ".paritas-" and is created exclusively, so it never touches a file
// it did not create. Only a complete copy is renamed into place; a failure or a cancel removes the
// temporary file and leaves the old destination byte for byte. Rename replaces an existing
// destination: that is the intended replace of a copy line.
//
// No fsync: the source is never touched, so a power cut can at worst lose a copy whose original
// still exists, and syncing every file would make copying a tree of small files many times slower.
// ext4 (data=ordered, auto_da_alloc) writes the data of a file that replaces another by rename
// before the rename itself.
//
// A symbolic link is copied as a link holding the same target text, placed the same way. Anything
// that is neither a regular file nor a link (a folder, a FIFO, a device) is refused. The permission
// bits (rwx for user, group, others; never set-user-id or set-group-id, which would hand the copy's
// owner's rights to its users) and the modified time, nanoseconds included, are kept; the owner is
// not. A source that changes size or modified time while it is being copied fails the copy, because
// the result would carry the old time with new bytes.

#include <cstdint>
#include <string>

namespace paritas {

// Told how a copy advances, asked between chunks whether to give up.
struct CopyObserver {
    virtual ~CopyObserver() = default;
    // Once before the first byte (done 0) and after every chunk; total is the source's size.
    virtual void progress(uint64_t /*done*/, uint64_t /*total*/) {}
    virtual bool cancelRequested() { return false; }
};

enum class CopyOutcome { Copied, Failed, Cancelled };

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::Failed;
    int error = 0; // errno of a failure; 0 when copied or cancelled
    bool ok() const { return outcome == CopyOutcome::Copied; }
    explicit operator bool() const { return ok(); }
};

// Copies in chunks of this size, so that progress and cancel come at least this often.
inline constexpr uint64_t kCopyChunkBytes = 8u << 20;
// The start of every temporary name; the scan lists such files like any other.
inline constexpr const char* kCopyTempPrefix = ".paritas-";

CopyResult copyFileWithProgress(const std::string& source, const std::string& destination,
                                CopyObserver& observer);

} // namespace paritas

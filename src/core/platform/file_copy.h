#pragma once
// Copying one file so that the destination is either what stood there before or the complete new
// copy, never anything in between, and so that a copy replaces only what its plan expected.
//
//   source (opened beneath its location, never through a link; checked against its planned stamp)
//     --(clone, else copy_file_range, else read/write, in chunks)--> unnamed new file (O_TMPFILE) in
//     the destination's folder --(permission bits, modified time; source checked again)-->
//       nothing expected at the destination: linked in under its name, which fails when anything
//                                            stands there now (never a replace)
//       a planned file expected there:       linked under a temporary name, then exchanged with the
//                                            destination in one step; if what came out is not the
//                                            planned file it is exchanged back and the copy fails
//       anything (no plan):                  linked under a temporary name, renamed over the name
//
// A file system without O_TMPFILE gets a hidden temporary file (".paritas-" + 16 hex digits + ".tmp",
// created exclusively) in its place; the scans never list such names. A failed, cancelled or killed
// copy leaves the old destination byte for byte and, with O_TMPFILE, no file under any name.
// Where RENAME_NOREPLACE, hard links or RENAME_EXCHANGE are missing, the placing takes other means
// that keep the same promises (placement.h says which, and how narrow each window is).
//
// No fsync of unnamed content: the source is never touched, so a power cut can at worst lose a copy
// whose original still exists, and ext4 (data=ordered, auto_da_alloc) writes the data of a file that
// replaces another by rename before the rename itself. A named temporary file (the file systems
// without O_TMPFILE: FAT, exFAT, NTFS, shares) is fsync'ed before it takes its name, because those
// promise no such order.
//
// What stood at the destination goes where a Disposal sends it (disposal.h): after the exchange the
// old version is handed over before the copy counts as done; when it cannot be kept it is exchanged
// back and the copy fails, so a copy never deletes what was to be kept. The Disposal is asked before
// the first byte is copied whether it could keep a file there at all.
//
// Verification (CopyOptions::verify): the source is read once, through a buffer, and its CRC-32
// folded on the way (no clone, no copy_file_range); the new content is written to the disk and read
// back from it, and its CRC compared, all before it takes the destination's name. A difference fails
// the copy and leaves the destination as it was.
//
// A symbolic link is copied as a link holding the same target text, placed the same way. Anything
// that is neither a regular file nor a link (a folder, a FIFO, a device) is refused. The permission
// bits (rwx for user, group, others; never set-user-id or set-group-id) and the modified time,
// nanoseconds included, are kept; the owner is not, unless CopyOptions::keeper asks for everything. A source that changes size or modified time while
// it is being copied fails the copy (kChangedWhileCopied), because the result would carry the old
// time with new bytes; one that is no longer a file or link fails with kNoLongerAFile.

#include "core/platform/act_hooks.h"
#include "core/platform/beneath.h"
#include "core/platform/disposal.h"
#include "core/platform/file_stamp.h"

#include <cstdint>
#include <string>

namespace paritas {

struct FileSystemCapabilities;
class TemporaryNameLog;
class MetadataKeeper;

// Told how a copy advances, asked between chunks whether to give up.
struct CopyObserver {
    virtual ~CopyObserver() = default;
    // Once before the first byte (done 0) and after every chunk; total is the source's size.
    virtual void progress(uint64_t /*done*/, uint64_t /*total*/) {}
    virtual bool cancelRequested() { return false; }
    // A verified copy's new content (read and write), complete and not yet read back. A seam for tests,
    // which damage it here to see the verification catch it.
    virtual void beforeReadBack(int /*newContent*/) {}
};

enum class CopyOutcome { Copied, Failed, Cancelled };

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::Failed;
    int error = 0;      // errno (or a code of beneath.h) of a failure; 0 when copied or cancelled
    std::string detail; // more about a failure, for the reason line; may be empty
    std::string keptAt; // where the replaced old version went when it was kept, else empty
    bool ok() const { return outcome == CopyOutcome::Copied; }
    explicit operator bool() const { return ok(); }
};

// What may stand at a copy's destination.
struct DestinationPlan {
    enum class Kind {
        Anything, // replace whatever stands there, or create (a copy line without a plan)
        Nothing,  // create only; something that appeared since planning is never replaced
        Planned,  // replace only the file of `stamp`
    };
    Kind kind = Kind::Anything;
    FileStamp stamp;
};

struct CopyOptions {
    // Where a replaced old version goes; nullptr deletes it.
    Disposal* disposal = nullptr;
    bool verify = false;
    // Told when the destination has passed its last check, right before the copy takes its place.
    BetweenCheckAndAct* between = nullptr;
    // What the destination's file system can do (capabilities.h), probed once per run: the placing
    // takes the means that work there at once. nullptr: each means is tried, the next one taken
    // where the file system refuses it (as fast as ever where the first one works).
    const FileSystemCapabilities* capabilities = nullptr;
    // The source's, for comparing it with its planned stamp (inode numbers only where stable).
    const FileSystemCapabilities* sourceCapabilities = nullptr;
    // Told before any temporary name is made in the destination's folder (work_journal.h), so that a
    // run killed meanwhile is mended by the next; nullptr: nothing is recorded.
    TemporaryNameLog* journal = nullptr;
    // With a keeper the copy carries all of the source's metadata before it takes its name, in the order
    // of metadata.h: owner and group (where the process may set them), the extended attributes and ACLs
    // (kAllAttributes), the permission bits (set-user-id and set-group-id with the owner and group they
    // belong to), the access and modified times; a link its owner, its attributes and its own times.
    // What the destination's file system cannot hold is told to the keeper, once per kind, and is no
    // failure. Without one: the rwx bits and the times only, as described above.
    MetadataKeeper* keeper = nullptr;
};

// Copies in chunks of this size, so that progress and cancel come at least this often.
inline constexpr uint64_t kCopyChunkBytes = 8u << 20;
// The start of every temporary name; the scans do not list ".paritas-<16 hex digits>.tmp".
inline constexpr const char* kCopyTempPrefix = ".paritas-";

// The copy of one action line: the source resolved beneath `sourceSide`'s location, the destination
// beneath `destinationSide`'s (one resolver may serve both). `plannedSource`, when
// given, is the stamp the source had when the line was planned (a different file there fails the copy
// with kChangedSincePlanning).
CopyResult copyFileBeneath(LocationResolver& sourceSide, const std::string& source,
                           const FileStamp* plannedSource, LocationResolver& destinationSide,
                           const std::string& destination, const DestinationPlan& plan,
                           CopyObserver& observer, const CopyOptions& options = {});
CopyResult copyFileBeneath(LocationResolver& locations, const std::string& source,
                           const FileStamp* plannedSource, const std::string& destination,
                           const DestinationPlan& plan, CopyObserver& observer,
                           const CopyOptions& options = {});

// A move that cannot be done in one step (moveIfUnchanged failed with kMoveAcrossFileSystems: a
// bind mount or another file system between source and destination): copies the file or link to
// `destination`, which must be free (never a replace), then removes the source only while it is
// still the file that was copied (`plannedSource`, else what stood there before the copy). When the
// source cannot be removed, the copy is removed again (only while it is still that copy), so that
// the line either moved the file or changed nothing; the detail says what stays. Folders are not
// moved this way (EISDIR). options.capabilities are the destination's, sourceCapabilities the
// source's.
CopyResult copyThenDeleteIfUnchanged(LocationResolver& locations, const std::string& source,
                                     const FileStamp* plannedSource, const std::string& destination,
                                     CopyObserver& observer, const CopyOptions& options = {});

// A copy without locations or plan: paths as written, the destination replaced.
CopyResult copyFileWithProgress(const std::string& source, const std::string& destination,
                                CopyObserver& observer);

// A fresh temporary name for the folder of a copy: ".paritas-" + 16 hex digits + ".tmp".
std::string copyTemporaryName();

} // namespace paritas

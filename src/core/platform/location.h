#pragma once
// A location: the folder tree the user chose as A or B, with every question and action on it.
//
// Everything that looks at or changes a location goes through this interface: the scan's folder
// reads, the planners' questions (does a folder or file stand here, its facts, are two paths one
// file), the executor's checked actions and its copies (also on the copy pool's workers), the run
// lock's key. The local file system (LocalLocation, local_location.h) is the first implementation;
// tests wrap it to change the world between a check and its act, fail calls and hide capabilities.
//
// Paths are full paths as the plan holds them: the location's text followed by the path below it
// ("/data/B/docs/x.txt" for the location "/data/B/"). A path that does not lie beneath the location
// fails with kOutsideLocations. No call follows a symbolic link below the location, nor at the last
// component: a link is an entry of its own.
//
// Promises every implementation keeps (they are what the executor relies on):
//   makeFolder         fails when anything stands at the path
//   removeEmptyFolder  removes a folder only when it is empty
//   moveIfUnchanged    moves only the planned file, never onto anything (EEXIST)
//   deleteIfUnchanged  removes only the planned file; disposeIfUnchanged hands it to a Disposal
//   placeCopy          the destination holds what stood there before or the complete copy, never
//                      anything in between, and a copy replaces only what its plan expected; with
//                      CopyOptions::keeper it carries the source's metadata (metadata.h)
//   placeHardLink      as placeCopy, with a second name of a file standing here instead of a copy
//   applyMetadata      changes only the planned entry (its stamp, its type), never following a link
// A planned stamp that no longer matches fails with kChangedSincePlanning.
//
// Threads: one object serves one thread at a time. forAnotherThread() gives a handle for another
// thread over the same location (what was opened is shared, the caches are its own).

#include "core/platform/beneath.h"
#include "core/platform/capabilities.h"
#include "core/platform/disposal.h"
#include "core/platform/file_compare.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_identity.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_stamp.h"
#include "core/platform/folder_listing.h"
#include "core/platform/hard_links.h"
#include "core/platform/metadata.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace paritas {

enum class EntryKind : uint8_t { None, Folder, File, Link, Special };

// What stands at a path, seen without following a link there.
struct EntryFacts {
    EntryKind kind = EntryKind::None;
    FileStamp stamp; // files and links
    int error = 0;   // why nothing could be seen (0 when the entry is simply absent)
    bool exists() const { return kind != EntryKind::None; }
};

// One line of a run about to start, as the executor announces it to the locations
// (Location::actionsAhead).
struct ActionAhead {
    enum class Kind : uint8_t { MakeFolder, Move, Copy, Delete, RemoveFolder };
    Kind kind = Kind::Copy;
    std::string path;        // the folder made or removed, the file moved, copied or deleted
    std::string destination; // Move and Copy
    bool stampKnown = false;
    FileStamp stamp;         // the file of `path` as planned (Move, Copy, Delete)
    bool askedFirst = false; // the user is asked before the line runs: nothing of it is done ahead
};

// How one folder is read for a walk.
struct FolderReadOptions {
    bool fileFacts = true; // size, times and inode of every entry that is not a folder
    bool isRoot = false;   // the location itself (which may be a link the user chose)
    // Digests of the attributes of every entry that is not a folder and of the folder itself (none:
    // not read; a call per entry).
    AttributeSelection attributes;
};

// What applyMetadata does with the entry at a path.
struct MetadataStep {
    enum class Kind {
        NewFolder,    // a folder this run made: owner, attributes, permissions it can still be filled with
        FinishFolder, // a folder whose contents are done: its exact permissions and its times
        FolderTimes,  // a folder that stood already, whose contents are done: its times
        Entry,        // an entry that stands already (a change of metadata alone): what differs
    };
    Kind kind = Kind::Entry;
    // Entry: the file or link must still be this one (size, modified time, inode), or nothing changes
    // (kChangedSincePlanning). nullptr for a folder.
    const FileStamp* expected = nullptr;
};

class Location {
public:
    explicit Location(std::string text) : text_(std::move(text)) {}
    virtual ~Location() = default;
    Location(const Location&) = delete;
    Location& operator=(const Location&) = delete;

    // The location as the user gave it, ending with the separator.
    const std::string& text() const { return text_; }
    // True when `path` lies at or beneath the location (the location itself with or without its
    // separator).
    bool holds(std::string_view path) const;

    virtual std::unique_ptr<Location> forAnotherThread() const = 0;

    // ---- the location as a whole ----
    // A folder stands at the location (a link the user chose is followed).
    virtual bool exists() = 0;
    // What the file system under the location can do; found once and kept.
    virtual FileSystemCapabilities capabilities() = 0;
    // The identity that the run lock is keyed by: the same for every spelling of the location and
    // whether or not it exists yet.
    virtual std::string lockKey() = 0;
    // The identities of the location's folder and the folders above it (overlapping locations are
    // refused by them).
    virtual FolderAncestry ancestry() = 0;
    // The location is the top of its file system (its trash folders are not part of its tree).
    virtual bool isFileSystemTop() = 0;
    // Whether two spellings that differ only in letter case name one entry here. Learnt without
    // writing where the location holds a name to look up in another spelling; else from the
    // capabilities (a probe that writes) only when `mayWrite`, else taken as telling case apart.
    virtual bool foldsLetterCase(bool /*mayWrite*/) { return false; }

    // ---- interrupted runs (work_journal.h) ----
    // Settles what a run killed here left under temporary names: removed, put back, or handed to
    // `disposal` (nullptr: deleted). One log line per name. Called under the run lock, before the scans,
    // on every location the run writes.
    virtual std::vector<std::string> recoverInterruptedWork(Disposal* /*disposal*/) { return {}; }
    // The end of a run's actions: the run's journal here goes when none of its names remains.
    virtual void closeJournal() {}
    // The end of a run that kept removed files in the location's own versions folder with days to
    // keep them: a location that keeps that folder itself (not through the run's Disposal) removes the
    // versions kept before `now` less `keepDays` days, only from a folder that bears Paritas's mark
    // (kVersionsMarkName). One log line per folder that lost any or could not be pruned completely.
    virtual std::vector<std::string> pruneOwnVersions(int /*keepDays*/, std::time_t /*now*/) { return {}; }

    // ---- questions ----
    // The entries of a folder, sorted by name in byte order (a walk's one read of it).
    virtual FolderRead readFolder(const std::string& folder, const FolderReadOptions& options) = 0;
    virtual EntryFacts entryAt(const std::string& path) = 0;
    // Both paths exist and are one object of the file system (two spellings of one name, a hard link).
    virtual bool sameEntry(const std::string& first, const std::string& second) = 0;

    // ---- checked actions ----
    virtual FsResult makeFolder(const std::string& path) = 0;
    // A real folder (not a link to one) stands at the path.
    virtual bool realFolderAt(const std::string& path) = 0;
    virtual FsResult removeEmptyFolder(const std::string& path) = 0;
    // `planned`: the stamp the file had when planned; nullptr acts on whatever file is there.
    virtual FsResult moveIfUnchanged(const std::string& source, const FileStamp* planned,
                                     const std::string& destination) = 0;
    virtual FsResult deleteIfUnchanged(const std::string& path, const FileStamp* planned) = 0;
    virtual Disposed disposeIfUnchanged(const std::string& path, const FileStamp* planned,
                                        Disposal& disposal) = 0;
    // Copies `source` of `sourceSide` (this location or another) to `destination` here.
    virtual CopyResult placeCopy(Location& sourceSide, const std::string& source,
                                 const FileStamp* plannedSource, const std::string& destination,
                                 const DestinationPlan& plan, CopyObserver& observer,
                                 const CopyOptions& options) = 0;
    // Before a duplicate here is deleted: the kept file (of `keptSide`) still exists, is another file
    // and holds the same bytes.
    virtual DuplicateProof proveDuplicate(Location& keptSide, const std::string& kept,
                                          const std::string& duplicate) = 0;
    // ---- metadata (metadata.h) ----
    // The metadata of the entry at `path`, never following a link there (the location itself may be a
    // link the user chose). Default: EOPNOTSUPP, a location that keeps none.
    virtual MetadataRead readMetadata(const std::string& path, const AttributeSelection& selection);
    // Gives the entry at `path` `source`'s metadata as `step` says; what the file system cannot hold is
    // told to `keeper` (once per kind) and is no failure. Default: every kind refused.
    virtual MetadataApplied applyMetadata(const std::string& path, const EntryMetadata& source,
                                          const MetadataStep& step, MetadataKeeper& keeper);
    // Makes `destination` a second name of the file at `existing` (both here), placed as `plan` allows
    // with the disposal of `options` (as a copy is placed); with `expected`, the file at `existing` must
    // still be that one. NotHeld where the file system holds no (more) hard links there: nothing was
    // changed, and the caller may copy instead. Default: NotHeld.
    virtual LinkResult placeHardLink(const std::string& existing, const FileStamp* expected,
                                     const std::string& destination, const DestinationPlan& plan,
                                     const CopyOptions& options);

    // Copies the file `source` here, only while it is the planned file, to a new file `localFile` (an
    // absolute local path where nothing stands), for a copy into a local folder from a location that
    // is none (a remote). Local locations copy between each other directly and answer EXDEV.
    virtual CopyResult fetchFile(const std::string& source, const FileStamp* plannedSource,
                                 const std::string& localFile, CopyObserver& observer);

    // ---- what sets a location apart ----
    // How many folders a walk reads at once through this location; 0: the walk's own default (the
    // machine's cores). Reading a remote folder is a round trip, and many at once overlap them.
    virtual int readersWanted() { return 0; }
    // A listing shows symbolic links (false: it leaves them out unseen, as a remote through rclone does).
    virtual bool seesLinks() { return true; }
    // The step in which modified times are kept here, in nanoseconds; 0 when no time can be set at all
    // (a file takes the moment it was written). Runs compare times in steps of two seconds, so a
    // location that keeps them more coarsely, or not at all, cannot take part in a comparison by time.
    virtual int64_t timePrecisionNanos() { return 1; }

    // ---- the run ahead ----
    // The action lines of a run on these locations, in list order, told once before the first line
    // runs (and only when no line is to be confirmed one by one). A location may prepare for them: a
    // remote moves a renamed folder in one step when the lines move every file of it, and fills a new
    // folder with all its files in one go. Every line is still carried out by its own call, which
    // reports its own outcome. `watcher` serves work done ahead of a line on the run's own thread (the
    // windows kept alive, a stop heard); it lives until closeJournal().
    virtual void actionsAhead(const std::vector<ActionAhead>& /*lines*/, CopyObserver& /*watcher*/) {}

    // Folders may have been removed or moved: forget what is kept open.
    virtual void forgetFolders() {}
    // A move that failed with kMoveAcrossFileSystems (a mount between `source` and `destination`):
    // a copy to the free `destination`, then the source removed only while it is unchanged
    // (copyThenDeleteIfUnchanged, file_copy.h). The default refuses as the move did.
    virtual CopyResult moveByCopy(const std::string& /*source*/, const FileStamp* /*planned*/,
                                  const std::string& /*destination*/, CopyObserver& /*observer*/,
                                  const CopyOptions& /*options*/) {
        CopyResult refused;
        refused.error = kMoveAcrossFileSystems;
        return refused;
    }
    // The implementation that does the work: a location that wraps another (a test's) gives that one,
    // so that two locations of one kind can work together (a local copy between two local folders).
    virtual Location& underlying() { return *this; }

private:
    std::string text_;
};

// The locations of one run. A path belongs to the location closest above it (with "Include
// Subfolders" off, B may lie inside A).
class Locations {
public:
    Locations() = default;
    explicit Locations(std::vector<std::unique_ptr<Location>> locations) : locations_(std::move(locations)) {}
    Locations(Locations&&) noexcept = default;
    Locations& operator=(Locations&&) noexcept = default;

    // The same locations for another thread.
    Locations forAnotherThread() const;
    // The location that holds `path`, or nullptr when none does.
    Location* holding(std::string_view path) const;
    std::size_t size() const { return locations_.size(); }
    Location& operator[](std::size_t i) const { return *locations_[i]; }
    // The location whose text is `text`, or nullptr.
    Location* withText(std::string_view text) const;
    void forgetFolders();

private:
    std::vector<std::unique_ptr<Location>> locations_;
};

} // namespace paritas

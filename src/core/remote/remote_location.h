#pragma once
// A folder on another machine or in the cloud as a location (location.h), reached through rclone: a
// remote of the user's rclone configuration ("nas:backup/") or one made on the fly
// (":sftp,host=...:backup/"). Every question and act is a call to rclone's remote control through the
// run's RemoteSession (remote_session.h), each act tagged with a group of its own (rc's _group), with
// rclone retrying a refused connection only twice (rc_client.h).
//
// Reading: folders are listed one by one with many listings under way at once (readersWanted), so
// that the scan shows progress and the round trips overlap: 8 near the machine, 24 across a network,
// as the time of a question to the server says when the scan starts. Listings leave symbolic links out
// (rclone_daemon.h): the scan says so (seesLinks). Times are as precise as the backend keeps them
// (timePrecisionNanos, from rclone's fsinfo: SFTP whole seconds); a backend that keeps none (WebDAV
// other than the servers rclone knows) answers 0, and runs that compare times refuse it (run.cpp).
// While a scan's listings are fresh, the planners' questions (entryAt) are answered from what the
// listings showed, as far as they showed it (a compact index of hashed paths, a few bytes a file);
// after forgetFolders(), and wherever no listing looked, a stat asks the remote.
//
// Acting. rclone replaces without asking (remote_ops.h), so every act checks first, by a stat right
// before it, and the check and the act are one or two round trips apart: about a millisecond through
// rclone to an SFTP server on the same machine, one or two network round trips to a real one. Another
// client writing the same name within that window wins or loses by chance; nothing in rclone closes it.
//   makeFolder        stat (nothing there), mkdir
//   removeEmptyFolder rmdir, then a stat that it is gone (bucket stores answer success for a full one)
//   moveIfUnchanged   stat the source (the planned file) and the destination (nothing), then movefile
//   deleteIfUnchanged stat (the planned file), then deletefile
//   dispose           the versions folder: a server-side move into ".paritas-versions" at the top of
//                     the location (never a copy), which bears Paritas's mark when Paritas made it
//                     (or found it empty); the trash: refused, the file stays (a remote has none; said
//                     in full on the first such line)
// At the end of a run with days to keep versions, the versions in a marked ".paritas-versions" older
// than that go (pruneOwnVersions). A move keeps a file's times as they were, so a version's age is
// read from the run's date and time in its name (versionTimeInName); a name that carries none that
// reads back on this machine is kept.
//   placeCopy         the content goes to a hidden temporary name in the target's folder first
//                     (uploaded from a local file, or copied by rclone from another remote), so that
//                     nothing is ever truncated under its name; then, for a new file, a stat (nothing
//                     there) and a move onto the name; for a replacement, a stat (the planned file),
//                     the old file moved aside (into the versions folder, or to a hidden name that
//                     carries its own, ".paritas-<16 hex>.aside.<name>", work_journal.h; a plain
//                     temporary name when that would be too long), the new one moved onto the name,
//                     and the old one put back when that fails; the aside copy is deleted only once
//                     the new file stands
//   fetchFile         stat (the planned file), then rclone copies it into the local file
// Files of 4 MiB or more are copied as rclone jobs that are watched: progress is reported and
// a cancel stops them (job/stop); what they wrote stays under its temporary name and is removed.
//
// New folders: when the run ahead (actionsAhead) makes folders and copies small local files into them
// (folder_uploads.h says which), and the remote moves folders server-side, the line that makes the
// first of them sends the files of as many as one wave holds in one rclone copy (its own transfers,
// as `rclone copy` runs them) into a hidden folder at the top of the location (".paritas-<16 hex>.tmp",
// a name of the run's journal like a temporary copy), beneath which each file stands at its local
// path. When rclone sent every file and counted no error, each source is looked at again on this
// machine (still the planned file?); otherwise one listing shows what arrived and as what. Every file
// there that is not its line's file as planned (a source changed or gone since the scan, a copy cut
// short) is deleted. The line that makes each new folder then gives its part of the hidden folder the
// folder's name in one server-side move, after a stat that nothing stands there (moveFolder: a folder
// someone made there meanwhile is never merged into). Each copy line reports its file as arrived; a
// file that did not is copied by its own line, checked as ever. The copy is watched (the windows stay
// served); a stop asked for before the moves cancels it and removes the hidden folder, and the folder
// is then made as any other. Nothing ever stands under a final name but by a server-side move of a
// complete, checked file.
//
// A renamed folder: when the run ahead (actionsAhead) moves every file of a folder into a folder the
// run makes, and the remote moves folders server-side (fsinfo DirMove), the folder is moved in one
// sync/move after one recursive listing checks it (exactly the planned files, as planned, and only
// folders the run makes beneath the new place); one more listing then decides each line's own
// outcome, which its move returns (folder_moves.h says which lines qualify). The move is made when
// the line that makes the new place comes, while nothing stands there: that line and those that make
// the folders the move brought along then cost no call. Where the new place was made first (by a
// line the move could not be tried at), the first move line tries it, taking away the empty folders
// the run made there first. Otherwise, and for the files such a move did not carry, each file moves
// by itself.
//
// A killed run. Before a run makes its first temporary name on the remote it leaves an empty
// ".paritas-journal-<16 hex>" at the top of the location (a local run's journal is never empty), and
// removes it at the end once none of its temporary names remains. The next run (recoverInterruptedWork,
// under the run lock, before the scans) looks for such a mark in the listing of the top folder, one
// call; only when it finds one does it list the whole tree and settle every leftover: a temporary copy
// (".paritas-<16 hex>.tmp") is deleted, its source being still there to be copied again; an old
// version that stepped aside goes back to its name when that name is free, else where removed files
// go (deleted, or the versions folder; a remote has no trash, and with the trash chosen it stays and
// the run says where). A live run's names are never touched by another: the run lock admits one run
// per location at a time (on this machine; two machines writing one remote at once are not guarded,
// here or anywhere else in the remote's acts).
//
// Threads: one handle per thread (forAnotherThread); what was learnt is shared by all of them.

#include "core/platform/location.h"
#include "core/remote/folder_uploads.h"
#include "core/remote/remote_path.h"
#include "core/remote/remote_session.h"

#include <memory>
#include <string>

namespace paritas {

class RemoteLocation final : public Location {
public:
    // The location of `text` (a remote location text, see remoteLocationText) over the process's
    // session, started when none lives. nullptr with `failure` when the text is no remote location
    // (EINVAL) or rclone cannot be started.
    static std::unique_ptr<RemoteLocation> open(const std::string& text, RcResult& failure);
    RemoteLocation(const ParsedLocation& parsed, std::shared_ptr<RemoteSession> session);
    ~RemoteLocation() override;

    std::unique_ptr<Location> forAnotherThread() const override;

    bool exists() override;
    FileSystemCapabilities capabilities() override;
    std::string lockKey() override;
    FolderAncestry ancestry() override;
    bool isFileSystemTop() override { return false; }

    std::vector<std::string> recoverInterruptedWork(Disposal* disposal) override;
    void closeJournal() override;
    std::vector<std::string> pruneOwnVersions(int keepDays, std::time_t now) override;

    FolderRead readFolder(const std::string& folder, const FolderReadOptions& options) override;
    EntryFacts entryAt(const std::string& path) override;
    bool sameEntry(const std::string& first, const std::string& second) override;

    FsResult makeFolder(const std::string& path) override;
    bool realFolderAt(const std::string& path) override;
    FsResult removeEmptyFolder(const std::string& path) override;
    FsResult moveIfUnchanged(const std::string& source, const FileStamp* planned,
                             const std::string& destination) override;
    FsResult deleteIfUnchanged(const std::string& path, const FileStamp* planned) override;
    Disposed disposeIfUnchanged(const std::string& path, const FileStamp* planned, Disposal& disposal) override;
    CopyResult placeCopy(Location& sourceSide, const std::string& source, const FileStamp* plannedSource,
                         const std::string& destination, const DestinationPlan& plan, CopyObserver& observer,
                         const CopyOptions& options) override;
    DuplicateProof proveDuplicate(Location& keptSide, const std::string& kept,
                                  const std::string& duplicate) override;
    CopyResult fetchFile(const std::string& source, const FileStamp* plannedSource, const std::string& localFile,
                         CopyObserver& observer) override;

    int readersWanted() override;
    bool seesLinks() override { return false; }
    int64_t timePrecisionNanos() override;
    void actionsAhead(const std::vector<ActionAhead>& lines, CopyObserver& watcher) override;
    void forgetFolders() override;

    RemoteSession& session();
    const RemotePath& root() const;
    // The place on the remote of a path of this location; false for a path outside it.
    bool remotePathOf(const std::string& path, RemotePath& at) const;
    // The facts of the remote (rclone's fsinfo, asked once); a failed question leaves the defaults.
    const RemoteFsInfo& info();

private:
    struct Shared;
    explicit RemoteLocation(std::shared_ptr<Shared> shared);

    RcResult sendToTemporary(Location& sourceSide, const std::string& source, const FileStamp* plannedSource,
                             const RemotePath& temporary, const std::string& group, CopyObserver& observer,
                             uint64_t& bytes);
    // `versionOf`: the path whose version the file at `at` is (`at` itself, but for an aside name).
    RcResult keepOldVersion(const RemotePath& at, const RemotePath& versionOf,
                            const RemoteExpectation& expected, Disposal& disposal, const std::string& group,
                            RemotePath& keptAt);
    // The run's journal mark is made before the first temporary name; `temporary` is then one of the
    // run's until settled() (closeJournal removes the mark only when none is left).
    RcResult recordTemporary(const RemotePath& temporary);
    void settled(const RemotePath& temporary);
    std::string settleLeftover(const RemoteEntry& entry, const std::string& relative, Disposal* disposal,
                               const std::string& group, bool& settledIt);
    RcResult trashRefusal();
    void claimVersionsFolder(const std::string& group);
    // `atMaking`: the new place is still to be made, and must be absent.
    bool tryFolderMove(std::size_t index, bool atMaking);
    // True when the new folder stands, filled with what arrived of its files.
    bool tryFolderUpload(std::size_t index);
    void sendWave(std::size_t first);
    // `ended`: false when a copy that was stopped did not end (it may still write into `folder`).
    RcResult runUpload(const std::vector<std::string>& names, int64_t bytes, const RemotePath& folder,
                       const std::string& group, bool& ended);
    std::string folderTextOf(const std::string& path) const;

    std::shared_ptr<Shared> shared_;
};

} // namespace paritas

#pragma once
// What Paritas asks of and does to a remote, each a call or two on an RcClient, with what rclone 1.60
// does that callers must guard against (measured on Debian 12's rclone 1.60.1 against
// `rclone serve sftp`, `rclone serve webdav`, OpenSSH's sftp server, :memory: and :local:).
//
// Check, then act. rclone has no conditional replace: copyfile and movefile replace whatever stands at
// their target without a word (measured: copyfile onto an existing file overwrites it, movefile onto
// an existing file replaces it, sync/move into an existing folder merges into it and replaces files of
// the same name). So every act that must not replace something first asks stat() and compares with a
// RemoteExpectation, and fails with kChangedSincePlanning (core/platform/beneath.h) when the world
// moved. The window between the check and the act is one round trip to rclone plus the backend's
// own lookup: about a millisecond over SFTP on loopback (bench/remote_ops_bench.sh), one or two
// network round trips on a real server. Nothing in rclone closes it: another client writing the same
// name in that window wins or loses by chance.
//
// Uploads go to a temporary name first and are then moved onto their name, because a copy that is
// cut short over SFTP leaves a truncated file under the name it was writing (measured: rcd killed one
// second into a 500 MB upload left 2 MB under the target's name, and the old file it replaced was
// gone). The temporary name is ".paritas-<16 hex digits>.tmp" in the target's folder, the name of a
// local copy's temporary file, which the scans never list.
//
// Links: listings leave symbolic links out (the daemon's environment, rclone_daemon.h). stat() is
// less careful, and callers must not rely on it to see a link: over SFTP rclone 1.60 answers for a
// link to a file with the facts of the file it points to, and for a path through a linked folder
// ("linked/x") with the facts of x behind it, while a link to a folder reads as absent; the local
// backend answers for a link with the size of the link itself. The remote server resolves links in
// paths of every act too: rclone has no "beneath, never through a link" as the local platform layer
// has, so a folder that a user of the server swaps for a link between listing and act is followed.
//
// Times: entries carry the modified time with the precision the backend keeps (fsInfo().precision):
// whole seconds over SFTP, nanoseconds on :local: and :memory:. A WebDAV server that is not one rclone
// knows (rclone serve webdav included) keeps no times rclone can set: fsInfo says so
// (keepsModifiedTimes false), an uploaded file takes the time of its upload, and listings show that.
//
// First contact: every distinct fs of an SFTP remote is a connection of its own, and when rclone does
// not know the server's shell it first probes it and its hash commands over SSH: 8.5 s against
// OpenSSH here (0.6 s with shell_type=none, measured). For a configured remote rclone writes what it
// found into rclone.conf (the user's file) and probes once; a remote made on the fly is probed again
// by every daemon and for every new fs (moveFolder takes its two folders as fs). Calls that share
// one fs per remote (everything here but moveFolder) pay it once per run.
//
// Names are UTF-8 (the JSON of rclone's remote control can carry nothing else): a local name that is
// not fails with EILSEQ, and a remote name that is not arrives with U+FFFD in place of the bad bytes.
//
// Every function is thread-safe as the client is; `group` tags the call for stats() (rc's _group).
// Paths are RemotePath (remote_path.h); a folder's path may end with "/".

#include "core/remote/rc_client.h"
#include "core/remote/remote_path.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

struct RemoteEntry {
    std::string name;
    bool isFolder = false;
    int64_t size = -1;         // bytes; -1 for folders, and for files of unknown size
    int64_t modifiedTime = 0;  // seconds since the epoch
    int32_t modifiedNanos = 0; // 0 to 999,999,999, as precise as the backend keeps times
    std::string id;            // the backend's own id where it gives one with a listing, else empty
};

enum class RemoteKind { Absent, File, Folder };

struct RemoteStat {
    RemoteKind kind = RemoteKind::Absent;
    RemoteEntry entry; // File and Folder
};

struct RemoteFsInfo {
    std::string name;        // rclone's name for it ("nas", ":sftp{HK82T}")
    std::string root;        // the path it stands on
    std::string description; // rclone's words ("sftp://root@127.0.0.1:2222//srv")
    // The smallest step of modified times it keeps, in nanoseconds (SFTP 1,000,000,000; local 1).
    int64_t precisionNanos = 1;
    // False when rclone cannot set modified times there (WebDAV other than the servers rclone knows):
    // uploads then take the time of the upload.
    bool keepsModifiedTimes = true;
    bool caseInsensitive = false;
    bool canMove = false;        // a file moves server-side within the remote (else: copy, delete)
    bool canMoveFolders = false; // a folder moves server-side (rclone's DirMove)
    bool canCopy = false;        // a file copies server-side
    bool serverSideAcrossConfigs = false;
    bool canHaveEmptyFolders = false; // false on bucket stores (:memory:, S3): folders exist by content
    bool isLocal = false;
    bool bucketBased = false;
    std::vector<std::string> hashes; // "md5", "sha1", ...
};

// What must stand at a path just before an act.
struct RemoteExpectation {
    enum class Kind { Anything, Absent, File };
    Kind kind = Kind::Anything;
    int64_t size = 0;          // File
    int64_t modifiedTime = 0;  // File
    int32_t modifiedNanos = 0; // File

    static RemoteExpectation anything() { return {}; }
    static RemoteExpectation absent() { return {Kind::Absent}; }
    // The file as a listing or a stat of the same remote showed it (same size, same time).
    static RemoteExpectation file(const RemoteEntry& seen) {
        return {Kind::File, seen.size, seen.modifiedTime, seen.modifiedNanos};
    }
    bool heldBy(const RemoteStat& now) const;
};

// What rclone counted for one group (core/stats).
struct RemoteStats {
    int64_t bytes = 0;     // bytes moved by copies, and by rclone 1.60 also those of server-side file
                           // moves (measured: a movefile of 13 bytes within one SFTP remote counts 13);
                           // a server-side folder move (DirMove) counts nothing
    int64_t transfers = 0; // files copied
    int64_t checks = 0;    // files compared or skipped (an upload skipped by IgnoreExisting is one)
    int64_t renames = 0;   // server-side moves of files
    int64_t deletes = 0;
    int64_t deletedFolders = 0;
    int64_t errors = 0;
};

namespace remote {

// The entries of one folder (not its subfolders), sorted by name in byte order as local listings are;
// links left out. Fails with ENOENT when there is no such folder, ENOTDIR when it is a file (an empty
// listing is checked by a stat: WebDAV lists a file, and bucket stores a missing folder, as empty).
RcResult listFolder(RcClient& client, const RemotePath& folder, std::vector<RemoteEntry>& entries,
                    std::string_view group = {});

// Every entry beneath a folder, at any depth (one recursive operations/list), each with its path below
// `folder` in `name` ("sub/x.txt"), sorted by that path in byte order. Fails as listFolder does.
RcResult listTree(RcClient& client, const RemotePath& folder, std::vector<RemoteEntry>& entries,
                  std::string_view group = {});

// What stands at path: Absent (not an error), a File or a Folder; the root is a Folder. See the links
// paragraph above.
RcResult stat(RcClient& client, const RemotePath& path, RemoteStat& result, std::string_view group = {});

// The facts of the remote that fs names.
RcResult fsInfo(RcClient& client, std::string_view fs, RemoteFsInfo& info);

// Copies the local file (an absolute path; a regular file, never a link: ELOOP, checked by lstat just
// before; rclone then opens the path following links, and only its own check that size and time did
// not change while it copied, "source file is being updated", catches a swap) to a fresh temporary
// name in target's folder, which it returns. rclone never replaces anything at that name
// (IgnoreExisting, which skips without a word); the copy is then checked by a stat to hold the file's
// size (EEXIST when something else stood at the name; one of the same size standing at a fresh
// 64-bit random name would pass). A copy that failed is removed, by rclone or here; one cut short by
// a lost connection stays under its temporary name.
RcResult uploadAsTemporary(RcClient& client, const std::string& localFile, const RemotePath& target,
                           RemotePath& temporary, std::string_view group = {});
// Moves the temporary copy onto target after checking that atTarget holds there (server-side where
// the remote can; otherwise rclone copies and deletes). On failure the temporary copy is left in place
// for the caller to delete.
RcResult moveInto(RcClient& client, const RemotePath& temporary, const RemotePath& target,
                  const RemoteExpectation& atTarget, std::string_view group = {});
// Both, and the temporary copy deleted when the move does not happen. The check and the move are
// tagged "<group>.rename", so that the group's bytes are those uploaded.
RcResult upload(RcClient& client, const std::string& localFile, const RemotePath& target,
                const RemoteExpectation& atTarget, std::string_view group = {});

// Gives a file a new path (both on remotes; across remotes rclone copies and deletes). The source
// must hold `source`, and nothing may stand at `to` (EEXIST).
RcResult moveFile(RcClient& client, const RemotePath& from, const RemoteExpectation& source,
                  const RemotePath& to, std::string_view group = {});
// Deletes a file that holds `expected` (ENOENT when there is none, EISDIR for a folder).
RcResult deleteFile(RcClient& client, const RemotePath& path, const RemoteExpectation& expected,
                    std::string_view group = {});
// Makes a folder, and any missing folder above it (rclone's mkdir). EEXIST when anything stands at
// the path already (rclone itself succeeds on an existing folder). On bucket stores a folder without
// content does not stay (fsInfo().canHaveEmptyFolders).
RcResult makeFolder(RcClient& client, const RemotePath& path, std::string_view group = {});
// Removes a folder only when it is empty (ENOTEMPTY otherwise, ENOENT when there is none; checked by
// a stat after the act, because a bucket store answers the rmdir of a folder with files with success).
// A bucket store removes a folder that is not there without a word.
RcResult removeFolder(RcClient& client, const RemotePath& path, std::string_view group = {});
// Gives a folder and all it holds a new path, server-side where the remote can (rclone's DirMove,
// which moves no bytes). Nothing may stand at `to` (EEXIST), because rclone's sync/move would merge
// into it and replace files of the same name. Without DirMove the files move one by one; an empty
// source left behind is removed, and one still holding files fails the move (kRemoteFailed).
RcResult moveFolder(RcClient& client, const RemotePath& from, const RemotePath& to,
                    std::string_view group = {});
// Deletes a folder with everything beneath it (operations/purge). Only for the run's own hidden
// folders: nothing is checked.
RcResult removeTree(RcClient& client, const RemotePath& path, std::string_view group = {});
// Copies a remote file that holds `expected` to a new local file (an absolute path where nothing
// stands: EEXIST), for copies from a remote to a local folder; the caller moves it onto its name.
// The copy is checked to hold the size the stat saw.
RcResult download(RcClient& client, const RemotePath& source, const RemoteExpectation& expected,
                  const std::string& localFile, std::string_view group = {});

// What rclone counted for the group, and forgetting it (rclone keeps the last 1000 groups).
RcResult stats(RcClient& client, std::string_view group, RemoteStats& result);
RcResult forgetStats(RcClient& client, std::string_view group);
// The names of the configured remotes (without ":"), sorted, for the window's drop-down.
RcResult listRemotes(RcClient& client, std::vector<std::string>& names);

// RFC 3339 as rclone writes it ("2026-12-09T21:40:03.697914102Z", "...+01:00", 0-9 fraction digits).
bool parseRcloneTime(std::string_view text, int64_t& seconds, int32_t& nanos);

} // namespace remote
} // namespace paritas

#pragma once
// One run per destination. A run that changes a folder tree holds an exclusive lock keyed by the
// file-system identity of the folder it writes (device and inode, so that two spellings of one folder,
// a link to it or a bind mount share one key). Two runs on the same destination, from the window's
// schedule and from cron say, therefore never work at once; runs on different destinations do.
//
// The lock files live outside the user's trees, in a folder of the user's own:
//   $XDG_RUNTIME_DIR/paritas/ (when that folder is the user's), else /run/user/<uid>/paritas/ (cron
//   sets no XDG_RUNTIME_DIR, but the desktop session's folder is there while the user is logged in),
//   else /tmp/paritas-<uid>/ (made 0700; refused when it belongs to someone else).
// A lock is an flock(2) on "lock-<device>-<inode>[-<hash>]" there, released by the kernel when the
// process ends however it ends, so a killed run never leaves a stale lock. The holder writes its
// process id into the file for the message of the run that finds it taken. Lock files are never
// removed (removing one races with a run that just opened it).
//
// A destination that does not exist yet (a backup into a new folder) is keyed by its nearest existing
// ancestor's identity and a hash of the rest of its path.

#include "core/planning/action_list.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace paritas {

// The folder that holds the lock files (see above), without creating it.
std::string runLockFolder();

// The key of a folder: "<device>-<inode>" of the folder, or of its nearest existing ancestor followed
// by "-" and a hash of the missing part. Empty when not even the root can be looked at.
std::string runLockKey(const std::string& folder);

struct RunLockResult {
    bool acquired = false;
    int otherPid = 0;    // the process that holds it, when known
    std::string folder;  // the folder whose lock was taken by another run
    std::string problem; // why no lock could be taken at all (the lock folder is unusable)
};

// Exclusive locks on a set of folders, held until destruction. Within one process a key already held
// (by an enclosing run) is shared rather than taken twice, so nested runs do not lock themselves out.
class RunLock {
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the locks of every folder in `folders` (in key order, so two runs never wait for each other
    // in a circle). When one is taken by another process: with `keepWaiting` empty, gives up at once
    // and releases what it took; otherwise calls it about five times a second and waits while it
    // returns true.
    using KeepWaiting = std::function<bool(const RunLockResult& taken)>;
    RunLockResult acquire(const std::vector<std::string>& folders, const KeepWaiting& keepWaiting = {});
    void release();
    bool held() const { return !keys_.empty(); }

private:
    std::vector<std::string> keys_;
};

// The locations (of `locations`) that the lines of `actions` change: where folders are made and removed,
// files copied to, moved from and to, deleted. A backup changes B alone, a folder synch both sides.
std::vector<std::string> foldersWrittenBy(const ActionList& actions,
                                          const std::vector<std::string>& locations);

// "another run (process 1234) is working on /mnt/backup/" and the like.
std::string runLockRefusal(const RunLockResult& result);

} // namespace paritas

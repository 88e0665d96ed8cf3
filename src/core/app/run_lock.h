#pragma once
// One run per destination. A run that changes a folder tree holds an exclusive lock keyed by the
// identity of the location it writes (for a local folder: its file system and its path from the top
// of that file system as the kernel resolves it, so that two spellings of one folder, a link to it or
// a bind mount share one key, and a folder that does not exist yet has the key it will have once
// made; see folderIdentityKey). Two runs on the same destination, from the window's schedule and from
// cron say, therefore never work at once; runs on different destinations do.
//
// The lock files live outside the user's trees, in a private folder of the user's own:
//   $XDG_RUNTIME_DIR/paritas/ (when that folder is the user's), else /run/user/<uid>/paritas/ (cron
//   sets no XDG_RUNTIME_DIR, but the desktop session's folder is there while the user is logged in),
//   else /tmp/paritas-<uid>/ (made 0700), and when another user made that one first,
//   ~/.cache/paritas-locks/ instead (a folder someone else made is never used).
// A lock is an flock(2) on "lock-<key>" there, released by the kernel when the process ends however
// it ends, so a killed run never leaves a stale lock. The holder writes its process id into the file
// for the message of the run that finds it taken. Lock files are never removed (removing one races
// with a run that just opened it).

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace paritas {

// The folder that holds the lock files (see above), without creating it.
std::string runLockFolder();

// The key of a local folder (folderIdentityKey). Empty when not even the root can be looked at.
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
    struct Target {
        std::string key;    // the location's identity (Location::lockKey)
        std::string folder; // its text, for the messages
    };
    RunLockResult acquire(std::vector<Target> targets, const KeepWaiting& keepWaiting = {});
    // Local folders, keyed by runLockKey.
    RunLockResult acquire(const std::vector<std::string>& folders, const KeepWaiting& keepWaiting = {});
    void release();
    bool held() const { return !keys_.empty(); }

private:
    std::vector<std::string> keys_;
};

// "another run (process 1234) is working on /mnt/backup/" and the like.
std::string runLockRefusal(const RunLockResult& result);

} // namespace paritas

#include "core/app/run_lock.h"

#include "core/platform/file_identity.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace paritas {
namespace {

struct HeldLock {
    int fd = -1;
    int users = 0;
};

// The locks this process holds, by key: a nested run shares its enclosing run's lock.
std::mutex heldMutex;
std::map<std::string, HeldLock>& heldLocks() {
    static std::map<std::string, HeldLock> held;
    return held;
}

bool isOwnFolder(const std::string& path, bool privateOnly) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return !privateOnly || (st.st_mode & 077) == 0;
}

std::string sharedLockFolder() {
    return "/tmp/paritas-" + std::to_string(::geteuid());
}

// Where the locks go when the shared folder belongs to someone else (who made it first, to watch or
// block this user's runs): a folder in the user's own cache, never the other user's folder.
std::string cacheLockFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::string(cache) + "/paritas-locks";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/paritas-locks";
    return {};
}

std::string ownerText(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "someone else";
    return "user " + std::to_string(st.st_uid);
}

// Makes `folder` (0700) when missing; true when it is then this user's private folder.
bool madePrivate(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return isOwnFolder(folder, true);
}

// The lock folder, made when missing; empty with `problem` set when it cannot be used.
std::string usableLockFolder(std::string& problem) {
    const std::string folder = runLockFolder();
    if (folder != sharedLockFolder()) {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            problem = "cannot make the lock folder " + folder + ": " + std::strerror(errno);
            return {};
        }
        // The user's own folder, and private: a folder others may write into could have its lock
        // files replaced under a run.
        if (isOwnFolder(folder, false) && (isOwnFolder(folder, true) || ::chmod(folder.c_str(), 0700) == 0))
            return folder;
        problem = "the lock folder " + folder + " is not a private folder of this user";
        return {};
    }
    // In the shared /tmp another user could have made the folder first.
    if (madePrivate(folder))
        return folder;
    const std::string own = cacheLockFolder();
    if (!own.empty()) {
        const std::size_t cut = own.rfind('/');
        ::mkdir(own.substr(0, cut).c_str(), 0700); // ~/.cache, when missing
        if (madePrivate(own))
            return own;
    }
    problem = "the lock folder " + folder + " belongs to " + ownerText(folder) +
              ", not to this user, and no private folder of this user could take its place";
    return {};
}

int readPid(int fd) {
    char buffer[32] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    return n > 0 ? std::atoi(buffer) : 0;
}

void writePid(int fd) {
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.data(), pid.size(), 0);
}

// Takes one key's lock for this process; see RunLock::acquire.
RunLockResult lockKey(const std::string& lockFolder, const std::string& key, const std::string& folder,
                      const RunLock::KeepWaiting& keepWaiting) {
    RunLockResult result;
    result.folder = folder;
    {
        std::lock_guard<std::mutex> guard(heldMutex);
        auto it = heldLocks().find(key);
        if (it != heldLocks().end()) {
            ++it->second.users;
            result.acquired = true;
            return result;
        }
    }
    const std::string path = lockFolder + "/lock-" + key;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        result.problem = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return result;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            result.problem = "cannot lock " + path + ": " + std::strerror(errno);
            ::close(fd);
            return result;
        }
        result.otherPid = readPid(fd);
        if (!keepWaiting || !keepWaiting(result)) {
            ::close(fd);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    writePid(fd);
    std::lock_guard<std::mutex> guard(heldMutex);
    heldLocks()[key] = HeldLock{fd, 1};
    result.acquired = true;
    result.otherPid = 0;
    return result;
}

void unlockKey(const std::string& key) {
    std::lock_guard<std::mutex> guard(heldMutex);
    auto it = heldLocks().find(key);
    if (it == heldLocks().end() || --it->second.users > 0)
        return;
    ::close(it->second.fd); // closing the last descriptor releases the flock
    heldLocks().erase(it);
}

} // namespace

std::string runLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isOwnFolder(runtime, false))
        return std::string(runtime) + "/paritas";
    const std::string session = "/run/user/" + std::to_string(::geteuid());
    if (isOwnFolder(session, false))
        return session + "/paritas";
    return sharedLockFolder();
}

std::string runLockKey(const std::string& folder) {
    return folderIdentityKey(folder);
}

RunLock::~RunLock() {
    release();
}

RunLockResult RunLock::acquire(const std::vector<std::string>& folders, const KeepWaiting& keepWaiting) {
    std::vector<Target> targets;
    for (const std::string& folder : folders)
        targets.push_back(Target{runLockKey(folder), folder});
    return acquire(std::move(targets), keepWaiting);
}

RunLockResult RunLock::acquire(std::vector<Target> targets, const KeepWaiting& keepWaiting) {
    release();
    RunLockResult result;
    const std::string lockFolder = usableLockFolder(result.problem);
    if (lockFolder.empty()) {
        result.folder = targets.empty() ? std::string() : targets.front().folder;
        return result;
    }
    for (const Target& target : targets) {
        if (target.key.empty()) {
            result.problem = "cannot look at it to lock it";
            result.folder = target.folder;
            return result;
        }
    }
    // In key order, so that two runs never wait for each other in a circle.
    std::sort(targets.begin(), targets.end(), [](const Target& x, const Target& y) { return x.key < y.key; });
    targets.erase(std::unique(targets.begin(), targets.end(),
                              [](const Target& x, const Target& y) { return x.key == y.key; }),
                  targets.end());
    for (const Target& target : targets) {
        result = lockKey(lockFolder, target.key, target.folder, keepWaiting);
        if (!result.acquired) {
            release();
            return result;
        }
        keys_.push_back(target.key);
    }
    result.acquired = true;
    return result;
}

void RunLock::release() {
    for (const std::string& key : keys_)
        unlockKey(key);
    keys_.clear();
}

std::string runLockRefusal(const RunLockResult& result) {
    const std::string& folder = result.folder;
    if (!result.problem.empty())
        return "no lock could be taken on " + folder + " (" + result.problem + ")";
    if (result.otherPid > 0)
        return "another run (process " + std::to_string(result.otherPid) + ") is working on " + folder;
    return "another run is working on " + folder;
}

} // namespace paritas

#include "core/app/run_lock.h"

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

// The lock folder, made when missing; empty with `problem` set when it cannot be used.
std::string usableLockFolder(std::string& problem) {
    const std::string folder = runLockFolder();
    // In the shared /tmp another user could have made the folder first to watch or block the locks.
    const bool shared = folder == sharedLockFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = "cannot make the lock folder " + folder + ": " + std::strerror(errno);
        return {};
    }
    if (!isOwnFolder(folder, shared)) {
        problem = "the lock folder " + folder + " is not a private folder of this user";
        return {};
    }
    return folder;
}

uint64_t fnv1a(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
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
    std::string existing = folder;
    while (existing.size() > 1 && existing.back() == '/')
        existing.pop_back();
    std::string missing;
    struct stat st {};
    while (::stat(existing.c_str(), &st) != 0) {
        const std::size_t cut = existing.find_last_of('/');
        if (cut == std::string::npos || existing == "/")
            return {};
        missing = existing.substr(cut) + missing;
        existing = cut == 0 ? "/" : existing.substr(0, cut);
    }
    std::string key = std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
    if (!missing.empty()) {
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(missing)));
        key += std::string("-") + hash;
    }
    return key;
}

RunLock::~RunLock() {
    release();
}

RunLockResult RunLock::acquire(const std::vector<std::string>& folders, const KeepWaiting& keepWaiting) {
    release();
    RunLockResult result;
    const std::string lockFolder = usableLockFolder(result.problem);
    if (lockFolder.empty()) {
        result.folder = folders.empty() ? std::string() : folders.front();
        return result;
    }
    std::vector<std::pair<std::string, std::string>> keyed; // key, folder
    for (const std::string& folder : folders) {
        const std::string key = runLockKey(folder);
        if (key.empty()) {
            result.problem = "cannot look at it to lock it";
            result.folder = folder;
            return result;
        }
        keyed.emplace_back(key, folder);
    }
    std::sort(keyed.begin(), keyed.end());
    keyed.erase(std::unique(keyed.begin(), keyed.end(),
                            [](const auto& x, const auto& y) { return x.first == y.first; }),
                keyed.end());
    for (const auto& [key, folder] : keyed) {
        result = lockKey(lockFolder, key, folder, keepWaiting);
        if (!result.acquired) {
            release();
            return result;
        }
        keys_.push_back(key);
    }
    result.acquired = true;
    return result;
}

void RunLock::release() {
    for (const std::string& key : keys_)
        unlockKey(key);
    keys_.clear();
}

std::vector<std::string> foldersWrittenBy(const ActionList& actions,
                                          const std::vector<std::string>& locations) {
    std::vector<bool> written(locations.size(), false);
    // The location closest above `path` (the longest that holds it) is written.
    auto mark = [&](const std::string& path) {
        std::size_t best = locations.size();
        for (std::size_t i = 0; i < locations.size(); ++i)
            if (path.compare(0, locations[i].size(), locations[i]) == 0 &&
                (best == locations.size() || locations[i].size() > locations[best].size()))
                best = i;
        if (best < locations.size())
            written[best] = true;
    };
    for (const std::string& line : actions) {
        switch (actionKind(line)) {
        case ActionKind::CreateFolder: // folder lines name a folder without its separator
            mark(pathFrom(line, kCreateDirPrefix.size() + 1).path + "/");
            break;
        case ActionKind::RemoveFolder:
            mark(pathFrom(line, kRemoveDirPrefix.size() + 1).path + "/");
            break;
        case ActionKind::DeleteFile:
            mark(pathFrom(line, kDeleteFilePrefix.size() + 1).path);
            break;
        case ActionKind::Copy:
            mark(pairFrom(line, kCopyPrefix.size() + 1).destination);
            break;
        case ActionKind::MoveRename: {
            const CutPair pair = pairFrom(line, kMoveRenamePrefix.size() + 1);
            mark(pair.source);
            mark(pair.destination);
            break;
        }
        case ActionKind::None:
            break;
        }
    }
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < locations.size(); ++i)
        if (written[i])
            folders.push_back(locations[i]);
    return folders;
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

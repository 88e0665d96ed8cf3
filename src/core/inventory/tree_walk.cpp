#include "core/inventory/tree_walk.h"

#include "core/inventory/paths.h"
#include "core/inventory/scan_filter.h"
#include "core/platform/location.h"
#include "core/platform/path_text.h"
#include "core/platform/trash.h"
#include "core/platform/versions_folder.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace paritas {
namespace {

// How far the readers may run ahead of the commits, in folders: enough to keep them busy, little
// enough that a huge tree's folders are not all held at once.
constexpr std::size_t kReadAhead = 1024;

FolderRead readFolder(Location& location, const std::string& path, bool isRoot, const WalkOptions& options) {
    FolderReadOptions read;
    read.fileFacts = options.fileFacts;
    read.isRoot = isRoot;
    read.attributes = options.attributes;
    return location.readFolder(path, read);
}

// Reads the folders of the list ahead of the commits. The caller offers folders in list order and
// takes their reads in that order; a folder no reader has claimed yet is read by the caller itself, so
// with no reader threads at all this is a plain walk.
class Readers {
public:
    Readers(Location& location, int threads, const WalkOptions& options)
        : location_(location), options_(options) {
        for (int t = 0; t < threads; ++t)
            threads_.emplace_back(
                [this, own = std::shared_ptr<Location>(location.forAnotherThread())] { work(*own); });
    }
    ~Readers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }
    Readers(const Readers&) = delete;
    Readers& operator=(const Readers&) = delete;

    // Folders found in one folder are offered together: one lock, one wake-up.
    void offer(std::vector<std::string>& paths) {
        if (paths.empty())
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (std::string& path : paths)
                paths_.push_back(std::move(path));
        }
        paths.clear();
        if (idle_ > 0)
            wake_.notify_all();
    }

    FolderRead take(std::size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        FolderRead read;
        if (claimed_ == index) {
            ++claimed_;
            const std::string path = paths_[index];
            lock.unlock();
            read = readFolder(location_, path, index == 0, options_);
            lock.lock();
        } else {
            waitingFor_ = index;
            done_.wait(lock, [&] { return ready_.count(index) > 0; });
            waitingFor_ = kNobody;
            read = std::move(ready_[index]);
            ready_.erase(index);
        }
        // Readers held back by the read-ahead limit may go on now.
        const bool limited = claimed_ >= taken_ + kReadAhead;
        taken_ = index + 1;
        const bool wake = limited && idle_ > 0;
        lock.unlock();
        if (wake)
            wake_.notify_all();
        return read;
    }

private:
    void work(Location& location) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock,
                       [&] { return stop_ || (claimed_ < paths_.size() && claimed_ < taken_ + kReadAhead); });
            --idle_;
            if (stop_)
                return;
            const std::size_t index = claimed_++;
            const std::string path = paths_[index];
            lock.unlock();
            FolderRead read = readFolder(location, path, index == 0, options_);
            lock.lock();
            ready_.emplace(index, std::move(read));
            if (waitingFor_ == index)
                done_.notify_one();
        }
    }

    Location& location_; // the caller's own handle
    const WalkOptions options_;
    std::mutex mutex_;
    std::condition_variable wake_; // readers: a folder to read, or stop
    std::condition_variable done_; // the caller: a read is ready
    std::vector<std::string> paths_;
    std::size_t claimed_ = 0; // folders before it are being read or done
    std::size_t taken_ = 0;   // folders before it are committed
    std::unordered_map<std::size_t, FolderRead> ready_;
    static constexpr std::size_t kNobody = ~std::size_t(0);
    std::size_t waitingFor_ = kNobody; // the read the caller waits for
    int idle_ = 0;                     // readers waiting for a folder
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// The folders at the root that belong to no tree: the versions folder, and at the top of a file
// system its trash folders and the folder its checker fills (B is often a backup disk's top; were
// they listed, the next backup would delete their files, and a synch copy them to A).
bool keptOutOfScans(std::string_view name, bool rootIsFileSystemTop) {
    return name == kVersionsFolderName ||
           (rootIsFileSystemTop && (isTrashFolderName(name) || name == "lost+found"));
}

} // namespace

// Reading a folder waits on the disk or the network far longer than it computes: the readers are
// sized for the waiting (requests in flight), not for the cores. Measured with bench/scan_bench.sh on
// 2 cores, a cold cache: 2 readers 0.76x find, 8 readers 0.47x; warm, alike.
int defaultWalkThreads() {
    constexpr unsigned kReadersInFlight = 8;
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::max(kReadersInFlight, std::min(cores, 16u)));
}

FolderList walkTree(Location& location, const WalkOptions& options, ActivityHost& host,
                    const FolderCommit& commit, std::size_t* skippedNames, ScanLeftOut* leftOut) {
    FolderList folders;
    folders.emplace_back(location.text());
    const int wanted = options.threads > 0           ? options.threads
                       : location.readersWanted() > 0 ? location.readersWanted()
                                                      : defaultWalkThreads();
    // One thread reads on the caller's own; more read beside it while the caller commits (and reads
    // only a folder none of them has claimed). One folder alone needs no reader.
    Readers readers(location, options.subfolders && wanted > 1 ? wanted : 0, options);
    std::vector<std::string> found{folders.front()};
    readers.offer(found);
    std::string parent;
    const bool rootIsTop = options.subfolders && location.isFileSystemTop();
    // Left-out folders are decided as their parent is committed: they never reach the folder list, so
    // no reader ever opens them.
    std::optional<ScanFilter> filter;
    if (options.filters != nullptr && !options.filters->empty())
        filter.emplace(*options.filters, withTrailingSeparator(folders.front()).size(), leftOut);
    for (std::size_t k = 0; k < folders.size(); ++k) {
        const FolderRead read = readers.take(k);
        if (options.subfolders && read.openError != 0)
            host.log(unreadFolderLine(folders[k], read.openError));
        if (options.subfolders && read.openError == 0 && !read.vanished) {
            parent = k == 0 ? withTrailingSeparator(folders[0]) : folders[k];
            if (filter)
                filter->enter(parent);
            for (const FolderRead::Entry& entry : read.entries) {
                if (entry.type != EntryType::Directory ||
                    (k == 0 && keptOutOfScans(read.name(entry), rootIsTop)))
                    continue;
                if (filter && filter->leavesOutFolder(read.name(entry)))
                    continue;
                std::string folder;
                folder.reserve(parent.size() + entry.nameLength + 1);
                folder.append(parent).append(read.name(entry)).push_back(kSeparator);
                if (holdsUncarriableCharacter(read.name(entry))) {
                    host.log("Skipped name that cannot be carried: " + printablePath(folder));
                    if (skippedNames)
                        ++*skippedNames;
                    continue;
                }
                found.push_back(folder);
                folders.push_back(std::move(folder));
                host.keepAlive();
            }
            readers.offer(found);
        }
        commit(k, folders[k], read);
    }
    return folders;
}

} // namespace paritas

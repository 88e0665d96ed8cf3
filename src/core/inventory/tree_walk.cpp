#include "core/inventory/tree_walk.h"

#include "core/inventory/paths.h"
#include "core/inventory/scan_filter.h"
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

FolderRead readFolder(const std::string& path, bool isRoot, const WalkOptions& options,
                      FolderListing& listing) {
    FolderRead read;
    ListingOptions listingOptions;
    listingOptions.fileFacts = options.fileFacts;
    listingOptions.followLinkAtPath = isRoot; // the root may be a link the user chose; nothing below it
    listingOptions.folderId = true;
    if (!listFolderSorted(path, listingOptions, listing)) {
        // A folder removed (or replaced by a file) since its parent was read is taken as read a moment
        // later: it holds nothing, and nothing is unknown. Only the root must be there.
        const int error = listing.errorCode();
        read.vanished = !isRoot && (error == ENOENT || error == ENOTDIR);
        read.openError = read.vanished ? 0 : error;
        return read;
    }
    read.id = listing.folderId();
    read.searchDenied = listing.searchDenied();
    std::size_t bytes = 0;
    for (const FolderEntry& entry : listing)
        bytes += entry.name.size();
    read.names.reserve(bytes);
    read.entries.reserve(listing.size());
    for (const FolderEntry& entry : listing) {
        FolderRead::Entry e;
        e.nameOffset = uint32_t(read.names.size());
        e.nameLength = uint32_t(entry.name.size());
        e.type = entry.type;
        e.factsKnown = entry.factsKnown;
        e.factsError = entry.factsError;
        e.size = entry.size;
        e.modifiedTime = entry.modifiedTime;
        e.modifiedNanos = entry.modifiedNanos;
        e.inode = entry.inode;
        read.names.append(entry.name);
        read.entries.push_back(e);
    }
    return read;
}

// Reads the folders of the list ahead of the commits. The caller offers folders in list order and
// takes their reads in that order; a folder no reader has claimed yet is read by the caller itself, so
// with no reader threads at all this is a plain walk.
class Readers {
public:
    Readers(int threads, const WalkOptions& options) : options_(options) {
        for (int t = 0; t < threads; ++t)
            threads_.emplace_back([this] { work(); });
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
            read = readFolder(path, index == 0, options_, listing_);
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
    void work() {
        FolderListing listing;
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
            FolderRead read = readFolder(path, index == 0, options_, listing);
            lock.lock();
            ready_.emplace(index, std::move(read));
            if (waitingFor_ == index)
                done_.notify_one();
        }
    }

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
    FolderListing listing_; // the caller's own
    std::vector<std::thread> threads_;
};

// The folders at the root that hold what runs removed, which belong to no tree: the versions folder,
// and at the top of a file system its trash folders (B is often a backup disk's top; were its trash
// listed, the next backup would delete the trash's files, and a synch copy them to A).
bool keptOutOfScans(std::string_view name, bool rootIsFileSystemTop) {
    return name == kVersionsFolderName || (rootIsFileSystemTop && isTrashFolderName(name));
}

} // namespace

int defaultWalkThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores == 0 ? 1u : cores, 1u, 8u));
}

FolderList walkTree(std::string_view root, const WalkOptions& options, ActivityHost& host,
                    const FolderCommit& commit, std::size_t* skippedNames, ScanLeftOut* leftOut) {
    FolderList folders;
    folders.emplace_back(root);
    const int wanted = options.threads > 0 ? options.threads : defaultWalkThreads();
    // One thread reads on the caller's own; more read beside it while the caller commits (and reads
    // only a folder none of them has claimed). One folder alone needs no reader.
    Readers readers(options.subfolders && wanted > 1 ? wanted : 0, options);
    std::vector<std::string> found{folders.front()};
    readers.offer(found);
    std::string parent;
    const bool rootIsTop = options.subfolders && isFileSystemTop(folders.front());
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

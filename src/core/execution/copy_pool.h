#pragma once
// Copies of one run on a few worker threads. The executor hands over copy lines that do not depend on
// each other (it waits for every copy under way before any other kind of line, and before a copy that
// touches a path one under way writes, or writes a path one under way reads) and reports their outcomes in
// list order, on its own thread: the pool only copies. Every copy goes through the same checked operation as
// a copy on the caller's thread (Location::placeCopy), each worker through handles of its own on the run's
// locations.
//
// Stopping: once stop() is called, copies under way are cancelled between chunks and copies not begun
// are not begun at all (their outcome says so), so a stop takes effect within one file.
//
// Small files take a few tens of microseconds each, about what waking a thread costs on a virtual
// machine. So the caller hands copies over a few at a time, a worker wakes the caller only for the copy
// it waits for, and a caller that has nothing to wait for never takes the lock to learn that.

#include "core/platform/file_copy.h"
#include "core/platform/location.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace paritas {

class CopyPool {
public:
    struct Job {
        std::string source;
        std::string destination;
        bool sourceKnown = false;
        FileStamp plannedSource;
        DestinationPlan plan;
        MetadataKeeper* keeper = nullptr; // the destination's (CopyOptions::keeper)
    };
    struct Outcome {
        bool begun = false; // false: stopped before it began; nothing was done
        CopyResult result;
    };

    // Every copy of the pool goes with `options` (its Disposal serves all workers at once).
    CopyPool(int workers, const Locations& locations, CopyOptions options = {});
    ~CopyPool();
    CopyPool(const CopyPool&) = delete;
    CopyPool& operator=(const CopyPool&) = delete;

    // Queues a copy; tickets count up from 0 in the order of submission. Copies reach the workers in
    // small batches, and at the latest when the caller waits for one of them.
    uint64_t submit(Job job);
    // The outcome of `ticket` once it is there, waiting at most `wait` for it.
    std::optional<Outcome> outcome(uint64_t ticket, std::chrono::milliseconds wait);
    // Whether `ticket` has ended, waiting at most `wait` for it; its outcome stays to be taken.
    bool ended(uint64_t ticket, std::chrono::milliseconds wait);
    void stop();
    // Folders may have been removed (and their names freed): the workers forget the folders they keep
    // open before their next copy.
    void forgetFolders();

private:
    static constexpr uint64_t kNobody = UINT64_MAX;

    void work(Locations& locations);
    // Gives the copies submitted since the last hand-over to the workers (the caller's thread).
    void handOver();
    // Waits, the lock held, until `ticket` has ended or `wait` has passed.
    bool waitFor(std::unique_lock<std::mutex>& lock, uint64_t ticket, std::chrono::milliseconds wait);

    // The caller's thread alone.
    std::vector<std::pair<uint64_t, Job>> batch_;
    uint64_t nextTicket_ = 0;
    uint64_t taken_ = 0; // outcomes taken by the caller

    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable outcomeReady_;
    std::deque<std::pair<uint64_t, Job>> queue_;
    std::unordered_map<uint64_t, Outcome> outcomes_;
    uint64_t waitingFor_ = kNobody; // the ticket the caller sleeps on
    int idle_ = 0;                  // workers sleeping for want of a copy
    bool closing_ = false;
    std::atomic<uint64_t> finished_{0}; // outcomes stored by the workers
    std::atomic<bool> stopped_{false};
    std::atomic<uint64_t> forgetting_{0};
    CopyOptions options_;
    std::vector<std::thread> workers_;
};

} // namespace paritas

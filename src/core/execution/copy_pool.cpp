#include "core/execution/copy_pool.h"

namespace paritas {
namespace {

// A worker's copy reports to nobody; it gives up as soon as the pool is stopped.
class StoppableObserver final : public CopyObserver {
public:
    explicit StoppableObserver(const std::atomic<bool>& stopped) : stopped_(stopped) {}
    bool cancelRequested() override { return stopped_.load(std::memory_order_relaxed); }

private:
    const std::atomic<bool>& stopped_;
};

} // namespace

CopyPool::CopyPool(int workers, const LocationResolver& locations, CopyOptions options) : options_(options) {
    for (int w = 0; w < workers; ++w)
        workers_.emplace_back([this, own = locations.sharingLocations()]() mutable { work(std::move(own)); });
}

CopyPool::~CopyPool() {
    stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    jobReady_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

uint64_t CopyPool::submit(Job job) {
    uint64_t ticket;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ticket = nextTicket_++;
        queue_.emplace_back(ticket, std::move(job));
    }
    jobReady_.notify_one();
    return ticket;
}

std::optional<CopyPool::Outcome> CopyPool::outcome(uint64_t ticket, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!outcomeReady_.wait_for(lock, wait, [&] { return outcomes_.count(ticket) > 0; }))
        return std::nullopt;
    Outcome outcome = outcomes_[ticket];
    outcomes_.erase(ticket);
    return outcome;
}

void CopyPool::stop() {
    stopped_.store(true, std::memory_order_relaxed);
}

void CopyPool::forgetFolders() {
    forgetting_.fetch_add(1, std::memory_order_relaxed);
}

void CopyPool::work(LocationResolver locations) {
    StoppableObserver observer(stopped_);
    uint64_t forgotten = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        jobReady_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        auto [ticket, job] = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        if (const uint64_t now = forgetting_.load(std::memory_order_relaxed); now != forgotten) {
            locations.forgetFolders();
            forgotten = now;
        }
        Outcome outcome;
        if (!stopped_.load(std::memory_order_relaxed)) {
            outcome.begun = true;
            outcome.result =
                copyFileBeneath(locations, job.source, job.sourceKnown ? &job.plannedSource : nullptr,
                                job.destination, job.plan, observer, options_);
        }
        lock.lock();
        outcomes_.emplace(ticket, outcome);
        outcomeReady_.notify_all();
    }
}

} // namespace paritas

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

CopyPool::CopyPool(int workers, const Locations& locations, CopyOptions options) : options_(options) {
    for (int w = 0; w < workers; ++w)
        workers_.emplace_back(
            [this, own = std::make_shared<Locations>(locations.forAnotherThread())] { work(*own); });
}

CopyPool::~CopyPool() {
    stop();
    handOver(); // copies not begun end as not begun
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    jobReady_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

uint64_t CopyPool::submit(Job job) {
    constexpr std::size_t kBatch = 16;
    const uint64_t ticket = nextTicket_++;
    batch_.emplace_back(ticket, std::move(job));
    if (batch_.size() >= kBatch)
        handOver();
    return ticket;
}

void CopyPool::handOver() {
    if (batch_.empty())
        return;
    bool wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& entry : batch_)
            queue_.push_back(std::move(entry));
        wake = idle_ > 0;
    }
    batch_.clear();
    if (wake)
        jobReady_.notify_all();
}

bool CopyPool::waitFor(std::unique_lock<std::mutex>& lock, uint64_t ticket, std::chrono::milliseconds wait) {
    if (outcomes_.count(ticket))
        return true;
    if (wait.count() <= 0)
        return false;
    waitingFor_ = ticket;
    const bool ended = outcomeReady_.wait_for(lock, wait, [&] { return outcomes_.count(ticket) > 0; });
    waitingFor_ = kNobody;
    return ended;
}

bool CopyPool::ended(uint64_t ticket, std::chrono::milliseconds wait) {
    if (!batch_.empty() && ticket >= batch_.front().first) {
        if (wait.count() <= 0)
            return false; // not even handed over yet
        handOver();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    return waitFor(lock, ticket, wait);
}

std::optional<CopyPool::Outcome> CopyPool::outcome(uint64_t ticket, std::chrono::milliseconds wait) {
    if (wait.count() <= 0 && finished_.load(std::memory_order_acquire) == taken_)
        return std::nullopt; // nothing has ended that was not taken yet
    if (!ended(ticket, wait))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = outcomes_.find(ticket);
    Outcome outcome = std::move(found->second);
    outcomes_.erase(found);
    ++taken_;
    return outcome;
}

void CopyPool::stop() {
    stopped_.store(true, std::memory_order_relaxed);
}

void CopyPool::forgetFolders() {
    forgetting_.fetch_add(1, std::memory_order_relaxed);
}

void CopyPool::work(Locations& locations) {
    StoppableObserver observer(stopped_);
    uint64_t forgotten = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        while (!closing_ && queue_.empty()) {
            ++idle_;
            jobReady_.wait(lock);
            --idle_;
        }
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
            Location* from = locations.holding(job.source);
            Location* to = locations.holding(job.destination);
            if (!from || !to)
                outcome.result.error = kOutsideLocations;
            else {
                CopyOptions options = options_;
                options.keeper = job.keeper;
                outcome.result = to->placeCopy(*from, job.source, job.sourceKnown ? &job.plannedSource : nullptr,
                                               job.destination, job.plan, observer, options);
            }
        }
        lock.lock();
        outcomes_.emplace(ticket, std::move(outcome));
        finished_.fetch_add(1, std::memory_order_release);
        if (waitingFor_ == ticket)
            outcomeReady_.notify_one();
    }
}

} // namespace paritas

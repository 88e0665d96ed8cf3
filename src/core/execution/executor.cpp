#include "core/execution/executor.h"

#include "core/execution/copy_pool.h"
#include "core/execution/metadata_keeping.h"
#include "core/execution/removed_files.h"

#include "core/inventory/paths.h"
#include "core/platform/datetime.h"
#include "core/platform/file_compare.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"
#include "core/platform/path_text.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <deque>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace paritas {
namespace {

constexpr std::string_view kPromptTail = " (No To all stops all Sync Job Actions)";
constexpr std::string_view kRemovePromptTail =
    " if its empty? (*Even if you click OK , Dir will be deleted ONLY if there are no files inside)";

constexpr std::string_view kNotAbsoluteReason = "Path is not absolute, nothing done";
constexpr std::string_view kNoOriginalReason = "Original not in this run, duplicate not deleted";

bool promptWanted(ActionKind kind, const Settings& settings) {
    switch (kind) {
    case ActionKind::CreateFolder:
        return settings.CheckCreate;
    case ActionKind::MoveRename:
    case ActionKind::Copy:
        return settings.CheckCopy;
    case ActionKind::DeleteFile:
    case ActionKind::RemoveFolder:
        return settings.CheckDelete;
    case ActionKind::Attributes:
    case ActionKind::HardLink:
        return settings.CheckCopy;
    case ActionKind::Original:
        break;
    }
    return false;
}

std::string promptText(const PlanItem& item) {
    switch (item.kind) {
    case ActionKind::CreateFolder:
        return "CreateDir " + item.path + std::string(kPromptTail);
    case ActionKind::MoveRename:
        return "Move-Rename " + item.path + "*" + item.destination + std::string(kPromptTail);
    case ActionKind::Copy:
        return "Copy-File " + item.path + "*" + item.destination + std::string(kPromptTail);
    case ActionKind::DeleteFile:
        return "Delete File " + item.path + std::string(kPromptTail);
    case ActionKind::RemoveFolder:
        return "Delete Dir " + item.path + std::string(kRemovePromptTail);
    case ActionKind::Attributes:
        return "Attributes " + item.path + std::string(kPromptTail);
    case ActionKind::HardLink:
        return "HardLink " + item.path + "*" + item.destination + std::string(kPromptTail);
    case ActionKind::Original:
        break;
    }
    return {};
}

// The failure line of an item.
std::string failureLine(const PlanItem& item) {
    switch (item.kind) {
    case ActionKind::CreateFolder:
        return "Failed CreateDir " + item.path;
    case ActionKind::MoveRename:
        return "Failed Move-Rename to " + item.destination;
    case ActionKind::Copy:
        return "Failed Copy-File to " + item.destination;
    case ActionKind::DeleteFile:
        return "Failed DeleteFile " + item.path;
    case ActionKind::RemoveFolder:
        return "Failed Delete Dir " + item.path;
    case ActionKind::Attributes:
        return "Failed Attributes " + item.path;
    case ActionKind::HardLink:
        return "Failed HardLink to " + item.destination;
    case ActionKind::Original:
        break;
    }
    return {};
}

std::string_view proofFailureReason(DuplicateProof proof) {
    switch (proof) {
    case DuplicateProof::KeptMissing:
        return "Original not found, duplicate not deleted: ";
    case DuplicateProof::SameFile:
        return "Original is the same file as the duplicate, not deleted: ";
    case DuplicateProof::Different:
        return "Original differs from the duplicate, not deleted: ";
    case DuplicateProof::Unreadable:
        return "Original and duplicate could not be compared, not deleted: ";
    case DuplicateProof::Proven:
    case DuplicateProof::DuplicateMissing:
        break;
    }
    return {};
}

// Where each planned item stands in this run, by its number in the plan.
class LineOutcomes {
public:
    void prepare(const ActionList& actions) {
        uint32_t highest = 0;
        for (const PlanItem& item : actions)
            if (item.facts.line != ActionFacts::kNone)
                highest = std::max(highest, item.facts.line + 1);
        state_.assign(highest, State::NotRun);
        position_.assign(highest, kNoPosition);
        for (std::size_t k = 0; k < actions.size(); ++k)
            if (actions[k].facts.line != ActionFacts::kNone)
                position_[actions[k].facts.line] = k;
    }
    void done(const PlanItem& item, bool succeeded) {
        if (item.facts.line < state_.size())
            state_[item.facts.line] = succeeded ? State::Succeeded : State::Failed;
    }
    // Empty when the item may run; else why not.
    std::string blocked(const PlanItem& item, const ActionList& actions) const {
        const uint32_t after = item.facts.after;
        if (after == ActionFacts::kNone)
            return {};
        if (after < state_.size() && state_[after] == State::Succeeded)
            return {};
        const std::size_t at = positionOf(after);
        if (at == kNoPosition)
            return failureText(kDependencyFailed) + " (it was left out of this run)";
        return failureText(kDependencyFailed) + ": " + lineText(actions[at]);
    }
    // The position in the run of the item numbered `number`, or kNoPosition.
    std::size_t positionOf(uint32_t number) const {
        return number < position_.size() ? position_[number] : kNoPosition;
    }
    static constexpr std::size_t kNoPosition = ~std::size_t(0);

private:
    enum class State : uint8_t { NotRun, Succeeded, Failed };
    std::vector<State> state_;
    std::vector<std::size_t> position_;
};

// A failure's reason line text: the code's sentence, and what the operation added about it.
std::string reasonOf(int error, const std::string& detail) {
    return detail.empty() ? failureText(error) : failureText(error) + ": " + detail;
}

// The planned size of a copy item; 0 for other items and copies whose size was not planned.
uint64_t plannedBytes(const PlanItem& item) {
    return item.kind == ActionKind::Copy && item.facts.sourceKnown && item.facts.source.size > 0
               ? static_cast<uint64_t>(item.facts.source.size)
               : 0;
}

// The bytes of a run's copies, as the host is told them (ExecutorHost::setBytesProgress).
struct RunBytes {
    ExecutorHost& host;
    uint64_t planned = 0;
    uint64_t done = 0; // of the copy lines handled
};

// Tells the host of the run's bytes while one copy writes, then passes the report on.
class RunBytesObserver final : public CopyObserver {
public:
    RunBytesObserver(CopyObserver& inner, const RunBytes& bytes, uint64_t cap)
        : inner_(inner), bytes_(bytes), cap_(cap) {}
    void progress(uint64_t done, uint64_t total) override {
        if (bytes_.planned > 0)
            bytes_.host.setBytesProgress(bytes_.done + std::min(done, cap_), bytes_.planned);
        inner_.progress(done, total);
    }
    bool cancelRequested() override { return inner_.cancelRequested(); }
    void beforeReadBack(int newContent) override { inner_.beforeReadBack(newContent); }

private:
    CopyObserver& inner_;
    const RunBytes& bytes_;
    uint64_t cap_;
};

class ItemCopy final : public CopyTask {
public:
    ItemCopy(Location& from, Location& to, const PlanItem& item, const CopyOptions& options,
             const RunBytes& bytes)
        : from_(from), to_(to), item_(item), options_(options), bytes_(bytes) {}
    CopyResult run(CopyObserver& observer) override {
        RunBytesObserver reporting(observer, bytes_, plannedBytes(item_));
        const FileStamp* source = item_.facts.sourceKnown ? &item_.facts.source : nullptr;
        return to_.placeCopy(from_, item_.path, source, item_.destination, item_.facts.destination, reporting,
                             options_);
    }

private:
    Location& from_;
    Location& to_;
    const PlanItem& item_;
    const CopyOptions options_;
    const RunBytes& bytes_;
};

// A move across a mount: a copy, then the source removed only while unchanged (Location::moveByCopy).
class ItemMoveByCopy final : public CopyTask {
public:
    ItemMoveByCopy(Location& location, const PlanItem& item, const CopyOptions& options)
        : location_(location), item_(item), options_(options) {}
    CopyResult run(CopyObserver& observer) override {
        const FileStamp* source = item_.facts.sourceKnown ? &item_.facts.source : nullptr;
        return location_.moveByCopy(item_.path, source, item_.destination, observer, options_);
    }

private:
    Location& location_;
    const PlanItem& item_;
    const CopyOptions& options_;
};

class Run {
public:
    // `keeper`: where removed and replaced files go; nullptr deletes them.
    Run(StopFlags& flags, ExecutorHost& host, const ActionList& actions, Locations& locations, int copyWorkers,
        RemovedFileKeeper* keeper, bool verifyCopies, MetadataKeeping& metadata)
        : flags_(flags), host_(host), actions_(actions), locations_(locations), keeper_(keeper),
          copyOptions_{keeper, verifyCopies, nullptr}, metadata_(metadata), bytes_{host, 0, 0} {
        outcomes_.prepare(actions_);
        for (const PlanItem& item : actions_)
            bytes_.planned += plannedBytes(item);
        host_.setBytesProgress(0, bytes_.planned);
        if (copyWorkers > 1)
            pool_ = std::make_unique<CopyPool>(copyWorkers, locations_, copyOptions_);
    }

    bool stopped() const { return stopped_; }

    // Progress, status and keep-alive after a line, and the stop request looked at.
    void afterLine(std::size_t index) {
        host_.setProgressPosition(static_cast<int64_t>(index));
        host_.setStatus(executionStatusText(counts_), executionStatusIsRed(counts_));
        host_.keepAlive();
        if (flags_.action && !stopped_) {
            stopped_ = true;
            if (pool_)
                pool_->stop();
        }
    }

    // Hands a copy to the pool when it may run beside the copies under way: no prompt is wanted, both
    // paths lie in the run's locations, the item it depends on is done, and no copy under way writes
    // where it reads or writes. False for every other item, which the caller then handles in turn.
    bool dispatch(std::size_t index) {
        if (!pool_ || stopped_ || flags_.action) // a stop asked for (a signal, too) hands over no more copies
            return false;
        const PlanItem& item = actions_[index];
        if (item.kind != ActionKind::Copy || promptWanted(ActionKind::Copy, host_.settings()))
            return false;
        if (!locations_.holding(item.path) || !locations_.holding(item.destination))
            return false;
        const ActionFacts& facts = item.facts;
        if (const uint64_t largest = host_.largestPooledCopy();
            largest != UINT64_MAX &&
            (!facts.sourceKnown || static_cast<uint64_t>(facts.source.size) > largest))
            return false;
        if (facts.after != ActionFacts::kNone &&
            (pendingLines_.count(facts.after) || !outcomes_.blocked(item, actions_).empty()))
            return false;
        // No copy under way writes what this one reads or writes, nor reads what this one writes.
        if (pendingPaths_.count(item.path) || pendingPaths_.count(item.destination) ||
            pendingSources_.count(item.destination))
            return false;
        CopyPool::Job job{item.path, item.destination, facts.sourceKnown, facts.source, facts.destination,
                          metadata_.keeperFor(item.destination)};
        const uint64_t ticket = pool_->submit(std::move(job));
        pendingPaths_.insert(item.destination);
        ++pendingSources_[item.path];
        pendingLines_.insert(facts.line);
        pending_.push_back(Pending{index, ticket});
        return true;
    }

    // Reports the copies of the pool in list order: those that are done (or, with `all`, every one,
    // waiting for them), each as a copy on this thread would have been reported.
    void reportPending(bool all) { reportPending(all ? 0 : kNoWaiting); }

    // After a copy was handed over: when as many copies are under way as the pool may hold, waits
    // until half of them are reported (not one wake-up per copy), which also bounds the memory held
    // for copies under way however long the list.
    void afterDispatch() {
        constexpr std::size_t kMostUnderWay = 512;
        reportPending(pending_.size() >= kMostUnderWay ? kMostUnderWay / 2 : kNoWaiting);
    }

    // One item, up to and including its counting; the caller shows progress and status.
    void handle(std::size_t index) {
        const PlanItem& item = actions_[index];
        if (!item.isAction())
            return;
        if (const std::string why = outcomes_.blocked(item, actions_); !why.empty()) {
            failWith(failureLine(item), why);
            ++counts_.dependencySkipped;
            outcomes_.done(item, false);
            copyHandled(item);
            return;
        }
        if (promptWanted(item.kind, host_.settings())) {
            const PromptAnswer answer = host_.confirm(promptText(item));
            if (answer == PromptAnswer::Cancel) {
                ++counts_.promptSkipped;
                copyHandled(item);
                return;
            }
            if (answer == PromptAnswer::NoToAll) {
                host_.pressStopButton(flags_);
                return;
            }
        }
        const Tally before = tally();
        bool succeeded = false;
        switch (item.kind) {
        case ActionKind::CreateFolder:
            succeeded = createFolder(item);
            break;
        case ActionKind::MoveRename:
            succeeded = move(item);
            break;
        case ActionKind::Copy:
            succeeded = copy(item);
            break;
        case ActionKind::DeleteFile:
            succeeded = deleteFile(item);
            break;
        case ActionKind::RemoveFolder:
            succeeded = removeFolder(item);
            break;
        case ActionKind::Attributes:
            succeeded = attributes(item);
            break;
        case ActionKind::HardLink:
            succeeded = hardLink(item);
            break;
        case ActionKind::Original:
            break;
        }
        metadata_.touched(item);
        metadata_.report(host_);
        countOutcome(item, before);
        // A removed folder frees its name and a move may move a folder: the workers' open folders
        // are looked up again before their next copy, as this thread's are.
        if (pool_ && (item.kind == ActionKind::RemoveFolder || item.kind == ActionKind::MoveRename))
            pool_->forgetFolders();
        outcomes_.done(item, succeeded);
    }

    const ExecutionCounts& counts() const { return counts_; }
    ExecutionCounts& counts() { return counts_; }
    // The workers end here, before the keeper they use.
    void finishPool() { pool_.reset(); }
    // Counts the action items from `index` on as not reached (the run was stopped before them).
    void notReachedFrom(std::size_t index) {
        for (; index < actions_.size(); ++index)
            counts_.notReached += actions_[index].isAction();
    }

private:
    static constexpr std::size_t kNoWaiting = SIZE_MAX;

    // Reports the copies of the pool in list order while their outcomes are there, and waits for them
    // while more than `keep` are under way (the window kept alive, a stop passed on to the pool).
    void reportPending(std::size_t keep) {
        reportEnded();
        while (pending_.size() > keep) {
            // Sleep until the last copy that must be reported has ended (most before it have ended by
            // then), or the first one once it has; what has ended is reported between the sleeps.
            const uint64_t last = pending_[pending_.size() - keep - 1].ticket;
            const uint64_t awaited =
                pool_->ended(last, std::chrono::milliseconds(0)) ? pending_.front().ticket : last;
            if (!pool_->ended(awaited, std::chrono::milliseconds(20)))
                waitedAndStopped();
            reportEnded();
        }
    }

    // Reports the copies at the head of the list whose outcomes are there.
    void reportEnded() {
        while (!pending_.empty()) {
            Pending& head = pending_.front();
            std::optional<CopyPool::Outcome> outcome =
                pool_->outcome(head.ticket, std::chrono::milliseconds(0));
            if (!outcome)
                return;
            const PlanItem& item = actions_[head.index];
            reportCopy(head, *outcome);
            pendingPaths_.erase(item.destination);
            if (const auto reading = pendingSources_.find(item.path); --reading->second == 0)
                pendingSources_.erase(reading);
            pendingLines_.erase(item.facts.line);
            pending_.pop_front();
        }
    }

    // While waiting for copies: the windows stay served and a signal is noticed; a stop is passed on
    // to the pool. Returns whether the run is stopped.
    bool waitedAndStopped() {
        host_.keepAlive();
        if (flags_.action && !stopped_) {
            stopped_ = true;
            pool_->stop();
        }
        return stopped_;
    }

    struct Pending {
        std::size_t index;
        uint64_t ticket;
    };

    void reportCopy(const Pending& copy, const CopyPool::Outcome& outcome) {
        if (!outcome.begun) {
            ++counts_.notReached; // stopped before it began: nothing was done, nothing to say
            return;
        }
        const PlanItem& item = actions_[copy.index];
        const Tally before = tally();
        const bool ok = copyReport(item, outcome.result);
        metadata_.touched(item);
        metadata_.report(host_);
        countOutcome(item, before);
        outcomes_.done(item, ok);
        afterLine(copy.index);
    }

    // The counts that tell what became of the item being tried (not the whole counts: the failures'
    // texts would be copied for every line).
    struct Tally {
        int good;
        int cancelled;
    };
    Tally tally() const { return {counts_.good, counts_.cancelled}; }

    // After an item was tried: what a good line did, and the bytes of a copy that was not cancelled;
    // a cancelled copy's bytes, reported while it was written, are taken back.
    void countOutcome(const PlanItem& item, const Tally& before) {
        if (counts_.good > before.good) {
            switch (item.kind) {
            case ActionKind::CreateFolder:
                ++counts_.created;
                break;
            case ActionKind::MoveRename:
                ++counts_.moved;
                break;
            case ActionKind::Copy:
                ++counts_.copied;
                counts_.bytesCopied += plannedBytes(item);
                break;
            case ActionKind::DeleteFile:
                ++counts_.deleted;
                break;
            case ActionKind::RemoveFolder:
                ++counts_.removedFolders;
                break;
            case ActionKind::HardLink:
                ++counts_.linked;
                break;
            case ActionKind::Attributes:
                ++counts_.attributesChanged;
                break;
            case ActionKind::Original:
                break;
            }
        }
        if (counts_.cancelled == before.cancelled)
            copyHandled(item);
        else if (plannedBytes(item) > 0)
            host_.setBytesProgress(bytes_.done, bytes_.planned);
    }

    // A copy line is done with (copied, failed or left out at its prompt): its planned bytes count.
    void copyHandled(const PlanItem& item) {
        const uint64_t bytes = plannedBytes(item);
        if (bytes == 0)
            return;
        bytes_.done += bytes;
        host_.setBytesProgress(bytes_.done, bytes_.planned);
    }

    bool succeed(std::string_view text, const std::string& path) {
        host_.log(std::string(text) + path);
        ++counts_.good;
        return true;
    }
    bool failWith(const std::string& failureLine, std::string_view reason) {
        host_.log(failureLine);
        if (!reason.empty())
            host_.log(reasonLine(reason));
        ++counts_.bad;
        if (counts_.firstFailures.size() < ExecutionCounts::kFailuresKept)
            counts_.firstFailures.push_back(reason.empty() ? failureLine
                                                           : failureLine + ": " + std::string(reason));
        return false;
    }
    bool fail(std::string_view text, const std::string& path, std::string_view reason = {}) {
        return failWith(std::string(text) + path, reason);
    }
    bool report(const FsResult& result, std::string_view success, std::string_view failure,
                const std::string& path) {
        if (result.ok())
            return succeed(success, path);
        return fail(failure, path, reasonOf(result.error, result.detail));
    }

    // The location that holds `path`; otherwise the item fails here.
    Location* locationOf(const std::string& path, const PlanItem& item) {
        if (Location* location = locations_.holding(path))
            return location;
        failWith(failureLine(item),
                 isAbsolutePath(path) ? failureText(kOutsideLocations) : std::string(kNotAbsoluteReason));
        return nullptr;
    }

    // A folder that already stands there (a real one, not a link) is what the item wanted: the line
    // still fails, as creating it did, but items that depend on it may run.
    bool createFolder(const PlanItem& item) {
        Location* location = locationOf(item.path, item);
        if (!location)
            return false;
        const FsResult made = location->makeFolder(item.path);
        if (made.ok())
            metadata_.startFolder(item.path, host_);
        report(made, "Success CreateDir ", "Failed CreateDir ", item.path);
        return made.ok() || (made.error == EEXIST && location->realFolderAt(item.path));
    }

    bool move(const PlanItem& item) {
        Location* location = locationOf(item.path, item);
        if (!location || !locationOf(item.destination, item))
            return false;
        const FileStamp* planned = item.facts.sourceKnown ? &item.facts.source : nullptr;
        const FsResult moved = location->moveIfUnchanged(item.path, planned, item.destination);
        if (moved.error != kMoveAcrossFileSystems || location != locations_.holding(item.destination))
            return report(moved, "Success Move-Rename to ", "Failed Move-Rename to ", item.destination);
        // A mount inside the location (a bind mount of a folder of the same disk too) lies between the
        // two places: the file is copied and the source removed only while it is unchanged.
        ItemMoveByCopy task(*location, item, copyOptions_);
        const CopyResult copied = host_.copyWithProgress(task, LastPathPart(item.path), flags_);
        if (copied.ok())
            return succeed("Success Move-Rename to ", item.destination);
        if (copied.outcome == CopyOutcome::Cancelled)
            ++counts_.cancelled;
        return fail("Failed Move-Rename to ", item.destination,
                    copied.outcome == CopyOutcome::Cancelled ? std::string("the copy was cancelled")
                                                             : reasonOf(copied.error, copied.detail));
    }

    bool copy(const PlanItem& item) {
        Location* from = locationOf(item.path, item);
        Location* to = from ? locationOf(item.destination, item) : nullptr;
        if (!to)
            return false;
        ItemCopy task(*from, *to, item, copyOptionsFor(item.destination), bytes_);
        return copyReport(item, host_.copyWithProgress(task, LastPathPart(item.path), flags_));
    }

    CopyOptions copyOptionsFor(const std::string& destination) {
        CopyOptions options = copyOptions_;
        options.keeper = metadata_.keeperFor(destination);
        return options;
    }

    // A change of metadata alone: the entry takes its source's metadata, while the source is still as
    // planned and the entry still the planned file (or a folder).
    bool attributes(const PlanItem& item) {
        constexpr std::string_view kFailure = "Failed Attributes ";
        Location* to = locationOf(item.path, item);
        Location* from = to ? locationOf(item.destination, item) : nullptr;
        MetadataKeeper* keeper = from ? metadata_.keeperFor(item.path) : nullptr;
        if (!from)
            return false;
        if (!keeper)
            return fail(kFailure, item.path, failureText(kOutsideLocations));
        const MetadataRead read = from->readMetadata(item.destination, kAllAttributes);
        if (!read.ok())
            return fail(kFailure, item.path,
                        reasonOf(read.error == ENOENT ? kChangedSincePlanning : read.error, read.detail));
        const MetadataFacts& planned = item.facts.metadata;
        const EntryMetadata& now = read.metadata;
        if (now.type != (planned.mode & S_IFMT) ||
            !(ownershipOf(now) == OwnershipFacts{planned.mode & 07777, planned.owner, planned.group}))
            return fail(kFailure, item.path, failureText(kChangedSincePlanning) + ": " + item.destination);
        EntryMetadata wanted = now;
        // A file takes its source's times only where they fall into the two seconds the planner judged
        // its content by; else the entry keeps its own (a content the criteria did not compare could
        // otherwise pass for the source's).
        if (item.facts.sourceKnown && !now.isFolder() && !now.isLink() &&
            timeStep(now.modifiedTime.tv_sec) != timeStep(item.facts.source.modifiedTime)) {
            wanted.accessTime = {0, UTIME_OMIT};
            wanted.modifiedTime = {0, UTIME_OMIT};
        }
        const MetadataStep step{MetadataStep::Kind::Entry, item.facts.sourceKnown ? &item.facts.source : nullptr};
        const MetadataApplied applied = to->applyMetadata(item.path, wanted, step, *keeper);
        if (!applied.ok())
            return fail(kFailure, item.path, reasonOf(applied.error, applied.detail));
        return succeed("Success Attributes ", item.path);
    }

    // A second name of a file of this location; where the file system holds none, a copy of the file.
    bool hardLink(const PlanItem& item) {
        constexpr std::string_view kFailure = "Failed HardLink to ";
        Location* to = locationOf(item.destination, item);
        Location* from = to ? locationOf(item.path, item) : nullptr;
        if (!from)
            return false;
        const FileStamp* existing = item.facts.sourceKnown ? &item.facts.source : nullptr;
        const CopyOptions options = copyOptionsFor(item.destination);
        if (from == to) {
            const LinkResult linked = to->placeHardLink(item.path, existing, item.destination, item.facts.destination, options);
            if (linked.ok()) {
                succeed("Success HardLink to ", item.destination);
                if (keeper_ && !linked.keptAt.empty())
                    host_.log(keeper_->keptLine(linked.keptAt, true));
                return true;
            }
            if (linked.outcome == LinkOutcome::Failed)
                return fail(kFailure, item.destination, reasonOf(linked.error, linked.detail));
        }
        ItemCopy task(*from, *to, item, options, bytes_);
        const CopyResult copied = host_.copyWithProgress(task, LastPathPart(item.destination), flags_);
        if (copied.ok()) {
            succeed("Success HardLink to ", item.destination);
            if (keeper_ && !copied.keptAt.empty())
                host_.log(keeper_->keptLine(copied.keptAt, true));
            return true;
        }
        if (copied.outcome == CopyOutcome::Cancelled) {
            ++counts_.cancelled;
            return fail(kFailure, item.destination, "the copy was cancelled");
        }
        return fail(kFailure, item.destination, reasonOf(copied.error, copied.detail));
    }

    bool copyReport(const PlanItem& item, const CopyResult& result) {
        if (result.ok()) {
            succeed("Success Copy-File to ", item.destination);
            if (keeper_ && !result.keptAt.empty()) {
                host_.log(keeper_->keptLine(result.keptAt, true));
                ++counts_.keptAside;
            }
            return true;
        }
        if (result.outcome == CopyOutcome::Cancelled) {
            ++counts_.cancelled;
            return fail("Failed Copy-File to ", item.destination, "the copy was cancelled");
        }
        return fail("Failed Copy-File to ", item.destination, reasonOf(result.error, result.detail));
    }

    // The delete of a duplicate runs only while its original still holds the same bytes.
    bool provenDuplicate(const PlanItem& item, Location& location) {
        constexpr std::string_view kFailure = "Failed DeleteFile ";
        const std::size_t at = outcomes_.positionOf(item.facts.original);
        if (at == LineOutcomes::kNoPosition)
            return fail(kFailure, item.path, kNoOriginalReason);
        const std::string& kept = actions_[at].path;
        Location* keptSide = locationOf(kept, item);
        if (!keptSide)
            return false;
        const DuplicateProof proof = location.proveDuplicate(*keptSide, kept, item.path);
        if (proof == DuplicateProof::DuplicateMissing)
            return fail(kFailure, item.path, failureText(ENOENT));
        if (proof != DuplicateProof::Proven)
            return fail(kFailure, item.path, std::string(proofFailureReason(proof)) + kept);
        return true;
    }

    bool deleteFile(const PlanItem& item) {
        constexpr std::string_view kFailure = "Failed DeleteFile ";
        Location* location = locationOf(item.path, item);
        if (!location)
            return false;
        if (item.facts.original != ActionFacts::kNone && !provenDuplicate(item, *location))
            return false;
        const FileStamp* planned = item.facts.sourceKnown ? &item.facts.source : nullptr;
        if (!keeper_)
            return report(location->deleteIfUnchanged(item.path, planned), "Success DeleteFile ", kFailure,
                          item.path);
        const Disposed kept = location->disposeIfUnchanged(item.path, planned, *keeper_);
        if (!kept.ok())
            return fail(kFailure, item.path, reasonOf(kept.error, kept.detail));
        succeed("Success DeleteFile ", item.path);
        host_.log(keeper_->keptLine(kept.keptAt, false));
        ++counts_.keptAside;
        return true;
    }

    bool removeFolder(const PlanItem& item) {
        Location* location = locationOf(item.path, item);
        if (!location)
            return false;
        return report(location->removeEmptyFolder(item.path), "Success Delete Dir if empty Command ",
                      "Failed Delete Dir ", item.path);
    }

    StopFlags& flags_;
    ExecutorHost& host_;
    const ActionList& actions_;
    Locations& locations_;
    RemovedFileKeeper* keeper_;
    CopyOptions copyOptions_;
    MetadataKeeping& metadata_;
    LineOutcomes outcomes_;
    ExecutionCounts counts_;
    RunBytes bytes_;
    std::unique_ptr<CopyPool> pool_;
    std::deque<Pending> pending_;
    std::unordered_set<std::string> pendingPaths_;        // written by copies under way
    std::unordered_map<std::string, int> pendingSources_; // read by copies under way, how many
    std::unordered_set<uint32_t> pendingLines_;
    bool stopped_ = false;
};

// Reports progress to the host's keep-alive so that the windows stay served during a long copy, and
// gives up when a stop has been requested.
class KeepAliveObserver : public CopyObserver {
public:
    KeepAliveObserver(ActivityHost& host, const StopFlags& flags) : host_(host), flags_(flags) {}
    void progress(uint64_t, uint64_t) override { host_.keepAlive(); }
    bool cancelRequested() override { return flags_.action; }

private:
    ActivityHost& host_;
    const StopFlags& flags_;
};

// Tells every location the lines it is about to carry out, so that it can prepare for them (a remote
// moves a renamed folder in one step). Only when no move is to be confirmed line by line: a line the
// user might skip must not be done ahead of its question.
void announceActionsAhead(const ActionList& actions, Locations& locations, const Settings& settings,
                          CopyObserver& watcher) {
    if (promptWanted(ActionKind::MoveRename, settings) || promptWanted(ActionKind::CreateFolder, settings))
        return;
    const bool copiesAsked = promptWanted(ActionKind::Copy, settings);
    std::unordered_map<Location*, std::vector<ActionAhead>> ahead;
    for (const PlanItem& item : actions) {
        ActionAhead line;
        switch (item.kind) {
        case ActionKind::CreateFolder:
            line.kind = ActionAhead::Kind::MakeFolder;
            break;
        case ActionKind::MoveRename:
            line.kind = ActionAhead::Kind::Move;
            break;
        case ActionKind::Copy:
            line.kind = ActionAhead::Kind::Copy;
            break;
        case ActionKind::DeleteFile:
            line.kind = ActionAhead::Kind::Delete;
            break;
        case ActionKind::RemoveFolder:
            line.kind = ActionAhead::Kind::RemoveFolder;
            break;
        // A second name or a change of metadata prepares nothing ahead.
        case ActionKind::HardLink:
        case ActionKind::Attributes:
        case ActionKind::Original:
            continue;
        }
        line.path = item.path;
        line.destination = item.destination;
        line.stampKnown = item.facts.sourceKnown;
        line.stamp = item.facts.source;
        line.askedFirst = line.kind == ActionAhead::Kind::Copy && copiesAsked;
        Location* at = locations.holding(item.path);
        Location* to = item.destination.empty() ? nullptr : locations.holding(item.destination);
        if (at)
            ahead[at].push_back(line);
        if (to && to != at)
            ahead[to].push_back(line);
    }
    for (std::size_t i = 0; i < locations.size(); ++i) {
        const auto lines = ahead.find(&locations[i]);
        if (lines != ahead.end())
            locations[i].actionsAhead(lines->second, watcher);
    }
}

} // namespace

void interruptJobProcessing(StopFlags& flags, ActivityHost& host) {
    flags.jobList = true;
    flags.action = true;
    host.log(kJobInterruptedLine);
}

void ExecutorHost::pressStopButton(StopFlags& flags) {
    interruptJobProcessing(flags, *this);
    showMessage(kJobInterruptedMessage);
}

CopyResult ExecutorHost::copyWithProgress(CopyTask& copy, std::string_view /*copyName*/, StopFlags& flags) {
    KeepAliveObserver observer(*this, flags);
    keepAlive();
    return copy.run(observer);
}

std::string reasonLine(std::string_view why) {
    return "Reason: " + std::string(why);
}

bool executionStatusIsRed(const ExecutionCounts& counts) {
    return counts.bad > 100;
}

std::string executionStatusText(const ExecutionCounts& counts) {
    const std::string good = std::to_string(counts.good);
    const std::string bad = std::to_string(counts.bad);
    if (executionStatusIsRed(counts))
        return "Synchronize Progress : Good Actions(" + good + ") Bad Actions(" + bad +
               ") Warning! More then 100 FAILED Actions!! Review log to Check them!";
    return "Synchronize Progress : Good Actions (" + good + ") Bad Actions (" + bad + ")";
}

namespace {

// The versions folders that locations keep themselves (a remote's, on its server) are pruned by them.
void pruneOwnVersions(Locations& locations, const std::vector<std::string>& written, const Settings& settings,
                      ExecutorHost& host) {
    if (settings.removedFiles != RemovedFiles::Versions || !settings.versionsFolder.empty() ||
        settings.versionsKeepDays <= 0)
        return;
    for (const std::string& text : written)
        if (Location* location = locations.withText(text))
            for (const std::string& line :
                 location->pruneOwnVersions(settings.versionsKeepDays, std::time(nullptr)))
                host.log(line);
}

} // namespace

ExecutionCounts PerformActions(ActionList actions, Locations& locations, const std::vector<std::string>& written,
                               StopFlags& flags, ExecutorHost& host) {
    return PerformActions(std::move(actions), locations, written, flags, host, FolderTimesPlan{});
}

ExecutionCounts PerformActions(ActionList actions, Locations& locations, const std::vector<std::string>& written,
                               StopFlags& flags, ExecutorHost& host, const FolderTimesPlan& folderTimes) {
    host.runStarted();
    flags.action = false;
    host.log("Actions Started at " + nowDateTimeText());
    if (actions.size() > 1)
        host.setProgressMaximum(static_cast<int64_t>(actions.size()) - 1);

    // What becomes of removed and replaced files, and whether copies are verified, is settled for the
    // whole run when it starts.
    const Settings settings = host.settings();
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < locations.size(); ++i)
        texts.push_back(locations[i].text());
    std::unique_ptr<RemovedFileKeeper> keeper;
    if (settings.removedFiles != RemovedFiles::Delete)
        keeper = std::make_unique<RemovedFileKeeper>(settings, texts, std::time(nullptr));

    // Copies may run on a pool beside the caller; every other item waits for the copies before it,
    // and every outcome is reported in list order (see Run::dispatch).
    MetadataKeeping metadata(locations, written, folderTimes);
    // A run without actions leaves the locations untouched (a probe would change them).
    if (std::any_of(actions.begin(), actions.end(), [](const PlanItem& item) { return item.isAction(); })) {
        metadata.learnWhatIsNotHeld();
        metadata.report(host);
    }
    Run run(flags, host, actions, locations, host.copyWorkers(), keeper.get(), settings.verifyCopies, metadata);
    KeepAliveObserver watcher(host, flags);
    announceActionsAhead(actions, locations, settings, watcher);
    for (std::size_t index = 0; index < actions.size(); ++index) {
        host.beforeLine();
        if (run.dispatch(index)) {
            run.afterDispatch();
            continue;
        }
        run.reportPending(true);
        if (run.stopped()) {
            run.notReachedFrom(index);
            break;
        }
        run.handle(index);
        run.afterLine(index);
        if (run.stopped()) {
            run.notReachedFrom(index + 1);
            break;
        }
    }
    run.reportPending(true);
    run.finishPool();
    metadata.finishFolders(host);
    metadata.report(host);
    // Every temporary name of the run is settled by now: the journals go (one that still names a
    // leftover stays for the next run).
    for (std::size_t i = 0; i < locations.size(); ++i)
        locations[i].closeJournal();

    if (keeper) {
        if (!run.stopped())
            for (const std::string& line : keeper->prune(written, std::time(nullptr)))
                host.log(line);
        if (!run.stopped())
            pruneOwnVersions(locations, written, settings, host);
        if (const std::string hint = keeper->restoreHint(); !hint.empty())
            host.log(hint);
    }
    ExecutionCounts& counts = run.counts();
    counts.stopped = run.stopped();
    counts.removedTo = keeper ? settings.removedFiles : RemovedFiles::Delete;
    host.runFinished();
    host.log("Actions Finished at " + nowDateTimeText());
    return counts;
}

} // namespace paritas

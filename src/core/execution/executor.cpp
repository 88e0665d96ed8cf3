#include "core/execution/executor.h"

#include "core/execution/copy_pool.h"
#include "core/execution/removed_files.h"

#include "core/app/run_lock.h"

#include "core/inventory/paths.h"
#include "core/platform/datetime.h"
#include "core/platform/file_compare.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"
#include "core/platform/path_text.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
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

constexpr std::string_view kTooLongReason = "Path longer than 1000 characters, nothing done";
constexpr std::string_view kNotAbsoluteReason = "Path is not absolute, nothing done";
constexpr std::string_view kNoSeparatorReason = "No separator between source and destination, nothing done";

// The text after a prefix of `length` characters; empty for a line shorter than its prefix.
std::string afterPrefix(std::string_view line, std::size_t length) {
    return line.size() > length ? std::string(line.substr(length)) : std::string();
}

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
    case ActionKind::None:
        break;
    }
    return false;
}

std::string promptText(ActionKind kind, std::string_view line) {
    switch (kind) {
    case ActionKind::CreateFolder:
        return "CreateDir " + pathFrom(line, 11).path + std::string(kPromptTail);
    case ActionKind::MoveRename:
        return "Move-Rename " + afterPrefix(line, 12) + std::string(kPromptTail);
    case ActionKind::Copy:
        return "Copy-File " + afterPrefix(line, 5) + std::string(kPromptTail);
    case ActionKind::DeleteFile:
        return "Delete File " + pathFrom(line, 12).path + std::string(kPromptTail);
    case ActionKind::RemoveFolder:
        return "Delete Dir " + pathFrom(line, 11).path + std::string(kRemovePromptTail);
    case ActionKind::None:
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

// Where each planned line stands in this run, by its number in the plan.
class LineOutcomes {
public:
    void prepare(const PlanFacts& facts, const ActionList& actions) {
        if (facts.lines.size() != actions.size())
            return;
        uint32_t highest = 0;
        for (const ActionFacts& f : facts.lines)
            if (f.line != ActionFacts::kNone)
                highest = std::max(highest, f.line + 1);
        state_.assign(highest, State::NotRun);
        position_.assign(highest, kNoPosition);
        for (std::size_t k = 0; k < facts.lines.size(); ++k)
            if (facts.lines[k].line != ActionFacts::kNone)
                position_[facts.lines[k].line] = k;
    }
    void done(const ActionFacts* facts, bool succeeded) {
        if (facts && facts->line < state_.size())
            state_[facts->line] = succeeded ? State::Succeeded : State::Failed;
    }
    // Empty when the line may run; else why not.
    std::string blocked(const ActionFacts* facts, const ActionList& actions) const {
        if (!facts || facts->after == ActionFacts::kNone)
            return {};
        if (facts->after < state_.size() && state_[facts->after] == State::Succeeded)
            return {};
        const std::size_t at = facts->after < position_.size() ? position_[facts->after] : kNoPosition;
        if (at == kNoPosition)
            return failureText(kDependencyFailed) + " (it was left out of this run)";
        return failureText(kDependencyFailed) + ": " + actions[at];
    }

private:
    enum class State : uint8_t { NotRun, Succeeded, Failed };
    static constexpr std::size_t kNoPosition = ~std::size_t(0);
    std::vector<State> state_;
    std::vector<std::size_t> position_;
};

// A failure's reason line text: the code's sentence, and what the operation added about it.
std::string reasonOf(int error, const std::string& detail) {
    return detail.empty() ? failureText(error) : failureText(error) + ": " + detail;
}

class BeneathCopy final : public CopyTask {
public:
    BeneathCopy(LocationResolver& locations, const CutPair& pair, const ActionFacts* facts,
                const CopyOptions& options)
        : locations_(locations), pair_(pair), facts_(facts), options_(options) {}
    CopyResult run(CopyObserver& observer) override {
        const FileStamp* source = facts_ && facts_->sourceKnown ? &facts_->source : nullptr;
        const DestinationPlan plan = facts_ ? facts_->destination : DestinationPlan{};
        return copyFileBeneath(locations_, pair_.source, source, pair_.destination, plan, observer, options_);
    }

private:
    LocationResolver& locations_;
    const CutPair& pair_;
    const ActionFacts* facts_;
    const CopyOptions& options_;
};

class Run {
public:
    // `keeper`: where removed and replaced files go; nullptr deletes them.
    Run(StopFlags& flags, ExecutorHost& host, const ActionList& actions, PlanFacts facts, int copyWorkers,
        RemovedFileKeeper* keeper, bool verifyCopies)
        : flags_(flags), host_(host), actions_(actions), facts_(std::move(facts)),
          locations_(facts_.locations), keeper_(keeper), copyOptions_{keeper, verifyCopies} {
        outcomes_.prepare(facts_, actions_);
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

    // Hands a copy line to the pool when it may run beside the copies under way: no prompt is wanted,
    // its paths are whole, the line it depends on is done, and no copy under way writes where it reads
    // or writes. False for every other line, which the caller then handles in turn.
    bool dispatch(std::size_t index) {
        if (!pool_ || stopped_)
            return false;
        const std::string_view line = actions_[index];
        if (actionKind(line) != ActionKind::Copy || promptWanted(ActionKind::Copy, host_.settings()))
            return false;
        CutPair pair = pairFrom(line, 6);
        if (!pair.hasSeparator || pair.truncated || !isAbsolutePath(pair.source) ||
            !isAbsolutePath(pair.destination))
            return false;
        const ActionFacts* facts = factsAt(index);
        if (const uint64_t largest = host_.largestPooledCopy();
            largest != UINT64_MAX &&
            (!facts || !facts->sourceKnown || static_cast<uint64_t>(facts->source.size) > largest))
            return false;
        if (facts && facts->after != ActionFacts::kNone &&
            (pendingLines_.count(facts->after) || !outcomes_.blocked(facts, actions_).empty()))
            return false;
        // No copy under way writes what this one reads or writes, nor reads what this one writes.
        if (pendingPaths_.count(pair.source) || pendingPaths_.count(pair.destination) ||
            pendingSources_.count(pair.destination))
            return false;
        CopyPool::Job job{pair.source, pair.destination, facts && facts->sourceKnown,
                          facts ? facts->source : FileStamp{},
                          facts ? facts->destination : DestinationPlan{}};
        const uint64_t ticket = pool_->submit(std::move(job));
        pendingPaths_.insert(pair.destination);
        ++pendingSources_[pair.source];
        if (facts)
            pendingLines_.insert(facts->line);
        pending_.push_back(Pending{index, std::move(pair), facts, ticket});
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

    // One line, up to and including its counting; the caller shows progress and status.
    void handle(std::size_t index) {
        const std::string_view line = actions_[index];
        const ActionKind kind = actionKind(line);
        if (kind == ActionKind::None)
            return;
        const ActionFacts* facts = factsAt(index);
        if (const std::string why = outcomes_.blocked(facts, actions_); !why.empty()) {
            failWith(failureLine(kind, line), why);
            ++counts_.dependencySkipped;
            outcomes_.done(facts, false);
            return;
        }
        if (promptWanted(kind, host_.settings())) {
            const PromptAnswer answer = host_.confirm(promptText(kind, line));
            if (answer == PromptAnswer::Cancel) {
                ++counts_.promptSkipped;
                return;
            }
            if (answer == PromptAnswer::NoToAll) {
                host_.pressStopButton(flags_);
                return;
            }
        }
        const std::string_view previous =
            index > 0 ? std::string_view(actions_[index - 1]) : std::string_view();
        bool succeeded = false;
        switch (kind) {
        case ActionKind::CreateFolder:
            succeeded = createFolder(line);
            break;
        case ActionKind::MoveRename:
            succeeded = move(line, facts);
            break;
        case ActionKind::Copy:
            succeeded = copy(line, facts);
            break;
        case ActionKind::DeleteFile:
            succeeded = deleteFileLine(line, previous, facts);
            break;
        case ActionKind::RemoveFolder:
            succeeded = removeFolder(line);
            break;
        case ActionKind::None:
            break;
        }
        // A removed folder frees its name and a move may move a folder: the workers' open folders
        // are looked up again before their next copy, as this thread's are.
        if (pool_ && (kind == ActionKind::RemoveFolder || kind == ActionKind::MoveRename))
            pool_->forgetFolders();
        outcomes_.done(facts, succeeded);
    }

    const ExecutionCounts& counts() const { return counts_; }
    // The workers end here, before the keeper they use.
    void finishPool() { pool_.reset(); }
    // Counts the action lines from `index` on as not reached (the run was stopped before them).
    void notReachedFrom(std::size_t index) {
        for (; index < actions_.size(); ++index)
            counts_.notReached += actionKind(actions_[index]) != ActionKind::None;
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
            reportCopy(head, *outcome);
            pendingPaths_.erase(head.pair.destination);
            if (const auto reading = pendingSources_.find(head.pair.source); --reading->second == 0)
                pendingSources_.erase(reading);
            if (head.facts)
                pendingLines_.erase(head.facts->line);
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
        CutPair pair;
        const ActionFacts* facts;
        uint64_t ticket;
    };

    void reportCopy(const Pending& copy, const CopyPool::Outcome& outcome) {
        if (!outcome.begun) {
            ++counts_.notReached; // stopped before it began: nothing was done, nothing to say
            return;
        }
        const bool ok = copyReport(copy.pair, outcome.result);
        outcomes_.done(copy.facts, ok);
        afterLine(copy.index);
    }

    const ActionFacts* factsAt(std::size_t index) const {
        return facts_.lines.size() == actions_.size() ? &facts_.lines[index] : nullptr;
    }

    // The failure line of a kind, for lines that are not acted on at all.
    static std::string failureLine(ActionKind kind, std::string_view line) {
        switch (kind) {
        case ActionKind::CreateFolder:
            return "Failed CreateDir " + pathFrom(line, 11).path;
        case ActionKind::MoveRename:
            return "Failed Move-Rename to " + pairFrom(line, 13).destination;
        case ActionKind::Copy:
            return "Failed Copy-File to " + pairFrom(line, 6).destination;
        case ActionKind::DeleteFile:
            return "Failed DeleteFile " + pathFrom(line, 12).path;
        case ActionKind::RemoveFolder:
            return "Failed Delete Dir " + pathFrom(line, 11).path;
        case ActionKind::None:
            break;
        }
        return {};
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
        return false;
    }
    bool fail(std::string_view text, const std::string& path, std::string_view reason = {}) {
        return failWith(std::string(text) + path, reason);
    }
    bool report(int error, std::string_view success, std::string_view failure, const std::string& path) {
        if (error == 0)
            return succeed(success, path);
        return fail(failure, path, failureText(error));
    }

    // A path is acted on only when it is whole and absolute; otherwise the line fails here.
    bool usable(const CutPath& cut, std::string_view failure) {
        if (cut.truncated)
            fail(failure, cut.path, kTooLongReason);
        else if (!isAbsolutePath(cut.path))
            fail(failure, cut.path, kNotAbsoluteReason);
        return !cut.truncated && isAbsolutePath(cut.path);
    }
    bool usable(const CutPair& pair, std::string_view line, std::size_t prefixLength,
                std::string_view failure) {
        if (!pair.hasSeparator)
            fail(failure, afterPrefix(line, prefixLength), kNoSeparatorReason);
        else if (pair.truncated)
            fail(failure, pair.destination, kTooLongReason);
        else if (!isAbsolutePath(pair.source) || !isAbsolutePath(pair.destination))
            fail(failure, pair.destination, kNotAbsoluteReason);
        else
            return true;
        return false;
    }

    // A folder that already stands there (a real one, not a link) is what the line wanted: the line
    // still fails, as creating it did, but lines that depend on it may run.
    bool createFolder(std::string_view line) {
        const CutPath folder = pathFrom(line, 11);
        if (!usable(folder, "Failed CreateDir "))
            return false;
        const FsResult made = makeFolder(locations_, folder.path);
        report(made.error, "Success CreateDir ", "Failed CreateDir ", folder.path);
        return made.ok() || (made.error == EEXIST && realFolderAt(locations_, folder.path));
    }

    bool move(std::string_view line, const ActionFacts* facts) {
        const CutPair pair = pairFrom(line, 13);
        if (!usable(pair, line, 12, "Failed Move-Rename to "))
            return false;
        const FileStamp* planned = facts && facts->sourceKnown ? &facts->source : nullptr;
        return report(moveIfUnchanged(locations_, pair.source, planned, pair.destination).error,
                      "Success Move-Rename to ", "Failed Move-Rename to ", pair.destination);
    }

    bool copy(std::string_view line, const ActionFacts* facts) {
        const CutPair pair = pairFrom(line, 6);
        if (!usable(pair, line, 5, "Failed Copy-File to "))
            return false;
        BeneathCopy task(locations_, pair, facts, copyOptions_);
        return copyReport(pair, host_.copyWithProgress(task, LastPathPart(pair.source), flags_));
    }

    bool copyReport(const CutPair& pair, const CopyResult& result) {
        if (result.ok()) {
            succeed("Success Copy-File to ", pair.destination);
            if (keeper_ && !result.keptAt.empty())
                host_.log(keeper_->keptLine(result.keptAt, true));
            return true;
        }
        if (result.outcome == CopyOutcome::Cancelled) {
            ++counts_.cancelled;
            return fail("Failed Copy-File to ", pair.destination, "the copy was cancelled");
        }
        return fail("Failed Copy-File to ", pair.destination, reasonOf(result.error, result.detail));
    }

    bool deleteFileLine(std::string_view line, std::string_view previousLine, const ActionFacts* facts) {
        constexpr std::string_view kFailure = "Failed DeleteFile ";
        const CutPath file = pathFrom(line, 12);
        if (!usable(file, kFailure))
            return false;
        // The delete line of a duplicate pair: its original line stands right before it.
        if (isOriginalLine(previousLine)) {
            const CutPath kept = pathFrom(previousLine, 13);
            if (kept.truncated || !isAbsolutePath(kept.path))
                return fail(kFailure, file.path, kept.truncated ? kTooLongReason : kNotAbsoluteReason);
            const DuplicateProof proof = proveDuplicate(locations_, kept.path, file.path);
            if (proof == DuplicateProof::DuplicateMissing)
                return fail(kFailure, file.path, failureText(ENOENT));
            if (proof != DuplicateProof::Proven)
                return fail(kFailure, file.path, std::string(proofFailureReason(proof)) + kept.path);
        }
        const FileStamp* planned = facts && facts->sourceKnown ? &facts->source : nullptr;
        if (!keeper_)
            return report(deleteIfUnchanged(locations_, file.path, planned).error, "Success DeleteFile ",
                          kFailure, file.path);
        const Disposed kept = disposeIfUnchanged(locations_, file.path, planned, *keeper_);
        if (!kept.ok())
            return fail(kFailure, file.path, reasonOf(kept.error, kept.detail));
        succeed("Success DeleteFile ", file.path);
        host_.log(keeper_->keptLine(kept.keptAt, false));
        return true;
    }

    bool removeFolder(std::string_view line) {
        const CutPath folder = pathFrom(line, 11);
        if (!usable(folder, "Failed Delete Dir "))
            return false;
        return report(removeEmptyFolder(locations_, folder.path).error,
                      "Success Delete Dir if empty Command ", "Failed Delete Dir ", folder.path);
    }

    StopFlags& flags_;
    ExecutorHost& host_;
    const ActionList& actions_;
    PlanFacts facts_;
    LocationResolver locations_;
    RemovedFileKeeper* keeper_;
    CopyOptions copyOptions_;
    LineOutcomes outcomes_;
    ExecutionCounts counts_;
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

ExecutionCounts PerformActions(ActionList actions, StopFlags& flags, ExecutorHost& host, PlanFacts facts) {
    host.runStarted();
    flags.action = false;
    host.log("Actions Started at " + nowDateTimeText());
    if (actions.size() > 1)
        host.setProgressMaximum(static_cast<int64_t>(actions.size()) - 1);

    // What becomes of removed and replaced files, and whether copies are verified, is settled for the
    // whole run when it starts.
    const Settings settings = host.settings();
    const std::vector<std::string> locations = facts.locations;
    std::unique_ptr<RemovedFileKeeper> keeper;
    if (settings.removedFiles != RemovedFiles::Delete)
        keeper = std::make_unique<RemovedFileKeeper>(settings, locations, std::time(nullptr));

    // Copies may run on a pool beside the caller; every other line waits for the copies before it,
    // and every outcome is reported in list order (see Run::dispatch).
    Run run(flags, host, actions, std::move(facts), host.copyWorkers(), keeper.get(), settings.verifyCopies);
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

    if (keeper) {
        if (!run.stopped())
            for (const std::string& line :
                 keeper->prune(foldersWrittenBy(actions, locations), std::time(nullptr)))
                host.log(line);
        if (const std::string hint = keeper->restoreHint(); !hint.empty())
            host.log(hint);
    }
    host.runFinished();
    host.log("Actions Finished at " + nowDateTimeText());
    return run.counts();
}

} // namespace paritas

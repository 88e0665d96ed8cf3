#include "core/execution/executor.h"

#include "core/inventory/paths.h"
#include "core/platform/datetime.h"
#include "core/platform/file_compare.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"
#include "core/platform/path_text.h"

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

class Run {
public:
    Run(StopFlags& flags, ExecutorHost& host) : flags_(flags), host_(host) {}

    // One line, up to and including its counting; the caller shows progress and status.
    void handle(std::string_view line, std::string_view previousLine) {
        const ActionKind kind = actionKind(line);
        if (kind == ActionKind::None)
            return;
        if (promptWanted(kind, host_.settings())) {
            const PromptAnswer answer = host_.confirm(promptText(kind, line));
            if (answer == PromptAnswer::Cancel)
                return;
            if (answer == PromptAnswer::NoToAll) {
                host_.pressStopButton(flags_);
                return;
            }
        }
        switch (kind) {
        case ActionKind::CreateFolder:
            createFolder(line);
            break;
        case ActionKind::MoveRename:
            move(line);
            break;
        case ActionKind::Copy:
            copy(line);
            break;
        case ActionKind::DeleteFile:
            deleteFileLine(line, previousLine);
            break;
        case ActionKind::RemoveFolder:
            removeFolder(line);
            break;
        case ActionKind::None:
            break;
        }
    }

    const ExecutionCounts& counts() const { return counts_; }

private:
    void succeed(std::string_view text, const std::string& path) {
        host_.log(std::string(text) + path);
        ++counts_.good;
    }
    void fail(std::string_view text, const std::string& path, std::string_view reason = {}) {
        host_.log(std::string(text) + path);
        if (!reason.empty())
            host_.log(reason);
        ++counts_.bad;
    }
    void report(bool ok, std::string_view success, std::string_view failure, const std::string& path) {
        if (ok)
            succeed(success, path);
        else
            fail(failure, path);
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

    void createFolder(std::string_view line) {
        const CutPath folder = pathFrom(line, 11);
        if (usable(folder, "Failed CreateDir "))
            report(makeFolder(folder.path).ok(), "Success CreateDir ", "Failed CreateDir ", folder.path);
    }

    void move(std::string_view line) {
        const CutPair pair = pairFrom(line, 13);
        if (usable(pair, line, 12, "Failed Move-Rename to "))
            report(moveNoReplace(pair.source, pair.destination).ok(), "Success Move-Rename to ",
                   "Failed Move-Rename to ", pair.destination);
    }

    void copy(std::string_view line) {
        const CutPair pair = pairFrom(line, 6);
        if (!usable(pair, line, 5, "Failed Copy-File to "))
            return;
        const bool ok =
            host_.copyWithProgress(pair.source, pair.destination, LastPathPart(pair.source), flags_);
        report(ok, "Success Copy-File to ", "Failed Copy-File to ", pair.destination);
    }

    void deleteFileLine(std::string_view line, std::string_view previousLine) {
        constexpr std::string_view kFailure = "Failed DeleteFile ";
        const CutPath file = pathFrom(line, 12);
        if (!usable(file, kFailure))
            return;
        // The delete line of a duplicate pair: its original line stands right before it.
        if (isOriginalLine(previousLine)) {
            const CutPath kept = pathFrom(previousLine, 13);
            if (kept.truncated || !isAbsolutePath(kept.path))
                return fail(kFailure, file.path, kept.truncated ? kTooLongReason : kNotAbsoluteReason);
            const DuplicateProof proof = proveDuplicate(kept.path, file.path);
            if (proof == DuplicateProof::DuplicateMissing)
                return fail(kFailure, file.path);
            if (proof != DuplicateProof::Proven)
                return fail(kFailure, file.path, std::string(proofFailureReason(proof)) + kept.path);
        }
        report(deleteFile(file.path).ok(), "Success DeleteFile ", kFailure, file.path);
    }

    void removeFolder(std::string_view line) {
        const CutPath folder = pathFrom(line, 11);
        if (usable(folder, "Failed Delete Dir "))
            report(removeEmptyFolder(folder.path).ok(), "Success Delete Dir if empty Command ",
                   "Failed Delete Dir ", folder.path);
    }

    StopFlags& flags_;
    ExecutorHost& host_;
    ExecutionCounts counts_;
};

// Reports progress to the host's keep-alive so that the windows stay served during a long copy.
class KeepAliveObserver : public CopyObserver {
public:
    explicit KeepAliveObserver(ActivityHost& host) : host_(host) {}
    void progress(uint64_t, uint64_t) override { host_.keepAlive(); }

private:
    ActivityHost& host_;
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

bool ExecutorHost::copyWithProgress(const std::string& source, const std::string& destination,
                                    std::string_view /*copyName*/, StopFlags& /*flags*/) {
    KeepAliveObserver observer(*this);
    keepAlive();
    return copyFileWithProgress(source, destination, observer).ok();
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

ExecutionCounts PerformActions(ActionList actions, StopFlags& flags, ExecutorHost& host) {
    host.runStarted();
    flags.action = false;
    host.log("Actions Started at " + nowDateTimeText());
    if (actions.size() > 1)
        host.setProgressMaximum(static_cast<int64_t>(actions.size()) - 1);

    Run run(flags, host);
    for (std::size_t index = 0; index < actions.size(); ++index) {
        host.beforeLine();
        run.handle(actions[index], index > 0 ? std::string_view(actions[index - 1]) : std::string_view());
        host.setProgressPosition(static_cast<int64_t>(index));
        host.setStatus(executionStatusText(run.counts()), executionStatusIsRed(run.counts()));
        host.keepAlive();
        if (flags.action)
            break;
    }

    host.runFinished();
    host.log("Actions Finished at " + nowDateTimeText());
    return run.counts();
}

} // namespace paritas

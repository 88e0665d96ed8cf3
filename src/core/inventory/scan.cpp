#include "core/inventory/scan.h"

#include "core/inventory/paths.h"
#include "core/inventory/scan_filter.h"
#include "core/inventory/tree_walk.h"
#include "core/platform/datetime.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_identity.h"
#include "core/platform/file_queries.h"
#include "core/platform/folder_listing.h"
#include "core/platform/local_location.h"
#include "core/platform/path_text.h"
#include "core/platform/work_journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace paritas {
namespace {

std::string_view letter(Side side) {
    return side == Side::A ? "A" : "B";
}

std::string joined(std::string_view folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + name.size());
    path.append(folder).append(name);
    return path;
}

// Files of one folder lie close together in time; packing a time goes through localtime_r, so the
// last answer is kept.
class FileTimePacker {
public:
    int32_t operator()(int64_t modifiedTime) {
        if (!valid_ || modifiedTime != lastTime_) {
            lastTime_ = modifiedTime;
            lastPacked_ = packDosDateTime(static_cast<std::time_t>(modifiedTime));
            valid_ = true;
        }
        return lastPacked_;
    }

private:
    bool valid_ = false;
    int64_t lastTime_ = 0;
    int32_t lastPacked_ = 0;
};

// Temporary names of copies and journals of runs (work_journal.h): a run settles what a killed run
// left before it scans, so such a name is no file of a run under way. What it holds is unknown (a
// leftover no journal names, or a user's own file so named): it is told of and never listed, so
// nothing is copied, moved or deleted for it, and the run counts as incomplete.
bool isTemporaryOrJournalName(std::string_view name) {
    return isTemporaryName(name) || isJournalName(name) || isAsideName(name);
}

// What the listing of the files is to tell the host, folder by folder, once the folder list is
// complete: the folders are read during the walk, but the host hears of their files afterwards, in
// the order a walk followed by a second pass over the folders would tell it.
class FileReport {
public:
    // Per folder, in list order: a log line, or a run of keepAlive() calls (one per row).
    void beginFolder() { folderStart_.push_back(uint32_t(events_.size())); }
    void line(std::string text) {
        lines_.push_back(std::move(text));
        events_.push_back(-int64_t(lines_.size()));
    }
    void row() {
        if (!events_.empty() && events_.back() > 0 && events_.size() > folderStart_.back())
            ++events_.back();
        else
            events_.push_back(1);
    }
    void tell(std::size_t folder, ActivityHost& host) const {
        const std::size_t end = folder + 1 < folderStart_.size() ? folderStart_[folder + 1] : events_.size();
        for (std::size_t e = folderStart_[folder]; e < end; ++e) {
            if (events_[e] < 0) {
                host.log(lines_[std::size_t(-events_[e] - 1)]);
                continue;
            }
            for (int64_t n = 0; n < events_[e]; ++n)
                host.keepAlive();
        }
    }

private:
    std::vector<uint32_t> folderStart_;
    std::vector<int64_t> events_;
    std::vector<std::string> lines_;
};

// Takes one folder as the walk read it into the inventory, in name order. Folders are not rows;
// special files, names the stored lines cannot carry and entries whose facts cannot be read are left
// out with one line each, and coverage records what stays unknown. A folder that cannot be read (or
// searched) contributes nothing but a line saying so.
// Entries the filter rules leave out (when `filter` is given) are neither listed nor told of.
void takeFiles(const std::string& folder, bool isLocation, bool walked, const FolderRead& read,
               Inventory& inventory, FileTimePacker& packTime, ScanCoverage& coverage, FileReport& report,
               ScanFilter* filter, std::vector<FolderMetadata>& folderMetadata) {
    report.beginFolder();
    coverage.folderIds.push_back(read.openError == 0 ? read.id : ObjectId{});
    folderMetadata.push_back(read.openError == 0 ? FolderMetadata{read.self.ownership, read.self.modifiedTime,
                                                                  read.self.modifiedNanos, read.self.attributes}
                                                 : FolderMetadata{});
    if (read.vanished)
        return;
    const int error = read.openError != 0 ? read.openError : read.searchDenied ? EACCES : 0;
    if (error != 0) {
        // The walk has told of a folder it could not open; one it could not search is told here.
        if (!walked || read.openError == 0)
            report.line(unreadFolderLine(folder, error));
        if (isLocation) {
            coverage.locationUnreadable = true;
            coverage.locationError = error;
        } else {
            coverage.unreadFolders.push_back(folder);
        }
        return;
    }
    if (filter != nullptr)
        filter->enter(folder);
    for (const FolderRead::Entry& entry : read.entries) {
        if (entry.type == EntryType::Directory)
            continue;
        const std::string_view name = read.name(entry);
        if (filter != nullptr &&
            (entry.type == EntryType::Unknown ? filter->leavesOutUnknown(name) : filter->leavesOutFile(name)))
            continue;
        if (holdsUncarriableCharacter(name)) {
            report.line("Skipped name that cannot be carried: " + printablePath(joined(folder, name)));
            ++coverage.skippedNames;
            continue;
        }
        if (entry.type == EntryType::Special) {
            report.line("Skipped special file: " + printablePath(joined(folder, name)));
            continue;
        }
        if (entry.type == EntryType::Unknown || !entry.factsKnown) {
            const std::string path = joined(folder, name);
            report.line("Skipped file that cannot be read: " + printablePath(path) +
                        (entry.factsError ? " (" + errorText(entry.factsError) + ")" : std::string()));
            coverage.unreadEntries.push_back(path);
            continue;
        }
        if (entry.type != EntryType::Directory && isTemporaryOrJournalName(name)) {
            const std::string path = joined(folder, name);
            report.line("Skipped temporary file of an interrupted copy: " + printablePath(path));
            coverage.temporaryNames.push_back(path);
            continue;
        }
        inventory.addFile(folder, name,
                          FileStamp{entry.size, packTime(entry.modifiedTime), entry.modifiedTime,
                                    entry.modifiedNanos, entry.inode},
                          entry.ownership, entry.attributes);
        report.row();
    }
}

// The scan's second half, the same for every location: the folders found, then each folder's rows.
ScanResult finishScan(ScanResult result, bool exists, Side side, ScanHost& host, FileReport report) {
    host.foldersListed();
    host.log(nowDateTimeText() + " Folders in \"" + std::string(letter(side)) + "\" Found!");

    const std::size_t count = result.folders.size();
    host.setProgressMaximum(count >= 3 ? static_cast<int64_t>(count) - 1 : 1);
    for (std::size_t i = 0; i < count; ++i) {
        host.log("Scanning folder " + printablePath(result.folders[i]));
        if (exists)
            report.tell(i, host);
        host.setProgressPosition(static_cast<int64_t>(i));
    }
    if (result.leftOut.any())
        host.log(leftOutLine(result.leftOut));
    if (result.coverage.linksUnseen)
        host.log(linksUnseenLine(side));
    if (const std::string summary = coverageSummary(side, result.coverage); !summary.empty())
        host.log(summary);
    return result;
}

} // namespace

ScanResult scanLocation(std::string_view location, bool includeSubfolders, Side side, ScanHost& host) {
    ScanOptions options;
    options.includeSubfolders = includeSubfolders;
    return scanLocation(location, options, side, host);
}

ScanResult scanLocation(std::string_view location, const ScanOptions& options, Side side, ScanHost& host) {
    // Only an absolute text is looked up: an empty or relative one would name something below the
    // process's current folder, which the user never chose.
    const bool carriable = !holdsUncarriableCharacter(location);
    if (!carriable || !isAbsolutePath(location)) {
        ScanResult result;
        host.log(nowDateTimeText() + " Searching for Folders in \"" + std::string(letter(side)) + "\" ...");
        if (!carriable)
            host.log("Skipped name that cannot be carried: " + printablePath(location));
        else
            host.log("Folder " + std::string(location) + " does not exist!");
        result.folders.push_back(std::string(location));
        return finishScan(std::move(result), false, side, host, FileReport{});
    }
    LocalLocation local{std::string(location)};
    ScanResult result = scanLocation(local, options, side, host);
    // The folder list keeps the text as given (a location without its separator included).
    if (!result.locationExists)
        result.folders.front() = std::string(location);
    return result;
}

ScanResult scanLocation(Location& location, const ScanOptions& options, Side side, ScanHost& host) {
    ScanResult result;
    host.log(nowDateTimeText() + " Searching for Folders in \"" + std::string(letter(side)) + "\" ...");
    const bool exists = location.exists();
    if (!exists)
        host.log("Folder " + location.text() + " does not exist!");
    result.locationExists = exists;

    ScanCoverage& coverage = result.coverage;
    coverage.linksUnseen = exists && !location.seesLinks();
    FileReport report;
    if (!exists) {
        result.folders.push_back(location.text());
    } else {
        WalkOptions walk;
        walk.subfolders = options.includeSubfolders;
        walk.threads = options.threads;
        walk.attributes = options.attributes;
        result.inventory.setAttributesRead(options.attributes.any());
        std::optional<ScanFilter> filter;
        if (options.filters != nullptr && !options.filters->empty()) {
            walk.filters = options.filters.get();
            filter.emplace(*options.filters, location.text().size(), &result.leftOut);
        }
        FileTimePacker packTime;
        const FolderCommit take = [&](std::size_t k, const std::string& folder, const FolderRead& read) {
            takeFiles(folder, k == 0, options.includeSubfolders, read, result.inventory, packTime, coverage,
                      report, filter ? &*filter : nullptr, result.folderMetadata);
        };
        result.folders = walkTree(location, walk, host, take, &coverage.skippedNames, &result.leftOut);
        std::sort(result.leftOut.holdingFolders.begin(), result.leftOut.holdingFolders.end());
        const auto repeats =
            std::unique(result.leftOut.holdingFolders.begin(), result.leftOut.holdingFolders.end());
        result.leftOut.holdingFolders.erase(repeats, result.leftOut.holdingFolders.end());
    }
    return finishScan(std::move(result), exists, side, host, std::move(report));
}

// What a background scan told its host, kept in order until the caller's thread takes it. Consecutive
// keep-alives are kept as one count.
class KeptCalls final : public ScanHost {
public:
    void log(std::string_view line) override { push(Kind::Log, 0, std::string(line)); }
    void setProgressMaximum(int64_t maximum) override { push(Kind::Maximum, maximum); }
    void setProgressPosition(int64_t position) override { push(Kind::Position, position); }
    void keepAlive() override {
        std::lock_guard lock(mutex_);
        if (!calls_.empty() && calls_.back().kind == Kind::KeepAlive)
            ++calls_.back().value;
        else
            calls_.push_back(Call{Kind::KeepAlive, 1, {}});
    }
    void foldersListed() override { push(Kind::FoldersListed, 0); }

    void markDone() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
    }

    // Tells `host` every call as it comes, on the calling thread, until the scan is done. While none
    // is waiting, `whileWaiting` (when given) runs about every 20 ms.
    void tell(ScanHost& host, const std::function<void()>& whileWaiting) {
        std::vector<Call> batch;
        for (;;) {
            bool done = false;
            {
                std::unique_lock lock(mutex_);
                if (calls_.empty() && !done_)
                    changed_.wait_for(lock, std::chrono::milliseconds(20));
                batch.swap(calls_);
                done = done_ && calls_.empty();
            }
            for (const Call& call : batch)
                tellOne(call, host);
            batch.clear();
            if (done)
                return;
            if (whileWaiting)
                whileWaiting();
        }
    }

private:
    enum class Kind : uint8_t { Log, Maximum, Position, KeepAlive, FoldersListed };
    struct Call {
        Kind kind;
        int64_t value;
        std::string text;
    };

    void push(Kind kind, int64_t value, std::string text = {}) {
        std::lock_guard lock(mutex_);
        calls_.push_back(Call{kind, value, std::move(text)});
    }

    static void tellOne(const Call& call, ScanHost& host) {
        switch (call.kind) {
        case Kind::Log:
            host.log(call.text);
            break;
        case Kind::Maximum:
            host.setProgressMaximum(call.value);
            break;
        case Kind::Position:
            host.setProgressPosition(call.value);
            break;
        case Kind::KeepAlive:
            for (int64_t n = 0; n < call.value; ++n)
                host.keepAlive();
            break;
        case Kind::FoldersListed:
            host.foldersListed();
            break;
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    bool done_ = false;
};

struct ScanAhead::State {
    KeptCalls calls;
    ScanResult result;
    std::exception_ptr error; // what the scan threw, thrown again by finish()
    std::thread thread;
};

ScanAhead::ScanAhead(std::string location, const ScanOptions& options, Side side)
    : state_(std::make_unique<State>()) {
    State* state = state_.get();
    state->thread = std::thread([state, location = std::move(location), options, side] {
        try {
            state->result = scanLocation(location, options, side, state->calls);
        } catch (...) {
            state->error = std::current_exception();
        }
        state->calls.markDone();
    });
}

ScanAhead::ScanAhead(std::unique_ptr<Location> location, const ScanOptions& options, Side side)
    : state_(std::make_unique<State>()) {
    State* state = state_.get();
    state->thread =
        std::thread([state, location = std::shared_ptr<Location>(std::move(location)), options, side] {
            try {
                state->result = scanLocation(*location, options, side, state->calls);
            } catch (...) {
                state->error = std::current_exception();
            }
            state->calls.markDone();
        });
}

ScanAhead::~ScanAhead() {
    if (state_ && state_->thread.joinable())
        state_->thread.join();
}

ScanResult ScanAhead::finish(ScanHost& host, const std::function<void()>& whileWaiting) {
    state_->calls.tell(host, whileWaiting);
    if (state_->thread.joinable())
        state_->thread.join();
    if (state_->error)
        std::rethrow_exception(state_->error);
    return std::move(state_->result);
}

std::string coverageSummary(Side side, const ScanCoverage& coverage) {
    if (coverage.complete())
        return {};
    std::string text = "Not everything in " + std::string(letter(side)) + " can be synchronised:";
    if (coverage.locationUnreadable)
        return text + " the location itself could not be read (" + errorText(coverage.locationError) + ").";
    std::string parts;
    auto add = [&](std::size_t count, const char* what) {
        if (count == 0)
            return;
        parts += (parts.empty() ? " " : ", ") + std::to_string(count) + what;
    };
    add(coverage.unreadFolders.size(), " folder(s) could not be read");
    add(coverage.unreadEntries.size(), " file(s) could not be read");
    add(coverage.skippedNames, " name(s) cannot be carried");
    add(coverage.temporaryNames.size(), " file(s) named like a temporary file of Paritas");
    return text + parts + ".";
}

std::string linksUnseenLine(Side side) {
    return "Links cannot be seen in " + std::string(letter(side)) +
           ": its listings leave symbolic links out, so none is copied, moved or deleted there";
}

std::string leftOutLine(const ScanLeftOut& leftOut) {
    return "Left out by filters: " + std::to_string(leftOut.files) + " files in " +
           std::to_string(leftOut.folders) + " folders";
}

std::string filesCountPanelText(Side side, const Inventory& inventory) {
    return "Files Count " + std::string(letter(side)) + " : " + std::to_string(inventory.fileCount()) +
           "  Size: " + std::to_string(inventory.sizeTotal() / 1048576) + "MB";
}

std::string initialPanelText(Side side) {
    return "Files/Folders " + std::string(letter(side)) + ":";
}

std::string searchingLabelText(Side side) {
    return side == Side::A ? "Searching folders and subfolders, please wait ..."
                           : "Searching folders please wait ...";
}

std::string finishedLabelText(Side side) {
    return "Path " + std::string(letter(side)) + " Finished";
}

} // namespace paritas

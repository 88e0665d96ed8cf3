#include "core/remote/remote_location.h"

#include "core/platform/beneath.h"
#include "core/platform/datetime.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_identity.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_queries.h"
#include "core/platform/local_location.h"
#include "core/platform/versions_folder.h"
#include "core/platform/work_journal.h"
#include "core/remote/folder_moves.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <optional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace paritas {

namespace {

using nlohmann::json;

// Copies of this size or more run as rclone jobs that are watched (progress, cancel); smaller ones
// take one call, which is quicker than starting and asking after a job.
constexpr int64_t kWatchedBytes = 4 << 20;
// Listings under way at once during a scan. Each listing under way holds a connection of its own to
// the server, and each connection costs a login; across a network the round trips are what counts,
// and overlapping many of them is what makes a scan quick, while near the machine the work of the
// daemon and the server is what counts (bench/remote_bench.sh, with and without LATENCY_MS): at a
// 20 ms round trip 24 list 200,000 files in 91 s where 16 take 113 s (32: 62 s, but 1.23 times the
// memory of a local scan, 24: 1.19), while on the same machine a no-op backup of 40,000 files takes
// 1.1 s with 4 and 8, 1.7 s with 16 and 3.3 s with 32, and listing 200,000 files in small folders
// takes 23 s with 4 and 17.5 s with 8. So the count follows the time of a question to the server,
// asked when the scan starts: through rclone to an SFTP server, 3 ms on the same machine, 130 ms
// across a 20 ms round trip.
constexpr int kListingsNear = 8;
constexpr int kListingsFar = 24;
constexpr auto kFarQuestion = std::chrono::milliseconds(15);
constexpr int kVersionNameAttempts = 8;

uint64_t fnv1a(std::string_view text) {
    uint64_t hash = 1469598103934665603ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string_view withoutTrailingSlash(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

std::string asFolder(std::string path) {
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

RemoteExpectation expectationOf(const FileStamp* planned) {
    if (!planned)
        return RemoteExpectation::anything();
    RemoteExpectation expected;
    expected.kind = RemoteExpectation::Kind::File;
    expected.size = planned->size;
    expected.modifiedTime = planned->modifiedTime;
    expected.modifiedNanos = planned->modifiedNanos;
    return expected;
}

FileStamp stampOf(const RemoteEntry& entry) {
    FileStamp stamp;
    stamp.size = entry.size;
    stamp.modifiedTime = entry.modifiedTime;
    stamp.modifiedNanos = entry.modifiedNanos;
    stamp.fileTime = packDosDateTime(static_cast<std::time_t>(entry.modifiedTime));
    return stamp;
}

bool samePlannedFile(const RemoteEntry& entry, const FileStamp& planned) {
    return !entry.isFolder && entry.size == planned.size && entry.modifiedTime == planned.modifiedTime &&
           entry.modifiedNanos == planned.modifiedNanos;
}

// A file that a copy from elsewhere made: its size, and its time as far as the remote keeps times
// (`precision` in nanoseconds; rclone cuts a time to the step or rounds it).
bool arrivedAsPlanned(const RemoteEntry& entry, const FileStamp& planned, int64_t precision) {
    if (entry.isFolder || entry.size != planned.size || precision <= 0)
        return false;
    const int64_t seconds = entry.modifiedTime - planned.modifiedTime;
    if (seconds > 4000000000 || seconds < -4000000000)
        return false;
    const int64_t apart = seconds * 1000000000 + (entry.modifiedNanos - planned.modifiedNanos);
    return (apart < 0 ? -apart : apart) < precision;
}

FsResult fsResultOf(const RcResult& result) {
    FsResult fs;
    fs.error = result.error;
    fs.detail = result.reason;
    return fs;
}

CopyResult copyFailure(const RcResult& result) {
    CopyResult copy;
    copy.outcome = CopyOutcome::Failed;
    copy.error = result.error;
    copy.detail = result.reason;
    return copy;
}

CopyResult copyCancelled() {
    CopyResult copy;
    copy.outcome = CopyOutcome::Cancelled;
    return copy;
}

bool lostOrStopped(const RcResult& result) {
    return result.error == kRemoteConnectionLost || result.error == kRcloneStopped;
}

// A copy through rclone: one call for a small file; a job watched every tenth of a second for a
// large one, whose progress the observer hears and which a cancel stops.
RcResult transfer(RcClient& client, json input, const std::string& group, CopyObserver& observer,
                  int64_t total, bool& cancelled) {
    cancelled = false;
    RcCallOptions options;
    options.group = group;
    options.movesFileData = true;
    options.config["IgnoreExisting"] = true; // a fresh temporary name: nothing may be replaced there
    json reply;
    if (total < kWatchedBytes)
        return client.call("operations/copyfile", std::move(input), reply, options);
    input["_async"] = true;
    if (RcResult started = client.call("operations/copyfile", std::move(input), reply, options); !started)
        return started;
    const int64_t job = reply.value("jobid", int64_t{-1});
    if (job < 0)
        return RcResult::failure(kRemoteFailed, "rclone started no job for the copy");
    bool stopAsked = false;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        json status;
        if (RcResult asked = client.call("job/status", json{{"jobid", job}}, status); !asked)
            return asked;
        if (status.value("finished", false)) {
            if (stopAsked) {
                cancelled = true;
                return RcResult::failure(ECANCELED, "cancelled");
            }
            if (status.value("success", false))
                return {};
            const std::string error = status.value("error", std::string("the copy failed"));
            return RcResult::failure(classifyRcloneError(500, error), error, 500);
        }
        json stats;
        if (client.call("core/stats", json{{"group", group}}, stats))
            observer.progress(static_cast<uint64_t>(std::max<int64_t>(stats.value("bytes", int64_t{0}), 0)),
                              static_cast<uint64_t>(total));
        if (!stopAsked && observer.cancelRequested()) {
            json ignored;
            client.call("job/stop", json{{"jobid", job}}, ignored);
            stopAsked = true;
        }
    }
}

// A name pattern for mkstemp/mkdtemp in this machine's temporary folder ($TMPDIR, else /tmp).
std::string scratchPattern(std::string_view stem) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/paritas-" + std::string(stem) + "-XXXXXX";
}

// A private file in the temporary folder holding `content`, for rclone to read (an empty file to
// copy, the names of an upload), removed with the object. error(): why it could not be written.
class ScratchFile {
public:
    ScratchFile(std::string_view stem, std::string_view content) : path_(scratchPattern(stem)) {
        const int fd = ::mkstemp(path_.data());
        if (fd < 0) {
            error_ = errno;
            path_.clear();
            return;
        }
        for (std::size_t at = 0; at < content.size();) {
            const ssize_t n = ::write(fd, content.data() + at, content.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                break;
            }
            at += static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0 && error_ == 0)
            error_ = errno;
    }
    ~ScratchFile() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    int error() const { return error_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int error_ = 0;
};

// A private folder for the files of a proof, removed with its files.
class ProofFolder {
public:
    ProofFolder() {
        std::string pattern = scratchPattern("proof");
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ProofFolder() {
        if (path_.empty())
            return;
        for (const char* name : {"/kept", "/duplicate"})
            ::unlink((path_ + name).c_str());
        ::rmdir(path_.c_str());
    }
    ProofFolder(const ProofFolder&) = delete;
    ProofFolder& operator=(const ProofFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct SilentObserver : CopyObserver {};

// An empty file at `at`, copied from an empty local file (rc has no call that makes one). Nothing
// standing there is replaced (IgnoreExisting).
RcResult putEmptyFile(RcClient& client, const RemotePath& at, const std::string& group) {
    const ScratchFile empty("empty", {});
    if (empty.error())
        return RcResult::failure(empty.error(), "an empty file to copy to " + at.text());
    RcCallOptions options;
    options.group = group;
    options.config["IgnoreExisting"] = true;
    json reply;
    return client.call(
        "operations/copyfile",
        json{{"srcFs", "/"}, {"srcRemote", empty.path().substr(1)}, {"dstFs", at.fs}, {"dstRemote", at.path}},
        reply, options);
}

// What a scan's listings showed, for the planners' questions: one 64-bit word per entry (the hash of
// its path, and whether it is a file, a folder, or a folder whose entries were all listed). A question
// about a path whose folder was listed is answered from it; any other goes to the remote. Two paths
// with one hash would make an absent one look present, which costs only a stat (a file's facts are
// always asked of the remote) or a folder not made that the copy into it makes anyway.
class ListingIndex {
public:
    enum class Known { Unknown, Absent, File, Folder };

    void reset(bool rootAbsent) {
        std::lock_guard lock(mutex_);
        keys_.clear();
        keys_.shrink_to_fit();
        active_ = true;
        sorted_ = true;
        rootAbsent_ = rootAbsent;
    }
    void disable() {
        std::lock_guard lock(mutex_);
        active_ = false;
        keys_.clear();
        keys_.shrink_to_fit();
    }
    void addFolder(const std::string& folder, const std::vector<RemoteEntry>& entries) {
        std::vector<uint64_t> added;
        added.reserve(entries.size() + 1);
        const std::string prefix = asFolder(folder);
        added.push_back(keyOf(folder, kListed));
        std::string path = prefix;
        for (const RemoteEntry& entry : entries) {
            path.resize(prefix.size());
            path += entry.name;
            added.push_back(keyOf(path, entry.isFolder ? kFolder : kFile));
        }
        std::lock_guard lock(mutex_);
        if (!active_)
            return;
        keys_.insert(keys_.end(), added.begin(), added.end());
        sorted_ = false;
    }
    Known kindAt(const std::string& path, const std::string& root) {
        std::lock_guard lock(mutex_);
        if (!active_)
            return Known::Unknown;
        if (rootAbsent_)
            return Known::Absent;
        if (!sorted_) {
            std::sort(keys_.begin(), keys_.end());
            keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
            sorted_ = true;
        }
        const std::string_view at = withoutTrailingSlash(path);
        if (asFolder(std::string(at)) == root)
            return has(at, kListed) ? Known::Folder : Known::Unknown;
        // The nearest folder above the path that was listed answers: the path itself when it lists the
        // path's own folder; otherwise the path lies in a folder that listing did not show (nothing is
        // there: a folder renamed in A, or a new one, and every file planned into it) or in one it
        // showed but nobody listed (unknown).
        std::string_view below = at;
        for (;;) {
            const std::size_t slash =
                below.empty() ? std::string_view::npos : below.rfind('/', below.size() - 1);
            if (slash == std::string_view::npos)
                return Known::Unknown;
            if (has(at.substr(0, slash + 1), kListed))
                break;
            if (asFolder(std::string(at.substr(0, slash))) == root)
                return Known::Unknown; // not even the top was listed
            below = at.substr(0, slash);
        }
        if (below.size() < at.size())
            return has(below, kFolder) ? Known::Unknown : Known::Absent;
        if (has(at, kFolder))
            return Known::Folder;
        if (has(at, kFile))
            return Known::File;
        return Known::Absent;
    }

private:
    static constexpr uint64_t kFile = 1, kFolder = 2, kListed = 3;
    static uint64_t keyOf(std::string_view path, uint64_t tag) {
        return (fnv1a(withoutTrailingSlash(path)) << 2) | tag;
    }
    bool has(std::string_view path, uint64_t tag) const {
        return std::binary_search(keys_.begin(), keys_.end(), keyOf(path, tag));
    }

    std::mutex mutex_;
    std::vector<uint64_t> keys_; // under mutex_
    bool active_ = false;
    bool sorted_ = true;
    bool rootAbsent_ = false;
};

} // namespace

struct RemoteLocation::Shared {
    std::shared_ptr<RemoteSession> session;
    RemotePath root;
    std::string text;
    std::once_flag infoOnce;
    RemoteFsInfo info;
    std::once_flag listersOnce;
    int listers = kListingsNear;
    ListingIndex index;

    std::mutex mutex;
    std::unordered_set<std::string> madeFolders; // folders this run made here (texts ending with "/")
    bool trashSaid = false;
    // The run ahead's folder moves: their states (0 not tried, 1 done, 2 not possible), the outcomes of
    // the lines they carried, and the folders they took away.
    FolderMovePlan folderMoves;
    std::vector<int> folderMoveState;
    std::unordered_map<std::string, FsResult> carried; // source + "\n" + destination
    std::unordered_set<std::string> takenAway;
    std::unordered_set<std::string> arrived; // folders a folder move of this run brought to their place
    // The run ahead's new folders filled in one go: their states (as folder moves'), and the files
    // that arrived with them, by their lines (source + "\n" + destination), with their sizes.
    FolderUploadPlan folderUploads;
    std::vector<int> folderUploadState; // 0 not tried, 1 staged by a wave, 2 done or not possible
    struct Staged {
        RemotePath wave;                                   // the wave's hidden folder
        std::vector<std::pair<std::string, FileStamp>> files; // below the new folder, as planned
    };
    std::unordered_map<std::size_t, Staged> staged;
    std::vector<RemotePath> waves; // the hidden folders of waves, until they are removed
    std::unordered_map<std::string, int64_t> sent;
    CopyObserver* watcher = nullptr; // the run's, from actionsAhead to closeJournal

    std::mutex versionsMutex;
    bool versionsClaimed = false; // under versionsMutex

    std::mutex journalMutex;
    std::string journal;                     // the run's mark at the top, once made
    std::unordered_set<std::string> pending; // the run's temporary names not yet settled (texts)
};

std::unique_ptr<RemoteLocation> RemoteLocation::open(const std::string& text, RcResult& failure) {
    std::string why;
    const std::string written = remoteLocationText(text, &why);
    if (written.empty() || written != text) {
        failure = RcResult::failure(EINVAL, written.empty() ? why : "write the location as " + written);
        return nullptr;
    }
    std::shared_ptr<RemoteSession> session = RemoteSession::acquire(failure);
    if (!session)
        return nullptr;
    return std::make_unique<RemoteLocation>(parseLocation(text), std::move(session));
}

RemoteLocation::RemoteLocation(const ParsedLocation& parsed, std::shared_ptr<RemoteSession> session)
    : Location(parsed.text()), shared_(std::make_shared<Shared>()) {
    shared_->session = std::move(session);
    shared_->root = parsed.remote;
    shared_->text = parsed.text();
}

RemoteLocation::RemoteLocation(std::shared_ptr<Shared> shared) : Location(shared->text), shared_(std::move(shared)) {}

RemoteLocation::~RemoteLocation() = default;

std::unique_ptr<Location> RemoteLocation::forAnotherThread() const {
    return std::unique_ptr<Location>(new RemoteLocation(shared_));
}

RemoteSession& RemoteLocation::session() {
    return *shared_->session;
}

const RemotePath& RemoteLocation::root() const {
    return shared_->root;
}

const RemoteFsInfo& RemoteLocation::info() {
    std::call_once(shared_->infoOnce, [this] { shared_->session->fsInfo(shared_->root.fs, shared_->info); });
    return shared_->info;
}

bool RemoteLocation::remotePathOf(const std::string& path, RemotePath& at) const {
    if (!holds(path))
        return false;
    const std::string& text = shared_->text;
    at.fs = shared_->root.fs;
    at.path = shared_->root.path + (path.size() > text.size() ? path.substr(text.size()) : std::string());
    return true;
}

std::string RemoteLocation::folderTextOf(const std::string& path) const {
    return asFolder(path.size() + 1 == shared_->text.size() ? shared_->text : path);
}

// ---- the location as a whole ----

bool RemoteLocation::exists() {
    RemoteStat seen;
    const RcResult asked = remote::stat(session().client(), root(), seen);
    // A remote that cannot be asked is taken to be there: its listing then fails, and a run on what
    // could not be read is refused, as for a local folder that cannot be read.
    const bool there = !asked.ok() || seen.kind == RemoteKind::Folder;
    shared_->index.reset(asked.ok() && seen.kind == RemoteKind::Absent);
    return there;
}

FileSystemCapabilities RemoteLocation::capabilities() {
    const RemoteFsInfo& facts = info();
    FileSystemCapabilities caps;
    caps.unnamedFiles = false;
    caps.renameNoReplace = false;
    caps.renameExchange = false;
    caps.hardLinks = false;
    caps.caseSensitive = !facts.caseInsensitive;
    caps.symbolicLinks = false;
    caps.ownersAndModes = false;
    caps.extendedAttributes = false;
    caps.timeGranularityNs = facts.keepsModifiedTimes ? std::max<int64_t>(facts.precisionNanos, 1) : 0;
    caps.clones = false;
    caps.stableInodes = false;
    return caps;
}

// A remote of the local backend is a local folder, and shares its key with the folder's own;
// anything else is keyed by its fs (the remote's name, or its backend and parameters) and path.
std::string RemoteLocation::lockKey() {
    if (root().fs == ":local:/")
        return folderIdentityKey("/" + root().path);
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(shared_->text)));
    return std::string("remote-") + hash;
}

FolderAncestry RemoteLocation::ancestry() {
    if (root().fs == ":local:/")
        return folderAncestry("/" + root().path);
    return {};
}

int RemoteLocation::readersWanted() {
    std::call_once(shared_->listersOnce, [this] {
        // The first question may log in; the quicker of the next two is the time of one.
        RcClient& client = session().client();
        const RemotePath probe = root().child(".paritas-probe");
        RemoteStat seen;
        if (!remote::stat(client, probe, seen))
            return;
        auto fastest = std::chrono::steady_clock::duration::max();
        for (int i = 0; i < 2; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (!remote::stat(client, probe, seen))
                return;
            fastest = std::min(fastest, std::chrono::steady_clock::now() - start);
        }
        shared_->listers = fastest >= kFarQuestion ? kListingsFar : kListingsNear;
    });
    return shared_->listers;
}

int64_t RemoteLocation::timePrecisionNanos() {
    const RemoteFsInfo& facts = info();
    return facts.keepsModifiedTimes ? std::max<int64_t>(facts.precisionNanos, 1) : 0;
}

// ---- interrupted runs ----

RcResult RemoteLocation::recordTemporary(const RemotePath& temporary) {
    std::lock_guard lock(shared_->journalMutex);
    if (shared_->journal.empty()) {
        const std::string name = journalFileName();
        if (RcResult made = putEmptyFile(session().client(), root().child(name), session().lineGroup());
            !made)
            return made;
        shared_->journal = name;
    }
    shared_->pending.insert(temporary.text());
    return {};
}

void RemoteLocation::settled(const RemotePath& temporary) {
    std::lock_guard lock(shared_->journalMutex);
    shared_->pending.erase(temporary.text());
}

void RemoteLocation::closeJournal() {
    std::vector<RemotePath> waves;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->watcher = nullptr;
        waves.swap(shared_->waves);
    }
    // What the waves left: the empty folders above the parts that moved, and parts no line took.
    for (const RemotePath& wave : waves) {
        const RcResult gone = remote::removeTree(session().client(), wave, session().lineGroup());
        if (gone || gone.error == ENOENT)
            settled(wave);
    }
    std::lock_guard lock(shared_->journalMutex);
    if (shared_->journal.empty() || !shared_->pending.empty())
        return;
    const RcResult gone = remote::deleteFile(session().client(), root().child(shared_->journal),
                                             RemoteExpectation::anything(), session().lineGroup());
    if (gone || gone.error == ENOENT)
        shared_->journal.clear();
}

std::vector<std::string> RemoteLocation::recoverInterruptedWork(Disposal* disposal) {
    std::vector<std::string> lines;
    RcClient& client = session().client();
    const std::string group = session().lineGroup();
    std::vector<RemoteEntry> top;
    if (!remote::listFolder(client, root(), top, group))
        return lines; // no location yet, or one that cannot be read: the scan tells which
    std::vector<std::string> marks;
    bool localJournal = false;
    for (const RemoteEntry& entry : top) {
        if (entry.isFolder || !isJournalName(entry.name))
            continue;
        if (entry.size == 0)
            marks.push_back(entry.name);
        else
            localJournal = true;
    }
    if (marks.empty())
        return lines;

    std::vector<RemoteEntry> below;
    if (const RcResult listed = remote::listTree(client, root(), below, group); !listed) {
        lines.push_back("The leftovers of an interrupted run in " + text() +
                        " could not be looked for: " + describe(listed));
        return lines;
    }
    const std::string versions = std::string(kVersionsFolderName) + "/";
    std::size_t kept = 0;
    std::string purged; // the last hidden folder removed, ending with "/": what was in it went along
    for (const RemoteEntry& entry : below) {
        if (entry.name.compare(0, versions.size(), versions) == 0 ||
            (!purged.empty() && entry.name.compare(0, purged.size(), purged) == 0))
            continue;
        const std::size_t slash = entry.name.rfind('/');
        const std::string_view name =
            std::string_view(entry.name).substr(slash == std::string::npos ? 0 : slash + 1);
        if (entry.isFolder) {
            // The hidden folder of a new folder's upload: what arrived there is sent again.
            if (!isTemporaryName(name) || localJournal)
                continue;
            const RcResult gone = remote::removeTree(client, RemotePath{root().fs, root().path + entry.name}, group);
            if (gone || gone.error == ENOENT) {
                purged = entry.name + "/";
                lines.push_back("Removed the unfinished upload of an interrupted run: " + text() + entry.name + "/");
            } else {
                lines.push_back("A leftover of an interrupted run stays: " + text() + entry.name + "/ (" +
                                describe(gone) + ")");
                ++kept;
            }
            continue;
        }
        if (!isTemporaryName(name) && !isAsideName(name))
            continue;
        if (isTemporaryName(name) && localJournal) {
            // A local run on this same folder was killed too: its journal says what such a name holds.
            lines.push_back("A leftover of an interrupted run stays: " + text() + entry.name +
                            " (a journal of a run on the local folder names it)");
            ++kept;
            continue;
        }
        bool done = false;
        lines.push_back(settleLeftover(entry, entry.name, disposal, group, done));
        kept += !done;
    }
    if (kept > 0)
        return lines; // the mark stays: the next run looks again
    for (const std::string& mark : marks)
        remote::deleteFile(client, root().child(mark), RemoteExpectation::anything(), group);
    return lines;
}

std::string RemoteLocation::settleLeftover(const RemoteEntry& entry, const std::string& relative,
                                           Disposal* disposal, const std::string& group, bool& settledIt) {
    RcClient& client = session().client();
    const RemotePath at{root().fs, root().path + relative};
    const std::string shownAt = text() + relative;
    const RemoteExpectation asFound = RemoteExpectation::file(entry);
    auto staying = [&](const RcResult& why) {
        settledIt = false;
        return "A leftover of an interrupted run stays: " + shownAt + " (" + describe(why) + ")";
    };
    const std::size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash + 1);
    std::string original;
    if (!isAsideName(relative.substr(folder.size()), &original)) {
        const RcResult gone = remote::deleteFile(client, at, asFound, group);
        settledIt = gone || gone.error == ENOENT;
        return settledIt ? "Removed the unfinished copy of an interrupted run: " + shownAt : staying(gone);
    }
    const RemotePath name{root().fs, root().path + folder + original};
    const std::string shownName = text() + folder + original;
    RemoteStat there;
    if (const RcResult asked = remote::stat(client, name, there, group); !asked)
        return staying(asked);
    if (there.kind == RemoteKind::Absent) {
        // The new content never took the name: the old file is the one to have.
        const RcResult back = remote::moveFile(client, at, asFound, name, group);
        settledIt = back.ok();
        return settledIt ? "Put back the file an interrupted run had moved aside: " + shownName
                         : staying(back);
    }
    if (!disposal) {
        const RcResult gone = remote::deleteFile(client, at, asFound, group);
        settledIt = gone.ok();
        return settledIt ? "Deleted the old version an interrupted run had replaced: " + shownName
                         : staying(gone);
    }
    const KeepingRule rule = disposal->keepingRule();
    if (rule.kind == KeepingRule::Kind::Versions && rule.chosenFolder.empty()) {
        RemotePath keptAt;
        const RcResult kept = keepOldVersion(at, name, asFound, *disposal, group, keptAt);
        settledIt = kept.ok();
        return settledIt ? "Kept the old version an interrupted run had replaced: " + shownName + " -> " +
                               keptAt.text()
                         : staying(kept);
    }
    // Nowhere to go that keeps it (a remote has no trash; a local versions folder is on another
    // machine's disk): it stays under its hidden name, which loses nothing, and every run says so.
    settledIt = false;
    return "A leftover of an interrupted run stays: " + shownAt + " (the old version of " + shownName + "; " +
           (rule.kind == KeepingRule::Kind::Trash
                ? std::string("a remote location has no trash")
                : "the versions folder " + rule.chosenFolder + " is a local folder") +
           ": with removed files deleted or kept in " + text() + kVersionsFolderName +
           ", the next run settles it)";
}

// ---- questions ----

FolderRead RemoteLocation::readFolder(const std::string& folder, const FolderReadOptions& options) {
    FolderRead read;
    RemotePath at;
    if (!remotePathOf(folder, at)) {
        read.openError = kOutsideLocations;
        return read;
    }
    std::vector<RemoteEntry> entries;
    if (const RcResult listed = remote::listFolder(session().client(), at, entries); !listed) {
        // As locally: a folder gone since its parent was read holds nothing; only the root must be there.
        read.vanished = !options.isRoot && (listed.error == ENOENT || listed.error == ENOTDIR);
        read.openError = read.vanished ? 0 : listed.error;
        return read;
    }
    shared_->index.addFolder(folderTextOf(folder), entries);
    std::size_t bytes = 0;
    for (const RemoteEntry& entry : entries)
        bytes += entry.name.size();
    read.names.reserve(bytes);
    read.entries.reserve(entries.size());
    for (const RemoteEntry& entry : entries) {
        FolderRead::Entry e;
        e.nameOffset = uint32_t(read.names.size());
        e.nameLength = uint32_t(entry.name.size());
        e.type = entry.isFolder ? EntryType::Directory : EntryType::File;
        // A file of unknown size (documents a cloud drive makes itself) cannot be compared or copied.
        e.factsKnown = entry.isFolder || entry.size >= 0;
        e.factsError = e.factsKnown ? 0 : ENODATA;
        e.size = std::max<int64_t>(entry.size, 0);
        e.modifiedTime = entry.modifiedTime;
        e.modifiedNanos = entry.modifiedNanos;
        read.names.append(entry.name);
        read.entries.push_back(e);
    }
    return read;
}

EntryFacts RemoteLocation::entryAt(const std::string& path) {
    EntryFacts facts;
    RemotePath at;
    if (path.empty() || !remotePathOf(path, at)) {
        facts.error = path.empty() ? 0 : kOutsideLocations;
        return facts;
    }
    switch (shared_->index.kindAt(path, shared_->text)) {
    case ListingIndex::Known::Absent:
        return facts;
    case ListingIndex::Known::Folder:
        facts.kind = EntryKind::Folder;
        return facts;
    case ListingIndex::Known::File: // its facts are asked of the remote
    case ListingIndex::Known::Unknown:
        break;
    }
    RemoteStat seen;
    if (const RcResult asked = remote::stat(session().client(), at, seen); !asked) {
        facts.error = asked.error == ENOENT ? 0 : asked.error;
        return facts;
    }
    if (seen.kind == RemoteKind::Folder) {
        facts.kind = EntryKind::Folder;
    } else if (seen.kind == RemoteKind::File) {
        facts.kind = EntryKind::File;
        facts.stamp = stampOf(seen.entry);
    }
    return facts;
}

bool RemoteLocation::sameEntry(const std::string& first, const std::string& second) {
    auto lowered = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        return text;
    };
    if (first != second && !(info().caseInsensitive && lowered(first) == lowered(second)))
        return false;
    return entryAt(first).exists() && entryAt(second).exists();
}

// ---- checked actions ----

FsResult RemoteLocation::makeFolder(const std::string& path) {
    RemotePath at;
    if (!remotePathOf(path, at))
        return FsResult{kOutsideLocations, {}};
    const std::string folder = folderTextOf(path);
    std::optional<std::size_t> moveHere;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->arrived.count(folder)) {
            shared_->madeFolders.insert(folder);
            return {};
        }
        const std::vector<FolderMove>& moves = shared_->folderMoves.moves();
        for (std::size_t k = 0; k < moves.size() && !moveHere; ++k)
            if (moves[k].to == folder && shared_->folderMoveState[k] == 0)
                moveHere = k;
    }
    if (moveHere && tryFolderMove(*moveHere, true)) {
        std::lock_guard lock(shared_->mutex);
        shared_->madeFolders.insert(folder);
        return {};
    }
    std::optional<std::size_t> uploadHere;
    {
        std::lock_guard lock(shared_->mutex);
        if (const FolderUpload* upload = shared_->folderUploads.at(folder)) {
            const auto k = static_cast<std::size_t>(upload - shared_->folderUploads.uploads().data());
            if (shared_->folderUploadState[k] != 2)
                uploadHere = k;
        }
    }
    if (uploadHere && tryFolderUpload(*uploadHere)) {
        std::lock_guard lock(shared_->mutex);
        shared_->madeFolders.insert(folder);
        return {};
    }
    const RcResult made = remote::makeFolder(session().client(), at, session().lineGroup());
    if (made) {
        std::lock_guard lock(shared_->mutex);
        shared_->madeFolders.insert(folderTextOf(path));
    }
    return fsResultOf(made);
}

bool RemoteLocation::realFolderAt(const std::string& path) {
    RemotePath at;
    RemoteStat seen;
    return remotePathOf(path, at) && remote::stat(session().client(), at, seen) && seen.kind == RemoteKind::Folder;
}

FsResult RemoteLocation::removeEmptyFolder(const std::string& path) {
    RemotePath at;
    if (!remotePathOf(path, at))
        return FsResult{kOutsideLocations, {}};
    const std::string group = session().lineGroup();
    bool takenAway = false;
    {
        std::lock_guard lock(shared_->mutex);
        takenAway = shared_->takenAway.count(folderTextOf(path)) > 0;
    }
    if (takenAway) {
        // A folder move of this run took it away, empty of everything else.
        RemoteStat seen;
        const RcResult asked = remote::stat(session().client(), at, seen, group);
        if (asked && seen.kind == RemoteKind::Absent)
            return {};
    }
    return fsResultOf(remote::removeFolder(session().client(), at, group));
}

FsResult RemoteLocation::moveIfUnchanged(const std::string& source, const FileStamp* planned,
                                         const std::string& destination) {
    RemotePath from, to;
    if (!remotePathOf(source, from) || !remotePathOf(destination, to))
        return FsResult{kOutsideLocations, {}};
    const std::string key = source + "\n" + destination;
    std::vector<std::size_t> carriers;
    {
        std::lock_guard lock(shared_->mutex);
        if (const auto done = shared_->carried.find(key); done != shared_->carried.end()) {
            FsResult outcome = done->second;
            shared_->carried.erase(done);
            return outcome;
        }
        carriers = shared_->folderMoves.carriers(source, destination);
    }
    for (const std::size_t index : carriers) {
        int state = 0;
        {
            std::lock_guard lock(shared_->mutex);
            state = shared_->folderMoveState[index];
        }
        if (state == 0)
            tryFolderMove(index, false);
        std::lock_guard lock(shared_->mutex);
        if (const auto done = shared_->carried.find(key); done != shared_->carried.end()) {
            FsResult outcome = done->second;
            shared_->carried.erase(done);
            return outcome;
        }
    }
    return fsResultOf(
        remote::moveFile(session().client(), from, expectationOf(planned), to, session().lineGroup()));
}

FsResult RemoteLocation::deleteIfUnchanged(const std::string& path, const FileStamp* planned) {
    RemotePath at;
    if (!remotePathOf(path, at))
        return FsResult{kOutsideLocations, {}};
    return fsResultOf(remote::deleteFile(session().client(), at, expectationOf(planned), session().lineGroup()));
}

RcResult RemoteLocation::trashRefusal() {
    std::lock_guard lock(shared_->mutex);
    const bool said = shared_->trashSaid;
    shared_->trashSaid = true;
    return RcResult::failure(kNoTrashOnRemote,
                             said ? std::string()
                                  : "keep removed files in the versions folder (.paritas-versions at the top of " +
                                        shared_->text +
                                        ", moved there on the server) or have them deleted; every line "
                                        "that would put a file of it into a trash fails");
}

// Into ".paritas-versions" at the top of the location, under the file's path below it and a dated
// name, by a server-side move that never replaces anything there.
RcResult RemoteLocation::keepOldVersion(const RemotePath& at, const RemotePath& versionOf,
                                        const RemoteExpectation& expected, Disposal& disposal,
                                        const std::string& group, RemotePath& keptAt) {
    const KeepingRule rule = disposal.keepingRule();
    if (rule.kind == KeepingRule::Kind::Trash)
        return trashRefusal();
    if (!rule.chosenFolder.empty())
        return RcResult::failure(kVersionsOnOtherFileSystem,
                                 "the versions folder " + rule.chosenFolder +
                                     " is a local folder; files of a remote location are kept in " +
                                     shared_->text + kVersionsFolderName);
    const std::string relative = versionOf.path.substr(root().path.size());
    const std::size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : relative.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    claimVersionsFolder(group);
    const RemotePath versions = root().child(kVersionsFolderName);
    RcResult moved;
    for (int attempt = 0; attempt < kVersionNameAttempts; ++attempt) {
        const RemotePath target = versions.child(folder + disposal.versionName(name, attempt));
        moved = remote::moveFile(session().client(), at, expected, target, group);
        if (moved) {
            keptAt = target;
            disposal.keptElsewhere(versions.text());
            return {};
        }
        // EEXIST comes from the check of the target: that name is taken, the next is tried.
        if (moved.error != EEXIST)
            return moved;
    }
    return moved;
}

// As locally: the folder Paritas makes (or finds empty) gets its mark, so that pruning knows it for
// Paritas's own; one the user filled keeps the versions too but never loses a file to pruning. A mark
// that cannot be written leaves the folder unpruned, which loses nothing.
void RemoteLocation::claimVersionsFolder(const std::string& group) {
    std::lock_guard lock(shared_->versionsMutex);
    if (shared_->versionsClaimed)
        return;
    shared_->versionsClaimed = true;
    RcClient& client = session().client();
    const RemotePath versions = root().child(kVersionsFolderName);
    std::vector<RemoteEntry> inside;
    const RcResult listed = remote::listFolder(client, versions, inside, group);
    if ((!listed && listed.error != ENOENT) || (listed && !inside.empty()))
        return;
    putEmptyFile(client, versions.child(kVersionsMarkName), group);
}

std::vector<std::string> RemoteLocation::pruneOwnVersions(int keepDays, std::time_t now) {
    std::vector<std::string> lines;
    if (keepDays <= 0)
        return lines;
    RcClient& client = session().client();
    const std::string group = session().lineGroup();
    const RemotePath versions = root().child(kVersionsFolderName);
    const std::string shown = text() + kVersionsFolderName;
    std::vector<RemoteEntry> below;
    if (const RcResult listed = remote::listTree(client, versions, below, group); !listed) {
        if (listed.error != ENOENT)
            lines.push_back("The versions folder " + shown +
                            " could not be pruned completely: " + describe(listed));
        return lines;
    }
    if (std::none_of(below.begin(), below.end(), [](const RemoteEntry& entry) {
            return !entry.isFolder && entry.name == kVersionsMarkName;
        }))
        return lines; // never marked: whatever is there is not Paritas's to remove

    auto folderOf = [](const std::string& path) {
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    };
    // What each folder holds ("" the top, else "a/b/"), so that the folders pruning empties go too.
    std::map<std::string, std::size_t> holding;
    for (const RemoteEntry& entry : below) {
        ++holding[folderOf(entry.name)];
        if (entry.isFolder)
            holding[entry.name + "/"];
    }
    const std::time_t cutoff = now - std::time_t(keepDays) * 24 * 60 * 60;
    std::size_t removed = 0;
    RcResult failed;
    for (const RemoteEntry& entry : below) {
        if (entry.isFolder || entry.name == kVersionsMarkName)
            continue;
        std::time_t kept = 0;
        if (!versionTimeInName(entry.name.substr(folderOf(entry.name).size()), kept) || kept >= cutoff)
            continue;
        const RcResult gone =
            remote::deleteFile(client, RemotePath{versions.fs, versions.path + "/" + entry.name},
                               RemoteExpectation::file(entry), group);
        if (gone) {
            ++removed;
            --holding[folderOf(entry.name)];
        } else if (failed.ok()) {
            failed = gone;
        }
    }
    // A folder sorts after the folder holding it: from the end, each is emptied before its parent.
    for (auto folder = holding.rbegin(); folder != holding.rend(); ++folder) {
        if (folder->first.empty() || folder->second > 0)
            continue;
        const std::string path = folder->first.substr(0, folder->first.size() - 1);
        if (remote::removeFolder(client, RemotePath{versions.fs, versions.path + "/" + path}, group))
            --holding[folderOf(path)];
    }
    if (removed > 0)
        lines.push_back("Removed " + std::to_string(removed) + " version(s) older than " +
                        std::to_string(keepDays) + " day(s) from " + shown);
    if (!failed.ok())
        lines.push_back("The versions folder " + shown +
                        " could not be pruned completely: " + describe(failed));
    return lines;
}

Disposed RemoteLocation::disposeIfUnchanged(const std::string& path, const FileStamp* planned,
                                            Disposal& disposal) {
    RemotePath at;
    if (!remotePathOf(path, at))
        return Disposed{kOutsideLocations, {}, {}};
    const std::string group = session().lineGroup();
    if (disposal.keepingRule().kind == KeepingRule::Kind::Delete) {
        const RcResult deleted = remote::deleteFile(session().client(), at, expectationOf(planned), group);
        return Disposed{deleted.error, deleted.reason, {}};
    }
    RemotePath keptAt;
    const RcResult kept = keepOldVersion(at, at, expectationOf(planned), disposal, group, keptAt);
    return Disposed{kept.error, kept.reason, kept ? keptAt.text() : std::string()};
}

RcResult RemoteLocation::sendToTemporary(Location& sourceSide, const std::string& source,
                                         const FileStamp* plannedSource, const RemotePath& temporary,
                                         const std::string& group, CopyObserver& observer, uint64_t& bytes) {
    json input = {{"dstFs", temporary.fs}, {"dstRemote", temporary.path}};
    int64_t total = 0;
    bool upload = false;
    if (auto* local = dynamic_cast<LocalLocation*>(&sourceSide.underlying())) {
        // rclone opens the path as written: the source is looked at just before, not through a link.
        struct stat st {};
        if (!local->holds(source) || source.empty() || source.front() != '/')
            return RcResult::failure(kOutsideLocations, {});
        if (::lstat(source.c_str(), &st) != 0)
            return RcResult::failure(errno, {});
        if (S_ISLNK(st.st_mode))
            return RcResult::failure(ELOOP, "a symbolic link is not copied to a remote location");
        if (!S_ISREG(st.st_mode))
            return RcResult::failure(S_ISDIR(st.st_mode) ? EISDIR : kNoLongerAFile, {});
        if (plannedSource && !sameFileOn(&local->readingCapabilities(), stampOf(st), *plannedSource))
            return RcResult::failure(kChangedSincePlanning, "\"" + source + "\" changed since it was seen");
        input["srcFs"] = "/";
        input["srcRemote"] = source.substr(1);
        total = st.st_size;
        upload = true;
    } else if (auto* other = dynamic_cast<RemoteLocation*>(&sourceSide.underlying())) {
        RemotePath from;
        if (!other->remotePathOf(source, from))
            return RcResult::failure(kOutsideLocations, {});
        RemoteStat seen;
        if (RcResult asked = remote::stat(session().client(), from, seen, group); !asked)
            return asked;
        if (seen.kind != RemoteKind::File)
            return RcResult::failure(seen.kind == RemoteKind::Absent ? ENOENT : EISDIR,
                                     "\"" + source + "\" is no file");
        if (!expectationOf(plannedSource).heldBy(seen))
            return RcResult::failure(kChangedSincePlanning, "\"" + source + "\" changed since it was seen");
        input["srcFs"] = from.fs;
        input["srcRemote"] = from.path;
        total = seen.entry.size;
    } else {
        return RcResult::failure(EXDEV, "the source is neither a local folder nor a remote");
    }
    observer.progress(0, static_cast<uint64_t>(total));
    if (observer.cancelRequested())
        return RcResult::failure(ECANCELED, {});
    bool cancelled = false;
    RcResult sent = transfer(session().client(), std::move(input), group, observer, total, cancelled);
    if (!sent)
        return sent; // what it left under the temporary name is the caller's to remove
    // No stat of the copy here: rclone's copy compares the sizes (and a hash both sides know) after
    // the transfer and fails on a difference, and its local reader fails a source that changes while
    // it is read; a stat more would cost a round trip a file, a third of a small file's copy.
    bytes = static_cast<uint64_t>(total);
    if (upload)
        session().countUpload(bytes);
    observer.progress(bytes, bytes);
    return {};
}

CopyResult RemoteLocation::placeCopy(Location& sourceSide, const std::string& source,
                                     const FileStamp* plannedSource, const std::string& destination,
                                     const DestinationPlan& plan, CopyObserver& observer,
                                     const CopyOptions& options) {
    RemotePath target;
    if (!remotePathOf(destination, target) || root().path == target.path)
        return copyFailure(RcResult::failure(kOutsideLocations, {}));
    {
        // Sent with its new folder in one go (tryFolderUpload), and found there as planned.
        std::unique_lock lock(shared_->mutex);
        if (const auto found = shared_->sent.find(source + "\n" + destination); found != shared_->sent.end()) {
            const auto bytes = static_cast<uint64_t>(found->second);
            shared_->sent.erase(found);
            lock.unlock();
            session().countUpload(bytes);
            observer.progress(bytes, bytes);
            return CopyResult{CopyOutcome::Copied, 0, {}, {}};
        }
    }
    RcClient& client = session().client();
    const std::string group = session().lineGroup();

    // A file to be replaced must be the planned one, and must have somewhere to go, before anything
    // is sent. A new file's name is checked right before the move that gives it (below).
    RemoteStat old;
    if (plan.kind != DestinationPlan::Kind::Nothing) {
        if (RcResult asked = remote::stat(client, target, old, group); !asked)
            return copyFailure(asked);
        if (old.kind == RemoteKind::Folder)
            return copyFailure(RcResult::failure(EISDIR, "a folder stands at \"" + destination + "\""));
        if (plan.kind == DestinationPlan::Kind::Planned &&
            (old.kind != RemoteKind::File || !samePlannedFile(old.entry, plan.stamp)))
            return copyFailure(RcResult::failure(kChangedSincePlanning,
                                                 "\"" + destination + "\" is not the file that was planned"));
        if (old.kind == RemoteKind::File && options.disposal) {
            const KeepingRule rule = options.disposal->keepingRule();
            if (rule.kind == KeepingRule::Kind::Trash)
                return copyFailure(trashRefusal());
            if (!rule.chosenFolder.empty())
                return copyFailure(RcResult::failure(kVersionsOnOtherFileSystem,
                                                     "the versions folder " + rule.chosenFolder +
                                                         " is a local folder"));
        }
    }

    const RemotePath temporary = target.parent().child(copyTemporaryName());
    if (RcResult recorded = recordTemporary(temporary); !recorded)
        return copyFailure(recorded);
    // A name of the run is settled once nothing stands there any more; one that cannot be removed now
    // (the connection is lost) keeps the run's mark for the next run to settle.
    auto discard = [&](const RemotePath& name) {
        const RcResult gone = remote::deleteFile(client, name, RemoteExpectation::anything(), group);
        if (gone || gone.error == ENOENT)
            settled(name);
    };
    uint64_t bytes = 0;
    if (RcResult sent = sendToTemporary(sourceSide, source, plannedSource, temporary, group, observer, bytes);
        !sent) {
        // rclone removes a copy that failed; one cut short by a cancel or a lost connection remains.
        discard(temporary);
        return sent.error == ECANCELED ? copyCancelled() : copyFailure(sent);
    }

    const std::string renames = group + ".rename"; // a server-side move counts its bytes as moved
    if (old.kind != RemoteKind::File) {
        const RcResult placed = remote::moveInto(client, temporary, target, RemoteExpectation::absent(), renames);
        if (!placed) {
            discard(temporary);
            return copyFailure(placed);
        }
        settled(temporary);
        return CopyResult{CopyOutcome::Copied, 0, {}, {}};
    }

    // The old file steps aside (into the versions folder, or to a hidden name beside it), the new one
    // takes the name, and the old one comes back when that fails.
    const RemoteExpectation oldFile = RemoteExpectation::file(old.entry);
    RemotePath aside;
    RcResult stepped;
    if (options.disposal) {
        stepped = keepOldVersion(target, target, oldFile, *options.disposal, renames, aside);
    } else {
        // The aside name carries the file's own, so that a run killed before the new file stands is
        // mended by the next (recoverInterruptedWork); a name too long for that gets a plain temporary
        // name, which the next run deletes as it deletes any leftover copy.
        const std::string carrying = asideName(target.name());
        aside = target.parent().child(carrying.empty() ? copyTemporaryName() : carrying);
        (void)recordTemporary(aside); // the run's mark stands since the copy above
        stepped = remote::moveFile(client, target, oldFile, aside, renames);
        if (!stepped && !lostOrStopped(stepped))
            settled(aside);
    }
    if (!stepped) {
        discard(temporary);
        return copyFailure(stepped);
    }
    // The old file as it stands aside: a move keeps its size and time.
    const RcResult placed = remote::moveInto(client, temporary, target, RemoteExpectation::absent(), renames);
    if (!placed) {
        const RcResult back = remote::moveFile(client, aside, oldFile, target, renames);
        if (back && !options.disposal)
            settled(aside);
        discard(temporary);
        RcResult failure = placed;
        if (!back)
            failure.reason += "; the old file stays at \"" + aside.text() + "\" (" + describe(back) + ")";
        return copyFailure(failure);
    }
    settled(temporary);
    if (!options.disposal) {
        if (remote::deleteFile(client, aside, oldFile, group))
            settled(aside);
        return CopyResult{CopyOutcome::Copied, 0, {}, {}};
    }
    return CopyResult{CopyOutcome::Copied, 0, {}, aside.text()};
}

CopyResult RemoteLocation::fetchFile(const std::string& source, const FileStamp* plannedSource,
                                     const std::string& localFile, CopyObserver& observer) {
    RemotePath from;
    if (!remotePathOf(source, from))
        return copyFailure(RcResult::failure(kOutsideLocations, {}));
    RcClient& client = session().client();
    const std::string group = session().lineGroup();
    RemoteStat seen;
    if (RcResult asked = remote::stat(client, from, seen, group); !asked)
        return copyFailure(asked);
    if (seen.kind != RemoteKind::File)
        return copyFailure(RcResult::failure(seen.kind == RemoteKind::Absent ? ENOENT : EISDIR,
                                             "\"" + source + "\" is no file"));
    if (!expectationOf(plannedSource).heldBy(seen))
        return copyFailure(RcResult::failure(kChangedSincePlanning, "\"" + source + "\" changed since it was seen"));
    struct stat st {};
    if (localFile.empty() || localFile.front() != '/' || ::lstat(localFile.c_str(), &st) == 0)
        return copyFailure(RcResult::failure(EEXIST, "\"" + localFile + "\" is taken"));
    const int64_t total = seen.entry.size;
    observer.progress(0, static_cast<uint64_t>(total));
    if (observer.cancelRequested())
        return copyCancelled();
    json input = {{"srcFs", from.fs}, {"srcRemote", from.path}, {"dstFs", "/"}, {"dstRemote", localFile.substr(1)}};
    bool cancelled = false;
    const RcResult got = transfer(client, std::move(input), group, observer, total, cancelled);
    if (!got) {
        ::unlink(localFile.c_str());
        return cancelled ? copyCancelled() : copyFailure(got);
    }
    if (::lstat(localFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != total) {
        ::unlink(localFile.c_str());
        return copyFailure(RcResult::failure(kChangedWhileCopied, "the copy does not hold the file's " +
                                                                      std::to_string(total) + " bytes"));
    }
    observer.progress(static_cast<uint64_t>(total), static_cast<uint64_t>(total));
    return CopyResult{CopyOutcome::Copied, 0, {}, {}};
}

// The duplicate here is deleted only when the kept file still exists, is another file, and holds the
// same bytes: both are fetched into a private folder and compared there, byte for byte (the hashes
// rclone could show are not on every remote, nor comparable with a local file without reading it).
DuplicateProof RemoteLocation::proveDuplicate(Location& keptSide, const std::string& kept,
                                              const std::string& duplicate) {
    RemotePath duplicateAt;
    if (!remotePathOf(duplicate, duplicateAt))
        return DuplicateProof::Unreadable;
    RcClient& client = session().client();
    RemoteStat seen;
    if (!remote::stat(client, duplicateAt, seen))
        return DuplicateProof::Unreadable;
    if (seen.kind != RemoteKind::File)
        return DuplicateProof::DuplicateMissing;
    if (&keptSide.underlying() == this || dynamic_cast<RemoteLocation*>(&keptSide.underlying())) {
        if (sameEntry(kept, duplicate))
            return DuplicateProof::SameFile;
    }
    ProofFolder folder;
    if (!folder.ok())
        return DuplicateProof::Unreadable;
    SilentObserver quiet;
    auto* local = dynamic_cast<LocalLocation*>(&keptSide.underlying());
    std::string keptFile = kept;
    if (local) {
        struct stat st {};
        if (::lstat(kept.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            return DuplicateProof::KeptMissing;
        if (!S_ISREG(st.st_mode) || st.st_size != seen.entry.size)
            return DuplicateProof::Different;
    } else {
        keptFile = folder.path() + "/kept";
        const CopyResult fetched = keptSide.fetchFile(kept, nullptr, keptFile, quiet);
        if (!fetched.ok())
            return fetched.error == ENOENT || fetched.error == EISDIR ? DuplicateProof::KeptMissing
                                                                      : DuplicateProof::Unreadable;
    }
    const std::string duplicateFile = folder.path() + "/duplicate";
    if (!fetchFile(duplicate, nullptr, duplicateFile, quiet).ok())
        return DuplicateProof::Unreadable;
    LocationResolver fetched({folder.path()});
    const DuplicateProof proof = local ? paritas::proveDuplicate(local->resolver(), kept, fetched, duplicateFile)
                                       : paritas::proveDuplicate(fetched, keptFile, duplicateFile);
    return proof == DuplicateProof::DuplicateMissing ? DuplicateProof::Unreadable : proof;
}

// ---- the run ahead ----

void RemoteLocation::actionsAhead(const std::vector<ActionAhead>& lines, CopyObserver& watcher) {
    // Only where a folder moves in one step on the server; elsewhere rclone would move it file by file
    // anyway, which the lines do just as well, each checked.
    FolderMovePlan plan;
    FolderUploadPlan uploads;
    if (info().canMoveFolders) {
        // One copy of the lines for both plans, kept while either holds anything.
        const auto kept = std::make_shared<const std::vector<ActionAhead>>(lines);
        plan = FolderMovePlan(kept, shared_->text);
        // A server that folds letter case would keep one file for two names sent together.
        if (!info().caseInsensitive)
            uploads = FolderUploadPlan(kept, shared_->text);
    }
    std::lock_guard lock(shared_->mutex);
    shared_->folderMoveState.assign(plan.moves().size(), 0);
    shared_->folderMoves = std::move(plan);
    shared_->carried.clear();
    shared_->takenAway.clear();
    shared_->folderUploadState.assign(uploads.uploads().size(), 0);
    shared_->folderUploads = std::move(uploads);
    shared_->staged.clear();
    shared_->sent.clear();
    shared_->watcher = &watcher;
}

void RemoteLocation::forgetFolders() {
    shared_->index.disable();
}

// One folder move (folder_moves.h), checked on the remote right before it. The window between the
// check and the move is the few round trips of taking away the empty new folder and rclone's own
// stat of it: a file added to the old folder meanwhile moves along (nothing is lost), a member changed
// meanwhile moves as it is and its line fails by the listing afterwards.
bool RemoteLocation::tryFolderMove(std::size_t index, bool atMaking) {
    FolderMove move;
    std::vector<ActionAhead> members;
    {
        std::lock_guard lock(shared_->mutex);
        move = shared_->folderMoves.moves()[index];
        shared_->folderMoveState[index] = 2;
        if (!atMaking)
            for (const std::string& made : move.made)
                if (!shared_->madeFolders.count(made))
                    return false; // a folder of the new place was not made by this run
        for (const std::size_t k : move.members)
            members.push_back(shared_->folderMoves.lines()[k]);
    }
    RcClient& client = session().client();
    const std::string group = session().lineGroup();
    RemotePath from, to;
    if (!remotePathOf(move.from, from) || !remotePathOf(move.to, to))
        return false;

    // The old folder holds exactly the planned files as planned, and folders whose counterparts the
    // run made (a copy's temporary file left by an earlier run moves along).
    std::unordered_map<std::string, const ActionAhead*> byPath;
    for (const ActionAhead& member : members)
        byPath.emplace(member.path.substr(move.from.size()), &member);
    const std::unordered_set<std::string> made(move.made.begin(), move.made.end());
    std::vector<RemoteEntry> below;
    if (!remote::listTree(client, from, below, group))
        return false;
    std::size_t matched = 0;
    std::vector<std::string> oldFolders{move.from};
    for (const RemoteEntry& entry : below) {
        if (entry.isFolder) {
            if (!made.count(move.to + entry.name + "/"))
                return false;
            oldFolders.push_back(move.from + entry.name + "/");
            continue;
        }
        if (isTemporaryName(entry.name) || isAsideName(entry.name))
            continue;
        const auto member = byPath.find(entry.name);
        if (member == byPath.end() || !samePlannedFile(entry, member->second->stamp))
            return false;
        ++matched;
    }
    if (matched != members.size())
        return false;

    // The new place holds only the empty folders the run made there: they go, so that the folder can
    // take the name (rclone would merge into a folder that stands there).
    RemoteStat there;
    if (!remote::stat(client, to, there, group) || there.kind == RemoteKind::File)
        return false;
    if (atMaking && there.kind != RemoteKind::Absent)
        return false; // made by someone else since the scan: not the run's to take away
    std::vector<std::string> emptied;
    auto remake = [&] {
        for (auto made = emptied.rbegin(); made != emptied.rend(); ++made) {
            RemotePath at;
            if (remotePathOf(*made, at))
                remote::makeFolder(client, at, group);
        }
    };
    if (there.kind == RemoteKind::Folder) {
        std::vector<RemoteEntry> inside;
        if (!remote::listTree(client, to, inside, group))
            return false;
        for (const RemoteEntry& entry : inside)
            if (!entry.isFolder || !made.count(move.to + entry.name + "/"))
                return false;
        // Deepest first: a listing sorted by path has every folder before what it holds.
        std::vector<std::string> order;
        for (const RemoteEntry& entry : inside)
            order.push_back(move.to + entry.name + "/");
        order.push_back(move.to);
        std::sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
            return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
        });
        for (const std::string& folder : order) {
            RemotePath at;
            if (!remotePathOf(folder, at) || !remote::removeFolder(client, at, group)) {
                remake();
                return false;
            }
            emptied.push_back(folder);
        }
    }

    const RcResult moved = remote::moveFolder(client, from, to, group);
    if (!moved && !lostOrStopped(moved))
        remake(); // the folders the run made stand again for the moves one by one

    // Each line's outcome is what the new place holds now.
    std::vector<RemoteEntry> after;
    const RcResult listed = remote::listTree(client, to, after, group);
    std::unordered_map<std::string, const RemoteEntry*> arrived;
    if (listed)
        for (const RemoteEntry& entry : after)
            if (!entry.isFolder)
                arrived.emplace(entry.name, &entry);
    std::lock_guard lock(shared_->mutex);
    for (const ActionAhead& member : members) {
        const std::string relative = member.path.substr(move.from.size());
        const auto found = arrived.find(relative);
        FsResult outcome;
        if (found != arrived.end() && samePlannedFile(*found->second, member.stamp)) {
            outcome = {};
        } else if (!moved && !lostOrStopped(moved) && found == arrived.end()) {
            continue; // not carried: this line moves its file itself
        } else if (!listed) {
            outcome = fsResultOf(listed);
        } else if (!moved) {
            outcome = fsResultOf(moved);
        } else {
            outcome = FsResult{kChangedSincePlanning, "\"" + member.destination +
                                                          "\" is not the planned file after its folder moved"};
        }
        shared_->carried[member.path + "\n" + member.destination] = outcome;
    }
    if (moved) {
        shared_->folderMoveState[index] = 1;
        shared_->takenAway.insert(oldFolders.begin(), oldFolders.end());
        for (const std::string& old : oldFolders)
            shared_->arrived.insert(move.to + old.substr(move.from.size()));
    }
    return moved.ok();
}

// New folders filled in one go (folder_uploads.h), a wave of them at a time: the line that makes the
// first sends the files of as many of the following as one wave holds (kUploadMostMembers,
// kUploadMostBytes) in one rclone copy, into a hidden folder of the run at the top of the location;
// each line that makes one of them then moves its part into place. The new folder must be free: the
// folder move's own stat checks that right before rclone's move (moveFolder), a few round trips before
// it; a folder someone makes there meanwhile is never merged into (the move fails, and the lines copy
// their files one by one, each checked).
bool RemoteLocation::tryFolderUpload(std::size_t index) {
    int state = 0;
    {
        std::lock_guard lock(shared_->mutex);
        state = shared_->folderUploadState[index];
    }
    if (state == 0) {
        sendWave(index);
        std::lock_guard lock(shared_->mutex);
        state = shared_->folderUploadState[index];
    }
    if (state != 1)
        return false;

    FolderUpload upload;
    Shared::Staged staged;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->folderUploadState[index] = 2;
        upload = shared_->folderUploads.uploads()[index];
        staged = std::move(shared_->staged[index]);
    }
    RcClient& client = session().client();
    const std::string group = session().lineGroup();
    RemotePath to;
    if (!remotePathOf(upload.folder, to))
        return false;
    const RemotePath from = staged.wave.child(upload.source.substr(1));
    const RcResult moved = remote::moveFolder(client, from, to, group + ".rename");
    if (lostOrStopped(moved))
        return false; // the wave's folder stays under the run's mark for the next run
    std::vector<std::pair<std::string, int64_t>> arrived;
    if (moved) {
        for (const auto& [relative, stamp] : staged.files)
            arrived.emplace_back(relative, stamp.size);
    } else {
        // Nothing moved, or part of it (rclone moving file by file): the lines go by what stands there.
        remote::removeTree(client, from, group);
        std::vector<RemoteEntry> there;
        if (remote::listTree(client, to, there, group)) {
            std::unordered_map<std::string, const FileStamp*> wanted;
            for (const auto& [relative, stamp] : staged.files)
                wanted.emplace(relative, &stamp);
            const int64_t precision = timePrecisionNanos();
            for (const RemoteEntry& entry : there)
                if (const auto found = wanted.find(entry.name);
                    found != wanted.end() && arrivedAsPlanned(entry, *found->second, precision))
                    arrived.emplace_back(entry.name, entry.size);
        }
    }
    std::lock_guard lock(shared_->mutex);
    const std::vector<ActionAhead>& lines = shared_->folderUploads.lines();
    std::unordered_map<std::string, std::size_t> byRelative;
    for (const std::size_t k : upload.members)
        byRelative.emplace(lines[k].destination.substr(upload.folder.size()), k);
    for (const auto& [relative, size] : arrived) {
        const auto member = byRelative.find(relative);
        if (member == byRelative.end())
            continue;
        const ActionAhead& line = lines[member->second];
        shared_->sent[line.path + "\n" + line.destination] = size;
        for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
            shared_->arrived.insert(upload.folder + relative.substr(0, slash + 1));
    }
    return moved.ok();
}

// Sends the files of the upload at `first` and of those after it that the wave holds, and keeps, of
// what arrived, only each line's file as it was planned: a source changed since the scan, or a copy
// cut short, goes now, and its line copies the file itself (and says what changed). Staged uploads
// are marked 1 with their files; the others 2.
void RemoteLocation::sendWave(std::size_t first) {
    std::vector<std::size_t> wave;
    std::vector<std::string> names; // the members' local paths, below "/"
    std::unordered_map<std::string, std::pair<std::size_t, FileStamp>> byName;
    int64_t bytes = 0;
    {
        std::lock_guard lock(shared_->mutex);
        const auto& uploads = shared_->folderUploads.uploads();
        const std::vector<ActionAhead>& lines = shared_->folderUploads.lines();
        std::set<std::string> sources;
        for (std::size_t k = first; k < uploads.size(); ++k) {
            if (shared_->folderUploadState[k] != 0)
                continue;
            const FolderUpload& upload = uploads[k];
            if (!wave.empty() && (names.size() + upload.members.size() > kUploadMostMembers ||
                                  bytes + upload.bytes > kUploadMostBytes))
                break;
            // Each upload's part of the wave is the folder of its source: no two may lie in each other.
            const auto next = sources.lower_bound(upload.source);
            const bool holds = next != sources.end() && next->compare(0, upload.source.size(), upload.source) == 0;
            const bool heldBy = next != sources.begin() &&
                                upload.source.compare(0, std::prev(next)->size(), *std::prev(next)) == 0;
            if (holds || heldBy)
                break;
            sources.insert(upload.source);
            wave.push_back(k);
            shared_->folderUploadState[k] = 2;
            bytes += upload.bytes;
            for (const std::size_t member : upload.members) {
                names.push_back(lines[member].path.substr(1));
                byName.emplace(names.back(), std::make_pair(k, lines[member].stamp));
            }
        }
    }
    const int64_t precision = timePrecisionNanos();
    if (wave.empty() || precision <= 0)
        return;
    RcClient& client = session().client();
    const std::string group = session().lineGroup();
    const RemotePath folder = root().child(copyTemporaryName());
    if (!recordTemporary(folder))
        return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->waves.push_back(folder);
    }
    auto discard = [&] {
        const RcResult gone = remote::removeTree(client, folder, group);
        if (gone || gone.error == ENOENT)
            settled(folder);
        std::lock_guard lock(shared_->mutex);
        shared_->waves.erase(std::remove(shared_->waves.begin(), shared_->waves.end(), folder), shared_->waves.end());
    };
    bool ended = true;
    const RcResult sent = runUpload(names, bytes, folder, group, ended);
    if (!ended) {
        // The copy may still write there: the folder stays under the run's mark, which the next run
        // finds, and removes it then.
        std::lock_guard lock(shared_->mutex);
        shared_->waves.erase(std::remove(shared_->waves.begin(), shared_->waves.end(), folder), shared_->waves.end());
        return;
    }
    if (sent.error == ECANCELED || lostOrStopped(sent)) {
        discard();
        return;
    }
    std::unordered_map<std::size_t, Shared::Staged> parts;
    auto stage = [&](const std::string& name, const std::pair<std::size_t, FileStamp>& member) {
        const std::string& source = shared_->folderUploads.uploads()[member.first].source;
        Shared::Staged& part = parts[member.first];
        part.wave = folder;
        part.files.emplace_back(name.substr(source.size() - 1), member.second);
    };
    // Every file sent, none failed: rclone checked each copy against what it read (size, and a hash
    // both sides know), so what is left to see is whether each source is still the planned file,
    // which this machine answers at once. Otherwise one listing shows what arrived.
    RemoteStats counted;
    if (sent && remote::stats(client, group, counted) && counted.errors == 0 &&
        counted.transfers == static_cast<int64_t>(names.size())) {
        for (const auto& [name, member] : byName) {
            if (const auto now = fileFacts("/" + name); now && now->sameFileAs(member.second)) {
                stage(name, member);
                continue;
            }
            if (const RcResult gone = remote::deleteFile(client, folder.child(name), RemoteExpectation::anything(), group);
                !gone && gone.error != ENOENT) {
                discard();
                return;
            }
        }
    } else {
        std::vector<RemoteEntry> staged;
        if (!remote::listTree(client, folder, staged, group)) {
            discard();
            return;
        }
        for (const RemoteEntry& entry : staged) {
            if (entry.isFolder)
                continue;
            const auto member = byName.find(entry.name);
            if (member != byName.end() && arrivedAsPlanned(entry, member->second.second, precision)) {
                stage(entry.name, member->second);
                continue;
            }
            if (!remote::deleteFile(client, folder.child(entry.name), RemoteExpectation::file(entry), group)) {
                discard();
                return;
            }
        }
    }
    remote::forgetStats(client, group);
    std::lock_guard lock(shared_->mutex);
    for (auto& [k, part] : parts) {
        shared_->folderUploadState[k] = 1;
        shared_->staged[k] = std::move(part);
    }
}

// One rclone copy of local files (`names`, below "/") into `folder`, with its own transfers (four at
// once, as `rclone copy` sends them), watched every tenth of a second: the run's watcher keeps the
// windows served, and a stop ends the copy (ECANCELED). rclone reads the names from a file, one a line,
// as they stand (FilesFromRaw: no comment or blank is read into them). The folder is fresh: rclone does
// not look for what stands there first (NoCheckDest).
RcResult RemoteLocation::runUpload(const std::vector<std::string>& names, int64_t bytes, const RemotePath& folder,
                                   const std::string& group, bool& ended) {
    ended = true;
    CopyObserver* watcher = nullptr;
    {
        std::lock_guard lock(shared_->mutex);
        watcher = shared_->watcher;
    }
    std::string text;
    for (const std::string& name : names)
        text.append(name).push_back('\n');
    const ScratchFile list("upload", text);
    if (list.error())
        return RcResult::failure(list.error(), "the list of files to send could not be written");

    std::string into = folder.path;
    while (!into.empty() && into.back() == '/')
        into.pop_back();
    json input = {{"srcFs", "/"},
                  {"dstFs", folder.fs + into},
                  {"_filter", {{"FilesFromRaw", json::array({list.path()})}}},
                  {"_async", true}};
    RcCallOptions options;
    options.group = group;
    options.movesFileData = true;
    options.config["Retries"] = 1; // a file that fails is left to its own line, not the whole copy run again
    options.config["NoCheckDest"] = true;
    // A stop asked for at any time before the files take their places cancels the upload: the lines
    // after this one are not reached, and none of their files may stand there.
    auto stopAsked = [&] { return watcher && watcher->cancelRequested(); };
    if (stopAsked())
        return RcResult::failure(ECANCELED, "cancelled");
    RcClient& client = session().client();
    json reply;
    if (RcResult started = client.call("sync/copy", std::move(input), reply, options); !started)
        return started;
    const int64_t job = reply.value("jobid", int64_t{-1});
    if (job < 0)
        return RcResult::failure(kRemoteFailed, "rclone started no job for the upload");
    // rclone 1.60 does not end a copy whose SFTP server went away in the middle: its transfers wait
    // without end (measured: 120 s without a byte, then 15 s to end after job/stop). A copy that
    // counts nothing new for kUploadStall is stopped, and one that does not end kUploadStall after
    // that is left to itself (`ended` false): its files stay in the hidden folder, which is never
    // moved, and which the next run removes.
    constexpr auto kUploadStall = std::chrono::seconds(10);
    using Clock = std::chrono::steady_clock;
    bool stopping = false;
    bool stalled = false;
    std::string lastCounts;
    Clock::time_point lastChange = Clock::now();
    Clock::time_point stoppedAt{};
    for (int poll = 1;; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        json status;
        if (RcResult asked = client.call("job/status", json{{"jobid", job}}, status); !asked)
            return asked;
        const bool finished = status.value("finished", false);
        if (finished && !stalled && (stopping || stopAsked()))
            return RcResult::failure(ECANCELED, "cancelled");
        if (finished && status.value("success", false))
            return {};
        if (finished) {
            const std::string error = status.value("error", std::string("the upload failed"));
            return RcResult::failure(classifyRcloneError(500, error), error, 500);
        }
        if (watcher)
            watcher->progress(0, static_cast<uint64_t>(bytes));
        if (!stopping && stopAsked()) {
            json ignored;
            client.call("job/stop", json{{"jobid", job}}, ignored);
            stopping = true;
            stoppedAt = Clock::now();
        }
        if (poll % 10 == 0 && !stopping) {
            json counts;
            if (client.call("core/stats", json{{"group", group}}, counts)) {
                const std::string now = counts.value("bytes", json(0)).dump() + " " +
                                        counts.value("transfers", json(0)).dump() + " " +
                                        counts.value("errors", json(0)).dump();
                if (now != lastCounts) {
                    lastCounts = now;
                    lastChange = Clock::now();
                }
            }
            if (Clock::now() - lastChange > kUploadStall) {
                json ignored;
                client.call("job/stop", json{{"jobid", job}}, ignored);
                stopping = stalled = true;
                stoppedAt = Clock::now();
            }
        }
        if (stopping && Clock::now() - stoppedAt > kUploadStall) {
            ended = false;
            return stalled ? RcResult::failure(kRemoteConnectionLost,
                                               "the upload made no progress for " +
                                                   std::to_string(kUploadStall.count()) + " s")
                           : RcResult::failure(ECANCELED, "cancelled");
        }
    }
}

} // namespace paritas

#include "core/platform/local_location.h"

#include "core/platform/capabilities.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"
#include "core/platform/placement.h"
#include "core/platform/trash.h"
#include "core/platform/unique_fd.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

EntryKind kindOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode))
        return EntryKind::Folder;
    if (S_ISREG(st.st_mode))
        return EntryKind::File;
    if (S_ISLNK(st.st_mode))
        return EntryKind::Link;
    return EntryKind::Special;
}

// A copy's observer that also tells the watcher of the moment before the copy takes its place.
CopyOptions watched(CopyOptions options, BetweenCheckAndAct* watcher) {
    if (watcher && !options.between)
        options.between = watcher;
    return options;
}

std::string flippedCase(const std::string& name) {
    std::string flipped = name;
    for (char& c : flipped) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return flipped;
}

bool listsName(int folder, const std::string& wanted) {
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return true; // unknown: taken as listed, which decides nothing
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir))
        found = found || wanted == entry->d_name;
    ::closedir(dir);
    return found;
}

// Whether the folder `folder` (open) answers to a name of it in another spelling: the first name
// with an ASCII letter whose flipped spelling is not listed itself decides. nullopt: no such name.
std::optional<bool> foldsInFolder(int folder, std::string* firstFolder) {
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return std::nullopt;
    }
    std::set<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        names.insert(name);
        if (firstFolder && firstFolder->empty() && entry->d_type == DT_DIR)
            *firstFolder = name;
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string flipped = flippedCase(name);
        if (flipped == name || names.count(flipped))
            continue;
        struct stat st {};
        if (::fstatat(folder, flipped.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            return true;
        if (errno == ENOENT)
            return false;
    }
    return std::nullopt;
}

// Letter case as the location shows it without writing: a name of its top (or of its first folder)
// looked up in another spelling, else its own name looked up so in its parent (when that lies on the
// same file system).
std::optional<bool> foldsLetterCaseSeen(const std::string& location) {
    const UniqueFd root(::open(location.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return std::nullopt;
    std::string below;
    if (const std::optional<bool> top = foldsInFolder(root.get(), &below))
        return top;
    if (!below.empty()) {
        const UniqueFd folder(
            ::openat(root.get(), below.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.valid())
            if (const std::optional<bool> inside = foldsInFolder(folder.get(), nullptr))
                return inside;
    }
    if (paritas::isFileSystemTop(location))
        return std::nullopt;
    std::string path = location;
    while (path.size() > 1 && path.back() == kSeparator)
        path.pop_back();
    const std::size_t slash = path.rfind(kSeparator);
    if (slash == std::string::npos)
        return std::nullopt;
    const std::string name = path.substr(slash + 1);
    const std::string flipped = flippedCase(name);
    if (flipped == name)
        return std::nullopt;
    const UniqueFd parent(
        ::open(slash == 0 ? "/" : path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat mine {
    }, other{};
    if (!parent.valid() || ::fstatat(parent.get(), name.c_str(), &mine, 0) != 0)
        return std::nullopt;
    if (::fstatat(parent.get(), flipped.c_str(), &other, 0) != 0)
        return errno == ENOENT ? std::optional<bool>(false) : std::nullopt;
    // Both answer: one folder in two spellings, unless the parent lists the other spelling itself.
    if (mine.st_ino == other.st_ino)
        return true;
    return listsName(parent.get(), flipped) ? std::nullopt : std::optional<bool>(true);
}

} // namespace

LocalLocation::LocalLocation(std::string text)
    : LocalLocation(withTrailingSeparator(text), LocationResolver({withTrailingSeparator(text)})) {
    journal_ = std::make_shared<WorkJournal>(this->text());
}

LocalLocation::LocalLocation(std::string text, LocationResolver resolver)
    : Location(std::move(text)), resolver_(std::move(resolver)) {}

std::unique_ptr<Location> LocalLocation::forAnotherThread() const {
    std::unique_ptr<LocalLocation> other(new LocalLocation(text(), resolver_.sharingLocations()));
    other->watcher_ = watcher_;
    other->capabilities_ = capabilities_;
    other->reading_ = reading_;
    other->journal_ = journal_;
    other->folds_ = folds_;
    return other;
}

bool LocalLocation::exists() {
    return isAbsolutePath(text()) && folderExists(text());
}

// Found by trying, inside the location, once: only a location that is acted on is probed (a source
// is only read, and is never written to for a probe).
FileSystemCapabilities LocalLocation::capabilities() {
    // A location that does not exist yet (a backup makes it) is probed again once it does.
    if (!capabilities_ || capabilities_->probeError == ENOENT)
        capabilities_ = probeCapabilities(text(), journal_.get());
    return *capabilities_;
}

// What reading the location needs to know, learnt without writing to it: whether its inode numbers
// name a file for good (not on FUSE), so that a planned stamp is compared as far as they do.
const FileSystemCapabilities& LocalLocation::readingCapabilities() {
    if (capabilities_)
        return *capabilities_;
    if (!reading_) {
        FileSystemCapabilities reading;
        const FolderHandle root(::open(text().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        reading.stableInodes = !(root.valid() && inodesMayChange(root.get()));
        reading_ = reading;
    }
    return *reading_;
}

const FileSystemCapabilities* LocalLocation::actingCapabilities() {
    capabilities();
    return &*capabilities_;
}

std::string LocalLocation::lockKey() {
    return folderIdentityKey(text());
}

FolderAncestry LocalLocation::ancestry() {
    return folderAncestry(text());
}

bool LocalLocation::isFileSystemTop() {
    return paritas::isFileSystemTop(text());
}

FolderRead LocalLocation::readFolder(const std::string& folder, const FolderReadOptions& options) {
    // One listing per handle (one handle serves one thread), its buffers reused from folder to folder.
    if (!listing_)
        listing_ = std::make_unique<FolderListing>();
    FolderListing& listing = *listing_;
    FolderRead read;
    ListingOptions listingOptions;
    listingOptions.fileFacts = options.fileFacts;
    listingOptions.followLinkAtPath = options.isRoot; // the root may be a link the user chose
    listingOptions.folderId = true;
    listingOptions.attributes = options.attributes;
    if (!listFolderSorted(folder, listingOptions, listing)) {
        // A folder removed (or replaced by a file) since its parent was read is taken as read a moment
        // later: it holds nothing, and nothing is unknown. Only the root must be there.
        const int error = listing.errorCode();
        read.vanished = !options.isRoot && (error == ENOENT || error == ENOTDIR);
        read.openError = read.vanished ? 0 : error;
        return read;
    }
    read.id = listing.folderId();
    read.self = listing.folderSelf();
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
        e.ownership = entry.ownership;
        e.attributes = entry.attributes;
        read.names.append(entry.name);
        read.entries.push_back(e);
    }
    return read;
}

EntryFacts LocalLocation::entryAt(const std::string& path) {
    EntryFacts facts;
    if (path.empty())
        return facts;
    // The location itself is the folder the user chose: it may be a link to one.
    struct stat st {};
    if (isRootPath(path)) {
        if (::stat(text().c_str(), &st) != 0) {
            facts.error = errno == ENOENT ? 0 : errno;
            return facts;
        }
    } else {
        const ResolvedPath at = resolver_.resolve(path);
        if (!at.ok() || ::fstatat(at.folder.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int error = at.ok() ? errno : at.error;
            facts.error = error == ENOENT || error == ENOTDIR ? 0 : error;
            return facts;
        }
    }
    facts.kind = kindOf(st);
    if (facts.kind != EntryKind::Folder)
        facts.stamp = stampOf(st);
    return facts;
}

// Where letter case does not tell names apart, two spellings that differ only in the case of ASCII
// letters and both answer name one entry, whatever inode numbers the file system hands out for
// them (exfat-fuse gives each spelling its own).
bool LocalLocation::sameEntry(const std::string& first, const std::string& second) {
    struct stat a {
    }, b{};
    const ResolvedPath x = resolver_.resolve(first);
    if (!x.ok() || ::fstatat(x.folder.get(), x.name.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    const ResolvedPath y = resolver_.resolve(second);
    if (!y.ok() || ::fstatat(y.folder.get(), y.name.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        return true;
    return a.st_dev == b.st_dev && differOnlyInAsciiCase(first, second) && foldsLetterCase(false);
}

bool LocalLocation::foldsLetterCase(bool mayWrite) {
    if (capabilities_)
        return !capabilities_->caseSensitive;
    if (!folds_) {
        if (const std::optional<bool> seen = foldsLetterCaseSeen(text()))
            folds_ = *seen;
    }
    if (folds_)
        return *folds_;
    return mayWrite && !capabilities().caseSensitive;
}

std::vector<std::string> LocalLocation::recoverInterruptedWork(Disposal* disposal) {
    // Each means of moving is tried in turn: the probe would write, and so record, in the location.
    const JournalRecovery recovery = recoverJournals(text(), disposal, nullptr);
    return recovery.lines;
}

void LocalLocation::closeJournal() {
    journal_->close();
}

CopyResult LocalLocation::moveByCopy(const std::string& source, const FileStamp* planned,
                                     const std::string& destination, CopyObserver& observer,
                                     const CopyOptions& options) {
    CopyOptions moving = watched(options, watcher_);
    moving.capabilities = actingCapabilities();
    moving.sourceCapabilities = moving.capabilities;
    moving.journal = journal_.get();
    return copyThenDeleteIfUnchanged(resolver_, source, planned, destination, observer, moving);
}

bool LocalLocation::isRootPath(const std::string& path) const {
    return path == text() || path + std::string(1, kSeparator) == text();
}

MetadataRead LocalLocation::readMetadata(const std::string& path, const AttributeSelection& selection) {
    if (!isRootPath(path))
        return readMetadataBeneath(resolver_, path, selection);
    // The location itself may be a link the user chose: its folder is read.
    const UniqueFd root(::open(text().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) {
        MetadataRead read;
        read.error = errno;
        return read;
    }
    return paritas::readMetadata(root.get(), selection);
}

MetadataApplied LocalLocation::applyMetadata(const std::string& path, const EntryMetadata& source,
                                             const MetadataStep& step, MetadataKeeper& keeper) {
    UniqueFd root;
    ResolvedPath at;
    if (isRootPath(path)) {
        root = UniqueFd(::open(text().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!root.valid())
            return {errno, {}};
    } else {
        at = resolver_.resolve(path);
        if (!at.ok())
            return {at.error == ENOENT ? kChangedSincePlanning : at.error, {}};
    }
    if (step.kind == MetadataStep::Kind::Entry) {
        if (root.valid())
            return {EISDIR, "the location itself keeps its own"};
        return updateMetadataAt(at.folder.get(), at.name, source, step.expected, keeper);
    }
    // A folder the run made: opened as the folder itself, never through a link that took its place.
    const UniqueFd folder(root.valid() ? std::move(root)
                                       : UniqueFd(::openat(at.folder.get(), at.name.c_str(),
                                                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
    if (!folder.valid())
        return {errno == ENOENT || errno == ELOOP || errno == ENOTDIR ? kChangedSincePlanning : errno, {}};
    switch (step.kind) {
    case MetadataStep::Kind::NewFolder:
        return applyToNewFolder(folder.get(), source, keeper);
    case MetadataStep::Kind::FinishFolder:
        return finishFolder(folder.get(), source, keeper);
    case MetadataStep::Kind::FolderTimes:
    case MetadataStep::Kind::Entry:
        break;
    }
    return finishFolderTimes(folder.get(), source, keeper);
}

LinkResult LocalLocation::placeHardLink(const std::string& existing, const FileStamp* expected,
                                        const std::string& destination, const DestinationPlan& plan,
                                        const CopyOptions& options) {
    CopyOptions placing = watched(options, watcher_);
    placing.capabilities = actingCapabilities();
    return placeHardLinkBeneath(resolver_, existing, expected, destination, plan, placing);
}

FsResult LocalLocation::makeFolder(const std::string& path) {
    return paritas::makeFolder(resolver_, path);
}

bool LocalLocation::realFolderAt(const std::string& path) {
    return paritas::realFolderAt(resolver_, path);
}

FsResult LocalLocation::removeEmptyFolder(const std::string& path) {
    return paritas::removeEmptyFolder(resolver_, path);
}

FsResult LocalLocation::moveIfUnchanged(const std::string& source, const FileStamp* planned,
                                        const std::string& destination) {
    return paritas::moveIfUnchanged(resolver_, source, planned, destination, actingCapabilities(), watcher_);
}

FsResult LocalLocation::deleteIfUnchanged(const std::string& path, const FileStamp* planned) {
    return paritas::deleteIfUnchanged(resolver_, path, planned, actingCapabilities(), watcher_);
}

Disposed LocalLocation::disposeIfUnchanged(const std::string& path, const FileStamp* planned,
                                           Disposal& disposal) {
    return paritas::disposeIfUnchanged(resolver_, path, planned, disposal, actingCapabilities(), watcher_);
}

CopyResult LocalLocation::placeCopy(Location& sourceSide, const std::string& source,
                                    const FileStamp* plannedSource, const std::string& destination,
                                    const DestinationPlan& plan, CopyObserver& observer,
                                    const CopyOptions& options) {
    auto* local = dynamic_cast<LocalLocation*>(&sourceSide.underlying());
    if (!local)
        return placeFetched(sourceSide, source, plannedSource, destination, plan, observer, options);
    CopyOptions placing = watched(options, watcher_);
    placing.capabilities = actingCapabilities();
    placing.sourceCapabilities = &local->readingCapabilities();
    placing.journal = journal_.get();
    return copyFileBeneath(local->resolver_, source, plannedSource, resolver_, destination, plan, observer,
                           placing);
}

// A copy from a location that is no local folder (a remote): its content is fetched into a hidden
// temporary name in the destination's folder, and from there takes its place by the same placement
// as any local copy (placement.h), so that the same promises hold: the destination holds what stood
// there before or the complete copy, and a copy replaces only what its plan expected.
CopyResult LocalLocation::placeFetched(Location& sourceSide, const std::string& source,
                                       const FileStamp* plannedSource, const std::string& destination,
                                       const DestinationPlan& plan, CopyObserver& observer,
                                       const CopyOptions& options) {
    CopyResult result;
    const ResolvedPath to = resolver_.resolve(destination);
    if (!to.ok()) {
        result.error = to.error;
        return result;
    }
    const int dir = to.folder.get();
    struct stat existing {};
    if (options.disposal && plan.kind != DestinationPlan::Kind::Nothing &&
        ::fstatat(dir, to.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(existing.st_mode))
        if (const Disposed ready = options.disposal->ready(dir, destination); !ready.ok()) {
            result.error = ready.error;
            result.detail = ready.detail;
            return result;
        }
    placement::TemporaryName temporary(dir);
    temporary.hold(copyTemporaryName());
    // Recorded before it is made, as every temporary name is: a run killed during the fetch leaves an
    // unfinished copy that the next run discards.
    if (journal_)
        if (const int error = journal_->newContent(placement::folderOfPath(destination), temporary.name());
            error != 0) {
            temporary.release();
            result.error = error;
            return result;
        }
    // The folder as this process holds it open, so that the content lands in exactly that folder
    // whatever its path names by now (another process resolves /proc/<pid>/fd/<n> to it).
    const std::string held =
        "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(dir) + "/" + temporary.name();
    result = sourceSide.fetchFile(source, plannedSource, held, observer);
    if (!result.ok())
        return result;
    {
        // The content reaches the disk before it takes a name (it was written by another process,
        // under a name, with no order promised against the rename).
        const UniqueFd fetched(::openat(dir, temporary.name().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        int error = fetched.valid() ? 0 : errno;
        struct stat st {};
        if (error == 0 && ::fstat(fetched.get(), &st) != 0)
            error = errno;
        if (error == 0 && !S_ISREG(st.st_mode))
            error = kNoLongerAFile;
        if (error == 0 && ::fsync(fetched.get()) != 0)
            error = errno;
        if (error != 0) {
            result = {};
            result.error = error;
            result.detail = "the fetched copy " + temporary.name();
            return result;
        }
    }
    BetweenCheckAndAct* between = options.between ? options.between : watcher_;
    const placement::OldVersion old{options.disposal, &destination, between};
    const Disposed placed = placement::placeHeld(dir, temporary, to.name, plan, old, actingCapabilities());
    result = {};
    if (!placed.ok()) {
        result.error = placed.error;
        result.detail = placed.detail;
        return result;
    }
    result.outcome = CopyOutcome::Copied;
    result.keptAt = placed.keptAt;
    return result;
}

DuplicateProof LocalLocation::proveDuplicate(Location& keptSide, const std::string& kept,
                                             const std::string& duplicate) {
    auto* local = dynamic_cast<LocalLocation*>(&keptSide.underlying());
    if (!local)
        return DuplicateProof::Unreadable;
    return paritas::proveDuplicate(local->resolver_, kept, resolver_, duplicate);
}

Locations localLocations(const std::vector<std::string>& texts) {
    std::vector<std::unique_ptr<Location>> locations;
    for (const std::string& text : texts)
        locations.push_back(std::make_unique<LocalLocation>(text));
    return Locations(std::move(locations));
}

} // namespace paritas

#include "core/platform/local_location.h"

#include "core/platform/capabilities.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"
#include "core/platform/placement.h"
#include "core/platform/trash.h"
#include "core/platform/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
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

} // namespace

LocalLocation::LocalLocation(std::string text)
    : LocalLocation(withTrailingSeparator(text), LocationResolver({withTrailingSeparator(text)})) {}

LocalLocation::LocalLocation(std::string text, LocationResolver resolver)
    : Location(std::move(text)), resolver_(std::move(resolver)) {}

std::unique_ptr<Location> LocalLocation::forAnotherThread() const {
    std::unique_ptr<LocalLocation> other(new LocalLocation(text(), resolver_.sharingLocations()));
    other->watcher_ = watcher_;
    other->capabilities_ = capabilities_;
    other->reading_ = reading_;
    return other;
}

bool LocalLocation::exists() {
    return isAbsolutePath(text()) && folderExists(text());
}

// Found by trying, inside the location, once: only a location that is acted on is probed (a source
// is only read, and is never written to for a probe).
FileSystemCapabilities LocalLocation::capabilities() {
    if (!capabilities_)
        capabilities_ = probeCapabilities(text());
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
    if (!listFolderSorted(folder, listingOptions, listing)) {
        // A folder removed (or replaced by a file) since its parent was read is taken as read a moment
        // later: it holds nothing, and nothing is unknown. Only the root must be there.
        const int error = listing.errorCode();
        read.vanished = !options.isRoot && (error == ENOENT || error == ENOTDIR);
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

EntryFacts LocalLocation::entryAt(const std::string& path) {
    EntryFacts facts;
    if (path.empty())
        return facts;
    // The location itself is the folder the user chose: it may be a link to one.
    struct stat st {};
    if (path == text() || path + std::string(1, kSeparator) == text()) {
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

bool LocalLocation::sameEntry(const std::string& first, const std::string& second) {
    struct stat a {
    }, b{};
    const ResolvedPath x = resolver_.resolve(first);
    if (!x.ok() || ::fstatat(x.folder.get(), x.name.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    const ResolvedPath y = resolver_.resolve(second);
    if (!y.ok() || ::fstatat(y.folder.get(), y.name.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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

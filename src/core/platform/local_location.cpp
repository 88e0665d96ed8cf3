#include "core/platform/local_location.h"

#include "core/platform/capabilities.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"
#include "core/platform/trash.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

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
    if (!local) {
        CopyResult result;
        result.error = EXDEV;
        result.detail = "the source is no local folder";
        return result;
    }
    CopyOptions placing = watched(options, watcher_);
    placing.capabilities = actingCapabilities();
    placing.sourceCapabilities = &local->readingCapabilities();
    return copyFileBeneath(local->resolver_, source, plannedSource, resolver_, destination, plan, observer,
                           placing);
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

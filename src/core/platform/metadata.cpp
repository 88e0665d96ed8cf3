#include "core/platform/metadata.h"

#include "core/platform/entry_handle.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace paritas {
namespace {

using detail::EntryHandle;

constexpr std::string_view kAclAccess = "system.posix_acl_access";
constexpr std::string_view kAclDefault = "system.posix_acl_default";

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

MetadataRead readFailed(int error, std::string detail = {}) {
    MetadataRead read;
    read.error = error;
    read.detail = std::move(detail);
    return read;
}

// The attributes `selection` keeps, sorted by name. 0 or an errno, with the attribute's name in `detail`.
int readAttributes(const EntryHandle& entry, const AttributeSelection& selection,
                   std::vector<ExtendedAttribute>& into, std::string& detail) {
    into.clear();
    std::vector<std::string> names;
    if (const int error = detail::listAttributeNames(entry, names); error != 0)
        return error;
    const bool privileged = ::geteuid() == 0;
    for (std::string& name : names) {
        if (!keepsAttribute(selection, name, privileged))
            continue;
        std::string value;
        const int error = detail::readAttributeValue(entry, name, value);
        if (error == ENODATA)
            continue; // removed since the list was read
        if (error != 0) {
            detail = "the extended attribute " + name;
            return error;
        }
        into.push_back({std::move(name), std::move(value)});
    }
    std::sort(into.begin(), into.end(),
              [](const ExtendedAttribute& x, const ExtendedAttribute& y) { return x.name < y.name; });
    return 0;
}

MetadataRead readFrom(const EntryHandle& entry, const AttributeSelection& selection) {
    struct stat st {};
    if (const int error = entry.stat(st); error != 0)
        return readFailed(error);
    MetadataRead read;
    read.metadata = metadataFromStat(st);
    if (!selection.any())
        return read;
    read.metadata.attributesRead = selection;
    read.error = readAttributes(entry, selection, read.metadata.attributes, read.detail);
    return read;
}

bool sameMoment(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The attributes of one kind (ACLs, or the others), in their sorted order.
std::vector<const ExtendedAttribute*> ofKind(const std::vector<ExtendedAttribute>& attributes, bool acls) {
    std::vector<const ExtendedAttribute*> out;
    for (const ExtendedAttribute& attribute : attributes)
        if (isAclAttribute(attribute.name) == acls)
            out.push_back(&attribute);
    return out;
}

bool sameAttributes(const std::vector<const ExtendedAttribute*>& a,
                    const std::vector<const ExtendedAttribute*>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const ExtendedAttribute* x, const ExtendedAttribute* y) { return *x == *y; });
}

// The report line's subject for a kind.
std::string_view subject(MetadataKind kind) {
    switch (kind) {
    case MetadataKind::Owners:
        return "Owners and groups";
    case MetadataKind::Permissions:
        return "Permissions";
    case MetadataKind::Times:
        return "Times of folders and links";
    case MetadataKind::ExtendedAttributes:
        return "Extended attributes";
    case MetadataKind::AccessControlLists:
        return "ACLs";
    case MetadataKind::HardLinks:
        return "Hard links";
    }
    return "Metadata";
}

} // namespace

std::string_view metadataKindName(MetadataKind kind) {
    switch (kind) {
    case MetadataKind::Owners:
        return "owner and group";
    case MetadataKind::Permissions:
        return "permissions";
    case MetadataKind::Times:
        return "times";
    case MetadataKind::ExtendedAttributes:
        return "extended attributes";
    case MetadataKind::AccessControlLists:
        return "ACLs";
    case MetadataKind::HardLinks:
        return "hard links";
    }
    return "metadata";
}

std::string metadataKindsText(MetadataKinds kinds) {
    std::string text;
    for (int i = 0; i < kMetadataKindCount; ++i) {
        const auto kind = static_cast<MetadataKind>(i);
        if (!kinds.has(kind))
            continue;
        if (!text.empty())
            text += ", ";
        text += metadataKindName(kind);
    }
    return text;
}

bool isAclAttribute(std::string_view name) {
    return name == kAclAccess || name == kAclDefault;
}

bool keepsAttribute(const AttributeSelection& selection, std::string_view name, bool privileged) {
    if (isAclAttribute(name))
        return selection.accessControlLists;
    if (!selection.extendedAttributes)
        return false;
    if (startsWith(name, "user."))
        return true;
    return privileged && (startsWith(name, "trusted.") || startsWith(name, "security."));
}

FileStamp EntryMetadata::stamp() const {
    FileStamp stamp;
    stamp.size = size;
    stamp.modifiedTime = modifiedTime.tv_sec;
    stamp.modifiedNanos = static_cast<int32_t>(modifiedTime.tv_nsec);
    stamp.inode = inode;
    return stamp;
}

EntryMetadata metadataFromStat(const struct stat& st) {
    EntryMetadata metadata;
    metadata.type = st.st_mode & S_IFMT;
    metadata.permissions = st.st_mode & 07777;
    metadata.owner = st.st_uid;
    metadata.group = st.st_gid;
    metadata.accessTime = st.st_atim;
    metadata.modifiedTime = st.st_mtim;
    metadata.device = st.st_dev;
    metadata.inode = st.st_ino;
    metadata.links = static_cast<uint32_t>(st.st_nlink);
    metadata.size = st.st_size;
    return metadata;
}

MetadataRead readMetadata(int fd, const AttributeSelection& selection) {
    return readFrom(EntryHandle::borrow(fd), selection);
}

MetadataRead readMetadataAt(int dir, const std::string& name, const AttributeSelection& selection) {
    return readFrom(EntryHandle::named(dir, name), selection);
}

AttributesRead readAttributesAt(int dir, const std::string& name, const AttributeSelection& selection) {
    AttributesRead read;
    if (selection.any())
        read.error = readAttributes(EntryHandle::named(dir, name), selection, read.attributes, read.detail);
    return read;
}

AttributesRead readAttributes(int fd, const AttributeSelection& selection) {
    AttributesRead read;
    if (selection.any())
        read.error = readAttributes(EntryHandle::borrow(fd), selection, read.attributes, read.detail);
    return read;
}

uint64_t attributesDigest(const std::vector<ExtendedAttribute>& attributes) {
    // FNV-1a over name, NUL, length and value of each attribute in name order.
    uint64_t hash = 0xcbf29ce484222325ull;
    const auto mix = [&hash](const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    };
    bool any = false;
    for (const ExtendedAttribute& attribute : attributes) {
        if (attribute.name == "security.selinux")
            continue;
        any = true;
        mix(attribute.name.data(), attribute.name.size() + 1);
        const uint64_t size = attribute.value.size();
        mix(&size, sizeof size);
        mix(attribute.value.data(), attribute.value.size());
    }
    if (!any)
        return 0;
    return hash <= kAttributesUnread ? hash + 2 : hash;
}

uint64_t attributesDigestAt(int dir, const std::string& name, const AttributeSelection& selection) {
    const AttributesRead read = readAttributesAt(dir, name, selection);
    return read.ok() ? attributesDigest(read.attributes) : kAttributesUnread;
}

uint64_t attributesDigestOf(int fd, const AttributeSelection& selection) {
    const AttributesRead read = readAttributes(fd, selection);
    return read.ok() ? attributesDigest(read.attributes) : kAttributesUnread;
}

MetadataRead readMetadataBeneath(LocationResolver& locations, const std::string& path,
                                 const AttributeSelection& selection) {
    const ResolvedPath resolved = locations.resolve(path);
    if (!resolved.ok())
        return readFailed(resolved.error);
    return readMetadataAt(resolved.folder.get(), resolved.name, selection);
}

OwnershipFacts ownershipOf(const struct stat& st) {
    return {static_cast<uint32_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
}

OwnershipFacts ownershipOf(const EntryMetadata& metadata) {
    return {metadata.permissions, metadata.owner, metadata.group};
}

bool canKeepOwners() {
    return ::geteuid() == 0;
}

MetadataKinds ownershipDifferences(const OwnershipFacts& a, const OwnershipFacts& b,
                                   const MetadataComparison& comparison) {
    MetadataKinds kinds;
    if (comparison.owners && (a.owner != b.owner || a.group != b.group))
        kinds.add(MetadataKind::Owners);
    if (!comparison.permissions)
        return kinds;
    // Without owners, a set-id bit the copy could not keep (its owner or group is another) is no
    // difference: setting it again would not keep it either.
    uint32_t compared = 07777;
    if (!comparison.owners && a.owner != b.owner)
        compared &= ~uint32_t(S_ISUID);
    if (!comparison.owners && a.group != b.group)
        compared &= ~uint32_t(S_ISGID);
    if ((a.permissions & compared) != (b.permissions & compared))
        kinds.add(MetadataKind::Permissions);
    return kinds;
}

MetadataKinds attributeDifferences(const std::vector<ExtendedAttribute>& a,
                                   const std::vector<ExtendedAttribute>& b) {
    MetadataKinds kinds;
    if (!sameAttributes(ofKind(a, false), ofKind(b, false)))
        kinds.add(MetadataKind::ExtendedAttributes);
    if (!sameAttributes(ofKind(a, true), ofKind(b, true)))
        kinds.add(MetadataKind::AccessControlLists);
    return kinds;
}

MetadataKinds metadataOnlyChange(const FileStamp& a, const OwnershipFacts& aOwnership, const FileStamp& b,
                                 const OwnershipFacts& bOwnership, const MetadataComparison& comparison) {
    if (a.size != b.size || timeStep(a.modifiedTime) != timeStep(b.modifiedTime))
        return {};
    return ownershipDifferences(aOwnership, bOwnership, comparison);
}

MetadataKinds metadataDifferences(const EntryMetadata& a, const EntryMetadata& b,
                                  const MetadataComparison& comparison) {
    MetadataComparison effective = comparison;
    if (a.isLink() || b.isLink())
        effective.permissions = false; // a link's bits mean nothing on Linux and cannot be set
    MetadataKinds kinds = ownershipDifferences(ownershipOf(a), ownershipOf(b), effective);
    if ((a.isFolder() || a.isLink()) && !sameMoment(a.modifiedTime, b.modifiedTime))
        kinds.add(MetadataKind::Times);
    if (a.attributesRead.any() && a.attributesRead == b.attributesRead)
        kinds.add(attributeDifferences(a.attributes, b.attributes));
    return kinds;
}

MetadataKeeper::MetadataKeeper(std::string destination) : destination_(std::move(destination)) {}

bool MetadataKeeper::mayTry(MetadataKind kind, uint64_t device) const {
    const std::lock_guard lock(mutex_);
    for (const Refusals& refusals : refusals_)
        if (refusals.device == device)
            return !refusals.kinds.has(kind);
    return true;
}

void MetadataKeeper::refused(MetadataKind kind, uint64_t device) {
    const std::lock_guard lock(mutex_);
    auto found = std::find_if(refusals_.begin(), refusals_.end(),
                              [&](const Refusals& refusals) { return refusals.device == device; });
    if (found == refusals_.end())
        found = refusals_.insert(refusals_.end(), Refusals{device, {}});
    found->kinds.add(kind);
    if (reportedRefused_.has(kind))
        return;
    reportedRefused_.add(kind);
    std::string line = std::string(subject(kind)) + " cannot be kept on " + destination_ +
                       " (the file system does not hold them";
    line += kind == MetadataKind::HardLinks ? "; each name gets a copy of its own)" : ")";
    pending_.push_back(std::move(line));
}

void MetadataKeeper::notPermitted(MetadataKind kind) {
    const std::lock_guard lock(mutex_);
    if (reportedNotPermitted_.has(kind))
        return;
    reportedNotPermitted_.add(kind);
    if (kind == MetadataKind::Owners)
        pending_.push_back("Owners and groups other than your own cannot be kept on " + destination_ +
                           " (only root may give files away)");
    else
        pending_.push_back(std::string(subject(kind)) + " cannot all be kept on " + destination_ +
                           " (only root may set them)");
}

std::vector<std::string> MetadataKeeper::takeReport() {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.swap(pending_);
    return lines;
}

MetadataKinds MetadataKeeper::refusedKinds() const {
    const std::lock_guard lock(mutex_);
    return reportedRefused_;
}

MetadataKinds MetadataKeeper::notPermittedKinds() const {
    const std::lock_guard lock(mutex_);
    return reportedNotPermitted_;
}

} // namespace paritas

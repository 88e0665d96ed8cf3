// Applying metadata to B's entries; the order and its reasons are in metadata.h.

#include "core/platform/entry_handle.h"
#include "core/platform/metadata.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace paritas {
namespace {

using detail::EntryHandle;

// A file system that does not hold a kind says so with these. EPERM says it only when the process
// owns the entry or is root; otherwise it is the ordinary refusal of another user's file.
bool isRefusal(int error, bool ownerOrRoot) {
    return error == EOPNOTSUPP || error == ENOTSUP || error == ENOSYS || (error == EPERM && ownerOrRoot);
}

bool sameMoment(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool isMemberOf(gid_t group) {
    if (group == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

MetadataKind kindOf(std::string_view attribute) {
    return isAclAttribute(attribute) ? MetadataKind::AccessControlLists : MetadataKind::ExtendedAttributes;
}

// Which steps one call takes, in the order of metadata.h.
struct Steps {
    bool owners = false;
    bool attributes = false;
    bool permissions = false;
    bool times = false;
    mode_t extraPermissions = 0; // added to the source's bits (a folder this process still fills)
    bool timesRefusable = false; // a refused time is the file system's limit, not the copy's failure
};

class Applier {
public:
    Applier(const EntryHandle& entry, const EntryMetadata& source, MetadataKeeper& keeper)
        : entry_(entry), source_(source), keeper_(keeper), root_(::geteuid() == 0) {}

    MetadataApplied run(const Steps& steps) {
        int error = refresh();
        if (error == 0 && steps.owners)
            error = owners();
        if (error == 0 && steps.attributes)
            error = attributes();
        if (error == 0 && steps.permissions)
            error = permissions(static_cast<mode_t>(source_.permissions) | steps.extraPermissions);
        if (error == 0 && steps.times)
            error = times(steps.timesRefusable);
        return {error, error == 0 ? std::string() : std::move(detail_)};
    }

    const struct stat& current() const { return current_; }
    int refresh() { return entry_.stat(current_); }

private:
    bool ownerOrRoot() const { return root_ || current_.st_uid == ::geteuid(); }
    bool mayTry(MetadataKind kind) const { return keeper_.mayTry(kind, current_.st_dev); }

    int failed(int error, std::string what) {
        detail_ = std::move(what);
        return error;
    }

    // The kind is refused by the file system (reported once), or the call failed for this entry.
    int refusedOrFailed(MetadataKind kind, int error, std::string what) {
        if (!isRefusal(error, ownerOrRoot()))
            return failed(error, std::move(what));
        keeper_.refused(kind, current_.st_dev);
        return 0;
    }

    int owners() {
        if (!mayTry(MetadataKind::Owners) ||
            (current_.st_uid == source_.owner && current_.st_gid == source_.group))
            return 0;
        if (root_) {
            if (const int error = entry_.chown(source_.owner, source_.group); error != 0)
                return refusedOrFailed(MetadataKind::Owners, error, "the owner and group");
            return refreshAndCheckOwners(source_.owner); // the set-id bits went with the old owner
        }
        // Another user keeps only its own uid and the groups it belongs to, as cp -a does.
        if (current_.st_uid != source_.owner)
            keeper_.notPermitted(MetadataKind::Owners);
        if (current_.st_gid == source_.group)
            return 0;
        if (current_.st_uid != ::geteuid() || !isMemberOf(source_.group)) {
            keeper_.notPermitted(MetadataKind::Owners);
            return 0;
        }
        if (const int error = entry_.chown(static_cast<uid_t>(-1), source_.group); error != 0)
            return refusedOrFailed(MetadataKind::Owners, error, "the group");
        return refreshAndCheckOwners(current_.st_uid);
    }

    // Some file systems accept a chown and keep nothing of it (FUSE file systems without owners).
    int refreshAndCheckOwners(uid_t owner) {
        if (const int error = refresh(); error != 0)
            return error;
        if (current_.st_uid != owner || current_.st_gid != source_.group)
            keeper_.refused(MetadataKind::Owners, current_.st_dev);
        return 0;
    }

    bool sourceHas(const std::string& name) const {
        return std::any_of(source_.attributes.begin(), source_.attributes.end(),
                           [&](const ExtendedAttribute& attribute) { return attribute.name == name; });
    }

    // Whether `name` is to be made like the source's on this entry.
    bool manages(std::string_view name) const {
        if (!keepsAttribute(source_.attributesRead, name, root_) || !mayTry(kindOf(name)))
            return false;
        // A link holds neither user.* attributes nor ACLs.
        return !S_ISLNK(current_.st_mode) || (!isAclAttribute(name) && !startsWith(name, "user."));
    }

    int attributes() {
        if (!source_.attributesRead.any())
            return 0;
        std::vector<std::string> present;
        if (const int error = detail::listAttributeNames(entry_, present); error != 0)
            return failed(error, "the list of extended attributes");
        std::vector<const std::string*> removals;
        // The security module's label is given by its policy to every new file; it is carried when A has
        // one, never taken away.
        for (const std::string& name : present)
            if (manages(name) && !sourceHas(name) && name != "security.selinux")
                removals.push_back(&name);
        // ACLs last: an ACL may take away the owner's write permission, which anyone but root needs to
        // set the other attributes.
        std::vector<const ExtendedAttribute*> settings;
        for (const bool acls : {false, true})
            for (const ExtendedAttribute& attribute : source_.attributes)
                if (isAclAttribute(attribute.name) == acls && manages(attribute.name) &&
                    differs(attribute, present))
                    settings.push_back(&attribute);
        if (removals.empty() && settings.empty())
            return 0;
        // An entry of A without the owner's write permission: its copy needs it until the permission
        // step, which sets the exact bits.
        if (!root_ && current_.st_uid == ::geteuid() && (current_.st_mode & S_IWUSR) == 0)
            entry_.chmod((current_.st_mode & 07777) | S_IWUSR);
        for (const std::string* name : removals)
            if (const int error = entry_.removeAttribute(name->c_str()); error != 0 && error != ENODATA)
                if (const int failure =
                        refusedOrFailed(kindOf(*name), error, "the extended attribute " + *name))
                    return failure;
        for (const ExtendedAttribute* attribute : settings) {
            if (!manages(attribute->name))
                continue; // its kind was refused a moment ago
            if (const int error = entry_.setAttribute(attribute->name, attribute->value); error != 0)
                if (const int failure = refusedOrFailed(kindOf(attribute->name), error,
                                                        "the extended attribute " + attribute->name))
                    return failure;
        }
        // An ACL sets the group bits; the permission step compares with what is there now.
        return refresh();
    }

    bool differs(const ExtendedAttribute& attribute, const std::vector<std::string>& present) const {
        if (std::find(present.begin(), present.end(), attribute.name) == present.end())
            return true;
        std::string value;
        return detail::readAttributeValue(entry_, attribute.name, value) != 0 || value != attribute.value;
    }

    int permissions(mode_t wanted) {
        // As cp does: a set-id bit is kept only with the owner or group it gives its power to, never
        // handed to whoever owns the copy instead.
        if (current_.st_uid != source_.owner)
            wanted &= ~mode_t(S_ISUID);
        if (current_.st_gid != source_.group)
            wanted &= ~mode_t(S_ISGID);
        if (S_ISLNK(current_.st_mode) || !mayTry(MetadataKind::Permissions) ||
            (current_.st_mode & 07777) == wanted)
            return 0;
        if (const int error = entry_.chmod(wanted); error != 0)
            return refusedOrFailed(MetadataKind::Permissions, error, "the permissions");
        if (const int error = refresh(); error != 0)
            return error;
        // Some file systems accept any bits and keep none (exFAT through FUSE shows 0777 whatever was
        // set). The kernel itself drops set-group-id for a user outside the file's group: not that.
        const mode_t compared = root_ ? 07777 : 07777 & ~S_ISGID;
        if ((current_.st_mode & compared) != (wanted & compared))
            keeper_.refused(MetadataKind::Permissions, current_.st_dev);
        return 0;
    }

    int times(bool refusable) {
        if (sameMoment(current_.st_atim, source_.accessTime) &&
            sameMoment(current_.st_mtim, source_.modifiedTime))
            return 0;
        if (refusable && !mayTry(MetadataKind::Times))
            return 0;
        const timespec wanted[2] = {source_.accessTime, source_.modifiedTime};
        const int error = entry_.setTimes(wanted);
        if (error == 0)
            return 0;
        if (!refusable)
            return failed(error, "the modified time");
        return refusedOrFailed(MetadataKind::Times, error, "the modified time");
    }

    const EntryHandle& entry_;
    const EntryMetadata& source_;
    MetadataKeeper& keeper_;
    const bool root_;
    struct stat current_ {};
    std::string detail_;
};

MetadataApplied notApplied(int error) {
    return {error, {}};
}

} // namespace

MetadataApplied applyToNewFile(int fd, const EntryMetadata& source, MetadataKeeper& keeper) {
    const EntryHandle entry = EntryHandle::borrow(fd);
    Applier applier(entry, source, keeper);
    return applier.run({.owners = true, .attributes = true, .permissions = true, .times = true});
}

MetadataApplied applyToNewFolder(int fd, const EntryMetadata& source, MetadataKeeper& keeper) {
    const EntryHandle entry = EntryHandle::borrow(fd);
    Applier applier(entry, source, keeper);
    // Root passes every permission check; anyone else could not fill a folder of A's that is read-only.
    const mode_t extra = ::geteuid() == 0 ? 0 : S_IRWXU;
    return applier.run({.owners = true, .attributes = true, .permissions = true, .extraPermissions = extra});
}

MetadataApplied finishFolder(int fd, const EntryMetadata& source, MetadataKeeper& keeper) {
    const EntryHandle entry = EntryHandle::borrow(fd);
    Applier applier(entry, source, keeper);
    return applier.run({.permissions = true, .times = true, .timesRefusable = true});
}

MetadataApplied finishFolderTimes(int fd, const EntryMetadata& source, MetadataKeeper& keeper) {
    const EntryHandle entry = EntryHandle::borrow(fd);
    Applier applier(entry, source, keeper);
    return applier.run({.times = true, .timesRefusable = true});
}

MetadataApplied applyToLink(int dir, const std::string& name, const EntryMetadata& source,
                            MetadataKeeper& keeper) {
    const EntryHandle entry = EntryHandle::openPath(dir, name);
    if (!entry.valid())
        return notApplied(entry.error());
    Applier applier(entry, source, keeper);
    if (applier.refresh() != 0 || !S_ISLNK(applier.current().st_mode))
        return notApplied(kChangedSincePlanning);
    return applier.run({.owners = true, .attributes = true, .times = true, .timesRefusable = true});
}

MetadataApplied updateMetadataAt(int dir, const std::string& name, const EntryMetadata& source,
                                 const FileStamp* expected, MetadataKeeper& keeper) {
    const EntryHandle entry = EntryHandle::openPath(dir, name);
    if (!entry.valid())
        return notApplied(entry.error() == ENOENT ? kChangedSincePlanning : entry.error());
    Applier applier(entry, source, keeper);
    if (const int error = applier.refresh(); error != 0)
        return notApplied(error);
    const struct stat& now = applier.current();
    if ((now.st_mode & S_IFMT) != source.type)
        return notApplied(kChangedSincePlanning);
    if (expected && !metadataFromStat(now).stamp().sameFileAs(*expected))
        return notApplied(kChangedSincePlanning);
    const bool fileTimes = S_ISREG(now.st_mode);
    return applier.run({.owners = true,
                        .attributes = true,
                        .permissions = true,
                        .times = true,
                        .timesRefusable = !fileTimes});
}

} // namespace paritas

#include "core/platform/hard_links.h"

#include "core/platform/capabilities.h"
#include "core/platform/entry_handle.h"
#include "core/platform/file_queries.h"
#include "core/platform/placement.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace paritas {
namespace {

using Identity = std::pair<uint64_t, uint64_t>; // device, inode

Identity identityOf(const LinkFacts& facts) {
    return {facts.device, facts.inode};
}

LinkResult linkFailed(int error) {
    return {LinkOutcome::Failed, error, {}, {}};
}

// Why a name that was to be free is taken: a folder standing there, or something that appeared since
// planning.
int takenReason(int dir, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
        return EISDIR;
    return kChangedSincePlanning;
}

} // namespace

std::vector<HardLinkGroup> groupHardLinks(std::span<const LinkFacts> rows) {
    std::vector<std::size_t> linked;
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row].links > 1)
            linked.push_back(row);
    // Stable: within one file the rows stay in row order, so the first is the one copied.
    std::stable_sort(linked.begin(), linked.end(),
                     [&](std::size_t x, std::size_t y) { return identityOf(rows[x]) < identityOf(rows[y]); });
    std::vector<HardLinkGroup> groups;
    for (std::size_t begin = 0; begin < linked.size();) {
        std::size_t end = begin + 1;
        while (end < linked.size() && identityOf(rows[linked[end]]) == identityOf(rows[linked[begin]]))
            ++end;
        if (end - begin > 1)
            groups.push_back({std::vector<std::size_t>(linked.begin() + std::ptrdiff_t(begin),
                                                       linked.begin() + std::ptrdiff_t(end))});
        begin = end;
    }
    std::sort(groups.begin(), groups.end(),
              [](const HardLinkGroup& x, const HardLinkGroup& y) { return x.rows.front() < y.rows.front(); });
    return groups;
}

std::vector<std::size_t> hardLinkMismatches(std::span<const LinkFacts> a, std::span<const LinkFacts> b) {
    // The first name of each file on one side says which file its partners must share on the other.
    std::map<Identity, Identity> bOfA;
    std::map<Identity, Identity> aOfB;
    std::vector<std::size_t> mismatches;
    const std::size_t count = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < count; ++i) {
        const Identity inA = identityOf(a[i]);
        const Identity inB = identityOf(b[i]);
        const Identity partnerInB = bOfA.try_emplace(inA, inB).first->second;
        const Identity partnerInA = aOfB.try_emplace(inB, inA).first->second;
        if (partnerInB != inB || partnerInA != inA)
            mismatches.push_back(i);
    }
    return mismatches;
}

namespace {

// What a failed linkat says: the name is taken, the file system holds no (more) links here (told to
// `keeper` where it holds none at all), or a failure of this one link.
LinkResult linkRefused(int error, int dir, const std::string& name, const struct stat& existing,
                       MetadataKeeper* keeper) {
    switch (error) {
    case EEXIST:
        return linkFailed(takenReason(dir, name));
    case EPERM:
        // Also the kernel's guard against linking other users' files (protected_hardlinks).
        if (::geteuid() != 0 && existing.st_uid != ::geteuid())
            return linkFailed(error);
        [[fallthrough]];
    case EOPNOTSUPP:
    case ENOSYS:
        if (keeper)
            keeper->refused(MetadataKind::HardLinks, existing.st_dev);
        return {LinkOutcome::NotHeld, error, {}, {}};
    case EMLINK: // this file has all the names it may have
    case EXDEV:  // the new name lies on another file system below the location
        return {LinkOutcome::NotHeld, error, {}, {}};
    default:
        return linkFailed(error);
    }
}

// The file at `path`, opened without following a link there, while it is still the planned file
// (`expected`; inode numbers count only where `capabilities` find them stable). `error` says why not.
struct PlannedFile {
    detail::EntryHandle handle;
    struct stat st {};
    int error = 0;
};

PlannedFile openPlannedFile(LocationResolver& locations, const std::string& path, const FileStamp* expected,
                            const FileSystemCapabilities* capabilities) {
    const ResolvedPath from = locations.resolve(path);
    if (!from.ok())
        return {detail::EntryHandle::borrow(-1), {}, from.error};
    PlannedFile file{detail::EntryHandle::openPath(from.folder.get(), from.name), {}, 0};
    if (!file.handle.valid())
        file.error = file.handle.error() == ENOENT ? kChangedSincePlanning : file.handle.error();
    else if (const int error = file.handle.stat(file.st); error != 0)
        file.error = error;
    else if (S_ISDIR(file.st.st_mode) || (expected && !sameFileOn(capabilities, stampOf(file.st), *expected)))
        file.error = kChangedSincePlanning;
    return file;
}

} // namespace

LinkResult placeHardLinkBeneath(LocationResolver& locations, const std::string& existingPath,
                                const FileStamp* expected, const std::string& newPath,
                                const DestinationPlan& plan, const CopyOptions& options) {
    const PlannedFile file = openPlannedFile(locations, existingPath, expected, options.capabilities);
    if (file.error != 0)
        return linkFailed(file.error);
    const detail::EntryHandle& existing = file.handle;
    const struct stat& st = file.st;
    if ((options.capabilities && !options.capabilities->hardLinks) ||
        (options.keeper && !options.keeper->mayTry(MetadataKind::HardLinks, st.st_dev)))
        return {LinkOutcome::NotHeld, 0, {}, {}};
    const ResolvedPath to = locations.resolve(newPath);
    if (!to.ok())
        return linkFailed(to.error);
    const int dir = to.folder.get();
    if (plan.kind == DestinationPlan::Kind::Nothing) {
        // linkat never replaces: the name is given only while it is free.
        if (::linkat(AT_FDCWD, existing.procPath(), dir, to.name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return {LinkOutcome::Linked, 0, {}, {}};
        return linkRefused(errno, dir, to.name, st, options.keeper);
    }
    // A file there that is to be kept must have somewhere to go before anything changes.
    struct stat there {};
    if (options.disposal && ::fstatat(dir, to.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(there.st_mode))
        if (const Disposed ready = options.disposal->ready(dir, newPath); !ready.ok())
            return {LinkOutcome::Failed, ready.error, ready.detail, {}};
    placement::TemporaryName held(dir);
    for (int attempt = 0; attempt < 16 && !held.held(); ++attempt) {
        std::string name = copyTemporaryName();
        if (::linkat(AT_FDCWD, existing.procPath(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            held.hold(std::move(name));
        else if (errno != EEXIST)
            return linkRefused(errno, dir, to.name, st, options.keeper);
    }
    if (!held.held())
        return linkFailed(EEXIST);
    const placement::OldVersion old{options.disposal, &newPath, options.between};
    const Disposed placed = placement::placeHeld(dir, held, to.name, plan, old, options.capabilities);
    if (!placed.ok())
        return {LinkOutcome::Failed, placed.error, placed.detail, {}};
    return {LinkOutcome::Linked, 0, {}, placed.keptAt};
}

LinkResult linkBeneath(LocationResolver& locations, const std::string& existingPath,
                       const FileStamp* expected, const std::string& newPath, MetadataKeeper& keeper) {
    const PlannedFile file = openPlannedFile(locations, existingPath, expected, nullptr);
    if (file.error != 0)
        return linkFailed(file.error);
    const detail::EntryHandle& existing = file.handle;
    const struct stat& st = file.st;
    const ResolvedPath to = locations.resolve(newPath);
    if (!to.ok())
        return linkFailed(to.error);
    if (!keeper.mayTry(MetadataKind::HardLinks, st.st_dev))
        return {LinkOutcome::NotHeld, 0, {}, {}};
    // Through the descriptor, so that the name is given to the very file checked above (a link
    // included: the /proc entry leads to the link itself). linkat never replaces.
    if (::linkat(AT_FDCWD, existing.procPath(), to.folder.get(), to.name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return {LinkOutcome::Linked, 0, {}, {}};
    const int error = errno;
    switch (error) {
    case EEXIST:
        return linkFailed(takenReason(to.folder.get(), to.name));
    case EPERM:
        // Also the kernel's guard against linking other users' files (protected_hardlinks).
        if (::geteuid() != 0 && st.st_uid != ::geteuid())
            return linkFailed(error);
        [[fallthrough]];
    case EOPNOTSUPP:
    case ENOSYS:
        keeper.refused(MetadataKind::HardLinks, st.st_dev);
        return {LinkOutcome::NotHeld, error, {}, {}};
    case EMLINK: // this file has all the names it may have
    case EXDEV:  // the new name lies on another file system below the location
        return {LinkOutcome::NotHeld, error, {}, {}};
    default:
        return linkFailed(error);
    }
}

} // namespace paritas

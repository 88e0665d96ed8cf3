#include "core/execution/metadata_keeping.h"

#include "core/platform/path_text.h"

#include <algorithm>
#include <cerrno>

namespace paritas {
namespace {

// The folder a path lies in ("/b/x/f" -> "/b/x"); empty for a path without a separator.
std::string_view folderOfPath(std::string_view path) {
    const std::size_t slash = path.rfind(kSeparator);
    if (slash == std::string_view::npos)
        return {};
    return path.substr(0, slash == 0 ? 1 : slash);
}

std::size_t depthOf(const std::string& path) {
    return std::size_t(std::count(path.begin(), path.end(), kSeparator));
}

std::string reasonOf(const MetadataApplied& applied) {
    return applied.detail.empty() ? failureText(applied.error)
                                  : failureText(applied.error) + " (" + applied.detail + ")";
}

} // namespace

MetadataKeeping::MetadataKeeping(Locations& locations, const std::vector<std::string>& written,
                                 FolderTimesPlan plan)
    : locations_(locations), plan_(std::move(plan)) {
    for (const std::string& text : written)
        if (Location* location = locations.withText(text))
            keepers_.emplace_back(location, std::make_unique<MetadataKeeper>(location->text()));
}

void MetadataKeeping::learnWhatIsNotHeld() {
    for (auto& [location, keeper] : keepers_) {
        if (!location->exists())
            continue; // probing it now would learn nothing, and keep that for the run
        const FileSystemCapabilities held = location->capabilities();
        if (held.probeError != 0)
            continue;
        const MetadataRead root = location->readMetadata(location->text(), {});
        if (!root.ok())
            continue;
        const uint64_t device = root.metadata.device;
        if (!held.ownersAndModes) {
            keeper->refused(MetadataKind::Owners, device);
            keeper->refused(MetadataKind::Permissions, device);
        }
        if (!held.extendedAttributes) {
            keeper->refused(MetadataKind::ExtendedAttributes, device);
            keeper->refused(MetadataKind::AccessControlLists, device);
        }
        if (!held.hardLinks)
            keeper->refused(MetadataKind::HardLinks, device);
        if (held.timeGranularityNs == 0)
            keeper->refused(MetadataKind::Times, device);
    }
}

MetadataKeeper* MetadataKeeping::keeperFor(const std::string& path) {
    Location* location = locations_.holding(path);
    for (auto& [written, keeper] : keepers_)
        if (written == location)
            return keeper.get();
    return nullptr;
}

void MetadataKeeping::report(ActivityHost& host) {
    for (auto& entry : keepers_)
        for (const std::string& line : entry.second->takeReport())
            host.log(line);
}

void MetadataKeeping::touched(const PlanItem& item) {
    switch (item.kind) {
    case ActionKind::CreateFolder:
        made_.insert(item.path);
        touch(folderOfPath(item.path));
        break;
    case ActionKind::MoveRename:
        touch(folderOfPath(item.path));
        touch(folderOfPath(item.destination));
        break;
    case ActionKind::Copy:
    case ActionKind::HardLink:
        touch(folderOfPath(item.destination));
        break;
    case ActionKind::DeleteFile:
    case ActionKind::RemoveFolder:
        touch(folderOfPath(item.path));
        break;
    case ActionKind::Attributes:
        touch(item.path); // a folder's own; a file's path names no folder, which nothing finishes
        break;
    case ActionKind::Original:
        break;
    }
}

MetadataKeeping::Follower MetadataKeeping::followerOf(const std::string& folder) {
    const MirroredLocation* mirror = mirrorOf(plan_.mirrors, folder);
    MetadataKeeper* keeper = keeperFor(folder);
    if (!mirror || !keeper)
        return {};
    std::string source = mirroredPath(*mirror, folder);
    Location* from = locations_.holding(source);
    Location* to = locations_.holding(folder);
    if (!from || !to)
        return {};
    return {std::move(source), from, to, keeper};
}

void MetadataKeeping::startFolder(const std::string& folder, ActivityHost& host) {
    const Follower f = followerOf(folder);
    if (f.source.empty())
        return;
    const MetadataRead read = f.from->readMetadata(f.source, kAllAttributes);
    if (!read.ok() || !read.metadata.isFolder())
        return; // nothing to take it from: the folder keeps what it was made with
    const MetadataApplied applied =
        f.to->applyMetadata(folder, read.metadata, {MetadataStep::Kind::NewFolder}, *f.keeper);
    if (!applied.ok())
        host.log("Cannot keep the metadata of folder " + folder + ": " + reasonOf(applied));
}

void MetadataKeeping::finishFolders(ActivityHost& host) {
    std::vector<std::pair<std::string, bool>> folders; // folder, made by this run
    std::unordered_set<std::string> listed;
    const auto add = [&](const std::string& folder, bool made) {
        if (listed.insert(folder).second)
            folders.emplace_back(folder, made);
    };
    for (const std::string& folder : made_)
        if (mirrorOf(plan_.mirrors, folder))
            add(folder, true);
    for (const std::string& folder : touched_) {
        const MirroredLocation* mirror = mirrorOf(plan_.mirrors, folder);
        if (mirror && mirror->everyFolder) {
            add(folder, false);
            add(mirror->location.substr(0, mirror->location.size() - 1), false);
        }
    }
    for (const std::string& folder : plan_.stale)
        add(folder, false);
    std::stable_sort(folders.begin(), folders.end(),
                     [](const auto& x, const auto& y) { return depthOf(x.first) > depthOf(y.first); });
    for (const auto& [folder, made] : folders)
        finish(folder, made, host);
}

void MetadataKeeping::touch(std::string_view folder) {
    if (!folder.empty() && locations_.holding(folder))
        touched_.emplace(folder);
}

void MetadataKeeping::finish(const std::string& folder, bool made, ActivityHost& host) {
    const Follower f = followerOf(folder);
    if (f.source.empty())
        return;
    const MetadataRead read = f.from->readMetadata(f.source, {});
    if (!read.ok() || !read.metadata.isFolder())
        return; // a folder A lacks: it is removed, or stays as B has it
    const MetadataStep step{made ? MetadataStep::Kind::FinishFolder : MetadataStep::Kind::FolderTimes};
    const MetadataApplied applied = f.to->applyMetadata(folder, read.metadata, step, *f.keeper);
    if (!applied.ok() && applied.error != kChangedSincePlanning && applied.error != ENOENT)
        host.log("Cannot keep the times of folder " + folder + ": " + reasonOf(applied));
}

} // namespace paritas

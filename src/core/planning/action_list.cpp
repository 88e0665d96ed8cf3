#include "core/planning/action_list.h"

#include <utility>

namespace paritas {
namespace {

std::string_view prefixOf(const PlanItem& item) {
    switch (item.kind) {
    case ActionKind::CreateFolder:
        return kCreateDirPrefix;
    case ActionKind::MoveRename:
        return kMoveRenamePrefix;
    case ActionKind::Copy:
        return kCopyPrefix;
    case ActionKind::DeleteFile:
        return kDeleteFilePrefix;
    case ActionKind::RemoveFolder:
        return kRemoveDirPrefix;
    case ActionKind::Attributes:
        return kAttributesPrefix;
    case ActionKind::HardLink:
        return kHardLinkPrefix;
    case ActionKind::Original:
        break;
    }
    return item.markedOriginal ? kOriginalMarkedPrefix : kOriginalPrefix;
}

bool hasDestination(ActionKind kind) {
    return kind == ActionKind::MoveRename || kind == ActionKind::Copy || kind == ActionKind::HardLink;
}

PlanItem itemOf(ActionKind kind, std::string path, std::string destination = {}) {
    PlanItem item;
    item.kind = kind;
    item.path = std::move(path);
    item.destination = std::move(destination);
    return item;
}

} // namespace

std::size_t lineLength(const PlanItem& item) {
    std::size_t length = prefixOf(item).size() + item.path.size();
    if (item.kind == ActionKind::Original && item.markedOriginal)
        ++length;
    if (hasDestination(item.kind))
        length += 1 + item.destination.size();
    return length;
}

std::string lineText(const PlanItem& item) {
    std::string line;
    line.reserve(lineLength(item));
    line.append(prefixOf(item));
    if (item.kind == ActionKind::Original && item.markedOriginal)
        line.push_back('*');
    line.append(item.path);
    if (hasDestination(item.kind))
        line.append(1, '*').append(item.destination);
    return line;
}

std::vector<std::string> lineTexts(const ActionList& items) {
    std::vector<std::string> lines;
    lines.reserve(items.size());
    for (const PlanItem& item : items)
        lines.push_back(lineText(item));
    return lines;
}

PlanItem createFolderItem(std::string folder) {
    return itemOf(ActionKind::CreateFolder, std::move(folder));
}
PlanItem moveItem(std::string source, std::string destination) {
    return itemOf(ActionKind::MoveRename, std::move(source), std::move(destination));
}
PlanItem copyItem(std::string source, std::string destination) {
    return itemOf(ActionKind::Copy, std::move(source), std::move(destination));
}
PlanItem deleteItem(std::string file) {
    return itemOf(ActionKind::DeleteFile, std::move(file));
}
PlanItem removeFolderItem(std::string folder) {
    return itemOf(ActionKind::RemoveFolder, std::move(folder));
}
PlanItem originalItem(std::string file, bool marked) {
    PlanItem item = itemOf(ActionKind::Original, std::move(file));
    item.markedOriginal = marked;
    return item;
}

PlanItem attributesItem(std::string entry, std::string source) {
    return itemOf(ActionKind::Attributes, std::move(entry), std::move(source));
}
PlanItem hardLinkItem(std::string existing, std::string name) {
    return itemOf(ActionKind::HardLink, std::move(existing), std::move(name));
}

const MirroredLocation* mirrorOf(const std::vector<MirroredLocation>& mirrors, std::string_view folder) {
    const MirroredLocation* best = nullptr;
    for (const MirroredLocation& mirror : mirrors) {
        const std::string_view location = mirror.location;
        const bool holds = folder.substr(0, location.size()) == location ||
                           (!location.empty() && folder == location.substr(0, location.size() - 1));
        if (holds && (!best || location.size() > best->location.size()))
            best = &mirror;
    }
    return best;
}

std::string mirroredPath(const MirroredLocation& mirror, std::string_view folder) {
    if (folder.size() < mirror.location.size())
        return mirror.source.substr(0, mirror.source.size() - 1); // the location itself
    std::string path = mirror.source;
    path += folder.substr(mirror.location.size());
    return path;
}

const std::string& shownPath(const PlanItem& item) {
    static const std::string none;
    return item.kind == ActionKind::CreateFolder ? none : item.path;
}

void swapDuplicatePair(PlanItem& original, PlanItem& duplicate) {
    std::swap(original.path, duplicate.path);
    std::swap(original.facts.source, duplicate.facts.source);
    std::swap(original.facts.sourceKnown, duplicate.facts.sourceKnown);
    original.markedOriginal = false;
}

} // namespace paritas

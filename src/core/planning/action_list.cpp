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
    case ActionKind::Original:
        break;
    }
    return item.markedOriginal ? kOriginalMarkedPrefix : kOriginalPrefix;
}

bool hasDestination(ActionKind kind) {
    return kind == ActionKind::MoveRename || kind == ActionKind::Copy;
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

#include "core/planning/action_list.h"

namespace paritas {

ActionKind actionKind(std::string_view line) {
    const std::string_view head = line.substr(0, 2);
    if (head == "Cr")
        return ActionKind::CreateFolder;
    if (head == "Mo")
        return ActionKind::MoveRename;
    if (head == "Co")
        return ActionKind::Copy;
    if (head == "De")
        return ActionKind::DeleteFile;
    if (head == "Re")
        return ActionKind::RemoveFolder;
    return ActionKind::None;
}

bool isOriginalLine(std::string_view line) {
    return line.substr(0, 2) == "Or";
}
bool isOriginalSelection(std::string_view line) {
    return line.substr(0, 3) == "Ori";
}

CutPath pathFrom(std::string_view line, std::size_t position) {
    const std::size_t start = position - 1;
    if (start >= line.size())
        return {};
    const std::string_view tail = line.substr(start);
    return {std::string(tail.substr(0, kPathCap)), tail.size() > kPathCap};
}

CutPair pairFrom(std::string_view line, std::size_t position) {
    CutPair pair;
    const std::size_t start = position - 1;
    const std::size_t separator = line.find('*');
    if (separator == std::string_view::npos || separator < start) {
        pair.source = start < line.size() ? std::string(line.substr(start)) : std::string();
        return pair;
    }
    pair.hasSeparator = true;
    pair.source = std::string(line.substr(start, separator - start));
    const std::string_view tail = line.substr(separator + 1);
    pair.destination = std::string(tail.substr(0, kPathCap));
    pair.truncated = tail.size() > kPathCap;
    return pair;
}

std::string singlePathOf(std::string_view line) {
    if (isOriginalSelection(line))
        return pathFrom(line, 13).path;
    switch (actionKind(line)) {
    case ActionKind::MoveRename:
        return pairFrom(line, 13).source;
    case ActionKind::Copy:
        return pairFrom(line, 6).source;
    case ActionKind::DeleteFile:
        return pathFrom(line, 12).path;
    case ActionKind::RemoveFolder:
        return pathFrom(line, 11).path;
    default:
        return {};
    }
}

} // namespace paritas

#include "cli/plan_json.h"

#include "core/app/modes.h"

#include <nlohmann/json.hpp>

namespace paritas::cli {
namespace {

using json = nlohmann::ordered_json;

std::string lastPart(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

const ActionFacts* factsOf(const PlanResult& plan, std::size_t index) {
    return index < plan.facts.lines.size() ? &plan.facts.lines[index] : nullptr;
}

json sizeOf(const ActionFacts* facts) {
    if (!facts || !facts->sourceKnown)
        return nullptr;
    return facts->source.size;
}

// Why the planner wrote a copy line, from what it saw at the destination.
std::string copyReason(const CutPair& pair, const ActionFacts* facts, int mode, const Settings& settings) {
    if (lastPart(pair.source) != lastPart(pair.destination))
        return "the place is taken: kept under a dated name";
    if (!facts || facts->destination.kind != DestinationPlan::Kind::Planned)
        return "missing in the target";
    if (mode == int(SyncMode::FolderSynch))
        return settings.CheckNewer ? "the source is the newer file" : "the source is the older file";
    return "the target holds another version";
}

} // namespace

std::string actionJson(const PlanResult& plan, std::size_t index, int mode, const Settings& settings) {
    const std::string& line = plan.actions[index];
    const ActionFacts* facts = factsOf(plan, index);
    json object{
        {"kind", nullptr}, {"source", nullptr}, {"target", nullptr}, {"size", nullptr}, {"reason", ""}};
    switch (actionKind(line)) {
    case ActionKind::CreateFolder:
        object["kind"] = "create-folder";
        object["target"] = pathFrom(line, kCreateDirPrefix.size() + 1).path;
        object["reason"] = "missing in the target";
        break;
    case ActionKind::MoveRename: {
        const CutPair pair = pairFrom(line, kMoveRenamePrefix.size() + 1);
        object["kind"] = "move";
        object["source"] = pair.source;
        object["target"] = pair.destination;
        object["size"] = sizeOf(facts);
        object["reason"] = "the target side holds this file at another place";
        break;
    }
    case ActionKind::Copy: {
        const CutPair pair = pairFrom(line, kCopyPrefix.size() + 1);
        object["kind"] = "copy";
        object["source"] = pair.source;
        object["target"] = pair.destination;
        object["size"] = sizeOf(facts);
        object["reason"] = copyReason(pair, facts, mode, settings);
        break;
    }
    case ActionKind::DeleteFile: {
        object["kind"] = "delete";
        object["target"] = pathFrom(line, kDeleteFilePrefix.size() + 1).path;
        object["size"] = sizeOf(facts);
        const bool duplicate = index > 0 && isOriginalLine(plan.actions[index - 1]);
        object["reason"] = duplicate ? "a duplicate of " + singlePathOf(plan.actions[index - 1])
                                     : std::string("not in the source");
        break;
    }
    case ActionKind::RemoveFolder:
        object["kind"] = "remove-folder";
        object["target"] = pathFrom(line, kRemoveDirPrefix.size() + 1).path;
        object["reason"] = "not in the source";
        break;
    case ActionKind::None:
        object["kind"] = isOriginalLine(line) ? "original" : "unknown";
        object["source"] = singlePathOf(line);
        object["size"] = sizeOf(facts);
        object["reason"] = "kept: the duplicate on the next line is deleted";
        break;
    }
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace paritas::cli

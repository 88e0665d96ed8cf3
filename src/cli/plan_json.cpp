#include "cli/plan_json.h"

#include "core/base/modes.h"

#include <nlohmann/json.hpp>

namespace paritas::cli {
namespace {

using json = nlohmann::ordered_json;

std::string lastPart(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

json sizeOf(const ActionFacts& facts) {
    if (!facts.sourceKnown)
        return nullptr;
    return facts.source.size;
}

// Why the planner wrote a copy item, from what it saw at the destination.
std::string copyReason(const PlanItem& item, int mode, const Settings& settings) {
    if (lastPart(item.path) != lastPart(item.destination))
        return "the place is taken: kept under a dated name";
    if (item.facts.destination.kind != DestinationPlan::Kind::Planned)
        return "missing in the target";
    if (mode == int(SyncMode::FolderSynch))
        return settings.CheckNewer ? "the source is the newer file" : "the source is the older file";
    return "the target holds another version";
}

// The kept file of a duplicate's delete.
std::string originalOf(const PlanResult& plan, const PlanItem& item) {
    for (const PlanItem& other : plan.actions)
        if (other.kind == ActionKind::Original && other.facts.line == item.facts.original)
            return other.path;
    return {};
}

} // namespace

std::string actionJson(const PlanResult& plan, std::size_t index, int mode, const Settings& settings) {
    const PlanItem& item = plan.actions[index];
    json object{
        {"kind", nullptr}, {"source", nullptr}, {"target", nullptr}, {"size", nullptr}, {"reason", ""}};
    switch (item.kind) {
    case ActionKind::CreateFolder:
        object["kind"] = "create-folder";
        object["target"] = item.path;
        object["reason"] = "missing in the target";
        break;
    case ActionKind::MoveRename:
        object["kind"] = "move";
        object["source"] = item.path;
        object["target"] = item.destination;
        object["size"] = sizeOf(item.facts);
        object["reason"] = "the target side holds this file at another place";
        break;
    case ActionKind::Copy:
        object["kind"] = "copy";
        object["source"] = item.path;
        object["target"] = item.destination;
        object["size"] = sizeOf(item.facts);
        object["reason"] = copyReason(item, mode, settings);
        break;
    case ActionKind::DeleteFile: {
        object["kind"] = "delete";
        object["target"] = item.path;
        object["size"] = sizeOf(item.facts);
        const bool duplicate = item.facts.original != ActionFacts::kNone;
        // The planners write the original right before its duplicate's delete.
        const std::string original = !duplicate ? std::string()
                                     : index > 0 && plan.actions[index - 1].facts.line == item.facts.original
                                         ? plan.actions[index - 1].path
                                         : originalOf(plan, item);
        object["reason"] = duplicate ? "a duplicate of " + original : std::string("not in the source");
        break;
    }
    case ActionKind::RemoveFolder:
        object["kind"] = "remove-folder";
        object["target"] = item.path;
        object["reason"] = "not in the source";
        break;
    case ActionKind::Attributes:
        object["kind"] = "attributes";
        object["source"] = item.destination;
        object["target"] = item.path;
        object["reason"] = "the " + metadataKindsText(item.facts.metadata.differs) + " differ from the source's";
        break;
    case ActionKind::HardLink:
        object["kind"] = "hard-link";
        object["source"] = item.path;
        object["target"] = item.destination;
        object["reason"] = "the source's names share one file";
        break;
    case ActionKind::Original:
        object["kind"] = "original";
        object["source"] = item.path;
        object["size"] = sizeOf(item.facts);
        object["reason"] = "kept: the duplicate on the next line is deleted";
        break;
    }
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace paritas::cli

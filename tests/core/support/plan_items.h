#pragma once
// Plans written by hand for tests: items in order, numbered as a planner numbers them, the delete
// after an original item naming it (a duplicate pair), and a run of such a plan on local folders.

#include "core/execution/executor.h"
#include "core/planning/action_list.h"
#include "core/platform/local_location.h"

#include <string>
#include <vector>

namespace paritas::testing {

using Items = ActionList;
using Lines = std::vector<std::string>;

inline PlanItem create(std::string folder) {
    return createFolderItem(std::move(folder));
}
inline PlanItem cp(std::string from, std::string to) {
    return copyItem(std::move(from), std::move(to));
}
inline PlanItem mv(std::string from, std::string to) {
    return moveItem(std::move(from), std::move(to));
}
inline PlanItem del(std::string file) {
    return deleteItem(std::move(file));
}
inline PlanItem removeDir(std::string folder) {
    return removeFolderItem(std::move(folder));
}
inline PlanItem original(std::string file, bool marked = false) {
    return originalItem(std::move(file), marked);
}
// An item with the facts it was planned on.
inline PlanItem withFacts(PlanItem item, const ActionFacts& facts) {
    item.facts = facts;
    return item;
}

// Numbers the items 0, 1, 2, ... (unless numbered already) and links each delete that follows an
// original item to it.
inline Items numbered(Items items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].facts.line == ActionFacts::kNone)
            items[i].facts.line = uint32_t(i);
        if (i > 0 && items[i].kind == ActionKind::DeleteFile && items[i - 1].kind == ActionKind::Original &&
            items[i].facts.original == ActionFacts::kNone)
            items[i].facts.original = items[i - 1].facts.line;
    }
    return items;
}

// Runs `items` on local locations (the folders every path lies beneath), writing all of them.
inline ExecutionCounts runItems(const Items& items, const std::vector<std::string>& locations,
                                StopFlags& flags, ExecutorHost& host) {
    Locations opened = localLocations(locations);
    return PerformActions(numbered(items), opened, locations, flags, host);
}

} // namespace paritas::testing

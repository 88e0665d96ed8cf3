// Copy missing: every file of A that no file of B matches (anywhere in B) is copied to its relative
// place in B; where a file already stands there, the copy takes the dated copy name beside it.
// Nothing is moved, renamed or deleted, and the inventories keep no marks.

#include "core/planning/plan_support.h"

namespace paritas {

PlanResult CopyMissing(PlanInput& input, PlannerHost& host) {
    if (auto problem = twoLocationProblem(input, host, NeedsCriteria::Yes))
        return refusedPlan(host, *problem, "0");

    const Inventory& a = *input.inventoryA;
    const Inventory& b = *input.inventoryB;
    PlanResult result;
    host.log("Generating CreateDir list ...");
    const std::string_view stemB = locationStem(input.locationB);
    for (const std::string& entry : *input.foldersA) {
        std::string target(stemB);
        target += folderPart(entry, input.locationA);
        if (!host.folderExists(target))
            result.actions.push_back(singleLine(kCreateDirPrefix, target));
    }

    host.log("Generating move/copy list ...");
    host.setProgressMaximum(progressMaximum(a.fileCount()));
    const Criteria criteria = criteriaOf(input.settings);
    RowGroups groupsB;
    groupByCriteria(groupsB, criteria, b);
    for (std::size_t i = 0; i < a.fileCount(); ++i) {
        if (findByCriteria(groupsB, criteria, b, a, i) == RowGroups::kNone) {
            const std::string_view rel = relativePath(a.fullPath(i), input.locationA);
            std::string destination = input.locationB + std::string(rel);
            if (host.fileExists(destination))
                destination = datedCopyName(input.locationB, rel, nameSafeDateText(a.modifiedText(i)));
            result.actions.push_back(pairLine(kCopyPrefix, a.fullPath(i), destination));
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.countText = std::to_string(result.actions.size());
    return result;
}

} // namespace paritas

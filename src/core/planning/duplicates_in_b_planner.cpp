// Duplicates in B: every file of B that matches a file of A is deleted from B. Lines come in pairs,
// "Original    " + the A file, then "DeleteFile " + the B file, ordered by the row of A and then by
// the row of B; every matching B row is listed for every A row it matches. A pair that would name one
// file twice (a location inside the other) is left out: the file would delete itself.

#include "core/planning/plan_support.h"

namespace paritas {

PlanResult Duplicatedel(PlanInput& input, PlannerHost& host) {
    host.setLocations({input.locationA, input.locationB});
    if (auto problem = twoLocationProblem(input, host, NeedsCriteria::Yes))
        return refusedPlan(host, *problem, "0");

    const Inventory& a = *input.inventoryA;
    const Inventory& b = *input.inventoryB;
    PlanResult result;
    PlanWriter out(result, PlanKind::DeleteDuplicates, input.locationA, input.locationB);
    host.setProgressMaximum(progressMaximum(a.fileCount()));
    const Criteria criteria = criteriaOf(input.settings);
    host.log("Looking for file matches ...");
    RowGroups groupsB;
    groupByCriteria(groupsB, criteria, b);
    auto matches = criteriaLookahead(groupsB, criteria, b, a);
    for (std::size_t i = 0; i < a.fileCount(); ++i) {
        const uint32_t group = matches.groupOf(i);
        if (group != RowGroups::kNone) {
            const std::string_view original = a.fullPath(i);
            for (const uint32_t* j = groupsB.begin(group); j != groupsB.end(group); ++j) {
                if (b.fullPath(*j) == original)
                    continue;
                ActionFacts duplicate = factsOfSource(b, *j);
                duplicate.original = out.add(originalItem(std::string(original)), factsOfSource(a, i));
                out.add(deleteItem(std::string(b.fullPath(*j))), duplicate);
            }
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.countText = std::to_string(result.actions.size());
    return result;
}

} // namespace paritas

// Duplicates within A: in every group of matching files of A the first row (first in folder-list
// order, then by name) is kept and each later member yields a pair: "Original   *" + the kept file,
// then "DeleteFile " + the member. Every row ends with the matched mark.

#include "core/planning/plan_support.h"

namespace paritas {

PlanResult DuplicatesWithinA(PlanInput& input, PlannerHost& host) {
    host.setLocations({input.locationA});
    if (auto problem = criteriaProblem(input.settings))
        return refusedPlan(host, *problem, "Actions: 0");
    if (auto problem = unreadableLocationProblem(input))
        return refusedPlan(host, *problem, "Actions: 0");

    Inventory& a = *input.inventoryA;
    PlanResult result;
    result.facts.locations = {input.locationA};
    PlanWriter out(result);
    const Criteria criteria = criteriaOf(input.settings);
    if (a.fileCount() >= 2)
        host.setProgressMaximum(int64_t(a.fileCount()) - 1);
    host.log("Finding duplicates in A ...");
    RowGroups groups;
    groupByCriteria(groups, criteria, a);
    for (std::size_t i = 0; i < a.fileCount(); ++i) {
        if (!a.isMarked(i)) {
            // Rows before i are all marked, so the unmarked members of i's group all lie after it.
            const uint32_t group = groups.groupOf(i);
            for (const uint32_t* j = groups.begin(group); j != groups.end(group); ++j) {
                if (*j == i || a.isMarked(*j))
                    continue;
                a.mark(i);
                if (a.fullPath(*j) != a.fullPath(i)) {
                    out.add(singleLine(kOriginalMarkedPrefix, a.fullPathCell(i)), factsOfSource(a, i));
                    out.add(singleLine(kDeleteFilePrefix, a.fullPath(*j)), factsOfSource(a, *j));
                }
                a.mark(*j);
            }
            a.mark(i);
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.countText = "Actions: " + std::to_string(result.actions.size());
    return result;
}

} // namespace paritas

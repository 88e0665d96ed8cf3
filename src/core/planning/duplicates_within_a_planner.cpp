// Duplicates within A: in every group of matching files of A the first row (first in folder-list
// order, then by name) is kept and each later member yields a pair: "Original   *" + the kept file
// (its matched mark in front of it), then "DeleteFile " + the member. Every row ends marked.

#include "core/planning/plan_support.h"

namespace paritas {

PlanResult DuplicatesWithinA(PlanInput& input, PlannerHost& host) {
    host.setLocations({input.locationA});
    if (auto problem = criteriaProblem(input.settings))
        return refusedPlan(host, *problem, "Actions: 0");
    if (auto problem = unreadableLocationProblem(input))
        return refusedPlan(host, *problem, "Actions: 0");

    const Inventory& a = *input.inventoryA;
    PlanResult result;
    PlanWriter out(result, PlanKind::DuplicatesWithinA, input.locationA, input.locationB);
    RowMarks marks(result.marksA, a.fileCount());
    const Criteria criteria = criteriaOf(input.settings);
    if (a.fileCount() >= 2)
        host.setProgressMaximum(int64_t(a.fileCount()) - 1);
    host.log("Finding duplicates in A ...");
    RowGroups groups;
    groupByCriteria(groups, criteria, a);
    for (std::size_t i = 0; i < a.fileCount(); ++i) {
        if (!marks.isMarked(i)) {
            // Rows before i are all marked, so the unmarked members of i's group all lie after it.
            const uint32_t group = groups.groupOf(i);
            for (const uint32_t* j = groups.begin(group); j != groups.end(group); ++j) {
                if (*j == i || marks.isMarked(*j))
                    continue;
                marks.mark(i);
                if (a.fullPath(*j) != a.fullPath(i)) {
                    ActionFacts duplicate = factsOfSource(a, *j);
                    duplicate.original =
                        out.add(originalItem(std::string(a.fullPath(i)), true), factsOfSource(a, i));
                    out.add(deleteItem(std::string(a.fullPath(*j))), duplicate);
                }
                marks.mark(*j);
            }
            marks.mark(i);
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.countText = "Actions: " + std::to_string(result.actions.size());
    return result;
}

} // namespace paritas

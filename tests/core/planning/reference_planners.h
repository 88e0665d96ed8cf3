#pragma once
// The planners written the plain way: row-by-row loops over the inventories' text cells, the matched
// mark as a "*" in front of the full path cell, and the same refusals and safety rules as the real
// planners. Quadratic, and meant to be: the randomized tests hold the real planners to these.

#include "core/planning/planners.h"

namespace paritas::testing {

PlanResult referenceAMasterB(PlanInput& input, PlannerHost& host);
PlanResult referenceFolderSynch(PlanInput& input, PlannerHost& host);
PlanResult referenceCopyMissing(PlanInput& input, PlannerHost& host);
PlanResult referenceDuplicatedel(PlanInput& input, PlannerHost& host);
PlanResult referenceDuplicatesWithinA(PlanInput& input, PlannerHost& host);

} // namespace paritas::testing

#pragma once
// The planners written the plain way: row-by-row loops over the inventories' text cells, the matched
// mark as a "*" in front of the full path cell, and the same refusals and safety rules as the real
// planners. Quadratic, and meant to be: the randomized tests hold the real planners to these.

#include "core/planning/planners.h"

namespace paritas::testing {

// What a reference planner wrote: the action lines as texts, and the matched marks of both sides.
struct ReferencePlan {
    std::vector<std::string> actions;
    std::string countText;
    bool refused = false;
    std::string refusal;
    std::vector<bool> marksA, marksB;
};

// The hidden grid of one side: the inventory's text cells, with the matched mark "*" in front of the
// full path cell of a row once it is marked.
class Grid {
public:
    explicit Grid(const Inventory& inventory) : inventory_(inventory), marks_(inventory.fileCount(), false) {}
    std::size_t rowCount() const { return inventory_.rowCount(); }
    std::size_t fileCount() const { return inventory_.fileCount(); }
    std::string fullPathCell(std::size_t row) const {
        return (row < marks_.size() && marks_[row] ? "*" : "") + inventory_.fullPathCell(row);
    }
    std::string cell(std::size_t row, int column) const {
        return column == 0 ? fullPathCell(row) : inventory_.cell(row, column);
    }
    std::string_view fullPath(std::size_t row) const { return inventory_.fullPath(row); }
    std::string sizeText(std::size_t row) const { return inventory_.sizeText(row); }
    std::string fileTimeText(std::size_t row) const { return inventory_.fileTimeText(row); }
    std::string modifiedText(std::size_t row) const { return inventory_.modifiedText(row); }
    void mark(std::size_t row) { marks_[row] = true; }
    const std::vector<bool>& marks() const { return marks_; }

private:
    const Inventory& inventory_;
    std::vector<bool> marks_;
};

ReferencePlan referenceAMasterB(PlanInput& input, PlannerHost& host);
ReferencePlan referenceFolderSynch(PlanInput& input, PlannerHost& host);
ReferencePlan referenceCopyMissing(PlanInput& input, PlannerHost& host);
ReferencePlan referenceDuplicatedel(PlanInput& input, PlannerHost& host);
ReferencePlan referenceDuplicatesWithinA(PlanInput& input, PlannerHost& host);

} // namespace paritas::testing

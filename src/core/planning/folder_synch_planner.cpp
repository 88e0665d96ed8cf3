// Folder synch: both locations end up with the union of their files.
//
// Sections, in the order of the action list:
//   folders of A missing in B -> "CreateDir " (B side), then folders of B missing in A (A side)
//   each row of A: paired with the row of B of the same name and relative path (exact, case included)
//     and settled by the conflict rule, or copied to B
//   each row of B left unpaired -> copied to A
//
// Conflict rule: equal file times produce nothing; otherwise CheckNewer keeps the newer file
// (unticked: the older) and copies it over the other one, and CheckKeepOld first saves the other file
// under its dated name on both sides.
//
// A copy of an unpaired file never replaces a file that the scans did not list at its destination
// (a file of another letter case on a case-insensitive file system, or one made after the scan): it
// goes in beside it under its dated name.

#include "core/planning/plan_support.h"

namespace paritas {
namespace {

class FolderSynchPlanner {
public:
    FolderSynchPlanner(PlanInput& input, PlannerHost& host)
        : in_(input), host_(host), a_(*input.inventoryA), b_(*input.inventoryB) {}

    PlanResult run() {
        host_.log("Generating CreateDir list for B...");
        planFolders(*in_.foldersA, in_.locationA, in_.locationB);
        host_.log("Generating CreateDir list for A...");
        planFolders(*in_.foldersB, in_.locationB, in_.locationA);
        planFilesOfA();
        planUnpairedFilesOfB();
        result_.countText = std::to_string(result_.actions.size());
        return std::move(result_);
    }

private:
    void add(std::string line) { result_.actions.push_back(std::move(line)); }

    void planFolders(const FolderList& folders, const std::string& from, const std::string& to) {
        const std::string_view stem = locationStem(to);
        for (const std::string& entry : folders) {
            std::string target(stem);
            target += folderPart(entry, from);
            if (!host_.folderExists(target))
                add(singleLine(kCreateDirPrefix, target));
        }
    }

    void planFilesOfA() {
        host_.log("Generating move/copy list ...");
        host_.setProgressMaximum(progressMaximum(a_.fileCount()));
        RowGroups byRelative;
        byRelative.build(
            b_.fileCount(),
            [&](std::size_t r) { return hashText(relativePath(b_.fullPath(r), in_.locationB)); },
            [&](std::size_t x, std::size_t y) {
                return relativePath(b_.fullPath(x), in_.locationB) ==
                       relativePath(b_.fullPath(y), in_.locationB);
            });
        for (std::size_t i = 0; i < a_.fileCount(); ++i) {
            const std::string_view rel = relativePath(a_.fullPath(i), in_.locationA);
            const uint32_t group = byRelative.find(hashText(rel), [&](std::size_t r) {
                return relativePath(b_.fullPath(r), in_.locationB) == rel;
            });
            const uint32_t j =
                group == RowGroups::kNone
                    ? RowGroups::kNone
                    : byRelative.firstRemaining(group, [&](std::size_t r) { return b_.isMarked(r); });
            if (j != RowGroups::kNone && b_.name(j) == a_.name(i)) {
                settlePair(i, j);
                b_.mark(j);
                a_.mark(i);
            } else {
                copyAcross(a_, i, in_.locationA, in_.locationB);
            }
            host_.setProgressPosition(int64_t(i));
            host_.keepAlive();
        }
    }

    void planUnpairedFilesOfB() {
        host_.setProgressMaximum(progressMaximum(b_.fileCount()));
        for (std::size_t j = 0; j < b_.fileCount(); ++j) {
            if (!b_.isMarked(j))
                copyAcross(b_, j, in_.locationB, in_.locationA);
            host_.setProgressPosition(int64_t(j));
            host_.keepAlive();
        }
    }

    // A file that only one side has goes to the same relative place on the other side.
    void copyAcross(const Inventory& side, std::size_t row, const std::string& from, const std::string& to) {
        const std::string source(side.fullPath(row));
        std::string destination = to + std::string(relativePath(source, from));
        if (host_.fileExists(destination))
            destination = datedName(destination, nameSafeDateText(side.modifiedText(row)));
        add(pairLine(kCopyPrefix, source, destination));
    }

    void settlePair(std::size_t i, std::size_t j) {
        const int32_t timeA = a_.fileTime(i);
        const int32_t timeB = b_.fileTime(j);
        if (timeA == timeB)
            return;
        const bool newerIsA = timeA > timeB;
        const bool keepA = in_.settings.CheckNewer ? newerIsA : !newerIsA;
        const Inventory& kept = keepA ? a_ : b_;
        const Inventory& other = keepA ? b_ : a_;
        const std::size_t keptRow = keepA ? i : j;
        const std::size_t otherRow = keepA ? j : i;
        const std::string& keptLocation = keepA ? in_.locationA : in_.locationB;
        const std::string& otherLocation = keepA ? in_.locationB : in_.locationA;
        const std::string keptPath(kept.fullPath(keptRow));
        if (in_.settings.CheckKeepOld) {
            const std::string otherPath(other.fullPath(otherRow));
            const std::string date = nameSafeDateText(other.modifiedText(otherRow));
            const std::string dated = datedName(otherPath, date);
            add(pairLine(kMoveRenamePrefix, otherPath, dated));
            add(std::string(kCopyPrefix) + dated + "*" + keptLocation +
                datedName(relativePath(otherPath, otherLocation), date));
        }
        add(std::string(kCopyPrefix) + keptPath + "*" + otherLocation +
            std::string(relativePath(keptPath, keptLocation)));
    }

    PlanInput& in_;
    PlannerHost& host_;
    Inventory& a_;
    Inventory& b_;
    PlanResult result_;
};

} // namespace

PlanResult FolderSynch(PlanInput& input, PlannerHost& host) {
    if (auto problem = twoLocationProblem(input, host, NeedsCriteria::No))
        return refusedPlan(host, *problem, "0");
    return FolderSynchPlanner(input, host).run();
}

} // namespace paritas

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
//
// Where one side's scan could not see a folder or file, nothing of the other side is copied into that
// place (it could replace what was not seen); such files and folders are left alone and logged.
// Keep-other's two copies depend on its rename: when the rename fails, neither runs, so the other
// version is never overwritten.

#include "core/planning/plan_support.h"

namespace paritas {
namespace {

class FolderSynchPlanner {
public:
    FolderSynchPlanner(PlanInput& input, PlannerHost& host)
        : in_(input), host_(host), a_(*input.inventoryA), b_(*input.inventoryB),
          marksA_(result_.marksA, a_.fileCount()), marksB_(result_.marksB, b_.fileCount()),
          out_(result_, PlanKind::FolderSynch, input.locationA, input.locationB),
          blindA_(input.coverageA, input.locationA), blindB_(input.coverageB, input.locationB),
          notIntoA_(host, "B", "A"), notIntoB_(host, "A", "B") {}

    PlanResult run() {
        host_.log("Generating CreateDir list for B...");
        planFolders(*in_.foldersA, in_.locationA, in_.locationB, blindB_, notIntoB_);
        host_.log("Generating CreateDir list for A...");
        planFolders(*in_.foldersB, in_.locationB, in_.locationA, blindA_, notIntoA_);
        planFilesOfA();
        planUnpairedFilesOfB();
        result_.leftAlone = notIntoA_.report(in_.locationA) + notIntoB_.report(in_.locationB);
        result_.countText = std::to_string(result_.actions.size());
        return std::move(result_);
    }

private:
    // `blindTo`: what the scan of the receiving side could not see; `leftAlone` counts what is not
    // carried there because of it.
    void planFolders(const FolderList& folders, const std::string& from, const std::string& to,
                     const BlindSpots& blindTo, LeftAlone& leftAlone) {
        const std::string_view stem = locationStem(to);
        for (const std::string& entry : folders) {
            const std::string_view part = folderPart(entry, from);
            if (!part.empty())
                if (const std::string spot = blindTo.spotOf(part.substr(1)); !spot.empty()) {
                    leftAlone.add(spot);
                    continue;
                }
            std::string target(stem);
            target += part;
            if (!host_.folderExists(target))
                out_.createFolder(target);
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
        auto pathsInB = Lookahead(
            byRelative, a_.fileCount(),
            [&](std::size_t i) { return hashText(relativePath(a_.fullPath(i), in_.locationA)); },
            [&](std::size_t i, std::size_t r) {
                return relativePath(b_.fullPath(r), in_.locationB) ==
                       relativePath(a_.fullPath(i), in_.locationA);
            },
            [&](std::size_t r) { b_.prefetchRow(r); }, [&](std::size_t r) { b_.prefetchPath(r); });
        for (std::size_t i = 0; i < a_.fileCount(); ++i) {
            const uint32_t group = pathsInB.groupOf(i);
            const uint32_t j =
                group == RowGroups::kNone
                    ? RowGroups::kNone
                    : byRelative.firstRemaining(group, [&](std::size_t r) { return marksB_.isMarked(r); });
            if (j != RowGroups::kNone && b_.name(j) == a_.name(i)) {
                settlePair(i, j);
                marksB_.mark(j);
                marksA_.mark(i);
            } else {
                copyAcross(a_, i, in_.locationA, in_.locationB, blindB_, notIntoB_);
            }
            host_.setProgressPosition(int64_t(i));
            host_.keepAlive();
        }
    }

    void planUnpairedFilesOfB() {
        host_.setProgressMaximum(progressMaximum(b_.fileCount()));
        for (std::size_t j = 0; j < b_.fileCount(); ++j) {
            if (!marksB_.isMarked(j))
                copyAcross(b_, j, in_.locationB, in_.locationA, blindA_, notIntoA_);
            host_.setProgressPosition(int64_t(j));
            host_.keepAlive();
        }
    }

    // A file that only one side has goes to the same relative place on the other side, unless the
    // scan of that side could not see that place.
    void copyAcross(const Inventory& side, std::size_t row, const std::string& from, const std::string& to,
                    const BlindSpots& blindTo, LeftAlone& leftAlone) {
        const std::string source(side.fullPath(row));
        const std::string_view rel = relativePath(source, from);
        if (const std::string spot = blindTo.spotOf(rel); !spot.empty()) {
            leftAlone.add(spot);
            return;
        }
        std::string destination = to + std::string(rel);
        if (host_.fileExists(destination))
            destination = datedName(destination, nameSafeDateText(side.modifiedText(row)));
        ActionFacts facts = factsOfSource(side, row, out_.creatorOfFolderOf(destination));
        facts.destination = nothingThere();
        out_.add(copyItem(source, std::move(destination)), facts);
    }

    void settlePair(std::size_t i, std::size_t j) {
        // Times compare as true times, to the two seconds the packed time keeps (file_stamp.h).
        const int64_t timeA = a_.timeStepOf(i);
        const int64_t timeB = b_.timeStepOf(j);
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
        ActionFacts overwrite = factsOfSource(kept, keptRow);
        overwrite.destination = plannedFile(other.stamp(otherRow));
        if (in_.settings.CheckKeepOld) {
            // The other version first takes its dated name; both copies depend on that rename, so a
            // failed rename never lets the kept file overwrite the only copy of the other version.
            const std::string otherPath(other.fullPath(otherRow));
            const std::string date = nameSafeDateText(other.modifiedText(otherRow));
            const std::string dated = datedName(otherPath, date);
            const uint32_t rename = out_.add(moveItem(otherPath, dated), factsOfSource(other, otherRow));
            ActionFacts keepCopy = factsOfSource(other, otherRow, rename); // a rename keeps the stamp
            keepCopy.destination = nothingThere();
            out_.add(copyItem(dated, keptLocation + datedName(relativePath(otherPath, otherLocation), date)),
                     keepCopy);
            overwrite.after = rename;
            overwrite.destination = nothingThere(); // the rename has taken the other version away
        }
        out_.add(copyItem(keptPath, otherLocation + std::string(relativePath(keptPath, keptLocation))),
                 overwrite);
    }

    PlanInput& in_;
    PlannerHost& host_;
    const Inventory& a_;
    const Inventory& b_;
    PlanResult result_;
    RowMarks marksA_, marksB_;
    PlanWriter out_;
    BlindSpots blindA_, blindB_;
    LeftAlone notIntoA_, notIntoB_; // files and folders not carried into A, and into B
};

} // namespace

PlanResult FolderSynch(PlanInput& input, PlannerHost& host) {
    host.setLocations({input.locationA, input.locationB});
    if (auto problem = twoLocationProblem(input, host, NeedsCriteria::No))
        return refusedPlan(host, *problem, "0");
    return FolderSynchPlanner(input, host).run();
}

} // namespace paritas

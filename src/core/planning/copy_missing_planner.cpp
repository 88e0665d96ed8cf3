// Copy missing: every file of A that no file of B matches (anywhere in B) is copied to its relative
// place in B; where a file already stands there, the copy takes the dated copy name beside it.
// Nothing is moved, renamed or deleted, and the inventories keep no marks.
//
// A copy never overwrites: a dated copy name that already holds the same file (by the ticked size and
// time criteria; its name is the dated one by construction) counts as present, so a second run copies
// nothing; one that holds something else is never replaced, and the copy takes the next free name
// (" (2)", " (3)", ... before the name's last four characters). Where the scan of B could not see a
// folder or file, nothing is copied into that place.

#include "core/planning/plan_support.h"

namespace paritas {
namespace {

constexpr int kLastNumberedName = 99;

// The dated copy name with a number: "<B><rel><date> (n)<last four>".
std::string numberedCopyName(const std::string& dated, std::string_view relPath, int number) {
    const std::size_t slash = relPath.rfind(kSeparator);
    const std::string_view name = slash == std::string_view::npos ? relPath : relPath.substr(slash + 1);
    const std::size_t tail = name.size() < 4 ? name.size() : 4;
    return dated.substr(0, dated.size() - tail) + " (" + std::to_string(number) + ")" +
           dated.substr(dated.size() - tail);
}

} // namespace

PlanResult CopyMissing(PlanInput& input, PlannerHost& host) {
    host.setLocations({input.locationA, input.locationB});
    if (auto problem = twoLocationProblem(input, host, NeedsCriteria::Yes))
        return refusedPlan(host, *problem, "0");

    const Inventory& a = *input.inventoryA;
    const Inventory& b = *input.inventoryB;
    PlanResult result;
    PlanWriter out(result, PlanKind::CopyMissing, input.locationA, input.locationB);
    const BlindSpots blindB(input.coverageB, input.locationB);
    LeftAlone leftAlone(host, "A", "B");
    host.log("Generating CreateDir list ...");
    const std::string_view stemB = locationStem(input.locationB);
    for (const std::string& entry : *input.foldersA) {
        const std::string_view part = folderPart(entry, input.locationA);
        if (!part.empty())
            if (const std::string spot = blindB.spotOf(part.substr(1)); !spot.empty()) {
                leftAlone.add(spot);
                continue;
            }
        std::string target(stemB);
        target += part;
        if (!host.folderExists(target))
            out.createFolder(target);
    }

    host.log("Generating move/copy list ...");
    host.setProgressMaximum(progressMaximum(a.fileCount()));
    const Criteria criteria = criteriaOf(input.settings);
    // The file at a dated name is this row's earlier copy when it agrees on the ticked size and time.
    auto sameAsRow = [&](const FileFacts& facts, std::size_t i) {
        return (!criteria.size || facts.size == a.size(i)) &&
               (!criteria.time || timeStep(facts.modifiedTime) == a.timeStepOf(i));
    };
    RowGroups groupsB;
    groupByCriteria(groupsB, criteria, b);
    auto matches = criteriaLookahead(groupsB, criteria, b, a);
    for (std::size_t i = 0; i < a.fileCount(); ++i) {
        if (matches.groupOf(i) == RowGroups::kNone) {
            const std::string_view rel = relativePath(a.fullPath(i), input.locationA);
            std::string destination = input.locationB + std::string(rel);
            bool present = false;
            if (const std::string spot = blindB.spotOf(rel); !spot.empty()) {
                leftAlone.add(spot);
                present = true;
            } else if (host.fileExists(destination)) {
                const std::string dated =
                    datedCopyName(input.locationB, rel, nameSafeDateText(a.modifiedText(i)));
                destination = dated;
                for (int number = 2;; ++number) {
                    const std::optional<FileFacts> there = host.fileFacts(destination);
                    if (!there)
                        break;
                    if (sameAsRow(*there, i)) {
                        present = true;
                        break;
                    }
                    if (number > kLastNumberedName) {
                        host.log("Not copied: " + std::string(a.fullPath(i)) +
                                 " (every dated name for it in B is taken by another file)");
                        present = true;
                        ++result.leftAlone;
                        break;
                    }
                    destination = numberedCopyName(dated, rel, number);
                }
            }
            if (!present) {
                ActionFacts facts = factsOfSource(a, i, out.creatorOfFolderOf(destination));
                facts.destination = nothingThere();
                out.add(copyItem(std::string(a.fullPath(i)), destination), facts);
            }
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.leftAlone += leftAlone.report(input.locationB);
    result.countText = std::to_string(result.actions.size());
    return result;
}

} // namespace paritas

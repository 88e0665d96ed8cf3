// Backup (advanced): B is made to hold exactly what A holds; only B changes.
//
// Phases, in the order of the action list:
//   folders of A missing in B        -> "CreateDir " (a file of B standing where A has a folder is
//                                       deleted right before: "DeleteFile ", then "CreateDir ")
//   each row of A, in row order      -> present at its target, or "Move-Rename " of a matching B file
//                                       found elsewhere, or "Copy "
//   rows of B nobody accounted for   -> "DeleteFile "
//   folders of B that A lacks        -> "RemoveDir ", deepest first
//   copies onto a folder of B        -> "Copy ", once that folder (and all in it) is gone
//
// A row of B that is accounted for (stays, is moved, or will be overwritten by a copy) carries the
// matched mark and is never looked at again. The file loop is the row-by-row search of the design
// made linear: the quick check tries the B row after the last one found in place (trees that mirror
// each other list files in the same order); failing that, the first few unmarked rows of B are tried
// one by one, and only then the indexes give the first unmarked matching row and the unmarked row at
// the target, which is all the row-by-row search could have met first.
//
// One run converges wherever the file system allows: a file of B where A has a folder goes before the
// folder is made; a folder of B where A has a file is emptied and removed before the copy; a match on
// another file system (mounted inside B) is not moved, which would fail, but A's file is copied and the
// match is deleted by the ordinary rules.
//
// Where the scan of A could not see a folder or file, the files and folders of B in that place are
// left alone: marked before the search begins (so they are neither moved away nor deleted) and never
// removed. Each line carries the facts it was planned on (action_facts.h).
//
// What the user's filter rules leave out is in neither inventory, so no line touches it; a folder of B
// that still holds a left-out entry is not removed (it cannot be emptied, and that is no failure). A
// backup that deletes what the rules leave out of B (leftOutDeletedFromB) sees all of B: its left-out
// rows are deleted like any row A lacks, and never taken as a file moved from elsewhere.
//
// Where the file system shows one file under two spellings (letter case on a case-insensitive file
// system), a B row whose path is the same file as a target is treated as the file at that target: it
// is marked, never deleted, and never moved after a copy has been planned over it. Where B does not
// tell letter case apart (Location::foldsLetterCase), such a row that matches A's file but is spelled
// otherwise gets A's spelling by a "Move-Rename " within its folder (a case-only rename in A), and of
// two or more rows of A whose paths differ only in letter case only the first is planned: B could
// hold just one of them, so the others are reported and left out (the run is incomplete).
//
// Metadata (B follows A): a file or link of B that stays at its target, or is moved there, and whose
// permissions (owner and group as root; attributes and ACLs with Settings::compareAttributes) differ
// from its row of A's gets an "Attributes " line right after. Folders of both sides whose metadata
// differs get theirs after everything else, subfolders first; a folder whose times alone differ takes
// A's times at the end of the run without a line (FolderTimesPlan::stale), as every folder a line
// touches does. What B's file system cannot hold is not compared. What the scan of either side could
// not see is not compared.
//
// Hard links (Settings::hardLinks): the names of A that share one file form a group; its first name
// (in row order) is planned as any row, each other one becomes "HardLink " + the first name's target
// + "*" + its own target after the line that puts the first in place, replacing what stands there
// unless it is that file already. A name of B that shares its file with a name whose row of A is
// another file is copied anew (it stays, in A, a file of its own).

#include "core/planning/plan_support.h"

#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unordered_map>

namespace paritas {
namespace {

constexpr int kLiteralSteps = 8;
constexpr uint32_t kNone = RowGroups::kNone;

// Rows a file of A cannot be paired with: marked ones, and rows the filter rules leave out.
struct Unpairable {
    const RowMarks* marks;
    const std::vector<uint8_t>* leftOut; // empty: none
    bool operator()(std::size_t row) const {
        return marks->isMarked(row) || (!leftOut->empty() && (*leftOut)[row] != 0);
    }
};

struct IsMarked {
    const RowMarks* marks;
    bool operator()(std::size_t row) const { return marks->isMarked(row); }
};

// Names compare as B compares them.
Criteria criteriaAsB(const Settings& settings, bool foldsB) {
    Criteria criteria = criteriaOf(settings);
    criteria.foldedNames = foldsB;
    return criteria;
}

class BackupPlanner {
public:
    BackupPlanner(PlanInput& input, PlannerHost& host)
        : in_(input), host_(host), a_(*input.inventoryA), b_(*input.inventoryB),
          foldsB_(host.foldsLetterCase(input.locationB)), c_(criteriaAsB(input.settings, foldsB_)),
          moveLine_(b_.fileCount(), ActionFacts::kNone), marksB_(result_.marksB, b_.fileCount()),
          out_(result_, PlanKind::Backup, input.locationA, input.locationB),
          blindA_(input.coverageA, input.locationA), blindB_(input.coverageB, input.locationB),
          leftAlone_(host, "B", "A"), notEmptied_(host, "A", "B") {}

    PlanResult run() {
        indexFoldersOfB();
        findLeftOutRowsOfB();
        leaveAloneWhatAHides();
        groupHardLinksOfA();
        planFolderMetadata();
        planFolderCreation();
        planFiles();
        planDeletions();
        planFolderRemovals();
        planCopiesOntoRemovedFolders();
        for (auto& [item, facts] : closingFolders_)
            out_.add(std::move(item), facts);
        result_.leftAlone = leftAlone_.report(in_.locationA) + notEmptied_.report(in_.locationB) + notCarried_;
        result_.countText = "Actions: " + std::to_string(result_.actions.size());
        return std::move(result_);
    }

private:
    void markB(std::size_t row) {
        if (!marksB_.isMarked(row)) {
            marksB_.mark(row);
            ++markedB_;
        }
    }

    // Rows of B whose counterpart lies where the scan of A could not see are accounted for: they are
    // neither moved nor deleted.
    void leaveAloneWhatAHides() {
        if (blindA_.empty())
            return;
        for (std::size_t j = 0; j < b_.fileCount(); ++j) {
            const std::string spot = blindA_.spotOf(relativePath(b_.fullPath(j), in_.locationB));
            if (spot.empty())
                continue;
            markB(j);
            leftAlone_.add(spot);
        }
    }

    bool leftOutRowOfB(std::size_t row) const { return !leftOutB_.empty() && leftOutB_[row] != 0; }

    // With B scanned without the rules, the rows they leave out: each folder's verdict once (a
    // left-out folder leaves out all it holds), then its files by name.
    void findLeftOutRowsOfB() {
        const FilterRules* rules = in_.leftOutDeletedFromB;
        if (rules == nullptr || rules->empty())
            return;
        leftOutB_.assign(b_.fileCount(), 0);
        FolderFilter filter(*rules);
        std::string folder;
        bool folderLeftOut = false;
        for (std::size_t j = 0; j < b_.fileCount(); ++j) {
            const std::string_view rel = relativePath(b_.fullPath(j), in_.locationB);
            const std::size_t slash = rel.rfind(kSeparator);
            const std::string_view folderOfRow =
                slash == std::string_view::npos ? "" : rel.substr(0, slash + 1);
            if (j == 0 || folderOfRow != folder) {
                folder.assign(folderOfRow);
                folderLeftOut = !folder.empty() && rules->leftOut(folder, true);
                if (!folderLeftOut)
                    filter.enter(folder);
            }
            const std::string_view name = slash == std::string_view::npos ? rel : rel.substr(slash + 1);
            leftOutB_[j] = folderLeftOut || filter.leftOut(name, false);
        }
    }

    void indexFoldersOfB() {
        const FolderList& foldersB = *in_.foldersB;
        folderIndexB_.reserve(foldersB.size());
        for (std::size_t k = 0; k < foldersB.size(); ++k)
            folderIndexB_.emplace(foldersB[k], k);
    }

    void planFolderCreation() {
        host_.log("Generating CreateDir list ...");
        const std::string_view stemB = locationStem(in_.locationB);
        for (std::size_t k = 0; k < in_.foldersA->size(); ++k) {
            const std::string_view part = folderPart((*in_.foldersA)[k], in_.locationA);
            // A folder the walk met behind a folder of A it could not search is no folder A is known
            // to hold the way B should (and B may hold something there that is left alone).
            if (k > 0 && blindA_.covers(part.substr(1)))
                continue;
            std::string target(stemB);
            target += part;
            if (host_.folderExists(target))
                continue;
            const uint32_t deletion = k > 0 ? removeFileWhereFolderGoes(target) : ActionFacts::kNone;
            out_.createFolder(target, deletion);
        }
    }

    // A file of B (or a link) stands where A has a folder: it goes first, or the folder could never
    // be made. Whatever it holds, A does not hold it at this place, so the backup would delete it.
    // Only a listed row is deleted (with its facts); anything else there makes CreateDir fail.
    uint32_t removeFileWhereFolderGoes(const std::string& target) {
        buildIndexes();
        const uint32_t row = unmarkedRowAt(target);
        if (row == kNone)
            return ActionFacts::kNone;
        markB(row);
        return out_.add(deleteItem(target), factsOfSource(b_, row));
    }

    void planFiles() {
        host_.log("Generating move/copy list ...");
        host_.setProgressMaximum(progressMaximum(a_.fileCount()));
        std::string target;
        for (std::size_t i = 0; i < a_.fileCount(); ++i) {
            target.assign(in_.locationB);
            target += relativePath(a_.fullPath(i), in_.locationA);
            if (foldsB_ && collidesInB(i)) {
                host_.setProgressPosition(int64_t(i));
                host_.keepAlive();
                continue;
            }
            if (!linkedName(i, target) && !quickCheck(i, target) && !search(i, target))
                planCopy(i, target);
            host_.setProgressPosition(int64_t(i));
            host_.keepAlive();
        }
    }

    // The B row after the one last found in place, when it is row i's partner in place.
    bool quickCheck(std::size_t i, const std::string& target) {
        const std::size_t next = cursor_ + 1;
        if (next >= b_.fileCount() || marksB_.isMarked(next) || !rowsMatch(c_, a_, i, b_, next) ||
            b_.fullPath(next) != target)
            return false;
        markB(next);
        cursor_ = next;
        stays(i, next, target);
        return true;
    }

    // The search through B in row order; true when row i is present afterwards.
    bool search(std::size_t i, const std::string& target) {
        while (firstUnmarked_ < b_.fileCount() && marksB_.isMarked(firstUnmarked_))
            ++firstUnmarked_;
        std::size_t j = firstUnmarked_;
        for (int steps = 0; j < b_.fileCount() && steps < kLiteralSteps; ++j, ++steps) {
            if (marksB_.isMarked(j) || leftOutRowOfB(j))
                continue;
            if (rowsMatch(c_, a_, i, b_, j))
                return settleMatch(i, j, target);
            if (b_.fullPath(j) == target)
                markB(j); // will be overwritten by the copy
        }
        if (j >= b_.fileCount())
            return false;
        // Every row before j is marked or does not match: the row-by-row search would go on to the
        // first unmarked match, marking the unmarked row at the target on its way if it comes first.
        buildIndexes();
        const uint32_t match =
            byCriteria_.firstRemaining(matchesInB_->groupOf(i), Unpairable{&marksB_, &leftOutB_});
        const uint32_t occupant = unmarkedRowAt(target);
        if (occupant != kNone && (match == kNone || occupant < match))
            markB(occupant);
        if (match == kNone)
            return false;
        return settleMatch(i, match, target);
    }

    // Row m is the first unmarked row of B that matches row i.
    bool settleMatch(std::size_t i, std::size_t m, const std::string& target) {
        if (b_.fullPath(m) == target) {
            markB(m);
            cursor_ = m;
            stays(i, m, target);
            return true;
        }
        if (!host_.fileExists(target)) {
            // A folder of B at the target, or a match on another file system, cannot take a move: A's
            // file is copied instead, and the match stays unmarked for the ordinary rules.
            if (folderOfBAt(target) || !sameFileSystem(m, target))
                return false;
            const uint32_t line = out_.add(moveItem(std::string(b_.fullPath(m)), target),
                                           factsOfSource(b_, m, out_.creatorOfFolderOf(target)));
            markB(m);
            moveLine_[m] = line;
            const FileStamp moved = b_.stamp(m); // a move keeps the file
            madeBy(i, line, &moved);
            planAttributes(i, m, target, line);
            return true;
        }
        // Something stands at the target: the unmarked row there decides (later rows cannot change it).
        buildIndexes();
        uint32_t occupant = unmarkedRowAt(target);
        if (occupant == kNone && rowAt(target) == kNone) {
            const uint32_t twin = twinOf(target);
            if (twin != kNone && !marksB_.isMarked(twin))
                occupant = twin;
        }
        if (occupant == kNone)
            return false;
        markB(occupant);
        if (!rowsMatch(c_, a_, i, b_, occupant))
            return false;
        if (foldsB_)
            planCaseRename(occupant, target);
        stays(i, occupant, target);
        return true;
    }

    // The row of B at `target` in another spelling gets the target's name, within its own folder (the
    // folder's spelling is the folder's own business). Nothing when the names are spelled alike.
    void planCaseRename(std::size_t row, const std::string& target) {
        const std::string from(b_.fullPath(row));
        const std::size_t slash = from.rfind(kSeparator);
        const std::size_t targetSlash = target.rfind(kSeparator);
        if (from.compare(slash + 1, std::string::npos, target, targetSlash + 1, std::string::npos) == 0)
            return;
        std::string to = from.substr(0, slash + 1) + target.substr(targetSlash + 1);
        moveLine_[row] = out_.add(moveItem(from, std::move(to)), factsOfSource(b_, row));
    }

    // Row i's path differs only in letter case from an earlier row's, and B cannot hold both: it is
    // reported and left out.
    bool collidesInB(std::size_t i) {
        const std::string_view relative = relativePath(a_.fullPath(i), in_.locationA);
        const uint64_t key = hashFoldedText(relative);
        const auto [from, to] = firstSpelling_.equal_range(key);
        std::size_t first = a_.fileCount();
        for (auto it = from; it != to && first == a_.fileCount(); ++it)
            if (sameFoldedText(relativePath(a_.fullPath(it->second), in_.locationA), relative))
                first = it->second;
        if (first == a_.fileCount()) {
            firstSpelling_.emplace(key, uint32_t(i));
            return false;
        }
        host_.log("Not copied: " + std::string(a_.fullPath(i)) + " differs only in letter case from " +
                  std::string(a_.fullPath(first)) + ", and B does not tell letter case apart");
        ++notCarried_;
        return true;
    }

    void planCopy(std::size_t i, const std::string& target) {
        PlanItem line = copyItem(std::string(a_.fullPath(i)), target);
        if (!host_.fileExists(target)) {
            if (folderOfBAt(target)) {
                deferred_.push_back({std::move(line), i, target});
                return;
            }
            madeBy(i, out_.add(std::move(line), copyFacts(i, nothingThere(), out_.creatorOfFolderOf(target))));
            return;
        }
        // A file stands at the target. One that a planned move takes away is no reason to skip the copy.
        buildIndexes();
        uint32_t leaving = ActionFacts::kNone;
        const uint32_t listed = rowAt(target);
        if (listed != kNone) {
            leaving = moveLine_[listed];
        } else if (const uint32_t twin = twinOf(target); twin != kNone) {
            leaving = moveLine_[twin];
            if (leaving == ActionFacts::kNone && !marksB_.isMarked(twin))
                markB(twin); // the copy goes over it: it is the file at the target
        }
        if (leaving != ActionFacts::kNone) {
            madeBy(i, out_.add(std::move(line), copyFacts(i, nothingThere(), leaving)));
            return;
        }
        const std::optional<FileFacts> facts = host_.fileFacts(target);
        // The name at the target is row i's name by construction.
        const bool same = facts && (!c_.size || facts->size == a_.size(i)) &&
                          (!c_.time || timeStep(facts->modifiedTime) == a_.timeStepOf(i));
        if (!same)
            madeBy(i, out_.add(std::move(line),
                               copyFacts(i, facts ? plannedFile(*facts) : nothingThere(), ActionFacts::kNone)));
    }

    // ---- metadata ----

    // Row i of A stays at its target as row j of B: its metadata follows A's, and with hard links its
    // file must be shared in B only as A's is.
    void stays(std::size_t i, std::size_t j, const std::string& target) {
        if (hardLinks_ && sharedApart(i, j)) {
            madeBy(i, out_.add(copyItem(std::string(a_.fullPath(i)), target),
                               copyFacts(i, plannedFile(b_.stamp(j)), ActionFacts::kNone)));
            return;
        }
        const FileStamp there = b_.stamp(j);
        madeBy(i, ActionFacts::kNone, &there);
        planAttributes(i, j, target, ActionFacts::kNone);
    }

    // The kinds of metadata in which row j of B differs from row i of A, as far as B can hold them.
    MetadataKinds metadataDifferences(const MetadataFacts& a, uint64_t attributesA, const EntryOwnership& b,
                                      uint64_t attributesB) {
        const bool link = S_ISLNK(a.mode);
        if ((a.mode & S_IFMT) != (b.mode & S_IFMT))
            return {}; // no change of metadata alone
        // A link's permission bits mean nothing on Linux and cannot be set.
        const MetadataComparison comparison{.owners = canKeepOwners(), .permissions = !link};
        MetadataKinds kinds = ownershipDifferences({a.mode & 07777, a.owner, a.group},
                                                   {b.mode & 07777, b.owner, b.group}, comparison);
        if (compareAttributes_ && attributesA != kAttributesUnread && attributesB != kAttributesUnread &&
            attributesA != attributesB)
            kinds.add(MetadataKind::ExtendedAttributes);
        return heldInB(kinds);
    }

    // The kinds of `kinds` that B's file system holds (asked of it once, and only here).
    MetadataKinds heldInB(MetadataKinds kinds) {
        if (kinds.empty())
            return kinds;
        if (!capabilitiesOfB_)
            capabilitiesOfB_ = host_.capabilities(in_.locationB);
        MetadataKinds held;
        for (const MetadataKind kind : {MetadataKind::Owners, MetadataKind::Permissions})
            if (kinds.has(kind) && capabilitiesOfB_->ownersAndModes)
                held.add(kind);
        if (kinds.has(MetadataKind::ExtendedAttributes) && capabilitiesOfB_->extendedAttributes)
            held.add(MetadataKind::ExtendedAttributes);
        if (kinds.has(MetadataKind::HardLinks) && capabilitiesOfB_->hardLinks)
            held.add(MetadataKind::HardLinks);
        return held;
    }

    // "Attributes " + target when row j of B (at the target once line `after` is done) differs from row
    // i of A in metadata alone.
    void planAttributes(std::size_t i, std::size_t j, const std::string& target, uint32_t after) {
        if (!a_.ownershipKnown(i) || !b_.ownershipKnown(j))
            return;
        const EntryOwnership a = a_.ownership(i);
        const MetadataFacts source{a.mode, a.owner, a.group, {}};
        const MetadataKinds kinds =
            metadataDifferences(source, a_.attributes(i), b_.ownership(j), b_.attributes(j));
        if (kinds.empty())
            return;
        ActionFacts facts = factsOfSource(b_, j, after);
        facts.metadata = source;
        facts.metadata.differs = kinds;
        out_.add(attributesItem(target, std::string(a_.fullPath(i))), facts);
    }

    // The folders both sides hold: "Attributes " where their metadata differs; where their times alone
    // differ, they take A's at the end of the run. A line that takes none of the owner's permissions
    // away comes first, parents first (it may open a folder the other lines put files into, for a run
    // without root's powers); every other one after everything else, subfolders first, so that a
    // folder made read-only keeps no line from its contents.
    void planFolderMetadata() {
        if (!in_.folderMetadataA || !in_.folderMetadataB)
            return;
        const FolderList& foldersA = *in_.foldersA;
        const std::vector<FolderMetadata>& metadataA = *in_.folderMetadataA;
        const std::vector<FolderMetadata>& metadataB = *in_.folderMetadataB;
        if (metadataA.size() != foldersA.size() || metadataB.size() != in_.foldersB->size())
            return;
        const std::string_view stemA = locationStem(in_.locationA);
        const std::string_view stemB = locationStem(in_.locationB);
        std::vector<std::pair<PlanItem, ActionFacts>> opening;
        // The location itself keeps its own metadata.
        for (std::size_t k = foldersA.size(); k-- > 1;) {
            const std::string_view part = folderPart(foldersA[k], in_.locationA);
            if (blindA_.coversItself(part.substr(1)) || blindB_.coversItself(part.substr(1)))
                continue;
            const auto inB = folderIndexB_.find(std::string(stemB) + std::string(part) + kSeparator);
            if (inB == folderIndexB_.end())
                continue; // made by this run, with A's metadata
            const FolderMetadata& a = metadataA[k];
            const FolderMetadata& b = metadataB[inB->second];
            if (!a.known() || !b.known())
                continue;
            const MetadataFacts source{a.ownership.mode, a.ownership.owner, a.ownership.group, {}};
            const MetadataKinds kinds = metadataDifferences(source, a.attributes, b.ownership, b.attributes);
            const std::string folder = std::string(stemB) + std::string(part);
            if (!kinds.empty()) {
                ActionFacts facts;
                facts.metadata = source;
                facts.metadata.differs = kinds;
                const bool opens = (a.ownership.mode & S_IRWXU & b.ownership.mode) == (b.ownership.mode & S_IRWXU);
                (opens ? opening : closingFolders_)
                    .emplace_back(attributesItem(folder, std::string(stemA) + std::string(part)), facts);
            } else if (timesDiffer(a, b)) {
                result_.folderTimes.stale.push_back(folder);
            }
        }
        for (auto line = opening.rbegin(); line != opening.rend(); ++line)
            out_.add(std::move(line->first), line->second);
        // B itself keeps its owner and permissions, and takes A's times as every folder does.
        if (!metadataA.empty() && !metadataB.empty() && metadataA[0].known() && metadataB[0].known() &&
            timesDiffer(metadataA[0], metadataB[0]))
            result_.folderTimes.stale.push_back(std::string(stemB));
    }

    // Folder times differ by more than B's file system can tell apart.
    bool timesDiffer(const FolderMetadata& a, const FolderMetadata& b) {
        const int64_t difference = (a.modifiedTime - b.modifiedTime) * 1000000000 +
                                   (int64_t(a.modifiedNanos) - int64_t(b.modifiedNanos));
        if (difference == 0)
            return false;
        if (!capabilitiesOfB_)
            capabilitiesOfB_ = host_.capabilities(in_.locationB);
        const int64_t step = capabilitiesOfB_->timeGranularityNs;
        return step > 0 && (difference >= step || difference <= -step);
    }

    // ---- hard links ----

    // Each row of A that shares its file with an earlier row: the group's first row.
    void groupHardLinksOfA() {
        if (!hardLinks_)
            return;
        std::vector<LinkFacts> facts(a_.fileCount());
        bool any = false;
        for (std::size_t i = 0; i < a_.fileCount(); ++i) {
            facts[i] = a_.isLink(i) ? LinkFacts{} : a_.linkFacts(i); // a symbolic link is a name of its own
            any = any || facts[i].links > 1;
        }
        if (!any)
            return;
        for (const HardLinkGroup& group : groupHardLinks(facts))
            for (const std::size_t row : group.rows)
                firstOfGroup_.emplace(uint32_t(row), uint32_t(group.rows.front()));
    }

    // Where the first name of a group stands in B once its line `line` is done (kNone: it stands
    // already), with the stamp its file has there when known.
    struct PlacedName {
        uint32_t line = ActionFacts::kNone;
        bool stampKnown = false;
        FileStamp stamp;
    };

    void madeBy(std::size_t i, uint32_t line, const FileStamp* stamp = nullptr) {
        if (firstOfGroup_.empty())
            return;
        const auto first = firstOfGroup_.find(uint32_t(i));
        if (first == firstOfGroup_.end() || first->second != i)
            return; // only the first name of a group is linked to
        PlacedName placed{line, stamp != nullptr, stamp ? *stamp : FileStamp{}};
        placed_.insert_or_assign(uint32_t(i), placed);
    }

    // Row i of B's name j shares its file in B with a name whose row of A is another file.
    bool sharedApart(std::size_t i, std::size_t j) {
        const LinkFacts b = b_.linkFacts(j);
        if (b.links <= 1 || b_.isLink(j))
            return false;
        const LinkFacts a = a_.linkFacts(i);
        const auto [partner, added] = partnerInA_.try_emplace(identity(b), identity(a));
        return !added && partner->second != identity(a);
    }

    static std::pair<uint64_t, uint64_t> identity(const LinkFacts& facts) { return {facts.device, facts.inode}; }

    // Row i shares its file with an earlier row of A: its target becomes a second name of the first
    // row's. False when that cannot be planned (the first row was not put in place, a folder or
    // something unlisted stands at the target): the row is then planned as any other.
    bool linkedName(std::size_t i, const std::string& target) {
        if (firstOfGroup_.empty())
            return false;
        const auto first = firstOfGroup_.find(uint32_t(i));
        if (first == firstOfGroup_.end() || first->second == i)
            return false;
        const auto placed = placed_.find(first->second);
        // Where B holds no hard links each name stays a copy of its own (and is no difference).
        if (placed == placed_.end() || folderOfBAt(target) || heldInB(MetadataKind::HardLinks).empty())
            return false;
        const std::string existing = in_.locationB + std::string(relativePath(a_.fullPath(first->second), in_.locationA));
        buildIndexes();
        const uint32_t there = unmarkedRowAt(target);
        if (there == kNone && host_.fileExists(target))
            return false;
        if (there != kNone && moveLine_[there] != ActionFacts::kNone)
            return false;
        const PlacedName& name = placed->second;
        if (there != kNone && name.line == ActionFacts::kNone && name.stampKnown) {
            const uint32_t existingRow = rowAt(existing);
            if (existingRow != kNone && identity(b_.linkFacts(existingRow)) == identity(b_.linkFacts(there))) {
                markB(there); // linked already
                partnerInA_.try_emplace(identity(b_.linkFacts(there)), identity(a_.linkFacts(i)));
                return true;
            }
        }
        ActionFacts facts;
        facts.after = name.line != ActionFacts::kNone ? name.line : out_.creatorOfFolderOf(target);
        facts.sourceKnown = name.stampKnown;
        facts.source = name.stamp;
        facts.destination = there != kNone ? plannedFile(b_.stamp(there)) : nothingThere();
        if (there != kNone)
            markB(there);
        out_.add(hardLinkItem(existing, target), facts);
        return true;
    }

    ActionFacts copyFacts(std::size_t i, DestinationPlan destination, uint32_t after) const {
        ActionFacts facts = factsOfSource(a_, i, after);
        facts.destination = destination;
        return facts;
    }

    void planDeletions() {
        host_.log("Generating DeleteFile list ...");
        host_.setProgressMaximum(progressMaximum(b_.fileCount()));
        if (markedB_ == b_.fileCount())
            return; // this run has accounted for every row of B
        for (std::size_t j = 0; j < b_.fileCount(); ++j) {
            if (marksB_.isMarked(j))
                continue;
            const std::string path(b_.fullPath(j));
            if (const std::optional<std::string> kept = targetSameAs(path)) {
                host_.log("Not deleted: " + path + " is the same file as " + *kept + " on this file system");
            } else {
                out_.add(deleteItem(path), factsOfSource(b_, j));
            }
            host_.setProgressPosition(int64_t(j));
            host_.keepAlive();
        }
    }

    void planFolderRemovals() {
        host_.log("Generating Delete Folders list ...");
        const FolderList& foldersA = *in_.foldersA;
        const FolderList& foldersB = *in_.foldersB;
        RowGroups partsA;
        partsA.build(
            foldersA.size(), [&](std::size_t r) { return hashText(folderPart(foldersA[r], in_.locationA)); },
            [&](std::size_t x, std::size_t y) {
                return folderPart(foldersA[x], in_.locationA) == folderPart(foldersA[y], in_.locationA);
            });
        RowGroups foldedPartsA;
        const std::string_view stemB = locationStem(in_.locationB);
        for (std::size_t k = foldersB.size(); k-- > 1;) {
            const std::string_view part = folderPart(foldersB[k], in_.locationB);
            const bool inA = partsA.find(hashText(part), [&](std::size_t r) {
                return folderPart(foldersA[r], in_.locationA) == part;
            }) != kNone;
            if (inA)
                continue;
            if (const std::string spot = blindA_.spotOf(part.substr(1)); !spot.empty()) {
                leftAlone_.add(spot);
                continue;
            }
            // A folder of B that holds something its scan could not see cannot be emptied.
            if (const std::string spot = blindB_.spotWithin(part.substr(1)); !spot.empty()) {
                notEmptied_.add(spot);
                continue;
            }
            // Nor can one that holds what the filter rules leave out; it stays, and that is no failure.
            if (in_.leftOutB && in_.leftOutB->holdsWithin(std::string(part.substr(1)) + kSeparator))
                continue;
            const std::string folder = std::string(stemB) + std::string(part);
            if (const auto kept = folderSameAs(foldedPartsA, part, folder)) {
                host_.log("Not removed: " + folder + " is the same folder as " + *kept +
                          " on this file system");
                continue;
            }
            removalLine_.emplace(folder, out_.add(removeFolderItem(folder)));
        }
    }

    // Copies whose target is a folder of B: after that folder's removal. A folder that stays (it
    // holds what B's scan could not see, or it is one of A's folders under another letter case)
    // keeps its place, and the copy is not planned.
    void planCopiesOntoRemovedFolders() {
        for (Deferred& copy : deferred_) {
            const auto removal = removalLine_.find(copy.target);
            if (removal == removalLine_.end()) {
                host_.log("Not copied: " + copy.target + " is a folder of B that stays");
                ++result_.leftAlone;
                continue;
            }
            out_.add(std::move(copy.line), copyFacts(copy.row, nothingThere(), removal->second));
        }
    }

    // A folder of B (as scanned) stands at `path`.
    bool folderOfBAt(const std::string& path) const {
        const std::string folder = path + kSeparator;
        return folderIndexB_.count(folder) > 0;
    }

    // The device of the folder of B that holds `path`, or of the nearest folder above it that the scan
    // listed (a folder still to be made lies on its parent's file system).
    const ObjectId* deviceOfFolderHolding(std::string_view path) const {
        const ScanCoverage* coverage = in_.coverageB;
        if (coverage == nullptr || coverage->folderIds.size() != in_.foldersB->size())
            return nullptr;
        std::string folder(path);
        for (;;) {
            const std::size_t slash = folder.rfind(kSeparator, folder.size() >= 2 ? folder.size() - 2 : 0);
            if (slash == std::string::npos)
                return nullptr;
            folder.resize(slash + 1);
            const auto it = folderIndexB_.find(folder);
            if (it != folderIndexB_.end()) {
                const ObjectId& id = coverage->folderIds[it->second];
                return id == ObjectId{} ? nullptr : &id;
            }
            if (slash == 0)
                return nullptr;
        }
    }

    bool sameFileSystem(std::size_t row, const std::string& target) const {
        const ObjectId* from = deviceOfFolderHolding(b_.fullPath(row));
        const ObjectId* to = deviceOfFolderHolding(target);
        return from == nullptr || to == nullptr || from->device == to->device;
    }

    // A folder of A (taken to B) that differs from `folder` only in letter case and that the file system
    // shows as the same folder.
    std::optional<std::string> folderSameAs(RowGroups& folded, std::string_view part,
                                            const std::string& folder) {
        const FolderList& foldersA = *in_.foldersA;
        if (!folded.built())
            folded.build(
                foldersA.size(),
                [&](std::size_t r) { return hashFoldedText(folderPart(foldersA[r], in_.locationA)); },
                [&](std::size_t x, std::size_t y) {
                    return foldedCase(folderPart(foldersA[x], in_.locationA)) ==
                           foldedCase(folderPart(foldersA[y], in_.locationA));
                });
        const std::string key = foldedCase(part);
        const uint32_t group = folded.find(hashFoldedText(part), [&](std::size_t r) {
            return foldedCase(folderPart(foldersA[r], in_.locationA)) == key;
        });
        if (group == kNone)
            return std::nullopt;
        const std::string_view stemB = locationStem(in_.locationB);
        for (const uint32_t* r = folded.begin(group); r != folded.end(group); ++r) {
            const std::string other =
                std::string(stemB) + std::string(folderPart(foldersA[*r], in_.locationA));
            if (other != folder && host_.sameFile(other, folder))
                return other;
        }
        return std::nullopt;
    }

    // The target of a row of A that differs from `path` (a row of B) only in letter case and that the
    // file system shows as the same file.
    std::optional<std::string> targetSameAs(const std::string& path) {
        const std::string_view rel = relativePath(path, in_.locationB);
        if (!foldedA_.built())
            foldedA_.build(
                a_.fileCount(),
                [&](std::size_t r) { return hashFoldedText(relativePath(a_.fullPath(r), in_.locationA)); },
                [&](std::size_t x, std::size_t y) {
                    return foldedCase(relativePath(a_.fullPath(x), in_.locationA)) ==
                           foldedCase(relativePath(a_.fullPath(y), in_.locationA));
                });
        const std::string key = foldedCase(rel);
        const uint32_t group = foldedA_.find(hashFoldedText(rel), [&](std::size_t r) {
            return foldedCase(relativePath(a_.fullPath(r), in_.locationA)) == key;
        });
        if (group == kNone)
            return std::nullopt;
        for (const uint32_t* r = foldedA_.begin(group); r != foldedA_.end(group); ++r) {
            const std::string_view relA = relativePath(a_.fullPath(*r), in_.locationA);
            if (relA == rel)
                continue;
            const std::string target = in_.locationB + std::string(relA);
            if (host_.sameFile(target, path))
                return target;
        }
        return std::nullopt;
    }

    // The first row of B, in row order, whose path differs from `target` only in letter case and that
    // the file system shows as the file at the target. Asked only when no row of B lies at the target.
    uint32_t twinOf(const std::string& target) {
        if (!foldedB_.built())
            foldedB_.build(
                b_.fileCount(), [&](std::size_t r) { return hashFoldedText(b_.fullPath(r)); },
                [&](std::size_t x, std::size_t y) {
                    return foldedCase(b_.fullPath(x)) == foldedCase(b_.fullPath(y));
                });
        const std::string key = foldedCase(target);
        const uint32_t group = foldedB_.find(
            hashFoldedText(target), [&](std::size_t r) { return foldedCase(b_.fullPath(r)) == key; });
        if (group == kNone)
            return kNone;
        for (const uint32_t* r = foldedB_.begin(group); r != foldedB_.end(group); ++r) {
            if (!leftOutRowOfB(*r) && host_.sameFile(target, std::string(b_.fullPath(*r))))
                return *r;
        }
        return kNone;
    }

    void buildIndexes() {
        if (byPath_.built())
            return;
        groupByCriteria(byCriteria_, c_, b_);
        matchesInB_.emplace(criteriaLookahead(byCriteria_, c_, b_, a_));
        byPath_.build(
            b_.fileCount(), [&](std::size_t r) { return hashText(b_.fullPath(r)); },
            [&](std::size_t x, std::size_t y) { return b_.fullPath(x) == b_.fullPath(y); });
    }

    uint32_t pathGroup(const std::string& path) const {
        return byPath_.find(hashText(path), [&](std::size_t r) { return b_.fullPath(r) == path; });
    }

    uint32_t rowAt(const std::string& path) const {
        const uint32_t group = pathGroup(path);
        return group == kNone ? kNone : *byPath_.begin(group);
    }

    uint32_t unmarkedRowAt(const std::string& path) {
        const uint32_t group = pathGroup(path);
        return group == kNone ? kNone : byPath_.firstRemaining(group, IsMarked{&marksB_});
    }

    struct Deferred {
        PlanItem line;
        std::size_t row;
        std::string target;
    };

    PlanInput& in_;
    PlannerHost& host_;
    const Inventory& a_;
    const Inventory& b_;
    const bool foldsB_; // B does not tell letter case apart
    const Criteria c_;
    PlanResult result_;
    std::size_t cursor_ = 0;         // the B row last found at its target
    std::size_t firstUnmarked_ = 0;  // every B row before it is marked
    std::size_t markedB_ = 0;        // rows of B this run has marked
    std::vector<uint32_t> moveLine_; // the line that moves a B row away, or kNone
    RowMarks marksB_;
    std::vector<uint8_t> leftOutB_; // per row of B: left out by the rules it is scanned without
    PlanWriter out_;
    BlindSpots blindA_, blindB_;
    LeftAlone leftAlone_;  // files and folders of B kept because A could not be read there
    LeftAlone notEmptied_; // folders of B kept because B could not be read in them
    // Folder of B -> its index; the texts are those of the folder list, which outlives the planner.
    std::unordered_map<std::string_view, std::size_t> folderIndexB_;
    std::unordered_map<std::string, uint32_t> removalLine_; // folder of B -> its RemoveDir line
    std::vector<Deferred> deferred_;
    RowGroups byCriteria_;
    std::optional<CriteriaLookahead> matchesInB_; // rows of A in the groups of byCriteria_
    RowGroups byPath_;
    RowGroups foldedB_;
    RowGroups foldedA_;
    std::unordered_multimap<uint64_t, uint32_t> firstSpelling_; // folded relative path's hash -> rows of A
    std::size_t notCarried_ = 0; // rows of A that B cannot hold beside another spelling
    // Metadata and hard links.
    const bool hardLinks_ = in_.settings.hardLinks;
    const bool compareAttributes_ =
        in_.settings.compareAttributes && a_.attributesRead() && b_.attributesRead();
    std::optional<FileSystemCapabilities> capabilitiesOfB_;
    // Attributes lines of folders that take permissions away: after every other line.
    std::vector<std::pair<PlanItem, ActionFacts>> closingFolders_;
    std::unordered_map<uint32_t, uint32_t> firstOfGroup_; // row of A in a group -> the group's first row
    std::unordered_map<uint32_t, PlacedName> placed_;     // first rows of groups, once planned
    // A file of B shared by several names -> the file of A its first name stands for.
    std::map<std::pair<uint64_t, uint64_t>, std::pair<uint64_t, uint64_t>> partnerInA_;
};

} // namespace

PlanResult AMasterB(PlanInput& input, PlannerHost& host) {
    host.setLocations({input.locationA, input.locationB});
    const std::string noActions = "Actions: 0";
    if (auto problem = twoLocationProblem(input, host, NeedsCriteria::Yes))
        return refusedPlan(host, *problem, noActions);
    const std::string stemA(locationStem(input.locationA));
    if (!host.folderExists(stemA.empty() ? std::string(1, kSeparator) : stemA))
        return refusedPlan(host,
                           "Location A " + input.locationA +
                               " does not exist. Backup refused: it would delete everything in B.",
                           noActions);
    return BackupPlanner(input, host).run();
}

} // namespace paritas

#include "reference_planners.h"

#include "core/planning/plan_support.h"

#include <algorithm>
#include <set>

namespace paritas::testing {
namespace {

// Rows of a grid: row count minus one file rows.
std::size_t files(const Grid& inventory) {
    return inventory.rowCount() - 1;
}

bool hasMark(const Grid& inventory, std::size_t row) {
    const std::string cell = inventory.fullPathCell(row);
    return !cell.empty() && cell[0] == '*';
}

// The agreement count of two rows, criterion by criterion, compared as the cells are converted.
// Names compared as a B that does not tell letter case apart compares them (the backup sets it).
bool foldNames = false;

int agreement(const Settings& s, const Grid& a, std::size_t i, const Grid& b, std::size_t j) {
    int count = 0;
    if (s.CheckSize && std::stoll(a.sizeText(i)) == std::stoll(b.sizeText(j)))
        ++count;
    if (s.CheckTimeStamp && std::stol(a.fileTimeText(i)) == std::stol(b.fileTimeText(j)))
        ++count;
    if (s.CheckName && (a.cell(i, 3) == b.cell(j, 3) || (foldNames && foldedCase(a.cell(i, 3)) == foldedCase(b.cell(j, 3)))))
        ++count;
    return count;
}

bool matches(const Settings& s, const Grid& a, std::size_t i, const Grid& b, std::size_t j) {
    return agreement(s, a, i, b, j) == criteriaOf(s).count();
}

std::string nameAfterLastSeparator(const std::string& path) {
    return path.substr(path.rfind(kSeparator) + 1);
}

std::string refFolderPart(const std::string& entry, const std::string& location) {
    std::string part = entry.substr(location.size() - 1);
    if (!part.empty() && part.back() == kSeparator)
        part.pop_back();
    return part;
}

std::optional<std::string> commonRefusal(PlanInput& in, PlannerHost& host, bool usesCriteria) {
    if (auto p = locationProblem("A", in.locationA))
        return p;
    if (auto p = locationProblem("B", in.locationB))
        return p;
    if (auto p = overlapProblem(in, host))
        return p;
    if (usesCriteria)
        return criteriaProblem(in.settings);
    return std::nullopt;
}

ReferencePlan refusal(PlannerHost& host, const std::string& reason, const std::string& count) {
    host.log("Planning refused: " + reason);
    ReferencePlan r;
    r.refused = true;
    r.refusal = reason;
    r.countText = count;
    return r;
}

} // namespace

ReferencePlan referenceAMasterB(PlanInput& in, PlannerHost& host) {
    if (auto p = commonRefusal(in, host, true))
        return refusal(host, *p, "Actions: 0");
    const std::string stemA = in.locationA.substr(0, in.locationA.size() - 1);
    if (!host.folderExists(stemA.empty() ? "/" : stemA))
        return refusal(host,
                       "Location A " + in.locationA +
                           " does not exist. Backup refused: it would delete everything in B.",
                       "Actions: 0");

    Grid a(*in.inventoryA);
    Grid b(*in.inventoryB);
    const std::string stemB = in.locationB.substr(0, in.locationB.size() - 1);
    ReferencePlan result;
    std::vector<std::string>& list = result.actions;

    const std::size_t nB = files(b);
    host.log("Generating CreateDir list ...");
    for (std::size_t k = 0; k < in.foldersA->size(); ++k) {
        const std::string target = stemB + refFolderPart((*in.foldersA)[k], in.locationA);
        if (host.folderExists(target))
            continue;
        // A listed file of B where A has a folder is deleted before the folder is made.
        for (std::size_t j = 0; k > 0 && j < nB; ++j) {
            if (!hasMark(b, j) && b.fullPathCell(j) == target) {
                list.push_back("DeleteFile " + target);
                b.mark(j);
                break;
            }
        }
        list.push_back("CreateDir " + target);
    }
    // A folder of B stands at T.
    auto folderOfBAt = [&](const std::string& T) {
        for (const std::string& entry : *in.foldersB)
            if (entry == T + "/")
                return true;
        return false;
    };
    std::vector<std::string> copiesOntoFolders;

    host.log("Generating move/copy list ...");
    host.setProgressMaximum(files(a) >= 2 ? int64_t(files(a)) - 1 : 1);
    const int criteria = criteriaOf(in.settings).count();
    std::size_t cursor = 0;
    std::set<std::string> moveSources;

    // The first row of B, in row order, that the file system shows as the file at T (asked only when
    // no row of B has T as its path).
    auto twinOf = [&](const std::string& target) -> std::optional<std::size_t> {
        for (std::size_t k = 0; k < nB; ++k) {
            const std::string path(b.fullPath(k));
            if (foldedCase(path) == foldedCase(target) && host.sameFile(target, path))
                return k;
        }
        return std::nullopt;
    };
    auto listedAt = [&](const std::string& target) -> std::optional<std::size_t> {
        for (std::size_t k = 0; k < nB; ++k)
            if (b.fullPath(k) == target)
                return k;
        return std::nullopt;
    };

    const bool folds = host.foldsLetterCase(in.locationB);
    foldNames = folds;
    std::vector<std::string> foldedSeen; // folded relative paths of the rows of A planned so far
    for (std::size_t i = 0; i < files(a); ++i) {
        const std::string T = in.locationB + a.fullPathCell(i).substr(in.locationA.size());
        if (folds) {
            const std::string rel = a.fullPathCell(i).substr(in.locationA.size());
            bool collides = false;
            for (std::size_t r = 0; r < i && !collides; ++r) {
                const std::string other = a.fullPathCell(r).substr(in.locationA.size());
                if (foldedCase(other) == foldedCase(rel) &&
                    std::find(foldedSeen.begin(), foldedSeen.end(), other) != foldedSeen.end()) {
                    host.log("Not copied: " + a.fullPathCell(i) + " differs only in letter case from " +
                             a.fullPathCell(r) + ", and B does not tell letter case apart");
                    collides = true;
                }
            }
            if (collides) {
                host.setProgressPosition(int64_t(i));
                host.keepAlive();
                continue;
            }
            foldedSeen.push_back(rel);
        }
        bool present = false;
        const std::size_t q = cursor + 1;
        if (q < nB && !hasMark(b, q) && matches(in.settings, a, i, b, q) && b.fullPathCell(q) == T) {
            b.mark(q);
            cursor = q;
            present = true;
        } else {
            for (std::size_t j = 0; j < nB; ++j) {
                if (hasMark(b, j))
                    continue;
                if (!matches(in.settings, a, i, b, j)) {
                    if (b.fullPathCell(j) == T)
                        b.mark(j);
                    continue;
                }
                if (b.fullPathCell(j) == T) {
                    b.mark(j);
                    cursor = j;
                    present = true;
                    break;
                }
                if (!host.fileExists(T)) {
                    if (folderOfBAt(T))
                        break; // a folder cannot take a move: A's file is copied after it is gone
                    list.push_back("Move-Rename " + b.fullPathCell(j) + "*" + T);
                    moveSources.insert(b.fullPathCell(j));
                    b.mark(j);
                    present = true;
                    break;
                }
                std::optional<std::size_t> r;
                for (std::size_t k = 0; k < nB; ++k)
                    if (b.fullPathCell(k) == T)
                        r = k;
                if (!r && !listedAt(T)) {
                    const auto twin = twinOf(T);
                    if (twin && !hasMark(b, *twin))
                        r = twin;
                }
                if (r) {
                    b.mark(*r);
                    present = matches(in.settings, a, i, b, *r);
                    // The same file under another name: it takes A's spelling within its folder.
                    const std::string from(b.fullPath(*r));
                    if (present && folds && nameAfterLastSeparator(from) != nameAfterLastSeparator(T)) {
                        list.push_back("Move-Rename " + from + "*" + from.substr(0, from.rfind(kSeparator) + 1) +
                                       nameAfterLastSeparator(T));
                        moveSources.insert(from);
                    }
                }
                break;
            }
        }
        if (!present) {
            const std::string line = "Copy " + a.fullPathCell(i) + "*" + T;
            if (host.fileExists(T)) {
                bool leaving = false;
                if (const auto listed = listedAt(T)) {
                    leaving = moveSources.count(std::string(b.fullPath(*listed))) > 0;
                } else if (const auto twin = twinOf(T)) {
                    leaving = moveSources.count(std::string(b.fullPath(*twin))) > 0;
                    if (!leaving && !hasMark(b, *twin))
                        b.mark(*twin);
                }
                if (leaving) {
                    list.push_back(line);
                } else {
                    const auto facts = host.fileFacts(T);
                    int count = 0;
                    if (facts) {
                        if (in.settings.CheckSize && facts->size == std::stoll(a.sizeText(i)))
                            ++count;
                        if (in.settings.CheckTimeStamp && facts->fileTime == std::stol(a.fileTimeText(i)))
                            ++count;
                        if (in.settings.CheckName && nameAfterLastSeparator(T) == a.cell(i, 3))
                            ++count;
                    }
                    if (!facts || count != criteria)
                        list.push_back(line);
                }
            } else if (folderOfBAt(T)) {
                copiesOntoFolders.push_back(line);
            } else {
                list.push_back(line);
            }
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }

    host.log("Generating DeleteFile list ...");
    host.setProgressMaximum(nB >= 2 ? int64_t(nB) - 1 : 1);
    for (std::size_t j = 0; j < nB; ++j) {
        if (hasMark(b, j))
            continue;
        const std::string P = b.fullPathCell(j);
        const std::string rel = P.substr(in.locationB.size());
        std::optional<std::string> kept;
        for (std::size_t r = 0; r < files(a) && !kept; ++r) {
            const std::string relA = std::string(a.fullPath(r)).substr(in.locationA.size());
            if (relA != rel && foldedCase(relA) == foldedCase(rel) && host.sameFile(in.locationB + relA, P))
                kept = in.locationB + relA;
        }
        if (kept)
            host.log("Not deleted: " + P + " is the same file as " + *kept + " on this file system");
        else
            list.push_back("DeleteFile " + P);
        host.setProgressPosition(int64_t(j));
        host.keepAlive();
    }

    host.log("Generating Delete Folders list ...");
    const FolderList& fa = *in.foldersA;
    const FolderList& fb = *in.foldersB;
    for (std::size_t k = fb.size() - 1; k >= 1 && k < fb.size(); --k) {
        const std::string part = refFolderPart(fb[k], in.locationB);
        bool inA = false;
        for (const std::string& entry : fa)
            if (refFolderPart(entry, in.locationA) == part)
                inA = true;
        if (inA)
            continue;
        const std::string folder = stemB + part;
        std::optional<std::string> kept;
        for (std::size_t r = 0; r < fa.size() && !kept; ++r) {
            const std::string other = stemB + refFolderPart(fa[r], in.locationA);
            if (foldedCase(other) == foldedCase(folder) && other != folder && host.sameFile(other, folder))
                kept = other;
        }
        if (kept)
            host.log("Not removed: " + folder + " is the same folder as " + *kept + " on this file system");
        else
            list.push_back("RemoveDir " + folder);
    }
    // Copies onto a folder of B come after that folder's removal; a folder that stays keeps its place.
    for (const std::string& copy : copiesOntoFolders) {
        const std::string T = copy.substr(copy.find('*') + 1);
        if (std::find(list.begin(), list.end(), "RemoveDir " + T) != list.end())
            list.push_back(copy);
        else
            host.log("Not copied: " + T + " is a folder of B that stays");
    }
    result.countText = "Actions: " + std::to_string(list.size());
    result.marksA = a.marks();
    result.marksB = b.marks();
    return result;
}

ReferencePlan referenceFolderSynch(PlanInput& in, PlannerHost& host) {
    if (auto p = commonRefusal(in, host, false))
        return refusal(host, *p, "0");
    Grid a(*in.inventoryA);
    Grid b(*in.inventoryB);
    const std::string stemA = in.locationA.substr(0, in.locationA.size() - 1);
    const std::string stemB = in.locationB.substr(0, in.locationB.size() - 1);
    ReferencePlan result;
    std::vector<std::string>& list = result.actions;

    host.log("Generating CreateDir list for B...");
    for (const std::string& entry : *in.foldersA) {
        const std::string target = stemB + refFolderPart(entry, in.locationA);
        if (!host.folderExists(target))
            list.push_back("CreateDir " + target);
    }
    host.log("Generating CreateDir list for A...");
    for (const std::string& entry : *in.foldersB) {
        const std::string target = stemA + refFolderPart(entry, in.locationB);
        if (!host.folderExists(target))
            list.push_back("CreateDir " + target);
    }

    auto copyAcross = [&](const Grid& side, std::size_t row, const std::string& from, const std::string& to) {
        const std::string source = side.fullPathCell(row);
        std::string destination = to + source.substr(from.size());
        if (host.fileExists(destination))
            destination = datedName(destination, nameSafeDateText(side.modifiedText(row)));
        list.push_back("Copy " + source + "*" + destination);
    };

    host.log("Generating move/copy list ...");
    host.setProgressMaximum(files(a) >= 2 ? int64_t(files(a)) - 1 : 1);
    for (std::size_t i = 0; i < files(a); ++i) {
        bool found = false;
        for (std::size_t j = 0; j < files(b); ++j) {
            if (a.cell(i, 3) != b.cell(j, 3))
                continue;
            const std::string relA = a.fullPathCell(i).substr(in.locationA.size());
            const std::string relB = b.fullPathCell(j).substr(in.locationB.size());
            if (relA != relB)
                continue;
            found = true;
            const int64_t tA = std::stol(a.fileTimeText(i));
            const int64_t tB = std::stol(b.fileTimeText(j));
            if (tA != tB) {
                const bool keepA = in.settings.CheckNewer ? tA > tB : tA < tB;
                const std::string keptPath = keepA ? a.fullPathCell(i) : b.fullPathCell(j);
                const std::string otherPath = keepA ? b.fullPathCell(j) : a.fullPathCell(i);
                const std::string M = keepA ? b.modifiedText(j) : a.modifiedText(i);
                const std::string& T = keepA ? in.locationA : in.locationB;
                const std::string& otherLocation = keepA ? in.locationB : in.locationA;
                if (in.settings.CheckKeepOld) {
                    const std::string date = nameSafeDateText(M);
                    const std::string R = otherPath.substr(otherLocation.size());
                    list.push_back("Move-Rename " + otherPath + "*" + datedName(otherPath, date));
                    list.push_back("Copy " + datedName(otherPath, date) + "*" + T + datedName(R, date));
                }
                list.push_back("Copy " + keptPath + "*" + otherLocation + keptPath.substr(T.size()));
            }
            b.mark(j);
            a.mark(i);
        }
        if (!found)
            copyAcross(a, i, in.locationA, in.locationB);
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }

    host.setProgressMaximum(files(b) >= 2 ? int64_t(files(b)) - 1 : 1);
    for (std::size_t j = 0; j < files(b); ++j) {
        if (b.fullPathCell(j)[0] != '*')
            copyAcross(b, j, in.locationB, in.locationA);
        host.setProgressPosition(int64_t(j));
        host.keepAlive();
    }
    result.countText = std::to_string(list.size());
    result.marksA = a.marks();
    result.marksB = b.marks();
    return result;
}

ReferencePlan referenceCopyMissing(PlanInput& in, PlannerHost& host) {
    if (auto p = commonRefusal(in, host, true))
        return refusal(host, *p, "0");
    Grid a(*in.inventoryA);
    Grid b(*in.inventoryB);
    const std::string stemB = in.locationB.substr(0, in.locationB.size() - 1);
    ReferencePlan result;
    std::vector<std::string>& list = result.actions;
    host.log("Generating CreateDir list ...");
    for (const std::string& entry : *in.foldersA) {
        const std::string target = stemB + refFolderPart(entry, in.locationA);
        if (!host.folderExists(target))
            list.push_back("CreateDir " + target);
    }
    host.log("Generating move/copy list ...");
    host.setProgressMaximum(files(a) >= 2 ? int64_t(files(a)) - 1 : 1);
    for (std::size_t i = 0; i < files(a); ++i) {
        bool found = false;
        for (std::size_t j = 0; j < files(b); ++j)
            if (matches(in.settings, a, i, b, j))
                found = true;
        if (!found) {
            const std::string rel = a.fullPathCell(i).substr(in.locationA.size());
            const std::string D = in.locationB + rel;
            if (host.fileExists(D)) {
                // The dated name, then numbered ones, until a free one or one holding this very file.
                const std::string dated =
                    datedCopyName(in.locationB, rel, nameSafeDateText(a.modifiedText(i)));
                const std::string name = nameAfterLastSeparator(D);
                const std::size_t tail = std::min<std::size_t>(4, name.size());
                std::string candidate = dated;
                for (int n = 2;; ++n) {
                    const auto facts = host.fileFacts(candidate);
                    if (!facts) {
                        list.push_back("Copy " + a.fullPathCell(i) + "*" + candidate);
                        break;
                    }
                    const bool same = (!in.settings.CheckSize || facts->size == std::stoll(a.sizeText(i))) &&
                                      (!in.settings.CheckTimeStamp ||
                                       facts->modifiedTime / 2 == std::stol(a.fileTimeText(i)));
                    if (same || n > 99)
                        break;
                    candidate = dated.substr(0, dated.size() - tail) + " (" + std::to_string(n) + ")" +
                                dated.substr(dated.size() - tail);
                }
            } else {
                list.push_back("Copy " + a.fullPathCell(i) + "*" + D);
            }
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.countText = std::to_string(list.size());
    result.marksA = a.marks();
    result.marksB = b.marks();
    return result;
}

ReferencePlan referenceDuplicatedel(PlanInput& in, PlannerHost& host) {
    if (auto p = commonRefusal(in, host, true))
        return refusal(host, *p, "0");
    Grid a(*in.inventoryA);
    Grid b(*in.inventoryB);
    ReferencePlan result;
    host.setProgressMaximum(files(a) >= 2 ? int64_t(files(a)) - 1 : 1);
    host.log("Looking for file matches ...");
    for (std::size_t i = 0; i < files(a); ++i) {
        for (std::size_t j = 0; j < files(b); ++j) {
            if (matches(in.settings, a, i, b, j) && a.fullPathCell(i) != b.fullPathCell(j)) {
                result.actions.push_back("Original    " + a.fullPathCell(i));
                result.actions.push_back("DeleteFile " + b.fullPathCell(j));
            }
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.countText = std::to_string(result.actions.size());
    result.marksA = a.marks();
    result.marksB = b.marks();
    return result;
}

ReferencePlan referenceDuplicatesWithinA(PlanInput& in, PlannerHost& host) {
    if (auto p = criteriaProblem(in.settings))
        return refusal(host, *p, "Actions: 0");
    Grid a(*in.inventoryA);
    ReferencePlan result;
    if (files(a) >= 2)
        host.setProgressMaximum(int64_t(files(a)) - 1);
    host.log("Finding duplicates in A ...");
    for (std::size_t i = 0; i < files(a); ++i) {
        if (!hasMark(a, i)) {
            for (std::size_t j = 0; j < files(a); ++j) {
                if (hasMark(a, j) || j == i || !matches(in.settings, a, i, a, j))
                    continue;
                a.mark(i);
                if (std::string(a.fullPath(i)) != a.fullPathCell(j)) {
                    result.actions.push_back("Original   " + a.fullPathCell(i));
                    result.actions.push_back("DeleteFile " + a.fullPathCell(j));
                }
                a.mark(j);
            }
            a.mark(i);
        }
        host.setProgressPosition(int64_t(i));
        host.keepAlive();
    }
    result.countText = "Actions: " + std::to_string(result.actions.size());
    result.marksA = a.marks();
    return result;
}

} // namespace paritas::testing

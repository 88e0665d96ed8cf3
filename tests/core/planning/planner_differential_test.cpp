// Random small trees, planned twice: by the real planners and by the plain row-by-row reference.
// Names come from a tiny alphabet so that equal names, letter-case twins, equal sizes and equal times
// are common, and the pretend disk does not always agree with inventory B. Everything must come out
// the same: lines, count text, refusals, marks on both inventories and the whole conversation with
// the host (log lines, progress, keep-alives and every question asked, in order).

#include "memory_planner_host.h"
#include "reference_planners.h"

#include "core/planning/plan_support.h"

#include "core/platform/datetime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <malloc.h>
#include <map>
#include <random>
#include <set>

namespace paritas::testing {
namespace {

struct FileSpec {
    int64_t size;
    int32_t time;
};

// Relative folder paths ("" is the location itself) and relative file paths with their facts.
struct Tree {
    std::set<std::string> folders{""};
    std::map<std::string, FileSpec> files;
};

std::string parentOf(const std::string& rel) {
    const std::size_t at = rel.rfind('/');
    return at == std::string::npos ? std::string() : rel.substr(0, at);
}

std::string join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

class RandomWorld {
public:
    explicit RandomWorld(uint32_t seed) : rng_(seed) {}

    bool chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    template <class T> const T& pick(const std::vector<T>& items) {
        return items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(rng_)];
    }
    int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

    FileSpec randomFacts() { return FileSpec{number(1, 3), pick(times_)}; }

    Tree randomTree() {
        Tree tree;
        const bool large = chance(25); // enough rows that the planners leave the first few behind
        const int folders = large ? number(3, 10) : number(0, 4);
        for (int k = 0; k < folders; ++k) {
            const std::vector<std::string> existing(tree.folders.begin(), tree.folders.end());
            const std::string parent = pick(existing);
            if (std::count(parent.begin(), parent.end(), '/') < 2)
                tree.folders.insert(join(parent, pick(folderNames_)));
        }
        const int fileCount = large ? number(10, 40) : number(0, 8);
        for (int k = 0; k < fileCount; ++k)
            addRandomFile(tree);
        return tree;
    }

    void addRandomFile(Tree& tree) {
        const std::vector<std::string> folders(tree.folders.begin(), tree.folders.end());
        const std::string rel = join(pick(folders), pick(fileNames_));
        if (!tree.folders.count(rel))
            tree.files[rel] = randomFacts();
    }

    // B made from A by a few edits: renamed folders, moved, changed, removed and added files.
    Tree mutated(const Tree& a) {
        Tree b = a;
        const int edits = number(0, 4);
        for (int k = 0; k < edits; ++k) {
            const int kind = number(0, 4);
            std::vector<std::string> fileList;
            for (const auto& f : b.files)
                fileList.push_back(f.first);
            if (kind == 0 && b.folders.size() > 1) {
                renameFolder(b);
            } else if (kind == 1 && !fileList.empty()) {
                b.files.erase(pick(fileList));
            } else if (kind == 2 && !fileList.empty()) {
                b.files[pick(fileList)] = randomFacts();
            } else if (kind == 3 && !fileList.empty()) {
                const std::string from = pick(fileList);
                const FileSpec facts = b.files[from];
                b.files.erase(from);
                const std::vector<std::string> folders(b.folders.begin(), b.folders.end());
                const std::string to = join(pick(folders), pick(fileNames_));
                if (!b.folders.count(to))
                    b.files[to] = facts;
            } else {
                addRandomFile(b);
            }
        }
        return b;
    }

    void renameFolder(Tree& tree) {
        std::vector<std::string> candidates;
        for (const auto& f : tree.folders)
            if (!f.empty())
                candidates.push_back(f);
        const std::string from = pick(candidates);
        const std::string to = join(parentOf(from), pick(folderNames_));
        if (tree.folders.count(to) || tree.files.count(to))
            return;
        auto moved = [&](const std::string& rel) {
            if (rel == from)
                return to;
            if (rel.compare(0, from.size() + 1, from + "/") == 0)
                return to + rel.substr(from.size());
            return rel;
        };
        Tree out;
        out.folders.clear();
        for (const auto& f : tree.folders)
            out.folders.insert(moved(f));
        for (const auto& [rel, facts] : tree.files)
            if (!out.folders.count(moved(rel)))
                out.files[moved(rel)] = facts;
        tree = out;
    }

private:
    std::mt19937 rng_;
    std::vector<std::string> folderNames_{"a", "b", "A", "B", "ab"};
    std::vector<std::string> fileNames_{"a", "b", "A", "B", "ab", "a.b", "ab.txt", "B.txt"};
    std::vector<int32_t> times_{packDosDateTime(1700000000), packDosDateTime(1700000002),
                                packDosDateTime(1800000000)};
};

// The folder list as the breadth-first walk gives it: the location, then level by level, each
// folder's subfolders by name.
FolderList folderListOf(const Tree& tree, const std::string& location, bool subfolders) {
    FolderList list{location};
    if (!subfolders)
        return list;
    std::vector<std::string> level{""};
    while (!level.empty()) {
        std::vector<std::string> next;
        for (const std::string& parent : level)
            for (const std::string& folder : tree.folders)
                if (!folder.empty() && parentOf(folder) == parent)
                    next.push_back(folder);
        for (const std::string& folder : next)
            list.push_back(location + folder + "/");
        level = next;
    }
    return list;
}

void fillInventory(Inventory& inventory, const Tree& tree, const FolderList& folders,
                   const std::string& location) {
    for (const std::string& entry : folders) {
        const std::string rel = entry.size() > location.size()
                                    ? entry.substr(location.size(), entry.size() - location.size() - 1)
                                    : "";
        for (const auto& [path, facts] : tree.files)
            if (parentOf(path) == rel)
                inventory.addFile(entry, path.substr(rel.empty() ? 0 : rel.size() + 1), facts.size,
                                  facts.time);
    }
}

struct Scenario {
    std::string locationA = "/ra/";
    std::string locationB = "/rb/";
    Tree a, b;
    bool subfolders = true;
    Settings settings;
    bool caseInsensitive = false;
    std::set<std::string> diskFolders;
    std::map<std::string, FileFacts> diskFiles;
};

Scenario randomScenario(uint32_t seed) {
    RandomWorld world(seed);
    Scenario s;
    s.a = world.randomTree();
    s.b = world.chance(60) ? world.mutated(s.a) : world.randomTree();
    s.subfolders = world.chance(85);
    s.caseInsensitive = world.chance(30);
    s.settings.CheckSize = world.chance(60);
    s.settings.CheckName = world.chance(60);
    s.settings.CheckTimeStamp = world.chance(40);
    s.settings.CheckNewer = world.chance(50);
    s.settings.CheckKeepOld = world.chance(50);
    if (world.chance(4))
        s.locationB = world.chance(50) ? "/ra/a/" : s.locationA;

    const bool aMissing = world.chance(5);
    const bool bMissing = world.chance(8);
    if (aMissing)
        s.a = Tree{};
    if (bMissing)
        s.b = Tree{};
    auto stem = [](const std::string& location) { return location.substr(0, location.size() - 1); };
    auto putOnDisk = [&](const Tree& tree, const std::string& location, bool missing) {
        if (missing)
            return;
        for (const auto& folder : tree.folders)
            s.diskFolders.insert(folder.empty() ? stem(location) : location + folder);
        for (const auto& [rel, facts] : tree.files)
            s.diskFiles[location + rel] = MemoryPlannerHost::packedFacts(facts.size, facts.time);
    };
    putOnDisk(s.a, s.locationA, aMissing);
    putOnDisk(s.b, s.locationB, bMissing);
    // The disk need not agree with the scan of B: files gone, files added, files changed.
    if (world.chance(40)) {
        for (auto it = s.diskFiles.begin(); it != s.diskFiles.end();) {
            if (it->first.rfind(s.locationB, 0) == 0 && world.chance(15))
                it = s.diskFiles.erase(it);
            else
                ++it;
        }
        Tree extra = s.a;
        world.addRandomFile(extra);
        world.addRandomFile(extra);
        for (const auto& [rel, facts] : extra.files)
            if (world.chance(20))
                s.diskFiles[s.locationB + rel] = MemoryPlannerHost::packedFacts(facts.size, facts.time);
    }
    return s;
}

// One planning written down to compare: the lines as texts, the marks of every row of both sides.
struct Written {
    std::vector<std::string> actions;
    std::string countText;
    bool refused = false;
    std::string refusal;
    std::vector<bool> marksA, marksB;
};
using Planner = std::function<Written(PlanInput&, PlannerHost&)>;

std::vector<bool> marksOf(const std::vector<uint8_t>& marks, std::size_t rows) {
    std::vector<bool> all(rows, false);
    for (std::size_t r = 0; r < marks.size() && r < rows; ++r)
        all[r] = marks[r] != 0;
    return all;
}

// The real planner's result, written down.
template <class RealPlanner> Planner real(RealPlanner planner) {
    return [planner](PlanInput& input, PlannerHost& host) {
        const PlanResult result = planner(input, host);
        return Written{lineTexts(result.actions),
                       result.countText,
                       result.refused,
                       result.refusal,
                       marksOf(result.marksA, input.inventoryA->fileCount()),
                       marksOf(result.marksB, input.inventoryB->fileCount())};
    };
}

// A reference planner's result, written down.
template <class ReferencePlanner> Planner reference(ReferencePlanner planner) {
    return [planner](PlanInput& input, PlannerHost& host) {
        const ReferencePlan result = planner(input, host);
        auto all = [](std::vector<bool> marks, std::size_t rows) {
            marks.resize(rows, false); // a side the planner did not mark has no row marked
            return marks;
        };
        return Written{result.actions,
                       result.countText,
                       result.refused,
                       result.refusal,
                       all(result.marksA, input.inventoryA->fileCount()),
                       all(result.marksB, input.inventoryB->fileCount())};
    };
}

struct Outcome {
    Written result;
    std::vector<bool> marksA, marksB;
    std::vector<std::string> trace;
};

Outcome plan(const Scenario& s, const Planner& planner) {
    const FolderList foldersA = folderListOf(s.a, s.locationA, s.subfolders);
    const FolderList foldersB = folderListOf(s.b, s.locationB, s.subfolders);
    Inventory inventoryA, inventoryB;
    fillInventory(inventoryA, s.a, foldersA, s.locationA);
    fillInventory(inventoryB, s.b, foldersB, s.locationB);
    MemoryPlannerHost host;
    host.caseInsensitive = s.caseInsensitive;
    host.folders = s.diskFolders;
    host.files = s.diskFiles;
    PlanInput input{s.locationA, s.locationB, &foldersA,  &foldersB,
                    &inventoryA, &inventoryB, s.settings, s.subfolders};
    Outcome out;
    out.result = planner(input, host);
    out.marksA = out.result.marksA;
    out.marksB = out.result.marksB;
    out.trace = host.trace;
    return out;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += "  " + line + "\n";
    return text;
}

void expectSame(const char* name, uint32_t seed, const Planner& real, const Planner& reference) {
    const Scenario s = randomScenario(seed);
    const Outcome got = plan(s, real);
    if (got.result.refused && criteriaOf(s.settings).count() == 0)
        return; // the reference would plan what the real planner rightly refuses
    const Outcome want = plan(s, reference);
    const std::string where = std::string(name) + " differs from the reference; reproduce with seed " +
                              std::to_string(seed) + "\nreal lines:\n" + joined(got.result.actions) +
                              "reference lines:\n" + joined(want.result.actions);
    ASSERT_EQ(got.result.actions, want.result.actions) << where;
    ASSERT_EQ(got.result.countText, want.result.countText) << where;
    ASSERT_EQ(got.result.refused, want.result.refused) << where;
    ASSERT_EQ(got.result.refusal, want.result.refusal) << where;
    ASSERT_EQ(got.marksA, want.marksA) << where;
    ASSERT_EQ(got.marksB, want.marksB) << where;
    ASSERT_EQ(got.trace, want.trace) << where << "real trace:\n"
                                     << joined(got.trace) << "reference trace:\n"
                                     << joined(want.trace);
}

uint32_t firstSeed() {
    const char* fixed = std::getenv("PARITAS_PLANNER_SEED");
    return fixed ? uint32_t(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
}

constexpr int kRuns = 12000;

void runMany(const char* name, const Planner& real, const Planner& reference) {
    // Each inventory takes a 1 MiB block for its paths; keep such blocks on the heap for reuse instead
    // of mapping fresh pages for every small tree.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    const uint32_t base = firstSeed();
    const int runs = std::getenv("PARITAS_PLANNER_SEED") ? 1 : kRuns;
    for (int k = 0; k < runs; ++k) {
        expectSame(name, base + uint32_t(k), real, reference);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

TEST(PlannerAgainstReference, BackupPlansExactlyWhatTheRowByRowSearchPlans) {
    runMany("AMasterB", real(AMasterB), reference(referenceAMasterB));
}

TEST(PlannerAgainstReference, FolderSynchPlansExactlyWhatTheRowByRowPairingPlans) {
    runMany("FolderSynch", real(FolderSynch), reference(referenceFolderSynch));
}

TEST(PlannerAgainstReference, CopyMissingPlansExactlyWhatTheRowByRowSearchPlans) {
    runMany("CopyMissing", real(CopyMissing), reference(referenceCopyMissing));
}

TEST(PlannerAgainstReference, DuplicatesInBListsEveryPairInTheRowByRowOrder) {
    runMany("Duplicatedel", real(Duplicatedel), reference(referenceDuplicatedel));
}

TEST(PlannerAgainstReference, DuplicatesWithinAKeepsTheFirstOfEveryGroupLikeTheRowByRowSearch) {
    runMany("DuplicatesWithinA", real(DuplicatesWithinA), reference(referenceDuplicatesWithinA));
}

} // namespace
} // namespace paritas::testing

// A plan is a promise about the world: the executor keeps it only while the world still looks as
// planned, and a line that depends on an earlier one runs only after that one succeeded.

#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace paritas;
using namespace paritas::test;

namespace {

ExecutionCounts runPlan(const PlanResult& plan, std::vector<std::string>& log) {
    SyncRecordingHost host;
    host.settingsValue = quietSettings();
    StopFlags flags;
    const ExecutionCounts counts = runPlanned(plan, flags, host);
    log = host.lines;
    return counts;
}

// The reason logged right after the failure line `failure`, or "" when there is none.
std::string reasonAfter(const std::vector<std::string>& log, const std::string& failure) {
    for (std::size_t i = 0; i + 1 < log.size(); ++i)
        if (log[i] == failure)
            return log[i + 1];
    return "";
}

} // namespace

TEST(PlannedFacts, APlanThatWaitedActsOnlyOnWhatItSaw) {
    TempTree tree("A/new.txt = new\nA/photos/photo.jpg = jpeg bytes\nA/docs/a.txt = a\n"
                  "B/old/photo.jpg = jpeg bytes\nB/stale.txt = stale\nB/docs/\noutside/keep.txt = k\n");
    const SyncRun planned = syncOnce(0, tree.path("A/"), tree.path("B/"), quietSettings(), false);
    ASSERT_FALSE(planned.plan.refused);

    // While the plan waits (in the review window, say), the user keeps working.
    tree.file("B/new.txt", "the user's own new.txt");                        // where a copy was to create
    tree.remove("B/stale.txt").file("B/stale.txt", "rewritten");             // what was to be deleted
    tree.remove("B/old/photo.jpg").file("B/old/photo.jpg", "another jpeg!"); // what was to be moved
    tree.remove("B/docs").link("B/docs", "../outside");                      // a folder the copy goes into
    const TreeSnapshot outside = snapshotTree(tree.path("outside"));

    std::vector<std::string> log;
    const ExecutionCounts counts = runPlan(planned.plan, log);
    const std::string changed = "Reason: changed since planning";
    EXPECT_EQ(reasonAfter(log, "Failed Copy-File to " + tree.path("B/new.txt")), changed);
    EXPECT_EQ(reasonAfter(log, "Failed DeleteFile " + tree.path("B/stale.txt")), changed);
    EXPECT_EQ(reasonAfter(log, "Failed Move-Rename to " + tree.path("B/photos/photo.jpg")), changed);
    EXPECT_EQ(reasonAfter(log, "Failed Copy-File to " + tree.path("B/docs/a.txt")),
              "Reason: a symbolic link stands on the path, and actions never pass through a link");
    EXPECT_EQ(counts.bad, 5); // and B/old, still holding the photo, is not removed
    EXPECT_EQ(reasonAfter(log, "Failed Delete Dir " + tree.path("B/old")),
              "Reason: Directory not empty (ENOTEMPTY)");
    EXPECT_EQ(tree.read("B/new.txt"), "the user's own new.txt");
    EXPECT_EQ(tree.read("B/stale.txt"), "rewritten");
    EXPECT_EQ(tree.read("B/old/photo.jpg"), "another jpeg!");
    EXPECT_EQ(snapshotDifferences(outside, snapshotTree(tree.path("outside"))), "");
}

TEST(PlannedFacts, ALineRunsOnlyWhenTheLineItDependsOnSucceeded) {
    // Keep-other: the other version cannot take its dated name (a folder of that name stands there),
    // so neither copy runs and the other version stays the only one.
    TempTree synch(
        "A/r.txt = newer text @2026-03-01 10:00:00\nB/r.txt = the only older text @2026-01-01 10:00:00\n");
    Settings keepOther = quietSettings();
    keepOther.CheckKeepOld = true;
    const SyncRun plannedSynch = syncOnce(1, synch.path("A/"), synch.path("B/"), keepOther, false);
    ASSERT_EQ(plannedSynch.plan.actions.size(), 3u);
    const std::string dated = plannedSynch.plan.actions[0].destination;
    synch.folder(dated.substr(synch.root().size()));
    std::vector<std::string> log;
    const ExecutionCounts counts = runPlan(plannedSynch.plan, log);
    EXPECT_EQ(counts.bad, 3);
    EXPECT_EQ(counts.dependencySkipped, 2);
    EXPECT_EQ(synch.read("B/r.txt"), "the only older text");
    EXPECT_EQ(
        reasonAfter(log, "Failed Copy-File to " + synch.path("B/r.txt"))
            .rfind("Reason: not done, because an earlier line it depends on did not succeed: Move-Rename ",
                   0),
        0u);

    // A folder whose creation fails (a file took its place) takes the copies into it along; one that a
    // real folder took meanwhile is as good as made.
    TempTree backup("A/gone/x.txt = x\nA/there/y.txt = y\nB/\n");
    const SyncRun plannedBackup = syncOnce(0, backup.path("A/"), backup.path("B/"), quietSettings(), false);
    backup.file("B/gone", "a file now");
    backup.folder("B/there");
    EXPECT_EQ(runPlan(plannedBackup.plan, log).bad, 3);
    EXPECT_EQ(reasonAfter(log, "Failed Copy-File to " + backup.path("B/gone/x.txt")),
              "Reason: not done, because an earlier line it depends on did not succeed: CreateDir " +
                  backup.path("B/gone"));
    EXPECT_TRUE(hasLine(log, "Success Copy-File to " + backup.path("B/there/y.txt")));
    EXPECT_EQ(backup.read("B/gone"), "a file now");
}

namespace {

// Runs with a pool of `workers` copies; `onKeepAlive` runs whenever the executor keeps the window alive.
class PooledHost final : public SyncRecordingHost {
public:
    int workers = 1;
    std::function<void()> onKeepAlive;
    int copyWorkers() override { return workers; }
    void keepAlive() override {
        if (onKeepAlive)
            onKeepAlive();
    }
};

// The log without its time stamps, with the tree's root spelled "<root>/".
std::vector<std::string> comparable(const std::vector<std::string>& log, const std::string& root) {
    std::vector<std::string> kept;
    for (std::string line : log) {
        if (line.rfind("Actions Started at ", 0) == 0 || line.rfind("Actions Finished at ", 0) == 0)
            continue;
        if (const std::size_t at = line.find(root); at != std::string::npos)
            line.replace(at, root.size(), "<root>/");
        kept.push_back(line);
    }
    return kept;
}

} // namespace

// Copies on a pool are reported as a run on one thread reports them: the same lines in the same order,
// the same counts, the same trees; a stop takes effect within one file.
TEST(PlannedFacts, CopiesOnAPoolChangeNothingButTheTimeTheyTake) {
    std::string description = "B/stale.txt = s\nB/old/photo.jpg = jpeg\n";
    for (int f = 0; f < 40; ++f)
        description += "A/d" + std::to_string(f % 5) + "/f" + std::to_string(f) +
                       ".txt = " + std::to_string(f * f) + "\n";
    description += "A/photos/photo.jpg = jpeg\n";
    std::vector<std::string> logs[2];
    TreeSnapshot trees[2];
    ExecutionCounts counts[2];
    for (const int workers : {1, 4}) {
        TempTree tree(description);
        for (int f = 0; f < 40; ++f) // both runs copy the same times, whenever their trees were made
            tree.setModifiedTime("A/d" + std::to_string(f % 5) + "/f" + std::to_string(f) + ".txt",
                                 1700000000);
        tree.setModifiedTime("A/photos/photo.jpg", 1700000000).setModifiedTime("B/old/photo.jpg", 1700000000);
        const SyncRun planned = syncOnce(0, tree.path("A/"), tree.path("B/"), quietSettings(), false);
        PooledHost host;
        host.workers = workers;
        StopFlags flags;
        counts[workers > 1] = runPlanned(planned.plan, flags, host);
        logs[workers > 1] = comparable(host.lines, tree.root());
        trees[workers > 1] = snapshotTree(tree.path("B"));
    }
    EXPECT_EQ(logs[1], logs[0]);
    EXPECT_EQ(snapshotDifferences(trees[0], trees[1]), "");
    EXPECT_EQ(counts[1].good, counts[0].good);
    EXPECT_EQ(counts[1].bad, 0);

    // Stopped as soon as a copy of the pool has landed in B: the copies under way end or are cancelled,
    // no other copy is begun, the deletions after the copies are not reached, and every line is done,
    // cancelled or not reached.
    TempTree tree(description);
    for (int f = 0; f < 40; ++f) // copies that take a while, so that the stop comes amid them
        tree.sizedFile("A/d" + std::to_string(f % 5) + "/f" + std::to_string(f) + ".txt", 1 << 20);
    const SyncRun planned = syncOnce(0, tree.path("A/"), tree.path("B/"), quietSettings(), false);
    const auto copiesInB = [&] {
        int copies = 0;
        for (int f = 0; f < 40; ++f)
            copies += std::filesystem::exists(
                tree.path("B/d" + std::to_string(f % 5) + "/f" + std::to_string(f) + ".txt"));
        return copies;
    };
    PooledHost host;
    host.workers = 4;
    StopFlags flags;
    int landedAtStop = -1;
    host.onKeepAlive = [&] {
        if (landedAtStop < 0 && copiesInB() > 0) {
            landedAtStop = copiesInB();
            interruptJobProcessing(flags, static_cast<ExecutorHost&>(host));
        }
    };
    const ExecutionCounts stopped = runPlanned(planned.plan, flags, host);
    ASSERT_GE(landedAtStop, 1);
    EXPECT_LE(copiesInB(), landedAtStop + host.workers) << "copies were begun after the stop";
    EXPECT_EQ(stopped.good + stopped.bad + stopped.notReached, int(planned.plan.actions.size()));
    EXPECT_EQ(stopped.bad, stopped.cancelled);
    EXPECT_EQ(tree.read("B/stale.txt"), "s") << "the deletions after the copies were not reached";
}

// A copy on a pool sees what every line before it did, as one thread would: a copy that replaces
// what an earlier copy reads waits for that copy, and a folder removed and made again is looked up
// again by every worker.
TEST(PlannedFacts, CopiesOnAPoolSeeWhatTheLinesBeforeThemDid) {
    constexpr int kChains = 200;
    TempTree tree("A/\nB/\n");
    const std::string a = tree.path("A"), b = tree.path("B");
    ActionList lines;
    for (int i = 0; i < kChains; ++i) {
        const std::string n = std::to_string(i);
        tree.file("A/x" + n, std::string(4096, char('a' + i % 26)));
        tree.file("A/z" + n, "the new x" + n);
        // x is read into B/y, then replaced by z: B/y must hold the old x.
        lines.push_back(copyItem(a + "/x" + n, b + "/y" + n));
        lines.push_back(copyItem(a + "/z" + n, a + "/x" + n));
    }
    for (int i = 0; i < kChains; ++i) {
        // Every worker has B/d open, then it is removed and made again before the last copy into it.
        const std::string d = b + "/d" + std::to_string(i);
        lines.push_back(createFolderItem(d));
        for (int w = 0; w < 4; ++w)
            lines.push_back(copyItem(a + "/z" + std::to_string(i), d + "/f" + std::to_string(w)));
        for (int w = 0; w < 4; ++w)
            lines.push_back(deleteItem(d + "/f" + std::to_string(w)));
        lines.push_back(removeFolderItem(d));
        lines.push_back(createFolderItem(d));
        for (int w = 0; w < 4; ++w)
            lines.push_back(copyItem(a + "/z" + std::to_string(i), d + "/g" + std::to_string(w)));
    }
    PooledHost host;
    host.workers = 4;
    StopFlags flags;
    // The locations alone, no facts: folders are kept open beneath them.
    Locations locations = localLocations({a + "/", b + "/"});
    const ExecutionCounts counts = PerformActions(lines, locations, {a + "/", b + "/"}, flags, host);
    EXPECT_EQ(counts.bad, 0) << ::testing::PrintToString(host.lines);
    for (int i = 0; i < kChains; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(tree.read("B/y" + n), std::string(4096, char('a' + i % 26))) << "y" << n;
        EXPECT_EQ(tree.read("A/x" + n), "the new x" + n);
        EXPECT_EQ(tree.read("B/d" + n + "/g3"), "the new x" + n);
    }
}

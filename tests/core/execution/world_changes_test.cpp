// A plan is a promise about the world, and the world moves: between planning and acting, and between an
// action's last check and its act. These rows hold every promise at the moments where a careless
// implementation would break it (a rename instead of an exchange, a check that ignores the size, times
// compared without their two-second step, a guard that refuses its own bound).

#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "support/test_location.h"

#include "core/app/run.h"
#include "core/planning/deletion_guard.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;
using paritas::testing::LocationCall;
using paritas::testing::TestLocation;
using paritas::testing::TestLocationsFor;

namespace {

// Size, name and time: the criteria of the command line, which tell an edited file of the same size.
Settings timedSettings() {
    Settings settings = quietSettings();
    settings.CheckTimeStamp = true;
    return settings;
}

// A whole run (lock, scans, plan, guard, actions) on test locations, its log kept.
class ScriptedRun : public RunHost {
public:
    SyncRecordingHost console;
    TestLocationsFor locations;
    ScanHost& scanHost(Side) override { return console; }
    PlannerHost& plannerHost() override { return console; }
    std::unique_ptr<Location> openLocation(const std::string& text) override { return locations.open(text); }

    RunSession session(PlanKind kind, const std::string& a, const std::string& b,
                       Settings settings = timedSettings()) {
        RunRequest request;
        request.kind = kind;
        request.locationA = a;
        request.locationB = b;
        request.settings = settings;
        console.settingsValue = settings;
        return RunSession(std::move(request));
    }
    ExecutionCounts execute(RunSession& run) {
        StopFlags flags;
        return run.execute(console, flags);
    }
    // The reason logged right after `failure`, or "".
    std::string reasonAfter(const std::string& failure) const {
        const auto& log = console.lines;
        for (std::size_t i = 0; i + 1 < log.size(); ++i)
            if (log[i] == failure)
                return log[i + 1];
        return "";
    }
};

void rewriteKeepingTime(TempTree& tree, const std::string& relative, const std::string& content) {
    struct stat before {};
    ASSERT_EQ(::lstat(tree.path(relative).c_str(), &before), 0);
    tree.file(relative, content);
    const timespec times[2] = {before.st_atim, before.st_mtim}; // as `touch -r` puts it back
    ASSERT_EQ(::utimensat(AT_FDCWD, tree.path(relative).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

} // namespace

// The file at a copy's destination is exchanged with the copy in one step and checked as it comes
// out: a file that another program puts there after the check is exchanged back, never replaced.
TEST(WorldChanges, AFileSwappedInBetweenTheCheckAndTheExchangeIsKept) {
    for (const RemovedFiles removal : {RemovedFiles::Delete, RemovedFiles::Versions}) {
        TempTree tree("A/report.txt = the new report @2026-03-01 10:00:00\n"
                      "B/report.txt = the old report @2026-01-01 10:00:00\n");
        ScriptedRun host;
        Settings settings = timedSettings();
        settings.removedFiles = removal;
        RunSession run = host.session(PlanKind::Backup, tree.path("A/"), tree.path("B/"), settings);
        ASSERT_TRUE(run.prepare(host));
        ASSERT_EQ(lineTexts(run.actions()), std::vector<std::string>{"Copy " + tree.path("A/report.txt") +
                                                                     "*" + tree.path("B/report.txt")});
        int swaps = 0;
        host.locations.at(tree.path("B/"))->between([&](const std::string& path) {
            if (path != tree.path("B/report.txt") || swaps++ > 0)
                return;
            tree.remove("B/report.txt").file("B/report.txt", "the user's own report, saved right now");
        });
        const ExecutionCounts counts = host.execute(run);
        EXPECT_EQ(swaps, 1);
        EXPECT_EQ(counts.bad, 1);
        EXPECT_EQ(tree.read("B/report.txt"), "the user's own report, saved right now");
        EXPECT_EQ(host.reasonAfter("Failed Copy-File to " + tree.path("B/report.txt")),
                  "Reason: changed since planning");
        EXPECT_FALSE(tree.exists("B/.paritas-versions/report.txt")) << "nothing went to the versions";
    }
}

// A move never lands on something that appears at its destination after it was checked.
TEST(WorldChanges, AFileAppearingWhereAMoveGoesIsNeverReplaced) {
    TempTree tree(
        "A/new/photo.jpg = jpeg @2026-01-01 10:00:00\nB/old/photo.jpg = jpeg @2026-01-01 10:00:00\n");
    ScriptedRun host;
    RunSession run = host.session(PlanKind::Backup, tree.path("A/"), tree.path("B/"));
    ASSERT_TRUE(run.prepare(host));
    host.locations.at(tree.path("B/"))->between([&](const std::string& path) {
        if (path == tree.path("B/old/photo.jpg") && !tree.exists("B/new/photo.jpg"))
            tree.file("B/new/photo.jpg", "another photo that just arrived");
    });
    host.execute(run);
    EXPECT_EQ(tree.read("B/new/photo.jpg"), "another photo that just arrived");
    EXPECT_EQ(tree.read("B/old/photo.jpg"), "jpeg") << "the planned file stays where it was";
}

// The planned stamp is the whole stamp: a file rewritten in place to another size, its time put back,
// is another file, whether it was to be deleted, moved or replaced.
TEST(WorldChanges, AFileRewrittenToAnotherSizeWithItsTimePutBackIsChangedSincePlanning) {
    struct Row {
        const char* name;
        const char* tree;
        const char* rewritten; // in B, after planning
        const char* failure;   // the line that must fail, relative to the tree
    } rows[] = {
        {"delete", "A/\nB/stale.txt = stale @2026-01-01 10:00:00\n", "B/stale.txt",
         "Failed DeleteFile B/stale.txt"},
        {"move", "A/new/p.jpg = jpeg @2026-01-01 10:00:00\nB/old/p.jpg = jpeg @2026-01-01 10:00:00\n",
         "B/old/p.jpg", "Failed Move-Rename to B/new/p.jpg"},
        {"replace", "A/r.txt = newer @2026-03-01 10:00:00\nB/r.txt = older @2026-01-01 10:00:00\n", "B/r.txt",
         "Failed Copy-File to B/r.txt"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempTree tree(row.tree);
        ScriptedRun host;
        RunSession run = host.session(PlanKind::Backup, tree.path("A/"), tree.path("B/"));
        ASSERT_TRUE(run.prepare(host));
        rewriteKeepingTime(tree, row.rewritten, "rewritten in place, and longer than it was");
        host.execute(run);
        const std::string failure = row.failure;
        const std::string line =
            failure.substr(0, failure.rfind(' ') + 1) + tree.path(failure.substr(failure.rfind(' ') + 1));
        EXPECT_EQ(host.reasonAfter(line), "Reason: changed since planning");
        EXPECT_EQ(tree.read(row.rewritten), "rewritten in place, and longer than it was");
    }
}

// Times are compared in two-second steps of true time (a FAT copy keeps its time no closer): one
// second apart inside one step is the same time, across a step boundary it is not.
TEST(WorldChanges, TimesOneSecondApartMatchOnlyInsideOneTwoSecondStep) {
    const struct {
        std::time_t a, b;
        bool copies;
    } rows[] = {
        {1700000000, 1700000001, false},                                 // one step
        {1700000001, 1700000000, false}, {1700000001, 1700000002, true}, // a step boundary between them
        {1700000000, 1699999999, true},  {1700000000, 1700000002, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.a) + " / " + std::to_string(row.b));
        TempTree tree("A/f.txt = same size\nB/f.txt = same size\n");
        tree.setModifiedTime("A/f.txt", row.a).setModifiedTime("B/f.txt", row.b);
        for (const int mode : {0, 2}) { // backup, copy missing: both match by size, name and time
            const SyncRun planned = syncOnce(mode, tree.path("A/"), tree.path("B/"), timedSettings(), false);
            EXPECT_EQ(!planned.plan.actions.empty(), row.copies) << "mode " << mode;
        }
    }
}

// The mass-deletion guard refuses more than its bound, never the bound itself.
TEST(WorldChanges, TheDeletionGuardRefusesOnlyBeyondItsBound) {
    const struct {
        std::size_t filesInB, deletions;
        const char* bound;
        bool refused;
    } rows[] = {
        {100, 50, "50%", false}, {100, 51, "50%", true}, {10, 10, "10", false},
        {20, 11, "10", true},    {9, 9, "50%", false},   {10, 6, "50%", true},
        {100, 0, "0", false},    {100, 1, "0", true},    {100, 100, "none", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.deletions) + " of " + std::to_string(row.filesInB) + " at " +
                     row.bound);
        ActionList plan;
        for (std::size_t i = 0; i < row.deletions; ++i)
            plan.push_back(deleteItem("/b/f" + std::to_string(i)));
        const auto refusal = massDeletionRefusal(plan, GuardSide{"/a/", 0}, GuardSide{"/b/", row.filesInB},
                                                 *parseDeletionBound(row.bound));
        EXPECT_EQ(refusal.has_value(), row.refused);
    }
}

// The same bound on a run of real folders: refused before any line runs, or run whole.
TEST(WorldChanges, ARunAtItsDeletionBoundRunsAndOneBeyondIsRefusedWhole) {
    for (const int extra : {0, 1}) {
        TempTree tree("A/\nB/\n");
        for (int i = 0; i < 10 + extra; ++i)
            tree.file("B/f" + std::to_string(i), "x");
        ScriptedRun host;
        RunRequest request;
        request.locationA = tree.path("A/");
        request.locationB = tree.path("B/");
        request.settings = timedSettings();
        request.deletionBound = parseDeletionBound("10");
        host.console.settingsValue = request.settings;
        RunSession run(std::move(request));
        const bool planned = run.prepare(host);
        EXPECT_EQ(planned, extra == 0);
        if (planned)
            EXPECT_EQ(host.execute(run).good, 10);
        else
            EXPECT_EQ(run.refusal()->reason,
                      "the plan deletes 11 of 11 files in " + tree.path("B/") + " (more than 10)");
        EXPECT_EQ(tree.exists("B/f0"), extra == 1);
    }
}

// A call that fails fails its line with the system's reason and nothing else; the run goes on.
TEST(WorldChanges, ALocationThatFailsACallFailsThatLineAlone) {
    TempTree tree("A/a.txt = a\nA/b.txt = b\nB/\n");
    ScriptedRun host;
    RunSession run = host.session(PlanKind::Backup, tree.path("A/"), tree.path("B/"));
    ASSERT_TRUE(run.prepare(host));
    host.locations.at(tree.path("B/"))->fail(LocationCall::PlaceCopy, ENOSPC, "/a.txt");
    const ExecutionCounts counts = host.execute(run);
    EXPECT_EQ(counts.good, 1);
    EXPECT_EQ(counts.bad, 1);
    EXPECT_EQ(host.reasonAfter("Failed Copy-File to " + tree.path("B/a.txt")),
              "Reason: No space left on device (ENOSPC)");
    EXPECT_FALSE(tree.exists("B/a.txt"));
    EXPECT_EQ(tree.read("B/b.txt"), "b");
}

#include "planning_fixture.h"

#include "memory_planner_host.h"

namespace paritas::testing {
namespace {

using Lines = std::vector<std::string>;

TEST(BackupPlanner, TheWorkedExampleGivesItsFiveLinesInOrder) {
    TempTree t;
    t.file("work/a.txt", 100);
    t.file("work/Docs/r.doc", 200);
    t.file("work/Pics/p.jpg", 300);
    t.file("backup/a.txt", 100);
    t.file("backup/Docs/r.doc", 250);
    t.file("backup/Old/p.jpg", 300);
    t.file("backup/Old/z.tmp", 5);
    const std::string A = t.location("work"), B = t.location("backup");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    EXPECT_EQ(lineTexts(plan.actions),
              (Lines{"CreateDir " + t.root() + "/backup/Pics", "Copy " + A + "Docs/r.doc*" + B + "Docs/r.doc",
                     "Move-Rename " + B + "Old/p.jpg*" + B + "Pics/p.jpg", "DeleteFile " + B + "Old/z.tmp",
                     "RemoveDir " + t.root() + "/backup/Old"}));
    EXPECT_EQ(plan.countText, "Actions: 5");
    EXPECT_FALSE(plan.refused);
    EXPECT_EQ(host.logLines, (Lines{"Generating CreateDir list ...", "Generating move/copy list ...",
                                    "Generating DeleteFile list ...", "Generating Delete Folders list ..."}));
    // a.txt, r.doc (to be overwritten) and p.jpg (moved) are accounted for; z.tmp is not.
    EXPECT_EQ(plan.marksB, (MatchMarks{1, 1, 1, 0}));
}

TEST(BackupPlanner, IdenticalTreesNeedNoLines) {
    TempTree t;
    for (const char* side : {"a", "b"}) {
        t.file(std::string(side) + "/x.txt", 3);
        t.file(std::string(side) + "/d/y.txt", 4);
        t.file(std::string(side) + "/d/e/z.txt", 5);
        t.folder(std::string(side) + "/empty");
    }
    TwoScans scans(t.location("a"), t.location("b"));
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    EXPECT_TRUE(plan.actions.empty());
    EXPECT_EQ(plan.countText, "Actions: 0");
}

TEST(BackupPlanner, ARenamedFolderCostsMovesNotCopies) {
    TempTree t;
    t.file("a/new/one.txt", 1);
    t.file("a/new/two.txt", 2);
    t.file("b/old/one.txt", 1);
    t.file("b/old/two.txt", 2);
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    EXPECT_EQ(lineTexts(plan.actions),
              (Lines{"CreateDir " + B + "new", "Move-Rename " + B + "old/one.txt*" + B + "new/one.txt",
                     "Move-Rename " + B + "old/two.txt*" + B + "new/two.txt", "RemoveDir " + B + "old"}));
}

TEST(BackupPlanner, NestedSurplusFoldersAreRemovedDeepestFirst) {
    TempTree t;
    t.folder("a");
    t.folder("b/old/x/y");
    t.folder("b/other");
    const std::string B = t.location("b");
    TwoScans scans(t.location("a"), B);
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    EXPECT_EQ(lineTexts(plan.actions), (Lines{"RemoveDir " + B + "old/x/y", "RemoveDir " + B + "old/x",
                                              "RemoveDir " + B + "other", "RemoveDir " + B + "old"}));
}

TEST(BackupPlanner, AChangedFileIsCopiedOverItsOldVersionWhichIsNotDeleted) {
    TempTree t;
    t.file("a/r.txt", 10);
    t.file("b/r.txt", 20);
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    EXPECT_EQ(lineTexts(AMasterB(scans.input, host).actions), (Lines{"Copy " + A + "r.txt*" + B + "r.txt"}));
}

TEST(BackupPlanner, AFileThatAPlannedMoveTakesAwayIsStillCopiedOver) {
    // B's only copy moves to dir1; dir2 then needs a copy even though, while planning, the file that is
    // about to leave still stands at dir2's target with the right size and name.
    TempTree t;
    t.file("a/dir1/f.txt", 100);
    t.file("a/dir2/f.txt", 100);
    t.file("b/dir2/f.txt", 100);
    t.folder("b/dir1");
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    EXPECT_EQ(lineTexts(AMasterB(scans.input, host).actions),
              (Lines{"Move-Rename " + B + "dir2/f.txt*" + B + "dir1/f.txt",
                     "Copy " + A + "dir2/f.txt*" + B + "dir2/f.txt"}));
}

TEST(BackupPlanner, AMissingLocationAIsRefusedAndNothingIsPlanned) {
    TempTree t;
    t.file("b/precious.txt", 7);
    const std::string A = t.location("unplugged");
    TwoScans scans(A, t.location("b"));
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    EXPECT_TRUE(plan.refused);
    EXPECT_TRUE(plan.actions.empty());
    EXPECT_EQ(plan.refusal,
              "Location A " + A + " does not exist. Backup refused: it would delete everything in B.");
    EXPECT_EQ(plan.countText, "Actions: 0");
    ASSERT_EQ(host.logLines.size(), 1u);
    EXPECT_EQ(host.logLines[0], "Planning refused: " + plan.refusal);
}

TEST(BackupPlanner, AnEmptyButPresentLocationAEmptiesB) {
    TempTree t;
    t.folder("a");
    t.file("b/sub/x.txt", 1);
    const std::string B = t.location("b");
    TwoScans scans(t.location("a"), B);
    PlanRecordingHost host;
    EXPECT_EQ(lineTexts(AMasterB(scans.input, host).actions),
              (Lines{"DeleteFile " + B + "sub/x.txt", "RemoveDir " + B + "sub"}));
}

TEST(BackupPlanner, AMissingLocationBGetsCreatedAndEverythingCopied) {
    TempTree t;
    t.file("a/x.txt", 1);
    t.file("a/d/y.txt", 2);
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    EXPECT_EQ(lineTexts(AMasterB(scans.input, host).actions),
              (Lines{"CreateDir " + t.root() + "/b", "CreateDir " + B + "d",
                     "Copy " + A + "x.txt*" + B + "x.txt", "Copy " + A + "d/y.txt*" + B + "d/y.txt"}));
}

} // namespace
} // namespace paritas::testing

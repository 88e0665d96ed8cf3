#include "planning_fixture.h"

#include "memory_planner_host.h"

#include "core/planning/plan_support.h"

namespace paritas::testing {
namespace {

using Lines = std::vector<std::string>;

// 2026-12-01 09:00:00 and 2026-12-08 10:15:30 UTC (tests run with TZ=UTC).
constexpr std::time_t kDecemberFirst = 1796115600;
constexpr std::time_t kDecemberEighth = 1796724930;

class LocaleC : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};

using FolderSynchPlanner = LocaleC;

TEST_F(FolderSynchPlanner, TheWorkedExampleKeepsTheNewerFileAndTheOlderUnderItsDatedName) {
    TempTree t;
    t.file("work/Docs/report.txt", 5, kDecemberEighth);
    t.file("backup/Docs/report.txt", 4, kDecemberFirst);
    const std::string A = t.location("work"), B = t.location("backup");
    Settings settings;
    settings.CheckNewer = true;
    settings.CheckKeepOld = true;
    TwoScans scans(A, B, settings);
    PlanRecordingHost host;
    const PlanResult plan = FolderSynch(scans.input, host);
    EXPECT_EQ(
        lineTexts(plan.actions),
        (Lines{"Move-Rename " + B + "Docs/report.txt*" + B + "Docs/report12_01_26 09_00_00.txt",
               "Copy " + B + "Docs/report12_01_26 09_00_00.txt*" + A + "Docs/report12_01_26 09_00_00.txt",
               "Copy " + A + "Docs/report.txt*" + B + "Docs/report.txt"}));
    EXPECT_EQ(plan.countText, "3");
    EXPECT_EQ(host.logLines, (Lines{"Generating CreateDir list for B...",
                                    "Generating CreateDir list for A...", "Generating move/copy list ..."}));
    EXPECT_TRUE(plan.marksA.at(0));
    EXPECT_TRUE(plan.marksB.at(0));

    TwoScans again(A, B, Settings{}); // CheckNewer ticked, CheckKeepOld not
    EXPECT_EQ(lineTexts(FolderSynch(again.input, host).actions),
              (Lines{"Copy " + A + "Docs/report.txt*" + B + "Docs/report.txt"}));
}

TEST_F(FolderSynchPlanner, OlderWinsWhenNewerIsNotTickedAndEqualTimesGiveNothing) {
    TempTree t;
    t.file("a/old.txt", 1, kDecemberFirst);
    t.file("b/old.txt", 2, kDecemberEighth);
    t.file("a/same.txt", 1, kDecemberFirst);
    t.file("b/same.txt", 9, kDecemberFirst);
    const std::string A = t.location("a"), B = t.location("b");
    Settings settings;
    settings.CheckNewer = false;
    TwoScans scans(A, B, settings);
    PlanRecordingHost host;
    EXPECT_EQ(lineTexts(FolderSynch(scans.input, host).actions),
              (Lines{"Copy " + A + "old.txt*" + B + "old.txt"}));
}

TEST_F(FolderSynchPlanner, FilesOnOneSideAndCaseTwinsAreCopiedAcrossAfterTheirFolders) {
    TempTree t;
    t.file("a/only/x.txt", 1);
    t.file("a/Report.txt", 1);
    t.file("b/report.txt", 1);
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    const PlanResult plan = FolderSynch(scans.input, host);
    EXPECT_EQ(lineTexts(plan.actions),
              (Lines{"CreateDir " + B + "only", "Copy " + A + "Report.txt*" + B + "Report.txt",
                     "Copy " + A + "only/x.txt*" + B + "only/x.txt",
                     "Copy " + B + "report.txt*" + A + "report.txt"}));
    EXPECT_EQ(plan.countText, "4");
}

TEST_F(FolderSynchPlanner, AnUnpairedCopyNeverReplacesAFileTheScanDidNotList) {
    TempTree t;
    t.file("a/x.txt", 1, kDecemberFirst);
    t.folder("b");
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    t.file("b/x.txt", 2); // appears after the scan (or is a letter-case twin on a case-insensitive disk)
    PlanRecordingHost host;
    EXPECT_EQ(lineTexts(FolderSynch(scans.input, host).actions),
              (Lines{"Copy " + A + "x.txt*" + B + "x12_01_26 09_00_00.txt"}));
}

TEST_F(FolderSynchPlanner, FolderSynchIgnoresTheCriteriaAndStillRunsWithNoneTicked) {
    TempTree t;
    t.file("a/x.txt", 1);
    t.folder("b");
    Settings none;
    none.CheckSize = none.CheckName = none.CheckTimeStamp = false;
    TwoScans scans(t.location("a"), t.location("b"), none);
    PlanRecordingHost host;
    const PlanResult plan = FolderSynch(scans.input, host);
    EXPECT_FALSE(plan.refused);
    EXPECT_EQ(plan.actions.size(), 1u);
}

using CopyMissingPlanner = LocaleC;

TEST_F(CopyMissingPlanner, AFileWhosePlaceIsTakenIsCopiedUnderItsDatedCopyNameBesideIt) {
    TempTree t;
    t.file("a/Docs/report.txt", 10, kDecemberEighth);
    t.file("b/Docs/report.txt", 20);
    t.file("a/Docs/a.b", 10, kDecemberEighth);
    t.file("b/Docs/a.b", 30);
    t.file("a/moved.txt", 7);
    t.file("b/elsewhere/moved.txt", 7);
    t.file("a/new/n.txt", 8);
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    const PlanResult plan = CopyMissing(scans.input, host);
    EXPECT_EQ(lineTexts(plan.actions),
              (Lines{"CreateDir " + B + "new", "Copy " + A + "Docs/a.b*" + B + "Docs/a.b12_08_26 10_15_30a.b",
                     "Copy " + A + "Docs/report.txt*" + B + "Docs/report.txt12_08_26 10_15_30.txt",
                     "Copy " + A + "new/n.txt*" + B + "new/n.txt"}));
    EXPECT_EQ(plan.countText, "4");
    EXPECT_EQ(host.logLines, (Lines{"Generating CreateDir list ...", "Generating move/copy list ..."}));
}

TEST(DatedNames, DatesStayInsideTheFileNameAndHoldNoSeparatorOrColon) {
    const std::string date = nameSafeDateText("12/09/26 10:15:30");
    EXPECT_EQ(date, "12_09_26 10_15_30");
    EXPECT_EQ(datedName("/b/Docs/report.txt", "D"), "/b/Docs/reportD.txt");
    EXPECT_EQ(datedName("/b/Docs/report.md", "D"), "/b/Docs/reporDt.md");
    EXPECT_EQ(datedName("/b/Docs/abcd", "D"), "/b/Docs/Dabcd");
    EXPECT_EQ(datedName("/b/Docs/a.b", "D"), "/b/Docs/aD.b");
    EXPECT_EQ(datedName("/b/Docs/ab", "D"), "/b/Docs/abD");
    EXPECT_EQ(datedName("/b/Docs/.b", "D"), "/b/Docs/.bD");
    EXPECT_EQ(datedName("a.b", "D"), "aD.b");
    EXPECT_EQ(datedCopyName("/b/", "Docs/report.txt", "D"), "/b/Docs/report.txtD.txt");
    EXPECT_EQ(datedCopyName("/b/", "Docs/a.b", "D"), "/b/Docs/a.bDa.b");
    EXPECT_EQ(datedCopyName("/b/", "x", "D"), "/b/xDx");
}

TEST(DuplicatePlanners, ThreePairsCountSixInBAndActionsSixWithinA) {
    TempTree t;
    t.file("a/one/f.txt", 5);
    t.file("a/three/f.txt", 5);
    t.file("a/g.txt", 6);
    t.file("b/x/g.txt", 6);
    t.file("b/f.txt", 5);
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    const PlanResult inB = Duplicatedel(scans.input, host);
    EXPECT_EQ(lineTexts(inB.actions),
              (Lines{"Original    " + A + "g.txt", "DeleteFile " + B + "x/g.txt",
                     "Original    " + A + "one/f.txt", "DeleteFile " + B + "f.txt",
                     "Original    " + A + "three/f.txt", "DeleteFile " + B + "f.txt"}));
    EXPECT_EQ(inB.countText, "6");

    t.file("a/four/f.txt", 5);
    t.file("a/two/f.txt", 5);
    TwoScans rescanned(A, B);
    PlanRecordingHost hostA;
    const PlanResult withinA = DuplicatesWithinA(rescanned.input, hostA);
    EXPECT_EQ(lineTexts(withinA.actions),
              (Lines{"Original   *" + A + "four/f.txt", "DeleteFile " + A + "one/f.txt",
                     "Original   *" + A + "four/f.txt", "DeleteFile " + A + "three/f.txt",
                     "Original   *" + A + "four/f.txt", "DeleteFile " + A + "two/f.txt"}));
    EXPECT_EQ(withinA.countText, "Actions: 6");
    EXPECT_EQ(hostA.logLines, (Lines{"Finding duplicates in A ..."}));
    EXPECT_EQ(withinA.marksA, MatchMarks(rescanned.a.inventory.fileCount(), 1));
}

TEST(DuplicatePlanners, APairNamingOneFileTwiceIsLeftOut) {
    // Inventories that list the same file on both sides, as a location inside the other would.
    FolderList folders{"/a/"};
    Inventory a, b;
    a.addFile("/a/", "f.txt", 5, 1);
    b.addFile("/a/", "f.txt", 5, 1);
    b.addFile("/a/", "g.txt", 5, 1);
    PlanInput input{"/a/", "/b/", &folders, &folders, &a, &b, Settings{}, false};
    input.settings.CheckName = false;
    MemoryPlannerHost host;
    EXPECT_EQ(lineTexts(Duplicatedel(input, host).actions),
              (Lines{"Original    /a/f.txt", "DeleteFile /a/g.txt"}));
}

TEST(PlanRefusals, NoTickedCriterionRefusesEveryPlannerThatUsesThem) {
    TempTree t;
    t.file("a/x.txt", 1);
    t.file("b/y.txt", 1);
    Settings none;
    none.CheckSize = none.CheckName = none.CheckTimeStamp = false;
    const std::string expected =
        "No same-file criterion is ticked, so every file would count as the same file. "
        "Tick at least one same-file criterion (size, file name or time stamp) in the settings.";
    for (auto planner : {AMasterB, CopyMissing, Duplicatedel, DuplicatesWithinA}) {
        TwoScans scans(t.location("a"), t.location("b"), none);
        PlanRecordingHost host;
        const PlanResult plan = planner(scans.input, host);
        EXPECT_TRUE(plan.refused);
        EXPECT_TRUE(plan.actions.empty());
        EXPECT_EQ(plan.refusal, expected);
        EXPECT_TRUE(plan.marksB.empty());
    }
}

TEST(PlanRefusals, OverlappingLocationsAreRefusedButNeighboursWithACommonPrefixAreNot) {
    TempTree t;
    t.file("a/b/x.txt", 1);
    t.file("a/bc/y.txt", 1);
    const std::string A = t.location("a");
    struct Case {
        std::string a, b;
        bool subfolders;
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {A, A, true,
         "Location A and location B are the same folder (" + A + "). Choose two separate folders."},
        {A, A + "b/", true,
         "Location B (" + A + "b/) lies inside location A (" + A +
             ") and subfolders are included. Choose locations that do not overlap."},
        {A + "b/", A, true,
         "Location A (" + A + "b/) lies inside location B (" + A +
             ") and subfolders are included. Choose locations that do not overlap."},
        {A + "b/", A + "bc/", true, ""},
        {A, A + "b/", false, ""},
    };
    for (const Case& c : cases) {
        for (auto planner : {AMasterB, FolderSynch, CopyMissing, Duplicatedel}) {
            TwoScans scans(c.a, c.b, Settings{}, c.subfolders);
            PlanRecordingHost host;
            const PlanResult plan = planner(scans.input, host);
            EXPECT_EQ(plan.refused, !c.refusal.empty()) << c.a << " " << c.b;
            EXPECT_EQ(plan.refusal, c.refusal);
            if (plan.refused) {
                EXPECT_TRUE(plan.actions.empty());
            }
        }
    }
}

TEST(PlanRefusals, ALocationReachedThroughALinkStillCountsAsTheSameFolder) {
    TempTree t;
    t.file("a/x.txt", 1);
    std::filesystem::create_directory_symlink(t.root() + "/a", t.root() + "/link");
    TwoScans scans(t.location("a"), t.location("link"));
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    EXPECT_TRUE(plan.refused);
    EXPECT_NE(plan.refusal.find("the same folder"), std::string::npos);
}

TEST(PlanRefusals, ALocationThatIsNoAbsoluteFolderPathIsRefused) {
    FolderList folders{""};
    Inventory a, b;
    PlanInput input{"", "/b/", &folders, &folders, &a, &b, Settings{}, true};
    MemoryPlannerHost host;
    const PlanResult plan = CopyMissing(input, host);
    EXPECT_TRUE(plan.refused);
    EXPECT_EQ(plan.refusal, "Location A \"\" is not an absolute folder path. Choose location A first.");
    // Within A does not use location B and still plans on the empty inventory.
    EXPECT_FALSE(DuplicatesWithinA(input, host).refused);
}

} // namespace
} // namespace paritas::testing

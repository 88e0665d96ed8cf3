// scan, crc and dedupe end to end, failed actions (exit 1), locations given in every spelling, and the
// progress line, which appears only on a terminal.

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include "core/checksum/crc_display.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace paritas::test {
namespace {

using Lines = std::vector<std::string>;

// Redirected output holds plain lines only: no carriage return, no escape sequence.
bool holdsTerminalNoise(const std::string& text) {
    return text.find('\r') != std::string::npos || text.find('\033') != std::string::npos;
}

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// 2020-01-02 03:04:06 UTC as a packed DOS date/time: date word (40 << 9 | 1 << 5 | 2), time word
// (3 << 11 | 4 << 5 | 6 / 2), and the C locale's date-time text of that moment.
constexpr const char* kPacked = "1344411779";
constexpr const char* kModified = "01/02/20 03:04:06";

std::string row(const TempTree& tree, const std::string& relative, const std::string& size) {
    const std::string name = relative.substr(relative.rfind('/') + 1);
    return tree.path(relative) + "\t" + size + "\t" + kPacked + "\t" + name + "\t" + kModified;
}

class CliScan : public ::testing::Test {
protected:
    TempTree tree{"A/b.txt = bb @2020-01-02 03:04:06\n"
                  "A/a.txt = hello @2020-01-02 03:04:06\n"
                  "A/.hidden = h @2020-01-02 03:04:06\n"
                  "A/Z.txt = z @2020-01-02 03:04:06\n"
                  "A/sub/c.txt = ccc @2020-01-02 03:04:06\n"
                  "A/sub/deeper/d.txt = dddd @2020-01-02 03:04:06\n"};
    const Lines topRows{row(tree, "A/.hidden", "1"), row(tree, "A/Z.txt", "1"), row(tree, "A/a.txt", "5"),
                        row(tree, "A/b.txt", "2")};
};

TEST_F(CliScan, PrintsOneTabSeparatedLinePerRowInRowOrder) {
    const CliResult r = runCli({"scan", tree.path("A")});
    EXPECT_EQ(r.status, 0);
    Lines expected = topRows;
    expected.push_back(row(tree, "A/sub/c.txt", "3"));
    expected.push_back(row(tree, "A/sub/deeper/d.txt", "4"));
    EXPECT_EQ(r.outLines(), expected);
    // The scan's log goes to stderr, as plain lines.
    EXPECT_TRUE(contains(r.errLines(), "Scanning folder " + tree.path("A/sub/deeper/")));
    EXPECT_FALSE(holdsTerminalNoise(r.err));

    const CliResult flat = runCli({"scan", "--no-subfolders", tree.path("A")});
    EXPECT_EQ(flat.status, 0);
    EXPECT_EQ(flat.outLines(), topRows);
}

TEST_F(CliScan, RelativeLocationsAndTrailingSeparatorsNameTheSameFolder) {
    const CliResult absolute = runCli({"scan", tree.path("A")});
    ASSERT_EQ(absolute.status, 0);
    for (const char* spelling : {"A", "A/", "A//", "./A", "A/./", "A/sub/..", "A/sub/deeper/../../"}) {
        SCOPED_TRACE(spelling);
        const CliResult r = runCli({"scan", spelling}, inFolder(tree.root()));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, absolute.out);
    }
    // After "--" a location may start with a dash.
    tree.file("-dash/e.txt", "e");
    const CliResult dashed = runCli({"scan", "--", "-dash"}, inFolder(tree.root()));
    EXPECT_EQ(dashed.status, 0);
    EXPECT_EQ(dashed.out.substr(0, dashed.out.find('\t')), tree.path("-dash/e.txt"));
    EXPECT_EQ(runCli({"scan", "-dash"}, inFolder(tree.root())).status, 2);

    const CliResult fromInside = runCli({"scan", "--no-subfolders", "."}, inFolder(tree.path("A")));
    EXPECT_EQ(fromInside.outLines(), topRows);
    const CliResult withSeparator = runCli({"scan", "--no-subfolders", tree.path("A") + "/"});
    EXPECT_EQ(withSeparator.outLines(), topRows);
}

TEST_F(CliScan, ClimbingOutOfALinkedFolderFollowsTheFileSystem) {
    // "link/.." is the folder holding the link's target (A), not the folder holding the link.
    tree.link("elsewhere/link", "../A/sub");
    const CliResult r = runCli({"scan", "--no-subfolders", tree.path("elsewhere/link/..")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.outLines(), topRows);
}

TEST_F(CliScan, FileTimesAndTextsFollowTheTimeZone) {
    // 03:04:06 UTC is 12:04:06 nine hours east: time word 12 << 11 | 4 << 5 | 3.
    const CliResult r = runCli({"scan", "--no-subfolders", tree.path("A")}, withEnvironment("TZ", "JST-9"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.outLines().at(2), tree.path("A/a.txt") + "\t5\t1344430211\ta.txt\t01/02/20 12:04:06");
}

TEST_F(CliScan, AMissingLocationIsReportedAndListsNothing) {
    const CliResult r = runCli({"scan", tree.path("none")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.errLines(), "Folder " + tree.path("none/") + " does not exist!")) << r.err;
}

TEST(CliCrc, PrintsTheGridAndTheCountAndFailsOnABadMatch) {
    // Fixed times: files written a moment apart could fall into two two-second steps and not pair.
    TempTree tree("A/diff.txt = aaaa @2024-05-01 10:00:00\nA/only.txt = xyz @2024-05-01 10:00:00\n"
                  "A/same.txt = abc @2024-05-01 10:00:00\nB/diff.txt = bbbb @2024-05-01 10:00:00\n"
                  "B/sub/same.txt = abc @2024-05-01 10:00:00\nB/other.txt = q @2024-05-01 10:00:00\n");
    const std::string abc = "5A963463"; // the display text of "abc" (CRC-32 352441C2)
    const CliResult r = runCli({"crc", tree.path("A"), tree.path("B/")});
    EXPECT_EQ(r.status, 1);
    const Lines expected = {
        "Different!!!\t" + fileCrcDisplayText(tree.path("A/diff.txt")) + "\t" +
            fileCrcDisplayText(tree.path("B/diff.txt")) + "\t" + tree.path("A/diff.txt") + "\t" +
            tree.path("B/diff.txt"),
        "NoFileMatch\t" + fileCrcDisplayText(tree.path("A/only.txt")) + "\t\t" + tree.path("A/only.txt") +
            "\t",
        "OK!\t" + abc + "\t" + abc + "\t" + tree.path("A/same.txt") + "\t" + tree.path("B/sub/same.txt"),
        "1 Bad CRC Match(es) Found",
    };
    EXPECT_EQ(r.outLines(), expected);
    EXPECT_NE(fileCrcDisplayText(tree.path("A/diff.txt")), fileCrcDisplayText(tree.path("B/diff.txt")));
    EXPECT_TRUE(contains(r.errLines(), "Scanning folder " + tree.path("B/sub/")));
    EXPECT_FALSE(holdsTerminalNoise(r.err));

    // Without subfolders B/sub/same.txt is not seen; with the mended copy nothing is bad.
    tree.file("B/diff.txt", "aaaa");
    tree.setModifiedTime("B/diff.txt", utcTime(2024, 5, 1, 10));
    const CliResult flat = runCli({"crc", "--no-subfolders", tree.path("A"), tree.path("B")});
    EXPECT_EQ(flat.status, 0);
    const Lines flatLines = flat.outLines();
    ASSERT_EQ(flatLines.size(), 4u) << flat.out;
    EXPECT_EQ(flatLines[0].substr(0, 4), "OK!\t");
    EXPECT_EQ(flatLines[2], "NoFileMatch\t" + abc + "\t\t" + tree.path("A/same.txt") + "\t");
    EXPECT_EQ(flatLines[3], "0 Bad CRC Match(es) Found");
}

TEST(CliCrc, CriteriaChooseThePartner) {
    TempTree tree("A/a.txt = abc\nB/first.txt = abc\nB/a.txt = abcd\n");
    const CliResult bySize = runCli({"crc", "--criteria", "size", tree.path("A"), tree.path("B")});
    EXPECT_EQ(bySize.status, 0);
    EXPECT_EQ(bySize.outLines().at(0),
              "OK!\t5A963463\t5A963463\t" + tree.path("A/a.txt") + "\t" + tree.path("B/first.txt"));
    const CliResult byName = runCli({"crc", "--criteria=name", tree.path("A"), tree.path("B")});
    EXPECT_EQ(byName.status, 1);
    EXPECT_EQ(byName.outLines().at(0).substr(0, 13), "Different!!!\t");
    EXPECT_NE(byName.outLines().at(0).find("\t" + tree.path("B/a.txt")), std::string::npos);
}

TEST(CliDedupe, DryRunPrintsThePairsAndTheRunDeletesTheDuplicatesOnly) {
    TempTree tree("A/x.txt = 1234 @2020-01-02 03:04:06\nA/sub/x.txt = 1234 @2020-01-02 03:04:06\nA/sub/y.txt "
                  "= 1234 @2020-01-02 03:04:06\nA/z.txt = other @2020-01-02 03:04:06\n");
    const TreeSnapshot before = tree.snapshot();
    const CliResult dry = runCli({"dedupe", "--dry-run", tree.path("A")});
    EXPECT_EQ(dry.status, 0);
    EXPECT_EQ(dry.outLines(),
              (Lines{"Original   *" + tree.path("A/x.txt"), "DeleteFile " + tree.path("A/sub/x.txt")}));
    EXPECT_TRUE(contains(dry.errLines(), "Finding duplicates in A ..."));
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");

    const CliResult run = runCli({"dedupe", tree.path("A")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const Lines log = run.outLines();
    EXPECT_TRUE(contains(log, "Success DeleteFile " + tree.path("A/sub/x.txt"))) << run.out;
    EXPECT_TRUE(contains(log, "Finding duplicates in A ..."));
    // A is walked once: unlike the window, the command line does not scan again after the run.
    EXPECT_EQ(std::count(log.begin(), log.end(), "Scanning folder " + tree.path("A/sub/")), 1);
    EXPECT_FALSE(tree.exists("A/sub/x.txt"));
    for (const char* kept : {"A/x.txt", "A/sub/y.txt", "A/z.txt"})
        EXPECT_TRUE(tree.exists(kept)) << kept;
}

TEST(CliDedupe, CriteriaAndSubfoldersWidenOrNarrowTheGroups) {
    TempTree tree("A/x.txt = 1234 @2020-01-02 03:04:06\nA/y.txt = 1234 @2020-01-02 03:04:06\nA/sub/x.txt = "
                  "1234 @2020-01-02 03:04:06\n");
    const CliResult bySize = runCli({"dedupe", "--dry-run", "--criteria", "size", tree.path("A")});
    EXPECT_EQ(bySize.outLines(),
              (Lines{"Original   *" + tree.path("A/x.txt"), "DeleteFile " + tree.path("A/y.txt"),
                     "Original   *" + tree.path("A/x.txt"), "DeleteFile " + tree.path("A/sub/x.txt")}));
    const CliResult flat = runCli({"dedupe", "--dry-run", "--no-subfolders", tree.path("A")});
    EXPECT_EQ(flat.status, 0);
    EXPECT_EQ(flat.out, "");
}

TEST(CliFailures, ADuplicateThatIsNotByteForByteTheSameFailsAndStays) {
    // Same name and size, so the plan pairs them; the executor's byte check refuses the delete.
    TempTree tree("A/x.txt = aaaa @2020-01-02 03:04:06\nA/sub/x.txt = bbbb @2020-01-02 03:04:06\n");
    const TreeSnapshot before = tree.snapshot();
    const CliResult r = runCli({"dedupe", tree.path("A")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.outLines(), "Failed DeleteFile " + tree.path("A/sub/x.txt"))) << r.out;
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
}

TEST(CliFailures, AFileWhereThePlanNeedsAFolderFailsTheSyncWithoutLosingAnything) {
    TempTree tree("A/sub/f.txt = from A\nB/sub = a file named like A's folder\n");
    const CliResult missing = runCli({"sync", "copy-missing", tree.path("A"), tree.path("B")});
    EXPECT_EQ(missing.status, 1);
    const Lines log = missing.outLines();
    EXPECT_TRUE(contains(log, "Failed CreateDir " + tree.path("B/sub"))) << missing.out;
    EXPECT_TRUE(contains(log, "Failed Copy-File to " + tree.path("B/sub/f.txt")));
    EXPECT_EQ(missing.err, "");

    // Folder synch would also copy B's file onto A's folder: that fails, and A's folder keeps its file.
    const CliResult synch = runCli({"sync", "synch", tree.path("A"), tree.path("B")});
    EXPECT_EQ(synch.status, 1);
    EXPECT_EQ(tree.read("A/sub/f.txt"), "from A");
    EXPECT_EQ(tree.read("B/sub"), "a file named like A's folder");

    // Backup converges in one run: B's stray file goes before the folder is made, then the copy lands.
    const CliResult backup = runCli({"sync", "backup", tree.path("A"), tree.path("B")});
    EXPECT_EQ(backup.status, 0) << backup.out;
    EXPECT_TRUE(contains(backup.outLines(), "Success DeleteFile " + tree.path("B/sub"))) << backup.out;
    EXPECT_EQ(tree.read("B/sub/f.txt"), "from A");
    EXPECT_EQ(tree.read("A/sub/f.txt"), "from A");
}

TEST(CliProgress, NoProgressNoiseWhenStderrIsNotATerminal) {
    TempTree tree("A/a.txt = one\nA/sub/b.txt = two\nB/old.txt = old\n");
    const CliResult plan = runCli({"plan", "backup", tree.path("A"), tree.path("B")});
    EXPECT_EQ(plan.status, 0);
    EXPECT_FALSE(holdsTerminalNoise(plan.err));
    EXPECT_FALSE(holdsTerminalNoise(plan.out));
    const CliResult sync = runCli({"sync", "backup", tree.path("A"), tree.path("B")});
    EXPECT_EQ(sync.status, 0);
    EXPECT_EQ(sync.err, ""); // the log is on stdout and nothing else is said
    EXPECT_FALSE(holdsTerminalNoise(sync.out));
}

TEST(CliProgress, AProgressLineIsDrawnOnATerminalAndKeptOutOfStdout) {
    TempTree tree("A/a.txt = one\nA/sub/b.txt = two\nB/old.txt = old\n");
    const CliResult sync = runCli({"sync", "backup", tree.path("A"), tree.path("B")}, withStderrTerminal());
    EXPECT_EQ(sync.status, 0);
    for (const char* shown : {"\r\033[KScanning A: ", "\r\033[KScanning B: ", "\r\033[KActions: "})
        EXPECT_NE(sync.err.find(shown), std::string::npos) << shown;
    EXPECT_NE(sync.err.find(" of 4 actions, 0 MB copied"), std::string::npos) << sync.err;
    // The line is wiped at the end, and stdout holds the plain log.
    EXPECT_EQ(sync.err.substr(sync.err.size() - 4), "\r\033[K");
    EXPECT_FALSE(holdsTerminalNoise(sync.out));
    EXPECT_TRUE(contains(sync.outLines(), "Success DeleteFile " + tree.path("B/old.txt")));
}

TEST(CliOutput, OutputThatCannotBeWrittenIsReportedAndASyncStillRunsToItsEnd) {
    // Enough folders that the log fills the output buffer while A is still being scanned.
    TempTree tree;
    for (int i = 0; i < 120; ++i)
        tree.file("A/folder-with-a-longish-name-" + std::to_string(i) + "/f.txt", std::to_string(i));
    tree.file("B/stray.txt", "stray");

    const CliResult plan =
        runCli({"plan", "backup", tree.path("A"), tree.path("B")}, withStdoutTo(StdoutTo::FullDevice));
    EXPECT_EQ(plan.status, 4);
    EXPECT_NE(plan.err.find("paritas-cli: the output could not be written"), std::string::npos) << plan.err;
    EXPECT_TRUE(tree.exists("B/stray.txt"));

    // A log reader that went away does not stop a sync between two actions.
    const CliResult sync =
        runCli({"sync", "backup", tree.path("A"), tree.path("B")}, withStdoutTo(StdoutTo::ClosedPipe));
    EXPECT_EQ(sync.status, 4);
    EXPECT_NE(sync.err.find("paritas-cli: the output could not be written"), std::string::npos) << sync.err;
    EXPECT_FALSE(tree.exists("B/stray.txt"));
    EXPECT_EQ(tree.read("B/folder-with-a-longish-name-119/f.txt"), "119");
}

} // namespace
} // namespace paritas::test

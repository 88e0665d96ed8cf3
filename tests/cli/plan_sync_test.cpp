// For every mode, what `plan` prints is what `sync` then does: sync's log holds the same scan and
// planner lines, then one Success line per action line in the plan's order and nothing after them,
// and the disk afterwards is the disk before with the plan's lines applied.

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <set>

namespace paritas::test {
namespace {

using Lines = std::vector<std::string>;

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string destinationOf(const std::string& line) {
    return line.substr(line.find('*') + 1);
}

// The executor's log line for a planned line that succeeds; an original line does nothing.
std::optional<std::string> successLine(const std::string& line) {
    if (startsWith(line, "CreateDir "))
        return "Success CreateDir " + line.substr(10);
    if (startsWith(line, "Move-Rename "))
        return "Success Move-Rename to " + destinationOf(line);
    if (startsWith(line, "Copy "))
        return "Success Copy-File to " + destinationOf(line);
    if (startsWith(line, "DeleteFile "))
        return "Success DeleteFile " + line.substr(11);
    if (startsWith(line, "RemoveDir "))
        return "Success Delete Dir if empty Command " + line.substr(10);
    EXPECT_TRUE(startsWith(line, "Original")) << "not an action line: " << line;
    return std::nullopt;
}

std::set<std::string> kindsOf(const Lines& plan) {
    std::set<std::string> kinds;
    for (const std::string& line : plan)
        kinds.insert(line.substr(0, line.find(' ')));
    return kinds;
}

// The snapshot that the plan's lines make of `before` when each of them succeeds.
TreeSnapshot applied(TreeSnapshot tree, const Lines& plan, const std::string& root) {
    auto relative = [&](std::string path) {
        EXPECT_TRUE(startsWith(path, root)) << path;
        return path.substr(root.size());
    };
    auto folderKey = [&](std::string path) {
        while (path.back() == '/')
            path.pop_back();
        return relative(path) + "/";
    };
    NodeState folder;
    folder.type = NodeState::Type::Folder;
    for (const std::string& line : plan) {
        const std::size_t star = line.find('*');
        if (startsWith(line, "CreateDir ")) {
            tree[folderKey(line.substr(10))] = folder;
        } else if (startsWith(line, "Copy ")) {
            tree[relative(destinationOf(line))] = tree.at(relative(line.substr(5, star - 5)));
        } else if (startsWith(line, "Move-Rename ")) {
            const std::string source = relative(line.substr(12, star - 12));
            tree[relative(destinationOf(line))] = tree.at(source);
            tree.erase(source);
        } else if (startsWith(line, "DeleteFile ")) {
            EXPECT_EQ(tree.erase(relative(line.substr(11))), 1u) << line;
        } else if (startsWith(line, "RemoveDir ")) {
            EXPECT_EQ(tree.erase(folderKey(line.substr(10))), 1u) << line;
        }
    }
    return tree;
}

// The entries below `side` ("A/" or "B/"), keyed relative to it.
TreeSnapshot sideOf(const TreeSnapshot& tree, const std::string& side) {
    TreeSnapshot out;
    for (const auto& [path, state] : tree)
        if (startsWith(path, side) && path != side)
            out[path.substr(side.size())] = state;
    return out;
}

// Log lines with the date-time text in front replaced, so that two runs a second apart compare.
Lines withoutTimes(const Lines& lines) {
    static const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)");
    Lines out;
    for (const std::string& line : lines)
        out.push_back(std::regex_replace(line, stamp, "<time>"));
    return out;
}

// Folders made by a run get the umask's bits; compare types, sizes, contents and file times.
SnapshotOptions compareOptions() {
    SnapshotOptions options;
    options.modes = false;
    return options;
}
const SnapshotOptions kCompare = compareOptions();

// Runs plan, then sync with the same arguments on the same tree, and checks that they agree.
// Returns the plan's lines.
Lines expectSyncFollowsPlan(TempTree& tree, const Lines& modeAndOptions) {
    Lines args = {"plan"};
    args.insert(args.end(), modeAndOptions.begin(), modeAndOptions.end());
    args.push_back(tree.path("A"));
    args.push_back(tree.path("B"));
    const TreeSnapshot before = tree.snapshot(kCompare);

    const CliResult plan = runCli(args);
    EXPECT_EQ(plan.status, 0) << plan.err;
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot(kCompare)), "") << "plan changed the disk";
    const Lines planned = plan.outLines();

    args[0] = "sync";
    const CliResult sync = runCli(args);
    EXPECT_EQ(sync.status, 0);
    EXPECT_EQ(sync.err, "");
    const Lines log = sync.outLines();
    const auto started = std::find_if(
        log.begin(), log.end(), [](const std::string& l) { return startsWith(l, "Actions Started at "); });
    const auto finished = std::find_if(
        log.begin(), log.end(), [](const std::string& l) { return startsWith(l, "Actions Finished at "); });
    if (started == log.end() || finished == log.end() || finished < started) {
        ADD_FAILURE() << "no run in the log:\n" << sync.out;
        return planned;
    }
    // Scans and planning: the very lines plan wrote to stderr.
    EXPECT_EQ(withoutTimes(Lines(log.begin(), started)), withoutTimes(plan.errLines()));
    // The run: one Success line per action line, in the plan's order.
    Lines expected;
    for (const std::string& line : planned)
        if (auto success = successLine(line))
            expected.push_back(*success);
    EXPECT_EQ(Lines(started + 1, finished), expected);
    // The run ends there: the command line does not walk both trees again afterwards.
    EXPECT_EQ(Lines(finished + 1, log.end()), Lines{});
    EXPECT_EQ(snapshotDifferences(applied(before, planned, tree.root()), tree.snapshot(kCompare)), "");
    return planned;
}

Lines planOf(const TempTree& tree, const Lines& modeAndOptions) {
    Lines args = {"plan"};
    args.insert(args.end(), modeAndOptions.begin(), modeAndOptions.end());
    args.push_back(tree.path("A"));
    args.push_back(tree.path("B"));
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 0);
    return r.outLines();
}

TEST(CliPlanThenSync, BackupMovesCopiesDeletesAndLeavesBAMirrorOfA) {
    TempTree tree("A/keep.txt = same @2020-01-01 10:00:00\n"
                  "A/moved.txt = moved content @2020-01-01 10:00:00\n"
                  "A/new/n.txt = new @2020-01-01 10:00:00\n"
                  "A/changed.txt = v2 @2021-01-01 10:00:00\n"
                  "B/keep.txt = same @2020-01-01 10:00:00\n"
                  "B/old/moved.txt = moved content @2020-01-01 10:00:00\n"
                  "B/changed.txt = version one @2020-01-01 10:00:00\n"
                  "B/extra.txt = extra\n"
                  "B/gone/g.txt = gone\n");
    const TreeSnapshot a = sideOf(tree.snapshot(kCompare), "A/");
    const Lines plan = expectSyncFollowsPlan(tree, {"backup"});
    EXPECT_EQ(kindsOf(plan),
              (std::set<std::string>{"CreateDir", "Move-Rename", "Copy", "DeleteFile", "RemoveDir"}))
        << ::testing::PrintToString(plan);
    EXPECT_NE(std::find(plan.begin(), plan.end(),
                        "Move-Rename " + tree.path("B/old/moved.txt") + "*" + tree.path("B/moved.txt")),
              plan.end());
    EXPECT_EQ(snapshotDifferences(a, sideOf(tree.snapshot(kCompare), "A/")), "") << "A changed";
    EXPECT_EQ(snapshotDifferences(a, sideOf(tree.snapshot(kCompare), "B/")), "") << "B is not A's mirror";
    EXPECT_EQ(planOf(tree, {"0"}), Lines{}) << "a second backup has nothing to do";
}

TEST(CliPlanThenSync, BackupIntoAFolderThatDoesNotExistYetCreatesIt) {
    TempTree tree("A/a.txt = a\nA/sub/b.txt = b\n");
    const Lines plan = expectSyncFollowsPlan(tree, {"backup"});
    ASSERT_FALSE(plan.empty());
    EXPECT_EQ(plan.front(), "CreateDir " + tree.path("B"));
    EXPECT_EQ(tree.read("B/sub/b.txt"), "b");
}

TEST(CliPlanThenSync, FolderSynchGivesBothSidesTheUnionAndTheNewerFile) {
    TempTree tree("A/onlyA.txt = a\nA/both.txt = newer in A @2021-06-01 12:00:00\nA/sub/deepA.txt = da\n"
                  "B/onlyB.txt = b\nB/both.txt = older @2020-06-01 12:00:00\nB/bsub/deepB.txt = db\n");
    const Lines plan = expectSyncFollowsPlan(tree, {"synch"});
    EXPECT_EQ(kindsOf(plan), (std::set<std::string>{"CreateDir", "Copy"}));
    EXPECT_EQ(tree.read("B/both.txt"), "newer in A");
    EXPECT_EQ(
        snapshotDifferences(sideOf(tree.snapshot(kCompare), "A/"), sideOf(tree.snapshot(kCompare), "B/")),
        "");
    EXPECT_EQ(planOf(tree, {"1"}), Lines{});
}

TEST(CliPlanThenSync, FolderSynchKeepingTheOlderAndTheOtherFile) {
    TempTree tree("A/both.txt = newer in A @2021-06-01 12:00:00\nA/onlyA.txt = a\n"
                  "B/both.txt = older @2020-06-01 12:00:00\n");
    const Lines plan = expectSyncFollowsPlan(tree, {"synch", "--keep-older", "--keep-other"});
    EXPECT_EQ(tree.read("A/both.txt"), "older");
    EXPECT_EQ(tree.read("B/both.txt"), "older");
    // The newer file is kept under its dated name beside A's both.txt.
    const TreeSnapshot sideA = sideOf(tree.snapshot(kCompare), "A/");
    EXPECT_EQ(sideA.size(), 3u) << ::testing::PrintToString(plan);
    const bool datedKept = std::any_of(sideA.begin(), sideA.end(), [&](const auto& entry) {
        return entry.first != "both.txt" && startsWith(entry.first, "both") &&
               entry.first.find(':') == std::string::npos && tree.read("A/" + entry.first) == "newer in A";
    });
    EXPECT_TRUE(datedKept) << ::testing::PrintToString(plan);
}

TEST(CliPlanThenSync, CopyMissingCopiesWhatBLacksAndNeverReplacesBsFile) {
    TempTree tree("A/a.txt = a-new\nA/taken.txt = from A, longer\nA/same.txt = same\nA/sub/s.txt = s\n"
                  "B/taken.txt = B's\nB/same.txt = same\n");
    const Lines plan = expectSyncFollowsPlan(tree, {"copy-missing"});
    EXPECT_EQ(kindsOf(plan), (std::set<std::string>{"CreateDir", "Copy"}));
    EXPECT_EQ(
        std::count_if(plan.begin(), plan.end(),
                      [&](const std::string& l) { return destinationOf(l) == tree.path("B/taken.txt"); }),
        0)
        << "B's taken.txt would be replaced";
    EXPECT_EQ(tree.read("B/taken.txt"), "B's");
    EXPECT_EQ(tree.read("B/sub/s.txt"), "s");
    EXPECT_EQ(planOf(tree, {"copy-missing"}), planOf(tree, {"2"}));
}

TEST(CliPlanThenSync, DeleteDuplicatesRemovesBsCopiesOfAsFilesOnly) {
    TempTree tree("A/a.txt = dup1\nA/sub/b.txt = dup2\nA/c.txt = A only\n"
                  "B/x/a.txt = dup1\nB/b.txt = dup2\nB/c.txt = B's unique file\n");
    const TreeSnapshot a = sideOf(tree.snapshot(kCompare), "A/");
    const Lines plan = expectSyncFollowsPlan(tree, {"3"});
    EXPECT_EQ(kindsOf(plan), (std::set<std::string>{"Original", "DeleteFile"}));
    EXPECT_FALSE(tree.exists("B/x/a.txt"));
    EXPECT_FALSE(tree.exists("B/b.txt"));
    EXPECT_EQ(tree.read("B/c.txt"), "B's unique file");
    EXPECT_EQ(snapshotDifferences(a, sideOf(tree.snapshot(kCompare), "A/")), "");
    EXPECT_EQ(planOf(tree, {"delete-duplicates"}), Lines{});
}

TEST(CliPlanThenSync, OptionsReachThePlannerInSync) {
    // Without subfolders the folder below A is neither copied nor entered; with time as a criterion a
    // same-named file of another time is no duplicate.
    TempTree tree("A/top.txt = t @2020-01-01 00:00:00\nA/new.txt = n\nA/sub/deep.txt = d\n"
                  "B/top.txt = t @2021-01-01 00:00:00\n");
    const Lines flat =
        expectSyncFollowsPlan(tree, {"delete-duplicates", "--no-subfolders", "--criteria", "size,name,time"});
    EXPECT_EQ(flat, Lines{});
    EXPECT_TRUE(tree.exists("B/top.txt"));
    // The time is a criterion by default: B's top.txt of another time is replaced.
    const Lines copied = expectSyncFollowsPlan(tree, {"backup", "--no-subfolders"});
    EXPECT_EQ(copied, (Lines{"Copy " + tree.path("A/new.txt") + "*" + tree.path("B/new.txt"),
                             "Copy " + tree.path("A/top.txt") + "*" + tree.path("B/top.txt")}));
    EXPECT_FALSE(tree.exists("B/sub"));
}

} // namespace
} // namespace paritas::test

// The command line's contract with scripts: help and version, usage errors (exit 2) and runs refused
// by a safety rule (exit 3), each with its message on stderr and nothing changed on disk.

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace paritas::test {
namespace {

constexpr const char* kHint = "Try 'paritas-cli --help' for the usage.";

TEST(CliHelp, HelpAndVersionGoToStdoutAndSucceed) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                                 {"-h"},
                                                 {"sync", "backup", "--help"},
                                                 {"crc", "-h", "x", "y"}}) {
        SCOPED_TRACE(args.front() + " " + args.back());
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        for (const char* synopsis :
             {"paritas-cli scan  [--no-subfolders] LOCATION", "paritas-cli plan  MODE [OPTIONS] A B",
              "paritas-cli sync  MODE [OPTIONS] A B",
              "paritas-cli dedupe [--no-subfolders] [--criteria LIST] [--dry-run] [--trash | --versions DIR] "
              "A",
              "paritas-cli crc   [--no-subfolders] [--criteria LIST] A B",
              "paritas-cli jobs  [--log FILE] [--dry-run] [--max-delete BOUND] [--wait]",
              "[--trash | --delete | --versions DIR] [--versions-keep DAYS] [--verify] JOBLIST.jbl",
              "paritas-cli --help | --version"})
            EXPECT_NE(r.out.find(synopsis), std::string::npos) << synopsis;
    }
    const CliResult version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("paritas-cli ") + PARITAS_VERSION + "\n");
    EXPECT_EQ(version.err, "");
}

TEST(CliUsage, ArgumentErrorsExitWithTwoAndAHintAndChangeNothing) {
    TempTree tree("A/a.txt = one\nB/b.txt = two\nB/sub/c.txt = three\nplain.txt = file\n");
    const std::string a = tree.path("A");
    const std::string b = tree.path("B");
    const TreeSnapshot before = tree.snapshot();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, "no command given"},
        {{"mirror", a, b}, "unknown command \"mirror\""},
        {{"--version", "extra"}, "unknown command \"--version\""},
        {{"sync"}, "sync needs a MODE"},
        {{"sync", "mirror", a, b}, "unknown mode \"mirror\""},
        {{"sync", "4", a, b}, "unknown mode \"4\""},
        {{"sync", "Backup", a, b}, "unknown mode \"Backup\""},
        {{"plan", "backup", a}, "plan needs locations A and B, got 1"},
        {{"plan", "backup"}, "plan needs locations A and B, got 0"},
        {{"sync", "backup", a, b, tree.path("C")}, "sync needs locations A and B, got 3"},
        {{"scan"}, "scan needs one location, got 0"},
        {{"scan", a, b}, "scan needs one location, got 2"},
        {{"dedupe", a, b}, "dedupe needs one location, got 2"},
        {{"crc", a}, "crc needs locations A and B, got 1"},
        {{"sync", "backup", a, b, "--criteria"}, "--criteria needs a list"},
        {{"sync", "backup", "--criteria", "size,colour", a, b}, "unknown criterion \"colour\""},
        {{"sync", "backup", "--criteria=Size", a, b}, "unknown criterion \"Size\""},
        {{"sync", "backup", "--dry-run", a, b}, "unknown option \"--dry-run\" for sync"},
        {{"sync", "backup", "--subfolders", a, b}, "unknown option \"--subfolders\" for sync"},
        {{"dedupe", "--keep-older", a}, "unknown option \"--keep-older\" for dedupe"},
        {{"crc", "--keep-other", a, b}, "unknown option \"--keep-other\" for crc"},
        {{"scan", "--criteria", "size", a}, "unknown option \"--criteria\" for scan"},
        {{"sync", "backup", tree.path("plain.txt"), b}, "is a file, not a folder"},
        {{"sync", "synch", a, tree.path("B/b.txt")}, "is a file, not a folder"},
        {{"dedupe", tree.path("plain.txt")}, "is a file, not a folder"},
        {{"scan", ""}, "a location must not be empty"},
        {{"sync", "backup", a, ""}, "a location must not be empty"},
        {{"sync", "backup", a, tree.path("B*")}, "holds a \"*\" or a control character"},
        {{"scan", tree.path("A*")}, "holds a \"*\" or a control character"},
        {{"sync", "synch", tree.path("A\nB"), b}, "holds a \"*\" or a control character"},
        {{"crc", a, tree.path("B\t")}, "holds a \"*\" or a control character"},
        {{"jobs"}, "jobs needs one job-list file, got 0"},
        {{"jobs", "a.jbl", "b.jbl"}, "jobs needs one job-list file, got 2"},
        {{"jobs", "--log"}, "--log needs a file name"},
        {{"jobs", "--no-subfolders", "a.jbl"}, "unknown option \"--no-subfolders\" for jobs"},
        {{"plan", "backup", "--format", "xml", a, b}, "unknown format \"xml\""},
        {{"plan", "backup", "--max-delete", "5", a, b}, "unknown option \"--max-delete\" for plan"},
        {{"sync", "backup", "--max-delete", "half", a, b}, "--max-delete takes a number of files"},
        {{"sync", "backup", "--max-delete=101%", a, b}, "--max-delete takes a number of files"},
        {{"sync", "backup", "--wait=yes", a, b}, "--wait takes no value"},
        {{"crc", "--wait", a, b}, "unknown option \"--wait\" for crc"},
        {{"sync", "backup", "--trash", "--versions", tree.path("V"), a, b}, "--trash and --versions"},
        {{"jobs", "--versions-keep", "7", "--trash", "a.jbl"}, "--trash and --versions"},
        {{"jobs", "--delete", "--trash", "a.jbl"}, "--delete excludes --trash"},
        {{"sync", "backup", "--versions", tree.path("B/old"), a, b}, "lies inside location " + b + "/"},
        {{"sync", "backup", "--versions", tree.path("plain.txt"), a, b}, "is a file, not a folder"},
        {{"sync", "backup", "--versions-keep", "0", a, b}, "--versions-keep takes a number of days"},
        {{"plan", "backup", "--trash", a, b}, "unknown option \"--trash\" for plan"},
        {{"dedupe", "--verify", a}, "unknown option \"--verify\" for dedupe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const CliResult r = runCli(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        const std::vector<std::string> lines = r.errLines();
        ASSERT_EQ(lines.size(), 2u) << r.err;
        EXPECT_EQ(lines[0].rfind("paritas-cli: ", 0), 0u);
        EXPECT_EQ(lines[1], kHint);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
}

// The lines of the planner's refusal: on stderr, after the scans' log lines, whatever the command.
void expectRefused(const CliResult& r, const std::string& reason) {
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err.find("paritas-cli: refused: "), r.err.rfind('\n', r.err.size() - 2) + 1) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Actions Started at"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Success"), std::string::npos) << r.out;
}

TEST(CliRefusals, BackupWithMissingAIsRefusedAndBKeepsEverything) {
    TempTree tree("B/keep.txt = precious\nB/sub/deep.txt = also precious\n");
    const TreeSnapshot before = tree.snapshot();
    const std::string missing = tree.path("A");
    const std::string reason = "Location A " + missing + "/ does not exist. Backup refused";
    for (const char* command : {"plan", "sync"}) {
        SCOPED_TRACE(command);
        const CliResult r = runCli({command, "backup", missing, tree.path("B")});
        expectRefused(r, reason);
        if (std::string(command) == "plan") {
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_NE(r.out.find("Folder " + missing + "/ does not exist!"), std::string::npos);
        }
    }
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
}

TEST(CliRefusals, AnEmptyCriteriaListIsRefusedAsNoCriterionInEveryCommand) {
    TempTree tree("A/a.txt = same\nA/sub/a.txt = same\nB/a.txt = same\nB/b.txt = other\n");
    const TreeSnapshot before = tree.snapshot();
    const std::string a = tree.path("A");
    const std::string b = tree.path("B");
    const std::string reason = "No same-file criterion is ticked";
    const std::vector<std::vector<std::string>> runs = {
        {"plan", "backup", "--criteria", "", a, b},
        {"sync", "backup", "--criteria=", a, b},
        {"sync", "copy-missing", "--criteria", ",", a, b},
        {"sync", "copy-missing", "--criteria", "", a, b},
        {"sync", "delete-duplicates", "--criteria", "", a, b},
        {"dedupe", "--criteria", "", a},
        {"dedupe", "--dry-run", "--criteria", "", a},
        {"crc", "--criteria", "", a, b},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        const CliResult r = runCli(args);
        expectRefused(r, reason);
        if (args[0] != "sync" && args[0] != "dedupe") {
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
    // Folder synch pairs files by their place, not by the criteria: it plans without any.
    const CliResult synch = runCli({"plan", "synch", "--criteria", "", a, b});
    EXPECT_EQ(synch.status, 0);
    EXPECT_NE(synch.out.find("Copy " + b + "/b.txt*" + a + "/b.txt"), std::string::npos) << synch.out;
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
}

TEST(CliRefusals, OverlappingLocationsAreRefusedByTextAndThroughLinks) {
    TempTree tree("A/a.txt = one\nA/inner/b.txt = two\nB/c.txt = three\n");
    tree.link("toInner", "A/inner");
    const TreeSnapshot before = tree.snapshot();
    const std::string a = tree.path("A");
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{"sync", "backup", a, a + "/"}, "Location A and location B are the same folder"},
        {{"sync", "synch", a, tree.path("A/inner")}, "Location B (" + a + "/inner/) lies inside location A"},
        {{"plan", "copy-missing", tree.path("A/inner"), a},
         "Location A (" + a + "/inner/) lies inside location B"},
        {{"sync", "backup", a, tree.path("toInner")}, "lies inside location A"},
        {{"sync", "delete-duplicates", tree.path("toInner"), tree.path("A/inner")}, "the same folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        expectRefused(runCli(c.args), c.reason);
    }
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
    // Without subfolders a folder inside the other does not overlap: only its own files are looked at.
    EXPECT_EQ(runCli({"plan", "backup", "--no-subfolders", a, tree.path("A/inner")}).status, 0);
}

} // namespace
} // namespace paritas::test

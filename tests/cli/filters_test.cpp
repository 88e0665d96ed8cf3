// Leaving things out from the command line, end to end: --exclude, --include, --exclude-from and the
// locations' .paritasignore in sync, plan, scan and jobs; --delete-excluded; and rules that cannot be
// read, which stop every command before anything runs (exit status 2).

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace paritas::test {
namespace {

using Lines = std::vector<std::string>;

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

long countOf(const Lines& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

// Runs in the tree's root, with settings and locks of its own (never the user's).
CliRun isolated(TempTree& tree) {
    tree.folder("run");
    CliRun how = inFolder(tree.root());
    how.environment = {{"XDG_CONFIG_HOME", tree.path("xdg")}, {"XDG_RUNTIME_DIR", tree.path("run")}};
    return how;
}

// A project folder: sources to keep, a build folder of which one file is kept, dependencies and
// object files to leave out; B holds left-out things of its own.
constexpr const char* kProject = R"(
    A/.paritasignore = # dependencies\nnode_modules/\n
    A/src/main.c = code
    A/src/main.o = object
    A/build/keep.txt = keep
    A/build/app = binary
    A/node_modules/lib/index.js = js
    B/src/main.o = object of B
    B/node_modules/other.js = other
    B/old.txt = old
)";

const std::vector<std::string> kRules = {"--exclude", "*.o",       "--exclude",
                                         "build/*",   "--include", "build/keep.txt"};

std::vector<std::string> args(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

} // namespace

TEST(CliFilters, ABackupLeavesOutWhatTheOptionsAndAsIgnoreFileSayOnBothSides) {
    TempTree tree(kProject);
    const CliResult r = runCli(args(args({"sync", "backup"}, kRules), {"A", "B"}), isolated(tree));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(tree.read("B/src/main.c"), "code");
    EXPECT_EQ(tree.read("B/build/keep.txt"), "keep") << "the last matching rule decides";
    EXPECT_FALSE(tree.exists("B/build/app"));
    EXPECT_FALSE(tree.exists("B/node_modules/lib"));
    EXPECT_EQ(tree.read("B/src/main.o"), "object of B") << "a left-out file of B is not overwritten";
    EXPECT_EQ(tree.read("B/node_modules/other.js"), "other") << "nor deleted";
    EXPECT_FALSE(tree.exists("B/old.txt"));
    EXPECT_EQ(tree.read("B/.paritasignore"), "# dependencies\nnode_modules/\n");
    const Lines out = r.outLines();
    EXPECT_EQ(countOf(out, "Left out by filters: 2 files in 1 folders"), 1) << r.out;
    EXPECT_EQ(countOf(out, "Left out by filters: 1 files in 1 folders"), 1) << r.out;
}

TEST(CliFilters, DeleteExcludedRemovesExactlyWhatIsLeftOutOfBAndCountsForTheGuard) {
    TempTree tree(kProject);
    const std::vector<std::string> rules = args(kRules, {"--delete-excluded"});
    const CliResult plan = runCli(args(args({"plan", "backup"}, rules), {"A", "B"}), isolated(tree));
    EXPECT_EQ(plan.status, 0) << plan.err;
    Lines deletions;
    for (const std::string& line : plan.outLines())
        if (line.rfind("DeleteFile ", 0) == 0 || line.rfind("RemoveDir ", 0) == 0)
            deletions.push_back(line);
    std::sort(deletions.begin(), deletions.end());
    EXPECT_EQ(
        deletions,
        (Lines{"DeleteFile " + tree.path("B/node_modules/other.js"), "DeleteFile " + tree.path("B/old.txt"),
               "DeleteFile " + tree.path("B/src/main.o"), "RemoveDir " + tree.path("B/node_modules")}));

    const CliResult guarded =
        runCli(args(args({"sync", "backup", "--max-delete", "2"}, rules), {"A", "B"}), isolated(tree));
    EXPECT_EQ(guarded.status, 3) << guarded.err;
    EXPECT_TRUE(mentions(guarded.err, "the plan deletes 3 of 3 files")) << guarded.err;
    EXPECT_TRUE(tree.exists("B/src/main.o"));

    const CliResult r =
        runCli(args(args({"sync", "backup", "--max-delete", "none"}, rules), {"A", "B"}), isolated(tree));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(tree.exists("B/src/main.o"));
    EXPECT_FALSE(tree.exists("B/node_modules"));
    EXPECT_FALSE(tree.exists("B/old.txt"));
    EXPECT_EQ(tree.read("B/build/keep.txt"), "keep");
    EXPECT_EQ(tree.read("A/src/main.o"), "object");

    const CliResult synch = runCli({"plan", "synch", "--delete-excluded", "A", "B"}, isolated(tree));
    EXPECT_EQ(synch.status, 2);
    EXPECT_TRUE(mentions(synch.err, "--delete-excluded works only with the backup mode")) << synch.err;
}

TEST(CliFilters, ScanAndJobsLeaveOutTooAndJobsTakeTheWindowsLines) {
    TempTree tree(kProject);
    const CliResult scan = runCli({"scan", "--exclude", "*.o", "A"}, isolated(tree));
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.outLines().size(), 4u) << scan.out; // .paritasignore, main.c, keep.txt, app

    // The window's "Leave out" lines, as it saves them beside config.ini; then the command line's.
    tree.file("xdg/paritas/unattended.ini", "leave-out = *.o\nleave-out = build/\n");
    tree.file("jobs.jbl", tree.path("A") + "/*A*0*B*" + tree.path("B") + "/*C*Yes\r\n");
    const CliResult jobs = runCli({"jobs", "--include", "build/keep.txt", "jobs.jbl"}, isolated(tree));
    EXPECT_EQ(jobs.status, 0) << jobs.out << jobs.err;
    EXPECT_EQ(tree.read("B/src/main.o"), "object of B");
    EXPECT_FALSE(tree.exists("B/build")) << "a left-out folder: nothing below it is taken back";
    EXPECT_EQ(tree.read("B/src/main.c"), "code");
}

TEST(CliFilters, RulesThatCannotBeReadStopEveryCommandBeforeAnythingRuns) {
    struct Row {
        const char* what;
        std::vector<std::string> args;
        const char* ignoreFile; // A/.paritasignore ("": none)
        std::string message;    // after "paritas-cli: " and the case's folder where it starts with "/"
    };
    const Row rows[] = {
        {"an option",
         {"sync", "backup", "--exclude", "a[b", "A", "B"},
         "",
         "--exclude: pattern \"a[b\" cannot be read: \"[b\" opens a set that \"]\" never closes"},
        {"A's ignore file",
         {"sync", "backup", "A", "B"},
         "ok\n\n[!x\n",
         "/A/.paritasignore:3: pattern \"[!x\" cannot be read: "},
        {"a file of patterns that is missing",
         {"plan", "copy-missing", "--exclude-from", "none.txt", "A", "B"},
         "",
         "none.txt: the file cannot be read: "},
        {"dedupe", {"dedupe", "A"}, "\\", "/A/.paritasignore:1: pattern \"\\\" cannot be read: "},
        {"scan", {"scan", "--include", "", "A"}, "", "--include: the pattern is empty"},
        {"crc",
         {"crc", "A", "B"},
         "[[:nope:]]",
         "/A/.paritasignore:1: pattern \"[[:nope:]]\" cannot be read: "},
        {"jobs", {"jobs", "jobs.jbl"}, "x[", "/A/.paritasignore:1: pattern \"x[\" cannot be read: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempTree tree("A/a.txt = a\nB/b.txt = b\n");
        if (*row.ignoreFile)
            tree.file("A/.paritasignore", row.ignoreFile);
        tree.file("jobs.jbl", tree.path("A") + "/*A*0*B*" + tree.path("B") + "/*C*Yes\r\n");
        const CliRun how = isolated(tree);
        const TreeSnapshot before = tree.snapshot();
        const CliResult r = runCli(row.args, how);
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        const std::string message =
            "paritas-cli: " + (row.message[0] == '/' ? tree.root() + row.message.substr(1) : row.message);
        EXPECT_EQ(r.err.substr(0, message.size()), message) << r.err;
        EXPECT_EQ(r.errLines().size(), 1u) << r.err;
        EXPECT_EQ(r.out, "") << "nothing ran";
        EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
    }
}

// The README's three examples of .paritasignore files leave out what their text says they do, and keep
// what lies beside it.
TEST(CliFilters, TheReadmesExamplesLeaveOutWhatTheySay) {
    std::ifstream readme(PARITAS_SOURCE_DIR "/README.md");
    std::stringstream text;
    text << readme.rdbuf();
    std::vector<std::string> examples; // the ignore files, in README order
    bool inSection = false;
    std::string* block = nullptr;
    for (const std::string& line : splitLines(text.str())) {
        if (line.rfind("## ", 0) == 0)
            inSection = line == "## Leaving things out";
        if (!inSection)
            continue;
        if (line.rfind("    # /", 0) == 0 && mentions(line, ".paritasignore")) {
            examples.emplace_back();
            block = &examples.back();
        } else if (block && line.rfind("    ", 0) == 0) {
            *block += line.substr(4) + "\n";
        } else {
            block = nullptr;
        }
    }
    ASSERT_EQ(examples.size(), 3u);
    struct Example {
        std::set<std::string> leftOut, kept;
    };
    const Example expected[] = {
        {{".cache/fontconfig/cache", ".local/share/Trash/files/old.txt", "VirtualBox VMs/win/win.vdi",
          "Downloads/debian.iso", "notes.tmp", "Documents/letter.txt~"},
         {"Documents/letter.txt", "Downloads/paper.pdf", ".local/share/keyrings/login.keyring",
          "Documents/old.iso"}},
        {{"web/node_modules/react/index.js", "rust/target/debug/app", "py/__pycache__/m.cpython.pyc",
          "py/.venv/bin/python", "c/main.o", "build/app", "py/x.pyc"},
         {"c/main.c", "build/README.md", "py/m.py", "web/index.html"}},
        {{"Catalog Previews.lrdata/root-pixels.db", "2024/@eaDir/IMG_1.JPG/SYNOFILE_THUMB_M.jpg",
          "2024/Thumbs.db", ".DS_Store", ".thumbnails/normal/a.png"},
         {"2024/IMG_1.JPG", "2024/IMG_1.xmp", "Catalog.lrcat"}},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(examples[i]);
        TempTree tree;
        tree.file("A/.paritasignore", examples[i]);
        for (const auto* paths : {&expected[i].leftOut, &expected[i].kept})
            for (const std::string& path : *paths)
                tree.file("A/" + path, "x");
        const CliResult r = runCli({"scan", "A"}, isolated(tree));
        ASSERT_EQ(r.status, 0) << r.err;
        std::set<std::string> listed;
        for (const std::string& line : r.outLines())
            listed.insert(line.substr(tree.path("A/").size(), line.find('\t') - tree.path("A/").size()));
        std::set<std::string> kept = expected[i].kept;
        kept.insert(".paritasignore");
        EXPECT_EQ(listed, kept);
    }
}

} // namespace paritas::test

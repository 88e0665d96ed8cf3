// Whole runs with filter rules, on real folders: what each mode does to what the rules leave out (on
// both sides), which folders the scans read, --delete-excluded, where the rules come from, and the
// refusal of rules that cannot be read before anything is locked or read.

#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "support/test_location.h"

#include "core/app/run.h"

#include <gtest/gtest.h>

#include <set>

using namespace paritas;
using namespace paritas::test;
using paritas::testing::LocationCall;
using paritas::testing::TestLocationsFor;

namespace {

class FilteredRun : public RunHost {
public:
    SyncRecordingHost console;
    TestLocationsFor locations;
    ScanHost& scanHost(Side) override { return console; }
    PlannerHost& plannerHost() override { return console; }
    std::unique_ptr<Location> openLocation(const std::string& text) override { return locations.open(text); }

    // The folders a side's location was asked to read so far, relative ("" the top), without repeats.
    std::set<std::string> foldersRead(const std::string& location) const {
        std::set<std::string> read;
        if (const auto* opened = locations.at(location))
            for (const auto& [call, path] : opened->calls())
                if (call == LocationCall::ReadFolder) {
                    std::string rel = path.substr(std::min(path.size(), location.size()));
                    while (!rel.empty() && rel.back() == '/')
                        rel.pop_back();
                    read.insert(rel);
                }
        return read;
    }
    ExecutionCounts execute(RunSession& run) {
        StopFlags flags;
        return run.execute(console, flags);
    }
};

RunRequest requestFor(PlanKind kind, const TempTree& tree, RunFilters filters = {},
                      std::vector<std::string> leaveOut = {}) {
    RunRequest request;
    request.kind = kind;
    request.locationA = tree.path("A") + "/";
    request.locationB = tree.path("B") + "/";
    request.settings = quietSettings();
    request.settings.leaveOut = std::move(leaveOut);
    request.filters = std::move(filters);
    return request;
}

// The files of a tree whose description the rows below share: what the rules leave out of A (an
// object file, a build product, a whole node_modules) and of B (the same kinds, some of them only in
// B, one in a folder that only B has).
constexpr const char* kTree = R"(
    A/notes.txt = n
    A/src/main.c = code
    A/src/main.o = object of A
    A/build/keep.txt = keep
    A/build/out.bin = product
    A/node_modules/pkg/index.js = js
    B/src/main.o = object of B
    B/node_modules/other/x.js = js of B
    B/node_modules/notes.txt = n
    B/stale/cache.o = cache
    B/stale/old.txt = old
    B/tmp.o = only in B
)";

// Box lines, then options: the last matching rule decides, so "build/*" then "!build/keep.txt" keeps
// that one file (a folder rule "build/" could take nothing back).
const std::vector<std::string> kLeaveOut = {"# caches and objects", "*.o", "node_modules/"};
RunFilters keepOneOfBuild() {
    RunFilters filters;
    filters.options = {{FilterOption::Kind::Exclude, "build/*"},
                       {FilterOption::Kind::Include, "build/keep.txt"}};
    return filters;
}

std::string relativeTo(const std::string& path, const std::string& location) {
    return path.rfind(location, 0) == 0 ? path.substr(location.size()) : std::string();
}

} // namespace

TEST(RunFilters, LeftOutEntriesAreNeitherReadNorChangedOnEitherSide) {
    struct Row {
        const char* what;
        PlanKind kind;
        std::set<std::string> readInB;
        // Paths (relative to the case's folder) and what they hold after the run ("-": absent).
        std::vector<std::pair<std::string, std::string>> after;
    };
    const std::vector<std::pair<std::string, std::string>> leftOutStay = {
        {"A/src/main.o", "object of A"},
        {"A/build/out.bin", "product"},
        {"A/node_modules/pkg/index.js", "js"},
        {"B/src/main.o", "object of B"},
        {"B/node_modules/other/x.js", "js of B"},
        {"B/node_modules/notes.txt", "n"},
        {"B/stale/cache.o", "cache"},
        {"B/tmp.o", "only in B"},
        {"B/build/out.bin", "-"},
        {"B/node_modules/pkg/index.js", "-"},
    };
    const Row rows[] = {
        {"backup",
         PlanKind::Backup,
         {"", "src", "stale"},
         {{"B/notes.txt", "n"},
          {"B/src/main.c", "code"},
          {"B/build/keep.txt", "keep"},
          {"B/stale/old.txt", "-"}}},
        {"folder synch",
         PlanKind::FolderSynch,
         {"", "src", "stale"},
         {{"B/notes.txt", "n"},
          {"B/src/main.c", "code"},
          {"B/build/keep.txt", "keep"},
          {"A/stale/old.txt", "old"},
          {"A/stale/cache.o", "-"},
          {"A/tmp.o", "-"},
          {"A/node_modules/notes.txt", "-"}}},
        {"copy missing",
         PlanKind::CopyMissing,
         {"", "src", "stale"},
         {{"B/notes.txt", "n"},
          {"B/src/main.c", "code"},
          {"B/build/keep.txt", "keep"},
          {"B/stale/old.txt", "old"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempTree tree(kTree);
        FilteredRun host;
        RunSession run(requestFor(row.kind, tree, keepOneOfBuild(), kLeaveOut));
        ASSERT_TRUE(run.prepare(host)) << run.refusal()->reason;
        const std::string a = tree.path("A") + "/", b = tree.path("B") + "/";
        // A left-out folder is never read: not node_modules on either side, nor anything in it.
        EXPECT_EQ(host.foldersRead(a), (std::set<std::string>{"", "src", "build"}));
        EXPECT_EQ(host.foldersRead(b), row.readInB);
        EXPECT_EQ(run.leftOut(Side::A).files, 2u);
        EXPECT_EQ(run.leftOut(Side::A).folders, 1u);
        EXPECT_EQ(run.leftOut(Side::B).files, 3u);
        EXPECT_EQ(run.leftOut(Side::B).folders, 1u);
        EXPECT_TRUE(hasLine(host.console.lines, "Left out by filters: 2 files in 1 folders"));
        EXPECT_TRUE(hasLine(host.console.lines, "Left out by filters: 3 files in 1 folders"));
        // No line names a left-out path, as its source or as its destination.
        for (const PlanItem& item : run.actions())
            for (const std::string& path : {item.path, item.destination}) {
                const std::string rel =
                    !relativeTo(path, a).empty() ? relativeTo(path, a) : relativeTo(path, b);
                EXPECT_FALSE(run.filterRules().leftOut(rel, item.kind == ActionKind::CreateFolder ||
                                                                item.kind == ActionKind::RemoveFolder))
                    << lineText(item);
            }
        const ExecutionCounts counts = host.execute(run);
        EXPECT_EQ(counts.bad, 0) << "a folder that keeps a left-out file is no failure";
        EXPECT_TRUE(run.complete());
        for (const auto& expected : {leftOutStay, row.after})
            for (const auto& [path, content] : expected)
                EXPECT_EQ(tree.exists(path) ? tree.read(path) : "-", content) << path;
    }
}

// --delete-excluded: B is seen whole, and what the rules leave out of it goes like anything A lacks;
// afterwards B is exactly A without what the rules leave out of A. A left-out file of B that matches a
// file of A is deleted, never moved into place.
TEST(RunFilters, DeletingWhatIsLeftOutRemovesExactlyThatFromBAndNeverMovesIt) {
    TempTree tree(kTree);
    RunFilters filters = keepOneOfBuild();
    filters.deleteLeftOutOfB = true;
    FilteredRun host;
    RunSession run(requestFor(PlanKind::Backup, tree, filters, kLeaveOut));
    ASSERT_TRUE(run.prepare(host)) << run.refusal()->reason;
    for (const PlanItem& item : run.actions())
        EXPECT_NE(item.kind, ActionKind::MoveRename) << lineText(item);
    EXPECT_EQ(host.foldersRead(tree.path("B") + "/"),
              (std::set<std::string>{"", "src", "stale", "node_modules", "node_modules/other"}));
    const ExecutionCounts counts = host.execute(run);
    EXPECT_EQ(counts.bad, 0);

    SnapshotOptions contentOnly;
    contentOnly.modes = false;
    TreeSnapshot expected = snapshotTree(tree.path("A"), contentOnly);
    for (const char* leftOut :
         {"src/main.o", "build/out.bin", "node_modules/", "node_modules/pkg/", "node_modules/pkg/index.js"})
        EXPECT_EQ(expected.erase(leftOut), 1u) << leftOut;
    EXPECT_EQ(snapshotDifferences(expected, snapshotTree(tree.path("B"), contentOnly)), "");
    EXPECT_EQ(tree.read("A/build/out.bin"), "product");
    EXPECT_EQ(tree.read("A/node_modules/pkg/index.js"), "js");
}

// The deletions of left-out files count for the mass-deletion guard like any others.
TEST(RunFilters, TheGuardCountsTheDeletionsOfLeftOutFiles) {
    for (const bool deleteLeftOut : {false, true}) {
        TempTree tree(kTree);
        RunFilters filters = keepOneOfBuild();
        filters.deleteLeftOutOfB = deleteLeftOut;
        RunRequest request = requestFor(PlanKind::Backup, tree, filters, kLeaveOut);
        request.deletionBound = DeletionBound{DeletionBound::Kind::Count, 1};
        FilteredRun host;
        RunSession run(std::move(request));
        EXPECT_EQ(run.prepare(host), !deleteLeftOut) << "only stale/old.txt is deleted without the option";
        if (deleteLeftOut) {
            EXPECT_EQ(run.refusal()->by, RunRefusal::By::Guard);
            EXPECT_NE(run.refusal()->reason.find("deletes 6 of 6 files"), std::string::npos)
                << run.refusal()->reason;
        }
    }
}

// A's ignore file counts for every mode; B's only for folder synch, where both sides are sources. A
// backup carries A's ignore file over B's, and B's rules do not keep B's files from its deletions.
TEST(RunFilters, TheIgnoreFilesOfAAndForFolderSynchOfBMakeOneRuleSet) {
    struct Row {
        PlanKind kind;
        const char* fromA;   // B/from-a.log after the run ("-": absent)
        const char* fromB;   // B/from-b.log
        const char* ignoreB; // B/.paritasignore
    };
    const std::string ownOfB = "*.log\n# B's own rules\n";
    const Row rows[] = {
        {PlanKind::Backup, "a log", "-", "*.tmp\n"},
        {PlanKind::FolderSynch, "-", "b log", ownOfB.c_str()},
        {PlanKind::CopyMissing, "a log", "b log", ownOfB.c_str()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.kind));
        TempTree tree;
        tree.file("A/.paritasignore", "*.tmp\n").file("A/from-a.log", "a log").file("A/x.tmp", "tmp");
        tree.file("B/.paritasignore", ownOfB).file("B/from-b.log", "b log");
        // Folder synch settles the two ignore files by their times: equal times leave both.
        tree.setModifiedTime("A/.paritasignore", utcTime(2026, 1, 1))
            .setModifiedTime("B/.paritasignore", utcTime(2026, 1, 1));
        FilteredRun host;
        RunSession run(requestFor(row.kind, tree));
        ASSERT_TRUE(run.prepare(host)) << run.refusal()->reason;
        EXPECT_EQ(host.execute(run).bad, 0);
        EXPECT_EQ(tree.exists("B/from-a.log") ? tree.read("B/from-a.log") : "-", std::string(row.fromA));
        EXPECT_EQ(tree.exists("B/from-b.log") ? tree.read("B/from-b.log") : "-", std::string(row.fromB));
        EXPECT_EQ(tree.read("B/.paritasignore"), std::string(row.ignoreB));
        EXPECT_FALSE(tree.exists("B/x.tmp"));
        EXPECT_FALSE(tree.exists("A/from-b.log"));
    }
}

// Rules that cannot be read stop the run before it opens, locks or reads a location, with a reason
// that names the file (or the box, or the option) and the line.
TEST(RunFilters, RulesThatCannotBeReadStopTheRunBeforeAnythingIsRead) {
    struct Row {
        const char* what;
        PlanKind kind;
        std::vector<std::string> leaveOut;
        std::vector<FilterOption> options;
        const char* tree;
        bool inTree; // the reason starts with the case's folder, then reasonStart
        std::string reasonStart;
    };
    const Row rows[] = {
        {"a box line",
         PlanKind::Backup,
         {"*.tmp", "a[b"},
         {},
         "",
         false,
         "Leave out:2: pattern \"a[b\" cannot be read: "},
        {"an option",
         PlanKind::Backup,
         {},
         {{FilterOption::Kind::Include, ""}},
         "",
         false,
         "--include: the pattern is empty"},
        {"a missing file of patterns",
         PlanKind::CopyMissing,
         {},
         {{FilterOption::Kind::ExcludeFrom, "/nowhere/x"}},
         "",
         false,
         "/nowhere/x: the file cannot be read: "},
        {"A's ignore file",
         PlanKind::Backup,
         {},
         {},
         "A/.paritasignore = # ok\\n*.o\\n[z-a\n",
         true,
         "A/.paritasignore:3: pattern \"[z-a\" cannot be read: "},
        {"A's ignore file is a folder",
         PlanKind::DuplicatesWithinA,
         {},
         {},
         "A/.paritasignore/\n",
         true,
         "A/.paritasignore: the ignore file is not a regular file"},
        {"B's ignore file in folder synch",
         PlanKind::FolderSynch,
         {},
         {},
         "B/.paritasignore = x[\n",
         true,
         "B/.paritasignore:1: pattern \"x[\" cannot be read: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempTree tree("A/a.txt = a\nB/\n");
        tree.write(row.tree);
        RunFilters filters;
        filters.options = row.options;
        FilteredRun host;
        RunSession run(requestFor(row.kind, tree, filters, row.leaveOut));
        EXPECT_FALSE(run.prepare(host));
        ASSERT_TRUE(run.refusal());
        EXPECT_EQ(run.refusal()->by, RunRefusal::By::Filters);
        const std::string start = row.inTree ? tree.root() + row.reasonStart : row.reasonStart;
        EXPECT_EQ(run.refusal()->reason.substr(0, start.size()), start) << run.refusal()->reason;
        EXPECT_EQ(host.locations.at(tree.path("A") + "/"), nullptr) << "no location was opened";
        EXPECT_TRUE(host.console.lines.empty());
    }
    // B's ignore file is an ordinary file of B for a backup: a bad one stops nothing.
    TempTree tree("A/a.txt = a\nB/.paritasignore = x[\n");
    FilteredRun host;
    RunSession run(requestFor(PlanKind::Backup, tree));
    EXPECT_TRUE(run.prepare(host));
}

// The window scans before a command plans: a scan with rules that cannot be read goes on without them
// and says so, and no plan is made on it.
TEST(RunFilters, AScanWithRulesThatCannotBeReadSaysSoAndNoPlanIsMadeOnIt) {
    TempTree tree("A/x.o = x\nB/\n");
    FilteredRun host;
    RunSession run(requestFor(PlanKind::Backup, tree, {}, {"*.o", "[a"}));
    run.scanBoth(host);
    EXPECT_EQ(run.scanned(Side::A).inventory.fileCount(), 1u);
    ASSERT_FALSE(host.console.lines.empty());
    EXPECT_EQ(host.console.lines.front().rfind("Filters not applied: Leave out:2: pattern \"[a\"", 0), 0u)
        << host.console.lines.front();
    EXPECT_FALSE(run.plan(host));
    EXPECT_EQ(run.refusal()->by, RunRefusal::By::Filters);
    EXPECT_TRUE(run.actions().empty());
}

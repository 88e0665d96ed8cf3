// Unattended runs end to end: job-list files run headless, the mass-deletion guard, one run per
// destination, the machine-readable plan, and the defaults a shell user expects.

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include "core/app/run_lock.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <regex>
#include <thread>
#include <unistd.h>

namespace paritas::test {
namespace {

using Lines = std::vector<std::string>;

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool holds(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Runs in the tree's root, with settings and locks of its own (never the user's).
CliRun isolated(TempTree& tree) {
    tree.folder("run");
    CliRun how = inFolder(tree.root());
    how.environment = {{"XDG_CONFIG_HOME", tree.path("xdg-config")}, {"XDG_RUNTIME_DIR", tree.path("run")}};
    return how;
}

// `count` files "f0.txt" ... in `folder`, the same in every folder (content and time).
void files(TempTree& tree, const std::string& folder, int count) {
    for (int i = 0; i < count; ++i) {
        const std::string name = folder + "/f" + std::to_string(i) + ".txt";
        tree.file(name, "content " + std::to_string(i));
        tree.setModifiedTime(name, 1600000000);
    }
}

std::string jobLine(const TempTree& tree, const std::string& a, int mode, const std::string& b) {
    return tree.path(a) + "/*A*" + std::to_string(mode) + "*B*" + tree.path(b) + "/*C*Yes";
}

TEST(CliJobs, AJobListRunsInOrderAndItsExitStatusTellsTheWorstJob) {
    TempTree tree("A1/a.txt = a\nA1/b.txt = b\nB1/\n"
                  "A2/sub/f.txt = f\nB2/sub = a file where the job needs a folder\n"
                  "A3/\n");
    files(tree, "B3", 12);
    tree.file("jobs.jbl", jobLine(tree, "A1", 2, "B1") + "\r\n" + jobLine(tree, "A2", 2, "B2") + "\r\n" +
                              jobLine(tree, "A3", 0, "B3") + "\r\n");
    const TreeSnapshot b3 = snapshotTree(tree.path("B3"));

    // A dry run prints each job's plan and changes nothing.
    const CliRun inTree = isolated(tree);
    const TreeSnapshot before = tree.snapshot();
    const CliResult dry = runCli({"jobs", "--dry-run", "jobs.jbl"}, inTree);
    EXPECT_EQ(dry.status, 3) << dry.out << dry.err;
    EXPECT_TRUE(holds(dry.outLines(), "Copy " + tree.path("A1/a.txt") + "*" + tree.path("B1/a.txt")))
        << dry.out;
    EXPECT_TRUE(holds(dry.outLines(), "Job 2: copy-missing " + tree.path("A2/") + " to " + tree.path("B2/") +
                                          ": Planned, 2 action(s)"))
        << dry.out;
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");

    const CliResult r = runCli({"jobs", "--log", "run.log", "jobs.jbl"}, isolated(tree));
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    const Lines out = r.outLines();
    const Lines results = {
        "Job 1: copy-missing " + tree.path("A1/") + " to " + tree.path("B1/") +
            ": Finished, 2 done, 0 failed",
        "Job 2: copy-missing " + tree.path("A2/") + " to " + tree.path("B2/") + ": Failed, 0 done, 2 failed",
        "Job 3: backup " + tree.path("A3/") + " to " + tree.path("B3/") + ": Refused, 0 done, 0 failed"};
    for (const std::string& line : results)
        EXPECT_TRUE(holds(out, line)) << line << "\n" << r.out;
    EXPECT_LT(std::find(out.begin(), out.end(), results[0]), std::find(out.begin(), out.end(), results[1]));
    EXPECT_TRUE(holds(out, "Job 3 refused: the plan deletes 12 of 12 files in " + tree.path("B3/") +
                               " (more than 50%)"))
        << r.out;
    EXPECT_EQ(tree.read("B1/b.txt"), "b");
    EXPECT_EQ(snapshotDifferences(b3, snapshotTree(tree.path("B3"))), "") << "a refused job changed B";
    // The action log holds the run's log as it was printed.
    const std::string saved = tree.read("run.log");
    for (const std::string& line : results)
        EXPECT_TRUE(mentions(saved, line + "\r\n")) << saved;

    // Without the refusal the failed job sets the status; the guard lifted, job 3 empties B3.
    const CliResult lifted = runCli({"jobs", "--max-delete", "none", "jobs.jbl"}, isolated(tree));
    EXPECT_EQ(lifted.status, 1) << lifted.out << lifted.err;
    EXPECT_TRUE(snapshotTree(tree.path("B3")).empty());
    tree.remove("B2/sub");
    EXPECT_EQ(runCli({"jobs", "jobs.jbl"}, isolated(tree)).status, 0);
    EXPECT_EQ(tree.read("B2/sub/f.txt"), "f");
}

TEST(CliJobs, AMalformedJobListIsAUsageErrorNamingItsLineAndNothingRuns) {
    TempTree tree("A/a.txt = a\nB/\n");
    const std::string good = jobLine(tree, "A", 2, "B");
    struct Case {
        std::string secondLine;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no markers at all", "Line 2 of the job list is not a job line (no \"*A*\")"},
        {tree.path("A") + "/*A*x*B*" + tree.path("B") + "/*C*Yes",
         "Line 2 of the job list is not a job line"},
        {tree.path("A") + "/*A*7*B*" + tree.path("B") + "/*C*Yes", "line 2: the mode digit names none"},
        {tree.path("A") + "/*A*1*B*" + tree.path("B") + "/", "Line 2 of the job list is not a job line"},
        {"relative/*A*1*B*" + tree.path("B") + "/*C*Yes",
         "line 2: location \"relative/\" is not an absolute"},
        {"", "Line 2 of the job list is not a job line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        tree.file("list.jbl", good + "\n" + c.secondLine + "\n");
        const CliResult r = runCli({"jobs", "list.jbl"}, isolated(tree));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(mentions(r.err, c.message)) << r.err;
        EXPECT_TRUE(mentions(r.err, "Try 'paritas-cli --help'")) << r.err;
        EXPECT_FALSE(tree.exists("B/a.txt")) << "the good first line ran";
    }
    const CliResult missing = runCli({"jobs", "none.jbl"}, isolated(tree));
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(mentions(missing.err, "cannot read the job list \"none.jbl\"")) << missing.err;
}

TEST(CliGuard, APlanThatDeletesMoreThanTheBoundIsRefusedBeforeAnyLineRuns) {
    struct Case {
        int inB, keptInA;
        std::vector<std::string> options;
        int status;
        std::string refusal; // empty: the run goes through
    };
    const std::vector<Case> cases = {
        {100, 51, {}, 0, ""},
        {100, 49, {}, 3, "the plan deletes 51 of 100 files in B (more than 50%)"},
        {100, 49, {"--max-delete", "none"}, 0, ""},
        {100, 49, {"--max-delete=60%"}, 0, ""},
        {20, 9, {"--max-delete", "10"}, 3, "the plan deletes 11 of 20 files in B (more than 10)"},
        {9, 0, {}, 0, ""}, // too few files to judge a share by
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.inB) + " files, " + std::to_string(c.keptInA) + " kept");
        TempTree tree("A/\n");
        files(tree, "B", c.inB);
        files(tree, "A", c.keptInA);
        const TreeSnapshot before = snapshotTree(tree.path("B"));
        std::vector<std::string> args = {"sync", "backup"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(tree.path("A"));
        args.push_back(tree.path("B"));
        const CliResult r = runCli(args, isolated(tree));
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (c.refusal.empty()) {
            EXPECT_EQ(snapshotTree(tree.path("B")).size(), std::size_t(c.keptInA));
            continue;
        }
        std::string refusal = c.refusal;
        refusal.replace(refusal.find(" in B "), 6, " in " + tree.path("B/") + " ");
        EXPECT_TRUE(mentions(r.err, "paritas-cli: refused: " + refusal)) << r.err;
        EXPECT_TRUE(mentions(r.out, "Refused: " + refusal)) << "the log says so too\n" << r.out;
        EXPECT_FALSE(mentions(r.out, "Actions Started")) << r.out;
        EXPECT_EQ(snapshotDifferences(before, snapshotTree(tree.path("B"))), "");
    }
}

// The test process holds the lock, as another run would; the program meets it.
class CliLock : public ::testing::Test {
protected:
    TempTree tree{"A/a.txt = a\nB/\nC/\nrun/\n"};
    void SetUp() override {
        ::setenv("XDG_RUNTIME_DIR", tree.path("run").c_str(), 1);
        tree.link("B-link", "B");
        tree.file("b.jbl", jobLine(tree, "A", 2, "B") + "\n");
    }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }
    std::string taken(const std::string& folder) const {
        return "another run (process " + std::to_string(::getpid()) + ") is working on " + tree.path(folder);
    }
};

TEST_F(CliLock, ASecondRunOnTheSameDestinationIsRefusedAndOthersRunTogether) {
    struct Case {
        std::string held;
        std::vector<std::string> args;
        int status;
        std::string locked;      // the folder the refusal names
        std::string destination; // where a.txt goes when the run runs
    };
    const std::vector<Case> cases = {
        {"B", {"sync", "copy-missing", "A", "B"}, 3, "B", "B"},
        {"B-link/", {"sync", "copy-missing", "A", "B"}, 3, "B", "B"}, // one folder, two spellings
        {"B", {"jobs", "b.jbl"}, 3, "B", "B"},
        {"A", {"sync", "synch", "A", "C"}, 3, "A", "C"}, // folder synch writes A too
        {"B", {"sync", "copy-missing", "A", "C"}, 0, "", "C"},
        {"A", {"sync", "copy-missing", "A", "C"}, 0, "", "C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.held + " held, " + c.args[0] + " " + c.args.back());
        RunLock other;
        ASSERT_TRUE(other.acquire({tree.path(c.held)}).acquired);
        std::vector<std::string> args;
        for (const std::string& word : c.args)
            args.push_back(word.size() == 1 ? tree.path(word) : word);
        const CliResult r = runCli(args, isolated(tree));
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (c.status == 3) {
            EXPECT_TRUE(mentions(r.err + r.out, taken(c.locked + "/"))) << r.err << r.out;
            EXPECT_FALSE(tree.exists(c.destination + "/a.txt"));
        } else {
            EXPECT_EQ(tree.read(c.destination + "/a.txt"), "a");
            tree.remove(c.destination + "/a.txt");
        }
    }
}

TEST_F(CliLock, WithWaitASecondRunWaitsForTheFirstToEnd) {
    auto other = std::make_unique<RunLock>();
    ASSERT_TRUE(other->acquire({tree.path("B")}).acquired);
    CliResult r;
    std::thread second([&] {
        r = runCli({"sync", "--wait", "copy-missing", tree.path("A"), tree.path("B")});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_FALSE(tree.exists("B/a.txt")) << "ran while the other run held B";
    other.reset();
    second.join();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(mentions(r.out, "Waiting: " + taken("B/"))) << r.out;
    EXPECT_EQ(tree.read("B/a.txt"), "a");
}

// A signal while a job waits (or scans) ends the run before its actions; --log still gets the log.
TEST_F(CliLock, AJobRunEndedByASignalBeforeItsActionsStillWritesItsLog) {
    RunLock other;
    ASSERT_TRUE(other.acquire({tree.path("B")}).acquired);
    CliRun how = isolated(tree);
    how.signalAfter = "Waiting: ";
    how.signal = SIGTERM;
    const CliResult r = runCli({"jobs", "--wait", "--log", tree.path("run.log"), tree.path("b.jbl")}, how);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
    ASSERT_TRUE(tree.exists("run.log")) << r.out;
    EXPECT_TRUE(mentions(tree.read("run.log"), "Interrupted by SIGTERM; no action had run"));
    EXPECT_FALSE(tree.exists("B/a.txt"));
}

TEST(CliPlanJson, EveryActionIsOneJsonObjectThatParsesBackToThePlan) {
    TempTree tree("A/new.txt = new\nA/moved.txt = moved @2020-01-01 10:00:00\nA/sub/s.txt = s\n"
                  "B/old/moved.txt = moved @2020-01-01 10:00:00\nB/gone.txt = gone\nB/empty/\n");
    tree.file(std::string("A/latin1-\xE9.txt"), "not UTF-8");
    const CliResult text = runCli({"plan", "backup", tree.path("A"), tree.path("B")});
    const CliResult json = runCli({"plan", "backup", "--format", "json", tree.path("A"), tree.path("B")});
    ASSERT_EQ(json.status, 0) << json.err;
    const Lines planned = text.outLines(), objects = json.outLines();
    ASSERT_EQ(objects.size(), planned.size()) << json.out;
    std::map<std::string, int> kinds;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        SCOPED_TRACE(planned[i]);
        const nlohmann::json o = nlohmann::json::parse(objects[i]); // throws on anything but JSON
        const std::string kind = o.at("kind");
        ++kinds[kind];
        EXPECT_FALSE(o.at("reason").get<std::string>().empty());
        const std::string target = o.at("target").is_null() ? "" : o.at("target").get<std::string>();
        const std::string source = o.at("source").is_null() ? "" : o.at("source").get<std::string>();
        if (kind == "copy" || kind == "move") {
            EXPECT_EQ(std::regex_replace(planned[i], std::regex("\xE9"), "\xEF\xBF\xBD"),
                      (kind == "copy" ? "Copy " : "Move-Rename ") + source + "*" + target);
            EXPECT_TRUE(o.at("size").is_number());
        } else if (kind == "delete") {
            EXPECT_EQ(planned[i], "DeleteFile " + target);
            EXPECT_EQ(o.at("size"), 4);
        } else if (kind == "create-folder" || kind == "remove-folder") {
            EXPECT_TRUE(mentions(planned[i], target));
            EXPECT_TRUE(o.at("size").is_null());
        }
    }
    EXPECT_EQ(kinds,
              (std::map<std::string, int>{
                  {"copy", 3}, {"create-folder", 1}, {"delete", 1}, {"move", 1}, {"remove-folder", 2}}))
        << json.out;
    // The name that is not UTF-8 arrives replaced, never as broken JSON.
    EXPECT_TRUE(mentions(json.out, "latin1-\xEF\xBF\xBD.txt")) << json.out;
}

TEST(CliDefaults, AFileEditedWithoutChangingItsSizeIsNoticedByDefault) {
    TempTree tree("A/notes.txt = v2 @2021-01-01 10:00:00\nB/notes.txt = v1 @2020-01-01 10:00:00\n");
    const CliResult quick =
        runCli({"sync", "backup", "--criteria", "size,name", tree.path("A"), tree.path("B")});
    EXPECT_EQ(quick.status, 0);
    EXPECT_EQ(tree.read("B/notes.txt"), "v1") << "size and name alone take the edited file for the same";
    const CliResult byDefault = runCli({"sync", "backup", tree.path("A"), tree.path("B")});
    EXPECT_EQ(byDefault.status, 0) << byDefault.out;
    EXPECT_EQ(tree.read("B/notes.txt"), "v2");
}

TEST(CliOutput, QuietPrintsOnlyErrorsAndTheLogFileKeepsEveryLineStamped) {
    TempTree tree("A/sub/f.txt = f\nA/ok.txt = ok\nB/sub = a file where a folder is needed\n");
    const std::string logFile = tree.path("paritas.log");
    const std::vector<std::string> args = {"sync",         "--quiet",      "--log-file",  logFile,
                                           "copy-missing", tree.path("A"), tree.path("B")};
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    const Lines out = r.outLines();
    ASSERT_FALSE(out.empty());
    for (const std::string& line : out)
        EXPECT_TRUE(line.rfind("Failed ", 0) == 0 || line.rfind("Reason: ", 0) == 0) << line;
    EXPECT_TRUE(holds(out, "Failed CreateDir " + tree.path("B/sub"))) << r.out;

    runCli(args);
    const Lines logged = splitLines(tree.read("paritas.log"));
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d .+)");
    for (const std::string& line : logged)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                            [](const std::string& l) { return mentions(l, " Actions Started at "); }),
              2)
        << "appended, not replaced";
    EXPECT_TRUE(std::any_of(logged.begin(), logged.end(),
                            [&](const std::string& l) { return mentions(l, " Success Copy-File to "); }));
}

// What becomes of removed and replaced files: what the options say, else for jobs what the window
// saved in unattended.ini, else they are deleted. Every removal's line is followed by where the file
// went, and the end of the run says how many were kept.
TEST(CliUndo, RemovedFilesGoWhereTheOptionsOrTheWindowsSettingsSay) {
    struct Case {
        const char* name;
        std::vector<std::string> args; // before the locations or the job list
        const char* saved;             // unattended.ini's removed-files; empty: no file
        const char* kept;              // the folder the stale file lands in, below the tree; empty: deleted
    };
    const std::vector<Case> cases = {
        {"sync --trash", {"sync", "backup", "--trash", "--verify"}, "", "data/Trash/files/"},
        {"sync, nothing said", {"sync", "backup"}, "trash", ""},
        {"jobs with the window's trash", {"jobs"}, "trash", "data/Trash/files/"},
        {"jobs --versions-keep over the window's trash",
         {"jobs", "--versions-keep", "7"},
         "trash",
         "B/.paritas-versions/"},
        {"jobs, nothing saved", {"jobs"}, "", ""},
        {"jobs --delete over the window's trash", {"jobs", "--delete"}, "trash", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree("A/report.txt = the new report\nB/stale.txt = stale\nB/report.txt = old\n");
        CliRun how = isolated(tree);
        how.environment.emplace_back("XDG_DATA_HOME", tree.path("data"));
        if (*c.saved)
            tree.file("xdg-config/paritas/unattended.ini", std::string("removed-files = ") + c.saved + "\n");
        std::vector<std::string> args = c.args;
        if (args.front() == "jobs") {
            tree.file("jobs.jbl", jobLine(tree, "A", 0, "B") + "\r\n");
            args.push_back("jobs.jbl");
        } else {
            args.insert(args.end(), {tree.path("A"), tree.path("B")});
        }
        const CliResult r = runCli(args, how);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(tree.read("B/report.txt"), "the new report");
        EXPECT_FALSE(tree.exists("B/stale.txt"));
        const Lines out = r.outLines();
        const auto deleted =
            std::find(out.begin(), out.end(), "Success DeleteFile " + tree.path("B/stale.txt"));
        ASSERT_NE(deleted, out.end());
        if (!*c.kept) {
            EXPECT_TRUE(deleted + 1 == out.end() || deleted[1].rfind("Moved to ", 0) != 0);
            EXPECT_FALSE(tree.exists("data"));
            continue;
        }
        ASSERT_NE(deleted + 1, out.end());
        std::smatch where;
        const std::string line = deleted[1];
        EXPECT_TRUE(
            std::regex_search(line, where, std::regex("^Moved to the (trash|versions folder): (.*)$")))
            << line;
        EXPECT_EQ(where[2].str().rfind(tree.path(c.kept), 0), 0u) << where[2];
        EXPECT_EQ(tree.read(where[2].str().substr(tree.root().size())), "stale");
        EXPECT_TRUE(holds(out, "Old version moved to the " + std::string(where[1]) + ": " +
                                   std::regex_replace(where[2].str(), std::regex("stale"), "report")));
        EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const std::string& l) {
            return l.rfind("Kept 2 removed or replaced file(s) in the ", 0) == 0;
        }));
    }
}

} // namespace
} // namespace paritas::test

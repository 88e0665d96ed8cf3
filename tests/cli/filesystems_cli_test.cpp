// The command line on the destinations a user really has: a B that does not exist yet, a lock folder
// someone else made first, a versions folder that leads into B, a file of A named like a temporary
// file of Paritas.

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include "core/app/run_lock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas::test {
namespace {

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs with settings and locks of the tree's own.
CliRun isolated(TempTree& tree) {
    tree.folder("run");
    CliRun how = inFolder(tree.root());
    how.environment = {{"XDG_CONFIG_HOME", tree.path("xdg-config")}, {"XDG_RUNTIME_DIR", tree.path("run")}};
    return how;
}

} // namespace

// The lock of a destination that does not exist yet is the one it will have: another spelling of it
// (through a link to its parent) meets the lock, and nothing is made.
TEST(CliDestinations, TwoRunsIntoABThatDoesNotExistYetDoNotBothRun) {
    TempTree tree("A/a.txt = a\nparent/\nrun/\n");
    tree.link("parent-link", "parent");
    ::setenv("XDG_RUNTIME_DIR", tree.path("run").c_str(), 1);
    RunLock other;
    ASSERT_TRUE(other.acquire({tree.path("parent/B")}).acquired);
    ::unsetenv("XDG_RUNTIME_DIR");
    for (const char* spelling : {"parent/B", "parent-link/B", "parent//./B"}) {
        SCOPED_TRACE(spelling);
        const CliResult r =
            runCli({"sync", "copy-missing", tree.path("A"), tree.path(spelling)}, isolated(tree));
        EXPECT_EQ(r.status, 3) << r.out << r.err;
        EXPECT_TRUE(mentions(r.err + r.out, "another run (process " + std::to_string(::getpid()) + ")"))
            << r.err << r.out;
        EXPECT_FALSE(tree.exists("parent/B"));
    }
    other.release();
    const CliResult r =
        runCli({"sync", "copy-missing", tree.path("A"), tree.path("parent-link/B")}, isolated(tree));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(tree.read("parent/B/a.txt"), "a");
}

TEST(CliDestinations, AVersionsFolderThatLeadsIntoBIsRefusedAndNotMade) {
    TempTree tree("A/\nB/old.txt = old\n");
    tree.link("versions-link", "B");
    const CliResult r = runCli(
        {"sync", "backup", "--versions", tree.path("versions-link/kept"), tree.path("A"), tree.path("B")},
        isolated(tree));
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(mentions(r.err + r.out, "leads into location " + tree.path("B/"))) << r.err << r.out;
    EXPECT_EQ(tree.read("B/old.txt"), "old");
    EXPECT_FALSE(tree.exists("B/kept"));
}

// A user's own file in A named like a temporary file is not lost silently: it is named and the run
// exits 1; what B holds at its place is left alone.
TEST(CliDestinations, AFileOfANamedLikeATemporaryFileIsNamedAndTheRunIsIncomplete) {
    TempTree tree(
        "A/.paritas-0123456789abcdef.tmp = mine\nA/b.txt = b\nB/.paritas-0123456789abcdef.tmp = B's\n");
    const CliResult r = runCli({"sync", "backup", tree.path("A"), tree.path("B")}, isolated(tree));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(mentions(r.out + r.err, "Skipped temporary file of an interrupted copy: " +
                                            tree.path("A/.paritas-0123456789abcdef.tmp")))
        << r.out << r.err;
    EXPECT_TRUE(mentions(r.out + r.err, "file(s) named like a temporary file of Paritas")) << r.out << r.err;
    EXPECT_EQ(tree.read("B/b.txt"), "b");
    EXPECT_EQ(tree.read("B/.paritas-0123456789abcdef.tmp"), "B's");
}

// A run ended by SIGINT, SIGTERM or SIGHUP while it replaces files leaves no temporary name and no
// journal behind; the next run finishes the work.
TEST(CliDestinations, ARunEndedByASignalWhileReplacingLeavesNothingBehind) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempTree tree("A/\nB/\n");
        for (int i = 0; i < 40; ++i) {
            const std::string name = "A/f" + std::to_string(i) + ".bin";
            tree.sizedFile(name, 256 << 10).setModifiedTime(name, 1'600'000'000);
        }
        ASSERT_EQ(runCli({"sync", "backup", tree.path("A"), tree.path("B")}, isolated(tree)).status, 0);
        for (int i = 0; i < 40; ++i) {
            const std::string name = "A/f" + std::to_string(i) + ".bin";
            tree.file(name, std::string(256 << 10, char('a' + i % 26))).setModifiedTime(name, 1'700'000'000);
        }
        CliRun how = isolated(tree);
        how.signalAfter = "Success Copy-File";
        how.signal = signal;
        const CliResult stopped =
            runCli({"sync", "backup", "--criteria", "size,name,time", tree.path("A"), tree.path("B")}, how);
        EXPECT_EQ(stopped.status, 128 + signal) << stopped.out << stopped.err;
        for (const auto& [path, state] : snapshotTree(tree.path("B")))
            EXPECT_EQ(path.rfind(".paritas-", 0), std::string::npos) << path;
        const CliResult again =
            runCli({"sync", "backup", "--criteria", "size,name,time", tree.path("A"), tree.path("B")},
                   isolated(tree));
        EXPECT_EQ(again.status, 0) << again.out << again.err;
        EXPECT_EQ(snapshotDifferences(snapshotTree(tree.path("A")), snapshotTree(tree.path("B"))), "");
    }
}

} // namespace paritas::test

// The command line on the destinations a user really has: a B that does not exist yet, a lock folder
// someone else made first, a versions folder that leads into B, a file of A named like a temporary
// file of Paritas.

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include "core/app/run_lock.h"

#include <gtest/gtest.h>

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
    ASSERT_TRUE(other.acquire({tree.path("parent/new/B")}).acquired);
    ::unsetenv("XDG_RUNTIME_DIR");
    for (const std::string& spelling : {"parent/new/B", "parent-link/new/B", "parent//new/./B"}) {
        SCOPED_TRACE(spelling);
        const CliResult r =
            runCli({"sync", "copy-missing", tree.path("A"), tree.path(spelling)}, isolated(tree));
        EXPECT_EQ(r.status, 3) << r.out << r.err;
        EXPECT_TRUE(mentions(r.err + r.out, "another run (process " + std::to_string(::getpid()) + ")"))
            << r.err << r.out;
        EXPECT_FALSE(tree.exists("parent/new"));
    }
    other.release();
    const CliResult r =
        runCli({"sync", "copy-missing", tree.path("A"), tree.path("parent-link/new/B")}, isolated(tree));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(tree.read("parent/new/B/a.txt"), "a");
}

// With no runtime folder, the shared /tmp/paritas-<uid> that another user made first is never used:
// the run takes a private folder in the user's own cache instead.
TEST(CliDestinations, ALockFolderMadeFirstByAnotherUserDoesNotBlockTheRun) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's folder can only be made as root";
    const std::string shared = "/tmp/paritas-65534";
    if (::access("/run/user/65534", F_OK) == 0)
        GTEST_SKIP() << "/run/user/65534 exists here, so the shared folder is not used";
    if (::access(shared.c_str(), F_OK) == 0)
        GTEST_SKIP() << shared << " exists already (another process of nobody's made it)";
    TempTree tree("A/a.txt = a\nB/\nhome/\n");
    tree.giveTo(65534, 65534);
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chown(shared.c_str(), 65533, 65533), 0);
    CliRun how;
    how.asNobody = true;
    how.environment = {{"XDG_RUNTIME_DIR", ""},
                       {"HOME", tree.path("home")},
                       {"XDG_CACHE_HOME", ""},
                       {"XDG_CONFIG_HOME", tree.path("home/.config")}};
    const CliResult r = runCli({"sync", "copy-missing", tree.path("A"), tree.path("B")}, how);
    ::rmdir(shared.c_str());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(tree.read("B/a.txt"), "a");
    struct stat st {};
    ASSERT_EQ(::stat(tree.path("home/.cache/paritas-locks").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 077, 0u);
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

} // namespace paritas::test

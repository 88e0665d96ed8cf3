// The versions folder by identity: a chosen folder that leads into a location through a link or a
// bind mount is refused and never made; only a folder marked as Paritas's own is ever pruned, the
// default one at the top of a location included.

#include "core/execution/removed_files.h"
#include "core/platform/versions_folder.h"

#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <ctime>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;

namespace {

Settings versionsInto(const std::string& folder, int keepDays = 0) {
    Settings settings = quietSettings();
    settings.removedFiles = RemovedFiles::Versions;
    settings.versionsFolder = folder;
    settings.versionsKeepDays = keepDays;
    return settings;
}

} // namespace

TEST(VersionsIdentity, AChosenFolderThatLeadsIntoALocationThroughALinkIsRefusedAndNotMade) {
    struct Case {
        const char* what;
        std::string chosen; // relative to the tree
        bool refused;
    };
    const std::vector<Case> cases = {
        {"a link to a folder inside B", "into-B/versions", true},
        {"a link to B itself", "to-B", true},
        {"a link to a folder above A", "to-top/elsewhere", false},
        {"a plain folder outside", "outside/versions", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree("A/\nB/old.txt = goes\noutside/\n");
        tree.link("into-B", "B");
        tree.link("to-B", "B");
        tree.link("to-top", ".");
        const std::string chosen = tree.path(c.chosen);
        const std::vector<std::string> locations{tree.path("A/"), tree.path("B/")};
        EXPECT_EQ(versionsFolderProblem(chosen, locations).empty(), !c.refused)
            << versionsFolderProblem(chosen, locations);
        const SyncRun run = syncOnce(0, tree.path("A/"), tree.path("B/"), versionsInto(chosen));
        if (c.refused) {
            EXPECT_EQ(run.counts.bad, 1);
            EXPECT_EQ(tree.read("B/old.txt"), "goes");
            EXPECT_FALSE(tree.exists("B/versions")) << "a refused versions folder was made";
            EXPECT_EQ(snapshotTree(tree.path("B")).size(), 1u);
        } else {
            EXPECT_EQ(run.counts.bad, 0);
            EXPECT_FALSE(tree.exists("B/old.txt"));
        }
    }
}

TEST(VersionsIdentity, ABindMountOfAFolderOfBIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a bind mount needs root";
    TempTree tree("A/\nB/inner/\nB/old.txt = stays\nV/\n");
    ASSERT_EQ(::mount(tree.path("B/inner").c_str(), tree.path("V").c_str(), nullptr, MS_BIND, nullptr), 0);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{tree.path("V")};
    EXPECT_NE(versionsFolderProblem(tree.path("V/kept"), {tree.path("A/"), tree.path("B/")}), "");
    const SyncRun run = syncOnce(0, tree.path("A/"), tree.path("B/"), versionsInto(tree.path("V/kept")));
    EXPECT_EQ(run.counts.bad, 1);
    EXPECT_EQ(tree.read("B/old.txt"), "stays");
    EXPECT_FALSE(tree.exists("B/inner/kept"));
}

// The default folder is marked when Paritas makes it; one of the same name that the user made and
// filled is used for versions but never pruned.
TEST(VersionsIdentity, OnlyAMarkedDefaultFolderIsPruned) {
    for (const bool usersOwn : {true, false}) {
        SCOPED_TRACE(usersOwn ? "the user's own .paritas-versions" : "made by a run");
        TempTree tree("A/\nB/x.txt = replaced\n");
        if (usersOwn)
            tree.file("B/.paritas-versions/mine.txt", "the user's own");
        const Settings settings = versionsInto("", 7);
        EXPECT_EQ(syncOnce(0, tree.path("A/"), tree.path("B/"), settings).counts.bad, 0);
        EXPECT_EQ(tree.exists("B/.paritas-versions/" + std::string(kVersionsMarkName)), !usersOwn);
        RemovedFileKeeper keeper(settings, {tree.path("A/"), tree.path("B/")}, std::time(nullptr));
        const std::vector<std::string> lines =
            keeper.prune({tree.path("B/")}, std::time(nullptr) + 30 * 24 * 60 * 60);
        if (usersOwn) {
            EXPECT_EQ(lines, std::vector<std::string>{});
            EXPECT_EQ(tree.read("B/.paritas-versions/mine.txt"), "the user's own");
        } else {
            EXPECT_EQ(lines.size(), 1u);
            EXPECT_EQ(snapshotTree(tree.path("B/.paritas-versions")).size(), 1u) << "only the mark stays";
        }
    }
}

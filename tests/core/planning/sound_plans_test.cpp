// Plans on real folders that stay sound where the literal rules would lose data or never converge:
// copy missing never overwrites and copies a file once, times compare as true times, a backup
// converges in one run, and locations overlap by what the file system says, not by their texts.

#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sys/mount.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;

namespace {

std::vector<std::string> planLines(int mode, const TempTree& tree,
                                   const Settings& settings = quietSettings()) {
    return lineTexts(syncOnce(mode, tree.path("A/"), tree.path("B/"), settings, false).plan.actions);
}

// Sets TZ for the life of the object.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        saved_ = old ? old : "";
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        ::setenv("TZ", saved_.c_str(), 1);
        ::tzset();
    }

private:
    std::string saved_;
};

// A mount made by the test (root only), undone at the end.
class Mount {
public:
    Mount(const std::string& source, const std::string& target, const char* type, unsigned long flags)
        : target_(target) {
        mounted_ = ::mount(source.c_str(), target.c_str(), type, flags, type ? "size=4m" : nullptr) == 0;
    }
    ~Mount() {
        if (mounted_)
            ::umount2(target_.c_str(), MNT_DETACH);
    }
    bool ok() const { return mounted_; }

private:
    std::string target_;
    bool mounted_ = false;
};

} // namespace

TEST(SoundPlans, CopyMissingNeverOverwritesAndCopiesAFileOnce) {
    TempTree tree("A/report.txt = A's report\nB/report.txt = B's other report\n");
    const SyncRun first = syncOnce(2, tree.path("A/"), tree.path("B/"));
    ASSERT_EQ(first.plan.actions.size(), 1u);
    const std::string dated = first.plan.actions[0].destination;
    EXPECT_EQ(tree.read(dated.substr(tree.root().size())), "A's report");
    // The dated copy holds the same file: present, nothing to do.
    EXPECT_TRUE(planLines(2, tree).empty());
    // The user edits the dated copy: it is never replaced; the next free name takes the copy.
    tree.remove(dated.substr(tree.root().size()))
        .file(dated.substr(tree.root().size()), "edited by the user");
    const SyncRun third = syncOnce(2, tree.path("A/"), tree.path("B/"));
    ASSERT_EQ(third.plan.actions.size(), 1u);
    EXPECT_NE(third.plan.actions[0].destination.find(" (2).txt"), std::string::npos)
        << lineText(third.plan.actions[0]);
    EXPECT_EQ(tree.read(dated.substr(tree.root().size())), "edited by the user");
    EXPECT_TRUE(planLines(2, tree).empty());
    EXPECT_EQ(tree.read("B/report.txt"), "B's other report");
}

TEST(SoundPlans, KeepNewerComparesTrueTimes) {
    struct Case {
        const char* zone;
        std::time_t a, b;
        const char* expected; // the copy line's direction, or "" for none
    };
    const Case cases[] = {
        {"UTC", utcTime(2045, 6, 1), utcTime(2044, 6, 1), "A->B"}, // packed times turn negative from 2044
        {"Europe/Berlin", utcTime(2026, 10, 25, 1, 10), utcTime(2026, 10, 25, 0, 30),
         "A->B"},                                                                  // repeated hour
        {"UTC", utcTime(1975, 1, 1), utcTime(1970, 6, 1), "A->B"},                 // both before 1980
        {"UTC", utcTime(2110, 1, 1), utcTime(2120, 1, 1), "B->A"},                 // both after 2107
        {"UTC", utcTime(2026, 3, 1, 10, 0, 1), utcTime(2026, 3, 1, 10, 0, 0), ""}, // one two-second step
    };
    for (const Case& c : cases) {
        const TimeZone zone(c.zone);
        TempTree tree("A/f.txt = a\nB/f.txt = b\n");
        tree.setModifiedTime("A/f.txt", c.a).setModifiedTime("B/f.txt", c.b);
        const std::vector<std::string> lines = planLines(1, tree);
        const std::string expected =
            std::string(c.expected) == "A->B"   ? "Copy " + tree.path("A/f.txt") + "*" + tree.path("B/f.txt")
            : std::string(c.expected) == "B->A" ? "Copy " + tree.path("B/f.txt") + "*" + tree.path("A/f.txt")
                                                : "";
        EXPECT_EQ(lines.empty() ? "" : lines[0], expected) << c.zone << " " << c.a << " " << c.b;
    }
}

TEST(SoundPlans, OneBackupConvergesWhereFilesAndFoldersTradePlaces) {
    const char* trees[] = {
        "A/report/report = r\nA/report/appendix = x\nB/report = a file where A has a folder\n",
        "A/report = A's file\nB/report/old.txt = o\nB/report/deep/d.txt = d\n",
        "A/docs/notes.txt = n\nB/docs -> ../outside\noutside/notes.txt = outside's own\n",
        "A/docs -> elsewhere\nB/docs/notes.txt = n\n",
    };
    for (const char* description : trees) {
        TempTree tree(description);
        tree.folder("B");
        const SyncRun run = syncOnce(0, tree.path("A/"), tree.path("B/"));
        EXPECT_EQ(run.counts.bad, 0) << description;
        EXPECT_TRUE(planLines(0, tree).empty()) << description;
        EXPECT_EQ(snapshotDifferences(snapshotTree(tree.path("A")), snapshotTree(tree.path("B"))), "")
            << description;
        if (tree.exists("outside/notes.txt")) {
            EXPECT_EQ(tree.read("outside/notes.txt"), "outside's own");
        }
    }
}

TEST(SoundPlans, AMatchOnAnotherFileSystemIsCopiedNotMoved) {
    TempTree tree("A/mnt/\nA/docs/big.dat = moved data\nB/mnt/\n");
    const Mount tmpfs("tmpfs", tree.path("B/mnt"), "tmpfs", 0);
    if (!tmpfs.ok())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    tree.file("B/mnt/big.dat", "moved data");
    tree.setModifiedTime("B/mnt/big.dat", utcTime(2026, 1, 1))
        .setModifiedTime("A/docs/big.dat", utcTime(2026, 1, 1));
    const SyncRun run = syncOnce(0, tree.path("A/"), tree.path("B/"));
    EXPECT_EQ(run.counts.bad, 0);
    EXPECT_TRUE(hasLine(run.log, "Success Copy-File to " + tree.path("B/docs/big.dat")));
    EXPECT_TRUE(hasLine(run.log, "Success DeleteFile " + tree.path("B/mnt/big.dat")));
    EXPECT_TRUE(planLines(0, tree).empty());
}

TEST(SoundPlans, LocationsOverlapByIdentityThroughBindMountsAndLinks) {
    struct Case {
        const char* name;
        std::function<std::string(TempTree&)> locationB; // may mount; returns B's text
    };
    std::vector<std::unique_ptr<Mount>> mounts;
    const Case cases[] = {
        {"A bound at B",
         [&](TempTree& t) {
             mounts.push_back(std::make_unique<Mount>(t.path("A"), t.path("B"), nullptr, MS_BIND));
             return t.path("B/");
         }},
        {"A bound inside B",
         [&](TempTree& t) {
             t.folder("B/inner");
             mounts.push_back(std::make_unique<Mount>(t.path("A"), t.path("B/inner"), nullptr, MS_BIND));
             return t.path("B/");
         }},
        {"a new B below a link into A",
         [&](TempTree& t) {
             t.link("into-a", "A");
             return t.path("into-a/new-b/");
         }},
    };
    for (const Case& c : cases) {
        TempTree tree("A/a.txt = a\nA/sub/b.txt = b\nB/\n");
        const std::string b = c.locationB(tree);
        if (!mounts.empty() && !mounts.back()->ok()) {
            mounts.pop_back();
            std::cerr << "skipped (mounting needs root): " << c.name << "\n";
            continue;
        }
        for (int mode : {0, 1, 2, 3}) {
            const SyncRun run = syncOnce(mode, tree.path("A/"), b);
            EXPECT_TRUE(run.plan.refused) << c.name << ", mode " << mode;
        }
        EXPECT_EQ(tree.read("A/a.txt"), "a") << c.name;
        EXPECT_EQ(tree.read("A/sub/b.txt"), "b") << c.name;
        mounts.clear();
    }
}

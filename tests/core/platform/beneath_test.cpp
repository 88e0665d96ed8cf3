// Actions beneath a location: they never pass through a symbolic link, never leave the location, and
// act only on what their plan saw there.

#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_queries.h"

#include "support/exec_fixture.h"
#include "support/temp_tree.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace paritas;
using paritas::test::TempTree;
using paritas::testing::readFile;

namespace {

struct NoObserver : CopyObserver {};

FileStamp stampAt(const std::string& path) {
    return *fileFacts(path);
}

// Every kind of action, aimed through B/docs, a link to a folder outside B.
struct LinkCase {
    const char* name;
    std::function<int(LocationResolver&, const TempTree&)> act;
};

const LinkCase kThroughLink[] = {
    {"make a folder",
     [](LocationResolver& l, const TempTree& t) { return makeFolder(l, t.path("B/docs/new")).error; }},
    {"remove a folder", [](LocationResolver& l,
                           const TempTree& t) { return removeEmptyFolder(l, t.path("B/docs/empty")).error; }},
    {"delete a file",
     [](LocationResolver& l, const TempTree& t) {
         return deleteIfUnchanged(l, t.path("B/docs/notes.txt"), nullptr).error;
     }},
    {"move a file in",
     [](LocationResolver& l, const TempTree& t) {
         return moveIfUnchanged(l, t.path("B/only.txt"), nullptr, t.path("B/docs/only.txt")).error;
     }},
    {"move a file out",
     [](LocationResolver& l, const TempTree& t) {
         return moveIfUnchanged(l, t.path("B/docs/notes.txt"), nullptr, t.path("B/taken.txt")).error;
     }},
    {"copy onto a file",
     [](LocationResolver& l, const TempTree& t) {
         NoObserver o;
         return copyFileBeneath(l, t.path("A/new.txt"), nullptr, t.path("B/docs/notes.txt"), {}, o).error;
     }},
    {"copy from a file",
     [](LocationResolver& l, const TempTree& t) {
         NoObserver o;
         return copyFileBeneath(l, t.path("B/docs/notes.txt"), nullptr, t.path("A/stolen.txt"), {}, o).error;
     }},
};

} // namespace

TEST(Beneath, NoActionPassesThroughALinkOrLeavesItsLocations) {
    for (const LinkCase& c : kThroughLink) {
        TempTree tree("A/new.txt = new\nB/only.txt = only copy\nB/docs -> ../outside\n"
                      "outside/notes.txt = outside notes\noutside/empty/\n");
        const auto before = tree.snapshot();
        LocationResolver locations({tree.path("A/"), tree.path("B/")});
        EXPECT_EQ(c.act(locations, tree), kCrossesLink) << c.name;
        EXPECT_EQ(paritas::test::snapshotDifferences(before, tree.snapshot()), "") << c.name;
    }
    TempTree tree("B/x.txt = x\nB/sub/y.txt = y\noutside/z.txt = z\n");
    LocationResolver locations({tree.path("B/")});
    EXPECT_EQ(deleteIfUnchanged(locations, tree.path("outside/z.txt"), nullptr).error, kOutsideLocations);
    EXPECT_EQ(deleteIfUnchanged(locations, tree.path("B/sub/../../outside/z.txt"), nullptr).error,
              kOutsideLocations);
    EXPECT_TRUE(tree.exists("outside/z.txt"));
}

TEST(Beneath, ALocationThatIsItselfALinkIsFollowedOnce) {
    TempTree tree("real/a.txt = a\nlocation -> real\n");
    LocationResolver locations({tree.path("location/")});
    EXPECT_TRUE(makeFolder(locations, tree.path("location/made")).ok());
    EXPECT_TRUE(tree.exists("real/made"));
    EXPECT_TRUE(deleteIfUnchanged(locations, tree.path("location/a.txt"), nullptr).ok());
    EXPECT_FALSE(tree.exists("real/a.txt"));
}

// What a copy finds at its destination, against what its plan expected there.
TEST(Beneath, ACopyPlacesItsContentOnlyWhereThePlanSaidItMay) {
    struct Case {
        const char* name;
        DestinationPlan::Kind expect;
        std::function<void(TempTree&)> meanwhile; // the world after planning
        bool copied;
        int error;
        const char* destinationAfter; // content of B/f.txt afterwards; nullptr: nothing there
    };
    const Case cases[] = {
        {"nothing expected, nothing there", DestinationPlan::Kind::Nothing, [](TempTree&) {}, true, 0, "new"},
        {"nothing expected, a file appeared", DestinationPlan::Kind::Nothing,
         [](TempTree& t) { t.file("B/f.txt", "appeared"); }, false, kChangedSincePlanning, "appeared"},
        {"the planned file is still there", DestinationPlan::Kind::Planned, [](TempTree&) {}, true, 0, "new"},
        {"the planned file was rewritten", DestinationPlan::Kind::Planned,
         [](TempTree& t) { t.remove("B/f.txt").file("B/f.txt", "user's newer words"); }, false,
         kChangedSincePlanning, "user's newer words"},
        {"the planned file was deleted", DestinationPlan::Kind::Planned,
         [](TempTree& t) { t.remove("B/f.txt"); }, false, kChangedSincePlanning, nullptr},
    };
    for (const Case& c : cases) {
        TempTree tree("A/f.txt = new\n");
        if (c.expect == DestinationPlan::Kind::Planned)
            tree.file("B/f.txt", "old");
        else
            tree.folder("B");
        DestinationPlan plan{c.expect, {}};
        if (c.expect == DestinationPlan::Kind::Planned)
            plan.stamp = stampAt(tree.path("B/f.txt"));
        c.meanwhile(tree);
        LocationResolver locations({tree.path("A/"), tree.path("B/")});
        NoObserver observer;
        const CopyResult result =
            copyFileBeneath(locations, tree.path("A/f.txt"), nullptr, tree.path("B/f.txt"), plan, observer);
        EXPECT_EQ(result.ok(), c.copied) << c.name;
        EXPECT_EQ(result.error, c.error) << c.name;
        if (c.destinationAfter)
            EXPECT_EQ(tree.read("B/f.txt"), c.destinationAfter) << c.name;
        else
            EXPECT_FALSE(tree.exists("B/f.txt")) << c.name;
        EXPECT_EQ(paritas::testing::namesIn(tree.path("B")).size(), c.destinationAfter ? 1u : 0u)
            << c.name << ": a temporary name was left behind";
    }
}

TEST(Beneath, DeletesMovesAndCopiesActOnlyOnThePlannedSource) {
    TempTree tree("A/src.txt = planned\nB/del.txt = planned\nB/mov.txt = planned\n");
    LocationResolver locations({tree.path("A/"), tree.path("B/")});
    const FileStamp src = stampAt(tree.path("A/src.txt"));
    const FileStamp del = stampAt(tree.path("B/del.txt"));
    const FileStamp mov = stampAt(tree.path("B/mov.txt"));
    // Each file is replaced by another one (same size, other inode) after planning.
    for (const char* path : {"A/src.txt", "B/del.txt", "B/mov.txt"})
        tree.remove(path).file(path, "changed"); // as long as "planned": only the identity tells
    NoObserver observer;
    EXPECT_EQ(copyFileBeneath(locations, tree.path("A/src.txt"), &src, tree.path("B/copy.txt"),
                              DestinationPlan{DestinationPlan::Kind::Nothing, {}}, observer)
                  .error,
              kChangedSincePlanning);
    EXPECT_EQ(deleteIfUnchanged(locations, tree.path("B/del.txt"), &del).error, kChangedSincePlanning);
    EXPECT_EQ(moveIfUnchanged(locations, tree.path("B/mov.txt"), &mov, tree.path("B/moved.txt")).error,
              kChangedSincePlanning);
    EXPECT_EQ(tree.read("B/del.txt"), "changed");
    EXPECT_EQ(tree.read("B/mov.txt"), "changed");
    EXPECT_FALSE(tree.exists("B/copy.txt"));
    EXPECT_FALSE(tree.exists("B/moved.txt"));
    // The planned files themselves are acted on.
    const FileStamp now = stampAt(tree.path("B/del.txt"));
    EXPECT_TRUE(deleteIfUnchanged(locations, tree.path("B/del.txt"), &now).ok());
    EXPECT_FALSE(tree.exists("B/del.txt"));
}

// A copy killed half-way (as by SIGKILL or a power cut) leaves no file under any name: new content is
// written unnamed and only given its name when complete.
TEST(Beneath, ACopyKilledHalfWayLeavesNoPartialFileAndTheOldDestination) {
    for (const bool replacing : {false, true}) {
        TempTree tree;
        tree.sizedFile("A/big.bin", 3 * int64_t(kCopyChunkBytes));
        if (replacing)
            tree.file("B/big.bin", "old destination");
        else
            tree.folder("B");
        const FileStamp old = replacing ? stampAt(tree.path("B/big.bin")) : FileStamp{};
        const pid_t child = ::fork();
        if (child == 0) {
            struct KillHalfWay : CopyObserver {
                void progress(uint64_t done, uint64_t) override {
                    if (done >= kCopyChunkBytes)
                        ::raise(SIGKILL);
                }
            } observer;
            LocationResolver locations({tree.path("A/"), tree.path("B/")});
            const DestinationPlan plan{
                replacing ? DestinationPlan::Kind::Planned : DestinationPlan::Kind::Nothing, old};
            copyFileBeneath(locations, tree.path("A/big.bin"), nullptr, tree.path("B/big.bin"), plan,
                            observer);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the copy was not killed half-way";
        const auto names = paritas::testing::namesIn(tree.path("B"));
        if (replacing) {
            EXPECT_EQ(names, std::vector<std::string>{"big.bin"});
            EXPECT_EQ(tree.read("B/big.bin"), "old destination");
        } else {
            EXPECT_TRUE(names.empty()) << names.front();
        }
    }
}

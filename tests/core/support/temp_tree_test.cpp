#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace paritas::test;
using Type = NodeState::Type;

TEST(TempTreeFixture, WritesTheDescribedTreeAndSnapshotsIt) {
    TempTree tree(R"(
        docs/a.txt = hello\nworld @2020-05-06 07:08:10
        data/b.bin size=5000
        empty/
        link -> docs/a.txt
        pipe fifo
        eq.txt = a -> b
    )");
    const TreeSnapshot snapshot = tree.snapshot();
    ASSERT_EQ(snapshot.size(), 8u);
    EXPECT_EQ(tree.read("docs/a.txt"), "hello\nworld");
    EXPECT_EQ(tree.read("eq.txt"), "a -> b");
    EXPECT_EQ(snapshot.at("docs/a.txt").modifiedTime, utcTime(2020, 5, 6, 7, 8, 10));
    EXPECT_EQ(snapshot.at("docs/").type, Type::Folder);
    EXPECT_EQ(snapshot.at("empty/").type, Type::Folder);
    EXPECT_EQ(snapshot.at("data/b.bin").size, 5000);
    EXPECT_EQ(tree.read("data/b.bin"), patternBytes(5000));
    EXPECT_EQ(snapshot.at("link").type, Type::Link);
    EXPECT_EQ(snapshot.at("link").linkTarget, "docs/a.txt");
    EXPECT_EQ(snapshot.at("pipe").type, Type::Other);
    EXPECT_EQ(snapshot.at("docs/a.txt").mode, 0644u);
}

TEST(TempTreeFixture, DifferencesNameEveryMissingExtraAndChangedEntry) {
    TempTree tree(R"(
        keep.txt = same
        change.txt = one
        gone.txt = x
    )");
    tree.setModifiedTime("change.txt", 1700000000);
    const TreeSnapshot before = tree.snapshot();
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "");
    // The rewrite keeps the time, so that only what the test changes is told, whenever it runs.
    tree.file("change.txt", "two!")
        .setModifiedTime("change.txt", 1700000000)
        .remove("gone.txt")
        .folder("new/");
    EXPECT_EQ(snapshotDifferences(before, tree.snapshot()), "changed change.txt: size 3 -> 4 content\n"
                                                            "missing gone.txt\n"
                                                            "extra new/\n");
}

TEST(TempTreeFixture, RemovesLockedFoldersWhenDone) {
    std::string root;
    {
        TempTree tree("locked/inner/file = x\n");
        tree.setMode("locked/inner", 0).setMode("locked", 0);
        root = tree.root();
    }
    struct stat st;
    EXPECT_NE(lstat(root.c_str(), &st), 0);
}

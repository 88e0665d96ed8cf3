#include "core/inventory/paths.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

using namespace paritas;
using paritas::test::RecordingHost;
using paritas::test::TempTree;

TEST(LastPathPart, GivesTheFileNameOrTheLastFolderWithItsSeparator) {
    EXPECT_EQ(LastPathPart("/home/ann/report.txt"), "report.txt");
    EXPECT_EQ(LastPathPart("/home/ann/photos/"), "photos/");
    EXPECT_EQ(LastPathPart("/report.txt"), "report.txt"); // directly in the root
    EXPECT_EQ(LastPathPart("/photos/"), "photos/");
}

TEST(LastPathPart, TextWithoutASeparatorBeforeItsLastCharacterIsItsOwnLastPart) {
    EXPECT_EQ(LastPathPart("report.txt"), "report.txt");
    EXPECT_EQ(LastPathPart("photos/"), "photos/");
    EXPECT_EQ(LastPathPart("/"), "/");
    EXPECT_EQ(LastPathPart(""), "");
}

TEST(LastPathPart, IsAtMost500BytesAndNeverCutsACharacterInTwo) {
    const std::string ascii(600, 'x');
    EXPECT_EQ(LastPathPart("/d/" + ascii), std::string(500, 'x'));
    std::string wide;
    for (int i = 0; i < 300; ++i)
        wide += "é";                                     // two bytes each: byte 500 starts a character
    EXPECT_EQ(LastPathPart("/d/x" + wide).size(), 499u); // "x" + 249 whole characters
}

TEST(FolderTree, WalksBreadthFirstRootFirstThenLevelByLevel) {
    TempTree tree(R"(
        b/b1/
        a/a1/deep/
        a/file = x
        b/b1/file = y
    )");
    RecordingHost host;
    const std::string& r = tree.root();
    EXPECT_EQ(FolderTree(r, host),
              (FolderList{r, r + "a/", r + "b/", r + "a/a1/", r + "b/b1/", r + "a/a1/deep/"}));
    EXPECT_EQ(host.keepAliveCount, 5); // once per folder found
    EXPECT_TRUE(host.lines.empty());
}

TEST(FolderTree, ARootWithoutSubfoldersIsTheListAlone) {
    TempTree tree("only.txt = x\n");
    RecordingHost host;
    EXPECT_EQ(FolderTree(tree.root(), host), FolderList{tree.root()});
    EXPECT_EQ(host.keepAliveCount, 0);
}

TEST(FolderTree, SubfoldersOfOneFolderComeInByteOrderAndHiddenOnesAreWalked) {
    TempTree tree(R"(
        b/
        B/
        .config/inner/
        a b/
    )");
    RecordingHost host;
    const std::string& r = tree.root();
    EXPECT_EQ(FolderTree(r, host),
              (FolderList{r, r + ".config/", r + "B/", r + "a b/", r + "b/", r + ".config/inner/"}));
}

TEST(FolderTree, LinksAreNeverFollowedSoLoopsAndOutsideFoldersStayOut) {
    TempTree outside("elsewhere/deep/\n");
    TempTree tree("a/\n");
    tree.link("a/up", "..");
    tree.link("a/self", "self");
    tree.link("out", outside.path("elsewhere"));
    RecordingHost host;
    const std::string& r = tree.root();
    EXPECT_EQ(FolderTree(r, host), (FolderList{r, r + "a/"}));
}

TEST(FolderTree, FolderNamesThatCannotBeCarriedAreSkippedWithOneLineEach) {
    TempTree tree(R"(
        good/
        star*dir/inner/
    )");
    tree.folder("new\nline/inner/");
    RecordingHost host;
    const std::string& r = tree.root();
    EXPECT_EQ(FolderTree(r, host), (FolderList{r, r + "good/"}));
    EXPECT_EQ(host.lines,
              (std::vector<std::string>{"Skipped name that cannot be carried: " + r + "new?line/",
                                        "Skipped name that cannot be carried: " + r + "star*dir/"}));
}

TEST(FolderTree, AFolderThatCannotBeOpenedStandsInTheListButNothingBelowIt) {
    // The folder goes away while the walk runs: after "a" is found, "b" (already read from the root)
    // is removed before it is searched.
    TempTree tree(R"(
        a/a1/
        b/b1/
        c/c1/
    )");
    RecordingHost host;
    host.onKeepAlive = [&](int count) {
        if (count == 1)
            tree.remove("b");
    };
    const std::string& r = tree.root();
    EXPECT_EQ(FolderTree(r, host), (FolderList{r, r + "a/", r + "b/", r + "c/", r + "a/a1/", r + "c/c1/"}));
}

TEST(FolderTree, AMissingEmptyOrRelativeRootIsReturnedAloneUnwalked) {
    TempTree tree("x/\n");
    RecordingHost host;
    EXPECT_EQ(FolderTree(tree.path("missing/"), host), FolderList{tree.path("missing/")});
    EXPECT_EQ(FolderTree("", host), FolderList{""});
    EXPECT_EQ(FolderTree("x/", host), FolderList{"x/"});
    EXPECT_EQ(host.keepAliveCount, 0);
}

TEST(FolderTree, ARootWithoutItsSeparatorStaysAsGivenAndItsSubfoldersAreRealPaths) {
    TempTree tree("a/b/\n");
    RecordingHost host;
    const std::string root = tree.root().substr(0, tree.root().size() - 1);
    EXPECT_EQ(FolderTree(root, host), (FolderList{root, root + "/a/", root + "/a/b/"}));
}

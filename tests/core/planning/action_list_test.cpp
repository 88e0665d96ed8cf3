#include "core/planning/action_list.h"

#include <gtest/gtest.h>

using namespace paritas;

TEST(ActionLine, KindsAreRecognisedByTheirFirstTwoCharactersCaseIncluded) {
    EXPECT_EQ(actionKind("CreateDir /b/x"), ActionKind::CreateFolder);
    EXPECT_EQ(actionKind("Move-Rename /b/a*/b/c"), ActionKind::MoveRename);
    EXPECT_EQ(actionKind("Copy /a/x*/b/x"), ActionKind::Copy);
    EXPECT_EQ(actionKind("DeleteFile /b/x"), ActionKind::DeleteFile);
    EXPECT_EQ(actionKind("RemoveDir /b/old"), ActionKind::RemoveFolder);
    EXPECT_EQ(actionKind("createDir /b/x"), ActionKind::None);
    EXPECT_EQ(actionKind("Original    /a/x"), ActionKind::None);
    EXPECT_EQ(actionKind(""), ActionKind::None);
    EXPECT_TRUE(isOriginalLine("Original   */a/x"));
    EXPECT_TRUE(isOriginalSelection("Original    /a/x"));
    EXPECT_FALSE(isOriginalSelection("Or"));
}

TEST(ActionLine, MoveAndCopyAreCutAtTheFirstSeparator) {
    const CutPair copy = pairFrom("Copy /A/x.txt*/B/y.txt", 6);
    EXPECT_TRUE(copy.hasSeparator);
    EXPECT_EQ(copy.source, "/A/x.txt");
    EXPECT_EQ(copy.destination, "/B/y.txt");
    const CutPair move = pairFrom("Move-Rename /B/old/x.txt*/B/new/x.txt", 13);
    EXPECT_EQ(move.source, "/B/old/x.txt");
    EXPECT_EQ(move.destination, "/B/new/x.txt");
    EXPECT_FALSE(pairFrom("Copy /A/x.txt", 6).hasSeparator);
}

TEST(ActionLine, TailsAreCappedAtAThousandCharactersAndSaySo) {
    const std::string longPath = "/" + std::string(1200, 'p');
    const CutPath cut = pathFrom("DeleteFile " + longPath, 12);
    EXPECT_EQ(cut.path.size(), 1000u);
    EXPECT_TRUE(cut.truncated);
    EXPECT_FALSE(pathFrom("DeleteFile /b/x", 12).truncated);
    EXPECT_EQ(pathFrom("DeleteFile /b/x", 12).path, "/b/x");
}

TEST(ActionLine, ThePathShownForReviewFollowsTheLineKind) {
    EXPECT_EQ(singlePathOf("Copy /a/x*/b/x"), "/a/x");
    EXPECT_EQ(singlePathOf("Move-Rename /b/o*/b/n"), "/b/o");
    EXPECT_EQ(singlePathOf("DeleteFile /b/x"), "/b/x");
    EXPECT_EQ(singlePathOf("RemoveDir /b/old"), "/b/old");
    EXPECT_EQ(singlePathOf("Original   */a/x"), "/a/x");
    EXPECT_EQ(singlePathOf("Original    /a/x"), "/a/x");
    EXPECT_EQ(singlePathOf("CreateDir /b/new"), "");
}

#include "core/planning/action_list.h"

#include <gtest/gtest.h>

using namespace paritas;

// The texts the review window, the logs and `paritas-cli plan` show are rendered from the items, byte
// for byte as the lines have always read, whatever the paths hold.
TEST(ActionLine, EveryKindRendersItsLineText) {
    const std::string longPath = "/b/" + std::string(1500, 'p');
    const struct {
        PlanItem item;
        std::string text;
    } rows[] = {
        {createFolderItem("/b/x"), "CreateDir /b/x"},
        {moveItem("/b/a", "/b/c"), "Move-Rename /b/a*/b/c"},
        {copyItem("/a/x y.txt", "/b/x y.txt"), "Copy /a/x y.txt*/b/x y.txt"},
        {deleteItem("/b/x"), "DeleteFile /b/x"},
        {removeFolderItem("/b/old"), "RemoveDir /b/old"},
        {originalItem("/a/x"), "Original    /a/x"},
        {originalItem("/a/x", true), "Original   */a/x"},
        {deleteItem(longPath), "DeleteFile " + longPath},
        {copyItem("/a/é—字", longPath), "Copy /a/é—字*" + longPath},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(lineText(row.item), row.text);
        EXPECT_EQ(lineLength(row.item), row.text.size()) << row.text;
    }
}

TEST(ActionLine, ThePathShownForReviewFollowsTheKind) {
    EXPECT_EQ(shownPath(copyItem("/a/x", "/b/x")), "/a/x");
    EXPECT_EQ(shownPath(moveItem("/b/o", "/b/n")), "/b/o");
    EXPECT_EQ(shownPath(deleteItem("/b/x")), "/b/x");
    EXPECT_EQ(shownPath(removeFolderItem("/b/old")), "/b/old");
    EXPECT_EQ(shownPath(originalItem("/a/x", true)), "/a/x");
    EXPECT_EQ(shownPath(createFolderItem("/b/new")), "");
}

// The review's swap: the other file is kept, the formerly kept one deleted, and the stamps the
// executor checks them by go with the files.
TEST(ActionLine, SwappingAPairTradesPathsAndStamps) {
    PlanItem kept = originalItem("/a/kept", true);
    kept.facts.sourceKnown = true;
    kept.facts.source.size = 1;
    PlanItem dup = deleteItem("/a/dup");
    dup.facts.sourceKnown = true;
    dup.facts.source.size = 2;
    dup.facts.original = 0;
    swapDuplicatePair(kept, dup);
    EXPECT_EQ(lineText(kept), "Original    /a/dup");
    EXPECT_EQ(lineText(dup), "DeleteFile /a/kept");
    EXPECT_EQ(kept.facts.source.size, 2);
    EXPECT_EQ(dup.facts.source.size, 1);
    EXPECT_EQ(dup.facts.original, 0u);
}

#include "core/app/layout_rules.h"

#include <gtest/gtest.h>

using namespace paritas;

TEST(MainWindowLayout, DesignWidthPlacesTreesAndMiddleColumn) {
    const MainLayout l = computeMainLayout(876, 691, 99, WindowLayout::Normal);
    EXPECT_EQ(l.treeAWidth, 265);
    EXPECT_EQ(l.editAWidth, 265);
    EXPECT_EQ(l.treeBLeft, 590);
    EXPECT_EQ(l.editBLeft, 590);
    EXPECT_EQ(l.treeBWidth, 263);
    EXPECT_EQ(l.editBWidth, 263);
    EXPECT_EQ(l.radioGroupLeft, 286);
    EXPECT_EQ(l.label3Left, 293);
    EXPECT_EQ(l.label2Left, 301);
    EXPECT_EQ(l.analyseLeft, 285);
    EXPECT_EQ(l.label5Left, 493);
    EXPECT_EQ(l.label4Left, 510);
    EXPECT_EQ(l.gridBLeft, 438);
    EXPECT_EQ(l.gridBWidth, 413);
    EXPECT_EQ(l.gridAWidth, 428);
}

TEST(MainWindowLayout, AnOddWidthDropsTheRemainder) {
    const MainLayout even = computeMainLayout(876, 691, 99, WindowLayout::Normal);
    const MainLayout odd = computeMainLayout(877, 691, 99, WindowLayout::Normal);
    EXPECT_EQ(odd.treeAWidth, even.treeAWidth);
    EXPECT_EQ(odd.treeBLeft, even.treeBLeft);
    EXPECT_EQ(odd.treeBWidth, even.treeBWidth);
    EXPECT_EQ(odd.radioGroupLeft, even.radioGroupLeft);
    EXPECT_EQ(odd.label4Left, even.label4Left);
}

TEST(MainWindowLayout, NormalLayoutPutsTheProgressAreaAboveTheLog) {
    const MainLayout l = computeMainLayout(876, 691, 99, WindowLayout::Normal);
    EXPECT_EQ(l.label9Top, 446);
    EXPECT_EQ(l.progressTop, 462);
    EXPECT_EQ(l.bottomLabelsTop, 479);
    EXPECT_TRUE(l.jobAreaVisible);
    EXPECT_EQ(l.minClientHeight, 650);
    EXPECT_FALSE(l.outerHeight.has_value());
}

TEST(MainWindowLayout, CompactLayoutPinsTheHeightAt430) {
    const MainLayout first = computeMainLayout(876, 691, 99, WindowLayout::Compact);
    EXPECT_EQ(first.outerHeight, 430);
    EXPECT_FALSE(first.jobAreaVisible);
    const MainLayout settled = computeMainLayout(876, 430, 99, WindowLayout::Compact);
    EXPECT_EQ(settled.label9Top, 306);
    EXPECT_EQ(settled.progressTop, 320);
    EXPECT_EQ(settled.bottomLabelsTop, 341);
}

TEST(MainWindowLayout, JobListColumnsFillTheGrid) {
    EXPECT_EQ(jobColumnWidths(900, WindowLayout::Normal), (std::array<int, 5>{100, 300, 100, 300, 100}));
    EXPECT_EQ(jobColumnWidths(900, WindowLayout::Compact), (std::array<int, 5>{56, 225, 225, 225, 56}));
    EXPECT_EQ(computeMainLayout(926, 691, 99, WindowLayout::Normal).jobColumns,
              (std::array<int, 5>{100, 300, 100, 300, 100}));
}

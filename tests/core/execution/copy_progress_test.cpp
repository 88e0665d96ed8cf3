#include "core/execution/copy_progress.h"

#include "support/exec_fixture.h"

#include <gtest/gtest.h>

using namespace paritas;
using namespace paritas::testing;

TEST(CopyProgressTexts, PercentageRoundsHalfToEvenAndAnEmptyFileIsComplete) {
    EXPECT_EQ(copyPercentage(0, 0), 100);
    EXPECT_EQ(copyPercentage(0, 10), 0);
    EXPECT_EQ(copyPercentage(1, 8), 12);  // 12.5
    EXPECT_EQ(copyPercentage(3, 8), 38);  // 37.5
    EXPECT_EQ(copyPercentage(1, 200), 0); // 0.5
    EXPECT_EQ(copyPercentage(3, 200), 2); // 1.5
    EXPECT_EQ(copyPercentage(2, 3), 67);
    EXPECT_EQ(copyPercentage(10, 10), 100);
    const uint64_t huge = uint64_t{1} << 62;
    EXPECT_EQ(copyPercentage(huge / 2, huge), 50);
}

TEST(CopyProgressTexts, MegabytesAreWholeAndTruncated) {
    EXPECT_EQ(copyMegabyteText(1000, 1048575), "0 MB of 0 MB Finished");
    const uint64_t threeAndAHalf = 3 * 1048576 + 524288;
    EXPECT_EQ(copyMegabyteText(threeAndAHalf / 2, threeAndAHalf), "1 MB of 3 MB Finished");
    EXPECT_EQ(copyPercentage(threeAndAHalf / 2, threeAndAHalf), 50);
    EXPECT_EQ(copyMegabyteText(uint64_t{5} << 30, uint64_t{5} << 30), "5120 MB of 5120 MB Finished");
}

TEST(CopyProgressButtons, CancelStopsThisCopyOnlyAndCancelAllAlsoTheRunButNotTheJobList) {
    RecordingHost host;
    StopFlags flags;
    bool cancel = false;
    cancelCopy(cancel, host);
    EXPECT_TRUE(cancel);
    EXPECT_FALSE(flags.action);
    bool cancelAll = false;
    cancelAllCopies(cancelAll, flags, host);
    EXPECT_TRUE(cancelAll);
    EXPECT_TRUE(flags.action);
    EXPECT_FALSE(flags.jobList);
    EXPECT_EQ(host.lines, (std::vector<std::string>{"Copy File Interupted", "Copy File Interupted"}));
}

// The "Leave out" lines in unattended.ini: one entry a line of the box, read back as typed, written in
// place of the old entries, everything else of the file kept.

#include "core/settings/leave_out.h"

#include <gtest/gtest.h>

using namespace paritas;

namespace {
using Lines = std::vector<std::string>;
}

TEST(LeaveOutSettings, TheBoxsLinesComeBackAsTyped) {
    const std::vector<Lines> boxes = {
        {},
        {"node_modules/"},
        {"# caches", "", "*.tmp", "!keep.tmp", "  leading blanks", "trailing\\ ", "a = b", "leave-out = x"},
    };
    for (const Lines& box : boxes) {
        KeyValueFile file = readKeyValues({"# header", "removed-files = trash"});
        storeLeaveOut(box, file);
        EXPECT_EQ(readLeaveOut(readKeyValues(file.lines)), box);
        EXPECT_EQ(file.get("removed-files"), "trash");
        EXPECT_EQ(file.lines.front(), "# header");
    }
}

TEST(LeaveOutSettings, ASaveReplacesTheOldEntriesInPlaceAndKeepsTheRest) {
    KeyValueFile file = readKeyValues(
        {"# header", "leave-out = old1", "verify-copies = yes", "leave-out=old2", "newer-entry = 3"});
    EXPECT_EQ(readLeaveOut(file), (Lines{"old1", "old2"}));
    storeLeaveOut({"new1", "new2", "", ""}, file);
    EXPECT_EQ(file.lines, (Lines{"# header", "leave-out = new1", "leave-out = new2", "verify-copies = yes",
                                 "newer-entry = 3"}));
    storeLeaveOut({}, file);
    EXPECT_EQ(file.lines, (Lines{"# header", "verify-copies = yes", "newer-entry = 3"}));
    storeLeaveOut({"*.o"}, file);
    EXPECT_EQ(file.lines.back(), "leave-out = *.o");
    // Entries whose key only begins so are other entries.
    EXPECT_EQ(readLeaveOut(readKeyValues({"leave-outs = x", "# leave-out = y", "leave-out"})), Lines{});
}

TEST(LeaveOutSettings, TheBoxTextSplitsAtEveryLineEndAndDropsBlankLinesAtItsEnd) {
    EXPECT_EQ(leaveOutLines(""), Lines{});
    EXPECT_EQ(leaveOutLines("a\nb\r\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(leaveOutLines("\n# c\n\n*.o\n\n  \n"), (Lines{"", "# c", "", "*.o"}));
}

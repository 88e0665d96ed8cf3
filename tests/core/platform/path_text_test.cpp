#include "core/platform/datetime.h"
#include "core/platform/path_text.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace paritas;

TEST(LocationText, ChosenFolderGetsExactlyOneTrailingSeparator) {
    EXPECT_EQ(withTrailingSeparator("/home/ann/Docs"), "/home/ann/Docs/");
    EXPECT_EQ(withTrailingSeparator("/home/ann/Docs/"), "/home/ann/Docs/");
}

TEST(LocationText, RootKeepsItsSingleSeparatorAndNothingChosenStaysEmpty) {
    EXPECT_EQ(withTrailingSeparator("/"), "/");
    EXPECT_EQ(withTrailingSeparator(""), "");
}

TEST(LocationText, NamesWithStarOrControlCharactersCannotBeCarried) {
    EXPECT_TRUE(holdsUncarriableCharacter("a*b"));
    EXPECT_TRUE(holdsUncarriableCharacter("line\nbreak"));
    EXPECT_TRUE(holdsUncarriableCharacter(std::string("tab\tname")));
    EXPECT_FALSE(holdsUncarriableCharacter("Zürich 東京 report (1).txt"));
}

class DosTime : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        std::setlocale(LC_ALL, "C");
    }
    static std::time_t utc(int y, int mo, int d, int h, int mi, int s) {
        std::tm tm{};
        tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi,
        tm.tm_sec = s;
        return timegm(&tm);
    }
};

TEST_F(DosTime, PacksDateInHighWordAndTimeInTwoSecondSteps) {
    const int32_t v = packDosDateTime(utc(2026, 12, 8, 10, 15, 31));
    EXPECT_EQ(uint32_t(v) >> 16, uint32_t(((2026 - 1980) << 9) | (12 << 5) | 8));
    EXPECT_EQ(uint32_t(v) & 0xffff, uint32_t((10 << 11) | (15 << 5) | 15));
    EXPECT_EQ(dosDateTimeText(v), "12/08/26 10:15:30");
}

TEST_F(DosTime, MidnightShowsTheDateAlone) {
    EXPECT_EQ(dosDateTimeText(packDosDateTime(utc(2024, 2, 29, 0, 0, 0))), "02/29/24");
    EXPECT_EQ(dosDateTimeText(packDosDateTime(utc(2024, 2, 29, 0, 0, 1))), "02/29/24") << "two-second steps";
    EXPECT_EQ(dosDateTimeText(packDosDateTime(utc(2024, 2, 29, 0, 0, 2))), "02/29/24 00:00:02");
}

TEST_F(DosTime, TimesOutsideTheDosRangeAreClampedToItsEnds) {
    EXPECT_EQ(dosDateTimeText(packDosDateTime(0)), "01/01/80");
    EXPECT_EQ(dosDateTimeText(packDosDateTime(utc(2200, 6, 1, 12, 0, 0))), "12/31/07 23:59:58");
    EXPECT_LT(packDosDateTime(utc(2107, 12, 31, 23, 59, 59)), 0) << "years from 2044 set the sign bit";
}

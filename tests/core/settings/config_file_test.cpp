#include "core/app/text_file.h"
#include "core/base/modes.h"
#include "core/settings/config_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace paritas;
namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path = fs::temp_directory_path() / ("paritas-config-" + std::to_string(::getpid()));
    TempFolder() { fs::create_directories(path); }
    ~TempFolder() { fs::remove_all(path); }
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Favourite daily() {
    return {"Daily", "/data/", std::string(kModeNames[2]), "/backup/", "Yes"};
}

// A file as the program writes it with default settings and a normal 700 x 500 window.
std::vector<std::string> defaultLines() {
    ConfigFile c;
    c.clientHeight = 500;
    c.clientWidth = 700;
    return configLines(c);
}

} // namespace

TEST(ConfigFile, DefaultsWriteThirtyNineLinesWithFlagsCaptionsViewAndSize) {
    ConfigFile c;
    c.settings.timeText = "14:05:09";
    c.clientHeight = 512;
    c.clientWidth = 780;
    const auto lines = configLines(c);
    ASSERT_EQ(lines.size(), 39u);
    EXPECT_EQ(lines[0], "F Prompt for every Delete");
    EXPECT_EQ(lines[3], "T Confirm Action list before File changes");
    EXPECT_EQ(lines[6], "F Match Modified TimeStamp");
    EXPECT_EQ(lines[7], "T Leave file with newer modified date (Unchecked leaves older file)");
    EXPECT_EQ(lines[9], "F Monday");
    EXPECT_EQ(lines[15], "F Sunday");
    EXPECT_EQ(lines[16], "F Every day at :");
    EXPECT_EQ(lines[17], "F Save log file After scheduled job finishes");
    EXPECT_EQ(lines[18], "14:05:09");
    EXPECT_EQ(lines[19], "F Compact");
    EXPECT_EQ(lines[20], "H512");
    EXPECT_EQ(lines[21], "W780");
    EXPECT_EQ(lines[22], " ");
    for (int i = 23; i < 39; ++i)
        EXPECT_EQ(lines[std::size_t(i)], "") << i;
}

TEST(ConfigFile, WrittenThroughTheTextFileWithCrLfAndReadBackTheSame) {
    TempFolder t;
    ConfigFile c;
    c.settings.CheckDelete = true;
    c.settings.CheckName = false;
    c.settings.days[2] = true;
    c.settings.SaveLog = true;
    c.settings.timeText = "06:30";
    c.compact = true;
    c.clientHeight = 321;
    c.clientWidth = 654;
    c.favourites = {daily(), {"Nightly", "/home/me/", std::string(kModeNames[0]), "/mnt/usb/", "No"}};
    const fs::path file = t.path / kConfigFileName;
    ASSERT_EQ(writeTextLines(file, configLines(c)), "");
    const std::string raw = slurp(file);
    EXPECT_NE(raw.find("F Prompt for new Folder creation\r\nF Prompt for Copy/Move\r\n"), std::string::npos);
    EXPECT_NE(
        raw.find("\r\n/data/*A*2*B*/backup/*C*Yes*D*Daily\r\n/home/me/*A*0*B*/mnt/usb/*C*No*D*Nightly\r\n"),
        std::string::npos);

    const auto lines = readTextLines(file);
    ASSERT_TRUE(lines);
    ConfigFile back;
    ASSERT_TRUE(applyConfigLines(*lines, back).empty());
    EXPECT_TRUE(back.settings.CheckDelete);
    EXPECT_FALSE(back.settings.CheckName);
    EXPECT_TRUE(back.settings.days[2]);
    EXPECT_FALSE(back.settings.days[0]);
    EXPECT_TRUE(back.settings.SaveLog);
    EXPECT_EQ(back.settings.timeText, "06:30");
    EXPECT_TRUE(back.compact);
    EXPECT_EQ(back.clientHeight, 321);
    EXPECT_EQ(back.clientWidth, 654);
    EXPECT_FALSE(back.maximised);
    EXPECT_EQ(back.favourites, c.favourites);
}

TEST(ConfigFile, TheDailyFavouriteLineRoundTrips) {
    EXPECT_EQ(favouriteLine(daily()), "/data/*A*2*B*/backup/*C*Yes*D*Daily");
    auto lines = defaultLines();
    lines.push_back("/data/*A*2*B*/backup/*C*Yes*D*Daily");
    ConfigFile c;
    ASSERT_TRUE(applyConfigLines(lines, c).empty());
    ASSERT_EQ(c.favourites.size(), 1u);
    EXPECT_EQ(c.favourites[0], daily());
}

TEST(ConfigFile, EmptyNamedFavouritesWriteNoLineAndTheRowsAfterThemStillDo) {
    ConfigFile c;
    c.favourites = {daily(),
                    {"", "/x/", std::string(kModeNames[1]), "/y/", "Yes"},
                    {"Last", "/p/", std::string(kModeNames[3]), "/q/", "No"}};
    const auto lines = configLines(c);
    ASSERT_EQ(lines.size(), 41u);
    EXPECT_EQ(lines[39], "/data/*A*2*B*/backup/*C*Yes*D*Daily");
    EXPECT_EQ(lines[40], "/p/*A*3*B*/q/*C*No*D*Last");
}

TEST(ConfigFile, AModeMatchingNoNameIsWrittenAsNineAndLoadsEmpty) {
    Favourite f = daily();
    f.modeName = "COPY MISSING"; // not an exact mode name
    EXPECT_EQ(favouriteLine(f), "/data/*A*9*B*/backup/*C*Yes*D*Daily");
    auto lines = defaultLines();
    lines.push_back(favouriteLine(f));
    ConfigFile c;
    ASSERT_TRUE(applyConfigLines(lines, c).empty());
    ASSERT_EQ(c.favourites.size(), 1u);
    EXPECT_EQ(c.favourites[0].modeName, "");
    EXPECT_EQ(c.favourites[0].locationB, "/backup/");
}

TEST(ConfigFile, MaximisedWritesMAndLoadingIgnoresTheSizeLines) {
    ConfigFile c;
    c.maximised = true;
    c.clientHeight = 400;
    c.clientWidth = 600;
    auto lines = configLines(c);
    EXPECT_EQ(lines[22], "M");
    lines[20] = "Hbad";
    lines[21] = "W";
    ConfigFile back;
    back.clientHeight = 11;
    back.clientWidth = 22;
    EXPECT_TRUE(applyConfigLines(lines, back).empty());
    EXPECT_TRUE(back.maximised);
    EXPECT_EQ(back.clientHeight, 11);
    EXPECT_EQ(back.clientWidth, 22);
}

TEST(ConfigFile, FlagLinesAreReadByTheirFirstCharacterOnly) {
    auto lines = defaultLines();
    lines[0] = "T whatever the caption says";
    lines[3] = "Fnothing";
    lines[4] = "";
    lines[5] = "t lower case is not ticked";
    ConfigFile c;
    ASSERT_TRUE(applyConfigLines(lines, c).empty());
    EXPECT_TRUE(c.settings.CheckDelete);
    EXPECT_FALSE(c.settings.CheckBoxConfirm);
    EXPECT_FALSE(c.settings.CheckSize);
    EXPECT_FALSE(c.settings.CheckName);
    EXPECT_TRUE(c.settings.CheckNewer);
}

TEST(ConfigFile, EveryTickedWithMondayUntickedLoadsAllDaysTicked) {
    auto lines = defaultLines();
    lines[9] = "F Monday";
    lines[16] = "T Every day at :";
    ConfigFile c;
    ASSERT_TRUE(applyConfigLines(lines, c).empty());
    EXPECT_TRUE(c.settings.Every);
    for (bool day : c.settings.days)
        EXPECT_TRUE(day);
}

TEST(ConfigFile, EveryUntickedKeepsTheDaysAsTheFileHasThem) {
    auto lines = defaultLines();
    lines[10] = "T Tuesday";
    ConfigFile c;
    ASSERT_TRUE(applyConfigLines(lines, c).empty());
    EXPECT_TRUE(c.settings.days[1]);
    EXPECT_FALSE(c.settings.days[0]);
}

TEST(ConfigFile, LongTimeAndSizeTextsAreCut) {
    auto lines = defaultLines();
    lines[18] = "12:00:00 PM and more text";
    lines[20] = "H123456";
    lines[21] = "W98765";
    ConfigFile c;
    ASSERT_TRUE(applyConfigLines(lines, c).empty());
    EXPECT_EQ(c.settings.timeText, "12:00:00 PM and");
    EXPECT_EQ(c.clientHeight, 1234);
    EXPECT_EQ(c.clientWidth, 9876);
}

TEST(ConfigFile, AShortFileAppliesWhatItHasAndReportsTheRestAsMissing) {
    struct Row {
        std::size_t length;
        const char* report;
    };
    for (const Row& row : {Row{0, "Lines 1 to 23 are missing"}, Row{10, "Lines 11 to 23 are missing"},
                           Row{22, "Line 23 is missing"}}) {
        SCOPED_TRACE(row.length);
        auto lines = defaultLines();
        lines[0] = "T Prompt for every Delete";
        lines[21] = "W640";
        lines.resize(row.length);
        ConfigFile c;
        c.clientWidth = 42;
        const auto problems = applyConfigLines(lines, c);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].rfind(row.report, 0), 0u) << problems[0];
        EXPECT_EQ(c.settings.CheckDelete, row.length > 0);
        EXPECT_EQ(c.clientWidth, row.length > 21 ? 640 : 42);
        EXPECT_TRUE(c.settings.CheckBoxConfirm);
        EXPECT_EQ(c.settings.timeText, "12:00");
    }
}

// An empty size line once aborted every start of the program.
TEST(ConfigFile, ABadSizeKeepsItsValueIsReportedAndLoadingGoesOn) {
    struct Row {
        std::size_t line;
        const char* text;
    };
    for (const Row& row : {Row{20, ""}, Row{20, "H"}, Row{21, ""}, Row{21, "W"}, Row{21, "Wide"}}) {
        SCOPED_TRACE(row.text);
        auto lines = defaultLines();
        lines[20] = "H480";
        lines[21] = "W640";
        lines[row.line] = row.text;
        lines.push_back(favouriteLine(daily()));
        ConfigFile c;
        c.clientHeight = 11;
        c.clientWidth = 22;
        const auto problems = applyConfigLines(lines, c);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].rfind("Line " + std::to_string(row.line + 1) + ": ", 0), 0u) << problems[0];
        EXPECT_EQ(c.clientHeight, row.line == 20 ? 11 : 480);
        EXPECT_EQ(c.clientWidth, row.line == 21 ? 22 : 640);
        EXPECT_EQ(c.favourites.size(), 1u);
    }
}

// Saving after such a load once dropped the unread line and every favourite after it.
TEST(ConfigFile, AnUnreadableFavouriteIsReportedTheOthersLoadAndASaveWritesItBackUnchanged) {
    auto lines = defaultLines();
    lines.push_back(favouriteLine(daily()));
    lines.push_back("/a/*A*x*B*/b/*C*No*D*Broken");
    lines.push_back("no markers at all");
    lines.push_back("/p/*A*3*B*/q/*C*No*D*Last");
    ConfigFile c;
    const auto problems = applyConfigLines(lines, c);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].rfind("Line 41: ", 0), 0u) << problems[0];
    EXPECT_EQ(problems[1].rfind("Line 42: ", 0), 0u) << problems[1];
    ASSERT_EQ(c.favourites.size(), 2u);
    EXPECT_EQ(c.favourites[1].name, "Last");

    const auto saved = configLines(c);
    ASSERT_EQ(saved.size(), 43u);
    EXPECT_EQ(saved[40], "/p/*A*3*B*/q/*C*No*D*Last");
    EXPECT_EQ(saved[41], "/a/*A*x*B*/b/*C*No*D*Broken");
    EXPECT_EQ(saved[42], "no markers at all");
}

TEST(ConfigFile, FavouriteFieldsAreFoundByTheFirstMarkerAndTheNameIsCutAt100Characters) {
    auto lines = defaultLines();
    const std::string longName = "N*A*1*B*x" + std::string(120, 'z');
    lines.push_back("/a/*A*1*B*/b/*C*Yes*D*" + longName);
    ConfigFile c;
    ASSERT_TRUE(applyConfigLines(lines, c).empty());
    ASSERT_EQ(c.favourites.size(), 1u);
    EXPECT_EQ(c.favourites[0].modeName, std::string(kModeNames[1]));
    EXPECT_EQ(c.favourites[0].name, longName.substr(0, 100));
}

TEST(ConfigFile, ANameWithALineBreakStaysOnOneLine) {
    Favourite f = daily();
    f.name = "two\nlines";
    EXPECT_EQ(favouriteLine(f), "/data/*A*2*B*/backup/*C*Yes*D*two lines");
}

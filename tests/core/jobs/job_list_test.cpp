#include "core/jobs/job_list.h"

#include "core/base/modes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace paritas;
namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path = fs::temp_directory_path() / ("paritas-jobs-" + std::to_string(::getpid()));
    TempFolder() { fs::create_directories(path); }
    ~TempFolder() { fs::remove_all(path); }
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Job job(std::string a, int mode, std::string b, std::string subfolders) {
    return Job{kJobWaiting, std::move(a), mode < 0 ? "" : std::string(kModeNames[std::size_t(mode)]),
               std::move(b), std::move(subfolders)};
}

// 2026-12-07 was a Monday; 12:00:05 UTC (ctest runs with TZ=UTC).
constexpr std::time_t kMondayNoon = 1796644805;

} // namespace

TEST(JobListFile, AJobIsWrittenAsLocationMarkersAndModeDigit) {
    EXPECT_EQ(jobLine(job("/data/A/", 1, "/backup/B/", "No")), "/data/A/*A*1*B*/backup/B/*C*No");
    EXPECT_EQ(jobLine(job("/a/", 0, "/b/", "Yes")), "/a/*A*0*B*/b/*C*Yes");
    EXPECT_EQ(jobLine(job("/a/", 3, "/b/", "Yes")), "/a/*A*3*B*/b/*C*Yes");
}

TEST(JobListFile, AModeNameIsMatchedExactlyAndAnUnknownOneStillLoadsBack) {
    Job trimmed = job("/a/", -1, "/b/", "Yes");
    trimmed.modeName = "BACKUP (ADVANCED) A to B"; // the trailing blank is part of the name
    EXPECT_EQ(jobLine(trimmed), "/a/*A*9*B*/b/*C*Yes");
    const JobListReading back = readJobLines({jobLine(trimmed)});
    ASSERT_EQ(back.error, "");
    ASSERT_EQ(back.jobs.size(), 1u);
    EXPECT_EQ(back.jobs[0].modeName, "");
    EXPECT_EQ(back.jobs[0].locationA, "/a/");
    EXPECT_EQ(back.jobs[0].locationB, "/b/");
}

TEST(JobListFile, SavingLeavesOutRowsWithoutStatusAndAnEmptyTableWritesAnEmptyFile) {
    TempFolder t;
    const fs::path file = t.path / "jobs.jbl";
    std::vector<Job> rows = {job("/a/", 0, "/b/", "Yes"), Job{}, job("/c/", 2, "/d/", "No")};
    rows[2].status = kJobFinished; // statuses are never stored
    ASSERT_EQ(writeJobListFile(file, rows), "");
    EXPECT_EQ(slurp(file), "/a/*A*0*B*/b/*C*Yes\r\n/c/*A*2*B*/d/*C*No\r\n");
    ASSERT_EQ(writeJobListFile(file, {Job{}}), "");
    EXPECT_EQ(slurp(file), "");
}

TEST(JobListFile, AFileRoundTripsAndEveryJobComesBackWaiting) {
    TempFolder t;
    const fs::path file = t.path / "round.jbl";
    std::vector<Job> rows = {job("/média/Ä/", 0, "/b/", "Yes"), job("/c/", 3, "/d d/", "No")};
    rows[0].status = kJobFinished;
    ASSERT_EQ(writeJobListFile(file, rows), "");
    bool read = false;
    const JobListReading back = readJobListFile(file, &read);
    EXPECT_TRUE(read);
    EXPECT_EQ(back.error, "");
    rows[0].status = kJobWaiting;
    EXPECT_EQ(back.jobs, rows);
}

TEST(JobListFile, ReadingSplitsAtTheFirstMarkersAndCapsSubfolders) {
    const std::string longTail(1500, 'x');
    const JobListReading r =
        readJobLines({"/a/*A*2*B*/b/*C*No*C*more", "/a/*A*7*B*/b/*C*Maybe", "/a/*A*1*B*/b/*C*" + longTail});
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.jobs.size(), 3u);
    EXPECT_EQ(r.jobs[0].modeName, kModeNames[2]);
    EXPECT_EQ(r.jobs[0].subfolders, "No*C*more");
    EXPECT_FALSE(r.jobs[0].includesSubfolders());
    EXPECT_EQ(r.jobs[1].modeName, "") << "digit 7 names no mode";
    EXPECT_EQ(r.jobs[1].subfolders, "Maybe");
    EXPECT_TRUE(r.jobs[1].includesSubfolders()) << "only a leading N unticks subfolders";
    EXPECT_EQ(r.jobs[2].subfolders.size(), 1000u);
}

TEST(JobListFile, ABadLineStopsReadingAndKeepsTheJobsBeforeIt) {
    const std::vector<std::vector<std::string>> cases = {
        {"/a/*A*0*B*/b/*C*Yes", "/c/*A*x*B*/d/*C*Yes", "/e/*A*1*B*/f/*C*No"}, // letter for a digit
        {"/a/*A*0*B*/b/*C*Yes", "", "/e/*A*1*B*/f/*C*No"},                    // empty line
        {"/a/*A*0*B*/b/*C*Yes", "/c/*A*", "/e/*A*1*B*/f/*C*No"},              // nothing after *A*
        {"/a/*A*0*B*/b/*C*Yes", "/c/*A*1*B*/d/", "/e/*A*1*B*/f/*C*No"},       // no *C*
        {"/a/*A*0*B*/b/*C*Yes", "/c/*A*1*C*No*B*/d/", "/e/*A*1*B*/f/*C*No"},  // markers out of order
    };
    for (const auto& lines : cases) {
        const JobListReading r = readJobLines(lines);
        ASSERT_EQ(r.jobs.size(), 1u) << lines[1];
        EXPECT_EQ(r.jobs[0].locationA, "/a/");
        EXPECT_NE(r.error.find("Line 2"), std::string::npos) << r.error;
    }
}

TEST(JobListFile, AFileThatCannotBeReadOrWrittenReportsWhy) {
    TempFolder t;
    bool read = true;
    const JobListReading r = readJobListFile(t.path / "missing.jbl", &read);
    EXPECT_FALSE(read);
    EXPECT_TRUE(r.jobs.empty());
    EXPECT_NE(r.error, "");
    EXPECT_NE(writeJobListFile(t.path / "no-such-folder" / "x.jbl", {job("/a/", 0, "/b/", "Yes")}), "");
}

TEST(ActionLogName, HoldsNoColonNorSeparatorAndEndsWithTxt) {
    const std::string name = actionLogFileName(kMondayNoon);
    EXPECT_EQ(name.rfind("ActionLog", 0), 0u);
    EXPECT_EQ(name.find(':'), std::string::npos);
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_EQ(name.substr(name.size() - 4), ".txt");
    EXPECT_EQ(name, "ActionLog12_07_26 12_00_05.txt"); // the C locale's %x %X
}

TEST(Schedule, FiresOnlyOnTheTickedWeekdayAtTheExactTimeText) {
    std::array<bool, 7> days{};
    days[0] = true; // Monday
    EXPECT_EQ(isoWeekday(kMondayNoon), 1);
    EXPECT_EQ(isoWeekday(kMondayNoon + 6 * 86400), 7);
    EXPECT_EQ(timeText(kMondayNoon), "12:00:05");
    EXPECT_TRUE(scheduleFires(days, "12:00:05", kMondayNoon));
    EXPECT_FALSE(scheduleFires(days, "12:00:05", kMondayNoon + 1)) << "the next second";
    EXPECT_FALSE(scheduleFires(days, "12:00:05", kMondayNoon + 86400)) << "Tuesday";
    EXPECT_FALSE(scheduleFires(days, "12:00", kMondayNoon)) << "no seconds never matches";
    days[1] = true;
    EXPECT_TRUE(scheduleFires(days, "12:00:05", kMondayNoon + 86400));
}

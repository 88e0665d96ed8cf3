#pragma once
// The job list as plain values, its file format, and the texts the job runner and the schedule need.
//
// A job-list file (".jbl") holds one line per job, no header, no status:
//
//   <location A>*A*<mode index digit>*B*<location B>*C*<Subfolders text>
//   e.g. "/data/A/*A*1*B*/backup/B/*C*No"
//
// Reading splits each line at the FIRST occurrence of each marker. The digit 0 to 3 names the mode;
// any other digit leaves the mode empty (such a job is never planned nor run). The first line that
// is not a job line ends the reading; the jobs before it are kept.

#include <array>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

// The statuses of the job table. Statuses are never stored in job-list files.
inline constexpr const char* kJobWaiting = "Waiting";
inline constexpr const char* kJobInProgress = "In Progress";
// Every action succeeded, both scans saw everything and the plan left nothing alone.
inline constexpr const char* kJobFinished = "Finished";
// The job ran, but something was not done: an action failed, a scan could not see everything, or
// the plan left files alone.
inline constexpr const char* kJobFailed = "Failed";
// Nothing was done: no mode or an unusable location.
inline constexpr const char* kJobNotRun = "Not Run";
// Nothing was done: a safety rule refused the job (the planner's refusals, the mass-deletion guard,
// another run working on the same destination).
inline constexpr const char* kJobRefused = "Refused";
// A stop request ended the job before or during its actions.
inline constexpr const char* kJobStopped = "Stopped";

// The mode digit written for a job whose mode name matches none of the four modes (a job loaded from
// a line with a digit outside 0 to 3). It keeps the job loadable: it loads back with an empty mode.
inline constexpr char kUnknownModeDigit = '9';

// One row of the job table. A row is a job exactly when its status is not empty.
struct Job {
    std::string status;
    std::string locationA;
    std::string modeName; // one of kModeNames, or empty
    std::string locationB;
    std::string subfolders; // "Yes" or "No"; only the first character matters to the runner

    bool isJob() const { return !status.empty(); }
    // The runner includes subfolders unless the Subfolders text begins with "N".
    bool includesSubfolders() const { return subfolders.empty() || subfolders.front() != 'N'; }
    friend bool operator==(const Job&, const Job&) = default;
};

// The file line of one job.
std::string jobLine(const Job& job);
// The lines of every job (rows with an empty status are left out), in order.
std::vector<std::string> SaveJobList(const std::vector<Job>& rows);

struct JobListReading {
    std::vector<Job> jobs; // every job read, each "Waiting"
    std::string error;     // empty when every line was read; else why reading stopped
};

// Reads job lines; stops at the first line that is not a job line (see above).
JobListReading readJobLines(const std::vector<std::string>& lines);

// Writes / reads a job-list file. Writing returns an empty text on success, else the system's error
// text; a failed write leaves an existing file as it was. A file that cannot be read gives no jobs
// and its error.
std::string writeJobListFile(const std::string& path, const std::vector<Job>& rows);
JobListReading readJobListFile(const std::string& path, bool* fileRead = nullptr);

// The file name of the activity log saved after a scheduled run: "ActionLog" + the date-time text of
// `moment` + ".txt", with every ":" and every other character that a file name cannot hold (the path
// separator among them) replaced by "_". A plain name, so it lands in the current working folder.
std::string actionLogFileName(std::time_t moment);

// The schedule's view of a moment: the ISO weekday (1 Monday to 7 Sunday) and the locale's long time
// text (%X), both of the local time.
int isoWeekday(std::time_t moment);
std::string timeText(std::time_t moment);

// True when the schedule fires at `moment`: the day box of its weekday is ticked (Monday first) and
// the time field equals the moment's time text exactly.
bool scheduleFires(const std::array<bool, 7>& days, std::string_view timeField, std::time_t moment);

} // namespace paritas

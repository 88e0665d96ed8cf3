#include "core/jobs/job_list.h"

#include "core/app/text_file.h"
#include "core/base/modes.h"
#include "core/platform/datetime.h"

#include <algorithm>

namespace paritas {
namespace {

constexpr std::string_view kMarkerA = "*A*";
constexpr std::string_view kMarkerB = "*B*";
constexpr std::string_view kMarkerC = "*C*";
constexpr std::size_t kSubfoldersCap = 1000;
constexpr std::size_t kQuotedLineCap = 200;

// Cuts a UTF-8 text to at most `cap` bytes without splitting a character.
std::string capped(std::string_view text, std::size_t cap) {
    if (text.size() <= cap)
        return std::string(text);
    std::size_t end = cap;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

std::string notAJobLine(std::size_t lineNumber, std::string_view line, std::string_view why) {
    std::string quoted = capped(line, kQuotedLineCap);
    if (quoted.size() < line.size())
        quoted += "...";
    return "Line " + std::to_string(lineNumber) + " of the job list is not a job line (" + std::string(why) +
           "): \"" + quoted + "\"";
}

// One job from one line, or an error text.
bool parseJobLine(std::string_view line, std::size_t lineNumber, Job& job, std::string& error) {
    const std::size_t a = line.find(kMarkerA);
    if (a == std::string_view::npos) {
        error = notAJobLine(lineNumber, line, "no \"*A*\"");
        return false;
    }
    const std::size_t digitAt = a + kMarkerA.size();
    if (digitAt >= line.size() || line[digitAt] < '0' || line[digitAt] > '9') {
        error = notAJobLine(lineNumber, line, "no mode digit after \"*A*\"");
        return false;
    }
    const std::size_t b = line.find(kMarkerB);
    const std::size_t c = line.find(kMarkerC);
    // Location B lies between the first "*B*" and the first "*C*"; without both, in that order, the
    // line holds no location B, and a guessed one could send a backup into the wrong folder.
    if (b == std::string_view::npos || c == std::string_view::npos || c < b + kMarkerB.size()) {
        error = notAJobLine(lineNumber, line, "no \"*B*\" followed by \"*C*\"");
        return false;
    }
    job = Job{};
    job.status = kJobWaiting;
    job.locationA = std::string(line.substr(0, a));
    const int index = line[digitAt] - '0';
    if (index < int(kModeNames.size()))
        job.modeName = std::string(kModeNames[std::size_t(index)]);
    job.locationB = std::string(line.substr(b + kMarkerB.size(), c - b - kMarkerB.size()));
    job.subfolders = capped(line.substr(c + kMarkerC.size()), kSubfoldersCap);
    return true;
}

bool cannotBeInFileName(char ch) {
    const auto u = static_cast<unsigned char>(ch);
    if (u < 0x20 || u == 0x7F)
        return true;
    return std::string_view("/\\:*?\"<>|").find(ch) != std::string_view::npos;
}

std::tm localMoment(std::time_t moment) {
    std::tm tm{};
    localtime_r(&moment, &tm);
    return tm;
}

} // namespace

std::string jobLine(const Job& job) {
    const int index = modeIndex(job.modeName);
    const char digit = index < 0 ? kUnknownModeDigit : char('0' + index);
    std::string line = job.locationA;
    line += kMarkerA;
    line += digit;
    line += kMarkerB;
    line += job.locationB;
    line += kMarkerC;
    line += job.subfolders;
    return line;
}

std::vector<std::string> SaveJobList(const std::vector<Job>& rows) {
    std::vector<std::string> lines;
    for (const Job& row : rows)
        if (row.isJob())
            lines.push_back(jobLine(row));
    return lines;
}

JobListReading readJobLines(const std::vector<std::string>& lines) {
    JobListReading reading;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Job job;
        if (!parseJobLine(lines[i], i + 1, job, reading.error))
            break;
        reading.jobs.push_back(std::move(job));
    }
    return reading;
}

std::string writeJobListFile(const std::string& path, const std::vector<Job>& rows) {
    return writeTextLines(path, SaveJobList(rows));
}

JobListReading readJobListFile(const std::string& path, bool* fileRead) {
    std::string error;
    const auto lines = readTextLines(path, &error);
    if (fileRead)
        *fileRead = lines.has_value();
    if (!lines)
        return JobListReading{{}, error.empty() ? "Cannot read file " + path : error};
    return readJobLines(*lines);
}

std::string actionLogFileName(std::time_t moment) {
    std::string stamp = dateTimeText(moment);
    std::replace_if(stamp.begin(), stamp.end(), cannotBeInFileName, '_');
    return "ActionLog" + stamp + ".txt";
}

int isoWeekday(std::time_t moment) {
    const std::tm tm = localMoment(moment);
    return tm.tm_wday == 0 ? 7 : tm.tm_wday;
}

std::string timeText(std::time_t moment) {
    const std::tm tm = localMoment(moment);
    std::array<char, 128> buffer{};
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), "%X", &tm);
    return std::string(buffer.data(), n);
}

bool scheduleFires(const std::array<bool, 7>& days, std::string_view timeField, std::time_t moment) {
    const int weekday = isoWeekday(moment);
    const std::string now = timeText(moment);
    for (int d = 1; d <= 7; ++d)
        if (days[std::size_t(d - 1)] && weekday == d && timeField == now)
            return true;
    return false;
}

} // namespace paritas

#include "core/jobs/schedule.h"

#include "core/jobs/job_list.h"

#include <cctype>

namespace paritas {
namespace {

// Reads one or two digits at `at`.
bool readNumber(std::string_view text, std::size_t& at, int& value, std::size_t maxDigits) {
    const std::size_t start = at;
    value = 0;
    while (at < text.size() && at - start < maxDigits && std::isdigit(static_cast<unsigned char>(text[at])))
        value = value * 10 + (text[at++] - '0');
    return at > start;
}

std::tm localDay(std::time_t moment) {
    std::tm tm{};
    localtime_r(&moment, &tm);
    return tm;
}

// The moment of `time` on the local date of `day`.
std::time_t momentOn(const TimeOfDay& time, std::time_t day) {
    std::tm tm = localDay(day);
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

bool dayTicked(const std::array<bool, 7>& days, std::time_t moment) {
    return days[std::size_t(isoWeekday(moment) - 1)];
}

} // namespace

std::optional<TimeOfDay> parseTimeOfDay(std::string_view text) {
    TimeOfDay t;
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    if (!readNumber(text, at, t.hour, 2) || at >= text.size() || text[at++] != ':')
        return std::nullopt;
    const std::size_t minuteAt = at;
    if (!readNumber(text, at, t.minute, 2) || at - minuteAt != 2)
        return std::nullopt;
    if (at < text.size() && text[at] == ':') {
        const std::size_t secondAt = ++at;
        if (!readNumber(text, at, t.second, 2) || at - secondAt != 2)
            return std::nullopt;
    }
    std::string rest;
    for (; at < text.size(); ++at)
        if (text[at] != ' ')
            rest += char(std::toupper(static_cast<unsigned char>(text[at])));
    if (!rest.empty()) {
        if ((rest != "AM" && rest != "PM") || t.hour < 1 || t.hour > 12)
            return std::nullopt;
        t.hour = t.hour % 12 + (rest == "PM" ? 12 : 0);
    }
    if (t.hour > 23 || t.minute > 59 || t.second > 59)
        return std::nullopt;
    return t;
}

std::string clockText(const TimeOfDay& time, std::time_t day) {
    return timeText(momentOn(time, day));
}

std::optional<std::string> completedTimeField(std::string_view field, std::time_t day) {
    const auto time = parseTimeOfDay(field);
    if (!time)
        return std::nullopt;
    return clockText(*time, day);
}

std::optional<std::time_t> dueMoment(const std::array<bool, 7>& days, std::string_view timeField,
                                     std::time_t previousTick, std::time_t now) {
    const auto time = parseTimeOfDay(timeField);
    if (!time) {
        if (scheduleFires(days, timeField, now))
            return now;
        return std::nullopt;
    }
    if (!dayTicked(days, now))
        return std::nullopt;
    const std::time_t moment = momentOn(*time, now);
    if (moment > previousTick && moment <= now)
        return moment;
    return std::nullopt;
}

std::vector<std::time_t> scheduledMomentsBetween(const std::array<bool, 7>& days, std::string_view timeField,
                                                 std::time_t from, std::time_t to, std::size_t cap) {
    std::vector<std::time_t> moments;
    const auto time = parseTimeOfDay(timeField);
    if (!time || to <= from)
        return moments;
    // Day by day from the day of `from`; noon keeps the step clear of daylight-saving changes.
    std::time_t day = momentOn(TimeOfDay{12, 0, 0}, from);
    for (int guard = 0; guard < 4000 && moments.size() < cap;
         ++guard, day = momentOn(TimeOfDay{12, 0, 0}, day + 86400)) {
        const std::time_t moment = momentOn(*time, day);
        if (moment >= to)
            break;
        if (moment > from && dayTicked(days, moment))
            moments.push_back(moment);
    }
    return moments;
}

} // namespace paritas

#include "core/platform/datetime.h"

#include <array>

namespace paritas {
namespace {

std::string formatted(const std::tm& tm) {
    std::array<char, 256> buffer{};
    const bool midnight = tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0;
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), midnight ? "%x" : "%x %X", &tm);
    return std::string(buffer.data(), n);
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

int32_t packDosDateTime(std::time_t t) {
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr)
        return (0 << 25) | (1 << 21) | (1 << 16); // 1980-01-01 00:00:00
    int year = tm.tm_year + 1900;
    int month = tm.tm_mon + 1, day = tm.tm_mday, hour = tm.tm_hour, minute = tm.tm_min, second = tm.tm_sec;
    if (year < 1980) {
        year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    } else if (year > 2107) {
        year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
    }
    if (second > 59) // a leap second
        second = 59;
    const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return static_cast<int32_t>((date << 16) | time);
}

std::string dosDateTimeText(int32_t packed) {
    const uint32_t value = static_cast<uint32_t>(packed);
    const uint32_t date = value >> 16, time = value & 0xffff;
    std::tm tm{};
    tm.tm_year = static_cast<int>((date >> 9) & 0x7f) + 1980 - 1900;
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0f) - 1;
    tm.tm_mday = static_cast<int>(date & 0x1f);
    tm.tm_hour = static_cast<int>((time >> 11) & 0x1f);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3f);
    tm.tm_sec = static_cast<int>(time & 0x1f) * 2;
    // Week day and year day are not printed by %x %X in any common locale, but some locales' %x
    // spells the weekday. They follow from the date alone (mktime would also work them out, but it
    // looks at the time zone file on every call, one system call per row of a listing).
    const int year = tm.tm_year + 1900, month = tm.tm_mon + 1, day = tm.tm_mday;
    if (month >= 1 && month <= 12 && day >= 1) {
        tm.tm_wday = int((daysFromCivil(year, month, day) % 7 + 11) % 7); // 1970-01-01 was a Thursday
        tm.tm_yday = int(daysFromCivil(year, month, day) - daysFromCivil(year, 1, 1));
    }
    return formatted(tm);
}

std::string dateTimeText(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return formatted(tm);
}

std::string nowDateTimeText() {
    return dateTimeText(std::time(nullptr));
}

std::string nowTimeText() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::array<char, 128> buffer{};
    const std::size_t n = std::strftime(buffer.data(), buffer.size(), "%X", &tm);
    return std::string(buffer.data(), n);
}

} // namespace paritas

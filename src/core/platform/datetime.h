#pragma once
// Time texts and packed file times.
//
// A file time is kept as a local MS-DOS date/time value: the date word in the high 16 bits
// (bits 9-15 year since 1980, 5-8 month, 0-4 day), the time word in the low 16 bits (11-15 hours,
// 5-10 minutes, 0-4 seconds / 2), read as a signed 32-bit integer. Times outside the DOS range are
// clamped to its ends (1980-01-01 00:00:00 and 2107-12-31 23:59:58).
//
// A date-time text is the locale's short date (%x), a blank and its long time (%X); at exactly
// midnight the date alone. The program calls setlocale(LC_ALL, "") once at start.

#include <cstdint>
#include <ctime>
#include <string>

namespace paritas {

int32_t packDosDateTime(std::time_t t);
std::string dosDateTimeText(int32_t packed);
std::string dateTimeText(std::time_t t);
std::string nowDateTimeText();
// The locale's long time of the current moment (%X), as the schedule compares it.
std::string nowTimeText();

} // namespace paritas

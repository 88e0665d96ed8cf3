#pragma once
// The weekly schedule's arithmetic: when a start is due, and which starts were missed.
//
// The time field holds a time of day as the clock shows it (the locale's long time format, "%X").
// A tick fires when a scheduled moment (a ticked weekday at the field's time) lies after the previous
// tick and not after this one, on this tick's day. So a second that no tick fell into (the machine
// slept, the window was busy) starts the run once, late, on the same day; a moment of an earlier day
// is never started late, only reported as missed.

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

struct TimeOfDay {
    int hour = 0, minute = 0, second = 0;
};

// "14:30", "14:30:00", "2:30:00 PM" (AM/PM in either case); nullopt for anything else.
std::optional<TimeOfDay> parseTimeOfDay(std::string_view text);

// The clock's text (%X) of `time` on the day of `day`: what the time field must hold to match.
std::string clockText(const TimeOfDay& time, std::time_t day);

// The time field as the clock would show it, when it is a time of day; nullopt when it is none.
// "12:00" becomes "12:00:00" where the clock shows seconds.
std::optional<std::string> completedTimeField(std::string_view field, std::time_t day);

// The scheduled moment that falls after `previousTick` and not after `now`, on the day of `now`, or
// nullopt. A field that is no time of day falls back to the exact comparison of texts at `now`.
std::optional<std::time_t> dueMoment(const std::array<bool, 7>& days, std::string_view timeField,
                                     std::time_t previousTick, std::time_t now);

// Every scheduled moment after `from` and before `to`, oldest first (at most `cap` of them).
std::vector<std::time_t> scheduledMomentsBetween(const std::array<bool, 7>& days, std::string_view timeField,
                                                 std::time_t from, std::time_t to, std::size_t cap = 50);

} // namespace paritas

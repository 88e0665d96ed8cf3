#pragma once
// The mass-deletion guard of unattended runs: a plan that would delete a large share of the files of
// the side it deletes from is refused before any line runs. It catches the night a source drive comes
// up empty or half-mounted, when a backup would otherwise empty its destination.
//
// What counts: every "DeleteFile" item, against the files of the side it lies in (the scan's file
// count of location A or B). Not counted: the delete of a duplicate pair (it names its original),
// because the executor deletes it only while the kept original holds the same
// bytes, so nothing is lost whatever the source looked like. In effect the guard bites on backup (its
// deletions in B); folder synch and copy missing delete nothing, and the duplicate modes delete only
// checked duplicates.
//
// The bound: a share ("50%", the default: more than half is refused, and only when the side holds at
// least 10 files), a count ("200": more than 200 deletions are refused, whatever the side's size), or
// none (never refused).

#include "core/planning/action_list.h"

#include <cstddef>
#include <optional>
#include <string>

namespace paritas {

struct DeletionBound {
    enum class Kind { Share, Count, None };
    Kind kind = Kind::Share;
    int value = 50; // percent for Share, files for Count

    // "50%", "200" or "none".
    std::string text() const;
    friend bool operator==(const DeletionBound&, const DeletionBound&) = default;
};

// A side holding fewer files than this is never refused by a share bound.
inline constexpr std::size_t kGuardMinimumFiles = 10;

// "50%" (0 to 100), "200" (0 or more) or "none"; nullopt for anything else.
std::optional<DeletionBound> parseDeletionBound(const std::string& text);

struct GuardSide {
    std::string location; // absolute, ending with the separator
    std::size_t files = 0;
};

// The refusal text of a plan that breaks the bound, or nullopt:
// "the plan deletes 51 of 100 files in /mnt/backup/ (more than 50%)".
std::optional<std::string> massDeletionRefusal(const ActionList& actions, const GuardSide& a,
                                               const GuardSide& b, const DeletionBound& bound);

} // namespace paritas

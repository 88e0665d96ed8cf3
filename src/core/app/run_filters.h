#pragma once
// What a run leaves out: one rule set, composed at the run's start and applied to the scans of both
// sides, so that a left-out entry is neither read nor changed on either side.
//
// The sources, in the order in which they are composed (the last rule that matches a path decides,
// as in git, so a later source can take back what an earlier one left out):
//   1. the configuration window's "Leave out" box (Settings::leaveOut; the window's runs and jobs)
//   2. the command line's --exclude, --include and --exclude-from, in the order given
//   3. ".paritasignore" at the top of location A
//   4. ".paritasignore" at the top of location B, for folder synch only (both sides are sources there)
// A backup, copy missing and the deletion of duplicates in B read B's ignore file as an ordinary file:
// a backup carries A's over it, so A's rules are what count. A rule set that differed between the
// sides would make a backup delete in B what A leaves out.
//
// A rule that cannot be read, or an ignore file that cannot be read, stops the run before its lock
// and its scans (RunSession refuses it; the command line exits with 2).

#include "core/inventory/filters.h"
#include "core/planning/planners.h"
#include "core/settings/settings.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace paritas {

// One filter option of the command line.
struct FilterOption {
    enum class Kind { Exclude, Include, ExcludeFrom };
    Kind kind = Kind::Exclude;
    std::string text; // the pattern, or the file of patterns
};

struct RunFilters {
    std::vector<FilterOption> options; // the command line's, in the order given
    // Backup only: B is scanned without the rules, and what they leave out of B is deleted like any
    // file A lacks (counted by the mass-deletion guard); it is never taken as a moved file.
    bool deleteLeftOutOfB = false;
};

// The origin of the box's lines in messages: "Leave out:3: pattern ...".
inline constexpr const char* kLeaveOutSource = "Leave out";

// The rules of the box's lines (ignore-file syntax: comments, blank lines, "!"). On an error no rule
// of the lines is added.
std::optional<FilterError> addLeaveOutLines(const std::vector<std::string>& lines, FilterRules& rules);

// The rules of the command line's options, in order.
std::optional<FilterError> addFilterOptions(const std::vector<FilterOption>& options, FilterRules& rules);

// The one rule set of a run of `kind` on A and B (see above). A location whose top cannot be
// searched adds no rules: its scan reports it, and the planners refuse or leave alone as for any
// unreadable folder.
struct RunRules {
    std::shared_ptr<const FilterRules> rules; // never null when there is no error (maybe empty)
    std::optional<FilterError> error;
};
RunRules runRules(const Settings& settings, const RunFilters& filters, PlanKind kind,
                  const std::string& locationA, const std::string& locationB);

} // namespace paritas

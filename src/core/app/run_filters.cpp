#include "core/app/run_filters.h"

#include "core/platform/path_text.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace paritas {
namespace {

// The top of a location cannot be searched (it exists, but its entries cannot be opened): its ignore
// file is not read here, and its scan says why nothing of it is seen.
bool topUnsearchable(const std::string& location) {
    return !location.empty() && ::faccessat(AT_FDCWD, location.c_str(), X_OK, AT_EACCESS) != 0 &&
           errno == EACCES;
}

std::optional<FilterError> addLocationRules(const std::string& location, FilterRules& rules) {
    // A text that names no location is refused by the planners; it has no ignore file.
    if (!isAbsolutePath(location) || topUnsearchable(location))
        return std::nullopt;
    return rules.readLocationIgnoreFile(location);
}

} // namespace

std::optional<FilterError> addLeaveOutLines(const std::vector<std::string>& lines, FilterRules& rules) {
    FilterRules added;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (auto error = added.addLine(lines[i], RuleOrigin{kLeaveOutSource, int(i + 1)}))
            return error;
    rules.append(added);
    return std::nullopt;
}

std::optional<FilterError> addFilterOptions(const std::vector<FilterOption>& options, FilterRules& rules) {
    for (const FilterOption& option : options) {
        std::optional<FilterError> error;
        switch (option.kind) {
        case FilterOption::Kind::Exclude:
            error = rules.addExclude(option.text);
            break;
        case FilterOption::Kind::Include:
            error = rules.addInclude(option.text);
            break;
        case FilterOption::Kind::ExcludeFrom:
            error = rules.readIgnoreFile(option.text);
            break;
        }
        if (error)
            return error;
    }
    return std::nullopt;
}

RunRules runRules(const Settings& settings, const RunFilters& filters, PlanKind kind,
                  const std::string& locationA, const std::string& locationB) {
    auto rules = std::make_shared<FilterRules>();
    std::optional<FilterError> error = addLeaveOutLines(settings.leaveOut, *rules);
    if (!error)
        error = addFilterOptions(filters.options, *rules);
    if (!error)
        error = addLocationRules(locationA, *rules);
    if (!error && kind == PlanKind::FolderSynch)
        error = addLocationRules(locationB, *rules);
    if (error)
        return RunRules{nullptr, std::move(error)};
    return RunRules{std::move(rules), std::nullopt};
}

} // namespace paritas

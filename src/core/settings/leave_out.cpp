#include "core/settings/leave_out.h"

#include <optional>
#include <string_view>

namespace paritas {
namespace {

constexpr std::string_view kLeaveOutKey = "leave-out";

bool blank(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

// The value of a "leave-out" entry line, or nothing for any other line.
std::optional<std::string> leaveOutValue(std::string_view line) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line.substr(start, kLeaveOutKey.size()) != kLeaveOutKey)
        return std::nullopt;
    std::size_t at = line.find_first_not_of(" \t", start + kLeaveOutKey.size());
    if (at == std::string_view::npos || line[at] != '=')
        return std::nullopt;
    ++at;
    if (at < line.size() && line[at] == ' ')
        ++at;
    return std::string(line.substr(at));
}

std::vector<std::string> withoutTrailingBlankLines(std::vector<std::string> lines) {
    while (!lines.empty() && blank(lines.back()))
        lines.pop_back();
    return lines;
}

} // namespace

std::vector<std::string> readLeaveOut(const KeyValueFile& file) {
    std::vector<std::string> lines;
    for (const std::string& line : file.lines)
        if (auto value = leaveOutValue(line))
            lines.push_back(std::move(*value));
    return lines;
}

void storeLeaveOut(const std::vector<std::string>& lines, KeyValueFile& file) {
    std::vector<std::string> kept;
    std::size_t place = std::string::npos;
    for (const std::string& line : file.lines) {
        if (leaveOutValue(line)) {
            if (place == std::string::npos)
                place = kept.size();
            continue;
        }
        kept.push_back(line);
    }
    if (place == std::string::npos)
        place = kept.size();
    std::vector<std::string> entries;
    for (const std::string& line : withoutTrailingBlankLines(lines))
        entries.push_back(std::string(kLeaveOutKey) + " = " + line);
    kept.insert(kept.begin() + std::ptrdiff_t(place), entries.begin(), entries.end());
    file.lines = std::move(kept);
}

std::vector<std::string> leaveOutLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return withoutTrailingBlankLines(std::move(lines));
}

} // namespace paritas

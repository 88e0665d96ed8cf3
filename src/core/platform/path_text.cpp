#include "core/platform/path_text.h"

namespace paritas {

bool differOnlyInAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size() || a == b)
        return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool holdsUncarriableCharacter(std::string_view text) {
    for (unsigned char c : text) {
        if (c == '*' || c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

std::string withTrailingSeparator(std::string_view path) {
    std::string result(path);
    if (!result.empty() && result.back() != kSeparator)
        result += kSeparator;
    return result;
}

} // namespace paritas

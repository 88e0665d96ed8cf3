#include "core/platform/path_text.h"

namespace paritas {

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

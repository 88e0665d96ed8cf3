#pragma once
// Path texts as the rest of the program spells them: absolute, folders ending with one separator,
// built by plain concatenation. The separator is named once here so that a second platform can
// change it in one place.

#include <string>
#include <string_view>

namespace paritas {

inline constexpr char kSeparator = '/';

// True when a file or folder name holds a character that the action lines and the stored files
// cannot carry: the field separator "*" or a control character (which would split a line).
bool holdsUncarriableCharacter(std::string_view text);

// The location chooser's rule: a chosen folder gets exactly one trailing separator, the root keeps its
// single one, and an empty text (no folder chosen) stays empty.
std::string withTrailingSeparator(std::string_view path);

// True for two texts that are spelled differently but alike once ASCII letters are folded: two
// spellings that a file system which does not tell letter case apart takes for one name.
bool differOnlyInAsciiCase(std::string_view a, std::string_view b);

// True for a text that starts at the root of the file system.
inline bool isAbsolutePath(std::string_view path) {
    return !path.empty() && path.front() == kSeparator;
}

} // namespace paritas

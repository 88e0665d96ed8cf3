#pragma once
// Glob patterns as ignore files spell them, matched byte for byte and case-sensitively, exactly as git
// matches its ignore files (wildmatch): the users who write them know git's rules, and our tests hold
// this matcher against git itself.
//
//   ?        one byte; in a path, not "/"
//   *        any bytes; in a path, not "/"
//   **       in a path, when it stands alone between slashes or at an end ("**/x", "x/**", "a/**/b"):
//            any bytes, "/" included; "**/" may also match nothing, so "a/**/b" matches "a/b".
//            Elsewhere it is "*".
//   [...]    one byte of a set: single bytes, ranges "a-z", classes "[:alpha:]" (ASCII only), "\"
//            escaping the next byte; "!" or "^" first takes the complement; "]" first is a member.
//            In a path it never matches "/".
//   \x       the byte x itself
//
// A pattern is matched either against a name (no "/" in it) or against a relative path.

#include <string>
#include <string_view>

namespace paritas {

// Why a pattern can match nothing, as a sentence part, or empty when it is well formed: a "[" whose set
// is never closed, a character class whose name is unknown, or a lone "\" at the end. (git takes such a
// pattern silently and it never matches anything; a user who wrote one meant something else.)
std::string globPatternProblem(std::string_view pattern);

enum class GlobText { Name, Path };

// Whether `text` matches `pattern` (a NUL-terminated, well-formed pattern). `patternStart` is where the
// pattern began: a "**" directly after it counts as standing at the start (git matches a path pattern
// after taking off its literal head, and "**" right after the head stands at the start).
bool globMatches(const char* pattern, const char* patternStart, std::string_view text, GlobText kind);

inline bool globMatches(const char* pattern, std::string_view text, GlobText kind) {
    return globMatches(pattern, pattern, text, kind);
}

// The length of the literal head of a pattern: the bytes before its first "*", "?", "[" or "\".
std::size_t globLiteralLength(std::string_view pattern);

} // namespace paritas

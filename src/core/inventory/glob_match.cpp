#include "core/inventory/glob_match.h"

#include <cstring>

namespace paritas {
namespace {

using Byte = unsigned char;

// The outcome of matching the rest of a pattern. Besides yes and no, a star that has tried every
// position tells the stars around it that no other position of theirs can do better, which keeps
// patterns with many stars linear instead of exponential:
//   AbortAll          no star anywhere can make this match
//   AbortToStarStar   no "*" can, but a "**" further out may try its next position
enum class Outcome { Match, NoMatch, AbortAll, AbortToStarStar };

bool isGlobSpecial(Byte c) {
    return c == '*' || c == '?' || c == '[' || c == '\\';
}

// Character classes as git classifies bytes: ASCII only, and "space" is tab, newline, return and blank.
bool inClass(std::string_view name, Byte c, bool* known) {
    *known = true;
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    const bool digit = c >= '0' && c <= '9';
    const bool graph = c > 0x20 && c < 0x7f;
    if (name == "alnum")
        return upper || lower || digit;
    if (name == "alpha")
        return upper || lower;
    if (name == "blank")
        return c == ' ' || c == '\t';
    if (name == "cntrl")
        return c < 0x20 || c == 0x7f;
    if (name == "digit")
        return digit;
    if (name == "graph")
        return graph;
    if (name == "lower")
        return lower;
    if (name == "print")
        return graph || c == ' ';
    if (name == "punct")
        return graph && !upper && !lower && !digit;
    if (name == "space")
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (name == "upper")
        return upper;
    if (name == "xdigit")
        return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    *known = false;
    return false;
}

struct Text {
    const Byte* end;
    Byte at(const Byte* t) const { return t < end ? *t : 0; }
    const Byte* slashFrom(const Byte* t) const {
        return static_cast<const Byte*>(std::memchr(t, '/', std::size_t(end - t)));
    }
};

// One bracket set at p (on its "["), tried on byte t. Leaves p on the closing "]". A set that is never
// closed, or names an unknown class, aborts the whole match.
Outcome matchSet(const Byte*& p, Byte t, GlobText kind) {
    Byte pc = *++p;
    if (pc == '^')
        pc = '!';
    const bool negated = pc == '!';
    if (negated)
        pc = *++p;
    Byte previous = 0;
    bool matched = false;
    do {
        if (pc == 0)
            return Outcome::AbortAll;
        if (pc == '\\') {
            pc = *++p;
            if (pc == 0)
                return Outcome::AbortAll;
            matched |= t == pc;
        } else if (pc == '-' && previous != 0 && p[1] != 0 && p[1] != ']') {
            pc = *++p;
            if (pc == '\\') {
                pc = *++p;
                if (pc == 0)
                    return Outcome::AbortAll;
            }
            matched |= t <= pc && t >= previous;
            pc = 0; // a range is no start of the next one
        } else if (pc == '[' && p[1] == ':') {
            const Byte* name = p += 2;
            while ((pc = *p) != 0 && pc != ']')
                ++p;
            if (pc == 0)
                return Outcome::AbortAll;
            if (p - name < 1 || p[-1] != ':') {
                // No ":]": the "[" is a plain member and the set goes on after it.
                p = name - 2;
                pc = '[';
                matched |= t == pc;
                continue;
            }
            bool known = false;
            matched |= inClass(
                std::string_view(reinterpret_cast<const char*>(name), std::size_t(p - name - 1)), t, &known);
            if (!known)
                return Outcome::AbortAll;
            pc = 0;
        } else {
            matched |= t == pc;
        }
    } while (previous = pc, (pc = *++p) != ']');
    if (matched == negated || (kind == GlobText::Path && t == '/'))
        return Outcome::NoMatch;
    return Outcome::Match;
}

Outcome matchFrom(const Byte* p, const Byte* start, const Byte* text, const Text& whole, GlobText kind);

// A run of stars at p (on its first "*"), with the text at `text` (whose byte is t).
Outcome matchStars(const Byte* p, const Byte* start, const Byte* text, Byte t, const Text& whole,
                   GlobText kind) {
    bool crossesSlash = kind == GlobText::Name;
    if (*++p == '*') {
        const bool afterBoundary = p - 1 == start || p[-2] == '/';
        while (*++p == '*') {
        }
        if (afterBoundary && (*p == 0 || *p == '/' || (p[0] == '\\' && p[1] == '/'))) {
            // "**/" may stand for no folder at all: "a/**/b" matches "a/b".
            if (p[0] == '/' && matchFrom(p + 1, start, text, whole, kind) == Outcome::Match)
                return Outcome::Match;
            crossesSlash = true;
        }
    }
    if (*p == 0) {
        if (!crossesSlash && whole.slashFrom(text) != nullptr)
            return Outcome::NoMatch;
        return Outcome::Match;
    }
    if (!crossesSlash && *p == '/') {
        // One "*" then "/": the star takes the rest of this folder name.
        const Byte* slash = whole.slashFrom(text);
        if (slash == nullptr)
            return Outcome::NoMatch;
        return matchFrom(p + 1, start, slash + 1, whole, kind);
    }
    for (;;) {
        if (t == 0)
            break;
        if (!isGlobSpecial(*p)) {
            // The text up to the next byte the pattern names belongs to the star.
            const Byte wanted = *p;
            while ((t = whole.at(text)) != 0 && (crossesSlash || t != '/') && t != wanted)
                ++text;
            if (t != wanted)
                return Outcome::NoMatch;
        }
        const Outcome rest = matchFrom(p, start, text, whole, kind);
        if (rest != Outcome::NoMatch) {
            if (!crossesSlash || rest != Outcome::AbortToStarStar)
                return rest;
        } else if (!crossesSlash && t == '/') {
            return Outcome::AbortToStarStar;
        }
        t = whole.at(++text);
    }
    return Outcome::AbortAll;
}

Outcome matchFrom(const Byte* p, const Byte* start, const Byte* text, const Text& whole, GlobText kind) {
    for (Byte pc; (pc = *p) != 0; ++text, ++p) {
        const Byte t = whole.at(text);
        if (t == 0 && pc != '*')
            return Outcome::AbortAll;
        switch (pc) {
        case '\\':
            if (t != *++p)
                return Outcome::NoMatch;
            break;
        case '?':
            if (kind == GlobText::Path && t == '/')
                return Outcome::NoMatch;
            break;
        case '*':
            return matchStars(p, start, text, t, whole, kind);
        case '[': {
            const Outcome set = matchSet(p, t, kind);
            if (set != Outcome::Match)
                return set;
            break;
        }
        default:
            if (t != pc)
                return Outcome::NoMatch;
        }
    }
    return text < whole.end ? Outcome::NoMatch : Outcome::Match;
}

// Finds the end of the set whose "[" is at `open`, as matchSet reads it; npos when it is never closed.
// An unknown class name is put in `unknownClass`.
std::size_t setEnd(std::string_view pattern, std::size_t open, std::string* unknownClass) {
    std::size_t i = open + 1;
    auto at = [&](std::size_t k) { return k < pattern.size() ? pattern[k] : '\0'; };
    if (at(i) == '!' || at(i) == '^')
        ++i;
    char previous = 0;
    char c = at(i);
    do {
        if (c == 0)
            return std::string_view::npos;
        if (c == '\\') {
            c = at(++i);
            if (c == 0)
                return std::string_view::npos;
        } else if (c == '-' && previous != 0 && at(i + 1) != 0 && at(i + 1) != ']') {
            c = at(++i);
            if (c == '\\' && (c = at(++i)) == 0)
                return std::string_view::npos;
            c = 0;
        } else if (c == '[' && at(i + 1) == ':') {
            const std::size_t name = i += 2;
            while ((c = at(i)) != 0 && c != ']')
                ++i;
            if (c == 0)
                return std::string_view::npos;
            if (i - name < 1 || pattern[i - 1] != ':') {
                i = name - 2;
                c = '[';
                continue;
            }
            const std::string_view className = pattern.substr(name, i - name - 1);
            bool known = false;
            inClass(className, 0, &known);
            if (!known && unknownClass->empty())
                *unknownClass = "[:" + std::string(className) + ":]";
            c = 0;
        }
    } while (previous = c, (c = at(++i)) != ']');
    return i;
}

} // namespace

std::string globPatternProblem(std::string_view pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\') {
            if (++i == pattern.size())
                return "it ends with a lone \"\\\"";
            continue;
        }
        if (pattern[i] != '[')
            continue;
        std::string unknownClass;
        const std::size_t end = setEnd(pattern, i, &unknownClass);
        if (end == std::string_view::npos)
            return "\"" + std::string(pattern.substr(i)) + "\" opens a set that \"]\" never closes";
        if (!unknownClass.empty())
            return "the character class \"" + unknownClass + "\" is unknown";
        i = end;
    }
    return {};
}

bool globMatches(const char* pattern, const char* patternStart, std::string_view text, GlobText kind) {
    const auto* p = reinterpret_cast<const Byte*>(pattern);
    const auto* t = reinterpret_cast<const Byte*>(text.data());
    return matchFrom(p, reinterpret_cast<const Byte*>(patternStart), t, Text{t + text.size()}, kind) ==
           Outcome::Match;
}

std::size_t globLiteralLength(std::string_view pattern) {
    std::size_t n = 0;
    while (n < pattern.size() && !isGlobSpecial(Byte(pattern[n])))
        ++n;
    return n;
}

} // namespace paritas

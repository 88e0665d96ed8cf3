#pragma once
// Leaving things out of a scan: caches, build folders, virtual machines, temporary files. Rules are
// written as in git's ignore files and mean what they mean there:
//
//   # a comment             blank lines are skipped; trailing blanks are trimmed unless escaped ("\ ")
//   *.o                     no "/" (a trailing one aside): matches the name at any depth
//   /build                  a leading "/" anchors the pattern to the location's top
//   doc/*.tmp               a "/" elsewhere anchors it too: "doc/x.tmp", never "a/doc/x.tmp"
//   **/target  a/**/b  x/**  "**" crosses folders (see glob_match.h for the whole pattern syntax)
//   node_modules/           a trailing "/" matches folders only
//   !keep.o                 takes an earlier exclusion back; "\!" and "\#" start a pattern literally
//
// For a path, the last rule that matches it decides. A folder that is left out is never walked, so
// nothing below it can be taken back in: "build/" then "!build/keep.txt" leaves all of build out
// (write "build/*" then "!build/keep.txt" to keep one file). Paths are relative to the location,
// "/"-separated, compared byte for byte and case-sensitively.
//
// Where rules come from (the callers compose them in this order, so later sources take earlier ones
// back): the command line's --exclude, --include and --exclude-from, and the one ignore file at a
// location's top, ".paritasignore" (folders below hold none that counts). The ignore file is an ordinary
// file of the location and is carried like any other.
//
// The walk asks per entry, without allocating (FolderFilter): literal names ("node_modules") and
// extensions ("*.o") are looked up in hash tables, other "*literal" patterns compare a suffix, and a
// path pattern is only tried in folders its literal head can lead to.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace paritas {

inline constexpr std::string_view kIgnoreFileName = ".paritasignore";

// Where a rule came from: an ignore file and its line, or the option that gave it.
struct RuleOrigin {
    std::string source; // the file's path, or the option ("--exclude", "--include")
    int line = 0;       // 1-based line in the file; 0 for an option or for the file as a whole
    // "/data/.paritasignore:3", "/data/.paritasignore", "--exclude"
    std::string text() const;
};

// A rule that cannot be read, or an ignore file that cannot be read. A run must stop before it starts:
// the user's rules are not what they wrote, and a scan without them would plan on what they left out.
struct FilterError {
    RuleOrigin origin;
    std::string message;
    // "/data/.paritasignore:3: pattern "a[b" cannot be read: the "[" at byte 2 is never closed by "]""
    std::string text() const;
};

struct FilterRule {
    std::string written; // the pattern as written, "!" included for a rule from a file
    RuleOrigin origin;
    bool include = false; // takes an exclusion back ("!" in a file, --include)
};

// What the rules say about one path.
struct FilterVerdict {
    bool leftOut = false;
    // The rule that decided (an include when it took an exclusion back), or null when none matched. It
    // points into the rules, and holds while they are not changed.
    const FilterRule* rule = nullptr;
    // When a folder above the path was left out (so the path itself is never seen): that folder's
    // relative path, without trailing "/". Empty when the path was decided itself.
    std::string leftOutFolder;
};

class FilterRules {
public:
    // One line of an ignore file (without its line end): comments, blank lines, "!" and trailing blanks
    // as git reads them. A line that makes no rule ("", "# ...", "!") adds nothing.
    [[nodiscard]] std::optional<FilterError> addLine(std::string_view line, const RuleOrigin& origin);
    // A whole ignore file's text: lines ended by LF or CR LF, a leading UTF-8 byte-order mark skipped.
    // On an error no rule of the text is added.
    [[nodiscard]] std::optional<FilterError> addText(std::string_view text, const std::string& source);
    // A pattern given as an option: taken as written (no comment, no "!", no trimming). An empty pattern
    // is an error.
    [[nodiscard]] std::optional<FilterError> addExclude(std::string_view pattern,
                                                        const RuleOrigin& origin = {"--exclude", 0});
    [[nodiscard]] std::optional<FilterError> addInclude(std::string_view pattern,
                                                        const RuleOrigin& origin = {"--include", 0});
    // The rules of an ignore file (--exclude-from): a file that is missing or cannot be read is an error;
    // a pipe is read to its end. On an error no rule of the file is added.
    [[nodiscard]] std::optional<FilterError> readIgnoreFile(const std::string& path);
    // The rules of a location's own ignore file (location + ".paritasignore"), when there is one. A
    // missing file adds nothing; one that cannot be read, or is no regular file, is an error.
    [[nodiscard]] std::optional<FilterError> readLocationIgnoreFile(std::string_view location);
    // Adds other's rules after these (they take these back where they match later).
    void append(const FilterRules& other);

    bool empty() const { return rules_.empty(); }
    std::size_t size() const { return rules_.size(); }
    const FilterRule& rule(std::size_t index) const { return rules_[index]; }

    // Whether a path is left out: by its own last matching rule or because a folder above it is.
    // `relativePath` has no leading "/"; a trailing "/" says it is a folder.
    bool leftOut(std::string_view relativePath, bool isFolder) const {
        return verdict(relativePath, isFolder).leftOut;
    }
    FilterVerdict verdict(std::string_view relativePath, bool isFolder) const;

private:
    friend class FolderFilter;
    struct Compiled {
        std::string pattern;      // without "!", the trailing "/" and, for a path pattern, the leading "/"
        uint32_t literalHead = 0; // bytes before the first "*", "?", "[" or "\"
        bool include = false;
        bool foldersOnly = false;
        bool byName = false;   // no "/" in it: matched against the name at any depth
        bool endsWith = false; // by name, "*" then literal bytes
    };
    // The last rule with a literal name pattern (or extension), for a file and for a folder (-1: none).
    struct LiteralName {
        int forFile = -1;
        int forFolder = -1;
    };
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };

    std::optional<FilterError> addPattern(std::string_view pattern, bool include, std::string written,
                                          const RuleOrigin& origin);
    void index(std::size_t rule);

    std::vector<FilterRule> rules_;
    std::vector<Compiled> compiled_;
    using NameTable = std::unordered_map<std::string, LiteralName, NameHash, std::equal_to<>>;
    NameTable literalNames_; // "name"
    NameTable extensions_;   // "*.ext" by ".ext" (no other "." in it)
    // The lengths of the keys of each table, one bit per length (63 for longer): most names are looked
    // up in neither.
    uint64_t nameLengths_ = 0;
    uint64_t extensionLengths_ = 0;
    std::vector<uint32_t> patterned_; // the rules in neither table, in order
};

// The rules at work in one walk: prepared once per folder, then asked per entry without allocating.
// Holds a reference to the rules, which must outlive it unchanged. Not shared between threads.
class FolderFilter {
public:
    explicit FolderFilter(const FilterRules& rules);
    // The folder whose entries are asked next: "" for the location's top, else its relative path with
    // a trailing "/" ("a/b/"). The caller asks only in folders that are not left out themselves.
    void enter(std::string_view relativeFolder);
    bool leftOut(std::string_view name, bool isFolder) {
        const int rule = decidingRule(name, isFolder);
        return rule >= 0 && !rules_.compiled_[std::size_t(rule)].include;
    }
    // The index of the last rule that matches the entry, or -1.
    int decidingRule(std::string_view name, bool isFolder);

private:
    const FilterRules& rules_;
    std::size_t folderLength_ = 0;
    std::string path_;                 // the folder, then the entry's name while one is asked
    std::vector<uint32_t> candidates_; // rules that may match in this folder, in order
};

} // namespace paritas

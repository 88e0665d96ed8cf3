#include "core/inventory/filters.h"

#include "core/inventory/glob_match.h"
#include "core/inventory/paths.h"
#include "core/platform/path_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

constexpr std::size_t kLongestPattern = 4096;

// Trailing blanks are dropped unless a backslash escapes them ("a\ " keeps one blank); tabs stay.
std::string_view trimmedLine(std::string_view line) {
    std::size_t end = 0; // just after the last byte that stays
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ' ')
            continue;
        if (line[i] == '\\') {
            if (++i == line.size())
                return line; // a lone backslash at the end: the pattern's reader names it
        }
        end = i + 1;
    }
    return line.substr(0, end);
}

uint64_t lengthBit(std::size_t length) {
    return uint64_t(1) << std::min<std::size_t>(length, 63);
}

bool matchesName(const std::string& pattern, bool endsWith, std::string_view name) {
    if (endsWith) {
        const std::size_t tail = pattern.size() - 1;
        return name.size() >= tail && name.compare(name.size() - tail, tail, pattern, 1, tail) == 0;
    }
    return globMatches(pattern.c_str(), name, GlobText::Name);
}

// A path pattern: its literal head compared first, the rest matched after it (a "**" right after the
// head counts as standing at the pattern's start, as git has it).
bool matchesPath(const std::string& pattern, std::size_t head, std::string_view path) {
    if (path.size() < head || path.compare(0, head, pattern, 0, head) != 0)
        return false;
    if (head == pattern.size())
        return path.size() == head;
    const char* rest = pattern.c_str() + head;
    return globMatches(rest, rest, path.substr(head), GlobText::Path);
}

struct FileText {
    std::string text;
    int error = 0;
    bool isFolder = false;
    bool notRegular = false;
};

FileText readWhole(int fd, bool regularOnly) {
    FileText file;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        file.error = errno;
        return file;
    }
    file.isFolder = S_ISDIR(st.st_mode);
    file.notRegular = !S_ISREG(st.st_mode);
    if (file.isFolder || (regularOnly && file.notRegular))
        return file;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return file;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            file.error = errno;
            return file;
        }
        file.text.append(buffer, std::size_t(n));
    }
}

} // namespace

std::string RuleOrigin::text() const {
    return line > 0 ? source + ":" + std::to_string(line) : source;
}

std::string FilterError::text() const {
    return origin.text() + ": " + message;
}

std::optional<FilterError> FilterRules::addLine(std::string_view line, const RuleOrigin& origin) {
    if (line.empty() || line.front() == '#')
        return std::nullopt;
    line = trimmedLine(line);
    const std::string written(line);
    const bool include = !line.empty() && line.front() == '!';
    if (include)
        line.remove_prefix(1);
    return addPattern(line, include, written, origin);
}

std::optional<FilterError> FilterRules::addText(std::string_view text, const std::string& source) {
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark)
        text.remove_prefix(byteOrderMark.size());
    FilterRules added;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (auto error = added.addLine(line, RuleOrigin{source, ++number}))
            return error;
    }
    append(added);
    return std::nullopt;
}

std::optional<FilterError> FilterRules::addExclude(std::string_view pattern, const RuleOrigin& origin) {
    if (pattern.empty())
        return FilterError{origin, "the pattern is empty"};
    return addPattern(pattern, false, std::string(pattern), origin);
}

std::optional<FilterError> FilterRules::addInclude(std::string_view pattern, const RuleOrigin& origin) {
    if (pattern.empty())
        return FilterError{origin, "the pattern is empty"};
    return addPattern(pattern, true, std::string(pattern), origin);
}

std::optional<FilterError> FilterRules::addPattern(std::string_view pattern, bool include,
                                                   std::string written, const RuleOrigin& origin) {
    const auto refuse = [&](const std::string& why) {
        return FilterError{origin, "pattern \"" + printablePath(written) + "\" cannot be read: " + why};
    };
    if (pattern.find('\0') != std::string_view::npos)
        return refuse("it holds a zero byte");
    // No path is longer; and matching recurses once per star, which a bound keeps off the stack's end.
    if (pattern.size() > kLongestPattern)
        return refuse("it is longer than " + std::to_string(kLongestPattern) + " bytes");
    Compiled rule;
    rule.include = include;
    rule.foldersOnly = !pattern.empty() && pattern.back() == '/';
    if (rule.foldersOnly)
        pattern.remove_suffix(1);
    if (const std::string problem = globPatternProblem(pattern); !problem.empty())
        return refuse(problem);
    rule.byName = pattern.find('/') == std::string_view::npos;
    if (!rule.byName && pattern.front() == '/')
        pattern.remove_prefix(1);
    // "**/name" matches the name at any depth, the top included: it is a name pattern ("**/target" is
    // looked up as the literal "target").
    if (!rule.byName && pattern.substr(0, 3) == "**/" && pattern.find('/', 3) == std::string_view::npos) {
        pattern.remove_prefix(3);
        rule.byName = true;
    }
    // An empty pattern ("!", "/", "//") matches nothing; git takes it silently, and so do we.
    if (pattern.empty())
        return std::nullopt;
    rule.pattern = std::string(pattern);
    rule.literalHead = uint32_t(globLiteralLength(pattern));
    rule.endsWith =
        rule.byName && pattern.front() == '*' && globLiteralLength(pattern.substr(1)) == pattern.size() - 1;
    rules_.push_back(FilterRule{std::move(written), origin, include});
    compiled_.push_back(std::move(rule));
    index(compiled_.size() - 1);
    return std::nullopt;
}

void FilterRules::index(std::size_t rule) {
    const Compiled& c = compiled_[rule];
    NameTable* table = nullptr;
    std::string key;
    if (c.byName && c.literalHead == c.pattern.size()) {
        table = &literalNames_;
        key = c.pattern;
        nameLengths_ |= lengthBit(key.size());
    } else if (c.endsWith && c.pattern.size() >= 2 && c.pattern[1] == '.' &&
               c.pattern.find('.', 2) == std::string::npos) {
        // A name ends with ".ext" exactly when its last "." starts ".ext".
        table = &extensions_;
        key = c.pattern.substr(1);
        extensionLengths_ |= lengthBit(key.size());
    }
    if (table == nullptr) {
        patterned_.push_back(uint32_t(rule));
        return;
    }
    LiteralName& entry = (*table)[key];
    entry.forFolder = int(rule);
    if (!c.foldersOnly)
        entry.forFile = int(rule);
}

void FilterRules::append(const FilterRules& other) {
    for (std::size_t k = 0; k < other.rules_.size(); ++k) {
        rules_.push_back(other.rules_[k]);
        compiled_.push_back(other.compiled_[k]);
        index(compiled_.size() - 1);
    }
}

std::optional<FilterError> FilterRules::readIgnoreFile(const std::string& path) {
    const RuleOrigin origin{path, 0};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return FilterError{origin, "the file cannot be read: " + errorText(errno)};
    const FileText file = readWhole(fd, false);
    ::close(fd);
    if (file.isFolder)
        return FilterError{origin, "this is a folder, not a file of patterns"};
    if (file.error != 0)
        return FilterError{origin, "the file cannot be read: " + errorText(file.error)};
    return addText(file.text, path);
}

std::optional<FilterError> FilterRules::readLocationIgnoreFile(std::string_view location) {
    const std::string path = withTrailingSeparator(location) + std::string(kIgnoreFileName);
    const RuleOrigin origin{path, 0};
    // Never blocks: a pipe of that name is refused, not read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        return FilterError{origin, "the ignore file cannot be read: " + errorText(errno)};
    }
    const FileText file = readWhole(fd, true);
    ::close(fd);
    if (file.notRegular)
        return FilterError{origin, "the ignore file is not a regular file"};
    if (file.error != 0)
        return FilterError{origin, "the ignore file cannot be read: " + errorText(file.error)};
    return addText(file.text, path);
}

FilterVerdict FilterRules::verdict(std::string_view relativePath, bool isFolder) const {
    FilterVerdict verdict;
    if (!relativePath.empty() && relativePath.back() == '/') {
        relativePath.remove_suffix(1);
        isFolder = true;
    }
    if (relativePath.empty() || rules_.empty())
        return verdict;
    FolderFilter filter(*this);
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relativePath.find('/', start);
        const bool last = slash == std::string_view::npos;
        filter.enter(relativePath.substr(0, start));
        const std::string_view name =
            relativePath.substr(start, last ? std::string_view::npos : slash - start);
        const int rule = filter.decidingRule(name, last ? isFolder : true);
        const bool out = rule >= 0 && !compiled_[std::size_t(rule)].include;
        if (last || out) {
            verdict.leftOut = out;
            verdict.rule = rule >= 0 ? &rules_[std::size_t(rule)] : nullptr;
            if (!last)
                verdict.leftOutFolder = std::string(relativePath.substr(0, slash));
            return verdict;
        }
        start = slash + 1;
    }
}

FolderFilter::FolderFilter(const FilterRules& rules) : rules_(rules) {
    candidates_.reserve(rules.patterned_.size());
}

void FolderFilter::enter(std::string_view relativeFolder) {
    path_.assign(relativeFolder);
    folderLength_ = relativeFolder.size();
    candidates_.clear();
    for (const uint32_t k : rules_.patterned_) {
        const FilterRules::Compiled& rule = rules_.compiled_[k];
        // A path pattern whose literal head this folder does not share matches nothing in it.
        const std::size_t shared = std::min<std::size_t>(rule.literalHead, relativeFolder.size());
        if (rule.byName || relativeFolder.compare(0, shared, rule.pattern, 0, shared) == 0)
            candidates_.push_back(k);
    }
}

int FolderFilter::decidingRule(std::string_view name, bool isFolder) {
    int best = -1;
    const auto lookUp = [&](const FilterRules::NameTable& table, std::string_view key) {
        const auto found = table.find(key);
        if (found != table.end())
            best = std::max(best, isFolder ? found->second.forFolder : found->second.forFile);
    };
    if (rules_.nameLengths_ & lengthBit(name.size()))
        lookUp(rules_.literalNames_, name);
    if (rules_.extensionLengths_ != 0) {
        const std::size_t dot = name.rfind('.');
        if (dot != std::string_view::npos && (rules_.extensionLengths_ & lengthBit(name.size() - dot)))
            lookUp(rules_.extensions_, name.substr(dot));
    }
    bool pathReady = false;
    for (std::size_t i = candidates_.size(); i-- > 0;) {
        const int k = int(candidates_[i]);
        if (k <= best)
            break;
        const FilterRules::Compiled& rule = rules_.compiled_[std::size_t(k)];
        if (rule.foldersOnly && !isFolder)
            continue;
        if (rule.byName) {
            if (matchesName(rule.pattern, rule.endsWith, name))
                return k;
            continue;
        }
        if (!pathReady) {
            path_.resize(folderLength_);
            path_.append(name);
            pathReady = true;
        }
        if (matchesPath(rule.pattern, rule.literalHead, path_))
            return k;
    }
    return best;
}

} // namespace paritas

#include "core/platform/versions_folder.h"

#include "core/platform/datetime.h"
#include "core/platform/file_identity.h"
#include "core/platform/file_ops.h"
#include "core/platform/path_text.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace paritas {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr int kNameAttempts = 16;

int openOrMake(int parent, const std::string& name, FolderHandle& into) {
    if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST)
        return errno;
    const int fd = ::openat(parent, name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd < 0)
        return errno == ELOOP || errno == ENOTDIR ? kCrossesLink : errno;
    into = FolderHandle(fd);
    return 0;
}

void recordFirst(PruneResult& result, int error) {
    if (result.error == 0)
        result.error = error;
}

// The names in the open folder `folder`, "." and ".." left out; false when it cannot be read.
bool namesIn(int folder, std::vector<std::string>& names) {
    const int listed = ::dup(folder);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

// Prunes the open folder `folder`; true when it is empty afterwards.
bool pruneFolder(int folder, std::time_t cutoff, PruneResult& result) {
    std::vector<std::string> names;
    if (!namesIn(folder, names)) {
        recordFirst(result, errno);
        return false;
    }
    bool empty = true;
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            recordFirst(result, errno);
            empty = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const FolderHandle below(::openat(folder, name.c_str(), kFolderFlags | O_NOFOLLOW));
            if (!below.valid()) {
                recordFirst(result, errno);
                empty = false;
            } else if (!pruneFolder(below.get(), cutoff, result) ||
                       ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0) {
                empty = false;
            }
            continue;
        }
        if (st.st_ctime >= cutoff || name == kVersionsMarkName) {
            empty = false;
            continue;
        }
        if (::unlinkat(folder, name.c_str(), 0) == 0) {
            ++result.removed;
        } else {
            recordFirst(result, errno);
            empty = false;
        }
    }
    return empty;
}

} // namespace

bool isVersionsFolder(int root) {
    struct stat st {};
    return ::fstatat(root, kVersionsMarkName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

int claimVersionsFolder(int root) {
    if (isVersionsFolder(root))
        return 0;
    std::vector<std::string> names;
    if (!namesIn(root, names))
        return errno;
    if (!names.empty())
        return kVersionsFolderUnusable;
    const int fd = ::openat(root, kVersionsMarkName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

int openFolderTree(int root, const std::string& relative, FolderHandle& into) {
    return openFolderStepwise(root, relative, into, openOrMake);
}

int openOrMakeFolder(const std::string& path, FolderHandle& into) {
    const int fd = ::open(path.c_str(), kFolderFlags);
    if (fd >= 0) {
        into = FolderHandle(fd);
        return 0;
    }
    if (errno != ENOENT)
        return errno;
    const std::size_t slash = path.rfind(kSeparator);
    if (slash == std::string::npos || path.size() <= 1)
        return ENOENT;
    FolderHandle parent;
    if (const int error = openOrMakeFolder(slash == 0 ? "/" : path.substr(0, slash), parent); error != 0)
        return error;
    if (::mkdirat(parent.get(), path.c_str() + slash + 1, 0777) != 0 && errno != EEXIST)
        return errno;
    const int made = ::openat(parent.get(), path.c_str() + slash + 1, kFolderFlags);
    if (made < 0)
        return errno;
    into = FolderHandle(made);
    return 0;
}

int moveUnderFreeName(int folder, const std::string& name, int target,
                      const std::function<std::string(int attempt)>& nameAt, std::string& used) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string candidate = nameAt(attempt);
        const FsResult moved = moveNoReplaceAt(folder, name, target, candidate);
        if (moved.ok()) {
            used = candidate;
            return 0;
        }
        if (moved.error != EEXIST)
            return moved.error;
    }
    return EEXIST;
}

PruneResult pruneOlderThan(int root, std::time_t cutoff) {
    PruneResult result;
    pruneFolder(root, cutoff, result);
    return result;
}

namespace {

// A character of a date-time text as a file name holds it (the dated names of versions).
char nameSafe(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return c == ':' || c == kSeparator || c == '*' || u < 0x20 || u == 0x7f ? '_' : c;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The date-time text this machine writes for a moment, as a template: a moment whose every number
// has two digits or more, so that a text of any moment lines up with it where the locale pads its
// numbers (every common one does; one that does not simply reads nothing back).
struct DateShape {
    std::string written; // as dateTimeText writes it
    const char* format;  // strptime's reading of it
};

DateShape shapeOf(bool midnight) {
    std::tm tm{};
    tm.tm_year = 2011 - 1900;
    tm.tm_mon = 10;
    tm.tm_mday = 22;
    tm.tm_hour = midnight ? 0 : 13;
    tm.tm_min = midnight ? 0 : 44;
    tm.tm_sec = midnight ? 0 : 55;
    tm.tm_isdst = -1;
    return DateShape{dateTimeText(std::mktime(&tm)), midnight ? "%x" : "%x %X"};
}

// The moment of the text at `at` of `name` when it has the shape; false otherwise.
bool readsAs(std::string_view name, std::size_t at, const DateShape& shape, std::time_t& when) {
    const std::string& written = shape.written;
    if (written.empty() || at + written.size() > name.size())
        return false;
    std::string text = written;
    for (std::size_t i = 0; i < written.size(); ++i) {
        const char c = name[at + i];
        if (isDigit(written[i]) != isDigit(c) || (!isDigit(c) && c != nameSafe(written[i])))
            return false;
        if (isDigit(c))
            text[i] = c;
    }
    std::tm tm{};
    const char* end = ::strptime(text.c_str(), shape.format, &tm);
    if (!end || *end != '\0')
        return false;
    tm.tm_isdst = -1;
    when = std::mktime(&tm);
    return when != std::time_t(-1);
}

// `end` with the " (2)", " (3)", ... taken off that stands before it (the name was taken, once the
// time was in it), if any.
std::size_t withoutAttempt(std::string_view name, std::size_t end) {
    if (end < 4 || name[end - 1] != ')')
        return end;
    std::size_t open = end - 1;
    while (open > 0 && isDigit(name[open - 1]))
        --open;
    if (open == end - 1 || open < 2 || name[open - 1] != '(' || name[open - 2] != ' ')
        return end;
    return open - 2;
}

} // namespace

bool versionTimeInName(std::string_view name, std::time_t& when) {
    static const DateShape withTime = shapeOf(false);
    static const DateShape dateOnly = shapeOf(true);
    // The text ends four bytes before the end of the name (datedName), or for a name shorter than
    // four bytes, before its extension or at its end: the longest tail is tried first.
    for (int tail = 4; tail >= 0; --tail) {
        if (std::size_t(tail) > name.size())
            continue;
        const std::size_t end = withoutAttempt(name, name.size() - std::size_t(tail));
        for (const DateShape* shape : {&withTime, &dateOnly})
            if (end >= shape->written.size() && readsAs(name, end - shape->written.size(), *shape, when))
                return true;
    }
    return false;
}

std::string versionsFolderProblem(const std::string& folder, const std::vector<std::string>& locations) {
    if (!isAbsolutePath(folder))
        return "the versions folder \"" + folder + "\" is not an absolute folder path";
    const std::string inside = withTrailingSeparator(folder);
    for (const std::string& given : locations) {
        const std::string location = withTrailingSeparator(given);
        if (location.empty())
            continue;
        if (inside == location + kVersionsFolderName + kSeparator)
            continue; // the location's own, which the scans never list
        if (inside.compare(0, location.size(), location) == 0)
            return "the versions folder " + folder + " lies inside location " + location +
                   ", whose scans would take the versions for its own files; choose a folder outside it, or "
                   "none for the default, " +
                   location + kVersionsFolderName;
        if (location.compare(0, inside.size(), inside) == 0)
            return "location " + location + " lies inside the versions folder " + folder;
    }
    // By identity too: a link or a bind mount may lead from a folder outside into a location.
    const std::string versions = folderIdentityPath(folder);
    if (versions.empty())
        return {};
    const std::string versionsInside = withTrailingSeparator(versions);
    for (const std::string& given : locations) {
        if (given.empty() || !isAbsolutePath(given))
            continue;
        const std::string location = withTrailingSeparator(given);
        const std::string identity = folderIdentityPath(location);
        if (identity.empty())
            continue;
        const std::string locationInside = withTrailingSeparator(identity);
        if (versionsInside == locationInside + kVersionsFolderName + kSeparator)
            continue;
        if (versionsInside.compare(0, locationInside.size(), locationInside) == 0)
            return "the versions folder " + folder + " leads into location " + location +
                   " (through a link or a mount), whose scans would take the versions for its own files; "
                   "choose a folder outside it, or none for the default, " +
                   location + kVersionsFolderName;
        if (locationInside.compare(0, versionsInside.size(), versionsInside) == 0)
            return "location " + location + " lies inside the versions folder " + folder +
                   " (through a link or a mount)";
    }
    return {};
}

} // namespace paritas

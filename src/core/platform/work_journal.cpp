#include "core/platform/work_journal.h"

#include "core/platform/beneath.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

constexpr std::string_view kHeader = "paritas-journal 1\n";
constexpr std::string_view kTemporaryPrefix = ".paritas-";
constexpr int kNameAttempts = 16;

bool isHexDigits(std::string_view text) {
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// A line holds tab-separated fields; a name may hold any byte but the separator and NUL.
std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex(text.substr(i + 1, 2));
            out += static_cast<char>(std::strtol(hex.c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(
            line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

std::string stampText(const FileStamp& stamp) {
    return std::to_string(stamp.size) + " " + std::to_string(stamp.modifiedTime) + " " +
           std::to_string(stamp.modifiedNanos);
}

bool parseStamp(std::string_view text, FileStamp& stamp) {
    long long size = 0, seconds = 0;
    int nanos = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%lld %lld %d", &size, &seconds, &nanos) != 3)
        return false;
    stamp.size = size;
    stamp.modifiedTime = seconds;
    stamp.modifiedNanos = nanos;
    return true;
}

bool sameMoment(const FileStamp& a, const FileStamp& b) {
    return a.size == b.size && a.modifiedTime == b.modifiedTime && a.modifiedNanos == b.modifiedNanos;
}

// The folder `folder` (a full path) below the location `prefix` (with its separator): "" for the
// top, "docs/2026" below it.
std::string relativeFolder(const std::string& prefix, const std::string& folder) {
    const std::string inside = withTrailingSeparator(folder);
    if (inside.size() <= prefix.size())
        return {};
    std::string relative = inside.substr(prefix.size(), inside.size() - prefix.size() - 1);
    return relative;
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        bytes.remove_prefix(std::size_t(n));
    }
    return 0;
}

// 16 hex digits of a number no other name of this machine's runs has.
std::string uniqueDigits() {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(uniqueNumber()));
    return digits;
}

struct Record {
    bool old = false;
    std::string folder; // below the location
    std::string name;
    std::string original;
    FileStamp oldStamp;
    bool contentKnown = false;
    FileStamp content;
};

// The records of a journal, the last line of each name winning; a torn last line is ignored.
std::vector<Record> readRecords(int fd) {
    std::string text;
    char buffer[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, std::size_t(n));
        at += n;
    }
    std::vector<Record> records;
    std::map<std::pair<std::string, std::string>, std::size_t> byName;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break;
        const std::vector<std::string_view> fields =
            fieldsOf(std::string_view(text).substr(start, end - start));
        start = end + 1;
        Record record;
        if (fields.size() == 3 && fields[0] == "N") {
        } else if (fields.size() == 6 && fields[0] == "O") {
            record.old = true;
            record.original = unescaped(fields[3]);
            if (!parseStamp(fields[4], record.oldStamp))
                continue;
            record.contentKnown = fields[5] != "-" && parseStamp(fields[5], record.content);
        } else {
            continue;
        }
        record.folder = unescaped(fields[1]);
        record.name = unescaped(fields[2]);
        if (!isTemporaryName(record.name) || record.original.find(kSeparator) != std::string::npos)
            continue;
        const auto key = std::make_pair(record.folder, record.name);
        if (const auto seen = byName.find(key); seen != byName.end()) {
            records[seen->second] = std::move(record);
        } else {
            byName.emplace(key, records.size());
            records.push_back(std::move(record));
        }
    }
    return records;
}

std::string shown(const std::string& location, const Record& record, const std::string& name) {
    return withTrailingSeparator(location) + (record.folder.empty() ? "" : record.folder + kSeparator) + name;
}

class Recovery {
public:
    Recovery(const std::string& location, int root, Disposal* disposal,
             const FileSystemCapabilities* capabilities, JournalRecovery& out)
        : location_(location), root_(root), disposal_(disposal), capabilities_(capabilities), out_(out) {}

    // True when the record's name is settled (or was already gone).
    bool settle(const Record& record) {
        FolderHandle folder;
        if (const int error = openFolderStepwise(root_, record.folder, folder); error != 0) {
            if (error == ENOENT || error == ENOTDIR)
                return true; // the folder itself is gone, and its names with it
            return keep(record, record.name, error);
        }
        struct stat st {};
        if (::fstatat(folder.get(), record.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? true : keep(record, record.name, errno);
        if (S_ISDIR(st.st_mode))
            return keep(record, record.name, EISDIR);
        const FileStamp now = stampOf(st);
        const bool newContent = !record.old || (record.contentKnown && sameMoment(now, record.content) &&
                                                !sameMoment(now, record.oldStamp));
        if (newContent) {
            if (::unlinkat(folder.get(), record.name.c_str(), 0) != 0)
                return keep(record, record.name, errno);
            ++out_.settled;
            out_.lines.push_back("Removed the unfinished copy of an interrupted run: " +
                                 shown(location_, record, record.name));
            return true;
        }
        return settleOldVersion(record, folder.get());
    }

private:
    bool settleOldVersion(const Record& record, int folder) {
        const std::string original = shown(location_, record, record.original);
        const FsResult back = moveNoReplaceAt(folder, record.name, folder, record.original, capabilities_);
        if (back.ok()) {
            ++out_.settled;
            out_.lines.push_back("Put back the file an interrupted run had moved aside: " + original);
            return true;
        }
        if (back.error != EEXIST)
            return keep(record, record.name, back.error);
        // The new content took the name: the old version goes where the run's removed files go.
        if (!disposal_) {
            if (::unlinkat(folder, record.name.c_str(), 0) != 0)
                return keep(record, record.name, errno);
            ++out_.settled;
            out_.lines.push_back("Deleted the old version an interrupted run had replaced: " + original);
            return true;
        }
        const Disposed kept = disposal_->dispose(folder, record.name, original);
        if (!kept.ok())
            return keep(record, record.name, kept.error, kept.detail);
        ++out_.settled;
        out_.lines.push_back("Kept the old version an interrupted run had replaced: " + original + " -> " +
                             kept.keptAt);
        return true;
    }

    bool keep(const Record& record, const std::string& name, int error, const std::string& detail = {}) {
        ++out_.kept;
        out_.lines.push_back("A leftover of an interrupted run stays: " + shown(location_, record, name) +
                             " (" + failureText(error) + (detail.empty() ? "" : ": " + detail) + ")");
        return false;
    }

    const std::string& location_;
    int root_;
    Disposal* disposal_;
    const FileSystemCapabilities* capabilities_;
    JournalRecovery& out_;
};

// The journals at the top of the open folder `root`.
std::vector<std::string> journalsIn(int root) {
    std::vector<std::string> names;
    const int listed = ::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return names;
    }
    while (const dirent* entry = ::readdir(dir))
        if (isJournalName(entry->d_name))
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

} // namespace

bool isTemporaryName(std::string_view name) {
    return name.size() == kTemporaryPrefix.size() + 16 + 4 &&
           name.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix &&
           name.substr(name.size() - 4) == ".tmp" && isHexDigits(name.substr(kTemporaryPrefix.size(), 16));
}

bool isJournalName(std::string_view name) {
    return name.size() == kJournalPrefix.size() + 16 &&
           name.substr(0, kJournalPrefix.size()) == kJournalPrefix &&
           isHexDigits(name.substr(kJournalPrefix.size()));
}

namespace {
constexpr std::string_view kAsideMark = ".aside.";
constexpr std::size_t kLongestName = 255;
} // namespace

std::string journalFileName() {
    return std::string(kJournalPrefix) + uniqueDigits();
}

std::string asideName(std::string_view original) {
    if (original.empty() || kTemporaryPrefix.size() + 16 + kAsideMark.size() + original.size() > kLongestName)
        return {};
    return std::string(kTemporaryPrefix) + uniqueDigits() + std::string(kAsideMark) + std::string(original);
}

bool isAsideName(std::string_view name, std::string* original) {
    const std::size_t fixed = kTemporaryPrefix.size() + 16 + kAsideMark.size();
    if (name.size() <= fixed || name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix ||
        !isHexDigits(name.substr(kTemporaryPrefix.size(), 16)) ||
        name.substr(kTemporaryPrefix.size() + 16, kAsideMark.size()) != kAsideMark)
        return false;
    if (original)
        *original = std::string(name.substr(fixed));
    return true;
}

WorkJournal::WorkJournal(std::string location) : location_(withTrailingSeparator(location)) {}

WorkJournal::~WorkJournal() {
    close();
}

int WorkJournal::append(const std::string& line) {
    // Called under mutex_.
    if (fd_ < 0) {
        if (root_ < 0) {
            root_ = ::open(location_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (root_ < 0)
                return errno;
        }
        for (int attempt = 0; attempt < kNameAttempts && fd_ < 0; ++attempt) {
            const std::string name = journalFileName();
            fd_ = ::openat(root_, name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd_ >= 0)
                name_ = name;
            else if (errno != EEXIST)
                return errno;
        }
        if (fd_ < 0)
            return EEXIST;
        // Held while the run lives: the next run leaves a journal alone whose run still works.
        ::flock(fd_, LOCK_EX | LOCK_NB);
        if (const int error = writeAll(fd_, kHeader); error != 0)
            return error;
        ::fsync(root_); // the journal's name is on the disk before the first name it records
    }
    if (const int error = writeAll(fd_, line); error != 0)
        return error;
    return ::fdatasync(fd_) == 0 ? 0 : errno;
}

int WorkJournal::newContent(const std::string& folder, const std::string& name) {
    const std::string relative = relativeFolder(location_, folder);
    std::lock_guard<std::mutex> lock(mutex_);
    const int error = append("N\t" + escaped(relative) + "\t" + escaped(name) + "\n");
    if (error == 0)
        names_.emplace_back(relative, name);
    return error;
}

int WorkJournal::oldVersion(const std::string& folder, const std::string& name, const std::string& original,
                            const FileStamp& old, const FileStamp* content) {
    const std::string relative = relativeFolder(location_, folder);
    std::lock_guard<std::mutex> lock(mutex_);
    const int error =
        append("O\t" + escaped(relative) + "\t" + escaped(name) + "\t" + escaped(original) + "\t" +
               stampText(old) + "\t" + (content ? stampText(*content) : std::string("-")) + "\n");
    if (error == 0)
        names_.emplace_back(relative, name);
    return error;
}

bool WorkJournal::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) {
        if (root_ >= 0)
            ::close(root_);
        root_ = -1;
        return true;
    }
    bool clean = true;
    for (const auto& [relative, name] : names_) {
        FolderHandle folder;
        struct stat st {};
        if (openFolderStepwise(root_, relative, folder) == 0 &&
            ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            clean = false;
    }
    if (clean)
        ::unlinkat(root_, name_.c_str(), 0);
    ::close(fd_);
    ::close(root_);
    fd_ = root_ = -1;
    names_.clear();
    name_.clear();
    return clean;
}

std::string WorkJournal::fileName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}

JournalRecovery recoverJournals(const std::string& location, Disposal* disposal,
                                const FileSystemCapabilities* capabilities) {
    JournalRecovery out;
    const FolderHandle root(::open(location.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return out;
    for (const std::string& name : journalsIn(root.get())) {
        const UniqueFd journal(::openat(root.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!journal.valid())
            continue;
        if (::flock(journal.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            continue; // its run still works
        Recovery recovery(location, root.get(), disposal, capabilities, out);
        bool all = true;
        for (const Record& record : readRecords(journal.get()))
            all = recovery.settle(record) && all;
        if (all)
            ::unlinkat(root.get(), name.c_str(), 0);
    }
    return out;
}

} // namespace paritas

#include "support/temp_tree.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace paritas::test {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
    return out;
}

// Parses a trailing " @YYYY-MM-DD HH:MM:SS"; returns true and shortens the line when present.
bool takeTime(std::string_view& line, std::time_t& time) {
    constexpr std::size_t kLength = 20; // "@2020-01-02 03:04:05"
    if (line.size() < kLength || line[line.size() - kLength] != '@')
        return false;
    int y, mo, d, h, mi, s;
    const std::string stamp(line.substr(line.size() - kLength + 1));
    if (std::sscanf(stamp.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6)
        return false;
    time = utcTime(y, mo, d, h, mi, s);
    line = trimmed(line.substr(0, line.size() - kLength));
    return true;
}

uint64_t hashFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    uint64_t hash = 14695981039346656037ull;
    std::vector<unsigned char> buffer(1 << 16);
    ssize_t n;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            hash = (hash ^ buffer[static_cast<std::size_t>(i)]) * 1099511628211ull;
    }
    ::close(fd);
    return hash;
}

void snapshotFolder(const std::string& root, const std::string& relative, const SnapshotOptions& options,
                    TreeSnapshot& into) {
    DIR* dir = ::opendir((root + relative).c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = root + relative + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        NodeState node;
        node.mode = options.modes ? (st.st_mode & 07777) : 0;
        if (S_ISDIR(st.st_mode)) {
            node.type = NodeState::Type::Folder;
            node.modifiedTime = options.folderTimes ? st.st_mtime : 0;
            into[relative + name + "/"] = node;
            snapshotFolder(root, relative + name + "/", options, into);
            continue;
        }
        node.size = st.st_size;
        node.modifiedTime = st.st_mtime;
        if (S_ISREG(st.st_mode)) {
            node.type = NodeState::Type::File;
            if (st.st_size <= options.hashLimit)
                node.contentHash = hashFile(path);
        } else if (S_ISLNK(st.st_mode)) {
            node.type = NodeState::Type::Link;
            std::vector<char> target(static_cast<std::size_t>(st.st_size) + 1);
            const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            if (n >= 0)
                node.linkTarget.assign(target.data(), static_cast<std::size_t>(n));
        }
        into[relative + name] = node;
    }
    ::closedir(dir);
}

const char* typeName(NodeState::Type type) {
    switch (type) {
    case NodeState::Type::Folder:
        return "folder";
    case NodeState::Type::File:
        return "file";
    case NodeState::Type::Link:
        return "link";
    default:
        return "other";
    }
}

void unlockAndRemove(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlink(path.c_str());
        return;
    }
    ::chmod(path.c_str(), 0700);
    if (DIR* dir = ::opendir(path.c_str())) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        for (const std::string& name : names)
            unlockAndRemove(path + "/" + name);
    }
    ::rmdir(path.c_str());
}

void chownTree(const std::string& path, uid_t uid, gid_t gid) {
    if (::lchown(path.c_str(), uid, gid) != 0)
        fail("lchown", path);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            chownTree(path + "/" + entry->d_name, uid, gid);
    }
    ::closedir(dir);
}

} // namespace

std::time_t utcTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return ::timegm(&tm);
}

std::string patternBytes(int64_t size) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    uint32_t state = 2463534242u;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state & 0xff);
    }
    return bytes;
}

TreeSnapshot snapshotTree(const std::string& root, const SnapshotOptions& options) {
    TreeSnapshot snapshot;
    std::string base = root;
    if (base.empty() || base.back() != '/')
        base += '/';
    snapshotFolder(base, "", options, snapshot);
    return snapshot;
}

std::string snapshotDifferences(const TreeSnapshot& expected, const TreeSnapshot& actual) {
    std::string report;
    for (const auto& [path, node] : expected) {
        const auto found = actual.find(path);
        if (found == actual.end()) {
            report += "missing " + path + "\n";
            continue;
        }
        const NodeState& other = found->second;
        if (node == other)
            continue;
        report += "changed " + path + ":";
        if (node.type != other.type)
            report += std::string(" type ") + typeName(node.type) + " -> " + typeName(other.type);
        if (node.size != other.size)
            report += " size " + std::to_string(node.size) + " -> " + std::to_string(other.size);
        if (node.contentHash != other.contentHash)
            report += " content";
        if (node.linkTarget != other.linkTarget)
            report += " target " + node.linkTarget + " -> " + other.linkTarget;
        if (node.mode != other.mode)
            report += " mode " + std::to_string(node.mode) + " -> " + std::to_string(other.mode);
        if (node.modifiedTime != other.modifiedTime)
            report +=
                " time " + std::to_string(node.modifiedTime) + " -> " + std::to_string(other.modifiedTime);
        report += "\n";
    }
    for (const auto& [path, node] : actual) {
        if (!expected.contains(path))
            report += "extra " + path + "\n";
    }
    return report;
}

TempTree::TempTree(std::string_view description, std::string parent) {
    if (parent.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        parent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    if (parent.back() != '/')
        parent += '/';
    std::string pattern = parent + "paritas-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        fail("mkdtemp", pattern);
    root_ = pattern + "/";
    write(description);
}

TempTree::~TempTree() {
    unlockAndRemove(root_.substr(0, root_.size() - 1));
}

std::string TempTree::path(std::string_view relative) const {
    return root_ + std::string(relative);
}

TempTree& TempTree::write(std::string_view description) {
    while (!description.empty()) {
        const std::size_t end = description.find('\n');
        std::string_view line = trimmed(description.substr(0, end));
        description = end == std::string_view::npos ? std::string_view() : description.substr(end + 1);
        if (line.empty())
            continue;
        std::time_t time = 0;
        const bool timed = takeTime(line, time);
        std::string relative;
        // Whichever of " -> " and " =" comes first decides, so content and targets may hold the other.
        const std::size_t arrow = line.find(" -> ");
        const std::size_t equals = line.find(" =");
        if (arrow != std::string_view::npos && arrow < equals) {
            relative = trimmed(line.substr(0, arrow));
            link(relative, trimmed(line.substr(arrow + 4)));
        } else if (equals != std::string_view::npos) {
            relative = trimmed(line.substr(0, equals));
            std::string_view content = line.substr(equals + 2);
            if (!content.empty() && content.front() == ' ')
                content.remove_prefix(1);
            file(relative, unescaped(content));
        } else if (const std::size_t sized = line.find(" size="); sized != std::string_view::npos) {
            relative = trimmed(line.substr(0, sized));
            const std::string rest(line.substr(sized + 6));
            const int64_t size = std::stoll(rest);
            if (rest.find("sparse") != std::string::npos)
                sparseFile(relative, size);
            else
                sizedFile(relative, size);
        } else if (line.ends_with(" fifo")) {
            relative = trimmed(line.substr(0, line.size() - 5));
            fifo(relative);
        } else if (line.back() == '/') {
            relative = line;
            folder(relative);
        } else {
            throw std::invalid_argument("cannot read tree line: " + std::string(line));
        }
        if (timed)
            setModifiedTime(relative, time);
    }
    return *this;
}

void TempTree::makeParents(std::string_view relative) {
    std::size_t slash = relative.find('/');
    while (slash != std::string_view::npos && slash + 1 < relative.size()) {
        const std::string folderPath = path(relative.substr(0, slash));
        if (::mkdir(folderPath.c_str(), 0755) != 0 && errno != EEXIST)
            fail("mkdir", folderPath);
        slash = relative.find('/', slash + 1);
    }
}

TempTree& TempTree::folder(std::string_view relative) {
    makeParents(relative);
    const std::string folderPath = path(relative);
    if (::mkdir(folderPath.c_str(), 0755) != 0 && errno != EEXIST)
        fail("mkdir", folderPath);
    return *this;
}

TempTree& TempTree::file(std::string_view relative, std::string_view content) {
    makeParents(relative);
    const std::string filePath = path(relative);
    const int fd = ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("create", filePath);
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n <= 0) {
            ::close(fd);
            fail("write", filePath);
        }
        written += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return *this;
}

TempTree& TempTree::sizedFile(std::string_view relative, int64_t size) {
    return file(relative, patternBytes(size));
}

TempTree& TempTree::sparseFile(std::string_view relative, int64_t size) {
    file(relative, "");
    if (::truncate(path(relative).c_str(), size) != 0)
        fail("truncate", path(relative));
    return *this;
}

TempTree& TempTree::link(std::string_view relative, std::string_view target) {
    makeParents(relative);
    if (::symlink(std::string(target).c_str(), path(relative).c_str()) != 0)
        fail("symlink", path(relative));
    return *this;
}

TempTree& TempTree::fifo(std::string_view relative) {
    makeParents(relative);
    if (::mkfifo(path(relative).c_str(), 0644) != 0)
        fail("mkfifo", path(relative));
    return *this;
}

TempTree& TempTree::setModifiedTime(std::string_view relative, std::time_t time) {
    std::string target(relative);
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();
    const timespec times[2] = {{time, 0}, {time, 0}};
    if (::utimensat(AT_FDCWD, path(target).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        fail("utimensat", path(target));
    return *this;
}

TempTree& TempTree::setMode(std::string_view relative, mode_t mode) {
    if (::chmod(path(relative).c_str(), mode) != 0)
        fail("chmod", path(relative));
    return *this;
}

TempTree& TempTree::remove(std::string_view relative) {
    std::string target = path(relative);
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();
    unlockAndRemove(target);
    return *this;
}

TempTree& TempTree::giveTo(uid_t uid, gid_t gid) {
    chownTree(root_.substr(0, root_.size() - 1), uid, gid);
    return *this;
}

bool TempTree::exists(std::string_view relative) const {
    struct stat st;
    return ::lstat(path(relative).c_str(), &st) == 0;
}

std::string TempTree::read(std::string_view relative) const {
    const int fd = ::open(path(relative).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("open", path(relative));
    std::string content;
    char buffer[1 << 16];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return content;
}

} // namespace paritas::test

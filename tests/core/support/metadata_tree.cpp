#include "support/metadata_tree.h"

#include "core/platform/hard_links.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace paritas::test {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

std::string withSlash(std::string path) {
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[8192];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

// ---- the random tree ----

constexpr uint32_t kIds[] = {0, 65534, 1}; // root, nobody, daemon (user and group alike on Debian)

class TreeBuilder {
public:
    TreeBuilder(const std::string& root, const MetadataTreeOptions& options)
        : root_(withSlash(root)), options_(options), random_(options.seed), privileged_(::geteuid() == 0) {}

    BuiltTree build() {
        for (int i = 0; i < options_.folders; ++i)
            makeFolder(i);
        for (int i = 0; i < options_.files; ++i)
            makeFile(i);
        for (int i = 0; i < options_.hardLinkNames && !files_.empty(); ++i)
            makeSecondName(i);
        for (int i = 0; i < options_.links; ++i)
            makeLink(i);
        finishFolders();
        return built_;
    }

private:
    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }
    bool chance(int percent) { return below(100) < uint32_t(percent); }
    template <typename T, std::size_t N> T pick(const T (&values)[N]) { return values[below(N)]; }

    std::string bytes(uint32_t most) {
        std::string out(below(most + 1), '\0');
        for (char& c : out)
            c = static_cast<char>(below(256));
        return out;
    }

    timespec randomTime() {
        // 2000-01-01 .. about 2020, with nanoseconds
        return {static_cast<time_t>(946684800 + below(630720000)), static_cast<long>(below(1000000000))};
    }

    // Folders and names with spaces, accents and CJK, as users have them.
    std::string name(const char* stem, int i) {
        static const char* const kFlavours[] = {"", " x", "_é", "-数据", ".txt"};
        return stem + std::to_string(i) + kFlavours[below(5)];
    }

    const std::string& someFolder() { return folders_[below(uint32_t(folders_.size()))]; }

    void describe(const std::string& line) { built_.summary += line + "\n"; }

    void owners(const std::string& path, int flags, std::string& summary) {
        if (!options_.owners || !privileged_)
            return;
        const uint32_t owner = pick(kIds), group = pick(kIds);
        if (::fchownat(AT_FDCWD, path.c_str(), owner, group, flags) != 0)
            fail("chown", path);
        summary += " owner " + std::to_string(owner) + ":" + std::to_string(group);
    }

    void attribute(const std::string& path, const std::string& name, const std::string& value, bool link) {
        const int rc = link ? ::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0)
                            : ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0);
        if (rc != 0)
            fail("setxattr " + name, path);
    }

    void userAttributes(const std::string& path, std::string& summary) {
        if (!options_.extendedAttributes || !chance(40))
            return;
        const uint32_t count = 1 + below(3);
        for (uint32_t k = 0; k < count; ++k)
            attribute(path, "user.k" + std::to_string(k), bytes(200), false);
        summary += " xattrs " + std::to_string(count);
        if (privileged_ && chance(25)) {
            attribute(path, "trusted.t", bytes(40), false);
            summary += " trusted";
        }
    }

    // An access ACL whose owner, mask and other entries agree with `mode`, as chmod keeps them.
    std::string accessAcl(mode_t mode) {
        using E = AclEntry;
        return aclValue({{E::UserObj, uint16_t((mode >> 6) & 7)},
                         {E::User, uint16_t(below(8)), 1},
                         {E::GroupObj, uint16_t(below(8))},
                         {E::Group, uint16_t(below(8)), 65534},
                         {E::Mask, uint16_t((mode >> 3) & 7)},
                         {E::Other, uint16_t(mode & 7)}});
    }

    void setTimes(const std::string& path, const timespec& modified, int flags) {
        const timespec times[2] = {randomTime(), modified};
        if (::utimensat(AT_FDCWD, path.c_str(), times, flags) != 0)
            fail("utimensat", path);
    }

    void makeFolder(int i) {
        const std::string relative = someFolder() + name("d", i) + "/";
        if (::mkdir((root_ + relative).c_str(), 0700) != 0)
            fail("mkdir", root_ + relative);
        folders_.push_back(relative);
        ++built_.folders;
    }

    void makeFile(int i) {
        const std::string relative = someFolder() + name("f", i);
        const std::string path = root_ + relative;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            fail("create", path);
        const std::string content = bytes(3000);
        const bool written = ::write(fd, content.data(), content.size()) == ssize_t(content.size());
        ::close(fd);
        if (!written)
            fail("write", path);
        // 0000 only as root: another user could not read it back to copy it.
        static const mode_t kPlain[] = {0644, 0600, 0755, 0444, 0640, 0700, 0000};
        static const mode_t kReadable[] = {0644, 0600, 0755, 0444, 0640, 0700, 0400};
        static const mode_t kSpecial[] = {04755, 02755, 06750, 01644};
        const mode_t mode = options_.specialBits && chance(25) ? pick(kSpecial)
                            : privileged_                      ? pick(kPlain)
                                                               : pick(kReadable);
        std::string summary = relative;
        owners(path, 0, summary);
        userAttributes(path, summary);
        if (options_.accessControlLists && chance(30)) {
            attribute(path, "system.posix_acl_access", accessAcl(mode), false);
            summary += " acl";
        }
        if (::chmod(path.c_str(), mode) != 0)
            fail("chmod", path);
        setTimes(path, randomTime(), 0);
        char text[16];
        std::snprintf(text, sizeof text, " mode %04o", unsigned(mode));
        describe(summary + text);
        files_.push_back(relative);
        ++built_.files;
    }

    void makeSecondName(int i) {
        const std::string& first = files_[below(uint32_t(files_.size()))];
        const std::string relative = someFolder() + name("h", i);
        if (::link((root_ + first).c_str(), (root_ + relative).c_str()) != 0)
            fail("link", root_ + relative);
        describe(relative + " => " + first);
        ++built_.linkedNames;
    }

    void makeLink(int i) {
        const std::string relative = someFolder() + name("l", i);
        const std::string path = root_ + relative;
        const std::string target = chance(70) && !files_.empty()
                                       ? "/" + files_[below(uint32_t(files_.size()))]
                                       : "nowhere/" + std::to_string(i);
        if (::symlink(target.c_str(), path.c_str()) != 0)
            fail("symlink", path);
        std::string summary = relative + " -> " + target;
        owners(path, AT_SYMLINK_NOFOLLOW, summary);
        if (options_.extendedAttributes && privileged_ && chance(30)) {
            attribute(path, "trusted.l", bytes(30), true);
            summary += " trusted";
        }
        setTimes(path, randomTime(), AT_SYMLINK_NOFOLLOW);
        describe(summary);
        ++built_.links;
    }

    // Deepest first: setting a folder's metadata never changes its parent's times.
    void finishFolders() {
        std::vector<std::string> order(folders_.begin() + 1, folders_.end());
        std::stable_sort(order.begin(), order.end(), [](const std::string& x, const std::string& y) {
            return std::count(x.begin(), x.end(), '/') > std::count(y.begin(), y.end(), '/');
        });
        static const mode_t kPlain[] = {0755, 0750, 0700, 0555, 0775};
        static const mode_t kSpecial[] = {02775, 01777, 02750};
        for (const std::string& relative : order) {
            const std::string path = root_ + relative;
            const mode_t mode = options_.specialBits && chance(30) ? pick(kSpecial) : pick(kPlain);
            std::string summary = relative;
            owners(path, 0, summary);
            userAttributes(path, summary);
            if (options_.accessControlLists && chance(40)) {
                attribute(path, "system.posix_acl_access", accessAcl(mode), false);
                using E = AclEntry;
                attribute(
                    path, "system.posix_acl_default",
                    aclValue(
                        {{E::UserObj, 7}, {E::User, 5, 1}, {E::GroupObj, 5}, {E::Mask, 7}, {E::Other, 5}}),
                    false);
                summary += " acl+default";
            }
            if (::chmod(path.c_str(), mode) != 0)
                fail("chmod", path);
            setTimes(path, randomTime(), 0);
            char text[16];
            std::snprintf(text, sizeof text, " mode %04o", unsigned(mode));
            describe(summary + text);
        }
    }

    std::string root_;
    MetadataTreeOptions options_;
    std::mt19937 random_;
    bool privileged_;
    std::vector<std::string> folders_{""};
    std::vector<std::string> files_;
    BuiltTree built_;
};

// ---- the reference copy ----

struct SourceEntry {
    std::string relative; // folders end with "/"
    struct stat st;
};

void listTree(const std::string& root, const std::string& relative, std::vector<SourceEntry>& into) {
    DIR* dir = ::opendir((root + relative).c_str());
    if (!dir)
        fail("opendir", root + relative);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        SourceEntry entry{relative + name, {}};
        if (::lstat((root + entry.relative).c_str(), &entry.st) != 0)
            fail("lstat", root + entry.relative);
        const bool folder = S_ISDIR(entry.st.st_mode);
        if (folder)
            entry.relative += "/";
        into.push_back(entry);
        if (folder)
            listTree(root, entry.relative, into);
    }
}

// The folder holding `path` (a path without a trailing separator), and its last name.
struct Parent {
    int fd = -1;
    std::string name;
    explicit Parent(const std::string& path) {
        const std::size_t slash = path.find_last_of('/');
        fd = ::open(path.substr(0, slash + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        name = path.substr(slash + 1);
    }
    ~Parent() {
        if (fd >= 0)
            ::close(fd);
    }
    Parent(const Parent&) = delete;
    Parent& operator=(const Parent&) = delete;
};

std::string withoutSlash(std::string path) {
    if (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

std::string appliedText(const MetadataApplied& applied) {
    return failureText(applied.error) + (applied.detail.empty() ? "" : " (" + applied.detail + ")");
}

class TreeCopier {
public:
    TreeCopier(const std::string& a, const std::string& b, const AttributeSelection& selection,
               MetadataKeeper& keeper)
        : a_(withSlash(a)), b_(withSlash(b)), selection_(selection), keeper_(keeper),
          locations_(std::vector<std::string>{a_, b_}) {}

    TreeCopyResult run() {
        std::vector<SourceEntry> entries;
        listTree(a_, "", entries);
        std::vector<LinkFacts> facts;
        for (const SourceEntry& entry : entries)
            facts.push_back({uint64_t(entry.st.st_dev), uint64_t(entry.st.st_ino),
                             S_ISDIR(entry.st.st_mode) ? 1u : uint32_t(entry.st.st_nlink)});
        std::vector<std::size_t> firstOf(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i)
            firstOf[i] = i;
        for (const HardLinkGroup& group : groupHardLinks(facts))
            for (std::size_t row : group.rows)
                firstOf[row] = group.rows.front();

        std::vector<std::pair<std::string, EntryMetadata>> folders;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const SourceEntry& entry = entries[i];
            if (S_ISDIR(entry.st.st_mode))
                makeFolder(entry.relative, folders);
            else if (firstOf[i] != i && link(entries[firstOf[i]].relative, entry.relative))
                ++result_.linked;
            else if (S_ISLNK(entry.st.st_mode))
                makeLink(entry.relative);
            else if (S_ISREG(entry.st.st_mode))
                copyFile(entry.relative);
        }
        // Deepest first, after all contents: finishing a folder sets its final bits and times.
        for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
            const int fd = ::open((b_ + folder->first).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                failed(folder->first, failureText(errno));
                continue;
            }
            if (const MetadataApplied applied = finishFolder(fd, folder->second, keeper_); !applied.ok())
                failed(folder->first, appliedText(applied));
            ::close(fd);
        }
        return std::move(result_);
    }

private:
    void failed(const std::string& relative, const std::string& why) {
        result_.failures.push_back(relative + ": " + why);
    }

    bool readSource(const std::string& relative, EntryMetadata& metadata) {
        const Parent parent(withoutSlash(a_ + relative));
        const MetadataRead read = readMetadataAt(parent.fd, parent.name, selection_);
        if (!read.ok()) {
            failed(relative, "reading A: " + failureText(read.error) + " " + read.detail);
            return false;
        }
        metadata = read.metadata;
        return true;
    }

    void makeFolder(const std::string& relative,
                    std::vector<std::pair<std::string, EntryMetadata>>& folders) {
        EntryMetadata source;
        if (!readSource(relative, source))
            return;
        if (::mkdir((b_ + relative).c_str(), 0700) != 0)
            return failed(relative, failureText(errno));
        const int fd = ::open((b_ + relative).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return failed(relative, failureText(errno));
        if (const MetadataApplied applied = applyToNewFolder(fd, source, keeper_); !applied.ok())
            failed(relative, appliedText(applied));
        ::close(fd);
        folders.emplace_back(relative, std::move(source));
        ++result_.folders;
    }

    bool link(const std::string& first, const std::string& relative) {
        const LinkResult linked = linkBeneath(locations_, b_ + first, nullptr, b_ + relative, keeper_);
        if (linked.outcome == LinkOutcome::Failed)
            failed(relative, "linking: " + failureText(linked.error));
        return linked.ok();
    }

    void makeLink(const std::string& relative) {
        EntryMetadata source;
        if (!readSource(relative, source))
            return;
        char target[4096];
        const ssize_t n = ::readlink((a_ + relative).c_str(), target, sizeof target - 1);
        if (n < 0)
            return failed(relative, failureText(errno));
        target[n] = '\0';
        const Parent parent(b_ + relative);
        if (::symlinkat(target, parent.fd, parent.name.c_str()) != 0)
            return failed(relative, failureText(errno));
        if (const MetadataApplied applied = applyToLink(parent.fd, parent.name, source, keeper_);
            !applied.ok())
            failed(relative, appliedText(applied));
        ++result_.links;
    }

    void copyFile(const std::string& relative) {
        const int in = ::open((a_ + relative).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (in < 0)
            return failed(relative, "opening A: " + failureText(errno));
        const MetadataRead read = readMetadata(in, selection_);
        const Parent parent(b_ + relative);
        // Unnamed where the file system can; else under a temporary name (exFAT through FUSE).
        std::string temporary;
        int out = ::openat(parent.fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (out < 0) {
            temporary = ".copy-" + parent.name;
            out = ::openat(parent.fd, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        }
        std::string why;
        if (!read.ok())
            why = "reading A: " + failureText(read.error) + " " + read.detail;
        else if (out < 0)
            why = failureText(errno);
        else if (const std::string content = readAll(in);
                 ::write(out, content.data(), content.size()) != ssize_t(content.size()))
            why = failureText(errno);
        else if (const MetadataApplied applied = applyToNewFile(out, read.metadata, keeper_); !applied.ok())
            why = appliedText(applied);
        else if (!named(out, parent, temporary))
            why = failureText(errno);
        ::close(in);
        if (out >= 0)
            ::close(out);
        if (!why.empty())
            return failed(relative, why);
        ++result_.copied;
    }

    // Gives the complete copy its name.
    static bool named(int out, const Parent& parent, const std::string& temporary) {
        if (!temporary.empty())
            return ::renameat(parent.fd, temporary.c_str(), parent.fd, parent.name.c_str()) == 0;
        char proc[64];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", out);
        return ::linkat(AT_FDCWD, proc, parent.fd, parent.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }

    std::string a_, b_;
    AttributeSelection selection_;
    MetadataKeeper& keeper_;
    LocationResolver locations_;
    TreeCopyResult result_;
};

std::string trimmedLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

int runProgram(const std::vector<std::string>& arguments, std::string* out, std::string* err) {
    int outPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return -1;
    char errPath[] = "/tmp/paritas-run-XXXXXX";
    const int errFd = ::mkstemp(errPath);
    if (errFd < 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return -1;
    }
    ::unlink(errPath);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errFd, 2);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    const std::string printed = readAll(outPipe[0]);
    ::close(outPipe[0]);
    int status = 0;
    const bool waited = child > 0 && ::waitpid(child, &status, 0) == child;
    ::lseek(errFd, 0, SEEK_SET);
    const std::string complaints = readAll(errFd);
    ::close(errFd);
    if (out)
        *out = printed;
    if (err)
        *err = complaints;
    if (!waited || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

OracleAnswer rsyncItemizedChanges(const std::string& a, const std::string& b, const OracleOptions& options) {
    std::vector<std::string> arguments{"rsync", "-a", "-n", "--itemize-changes", "--numeric-ids"};
    if (options.hardLinks)
        arguments.emplace_back("-H");
    if (options.acls)
        arguments.emplace_back("-A");
    if (options.xattrs)
        arguments.emplace_back("-X");
    if (options.deletions)
        arguments.emplace_back("--delete");
    arguments.push_back(withSlash(a));
    arguments.push_back(withSlash(b));
    std::string out, err;
    const int status = runProgram(arguments, &out, &err);
    OracleAnswer answer;
    if (status == 127 || status < 0) {
        answer.failure = "rsync could not be run (install rsync)";
        return answer;
    }
    if (status != 0)
        answer.failure = "rsync exited with " + std::to_string(status) + ": " + trimmedLine(err);
    std::size_t at = 0;
    while (at < out.size()) {
        std::size_t end = out.find('\n', at);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(at, end - at);
        at = end + 1;
        const bool root = line.size() > 12 && line.compare(line.size() - 3, 3, " ./") == 0;
        if (!line.empty() && (options.includeRoot || !root))
            answer.changes += line + "\n";
    }
    return answer;
}

std::string aclValue(std::vector<AclEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const AclEntry& x, const AclEntry& y) {
        return x.tag != y.tag ? x.tag < y.tag : x.id < y.id;
    });
    std::string value;
    const auto put = [&](uint32_t number, int bytes) {
        for (int i = 0; i < bytes; ++i)
            value += static_cast<char>((number >> (8 * i)) & 0xFF); // little-endian, as the kernel reads it
    };
    put(2, 4); // the format's version
    for (const AclEntry& entry : entries) {
        put(entry.tag, 2);
        put(entry.permissions, 2);
        put(entry.tag == AclEntry::User || entry.tag == AclEntry::Group ? entry.id : 0xFFFFFFFFu, 4);
    }
    return value;
}

BuiltTree buildMetadataTree(const std::string& root, const MetadataTreeOptions& options) {
    return TreeBuilder(root, options).build();
}

TreeCopyResult copyTreeKeepingMetadata(const std::string& a, const std::string& b,
                                       const AttributeSelection& selection, MetadataKeeper& keeper) {
    return TreeCopier(a, b, selection, keeper).run();
}

std::unique_ptr<ScratchMount> ScratchMount::exfat(const std::string& folder, std::string& whyNot) {
    if (::geteuid() != 0) {
        whyNot = "mounting an exFAT image needs root";
        return nullptr;
    }
    const std::string image = withoutSlash(folder) + ".exfat.img";
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, 32 << 20) != 0) {
        whyNot = "cannot make an image file: " + std::string(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    ::close(fd);
    std::string err;
    if (runProgram({"mkfs.exfat", image}, nullptr, &err) != 0) {
        ::unlink(image.c_str());
        whyNot = "mkfs.exfat is not available or failed (install exfatprogs): " + trimmedLine(err);
        return nullptr;
    }
    std::string device;
    if (runProgram({"losetup", "-f", "--show", image}, &device, &err) != 0) {
        ::unlink(image.c_str());
        whyNot = "no loop device: " + trimmedLine(err);
        return nullptr;
    }
    device = trimmedLine(device);
    if (runProgram({"mount.exfat-fuse", "-o", "allow_other", device, folder}, nullptr, &err) != 0) {
        runProgram({"losetup", "-d", device});
        ::unlink(image.c_str());
        whyNot =
            "exfat-fuse cannot mount the image (install exfat-fuse, needs /dev/fuse): " + trimmedLine(err);
        return nullptr;
    }
    return std::unique_ptr<ScratchMount>(new ScratchMount(folder, device, image));
}

std::unique_ptr<ScratchMount> ScratchMount::ramfs(const std::string& folder, std::string& whyNot) {
    if (::mount("none", folder.c_str(), "ramfs", 0, "mode=0755") != 0) {
        whyNot = "cannot mount ramfs here: " + std::string(std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<ScratchMount>(new ScratchMount(folder, {}, {}));
}

ScratchMount::~ScratchMount() {
    if (::umount(folder_.c_str()) != 0)
        ::umount2(folder_.c_str(), MNT_DETACH);
    // The FUSE daemon may still hold the device a moment; detaching then happens at its last close.
    if (!loopDevice_.empty())
        runProgram({"losetup", "-d", loopDevice_});
    if (!image_.empty())
        ::unlink(image_.c_str());
}

} // namespace paritas::test

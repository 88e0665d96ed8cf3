#include "core/platform/capabilities.h"
#include "core/platform/unique_fd.h"

#include "core/platform/file_copy.h"
#include "core/platform/file_stamp.h"
#include "core/platform/work_journal.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h> // FICLONE, RENAME_EXCHANGE, RENAME_NOREPLACE
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace paritas {
namespace {

constexpr long kFuseMagic = 0x65735546;
constexpr int kNameAttempts = 16;

// Every name the probe made in the folder; each is removed at the end, whatever happened. The names
// are fresh random temporary names, so none of them can be anyone else's file.
class ProbeNames {
public:
    ProbeNames(int dir, TemporaryNameLog* journal, const std::string& folder)
        : dir_(dir), journal_(journal), folder_(folder) {}
    ProbeNames(const ProbeNames&) = delete;
    ProbeNames& operator=(const ProbeNames&) = delete;
    ~ProbeNames() {
        for (const std::string& name : names_)
            ::unlinkat(dir_, name.c_str(), 0);
    }
    // A fresh name, recorded in the journal first; "" (which names nothing) when it cannot be.
    std::string fresh() {
        std::string name = copyTemporaryName();
        if (journal_) {
            if (const int error = journal_->newContent(folder_, name); error != 0) {
                journalError_ = journalError_ ? journalError_ : error;
                return {};
            }
        }
        names_.push_back(std::move(name));
        return names_.back();
    }
    int dir() const { return dir_; }
    int journalError() const { return journalError_; }

private:
    int dir_;
    TemporaryNameLog* journal_;
    std::string folder_;
    int journalError_ = 0;
    std::vector<std::string> names_;
};

using Fd = UniqueFd;

int renameAt(int dir, const std::string& from, const std::string& to, unsigned flags) {
    return static_cast<int>(::syscall(SYS_renameat2, dir, from.c_str(), dir, to.c_str(), flags));
}

// Creates a new file of `size` bytes under a fresh name; -1 with errno when the folder refuses.
int createProbeFile(ProbeNames& names, std::string& name, std::size_t size) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        name = names.fresh();
        const int fd =
            ::openat(names.dir(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return -1;
        const std::string bytes(size, 'p');
        if (size > 0 && ::pwrite(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size)) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

bool sizeAt(int dir, const std::string& name, off_t size) {
    struct stat st {};
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_size == size;
}

// An unnamed file that can be given a name: the two steps a copy takes.
bool probeUnnamedFiles(ProbeNames& names) {
    Fd fd(::openat(names.dir(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return false;
    const std::string name = names.fresh();
    if (::linkat(fd.get(), "", names.dir(), name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd.get());
    return ::linkat(AT_FDCWD, procPath, names.dir(), name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Renames `name` to a fresh name with RENAME_NOREPLACE; `name` follows the file.
bool probeRenameNoReplace(ProbeNames& names, std::string& name) {
    const std::string to = names.fresh();
    if (renameAt(names.dir(), name, to, RENAME_NOREPLACE) != 0)
        return false;
    name = to;
    return true;
}

// Exchanges two files of different sizes and checks that they changed places (a file system that
// took the flag for a plain rename would have lost one of them).
bool probeRenameExchange(ProbeNames& names, const std::string& one, off_t oneSize) {
    std::string other;
    Fd fd(createProbeFile(names, other, 2));
    if (fd.get() < 0 || renameAt(names.dir(), one, other, RENAME_EXCHANGE) != 0)
        return false;
    return sizeAt(names.dir(), one, 2) && sizeAt(names.dir(), other, oneSize);
}

// The second name must show the file (sshfs reports one link for every file, so the count of
// links cannot tell).
bool probeHardLinks(ProbeNames& names, const std::string& name) {
    const std::string second = names.fresh();
    struct stat st {};
    return ::linkat(names.dir(), name.c_str(), names.dir(), second.c_str(), 0) == 0 &&
           ::fstatat(names.dir(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           sizeAt(names.dir(), second, st.st_size);
}

std::string inUpperCase(std::string name) {
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

struct CaseFinding {
    bool sensitive = true;
    bool sameInode = true;
};

// The probe names are lower case; the same name in upper case finds the file only where letter case
// does not tell names apart (nobody else would make a name like that).
CaseFinding probeLetterCase(int dir, const std::string& name) {
    struct stat lower {
    }, upper{};
    if (::fstatat(dir, inUpperCase(name).c_str(), &upper, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    const bool sameInode =
        ::fstatat(dir, name.c_str(), &lower, AT_SYMLINK_NOFOLLOW) == 0 && lower.st_ino == upper.st_ino;
    return {false, sameInode};
}

bool probeSymbolicLinks(ProbeNames& names) {
    const std::string name = names.fresh();
    constexpr const char* kTarget = "paritas-probe-target";
    if (::symlinkat(kTarget, names.dir(), name.c_str()) != 0)
        return false;
    std::array<char, 64> text{};
    const ssize_t n = ::readlinkat(names.dir(), name.c_str(), text.data(), text.size());
    return n > 0 && std::string(text.data(), std::size_t(n)) == kTarget;
}

bool modeSticks(int fd, mode_t mode) {
    struct stat st {};
    return ::fchmod(fd, mode) == 0 && ::fstat(fd, &st) == 0 && (st.st_mode & 0777) == mode;
}

// Two different modes, so that a file system that shows one fixed mode cannot pass by chance. The
// owner is tried only where the process may give files away (root).
bool probeOwnersAndModes(int fd) {
    if (!modeSticks(fd, 0640) || !modeSticks(fd, 0604))
        return false;
    if (::geteuid() != 0)
        return true;
    struct stat before {
    }, after{};
    if (::fstat(fd, &before) != 0)
        return false;
    const uid_t otherUid = before.st_uid == 65534 ? 65533 : 65534;
    const gid_t otherGid = before.st_gid == 65534 ? 65533 : 65534;
    const bool sticks = ::fchown(fd, otherUid, otherGid) == 0 && ::fstat(fd, &after) == 0 &&
                        after.st_uid == otherUid && after.st_gid == otherGid;
    ::fchown(fd, before.st_uid, before.st_gid);
    return sticks;
}

bool probeExtendedAttributes(int fd) {
    constexpr const char* kName = "user.paritas.probe";
    constexpr char kValue[] = "p1";
    if (::fsetxattr(fd, kName, kValue, sizeof kValue - 1, 0) != 0)
        return false;
    std::array<char, 8> read{};
    const ssize_t n = ::fgetxattr(fd, kName, read.data(), read.size());
    ::fremovexattr(fd, kName);
    return n == ssize_t(sizeof kValue - 1) && std::string(read.data(), std::size_t(n)) == kValue;
}

int64_t nanosOf(const timespec& t) {
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The coarsest step a time set to `wanted` was kept in: the smallest candidate step that the time
// read back is a whole multiple of and lies within (truncated or rounded). 0: none fits.
int64_t keptStep(int fd, const timespec& wanted) {
    static constexpr std::array<int64_t, 11> kSteps = {
        1, 10, 100, 1'000, 10'000, 100'000, 1'000'000, 10'000'000, 100'000'000, 1'000'000'000, 2'000'000'000};
    const timespec times[2] = {wanted, wanted};
    struct stat st {};
    if (::futimens(fd, times) != 0 || ::fstat(fd, &st) != 0)
        return 0;
    const int64_t read = nanosOf(st.st_mtim);
    const int64_t off = nanosOf(wanted) - read;
    for (const int64_t step : kSteps)
        if (read % step == 0 && off < step && off > -step)
            return step;
    return 0;
}

// Odd seconds and nine significant digits of nanoseconds, twice: each step a file system may keep
// times in truncates or rounds them differently.
int64_t probeTimeGranularity(int fd) {
    const int64_t first = keptStep(fd, timespec{1'500'000'001, 987'654'321});
    const int64_t second = keptStep(fd, timespec{1'600'000'003, 123'456'789});
    if (first == 0 || second == 0)
        return 0;
    return first > second ? first : second;
}

bool probeClones(ProbeNames& names, int source) {
    std::string name;
    Fd target(createProbeFile(names, name, 0));
    return target.get() >= 0 && ::ioctl(target.get(), FICLONE, source) == 0;
}

} // namespace

bool inodesMayChange(int folderFd) {
    struct statfs fs {};
    return ::fstatfs(folderFd, &fs) == 0 && static_cast<long>(fs.f_type) == kFuseMagic;
}

FileSystemCapabilities probeCapabilities(int folderFd, TemporaryNameLog* journal, const std::string& folder) {
    FileSystemCapabilities found;
    ProbeNames names(folderFd, journal, folder);
    std::string name;
    constexpr off_t kProbeSize = 4096; // a whole block, which every clone implementation accepts
    Fd file(createProbeFile(names, name, kProbeSize));
    if (file.get() < 0) {
        found.probeError = names.journalError() ? names.journalError() : errno;
        return found;
    }
    found.unnamedFiles = probeUnnamedFiles(names);
    found.renameNoReplace = probeRenameNoReplace(names, name);
    found.renameExchange = probeRenameExchange(names, name, kProbeSize);
    found.hardLinks = probeHardLinks(names, name);
    const CaseFinding letterCase = probeLetterCase(folderFd, name);
    found.caseSensitive = letterCase.sensitive;
    found.stableInodes = letterCase.sameInode && !inodesMayChange(folderFd);
    found.symbolicLinks = probeSymbolicLinks(names);
    found.ownersAndModes = probeOwnersAndModes(file.get());
    found.extendedAttributes = probeExtendedAttributes(file.get());
    found.timeGranularityNs = probeTimeGranularity(file.get());
    found.clones = probeClones(names, file.get());
    return found;
}

FileSystemCapabilities probeCapabilities(const std::string& folder, TemporaryNameLog* journal) {
    const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        FileSystemCapabilities unknown;
        unknown.probeError = errno;
        return unknown;
    }
    return probeCapabilities(dir.get(), journal, folder);
}

std::string describeCapabilities(const FileSystemCapabilities& c) {
    if (c.probeError != 0)
        return "not probed (error " + std::to_string(c.probeError) + ")";
    std::string text;
    const auto add = [&text](bool present, const char* name) {
        text += (text.empty() ? "" : " ") + std::string(present ? "" : "no-") + name;
    };
    add(c.unnamedFiles, "unnamed");
    add(c.renameNoReplace, "noreplace");
    add(c.renameExchange, "exchange");
    add(c.hardLinks, "links");
    add(c.caseSensitive, "case");
    add(c.symbolicLinks, "symlinks");
    add(c.ownersAndModes, "modes");
    add(c.extendedAttributes, "xattr");
    add(c.clones, "clones");
    add(c.stableInodes, "inodes");
    text += " time=" + std::to_string(c.timeGranularityNs) + "ns";
    return text;
}

bool sameFileOn(const FileSystemCapabilities* capabilities, const FileStamp& seen, const FileStamp& planned) {
    if (!capabilities || capabilities->stableInodes)
        return seen.sameFileAs(planned);
    FileStamp withoutInode = seen;
    withoutInode.inode = 0;
    return withoutInode.sameFileAs(planned);
}

} // namespace paritas

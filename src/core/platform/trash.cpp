#include "core/platform/trash.h"

#include "core/platform/file_ops.h"
#include "core/platform/path_text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace paritas {

struct Trash::Can {
    int error = 0;
    std::string detail;
    FolderHandle files, info;
    std::string filesPath; // for the log: where the files are
    std::string top;       // the top of the file system for a trash there; empty for the home trash
};

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr int kNameAttempts = 24;
constexpr std::size_t kLongestStem = 200; // NAME + ".trashinfo" stays within a file name's 255 bytes

std::string systemText(int error) {
    return failureText(error);
}

// The path of an open folder as the kernel knows it (no links, no "..").
std::string pathOfFolder(int folder) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", folder);
    std::string path(4096, '\0');
    const ssize_t n = ::readlink(link, path.data(), path.size());
    if (n <= 0 || std::size_t(n) >= path.size())
        return {};
    path.resize(std::size_t(n));
    return path;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind(kSeparator);
    return slash == 0 || slash == std::string::npos ? std::string(1, kSeparator) : path.substr(0, slash);
}

std::string lastNameOf(const std::string& path) {
    const std::size_t slash = path.rfind(kSeparator);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The highest folder above (or at) `path` on the same file system: the top of its file system.
std::string fileSystemTop(const std::string& path, dev_t device) {
    std::string top = path;
    while (top != "/") {
        const std::string parent = parentOf(top);
        struct stat st {};
        if (::stat(parent.c_str(), &st) != 0 || st.st_dev != device)
            break;
        top = parent;
    }
    return top;
}

// The device of `path`, or of the nearest folder above it that exists (a home trash not made yet).
bool deviceOfNearest(std::string path, dev_t& device) {
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            device = st.st_dev;
            return true;
        }
        if (path == "/" || path.empty())
            return false;
        path = parentOf(path);
    }
}

// Makes `path` and the folders above it that are missing (0700: a trash is its owner's alone).
int makeFolders(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (path != "/" && !path.empty())
        if (const int error = makeFolders(parentOf(path)); error != 0)
            return error;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

// Opens the folder `name` in `parent`, making it when missing; never through a link.
int openSubfolder(int parent, const char* name, FolderHandle& into) {
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST)
        return errno;
    const int fd = ::openat(parent, name, kFolderFlags | O_NOFOLLOW);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        if ((error == ENOTDIR || error == ELOOP) && ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            return S_ISLNK(st.st_mode) ? kCrossesLink : ENOTDIR;
        return error;
    }
    into = FolderHandle(fd);
    return 0;
}

std::string percentEncoded(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(path.size());
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                           u == '-' || u == '.' || u == '_' || u == '~' || u == '/';
        if (plain) {
            text += c;
        } else {
            text += '%';
            text += kHex[u >> 4];
            text += kHex[u & 15];
        }
    }
    return text;
}

std::string localIsoTime(std::time_t t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Cuts a name to at most `most` bytes without splitting a UTF-8 character.
std::string cutName(const std::string& name, std::size_t most) {
    if (name.size() <= most)
        return name;
    std::size_t end = most;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

// The name in the trash at the given attempt: the file's own name first, then ".2" ... ".5" before
// its extension, then eight random hex digits there (a trash that holds many files of one name).
std::string trashName(const std::string& name, int attempt) {
    const std::size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= 16;
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    stem = cutName(stem, kLongestStem - extension.size());
    if (attempt == 0)
        return stem + extension;
    if (attempt < 5)
        return stem + "." + std::to_string(attempt + 1) + extension;
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08llx", static_cast<unsigned long long>(uniqueNumber() >> 32));
    return stem + "." + digits + extension;
}

int writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        done += std::size_t(n);
    }
    return 0;
}

} // namespace

bool isTrashFolderName(std::string_view name) {
    constexpr std::string_view kShared = ".Trash", kOwn = ".Trash-";
    if (name == kShared)
        return true;
    if (name.size() <= kOwn.size() || name.substr(0, kOwn.size()) != kOwn)
        return false;
    return std::all_of(name.begin() + kOwn.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isFileSystemTop(const std::string& path) {
    struct stat folder {
    }, parent{};
    if (::stat(path.c_str(), &folder) != 0)
        return false;
    if (::stat((withTrailingSeparator(path) + "..").c_str(), &parent) != 0)
        return false;
    return folder.st_dev != parent.st_dev || folder.st_ino == parent.st_ino;
}

std::string homeTrashFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (data && data[0] == kSeparator) {
        folder = data;
    } else {
        // cron and systemd may start us without HOME: the account's home folder then, and no home
        // trash at all rather than one made at the top of the file system.
        const char* home = std::getenv("HOME");
        if (!home || home[0] != kSeparator) {
            const passwd* account = ::getpwuid(::getuid());
            home = account && account->pw_dir && account->pw_dir[0] == kSeparator ? account->pw_dir : nullptr;
        }
        if (!home)
            return {};
        folder = std::string(home) + "/.local/share";
    }
    while (folder.size() > 1 && folder.back() == kSeparator)
        folder.pop_back();
    return folder + "/Trash";
}

Trash::Trash(std::string homeTrash, uid_t uid) : homeTrash_(std::move(homeTrash)), uid_(uid) {}
Trash::~Trash() = default;

Disposed Trash::ready(int folder) {
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return Disposed{errno, {}, {}};
    const std::shared_ptr<const Can> can = canFor(folder, st.st_dev);
    return Disposed{can->error, can->detail, {}};
}

Disposed Trash::put(int folder, const std::string& name, const std::string& path) {
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return Disposed{errno, {}, {}};
    const std::shared_ptr<const Can> can = canFor(folder, st.st_dev);
    if (can->error != 0)
        return Disposed{can->error, can->detail, {}};

    const std::string shownName = lastNameOf(path);
    std::string where = pathOfFolder(folder);
    if (where.empty())
        where = parentOf(path);
    const std::string full = withTrailingSeparator(where) + shownName;
    // Below the top of a top-folder trash the path is recorded relative to that top; a folder reached
    // another way (a bind mount of the same file system) keeps its absolute path.
    std::string recorded = full;
    const std::string topPrefix = can->top == "/" ? can->top : can->top + "/";
    if (!can->top.empty() && full.starts_with(topPrefix))
        recorded = full.substr(topPrefix.size());
    const std::string info = "[Trash Info]\nPath=" + percentEncoded(recorded) +
                             "\nDeletionDate=" + localIsoTime(std::time(nullptr)) + "\n";

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string inTrash = trashName(shownName, attempt);
        const std::string infoName = inTrash + ".trashinfo";
        const int fd = ::openat(can->info.get(), infoName.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return Disposed{errno, "the trash " + can->filesPath + " cannot take an info file", {}};
        int error = writeAll(fd, info);
        if (::close(fd) != 0 && error == 0)
            error = errno;
        if (error == 0)
            error = moveNoReplaceAt(folder, name, can->files.get(), inTrash).error;
        if (error == 0)
            return Disposed{0, {}, can->filesPath + "/" + inTrash};
        ::unlinkat(can->info.get(), infoName.c_str(), 0);
        if (error == EEXIST)
            continue; // a file without its info file holds the name
        if (error == EXDEV)
            return Disposed{kNoTrash, "the trash " + can->filesPath + " lies on another mount", {}};
        return Disposed{error, {}, {}};
    }
    return Disposed{EEXIST, "no free name in the trash " + can->filesPath, {}};
}

std::shared_ptr<const Trash::Can> Trash::canFor(int folder, dev_t device) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = cans_.find(device);
        if (found != cans_.end())
            return found->second;
    }
    // Found outside the lock (it may take a few system calls); two threads that both look keep the
    // first one's, and the folders they made are the same folders.
    std::shared_ptr<const Can> can = findCan(folder, device);
    std::lock_guard<std::mutex> lock(mutex_);
    return cans_.emplace(device, std::move(can)).first->second;
}

std::shared_ptr<const Trash::Can> Trash::findCan(int folder, dev_t device) const {
    auto can = std::make_shared<Can>();
    const std::string uid = std::to_string(uid_);
    // files/ and info/ of an open trash folder, both on the file's own file system.
    auto fill = [&](int trash, const std::string& trashPath) -> std::string {
        FolderHandle files, info;
        if (const int error = openSubfolder(trash, "files", files); error != 0)
            return trashPath + "/files: " + systemText(error);
        if (const int error = openSubfolder(trash, "info", info); error != 0)
            return trashPath + "/info: " + systemText(error);
        struct stat st {};
        if (::fstat(files.get(), &st) != 0 || st.st_dev != device)
            return trashPath + " lies on another file system";
        can->files = std::move(files);
        can->info = std::move(info);
        can->filesPath = trashPath + "/files";
        return {};
    };

    std::vector<std::string> why;
    dev_t homeDevice = 0;
    if (deviceOfNearest(homeTrash_, homeDevice) && homeDevice == device) {
        std::string problem;
        if (const int error = makeFolders(homeTrash_); error != 0) {
            problem = homeTrash_ + ": " + systemText(error);
        } else {
            const FolderHandle home(::open(homeTrash_.c_str(), kFolderFlags));
            problem = home.valid() ? fill(home.get(), homeTrash_) : homeTrash_ + ": " + systemText(errno);
        }
        if (problem.empty())
            return can;
        why.push_back(problem);
    } else {
        why.push_back(homeTrash_.empty() ? std::string("no home folder is known for the home trash")
                                         : "the home trash " + homeTrash_ + " lies on another file system");
    }

    std::string where = pathOfFolder(folder);
    const std::string top = where.empty() ? std::string() : fileSystemTop(where, device);
    const FolderHandle topFolder(top.empty() ? -1 : ::open(top.c_str(), kFolderFlags));
    if (!topFolder.valid()) {
        why.push_back("the top of the file's file system cannot be opened");
    } else {
        const std::string prefix = top == "/" ? std::string() : top;
        can->top = top;
        // T/.Trash/$uid: only in a real folder (not a link) with the sticky bit, which an administrator
        // made for every user.
        struct stat shared {};
        const std::string sharedPath = prefix + "/.Trash";
        if (::fstatat(topFolder.get(), ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(shared.st_mode)) {
                why.push_back(sharedPath + " is a symbolic link");
            } else if (!S_ISDIR(shared.st_mode) || (shared.st_mode & S_ISVTX) == 0) {
                why.push_back(sharedPath + " has no sticky bit");
            } else {
                FolderHandle sharedFolder(::openat(topFolder.get(), ".Trash", kFolderFlags | O_NOFOLLOW));
                FolderHandle own;
                const int error =
                    sharedFolder.valid() ? openSubfolder(sharedFolder.get(), uid.c_str(), own) : errno;
                struct stat ownStat {};
                std::string problem = error != 0 ? sharedPath + "/" + uid + ": " + systemText(error)
                                      : ::fstat(own.get(), &ownStat) != 0 || ownStat.st_uid != uid_ ||
                                              (ownStat.st_mode & 077) != 0
                                          ? sharedPath + "/" + uid + " is not a private folder of this user"
                                          : fill(own.get(), sharedPath + "/" + uid);
                if (problem.empty())
                    return can;
                why.push_back(problem);
            }
        }
        // T/.Trash-$uid, made when missing; one that exists must be the user's own real folder.
        const std::string ownName = ".Trash-" + uid;
        FolderHandle own;
        std::string problem;
        if (const int error = openSubfolder(topFolder.get(), ownName.c_str(), own); error != 0) {
            problem = prefix + "/" + ownName + ": " + systemText(error);
        } else {
            struct stat st {};
            if (::fstat(own.get(), &st) != 0 || st.st_uid != uid_)
                problem = prefix + "/" + ownName + " belongs to another user";
            else
                problem = fill(own.get(), prefix + "/" + ownName);
        }
        if (problem.empty())
            return can;
        why.push_back(problem);
    }
    can->error = kNoTrash;
    can->top.clear();
    for (const std::string& part : why)
        can->detail += (can->detail.empty() ? "" : "; ") + part;
    return can;
}

} // namespace paritas

#include "core/platform/beneath.h"

#include "core/platform/path_text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace paritas {
namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

std::string withoutTrailingSeparators(std::string_view path) {
    std::string text(path);
    while (text.size() > 1 && text.back() == kSeparator)
        text.pop_back();
    return text;
}

// The folder part and the last name of a path text ("/a/b/c" -> "/a/b", "c"; "/c" -> "/", "c").
std::pair<std::string, std::string> splitLast(std::string_view path) {
    const std::string text = withoutTrailingSeparators(path);
    const std::size_t slash = text.rfind(kSeparator);
    if (slash == std::string::npos)
        return {".", text};
    return {slash == 0 ? std::string(1, kSeparator) : text.substr(0, slash), text.substr(slash + 1)};
}

std::atomic<bool> openat2Missing{false};

// Opens the entry `part` of the open folder `parent` as a folder, never following a link.
int openPartNoFollow(int parent, const std::string& part, FolderHandle& next) {
    next.reset(::openat(parent, part.c_str(), kFolderFlags | O_NOFOLLOW));
    if (next.valid())
        return 0;
    const int error = errno;
    // O_NOFOLLOW on a link gives ELOOP (or ENOTDIR with O_PATH | O_DIRECTORY on some kernels).
    struct stat st {};
    if (error == ELOOP ||
        (error == ENOTDIR && ::fstatat(parent, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(st.st_mode)))
        return kCrossesLink;
    return error;
}

// Opens `relative` (a folder path without leading separator, possibly empty) beneath `base` without
// following any link and without climbing out. Returns the fd, or -1 with errno (kCrossesLink and the
// like as negative values through `error`).
int openFolderBeneath(int base, const std::string& relative, int& error) {
    const char* path = relative.empty() ? "." : relative.c_str();
    if (!openat2Missing) {
        open_how how{};
        how.flags = kFolderFlags;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = ::syscall(SYS_openat2, base, path, &how, sizeof how);
        if (fd >= 0)
            return static_cast<int>(fd);
        if (errno != ENOSYS && errno != EPERM) {
            error = errno == ELOOP ? kCrossesLink : errno == EXDEV ? kOutsideLocations : errno;
            return -1;
        }
        openat2Missing = true; // an old kernel, or a filter that forbids the call
    }
    // One component at a time, each opened without following a link.
    FolderHandle folder;
    error = openFolderStepwise(base, relative, folder);
    return error == 0 ? folder.release() : -1;
}

} // namespace

int openFolderStepwise(int base, const std::string& relative, FolderHandle& into, const FolderStep& step) {
    FolderHandle current(::fcntl(base, F_DUPFD_CLOEXEC, 0));
    if (!current.valid())
        return errno;
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find(kSeparator, start);
        if (end == std::string::npos)
            end = relative.size();
        const std::string part = relative.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return kOutsideLocations;
        FolderHandle next;
        if (const int error =
                step ? step(current.get(), part, next) : openPartNoFollow(current.get(), part, next);
            error != 0)
            return error;
        current = std::move(next);
    }
    into = std::move(current);
    return 0;
}

namespace {

struct RegisteredTexts {
    std::mutex mutex;
    std::vector<FailureTexts> sources;
};

RegisteredTexts& registeredTexts() {
    static RegisteredTexts registered;
    return registered;
}

} // namespace

void registerFailureTexts(FailureTexts texts) {
    RegisteredTexts& registered = registeredTexts();
    std::lock_guard lock(registered.mutex);
    if (std::find(registered.sources.begin(), registered.sources.end(), texts) == registered.sources.end())
        registered.sources.push_back(texts);
}

std::string failureText(int error) {
    if (error < -1100) {
        RegisteredTexts& registered = registeredTexts();
        std::lock_guard lock(registered.mutex);
        for (const FailureTexts texts : registered.sources)
            if (const char* text = texts(error))
                return text;
    }
    switch (error) {
    case kCrossesLink:
        return "a symbolic link stands on the path, and actions never pass through a link";
    case kOutsideLocations:
        return "the path does not lie beneath location A or location B";
    case kChangedSincePlanning:
        return "changed since planning";
    case kDependencyFailed:
        return "not done, because an earlier line it depends on did not succeed";
    case kNameTooLongForCopy:
        return "File name too long (ENAMETOOLONG)";
    case kNoTrash:
        return "no trash on the file's own file system could be used (files go to a trash only by a "
               "move, never by a copy), so the file stays where it was";
    case kVersionsOnOtherFileSystem:
        return "the versions folder lies on another file system than the file (files go there only by "
               "a move, never by a copy), so the file stays where it was";
    case kVersionsFolderUnusable:
        return "the versions folder cannot be used, so the file stays where it was";
    case kCopyDiffers:
        return "the copy, read back, differs from the source (the destination is left as it was)";
    case kChangedWhileCopied:
        return "changed while it was copied";
    case kNoLongerAFile:
        return "is no longer a file";
    case kMoveAcrossFileSystems:
        return "the new place lies on another file system or mount, so the file cannot be moved in one step";
    default:
        break;
    }
    const char* name = ::strerrorname_np(error);
    return std::string(std::strerror(error)) + " (" + (name ? name : std::to_string(error)) + ")";
}

struct LocationResolver::Root {
    std::string text;   // without trailing separator ("/" for the root of the file system)
    std::string prefix; // with it
    std::mutex opening;
    std::shared_ptr<const FolderHandle> folder;

    // Opened once, following links: the location is the folder the user chose, wherever it lies. A
    // location that does not exist yet (backup into a new folder) is tried again next time.
    std::shared_ptr<const FolderHandle> open(int& error) {
        std::lock_guard<std::mutex> lock(opening);
        if (!folder) {
            const int fd = ::open(text.c_str(), kFolderFlags);
            if (fd < 0)
                error = errno;
            else
                folder = std::make_shared<const FolderHandle>(fd);
        }
        return folder;
    }
};

LocationResolver::LocationResolver(const std::vector<std::string>& locations)
    : roots_(std::make_shared<std::vector<std::unique_ptr<Root>>>()) {
    for (const std::string& location : locations) {
        if (!isAbsolutePath(location))
            continue;
        auto root = std::make_unique<Root>();
        root->text = withoutTrailingSeparators(location);
        root->prefix = withTrailingSeparator(root->text);
        roots_->push_back(std::move(root));
    }
    kept_.resize(roots_->size());
}

LocationResolver::LocationResolver() = default;
LocationResolver::LocationResolver(LocationResolver&&) noexcept = default;
LocationResolver& LocationResolver::operator=(LocationResolver&&) noexcept = default;
LocationResolver::~LocationResolver() = default;

LocationResolver LocationResolver::sharingLocations() const {
    LocationResolver other;
    other.roots_ = roots_;
    other.kept_.resize(kept_.size());
    return other;
}

bool LocationResolver::hasLocations() const {
    return roots_ && !roots_->empty();
}

void LocationResolver::forgetFolders() {
    for (Kept& kept : kept_) {
        kept.relative.clear();
        kept.folder.reset();
    }
}

bool LocationResolver::isLocation(std::string_view path) const {
    if (!hasLocations())
        return false;
    const std::string text = withoutTrailingSeparators(path);
    for (const auto& root : *roots_)
        if (root->text == text)
            return true;
    return false;
}

ResolvedPath LocationResolver::resolve(std::string_view path) {
    ResolvedPath result;
    auto [folderText, name] = splitLast(path);
    result.name = name;
    if (name.empty() || name == "." || name == "..") {
        result.error = EINVAL;
        return result;
    }
    // The location itself, or no locations: the folder holding it is opened as written.
    if (!hasLocations() || isLocation(path)) {
        const int fd = ::open(folderText.c_str(), kFolderFlags);
        if (fd < 0)
            result.error = errno;
        else
            result.folder = OpenFolder(std::make_shared<const FolderHandle>(fd));
        return result;
    }
    std::size_t holder = roots_->size();
    for (std::size_t r = 0; r < roots_->size(); ++r) {
        const std::string& prefix = (*roots_)[r]->prefix;
        if (path.size() > prefix.size() && path.substr(0, prefix.size()) == prefix &&
            (holder == roots_->size() || prefix.size() > (*roots_)[holder]->prefix.size()))
            holder = r;
    }
    if (holder == roots_->size()) {
        result.error = kOutsideLocations;
        return result;
    }
    Root& root = *(*roots_)[holder];
    int error = 0;
    const std::shared_ptr<const FolderHandle> rootFolder = root.open(error);
    if (!rootFolder) {
        result.error = error;
        return result;
    }
    const std::string withSlash = folderText + kSeparator;
    std::string relative =
        withSlash.size() > root.prefix.size() ? folderText.substr(root.prefix.size()) : std::string();
    if (relative.empty()) {
        result.folder = OpenFolder(rootFolder);
        return result;
    }
    Kept& kept = kept_[holder];
    if (kept.folder && kept.relative == relative) {
        result.folder = OpenFolder(kept.folder);
        return result;
    }
    const int fd = openFolderBeneath(rootFolder->get(), relative, error);
    if (fd < 0) {
        result.error = error;
        return result;
    }
    kept.folder = std::make_shared<const FolderHandle>(fd);
    kept.relative = std::move(relative);
    result.folder = OpenFolder(kept.folder);
    return result;
}

} // namespace paritas

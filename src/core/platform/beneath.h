#pragma once
// Paths resolved beneath a location, never through a symbolic link.
//
// A location (A or B) is the folder the user chose; it may itself be a link or lie below one, and it
// is opened once, following links, when it is first needed. Every path below it is then resolved
// relative to that open folder, component by component, refusing any symbolic link on the way and
// any ".." that would climb out (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS; an O_NOFOLLOW
// walk where the kernel lacks openat2). The last component is never followed either: callers act on
// it with *at calls that treat a link as the link itself.
//
//   "/data/B/docs/x.txt" with location "/data/B/"  ->  folder fd of "docs" (opened beneath B), "x.txt"
//   "/data/B/docs/x.txt" where B/docs is a link    ->  fails: kCrossesLink
//   "/data/B" (the location itself)                ->  folder fd of "/data" (opened as written), "B"
//   "/elsewhere/x"                                 ->  fails: kOutsideLocations
//
// With no locations at all every path is resolved as written (links followed up to its last
// component); only code that has no locations (tests of single operations) works that way.

#include "core/platform/unique_fd.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

// Failures that are no errno of the system; negative so that they never clash with one.
inline constexpr int kCrossesLink = -1001;      // a symbolic link stands on the way
inline constexpr int kOutsideLocations = -1002; // the path lies beneath neither location
inline constexpr int kChangedSincePlanning = -1003;
inline constexpr int kDependencyFailed = -1004;
inline constexpr int kNameTooLongForCopy = -1005;
// A removed or replaced file that was to be kept could not be; it stays where it was.
inline constexpr int kNoTrash = -1006;
inline constexpr int kVersionsOnOtherFileSystem = -1007;
inline constexpr int kVersionsFolderUnusable = -1008;
// A verified copy read back other bytes than the source holds.
inline constexpr int kCopyDiffers = -1009;
// The source changed size or modified time while it was being copied (appended to, rewritten).
inline constexpr int kChangedWhileCopied = -1010;
// What stands at the source is no longer a file or a link (a FIFO, a device, a socket).
inline constexpr int kNoLongerAFile = -1011;
// A move's source and destination lie on different file systems or mounts (a bind mount of a folder
// of the same disk counts too): no rename can move it; copyThenDeleteIfUnchanged (file_copy.h) can.
inline constexpr int kMoveAcrossFileSystems = -1012;

// The text for a failure code: the system's text and name for an errno ("Permission denied
// (EACCES)"), the sentence for one of the codes above, or that of a code a higher layer registered.
std::string failureText(int error);

// Layers above the platform (remote locations) have failure codes of their own, below -1100; the
// sentence for such a code comes from `texts`, which returns nullptr for codes it does not know.
// Registering the same function twice keeps one. Thread-safe.
using FailureTexts = const char* (*)(int error);
void registerFailureTexts(FailureTexts texts);

// An open folder, closed with the object.
using FolderHandle = UniqueFd;

// Opens the folder `relative` (its names separated by the separator) beneath the open folder `base`,
// one name at a time, never climbing out (".." fails with kOutsideLocations). `step` opens one name
// in its parent (a versions folder makes what is missing there); by default a folder opened without
// following a link (a link fails with kCrossesLink). Returns 0 with `into` set, or the failure.
using FolderStep = std::function<int(int parent, const std::string& name, FolderHandle& next)>;
int openFolderStepwise(int base, const std::string& relative, FolderHandle& into,
                       const FolderStep& step = {});

// A folder a resolved path lies in: opened for it, or kept open by the resolver (shared, so that it
// stays open while the path is used even when the resolver keeps another folder meanwhile).
class OpenFolder {
public:
    OpenFolder() = default;
    explicit OpenFolder(std::shared_ptr<const FolderHandle> folder) : folder_(std::move(folder)) {}
    int get() const { return folder_ ? folder_->get() : -1; }
    bool valid() const { return get() >= 0; }

private:
    std::shared_ptr<const FolderHandle> folder_;
};

// A path split into the open folder that holds it and its last name.
struct ResolvedPath {
    OpenFolder folder;
    std::string name;
    int error = 0; // 0, an errno, or one of the codes above
    bool ok() const { return error == 0; }
};

// Resolves paths beneath the locations. The last folder resolved beneath each location is kept open,
// so that a run of lines acting in one folder resolves it once; forgetFolders() drops what is kept
// (after a folder was removed, it could be made anew under its old name). One resolver serves one
// thread; resolvers made by sharingLocations() share the opened locations and keep folders of their own.
class LocationResolver {
public:
    LocationResolver();
    // Locations are absolute folder paths; a trailing separator is optional.
    explicit LocationResolver(const std::vector<std::string>& locations);
    LocationResolver(LocationResolver&&) noexcept;
    LocationResolver& operator=(LocationResolver&&) noexcept;
    ~LocationResolver();

    // A resolver for another thread: the same locations, opened once for both.
    LocationResolver sharingLocations() const;

    bool hasLocations() const;
    // The folder holding `path` and its last name, resolved beneath the location that holds it.
    ResolvedPath resolve(std::string_view path);
    // True when `path` names a location itself (its text without or with the trailing separator).
    bool isLocation(std::string_view path) const;
    void forgetFolders();

private:
    struct Root;
    struct Kept {
        std::string relative;
        std::shared_ptr<const FolderHandle> folder;
    };
    std::shared_ptr<std::vector<std::unique_ptr<Root>>> roots_;
    std::vector<Kept> kept_; // position for position with the roots
};

} // namespace paritas

#include "core/inventory/scan.h"

#include "core/inventory/paths.h"
#include "core/platform/datetime.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_identity.h"
#include "core/platform/file_queries.h"
#include "core/platform/folder_listing.h"
#include "core/platform/path_text.h"

#include <algorithm>
#include <cerrno>

namespace paritas {
namespace {

std::string_view letter(Side side) {
    return side == Side::A ? "A" : "B";
}

std::string joined(std::string_view folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + name.size());
    path.append(folder).append(name);
    return path;
}

// Files of one folder lie close together in time; packing a time goes through localtime_r, so the
// last answer is kept.
class FileTimePacker {
public:
    int32_t operator()(int64_t modifiedTime) {
        if (!valid_ || modifiedTime != lastTime_) {
            lastTime_ = modifiedTime;
            lastPacked_ = packDosDateTime(static_cast<std::time_t>(modifiedTime));
            valid_ = true;
        }
        return lastPacked_;
    }

private:
    bool valid_ = false;
    int64_t lastTime_ = 0;
    int32_t lastPacked_ = 0;
};

// The name of a copy's temporary file: ".paritas-" + 16 hex digits + ".tmp". New content is normally
// written unnamed; where a file system cannot do that, a copy that is killed leaves such a file, which
// is no file of the user's and is never listed (nor copied to the other side).
bool isCopyTemporaryName(std::string_view name) {
    constexpr std::string_view prefix = kCopyTempPrefix;
    if (name.size() != prefix.size() + 16 + 4 || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - 4) != ".tmp")
        return false;
    for (char c : name.substr(prefix.size(), 16))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// Lists the files of one folder into the inventory, in name order. Folders are not rows; special
// files, names the stored lines cannot carry and entries whose facts cannot be read are left out with
// one log line each, and coverage records what stays unknown. A folder that cannot be read
// contributes nothing but a line saying so.
void listFiles(const std::string& folder, bool isLocation, Inventory& inventory, FolderListing& listing,
               FileTimePacker& packTime, ScanCoverage& coverage, ActivityHost& host) {
    ListingOptions options;
    options.fileFacts = true;
    options.followLinkAtPath = isLocation;
    if (!listFolderSorted(folder, options, listing)) {
        host.log(unreadFolderLine(folder, listing.errorCode()));
        if (isLocation) {
            coverage.locationUnreadable = true;
            coverage.locationError = listing.errorCode();
        } else {
            coverage.unreadFolders.push_back(folder);
        }
        return;
    }
    // Names without what stands behind them: the folder is as unknown as one that cannot be read.
    if (listing.searchDenied()) {
        host.log(unreadFolderLine(folder, EACCES));
        if (isLocation) {
            coverage.locationUnreadable = true;
            coverage.locationError = EACCES;
        } else {
            coverage.unreadFolders.push_back(folder);
        }
        return;
    }
    for (const FolderEntry& entry : listing) {
        if (entry.type == EntryType::Directory)
            continue;
        if (holdsUncarriableCharacter(entry.name)) {
            host.log("Skipped name that cannot be carried: " + printablePath(joined(folder, entry.name)));
            ++coverage.skippedNames;
            continue;
        }
        if (entry.type == EntryType::Special) {
            host.log("Skipped special file: " + printablePath(joined(folder, entry.name)));
            continue;
        }
        if (entry.type == EntryType::Unknown || !entry.factsKnown) {
            const std::string path = joined(folder, entry.name);
            host.log("Skipped file that cannot be read: " + printablePath(path) +
                     (entry.factsError ? " (" + errorText(entry.factsError) + ")" : std::string()));
            coverage.unreadEntries.push_back(path);
            continue;
        }
        if (entry.type == EntryType::File && isCopyTemporaryName(entry.name)) {
            host.log("Skipped temporary file of an interrupted copy: " +
                     printablePath(joined(folder, entry.name)));
            continue;
        }
        inventory.addFile(folder, entry.name,
                          FileStamp{entry.size, packTime(entry.modifiedTime), entry.modifiedTime,
                                    entry.modifiedNanos, entry.inode});
        host.keepAlive();
    }
}

} // namespace

ScanResult scanLocation(std::string_view location, bool includeSubfolders, Side side, ScanHost& host) {
    ScanResult result;
    host.log(nowDateTimeText() + " Searching for Folders in \"" + std::string(letter(side)) + "\" ...");

    // Only an absolute text is looked up: an empty or relative one would name something below the
    // process's current folder, which the user never chose.
    const bool carriable = !holdsUncarriableCharacter(location);
    const std::string locationText(location);
    const bool exists = carriable && isAbsolutePath(location) && folderExists(locationText);
    if (!carriable)
        host.log("Skipped name that cannot be carried: " + printablePath(location));
    else if (!exists)
        host.log("Folder " + locationText + " does not exist!");
    result.locationExists = exists;

    ScanCoverage& coverage = result.coverage;
    if (!exists)
        result.folders.push_back(locationText);
    else if (includeSubfolders)
        result.folders = FolderTree(withTrailingSeparator(location), host, &coverage);
    else
        result.folders.push_back(withTrailingSeparator(location));

    host.foldersListed();
    host.log(nowDateTimeText() + " Folders in \"" + std::string(letter(side)) + "\" Found!");

    const std::size_t count = result.folders.size();
    host.setProgressMaximum(count >= 3 ? static_cast<int64_t>(count) - 1 : 1);
    FolderListing listing;
    FileTimePacker packTime;
    // Folders the walk could not open are known already: they are not tried (nor reported) twice.
    std::vector<std::string> unreadByWalk = coverage.unreadFolders;
    std::sort(unreadByWalk.begin(), unreadByWalk.end());
    const bool rootUnreadByWalk = coverage.locationUnreadable;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& folder = result.folders[i];
        host.log("Scanning folder " + printablePath(folder));
        const bool knownUnread =
            i == 0 ? rootUnreadByWalk : std::binary_search(unreadByWalk.begin(), unreadByWalk.end(), folder);
        if (exists && !knownUnread)
            listFiles(folder, i == 0, result.inventory, listing, packTime, coverage, host);
        host.setProgressPosition(static_cast<int64_t>(i));
    }
    if (exists && !includeSubfolders && !coverage.locationUnreadable) {
        // Without the walk, the location's own identity is read here (for the overlap refusal).
        if (const std::optional<ObjectId> id = objectIdOf(result.folders[0]))
            coverage.folderIds.push_back(*id);
    }
    if (const std::string summary = coverageSummary(side, coverage); !summary.empty())
        host.log(summary);
    return result;
}

std::string coverageSummary(Side side, const ScanCoverage& coverage) {
    if (coverage.complete())
        return {};
    std::string text = "Not everything in " + std::string(letter(side)) + " can be synchronised:";
    if (coverage.locationUnreadable)
        return text + " the location itself could not be read (" + errorText(coverage.locationError) + ").";
    std::string parts;
    auto add = [&](std::size_t count, const char* what) {
        if (count == 0)
            return;
        parts += (parts.empty() ? " " : ", ") + std::to_string(count) + what;
    };
    add(coverage.unreadFolders.size(), " folder(s) could not be read");
    add(coverage.unreadEntries.size(), " file(s) could not be read");
    add(coverage.skippedNames, " name(s) cannot be carried");
    return text + parts + ".";
}

std::string filesCountPanelText(Side side, const Inventory& inventory) {
    return "Files Count " + std::string(letter(side)) + " : " + std::to_string(inventory.fileCount()) +
           "  Size: " + std::to_string(inventory.sizeTotal() / 1048576) + "MB";
}

std::string initialPanelText(Side side) {
    return "Files/Folders " + std::string(letter(side)) + ":";
}

std::string searchingLabelText(Side side) {
    return side == Side::A ? "Searching folders and subfolders, please wait ..."
                           : "Searching folders please wait ...";
}

std::string finishedLabelText(Side side) {
    return "Path " + std::string(letter(side)) + " Finished";
}

} // namespace paritas

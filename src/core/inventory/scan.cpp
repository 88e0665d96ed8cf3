#include "core/inventory/scan.h"

#include "core/inventory/paths.h"
#include "core/platform/datetime.h"
#include "core/platform/file_queries.h"
#include "core/platform/folder_listing.h"
#include "core/platform/path_text.h"

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

// Lists the files of one folder into the inventory, in name order. Folders are not rows; special
// files, names the stored lines cannot carry and entries whose facts cannot be read are left out with
// one log line each. A folder that cannot be read contributes nothing.
void listFiles(const std::string& folder, bool isLocation, Inventory& inventory, FolderListing& listing,
               FileTimePacker& packTime, ActivityHost& host) {
    ListingOptions options;
    options.fileFacts = true;
    options.followLinkAtPath = isLocation;
    if (!listFolderSorted(folder, options, listing))
        return;
    for (const FolderEntry& entry : listing) {
        if (entry.type == EntryType::Directory)
            continue;
        if (holdsUncarriableCharacter(entry.name)) {
            host.log("Skipped name that cannot be carried: " + printablePath(joined(folder, entry.name)));
            continue;
        }
        if (entry.type == EntryType::Special) {
            host.log("Skipped special file: " + printablePath(joined(folder, entry.name)));
            continue;
        }
        if (entry.type == EntryType::Unknown || !entry.factsKnown) {
            host.log("Skipped file that cannot be read: " + printablePath(joined(folder, entry.name)));
            continue;
        }
        inventory.addFile(folder, entry.name, entry.size, packTime(entry.modifiedTime));
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

    if (!exists)
        result.folders.push_back(locationText);
    else if (includeSubfolders)
        result.folders = FolderTree(withTrailingSeparator(location), host);
    else
        result.folders.push_back(withTrailingSeparator(location));

    host.foldersListed();
    host.log(nowDateTimeText() + " Folders in \"" + std::string(letter(side)) + "\" Found!");

    const std::size_t count = result.folders.size();
    host.setProgressMaximum(count >= 3 ? static_cast<int64_t>(count) - 1 : 1);
    FolderListing listing;
    FileTimePacker packTime;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& folder = result.folders[i];
        host.log("Scanning folder " + printablePath(folder));
        if (exists)
            listFiles(folder, i == 0, result.inventory, listing, packTime, host);
        host.setProgressPosition(static_cast<int64_t>(i));
    }
    return result;
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

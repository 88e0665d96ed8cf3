#include "core/inventory/paths.h"

#include "core/platform/folder_listing.h"
#include "core/platform/path_text.h"

#include <cstring>

namespace paritas {

std::string LastPathPart(std::string_view path) {
    constexpr std::size_t kMaximum = 500;
    std::size_t start = 0;
    if (path.size() >= 2) {
        const std::size_t separator = path.rfind(kSeparator, path.size() - 2);
        if (separator != std::string_view::npos)
            start = separator + 1;
    }
    std::string_view part = path.substr(start);
    if (part.size() > kMaximum) {
        std::size_t cut = kMaximum;
        while (cut > 0 && (static_cast<unsigned char>(part[cut]) & 0xC0) == 0x80)
            --cut;
        part = part.substr(0, cut);
    }
    return std::string(part);
}

std::string printablePath(std::string_view path) {
    std::string text(path);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    return text;
}

std::string errorText(int error) {
    const char* name = ::strerrorname_np(error);
    return std::string(std::strerror(error)) + " (" + (name ? name : std::to_string(error)) + ")";
}

std::string unreadFolderLine(std::string_view folder, int error) {
    return "Cannot read folder " + printablePath(folder) + ": " + errorText(error);
}

FolderList FolderTree(std::string_view root, ActivityHost& host, ScanCoverage* coverage) {
    FolderList list;
    list.emplace_back(root);
    if (!isAbsolutePath(root))
        return list;

    // A plain breadth-first queue: the list is its own queue, so folders appended while one folder is
    // searched are searched after every folder already listed, which is the level-by-level order.
    FolderListing listing;
    ListingOptions options;
    options.folderId = coverage != nullptr;
    std::string parent;
    for (std::size_t i = 0; i < list.size(); ++i) {
        options.followLinkAtPath = i == 0; // the root may be a link the user chose; nothing below it
        if (!listFolderSorted(list[i], options, listing)) {
            host.log(unreadFolderLine(list[i], listing.errorCode()));
            if (coverage && i == 0) {
                coverage->locationUnreadable = true;
                coverage->locationError = listing.errorCode();
            } else if (coverage) {
                coverage->unreadFolders.push_back(list[i]);
            }
            if (coverage)
                coverage->folderIds.push_back(ObjectId{}); // kept in step with the list
            continue;
        }
        if (coverage)
            coverage->folderIds.push_back(listing.folderId());
        parent = i == 0 ? withTrailingSeparator(list[0]) : list[i];
        for (const FolderEntry& entry : listing) {
            if (entry.type != EntryType::Directory)
                continue;
            std::string folder;
            folder.reserve(parent.size() + entry.name.size() + 1);
            folder.append(parent).append(entry.name).push_back(kSeparator);
            if (holdsUncarriableCharacter(entry.name)) {
                host.log("Skipped name that cannot be carried: " + printablePath(folder));
                if (coverage)
                    ++coverage->skippedNames;
                continue;
            }
            list.push_back(std::move(folder));
            host.keepAlive();
        }
    }
    return list;
}

} // namespace paritas

#include "core/inventory/paths.h"

#include "core/inventory/tree_walk.h"
#include "core/platform/beneath.h"
#include "core/platform/folder_listing.h"
#include "core/platform/local_location.h"
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
    if (error < 0)
        return failureText(error); // a code of the platform or of a remote, with its sentence
    const char* name = ::strerrorname_np(error);
    return std::string(std::strerror(error)) + " (" + (name ? name : std::to_string(error)) + ")";
}

std::string unreadFolderLine(std::string_view folder, int error) {
    return "Cannot read folder " + printablePath(folder) + ": " + errorText(error);
}

FolderList FolderTree(std::string_view root, ActivityHost& host, ScanCoverage* coverage) {
    if (!isAbsolutePath(root))
        return FolderList{std::string(root)};
    WalkOptions options;
    options.fileFacts = false;
    std::vector<bool> unopened;
    const FolderCommit record = [&](std::size_t k, const std::string&, const FolderRead& read) {
        unopened.push_back(read.openError != 0);
        if (coverage == nullptr)
            return;
        coverage->folderIds.push_back(read.openError == 0 ? read.id : ObjectId{});
        if (read.openError != 0 && k == 0) {
            coverage->locationUnreadable = true;
            coverage->locationError = read.openError;
        }
    };
    std::size_t skipped = 0;
    LocalLocation location{std::string(root)};
    FolderList folders = walkTree(location, options, host, record, &skipped);
    folders.front() = std::string(root); // the root as given, with or without its separator
    if (coverage) {
        coverage->skippedNames += skipped;
        // The folders that could not be opened, in list order (the root is the location itself).
        for (std::size_t k = 1; k < folders.size(); ++k)
            if (unopened[k])
                coverage->unreadFolders.push_back(folders[k]);
    }
    return folders;
}

} // namespace paritas

#include "core/settings/removal_settings.h"

#include <algorithm>

namespace paritas {
namespace {

constexpr const char* kRemovedFilesKey = "removed-files";
constexpr const char* kVersionsFolderKey = "versions-folder";
constexpr const char* kKeepDaysKey = "versions-keep-days";
constexpr const char* kVerifyKey = "verify-copies";

// A hundred years: enough for any wish, small enough for every time computation.
constexpr int kMostKeepDays = 36500;

} // namespace

const char* removedFilesWord(RemovedFiles choice) {
    switch (choice) {
    case RemovedFiles::Trash:
        return "trash";
    case RemovedFiles::Versions:
        return "versions";
    case RemovedFiles::Delete:
        break;
    }
    return "delete";
}

std::optional<RemovedFiles> removedFilesFromWord(const std::string& word) {
    for (RemovedFiles choice : {RemovedFiles::Delete, RemovedFiles::Trash, RemovedFiles::Versions})
        if (word == removedFilesWord(choice))
            return choice;
    return std::nullopt;
}

std::optional<int> parseKeepDays(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int days = std::stoi(text);
    if (days > kMostKeepDays)
        return std::nullopt;
    return days;
}

void readRemovalSettings(const KeyValueFile& file, Settings& settings) {
    if (auto choice = removedFilesFromWord(file.get(kRemovedFilesKey)))
        settings.removedFiles = *choice;
    const std::string folder = file.get(kVersionsFolderKey);
    // Only an absolute folder: the file may have been edited by hand, and a relative one would depend
    // on the folder the program happens to start in.
    if (folder.empty() || folder.front() == '/')
        settings.versionsFolder = folder;
    if (auto days = parseKeepDays(file.get(kKeepDaysKey)))
        settings.versionsKeepDays = *days;
    const std::string verify = file.get(kVerifyKey);
    if (verify == "yes" || verify == "no")
        settings.verifyCopies = verify == "yes";
}

void storeRemovalSettings(const Settings& settings, KeyValueFile& file) {
    file.set(kRemovedFilesKey, removedFilesWord(settings.removedFiles));
    file.set(kVersionsFolderKey, settings.versionsFolder);
    file.set(kKeepDaysKey, std::to_string(settings.versionsKeepDays));
    file.set(kVerifyKey, settings.verifyCopies ? "yes" : "no");
}

} // namespace paritas

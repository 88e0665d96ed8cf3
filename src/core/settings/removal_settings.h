#pragma once
// What becomes of removed and replaced files, and whether copies are verified, as unattended.ini keeps
// them (config.ini has no line for them). The window saves them; the window's runs and
// `paritas-cli jobs` read them.
//
//   removed-files = delete            delete | trash | versions
//   versions-folder =                 empty: ".paritas-versions" at the top of each location
//   versions-keep-days = 0            0 keeps every version
//   verify-copies = no                yes | no

#include "core/settings/settings.h"
#include "core/settings/settings_folder.h"

#include <optional>
#include <string>

namespace paritas {

// Sets the four settings from the file; an entry that is missing or cannot be read leaves its setting
// as it was.
void readRemovalSettings(const KeyValueFile& file, Settings& settings);
// Writes the four entries (their lines replaced in place, or appended).
void storeRemovalSettings(const Settings& settings, KeyValueFile& file);

// "delete", "trash", "versions", and back.
const char* removedFilesWord(RemovedFiles choice);
std::optional<RemovedFiles> removedFilesFromWord(const std::string& word);

// A number of days from 0 to 36500 written in decimal digits, else nothing.
std::optional<int> parseKeepDays(const std::string& text);

} // namespace paritas

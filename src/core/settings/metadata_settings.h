#pragma once
// What a backup keeps beyond contents, as unattended.ini keeps it (config.ini has no line for it). The
// window saves it; the window's runs and `paritas-cli jobs` read it.
//
//   hard-links = no                   yes | no   names of A that share one file share one in B
//   compare-attributes = no           yes | no   ACLs and extended attributes compared (--xattrs)

#include "core/settings/settings.h"
#include "core/settings/settings_folder.h"

namespace paritas {

// Sets the two settings from the file; an entry that is missing or reads neither yes nor no leaves its
// setting as it was.
void readMetadataSettings(const KeyValueFile& file, Settings& settings);
// Writes the two entries (their lines replaced in place, or appended).
void storeMetadataSettings(const Settings& settings, KeyValueFile& file);

} // namespace paritas

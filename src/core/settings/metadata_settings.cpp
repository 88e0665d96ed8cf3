#include "core/settings/metadata_settings.h"

namespace paritas {
namespace {

constexpr const char* kHardLinksKey = "hard-links";
constexpr const char* kCompareAttributesKey = "compare-attributes";

void readYesNo(const KeyValueFile& file, const char* key, bool& setting) {
    const std::string value = file.get(key);
    if (value == "yes" || value == "no")
        setting = value == "yes";
}

} // namespace

void readMetadataSettings(const KeyValueFile& file, Settings& settings) {
    readYesNo(file, kHardLinksKey, settings.hardLinks);
    readYesNo(file, kCompareAttributesKey, settings.compareAttributes);
}

void storeMetadataSettings(const Settings& settings, KeyValueFile& file) {
    file.set(kHardLinksKey, settings.hardLinks ? "yes" : "no");
    file.set(kCompareAttributesKey, settings.compareAttributes ? "yes" : "no");
}

} // namespace paritas

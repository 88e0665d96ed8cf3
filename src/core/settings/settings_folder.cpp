#include "core/settings/settings_folder.h"

#include "core/platform/file_queries.h"
#include "core/settings/config_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace paritas {
namespace {

std::string withSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The key of an entry line, or empty for a comment or a line without "=".
std::string keyOf(const std::string& line) {
    const std::string text = trimmed(line);
    const std::size_t equals = text.find('=');
    if (text.empty() || text[0] == '#' || equals == std::string::npos)
        return {};
    return trimmed(text.substr(0, equals));
}

} // namespace

std::string xdgSettingsFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return withSeparator(config) + "paritas/";
    const char* home = std::getenv("HOME");
    return withSeparator(home && home[0] == '/' ? home : "/") + ".config/paritas/";
}

std::string settingsFolderFor(const std::string& currentFolder) {
    const std::string here = withSeparator(currentFolder);
    if (fileExists(here + kConfigFileName))
        return here;
    return xdgSettingsFolder();
}

std::string makeSettingsFolder(const std::string& folder) {
    std::string path;
    std::size_t at = 0;
    while (at < folder.size()) {
        const std::size_t next = folder.find('/', at + 1);
        path = folder.substr(0, next == std::string::npos ? folder.size() : next);
        at = next == std::string::npos ? folder.size() : next;
        if (path.empty() || path == "/")
            continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            return std::strerror(errno);
    }
    return folderExists(folder) ? std::string() : std::string("not a folder: ") + folder;
}

std::string KeyValueFile::get(const std::string& key, const std::string& fallback) const {
    const auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

void KeyValueFile::set(const std::string& key, const std::string& value) {
    values[key] = value;
    const std::string line = key + " = " + value;
    for (std::string& existing : lines)
        if (keyOf(existing) == key) {
            existing = line;
            return;
        }
    lines.push_back(line);
}

KeyValueFile readKeyValues(const std::vector<std::string>& lines) {
    KeyValueFile file;
    file.lines = lines;
    for (const std::string& line : lines) {
        const std::string key = keyOf(line);
        if (!key.empty())
            file.values[key] = trimmed(line.substr(line.find('=') + 1));
    }
    return file;
}

} // namespace paritas

#include "core/planning/plan_support.h"

#include "core/platform/file_identity.h"

#include <functional>

namespace paritas {

// ---- the host's defaults: the real file system ----

bool PlannerHost::folderExists(const std::string& path) {
    return paritas::folderExists(path);
}
bool PlannerHost::fileExists(const std::string& path) {
    return paritas::fileExists(path);
}
std::optional<FileFacts> PlannerHost::fileFacts(const std::string& path) {
    return paritas::fileFacts(path);
}
bool PlannerHost::sameFile(const std::string& first, const std::string& second) {
    return sameFileObject(first, second);
}
std::optional<std::string> PlannerHost::resolvedFolder(const std::string& path) {
    return resolvedFolderPath(path);
}

// ---- texts ----

std::string_view locationStem(std::string_view location) {
    return location.empty() ? location : location.substr(0, location.size() - 1);
}

std::string_view folderPart(std::string_view entry, std::string_view location) {
    if (location.empty() || entry.size() < location.size())
        return {};
    std::string_view part = entry.substr(location.size() - 1);
    if (!part.empty() && part.back() == kSeparator)
        part.remove_suffix(1);
    return part;
}

std::string_view relativePath(std::string_view fullPath, std::string_view location) {
    return fullPath.size() < location.size() ? std::string_view() : fullPath.substr(location.size());
}

int64_t progressMaximum(std::size_t rows) {
    return rows >= 2 ? int64_t(rows) - 1 : 1;
}

std::string foldedCase(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return folded;
}

std::string singleLine(std::string_view prefix, std::string_view path) {
    std::string line;
    line.reserve(prefix.size() + path.size());
    line += prefix;
    line += path;
    return line;
}

std::string pairLine(std::string_view prefix, std::string_view source, std::string_view destination) {
    std::string line;
    line.reserve(prefix.size() + source.size() + 1 + destination.size());
    line += prefix;
    line += source;
    line += '*';
    line += destination;
    return line;
}

// ---- dated names ----

std::string nameSafeDateText(std::string_view modifiedText) {
    std::string text(modifiedText);
    for (char& c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == ':' || c == kSeparator || c == '*' || u < 0x20 || u == 0x7f)
            c = '_';
    }
    return text;
}

namespace {

std::string_view lastName(std::string_view path) {
    const std::size_t at = path.rfind(kSeparator);
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

} // namespace

std::string datedName(std::string_view path, std::string_view dateText) {
    const std::string_view name = lastName(path);
    std::size_t insertAt = path.size() - 4;
    if (name.size() < 4) {
        const std::size_t dot = name.rfind('.');
        const std::size_t nameStart = path.size() - name.size();
        insertAt = (dot != std::string_view::npos && dot > 0) ? nameStart + dot : path.size();
    }
    std::string result(path.substr(0, insertAt));
    result += dateText;
    result += path.substr(insertAt);
    return result;
}

std::string datedCopyName(std::string_view locationB, std::string_view relPath, std::string_view dateText) {
    const std::string_view name = lastName(relPath);
    const std::size_t tail = name.size() < 4 ? name.size() : 4;
    std::string result(locationB);
    result += relPath;
    result += dateText;
    result += name.substr(name.size() - tail);
    return result;
}

// ---- criteria ----

Criteria criteriaOf(const Settings& settings) {
    return Criteria{settings.CheckSize, settings.CheckTimeStamp, settings.CheckName};
}

uint64_t mixBits(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

uint64_t hashText(std::string_view text) {
    return mixBits(std::hash<std::string_view>{}(text));
}

uint64_t hashFoldedText(std::string_view text) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (char c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return mixBits(h);
}

uint64_t criteriaHash(const Criteria& c, const Inventory& inventory, std::size_t row) {
    uint64_t h = 0x9e3779b97f4a7c15ULL;
    if (c.size)
        h = mixBits(h ^ uint64_t(inventory.size(row)));
    if (c.time)
        h = mixBits(h ^ uint64_t(uint32_t(inventory.fileTime(row))) ^ 0x5bd1e995ULL);
    if (c.name)
        h = mixBits(h ^ hashText(inventory.name(row)));
    return h;
}

void groupByCriteria(RowGroups& groups, const Criteria& c, const Inventory& inventory) {
    groups.build(
        inventory.fileCount(), [&](std::size_t r) { return criteriaHash(c, inventory, r); },
        [&](std::size_t first, std::size_t r) { return rowsMatch(c, inventory, first, inventory, r); });
}

uint32_t findByCriteria(const RowGroups& groups, const Criteria& c, const Inventory& grouped,
                        const Inventory& probe, std::size_t row) {
    return groups.find(criteriaHash(c, probe, row),
                       [&](std::size_t first) { return rowsMatch(c, probe, row, grouped, first); });
}

// ---- refusals ----

std::optional<std::string> locationProblem(std::string_view which, std::string_view location) {
    if (isAbsolutePath(location) && location.back() == kSeparator)
        return std::nullopt;
    return "Location " + std::string(which) + " \"" + std::string(location) +
           "\" is not an absolute folder path. Choose location " + std::string(which) + " first.";
}

namespace {

std::optional<std::string> overlapOfTexts(const std::string& a, const std::string& b, bool subfolders,
                                          const PlanInput& input) {
    if (a == b)
        return "Location A and location B are the same folder (" + input.locationA +
               "). Choose two separate folders.";
    if (!subfolders)
        return std::nullopt;
    if (b.size() > a.size() && b.compare(0, a.size(), a) == 0)
        return "Location B (" + input.locationB + ") lies inside location A (" + input.locationA +
               ") and subfolders are included. Choose locations that do not overlap.";
    if (a.size() > b.size() && a.compare(0, b.size(), b) == 0)
        return "Location A (" + input.locationA + ") lies inside location B (" + input.locationB +
               ") and subfolders are included. Choose locations that do not overlap.";
    return std::nullopt;
}

std::string folderToResolve(std::string_view location) {
    const std::string_view stem = locationStem(location);
    return stem.empty() ? std::string(1, kSeparator) : std::string(stem);
}

} // namespace

std::optional<std::string> overlapProblem(const PlanInput& input, PlannerHost& host) {
    const std::string a = withTrailingSeparator(input.locationA);
    const std::string b = withTrailingSeparator(input.locationB);
    if (auto problem = overlapOfTexts(a, b, input.includeSubfolders, input))
        return problem;
    const auto realA = host.resolvedFolder(folderToResolve(input.locationA));
    const auto realB = host.resolvedFolder(folderToResolve(input.locationB));
    if (!realA || !realB)
        return std::nullopt;
    return overlapOfTexts(withTrailingSeparator(*realA), withTrailingSeparator(*realB),
                          input.includeSubfolders, input);
}

std::optional<std::string> criteriaProblem(const Settings& settings) {
    if (criteriaOf(settings).count() > 0)
        return std::nullopt;
    return std::string("No same-file criterion is ticked, so every file would count as the same file. "
                       "Tick at least one same-file criterion (size, file name or time stamp) in the "
                       "settings.");
}

std::optional<std::string> twoLocationProblem(const PlanInput& input, PlannerHost& host,
                                              NeedsCriteria needs) {
    if (auto problem = locationProblem("A", input.locationA))
        return problem;
    if (auto problem = locationProblem("B", input.locationB))
        return problem;
    if (auto problem = overlapProblem(input, host))
        return problem;
    if (needs == NeedsCriteria::Yes)
        return criteriaProblem(input.settings);
    return std::nullopt;
}

PlanResult planForMode(int modeIndex, PlanInput& input, PlannerHost& host) {
    switch (modeIndex) {
    case 0:
        return AMasterB(input, host);
    case 1:
        return FolderSynch(input, host);
    case 2:
        return CopyMissing(input, host);
    default:
        return Duplicatedel(input, host);
    }
}

PlanResult refusedPlan(PlannerHost& host, std::string reason, std::string countText) {
    host.log("Planning refused: " + reason);
    PlanResult result;
    result.refused = true;
    result.refusal = std::move(reason);
    result.countText = std::move(countText);
    return result;
}

} // namespace paritas

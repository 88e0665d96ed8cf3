#include "core/planning/plan_support.h"

#include "core/remote/remote_path.h"

#include "core/platform/file_identity.h"

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace paritas {

// ---- the host's defaults: the real file system, beneath the locations ----

namespace {} // namespace

void PlannerHost::useLocations(const Locations* locations, bool mayProbe) {
    given_ = locations;
    mayProbe_ = locations != nullptr && mayProbe;
}

void PlannerHost::setLocations(const std::vector<std::string>& texts) {
    if (given_) {
        bool all = true;
        for (const std::string& text : texts)
            all = all && given_->withText(text) != nullptr;
        if (all) {
            locations_ = given_;
            return;
        }
    }
    std::vector<std::string> usable;
    for (const std::string& text : texts)
        if (isAbsolutePath(text))
            usable.push_back(text);
    own_ = localLocations(usable);
    locations_ = &own_;
}

EntryFacts PlannerHost::entryAt(const std::string& path) {
    Location* location = locations_ ? locations_->holding(path) : nullptr;
    return location ? location->entryAt(path) : EntryFacts{};
}

bool PlannerHost::folderExists(const std::string& path) {
    return entryAt(path).kind == EntryKind::Folder;
}
bool PlannerHost::fileExists(const std::string& path) {
    const EntryFacts facts = entryAt(path);
    return facts.exists() && facts.kind != EntryKind::Folder;
}
std::optional<FileFacts> PlannerHost::fileFacts(const std::string& path) {
    const EntryFacts facts = entryAt(path);
    if (!facts.exists() || facts.kind == EntryKind::Folder)
        return std::nullopt;
    return facts.stamp;
}
bool PlannerHost::sameFile(const std::string& first, const std::string& second) {
    Location* location = locations_ ? locations_->holding(first) : nullptr;
    return location && location == locations_->holding(second) && location->sameEntry(first, second);
}
bool PlannerHost::foldsLetterCase(const std::string& location) {
    Location* holder = locations_ ? locations_->holding(location) : nullptr;
    return holder && holder->foldsLetterCase(mayProbe_);
}
FileSystemCapabilities PlannerHost::capabilities(const std::string& location) {
    // A location that does not exist yet is not probed: it would learn nothing, and keep that.
    if (Location* at = locations_ ? locations_->withText(location) : nullptr; at && at->exists())
        return at->capabilities();
    return {};
}

FolderAncestry PlannerHost::ancestry(const std::string& path) {
    if (Location* location = locations_ ? locations_->withText(path) : nullptr)
        return location->ancestry();
    return folderAncestry(path);
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
        h = mixBits(h ^ uint64_t(inventory.timeStepOf(row)) ^ 0x5bd1e995ULL);
    if (c.name)
        h = mixBits(h ^
                    (c.foldedNames ? hashFoldedText(inventory.name(row)) : hashText(inventory.name(row))));
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
    if (!location.empty() && remoteLocationText(location) == location)
        return std::nullopt; // a folder on a remote, reached through rclone
    return "Location " + std::string(which) + " \"" + std::string(location) +
           "\" is not an absolute folder path. Choose location " + std::string(which) + " first.";
}

namespace {

std::string sameFolderText(const PlanInput& input) {
    return "Location A and location B are the same folder (" + input.locationA +
           "). Choose two separate folders.";
}
std::string bInsideAText(const PlanInput& input) {
    return "Location B (" + input.locationB + ") lies inside location A (" + input.locationA +
           ") and subfolders are included. Choose locations that do not overlap.";
}
std::string aInsideBText(const PlanInput& input) {
    return "Location A (" + input.locationA + ") lies inside location B (" + input.locationB +
           ") and subfolders are included. Choose locations that do not overlap.";
}

std::optional<std::string> overlapOfTexts(const std::string& a, const std::string& b, bool subfolders,
                                          const PlanInput& input) {
    if (a == b)
        return sameFolderText(input);
    if (!subfolders)
        return std::nullopt;
    if (b.size() > a.size() && b.compare(0, a.size(), a) == 0)
        return bInsideAText(input);
    if (a.size() > b.size() && a.compare(0, b.size(), b) == 0)
        return aInsideBText(input);
    return std::nullopt;
}

bool holds(const std::vector<ObjectId>& ids, const ObjectId& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The overlap as the file system sees it: the identities of each location and its ancestors (for a
// location that does not exist yet, of its nearest existing ancestor), and of every folder each scan
// walked, so that links, bind mounts and a location mounted inside the other are seen through.
std::optional<std::string> overlapOfIdentities(const PlanInput& input, PlannerHost& host) {
    const FolderAncestry a = host.ancestry(input.locationA);
    const FolderAncestry b = host.ancestry(input.locationB);
    if (a.exists && b.exists && !a.chain.empty() && !b.chain.empty() && a.chain.front() == b.chain.front())
        return sameFolderText(input);
    if (!input.includeSubfolders)
        return std::nullopt;
    // B (or the folder B would be made in) lies at or below A.
    if (a.exists && !a.chain.empty() && holds(b.chain, a.chain.front()))
        return bInsideAText(input);
    if (b.exists && !b.chain.empty() && holds(a.chain, b.chain.front()))
        return aInsideBText(input);
    // A folder met by one scan is the other location (a mount or bind mount inside the tree).
    if (input.coverageB && a.exists && !a.chain.empty() && holds(input.coverageB->folderIds, a.chain.front()))
        return aInsideBText(input);
    if (input.coverageA && b.exists && !b.chain.empty() && holds(input.coverageA->folderIds, b.chain.front()))
        return bInsideAText(input);
    return std::nullopt;
}

} // namespace

std::optional<std::string> overlapProblem(const PlanInput& input, PlannerHost& host) {
    const std::string a = withTrailingSeparator(input.locationA);
    const std::string b = withTrailingSeparator(input.locationB);
    if (auto problem = overlapOfTexts(a, b, input.includeSubfolders, input))
        return problem;
    return overlapOfIdentities(input, host);
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
    if (auto problem = unreadableLocationProblem(input))
        return problem;
    if (auto problem = overlapProblem(input, host))
        return problem;
    if (needs == NeedsCriteria::Yes)
        return criteriaProblem(input.settings);
    return std::nullopt;
}

std::optional<std::string> unreadableLocationProblem(const PlanInput& input) {
    const std::pair<const char*, const ScanCoverage*> sides[] = {{"A", input.coverageA},
                                                                 {"B", input.coverageB}};
    for (const auto& [letter, coverage] : sides) {
        if (coverage == nullptr || !coverage->locationUnreadable)
            continue;
        const std::string& location = letter[0] == 'A' ? input.locationA : input.locationB;
        return "Location " + std::string(letter) + " " + location + " cannot be read (" +
               failureText(coverage->locationError) +
               "). Nothing was planned: a plan on what could not be seen would delete or overwrite files.";
    }
    return std::nullopt;
}

std::vector<std::string> writtenLocations(PlanKind kind, const std::string& locationA,
                                          const std::string& locationB) {
    switch (kind) {
    case PlanKind::FolderSynch:
        return {locationA, locationB};
    case PlanKind::DuplicatesWithinA:
        return {locationA};
    case PlanKind::Backup:
    case PlanKind::CopyMissing:
    case PlanKind::DeleteDuplicates:
        break;
    }
    return {locationB};
}

PlanResult planFor(PlanKind kind, PlanInput& input, PlannerHost& host) {
    switch (kind) {
    case PlanKind::Backup:
        return AMasterB(input, host);
    case PlanKind::FolderSynch:
        return FolderSynch(input, host);
    case PlanKind::CopyMissing:
        return CopyMissing(input, host);
    case PlanKind::DeleteDuplicates:
        return Duplicatedel(input, host);
    case PlanKind::DuplicatesWithinA:
        break;
    }
    return DuplicatesWithinA(input, host);
}

PlanResult planForMode(int modeIndex, PlanInput& input, PlannerHost& host) {
    return planFor(modeIndex >= 0 && modeIndex <= 3 ? PlanKind(modeIndex) : PlanKind::DeleteDuplicates, input,
                   host);
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

namespace paritas {

// ---- what a scan could not see ----

namespace {

std::string relativeSpot(std::string_view path, std::string_view location) {
    std::string_view rel = path.size() > location.size() ? path.substr(location.size()) : std::string_view();
    while (!rel.empty() && rel.back() == kSeparator)
        rel.remove_suffix(1);
    return std::string(rel);
}

} // namespace

BlindSpots::BlindSpots(const ScanCoverage* coverage, std::string_view location) {
    if (coverage == nullptr)
        return;
    for (const std::string& folder : coverage->unreadFolders)
        folders_.insert(relativeSpot(folder, location));
    for (const std::string& entry : coverage->unreadEntries)
        entries_.insert(relativeSpot(entry, location));
    for (const std::string& entry : coverage->temporaryNames)
        entries_.insert(relativeSpot(entry, location));
    // Every folder from a spot up to the location holds that spot.
    for (const auto* spots : {&folders_, &entries_}) {
        for (const std::string& spot : *spots) {
            std::string folder = spot;
            if (spots == &entries_) {
                const std::size_t slash = folder.rfind(kSeparator);
                folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
            }
            for (;;) {
                withinFolder_.emplace(folder, spot);
                const std::size_t slash = folder.rfind(kSeparator);
                if (folder.empty())
                    break;
                folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
            }
        }
    }
}

std::string BlindSpots::spotWithin(std::string_view relative) const {
    while (!relative.empty() && relative.back() == kSeparator)
        relative.remove_suffix(1);
    const auto it = withinFolder_.find(std::string(relative));
    return it == withinFolder_.end() ? std::string() : it->second;
}

std::string BlindSpots::spotOf(std::string_view relative) const {
    if (empty())
        return {};
    while (!relative.empty() && relative.back() == kSeparator)
        relative.remove_suffix(1);
    std::string probe(relative);
    if (entries_.count(probe))
        return probe;
    for (;;) {
        const std::size_t slash = probe.rfind(kSeparator);
        if (slash == std::string::npos)
            return {};
        probe.resize(slash);
        if (folders_.count(probe) || entries_.count(probe))
            return probe;
    }
}

bool BlindSpots::covers(std::string_view relative) const {
    return !empty() && !spotOf(relative).empty();
}

bool BlindSpots::coversItself(std::string_view relative) const {
    if (empty())
        return false;
    while (!relative.empty() && relative.back() == kSeparator)
        relative.remove_suffix(1);
    const std::string probe(relative);
    return folders_.count(probe) > 0 || entries_.count(probe) > 0 || covers(relative);
}

std::size_t LeftAlone::report(const std::string& otherLocation) {
    std::size_t total = 0;
    std::vector<std::pair<std::string, std::size_t>> spots(counts_.begin(), counts_.end());
    std::sort(spots.begin(), spots.end());
    for (const auto& [spot, count] : spots) {
        host_.log("Left alone: " + std::to_string(count) + " file(s) or folder(s) in " + side_ +
                  ", because " + otherLocation + spot + " in " + other_ + " could not be read");
        total += count;
    }
    return total;
}

// ---- writing lines with their facts ----

PlanWriter::PlanWriter(PlanResult& result, PlanKind kind, const std::string& locationA,
                       const std::string& locationB)
    : result_(result) {
    result_.written = writtenLocations(kind, locationA, locationB);
    result_.locations = kind == PlanKind::DuplicatesWithinA ? std::vector<std::string>{locationA}
                                                            : std::vector<std::string>{locationA, locationB};
    // B follows A in every folder in a backup; the other modes make folders for the other side's.
    std::vector<MirroredLocation>& mirrors = result_.folderTimes.mirrors;
    switch (kind) {
    case PlanKind::Backup:
        mirrors.push_back({locationB, locationA, true});
        break;
    case PlanKind::FolderSynch:
        mirrors.push_back({locationB, locationA, false});
        mirrors.push_back({locationA, locationB, false});
        break;
    case PlanKind::CopyMissing:
        mirrors.push_back({locationB, locationA, false});
        break;
    case PlanKind::DeleteDuplicates:
    case PlanKind::DuplicatesWithinA:
        break;
    }
}

uint32_t PlanWriter::add(PlanItem item, ActionFacts facts) {
    const uint32_t number = uint32_t(result_.actions.size());
    facts.line = number;
    item.facts = facts;
    result_.actions.push_back(std::move(item));
    return number;
}

uint32_t PlanWriter::createFolder(std::string_view folder, uint32_t after) {
    ActionFacts facts;
    facts.after = after != ActionFacts::kNone ? after : creatorOfFolderOf(folder);
    const uint32_t number = add(createFolderItem(std::string(folder)), facts);
    created_.emplace(std::string(folder), number);
    return number;
}

uint32_t PlanWriter::creatorOf(std::string_view folder) const {
    if (created_.empty())
        return ActionFacts::kNone;
    const auto it = created_.find(std::string(folder));
    return it == created_.end() ? ActionFacts::kNone : it->second;
}

uint32_t PlanWriter::creatorOfFolderOf(std::string_view path) const {
    if (created_.empty())
        return ActionFacts::kNone;
    const std::size_t slash = path.rfind(kSeparator);
    if (slash == std::string_view::npos || slash == 0)
        return ActionFacts::kNone;
    return creatorOf(path.substr(0, slash));
}

ActionFacts factsOfSource(const Inventory& inventory, std::size_t row, uint32_t after) {
    ActionFacts facts;
    facts.after = after;
    facts.sourceKnown = true;
    facts.source = inventory.stamp(row);
    return facts;
}

DestinationPlan nothingThere() {
    return DestinationPlan{DestinationPlan::Kind::Nothing, {}};
}

DestinationPlan plannedFile(const FileStamp& stamp) {
    return DestinationPlan{DestinationPlan::Kind::Planned, stamp};
}

} // namespace paritas

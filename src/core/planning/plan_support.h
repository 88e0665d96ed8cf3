#pragma once
// What the planners share: the texts derived from locations and rows, the same-file criteria, the
// row indexes that keep planning linear, dated names, and the checks that refuse a plan before it
// could do harm.

#include "core/inventory/inventory.h"
#include "core/planning/planners.h"
#include "core/platform/path_text.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace paritas {

// ---- texts derived from locations and rows ----

// The location without its final separator ("/work/" -> "/work").
std::string_view locationStem(std::string_view location);
// A folder-list entry without the location (but with the location's final separator) and without its
// own final separator: "/work/Docs/2024/" under "/work/" -> "/Docs/2024"; the location itself -> "".
std::string_view folderPart(std::string_view entry, std::string_view location);
// A row's full path without the location: "/work/Docs/r.txt" under "/work/" -> "Docs/r.txt".
std::string_view relativePath(std::string_view fullPath, std::string_view location);
// The progress maximum for a loop over n rows: n - 1 from two rows on, else 1.
int64_t progressMaximum(std::size_t rows);
// ASCII letters folded to lower case: how a case-insensitive file system may see a path.
std::string foldedCase(std::string_view text);

// ---- dated names ----

// A modified text made fit for a file name: ":" (as always), the path separator (the C locale's
// short date is "12/09/26") and any character an action line cannot carry become "_".
std::string nameSafeDateText(std::string_view modifiedText);
// Folder synch: the date text goes in before the last four characters of `path` (a full or relative
// path). A name shorter than four characters keeps the date inside the name: before its extension
// ("a.b" -> "a<date>.b") or, without one, at its end ("ab" -> "ab<date>").
std::string datedName(std::string_view path, std::string_view dateText);
// Copy missing: location B + relative path + date text + the last four characters of the name (all of
// a name shorter than four), so the copy stays beside the file whose place it could not take.
std::string datedCopyName(std::string_view locationB, std::string_view relPath, std::string_view dateText);

// ---- same-file criteria ----

struct Criteria {
    bool size = false;
    bool time = false;
    bool name = false;
    // Names compared without the letter case of ASCII letters, as a destination that does not tell
    // letter case apart compares them.
    bool foldedNames = false;
    int count() const { return int(size) + int(time) + int(name); }
};

Criteria criteriaOf(const Settings& settings);

// The texts are equal but for the letter case of ASCII letters.
inline bool sameFoldedText(std::string_view x, std::string_view y) {
    if (x.size() != y.size())
        return false;
    for (std::size_t k = 0; k < x.size(); ++k) {
        const char p = x[k] >= 'A' && x[k] <= 'Z' ? char(x[k] - 'A' + 'a') : x[k];
        const char q = y[k] >= 'A' && y[k] <= 'Z' ? char(y[k] - 'A' + 'a') : y[k];
        if (p != q)
            return false;
    }
    return true;
}

// Two rows match when they agree on every ticked criterion; paths play no part. Times agree when they
// fall into the same two-second step of true time (file_stamp.h).
inline bool rowsMatch(const Criteria& c, const Inventory& a, std::size_t i, const Inventory& b,
                      std::size_t j) {
    return (!c.size || a.size(i) == b.size(j)) && (!c.time || a.timeStepOf(i) == b.timeStepOf(j)) &&
           (!c.name || a.name(i) == b.name(j) || (c.foldedNames && sameFoldedText(a.name(i), b.name(j))));
}

uint64_t mixBits(uint64_t x);
uint64_t hashText(std::string_view text);
uint64_t hashFoldedText(std::string_view text);
uint64_t criteriaHash(const Criteria& c, const Inventory& inventory, std::size_t row);

// ---- row indexes ----

// Rows of one table grouped by a key, each group listing its rows in row order. A planner finds the
// group of a probe key in constant time and walks the group from its first row; `firstRemaining`
// remembers how far it has skipped, so rows that have been marked are stepped over once in all.
class RowGroups {
public:
    static constexpr uint32_t kNone = 0xffffffffu;

    bool built() const { return built_; }

    // `hashOf(row)` gives a row's key hash; `sameKey(first, row)` tells whether two rows share a key.
    // The hashes are taken a few rows ahead of the inserts so that the slot each insert looks at is
    // already on its way from memory (at a million rows the table no longer fits in the caches).
    template <class HashOf, class SameKey> void build(std::size_t rows, HashOf hashOf, SameKey sameKey) {
        std::size_t slots = 16;
        while (slots < rows * 2)
            slots <<= 1;
        slots_.assign(slots, kEmpty);
        mask_ = slots - 1;
        rowGroup_.resize(rows);
        uint32_t groups = 0;
        uint64_t ahead[kAhead];
        for (std::size_t r = 0; r < std::min(rows, kAhead); ++r)
            prefetchSlot(ahead[r] = hashOf(r));
        for (std::size_t r = 0; r < rows; ++r) {
            const uint64_t h = ahead[r % kAhead];
            if (r + kAhead < rows)
                prefetchSlot(ahead[r % kAhead] = hashOf(r + kAhead));
            std::size_t slot = h & mask_;
            uint32_t group = kNone;
            for (; slots_[slot] != kEmpty; slot = (slot + 1) & mask_) {
                const uint32_t first = uint32_t(slots_[slot]);
                if ((slots_[slot] >> 32) == (h >> 32) && sameKey(first, r)) {
                    group = rowGroup_[first];
                    break;
                }
            }
            if (group == kNone) {
                group = groups++;
                slots_[slot] = (h & ~uint64_t(0xffffffff)) | uint32_t(r);
            }
            rowGroup_[r] = group;
        }
        groupStart_.assign(std::size_t(groups) + 1, 0);
        for (const uint32_t g : rowGroup_)
            ++groupStart_[g + 1];
        for (std::size_t g = 0; g < groups; ++g)
            groupStart_[g + 1] += groupStart_[g];
        members_.resize(rows);
        head_.assign(groupStart_.begin(), groupStart_.end() - 1);
        for (std::size_t r = 0; r < rows; ++r)
            members_[head_[rowGroup_[r]]++] = uint32_t(r);
        head_.assign(groupStart_.begin(), groupStart_.end() - 1);
        built_ = true;
    }

    // The group whose key equals the probe: `isKeyOf(row)` tells whether a group's first row has it.
    template <class IsKeyOf> uint32_t find(uint64_t hash, IsKeyOf isKeyOf) const {
        if (!built_)
            return kNone;
        for (std::size_t slot = hash & mask_; slots_[slot] != kEmpty; slot = (slot + 1) & mask_) {
            const uint32_t first = uint32_t(slots_[slot]);
            if ((slots_[slot] >> 32) == (hash >> 32) && isKeyOf(first))
                return rowGroup_[first];
        }
        return kNone;
    }

    // For lookups made some rows ahead of time: the slot of a hash is fetched into the cache, and
    // later the first row of the group a hash most likely finds (no key compared), so that its
    // row data can be fetched too.
    void prefetchSlot(uint64_t hash) const {
        if (!slots_.empty())
            __builtin_prefetch(&slots_[hash & mask_]);
    }
    uint32_t likelyFirstRow(uint64_t hash) const {
        if (!built_)
            return kNone;
        for (std::size_t slot = hash & mask_; slots_[slot] != kEmpty; slot = (slot + 1) & mask_)
            if ((slots_[slot] >> 32) == (hash >> 32)) {
                __builtin_prefetch(&rowGroup_[uint32_t(slots_[slot])]);
                return uint32_t(slots_[slot]);
            }
        return kNone;
    }

    uint32_t groupOf(std::size_t row) const { return rowGroup_[row]; }
    const uint32_t* begin(uint32_t group) const { return members_.data() + groupStart_[group]; }
    const uint32_t* end(uint32_t group) const { return members_.data() + groupStart_[group + 1]; }

    // The first row of the group (none for kNone), in row order, for which skip(row) is false; kNone when
    // none is left. Rows once skipped are never looked at again, so skip must stay true for them (a matched
    // mark).
    template <class Skip> uint32_t firstRemaining(uint32_t group, Skip skip) {
        if (group == kNone)
            return kNone;
        uint32_t& at = head_[group];
        const uint32_t stop = groupStart_[group + 1];
        while (at < stop && skip(members_[at]))
            ++at;
        return at < stop ? members_[at] : kNone;
    }

private:
    static constexpr std::size_t kAhead = 16;
    // A slot holds the upper half of the key's hash and the group's first row; kEmpty marks a free
    // slot. A group's number is its first row's entry in rowGroup_.
    static constexpr uint64_t kEmpty = ~uint64_t(0);
    bool built_ = false;
    std::vector<uint64_t> slots_;
    std::size_t mask_ = 0;
    std::vector<uint32_t> groupStart_;
    std::vector<uint32_t> members_;
    std::vector<uint32_t> rowGroup_;
    std::vector<uint32_t> head_;
};

// Groups the rows of an inventory by the ticked criteria.
void groupByCriteria(RowGroups& groups, const Criteria& c, const Inventory& inventory);
// The group of rows of `groups` (built over `grouped`) that match row `row` of `probe`.
uint32_t findByCriteria(const RowGroups& groups, const Criteria& c, const Inventory& grouped,
                        const Inventory& probe, std::size_t row);

// Lookups in `groups` for the rows of a probe table taken in increasing order (rows may be passed
// over), with everything a lookup touches fetched from memory some rows before it is made: the slot,
// then the grouped row the slot most likely leads to, then that row's key text. At a million rows a
// side none of it is in the caches, and waiting for each in turn costs more than the search itself.
//   hashOf(row)        the key hash of a probe row
//   isKey(row, first)  whether the group of grouped row `first` has the key of probe row `row`
//   fetchRow(first)    prefetch the grouped row's facts; fetchKey(first): its key text
template <class HashOf, class IsKey, class FetchRow, class FetchKey> class Lookahead {
public:
    Lookahead(const RowGroups& groups, std::size_t rows, HashOf hashOf, IsKey isKey, FetchRow fetchRow,
              FetchKey fetchKey)
        : groups_(groups), rows_(rows), hashOf_(hashOf), isKey_(isKey), fetchRow_(fetchRow),
          fetchKey_(fetchKey) {}

    uint32_t groupOf(std::size_t row) {
        // The ring holds the rows [prepared_ - kAhead, prepared_) from start_ on; any other row
        // starts it afresh.
        if (row < start_ || row > prepared_ || row + kAhead < prepared_)
            start_ = prepared_ = row;
        for (const std::size_t stop = std::min(row + kAhead, rows_); prepared_ < stop; ++prepared_)
            prepare(prepared_);
        return groups_.find(ring_[row % kAhead].hash, [&](std::size_t first) { return isKey_(row, first); });
    }

private:
    static constexpr std::size_t kAhead = 16; // slots are fetched this many rows ahead,
    static constexpr std::size_t kRowAt = 8;  // the likely rows' facts this many,
    static constexpr std::size_t kKeyAt = 4;  // and their key texts this many
    struct Pending {
        uint64_t hash = 0;
        uint32_t likely = RowGroups::kNone;
    };

    void prepare(std::size_t row) {
        Pending& next = ring_[row % kAhead];
        next.hash = hashOf_(row);
        next.likely = RowGroups::kNone;
        groups_.prefetchSlot(next.hash);
        // Rows whose slots were asked for earlier have them by now.
        if (row >= start_ + (kAhead - kRowAt)) {
            Pending& earlier = ring_[(row - (kAhead - kRowAt)) % kAhead];
            earlier.likely = groups_.likelyFirstRow(earlier.hash);
            if (earlier.likely != RowGroups::kNone)
                fetchRow_(earlier.likely);
        }
        if (row >= start_ + (kAhead - kKeyAt)) {
            const Pending& earlier = ring_[(row - (kAhead - kKeyAt)) % kAhead];
            if (earlier.likely != RowGroups::kNone)
                fetchKey_(earlier.likely);
        }
    }

    const RowGroups& groups_;
    const std::size_t rows_;
    HashOf hashOf_;
    IsKey isKey_;
    FetchRow fetchRow_;
    FetchKey fetchKey_;
    std::size_t start_ = 0;    // the first row of the current run of lookups
    std::size_t prepared_ = 0; // rows below this have their entry in the ring
    Pending ring_[kAhead];
};

template <class HashOf, class IsKey, class FetchRow, class FetchKey>
Lookahead(const RowGroups&, std::size_t, HashOf, IsKey, FetchRow, FetchKey)
    -> Lookahead<HashOf, IsKey, FetchRow, FetchKey>;

// findByCriteria for the rows of `probe` in increasing order, looked up ahead of time.
inline auto criteriaLookahead(const RowGroups& groups, const Criteria& c, const Inventory& grouped,
                              const Inventory& probe) {
    return Lookahead(
        groups, probe.fileCount(), [c, &probe](std::size_t row) { return criteriaHash(c, probe, row); },
        [c, &probe, &grouped](std::size_t row, std::size_t first) {
            return rowsMatch(c, probe, row, grouped, first);
        },
        [&grouped](std::size_t first) { grouped.prefetchRow(first); },
        [c, &grouped](std::size_t first) {
            if (c.name)
                grouped.prefetchName(first);
        });
}
using CriteriaLookahead =
    decltype(criteriaLookahead(std::declval<const RowGroups&>(), std::declval<const Criteria&>(),
                               std::declval<const Inventory&>(), std::declval<const Inventory&>()));

// ---- refusals ----

// A location text that is no absolute folder path (nothing chosen yet) would make every path of the
// plan relative to the current folder.
std::optional<std::string> locationProblem(std::string_view which, std::string_view location);
// Locations that are one folder, or one inside the other while subfolders are included: a plan would
// read and change the same files from both sides.
std::optional<std::string> overlapProblem(const PlanInput& input, PlannerHost& host);
// With no criterion ticked every file matches every other one.
std::optional<std::string> criteriaProblem(const Settings& settings);

// The checks every planner of two locations makes, in order: both locations absolute folder paths,
// no overlap, and (for the planners that match by criteria) at least one criterion ticked.
enum class NeedsCriteria { No, Yes };
std::optional<std::string> twoLocationProblem(const PlanInput& input, PlannerHost& host, NeedsCriteria needs);

// A location that exists but cannot be listed at all is refused like a missing one: a plan on its
// empty picture would delete or overwrite what could not be seen.
std::optional<std::string> unreadableLocationProblem(const PlanInput& input);

// Logs the reason and returns the refused result with its count text.
PlanResult refusedPlan(PlannerHost& host, std::string reason, std::string countText);

// ---- what a scan could not see ----

// The parts of one side that the scan could not see, by relative path (folders without their trailing
// separator). A folder that could not be read covers everything below it (the folder itself is known:
// it was listed as a folder); an entry whose type or facts could not be read covers itself and
// everything below it.
class BlindSpots {
public:
    BlindSpots(const ScanCoverage* coverage, std::string_view location);
    bool empty() const { return folders_.empty() && entries_.empty(); }
    // True when the relative path of a file or folder lies in or below a spot.
    bool covers(std::string_view relative) const;
    // covers(), or `relative` is a spot itself (a folder whose contents could not be read: its own
    // metadata is known, but what it holds is not, so nothing about it is changed).
    bool coversItself(std::string_view relative) const;
    // The spot that covers `relative`, for log lines; empty when none.
    std::string spotOf(std::string_view relative) const;
    // A spot at or below the folder `relative` (which therefore holds something unknown); empty when
    // none.
    std::string spotWithin(std::string_view relative) const;

private:
    std::unordered_set<std::string> folders_;                   // contents unknown
    std::unordered_set<std::string> entries_;                   // the entry itself unknown
    std::unordered_map<std::string, std::string> withinFolder_; // folder -> a spot at or below it
};

// Counts and logs what a plan leaves alone because the other side could not be seen there: one line
// per spot of the other side, with the number of files and folders left alone under it.
class LeftAlone {
public:
    LeftAlone(PlannerHost& host, std::string sideLetter, std::string otherLetter)
        : host_(host), side_(std::move(sideLetter)), other_(std::move(otherLetter)) {}
    void add(const std::string& spot) { ++counts_[spot]; }
    // Logs the lines (in the order the spots were first met) and returns the total.
    std::size_t report(const std::string& otherLocation);

private:
    PlannerHost& host_;
    std::string side_, other_;
    std::vector<std::string> order_;
    std::unordered_map<std::string, std::size_t> counts_;
};

// ---- matched marks ----

// The matched marks of one planning: a row once marked stays marked.
class RowMarks {
public:
    explicit RowMarks(MatchMarks& marks, std::size_t rows) : marks_(marks) { marks_.assign(rows, 0); }
    bool isMarked(std::size_t row) const { return marks_[row] != 0; }
    void mark(std::size_t row) { marks_[row] = 1; }

private:
    MatchMarks& marks_;
};

// ---- writing items with their facts ----

// Appends items with their facts, numbering each, and remembers which item creates which folder so
// that an item putting something into that folder can depend on it. It also sets the result's
// locations and the locations the plan writes.
class PlanWriter {
public:
    PlanWriter(PlanResult& result, PlanKind kind, const std::string& locationA, const std::string& locationB);
    uint32_t add(PlanItem item, ActionFacts facts = {});
    // "CreateDir " + folder, after the line `after`, or (by default) after the line creating its parent.
    uint32_t createFolder(std::string_view folder, uint32_t after = ActionFacts::kNone);
    // The line that creates the folder holding `path`, or ActionFacts::kNone.
    uint32_t creatorOfFolderOf(std::string_view path) const;
    uint32_t creatorOf(std::string_view folder) const;
    std::size_t size() const { return result_.actions.size(); }

private:
    PlanResult& result_;
    std::unordered_map<std::string, uint32_t> created_;
};

// Facts of a line acting on a row of an inventory: its stamp as the source.
ActionFacts factsOfSource(const Inventory& inventory, std::size_t row, uint32_t after = ActionFacts::kNone);
// The destination expectations of a copy.
DestinationPlan nothingThere();
DestinationPlan plannedFile(const FileStamp& stamp);

} // namespace paritas

#pragma once
// The planners: each turns the two scans (folder lists and inventories of location A and B) into a
// new action list, in the order the executor relies on (see action_list.h), and returns the matched
// marks of the inventory rows it paired (the inventories themselves are only read).
//
//   scans ──> PlanInput ──> AMasterB / FolderSynch / CopyMissing / Duplicatedel / DuplicatesWithinA
//                               │  asks the host: folder exists? file exists? its facts? same file?
//                               ▼
//                           PlanResult (action lines + count text, or a refusal and its reason)
//
// The planners never change a file. Filling the review window and running the lines are the
// caller's business. Each planner writes its own activity-log lines, drives the progress bar and
// calls keepAlive() after every row it looks at, as the window expects.
//
// Every planner is linear in the number of rows: it looks rows up through indexes (by the ticked
// same-file criteria, by full path, by relative path) and takes, among several candidates, the first
// unmarked one in row order, which is what a row-by-row search would take.

#include "core/base/host.h"
#include "core/inventory/filters.h"
#include "core/inventory/inventory.h"
#include "core/planning/action_facts.h"
#include "core/planning/action_list.h"
#include "core/platform/beneath.h"
#include "core/platform/file_identity.h"
#include "core/platform/file_queries.h"
#include "core/platform/local_location.h"
#include "core/settings/settings.h"

#include <optional>
#include <string>
#include <vector>

namespace paritas {

// The outside world as a planner sees it. The defaults ask the locations (location.h) the planner
// names (setLocations), never through a symbolic link: a path that crosses a link has nothing at its
// end, and a link at its end is a file. Tests answer from memory.
class PlannerHost : public ActivityHost {
public:
    // The locations of the run: the questions go to these when the planner names them (else the
    // planner's locations are taken as local folders). `mayProbe`: the run writes anyway, so a
    // question that can only be answered by trying (letter case in an empty location) may write.
    void useLocations(const Locations* locations, bool mayProbe = false);
    // The locations the questions stay beneath; each planner sets them when it starts.
    void setLocations(const std::vector<std::string>& locations);

    // A real folder stands there (a location itself may be a link to one).
    virtual bool folderExists(const std::string& path);
    // Anything but a folder stands there (a link included).
    virtual bool fileExists(const std::string& path);
    virtual std::optional<FileFacts> fileFacts(const std::string& path);
    // True when both paths exist and are one file-system object (a case-insensitive file system shows
    // one file under several spellings).
    virtual bool sameFile(const std::string& first, const std::string& second);
    // The identities of a folder and its ancestors (folder_identity.h), for the overlap refusal.
    virtual FolderAncestry ancestry(const std::string& path);
    // Two spellings that differ only in letter case name one entry in the location `location`
    // (Location::foldsLetterCase; learnt without writing unless the run writes anyway).
    virtual bool foldsLetterCase(const std::string& location);
    // What the file system of the location `location` (a text the planner named) can hold: asked only
    // of an existing location, and only when a comparison of metadata needs it (it probes by trying).
    virtual FileSystemCapabilities capabilities(const std::string& location);

private:
    EntryFacts entryAt(const std::string& path);

    const Locations* given_ = nullptr;
    bool mayProbe_ = false;
    Locations own_;
    const Locations* locations_ = nullptr;
};

struct PlanInput {
    std::string locationA; // absolute, ending with the separator
    std::string locationB;
    const FolderList* foldersA = nullptr;
    const FolderList* foldersB = nullptr;
    const Inventory* inventoryA = nullptr;
    const Inventory* inventoryB = nullptr;
    Settings settings;
    bool includeSubfolders = true; // "Include Subfolders" as it was for the scans
    // What each scan could not see (nullptr: everything was seen). Nothing whose counterpart lies in a
    // part of the other side that could not be seen is deleted, moved away or overwritten.
    const ScanCoverage* coverageA = nullptr;
    const ScanCoverage* coverageB = nullptr;
    // What the user's filter rules left out of each scan (nullptr: nothing). A left-out entry is in no
    // inventory, so no line copies, moves, overwrites or deletes it; and no folder of B that still
    // holds one is removed (it could not be emptied).
    const ScanLeftOut* leftOutA = nullptr;
    const ScanLeftOut* leftOutB = nullptr;
    // A backup that deletes what the rules leave out of B: B was scanned without them, and the rows
    // and folders of B they leave out are deleted and removed like anything A lacks, but a left-out
    // row is never taken as a file moved from elsewhere (nullptr: no such deletion).
    const FilterRules* leftOutDeletedFromB = nullptr;
    // What the scans saw of each folder itself, position for position with the folder lists (nullptr:
    // not known; no folder's metadata is compared then).
    const std::vector<FolderMetadata>* folderMetadataA = nullptr;
    const std::vector<FolderMetadata>* folderMetadataB = nullptr;
};

// The matched marks of one inventory: one per row, set on the rows a planner paired.
using MatchMarks = std::vector<uint8_t>;

struct PlanResult {
    ActionList actions;
    // Every path of the items lies beneath one of these; actions never leave them.
    std::vector<std::string> locations;
    // The locations the plan changes (writtenLocations of its mode).
    std::vector<std::string> written;
    MatchMarks marksA, marksB;
    // The folders whose times the run keeps (action_list.h).
    FolderTimesPlan folderTimes;
    // Files and folders the plan leaves alone because the other side could not be seen there; each
    // is logged. A run with any is not a complete run.
    std::size_t leftAlone = 0;
    // What the action-count label shows: "Actions: " + n (backup, duplicates within A) or n alone.
    std::string countText;
    // The plan was refused before any line was written; `refusal` is the text for the message box.
    bool refused = false;
    std::string refusal;
};

// "BACKUP (ADVANCED) A to B ": make B hold exactly what A holds, reusing B's files by moves.
PlanResult AMasterB(PlanInput& input, PlannerHost& host);
// "FOLDER SYNCH - Union of A and B ": both sides receive what they lack; pairs settled by date.
PlanResult FolderSynch(PlanInput& input, PlannerHost& host);
// "COPY MISSING - from A to B ": copy the files of A that B lacks, under a dated name where taken.
PlanResult CopyMissing(PlanInput& input, PlannerHost& host);
// "DELETE DUPLICATES in B ": delete every file of B that matches a file of A.
PlanResult Duplicatedel(PlanInput& input, PlannerHost& host);
// "Delete duplicates within A": the planning half of the command, on a fresh scan of A only
// (locationA, inventoryA and settings are read; B is not used).
PlanResult DuplicatesWithinA(PlanInput& input, PlannerHost& host);

// What a synchronisation changes, known before anything is scanned: the run's lock and the pruning of
// versions at its end both go by it. Backup, copy missing and duplicates in B change B; folder synch
// changes both sides; duplicates within A changes A.
enum class PlanKind {
    Backup = 0,
    FolderSynch = 1,
    CopyMissing = 2,
    DeleteDuplicates = 3,
    DuplicatesWithinA = 4
};
std::vector<std::string> writtenLocations(PlanKind kind, const std::string& locationA,
                                          const std::string& locationB);

// The planner of a kind.
PlanResult planFor(PlanKind kind, PlanInput& input, PlannerHost& host);

// The planner of a mode index (0 backup, 1 folder synch, 2 copy missing, 3 duplicates in B).
PlanResult planForMode(int modeIndex, PlanInput& input, PlannerHost& host);

} // namespace paritas

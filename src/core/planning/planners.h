#pragma once
// The planners: each turns the two scans (folder lists and inventories of location A and B) into a
// new action list, in the order the executor relies on (see action_list.h), and puts matched marks
// on the inventory rows it pairs.
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

#include "core/app/host.h"
#include "core/inventory/inventory.h"
#include "core/planning/action_facts.h"
#include "core/planning/action_list.h"
#include "core/platform/beneath.h"
#include "core/platform/file_identity.h"
#include "core/platform/file_queries.h"
#include "core/settings/settings.h"

#include <optional>
#include <string>
#include <vector>

namespace paritas {

// The outside world as a planner sees it. The defaults ask the real file system, beneath the
// locations the planner names (setLocations) and never through a symbolic link: a path that crosses a
// link has nothing at its end, and a link at its end is a file. Tests answer from memory.
class PlannerHost : public ActivityHost {
public:
    // The folders the questions stay beneath; each planner sets them when it starts.
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

private:
    LocationResolver locations_;
};

struct PlanInput {
    std::string locationA; // absolute, ending with the separator
    std::string locationB;
    const FolderList* foldersA = nullptr;
    const FolderList* foldersB = nullptr;
    Inventory* inventoryA = nullptr; // matched marks are put here
    Inventory* inventoryB = nullptr;
    Settings settings;
    bool includeSubfolders = true; // "Include Subfolders" as it was for the scans
    // What each scan could not see (nullptr: everything was seen). Nothing whose counterpart lies in a
    // part of the other side that could not be seen is deleted, moved away or overwritten.
    const ScanCoverage* coverageA = nullptr;
    const ScanCoverage* coverageB = nullptr;
};

struct PlanResult {
    ActionList actions;
    // What each line was planned on, for the executor's checks (action_facts.h).
    PlanFacts facts;
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

// The planner of a mode index (0 backup, 1 folder synch, 2 copy missing, 3 duplicates in B).
PlanResult planForMode(int modeIndex, PlanInput& input, PlannerHost& host);

} // namespace paritas

#pragma once
// The scan of one location (side A or side B): its folder list and its inventory, with the activity
// log lines, progress and keep-alive calls that the main window, the command line and the tests see.
//
// What the host sees, in order:
//   log   "<date-time> Searching for Folders in "A" ..."
//   log   "Folder <location> does not exist!"          (only when the location is missing)
//   keepAlive() after every folder found by the walk
//   foldersListed()                                   (the window stops its blinking label here)
//   log   "<date-time> Folders in "A" Found!"
//   setProgressMaximum(entries - 1 when 3 or more entries, else 1)
//   per folder-list entry i: log "Scanning folder <folder>", keepAlive() after every file row,
//                            setProgressPosition(i)
// plus one log line for every entry that is not listed for a reason the user should know (a special
// file, a name that cannot be carried, a file whose facts cannot be read, a temporary file of an
// interrupted copy) and for every folder that cannot be read ("Cannot read folder <path>: <reason>").
// The result's coverage records what stayed unknown, and a last line sums it up (coverageSummary).
// When filter rules left anything out, the line before it says how much: "Left out by filters: 12 files
// in 3 folders" (left-out files, and left-out folders whose contents were never read). A location
// whose listings leave links out unseen (a remote) gets linksUnseenLine there.
//
// The window does the rest of its scan around this call: it disables the location chooser of the
// side, sets the searching text (searchingLabelText) and starts the blink timer before, and
// afterwards takes the result, shows filesCountPanelText and finishedLabelText and enables the chooser.

#include "core/base/host.h"
#include "core/inventory/inventory.h"
#include "core/platform/location.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace paritas {

enum class Side { A, B };

class FilterRules;

class ScanHost : public ActivityHost {
public:
    // The folder list is complete; the files are listed next.
    virtual void foldersListed() {}
};

struct ScanResult {
    FolderList folders;
    Inventory inventory;
    bool locationExists = false;
    ScanCoverage coverage; // what could not be seen
    ScanLeftOut leftOut;   // what the filter rules left out
    // Each folder's own owner, mode and times, position for position with `folders` (unknown for one
    // that could not be read); empty when the location is missing.
    std::vector<FolderMetadata> folderMetadata;
};

// Scans location (an absolute folder path ending with the separator) into a new folder list and
// inventory. With includeSubfolders the folder list is the walk of the whole tree, else the location
// alone. Files are every entry that is not a folder, dot-files and symbolic links included (a link with
// its own size and time, never followed); FIFOs, sockets and device nodes are not listed.
//
// A missing location, an empty text or a text that is not an absolute path is reported with the
// "does not exist!" line, and nothing is listed: the folder list holds the location text alone and the
// inventory is empty. A location given without its trailing separator is scanned as the folder it
// names: the separator is added to the folder-list entries, so every path in the result is a real path.
ScanResult scanLocation(std::string_view location, bool includeSubfolders, Side side, ScanHost& host);

struct ScanOptions {
    bool includeSubfolders = true;
    // Threads reading folders: 0 the default (the machine's cores, at most 8), 1 the caller alone. The
    // result and every call to the host are the same whatever the number.
    int threads = 0;
    // The user's rules of what to leave out (none when null). A left-out entry is not listed, a left-out
    // folder is not walked; the result's leftOut counts them. The rules are only read, and may be shared
    // by scans running at once.
    std::shared_ptr<const FilterRules> filters;
    // Read the attributes of every entry (a digest each, Inventory::attributes): one call per entry.
    // None: not read.
    AttributeSelection attributes;
};
ScanResult scanLocation(std::string_view location, const ScanOptions& options, Side side, ScanHost& host);
// The same through a location of any kind (location.h): its folders are read through it.
ScanResult scanLocation(Location& location, const ScanOptions& options, Side side, ScanHost& host);

// One log line that says what a scan could not see or carry, or empty when it saw everything: "Not
// everything in A can be synchronised: 2 folder(s) could not be read, 3 name(s) cannot be carried."
// The scan logs it as its last line.
std::string coverageSummary(Side side, const ScanCoverage& coverage);

// A scan that runs in the background while the caller does other work (typically: location B is
// scanned while location A is). What it tells its host is kept and told to the caller's host, on the
// caller's thread, by finish(): the caller sees exactly the calls, in the order, that scanning there
// and then would have made. finish() tells what has been kept at once and the rest as it comes, and
// while it waits runs `whileWaiting` (a window keeps itself alive there) about every 20 ms.
class ScanAhead {
public:
    ScanAhead(std::string location, const ScanOptions& options, Side side);
    // Through a handle of a location for the background thread (Location::forAnotherThread).
    ScanAhead(std::unique_ptr<Location> location, const ScanOptions& options, Side side);
    ~ScanAhead();
    ScanAhead(const ScanAhead&) = delete;
    ScanAhead& operator=(const ScanAhead&) = delete;
    // Tells `host` what the scan told, waits for its end, and hands over its result. Call it once.
    ScanResult finish(ScanHost& host, const std::function<void()>& whileWaiting = {});

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The line a scan logs (before its summary) where the location's listings leave links out unseen.
std::string linksUnseenLine(Side side);

// "Left out by filters: 12 files in 3 folders": the files left out, and the folders left out unread.
std::string leftOutLine(const ScanLeftOut& leftOut);

// "Files Count A : 1532  Size: 2048MB": the file count and the size total in whole MiB, truncated.
std::string filesCountPanelText(Side side, const Inventory& inventory);

// The status panel before the first scan: "Files/Folders A:".
std::string initialPanelText(Side side);
// The status label while the folders are searched, and after the scan.
std::string searchingLabelText(Side side);
std::string finishedLabelText(Side side);

} // namespace paritas

#pragma once
// The executor: carries out an action list item by item on the run's locations (location.h). It is
// the only code that changes the user's files during a synchronisation.
//
//   for each item, in list order:
//     host.beforeLine()                       (the stop window takes the focus)
//     its kind                                an original item is no action
//     prompt when host.settings() says so     OK performs, Cancel skips silently, No to All stops
//     perform, log "Success ..." / "Failed ...", count good / bad
//     progress position = index, status text, host.keepAlive()
//     stop after this line when flags.action is set
//
// A run works on its own copy of the list, taken when it starts: commands that plan anew while the
// run lets the window serve messages cannot change what it does (the windows also make them
// unavailable during a run).
//
// Safety rules on top of the plain file-system calls (every failure line is followed by one line
// saying why: the system's reason, or one of the rules below):
//   - every path goes to the location that holds it, which resolves it without passing through a
//     symbolic link; a path that would cross one, or lies outside every location, fails;
//   - the facts each line was planned on are checked just before it acts (action_facts.h): a copy
//     onto an absent destination never replaces something that appeared since, a copy over a file
//     replaces only that file, a delete deletes only the planned file, a move moves only the planned
//     source; otherwise "changed since planning";
//   - a line that depends on an earlier one runs only when that one succeeded (a folder line that
//     failed because a real folder already stands there counts as done);
//   - an item whose path is not absolute is never acted on;
//   - a move never replaces anything;
//   - a copy replaces its destination only with a complete copy (see file_copy.h), and a stop
//     request cancels the copy under way, leaving the old destination intact;
//   - the delete of a duplicate (it names its original item) deletes only when the original still
//     exists, is a separate file and holds the same bytes;
//   - what a line removes or replaces (a deleted file, the old version under a copy) goes where the
//     settings say, read once when the run starts (removed_files.h): deleted, the trash, a versions
//     folder; when it cannot be kept there it stays, and the line fails. The line after the success
//     line says where it went, and the end of the run how many were kept (and prunes old versions);
//   - with Settings::verifyCopies every copy is read back and compared before it takes its name.

#include "core/base/host.h"
#include "core/execution/stop_flags.h"
#include "core/planning/action_list.h"
#include "core/platform/file_copy.h"
#include "core/platform/location.h"
#include "core/settings/settings.h"

#include <string>
#include <string_view>
#include <vector>

namespace paritas {

enum class PromptAnswer { Ok, Cancel, NoToAll }; // closing the box counts as Cancel

inline constexpr const char* kJobInterruptedLine = "Job Processing Interupted";
// The stop window's message box (also shown after No to All).
inline constexpr const char* kJobInterruptedMessage = "Job processing has been interupted by user";
// The main window's "Stop All Actions" message box.
inline constexpr const char* kStopAllActionsMessage = "Job Processing has been integerupded by user ...";

// One copy, ready to run: run() copies, reporting to the observer (which may cancel between chunks).
class CopyTask {
public:
    virtual ~CopyTask() = default;
    virtual CopyResult run(CopyObserver& observer) = 0;
};

class ExecutorHost : public ActivityHost {
public:
    // The prompt settings, read afresh for every line, so a change in the window applies at once.
    virtual Settings settings() = 0;
    // A modal question with OK, Cancel and No to All.
    virtual PromptAnswer confirm(std::string_view /*text*/) { return PromptAnswer::Ok; }
    // A modal message box with OK.
    virtual void showMessage(std::string_view /*text*/) {}
    // The status label: its text, and red for the warning above 100 failures. Red lasts until the
    // next runStarted().
    virtual void setStatus(std::string_view /*text*/, bool /*red*/) {}
    // Windows: show the stop window, disable the folder trees, status colour back to normal.
    virtual void runStarted() {}
    // Windows: hide the stop window, enable the folder trees. Called before the finish line is logged.
    virtual void runFinished() {}
    // Windows: give the stop window the focus, so that the space bar presses its button.
    virtual void beforeLine() {}
    // The stop window's button; No to All presses it too. Default: interruptJobProcessing, then the
    // message kJobInterruptedMessage.
    virtual void pressStopButton(StopFlags& flags);
    // Runs the copy of a copy line. Default: keepAlive() before the copy and at every progress report;
    // the copy is cancelled as soon as flags.action is set. The windows show the copy progress window
    // here, whose buttons call cancelCopy / cancelAllCopies (copy_progress.h).
    virtual CopyResult copyWithProgress(CopyTask& copy, std::string_view copyName, StopFlags& flags);
    // How many copies may run at once. With more than one, copy lines that need no prompt run on a
    // pool of that many workers, outside copyWithProgress (which shows one copy at a time); lines are
    // still reported in list order on the caller's thread, and keepAlive() is called while copies run.
    virtual int copyWorkers() { return 1; }
    // The largest file (in bytes, as planned) whose copy may go to the pool; larger ones, and those
    // whose size was not planned, run one at a time through copyWithProgress. The windows keep their
    // copy progress window for long copies this way.
    virtual uint64_t largestPooledCopy() { return UINT64_MAX; }
    // The bytes of the whole run: `done` of `planned`, the planned sizes of its copy lines (a copy
    // whose size was not planned counts 0). Called when the run starts (done 0), after each copy line
    // is reported (a copied or failed line counts its planned size, a cancelled one and the lines a
    // stop did not reach count nothing), and while a copy runs through copyWithProgress, as it writes
    // (at most its planned size). `done` goes back only when a copy under way is cancelled (what it
    // wrote is thrown away) and reaches `planned` only when every copy line was handled.
    virtual void setBytesProgress(uint64_t /*done*/, uint64_t /*planned*/) {}
};

// Copies that run at once when a host wants a pool and the user has not chosen: measured best for
// small files on the machines at hand (bench/sync_bench.sh pool).
constexpr int kDefaultCopyWorkers = 4;

// Sets both stop flags and logs "Job Processing Interupted".
void interruptJobProcessing(StopFlags& flags, ActivityHost& host);

// good and bad are the counts the status line shows (every failure is bad, a cancelled copy and a
// line skipped because the line it depends on did not succeed included). The others tell the bad
// ones apart and count what was not tried, for an honest summary at the end of a run.
struct ExecutionCounts {
    int good = 0;
    int bad = 0;
    int cancelled = 0;         // copies cancelled (Cancel, Cancel All, a stop); counted bad
    int dependencySkipped = 0; // lines not run because an earlier line failed; counted bad
    int promptSkipped = 0;     // lines left out by Cancel at their prompt; neither good nor bad
    int notReached = 0;        // action lines after the line at which the run was stopped
    // Bad lines that were tried and failed.
    int failed() const { return bad - cancelled - dependencySkipped; }

    // The good lines by what they did.
    int created = 0, moved = 0, copied = 0, deleted = 0, removedFolders = 0;
    int linked = 0, attributesChanged = 0; // second names of a file; metadata alone carried
    uint64_t bytesCopied = 0; // the planned sizes of the good copies
    // Deleted files and old versions under copies that went where removedTo says (not deleted).
    int keptAside = 0;
    RemovedFiles removedTo = RemovedFiles::Delete; // the choice the run was started with
    // A stop request (a stop button, No to All, Cancel All) ended the run before its end.
    bool stopped = false;
    // The first few failure lines, each with its reason after ": " when it has one.
    std::vector<std::string> firstFailures;
    static constexpr std::size_t kFailuresKept = 3;
};

// "Synchronize Progress : Good Actions (g) Bad Actions (b)", or above 100 failures the red variant
// "Synchronize Progress : Good Actions(g) Bad Actions(b) Warning! More then 100 FAILED Actions!! ...".
std::string executionStatusText(const ExecutionCounts& counts);
bool executionStatusIsRed(const ExecutionCounts& counts);

// The line that follows a failure line: "Reason: " + why.
std::string reasonLine(std::string_view why);

// Runs the list (its own copy, see above) on `locations`, checking each item against the facts it was
// planned on. `written`: the locations the run writes (their versions folders are pruned at the end).
// Clears flags.action at the start; never reads jobList.
ExecutionCounts PerformActions(ActionList actions, Locations& locations, const std::vector<std::string>& written,
                               StopFlags& flags, ExecutorHost& host);
// The same, keeping the metadata of the folders as `folderTimes` says (a plan's FolderTimesPlan):
// a folder a line makes takes its source's owner, attributes and permissions at once, and after the
// last line every folder made or changed takes its source's times, subfolders first. Copies, made
// folders and the attributes and hard-link lines carry all the metadata the written locations hold;
// what one cannot hold is logged once per kind (MetadataKeeper), when the actions start or when it is
// first met. Without `folderTimes`, folders keep what the file system gives them.
ExecutionCounts PerformActions(ActionList actions, Locations& locations, const std::vector<std::string>& written,
                               StopFlags& flags, ExecutorHost& host, const FolderTimesPlan& folderTimes);

} // namespace paritas

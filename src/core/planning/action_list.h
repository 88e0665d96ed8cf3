#pragma once
// The action list: the one hand-over between the planners, the review window and the executor. It is
// a list of values, one item per line the user sees. The text of a line is rendered from its item
// (lineText) for the review window, the activity log and the command line, and nothing reads it back.
//
//   kind          path                  destination    the line's text
//   CreateFolder  the folder            -              "CreateDir " + folder
//   MoveRename    the file as it is     its new path   "Move-Rename " + path + "*" + destination
//   Copy          the source            the target     "Copy " + path + "*" + destination
//   DeleteFile    the file              -              "DeleteFile " + file
//   RemoveFolder  the folder            -              "RemoveDir " + folder
//   Original      the kept file         -              "Original    " + file (duplicates in B), or
//                                                      "Original   *" + file (within A: the matched
//                                                      mark of the kept row stays in front of it)
//   Attributes    the entry changed     the entry whose "Attributes " + entry
//                                       metadata it takes
//   HardLink      a name of the file    the new name   "HardLink " + path + "*" + destination
//
// An attributes item is a change of metadata alone (owner, group, permissions; extended attributes and
// ACLs when compared): the entry stays, its content is judged the same. A hard-link item gives a file
// that stands in the location (or that an earlier line makes) a second name, as the source's names
// share one file; where the file system holds no hard links it copies the file to that name instead.
// An original item is no action: it names the file that the delete item after it keeps (the delete
// names it by number, ActionFacts::original), and the executor checks that file before the delete.
//
// Order contract of the planners: create-folder items before anything is put into a folder, parents
// before their subfolders; backup writes deletions after all moves and copies and folder removals
// last, subfolders first; duplicate planners write pairs, an original item followed by the delete
// item of its duplicate. Backup writes a file's attributes item right after the line that puts the
// file in place (or where the file stands), a hard-link item after the line that makes the name it
// joins, and the attributes items of folders after everything else, subfolders first.
//
// A folder's times are no item: once a run's last line in a folder is done, the executor gives the
// folder the times of the folder it mirrors (MirroredLocation), so that they stay as the source's.
//
// Paths are full paths of any length (a path is never cut): a location text and what lies below it.

#include "core/planning/action_facts.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

enum class ActionKind : uint8_t {
    CreateFolder,
    MoveRename,
    Copy,
    DeleteFile,
    RemoveFolder,
    Original,
    Attributes,
    HardLink,
};
inline constexpr std::size_t kActionKindCount = 8;

struct PlanItem {
    ActionKind kind = ActionKind::CreateFolder;
    // An original item shown with the matched mark in front of its path ("Original   *" + file).
    bool markedOriginal = false;
    std::string path;
    std::string destination; // move, copy and hard-link items; an attributes item's source
    ActionFacts facts;

    // Everything but an original item changes the file system.
    bool isAction() const { return kind != ActionKind::Original; }
};

using ActionList = std::vector<PlanItem>;

inline constexpr std::string_view kCreateDirPrefix = "CreateDir ";
inline constexpr std::string_view kMoveRenamePrefix = "Move-Rename ";
inline constexpr std::string_view kCopyPrefix = "Copy ";
inline constexpr std::string_view kDeleteFilePrefix = "DeleteFile ";
inline constexpr std::string_view kRemoveDirPrefix = "RemoveDir ";
inline constexpr std::string_view kOriginalPrefix = "Original    ";      // duplicates in B, swap
inline constexpr std::string_view kOriginalMarkedPrefix = "Original   "; // within A, followed by "*"
inline constexpr std::string_view kAttributesPrefix = "Attributes ";
inline constexpr std::string_view kHardLinkPrefix = "HardLink ";

// The item's line text, as the review window, the logs and `paritas-cli plan` show it.
std::string lineText(const PlanItem& item);
// Every item's text, in order.
std::vector<std::string> lineTexts(const ActionList& items);
// The length of lineText(item), without making it.
std::size_t lineLength(const PlanItem& item);

// Item makers, numbered and without facts (planners number them through PlanWriter).
PlanItem createFolderItem(std::string folder);
PlanItem moveItem(std::string source, std::string destination);
PlanItem copyItem(std::string source, std::string destination);
PlanItem deleteItem(std::string file);
PlanItem removeFolderItem(std::string folder);
PlanItem originalItem(std::string file, bool marked = false);
// `entry` takes the metadata of `source`.
PlanItem attributesItem(std::string entry, std::string source);
// `name` becomes a second name of the file at `existing`.
PlanItem hardLinkItem(std::string existing, std::string name);

// A location whose folders take their metadata from another's (backup: B mirrors A; folder synch and
// copy missing: the folders they make mirror the folders they were made for). Once a run's last line
// in such a folder is done, the folder takes the permissions and times of the folder at the same place
// below `source`; a folder the run made takes its owner, attributes and permissions at once.
struct MirroredLocation {
    std::string location; // ending with the separator
    std::string source;
    bool everyFolder = false; // every folder the run touches; else only those it makes
};
// What a plan asks of the run beside its lines: the mirrored locations, and the folders (of a location
// mirrored in every folder, without their separator) whose times differ from their source's though no
// line touches them; they take their source's times at the end of the run too.
struct FolderTimesPlan {
    std::vector<MirroredLocation> mirrors;
    std::vector<std::string> stale;
};

// The mirror that covers `folder` (the closest location above it), or nullptr.
const MirroredLocation* mirrorOf(const std::vector<MirroredLocation>& mirrors, std::string_view folder);
// `folder` (below mirror.location, with or without its separator) at the same place below the source.
std::string mirroredPath(const MirroredLocation& mirror, std::string_view folder);

// The path the review window shows for an item (its preview and path label): the source of a move or
// copy, else its one path; empty for a create-folder item.
const std::string& shownPath(const PlanItem& item);

// The kept file and the duplicate trade places (the review window's swap): the original item names
// the other file, the delete item deletes the formerly kept one, and the stamps the executor checks
// them by go with the files. The original is then shown without the matched mark, as a pair of
// duplicates in B shows it.
void swapDuplicatePair(PlanItem& original, PlanItem& duplicate);

} // namespace paritas

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
// An original item is no action: it names the file that the delete item after it keeps (the delete
// names it by number, ActionFacts::original), and the executor checks that file before the delete.
//
// Order contract of the planners: create-folder items before anything is put into a folder, parents
// before their subfolders; backup writes deletions after all moves and copies and folder removals
// last, subfolders first; duplicate planners write pairs, an original item followed by the delete
// item of its duplicate.
//
// Paths are full paths of any length (a path is never cut): a location text and what lies below it.

#include "core/planning/action_facts.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

enum class ActionKind : uint8_t { CreateFolder, MoveRename, Copy, DeleteFile, RemoveFolder, Original };

struct PlanItem {
    ActionKind kind = ActionKind::CreateFolder;
    // An original item shown with the matched mark in front of its path ("Original   *" + file).
    bool markedOriginal = false;
    std::string path;
    std::string destination; // move and copy items only
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

// The path the review window shows for an item (its preview and path label): the source of a move or
// copy, else its one path; empty for a create-folder item.
const std::string& shownPath(const PlanItem& item);

// The kept file and the duplicate trade places (the review window's swap): the original item names
// the other file, the delete item deletes the formerly kept one, and the stamps the executor checks
// them by go with the files. The original is then shown without the matched mark, as a pair of
// duplicates in B shows it.
void swapDuplicatePair(PlanItem& original, PlanItem& duplicate);

} // namespace paritas

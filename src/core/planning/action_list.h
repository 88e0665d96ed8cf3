#pragma once
// The action list: the one hand-over between the planners, the review window and the executor.
//
// One file-system action per text line, recognised by its first characters (exact, case included):
//   "CreateDir " + folder                     "Cr"   folder path from position 11
//   "Move-Rename " + source + "*" + dest      "Mo"   source from 13 up to the first "*"
//   "Copy " + source + "*" + dest             "Co"   source from 6 up to the first "*"
//   "DeleteFile " + file                      "De"   file path from position 12
//   "RemoveDir " + folder                     "Re"   folder path from position 11
//   "Original    " + file, or "Original   *" + file
//                                             "Or" (review), "Ori" (selection); path from 13
// Positions count from 1. A tail that runs to the end of the line (and a destination) is cut at 1000
// characters; the cut reports whether anything was lost, so that nobody acts on a shortened path.
//
// Order contract of the planners: create-folder lines before anything is put into a folder, parents
// before their subfolders; backup writes deletions after all moves and copies and folder removals
// last, subfolders first; duplicate planners write pairs, an original line at an even index followed
// by the delete line of its duplicate.

#include <string>
#include <string_view>
#include <vector>

namespace paritas {

using ActionList = std::vector<std::string>;

inline constexpr std::string_view kCreateDirPrefix = "CreateDir ";
inline constexpr std::string_view kMoveRenamePrefix = "Move-Rename ";
inline constexpr std::string_view kCopyPrefix = "Copy ";
inline constexpr std::string_view kDeleteFilePrefix = "DeleteFile ";
inline constexpr std::string_view kRemoveDirPrefix = "RemoveDir ";
inline constexpr std::string_view kOriginalPrefix = "Original    ";      // duplicates in B, swap
inline constexpr std::string_view kOriginalMarkedPrefix = "Original   "; // within A, followed by "*"
inline constexpr std::size_t kPathCap = 1000;

enum class ActionKind { None, CreateFolder, MoveRename, Copy, DeleteFile, RemoveFolder };

// The executor's recognition: the first two characters against "Cr", "Mo", "Co", "De", "Re".
ActionKind actionKind(std::string_view line);
// Review filling: first two characters "Or"; selection: first three "Ori".
bool isOriginalLine(std::string_view line);
bool isOriginalSelection(std::string_view line);

struct CutPath {
    std::string path;
    bool truncated = false; // the text was longer than the cap and has been cut
};

// The text from 1-based position `position` to the end of the line, at most kPathCap characters.
CutPath pathFrom(std::string_view line, std::size_t position);

struct CutPair {
    std::string source;
    std::string destination;
    bool hasSeparator = false;
    bool truncated = false;
};

// A move or copy line: source from `position` up to the first "*", destination after it (capped).
CutPair pairFrom(std::string_view line, std::size_t position);

// The path that a line names for the review's path label and preview; empty for lines without one.
// Lines of the kinds that carry one path return it; move and copy lines return their source.
std::string singlePathOf(std::string_view line);

} // namespace paritas

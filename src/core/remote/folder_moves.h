#pragma once
// Which planned moves of a run together move a whole folder: the lines a backup writes when a folder
// was renamed (one "Move-Rename" per file, the new folder made first, the old one removed last), which
// a remote can carry out as one server-side folder move instead of one move per file.
//
// A pair of folders (from, to) qualifies when the lines say so, all of it:
//   - a line makes `to` and a line removes `from`; neither lies in the other, neither is the location;
//   - every move of a file beneath `from` goes to the same path beneath `to` (its members), with its
//     planned stamp known, and no other line reads or writes beneath `from` but the removal of its
//     folders, each of which has its counterpart beneath `to` made;
//   - beneath `to`, before the first member, only its folders are made (nothing written there).
// A move may belong to several such pairs (a renamed folder and each of its subfolders); they are
// tried from the top. The lines alone never decide: the remote checks the folder itself right before
// the move (remote_location.cpp), and a pair that fails there falls back to its next pair down, and
// then to one move per file.

#include "core/platform/location.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace paritas {

struct FolderMove {
    std::string from; // full path texts, each ending with "/"
    std::string to;
    // The moves it carries out, by their position among the lines.
    std::vector<std::size_t> members;
    // The folders at and beneath `to` that lines make before the first member (to itself included),
    // and the folders at and beneath `from` that lines remove.
    std::vector<std::string> made;
    std::vector<std::string> removed;
    std::size_t firstMember = 0;
    bool valid = true;
};

class FolderMovePlan {
public:
    FolderMovePlan() = default;
    // `lines`: what the executor announced (Location::actionsAhead); `location`: the location's text.
    FolderMovePlan(const std::vector<ActionAhead>& lines, const std::string& location);
    // The same, on lines another plan of the run shares (kept only while the plan holds anything).
    FolderMovePlan(std::shared_ptr<const std::vector<ActionAhead>> lines, const std::string& location);

    // The qualifying folder moves that carry the move of `source` to `destination`, outermost first
    // (indexes into moves()); empty for a move no folder move carries.
    const std::vector<std::size_t>& carriers(const std::string& source, const std::string& destination) const;
    const std::vector<FolderMove>& moves() const { return moves_; }
    const std::vector<ActionAhead>& lines() const;
    bool empty() const { return moves_.empty(); }

private:
    std::shared_ptr<const std::vector<ActionAhead>> lines_;
    std::vector<FolderMove> moves_;
    std::unordered_map<std::string, std::vector<std::size_t>> carriers_; // source + "\n" + destination
};

// Whether a path text lies at or beneath a folder text (which ends with "/").
inline bool textBeneath(std::string_view path, std::string_view folder) {
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0;
}
// A path text as a folder's: ending with "/".
inline std::string folderText(std::string path) {
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

// The folder pairs a file's move could be part of: (from, to) for each level at which the two paths
// differ only above it, innermost first ("B/a/x/f" -> "B/b/x/f" gives ("B/a/x/", "B/b/x/") and then
// ("B/a/", "B/b/")). Paths lie beneath `location` (its text ends with "/"); none for a move that renames
// the file itself, and no pair with the location or with one folder inside the other.
std::vector<std::pair<std::string, std::string>> folderPairsOf(const std::string& source,
                                                                const std::string& destination,
                                                                const std::string& location);

} // namespace paritas

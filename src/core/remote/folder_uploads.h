#pragma once
// Which new folders of a run a remote can fill in one go: a first backup writes, for every folder
// missing in the destination, a line that makes it, lines that make its subfolders, and one copy per
// file. Sent one by one, each file costs rclone's remote control three calls (upload under a hidden
// name, check the name is free, move onto it), and each call costs the daemon more than a whole file
// of `rclone copy`. Sent together, the files of many new folders go in one rclone copy into a hidden
// folder, and each new folder then takes its place in one server-side move (remote_location.h).
//
// A new folder (an upload) qualifies when the lines say so, all of it:
//   - a line makes it, beneath the location (not the location itself), and no line made by the run
//     above it is already an upload;
//   - its members are the copies into it or beneath it, each into a folder that a line makes at or
//     beneath it, from a local file (an absolute path) at the same relative path beneath one source
//     folder, its planned stamp known, smaller than kUploadFileLimit, nobody to be asked about it,
//     with a path that rclone's list of files can carry (UTF-8, no line breaks), and no two of them
//     with names that differ only in letter case (A-Z);
//   - no line reads beneath it, nor moves, deletes or removes anything there;
//   - it has at least kUploadLeastMembers members, and at most kUploadMostMembers members of at most
//     kUploadMostBytes together (what one copy, a wave, sends at most). A folder with more is not one
//     upload: its new subfolders are tried each in turn, and the files directly in it are copied one
//     by one.
// The lines alone never decide: the remote checks right before the upload that nothing stands at the
// new folder, and checks every file that arrived against its line (remote_location.cpp).

#include "core/platform/location.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace paritas {

// A file larger than this is copied by its own line, which shows its progress.
inline constexpr int64_t kUploadFileLimit = 4 << 20;
inline constexpr std::size_t kUploadLeastMembers = 4;
// A wave shows no progress of its own files (the windows stay served and a stop ends it), so it is
// kept to what a slow uplink sends in a few minutes.
inline constexpr std::size_t kUploadMostMembers = 20000;
inline constexpr int64_t kUploadMostBytes = 256 << 20;

struct FolderUpload {
    std::string folder; // the new folder (a path text of the location, ending with "/")
    std::string source; // the local folder its members come from (ending with "/")
    // The copies it carries, by their position among the lines, in list order.
    std::vector<std::size_t> members;
    int64_t bytes = 0;
};

class FolderUploadPlan {
public:
    FolderUploadPlan() = default;
    // `lines`: what the executor announced (Location::actionsAhead); `location`: the location's text.
    FolderUploadPlan(const std::vector<ActionAhead>& lines, const std::string& location);
    // The same, on lines another plan of the run shares (kept only while the plan holds anything).
    FolderUploadPlan(std::shared_ptr<const std::vector<ActionAhead>> lines, const std::string& location);

    // The upload that makes `folder` (a text ending with "/"), or nullptr.
    const FolderUpload* at(const std::string& folder) const;
    const std::vector<FolderUpload>& uploads() const { return uploads_; }
    const std::vector<ActionAhead>& lines() const;

private:
    std::shared_ptr<const std::vector<ActionAhead>> lines_;
    std::vector<FolderUpload> uploads_;
    std::unordered_map<std::string, std::size_t> byFolder_;
};

} // namespace paritas

#pragma once
// What a run keeps of the sources' metadata beside its lines (metadata.h): one MetadataKeeper per
// written location (what its file system cannot hold, said once per kind), the owner, attributes and
// permissions of the folders a line makes, and the times of every folder a line changed, given once the
// last line is done, subfolders first (FolderTimesPlan, action_list.h). For the executor only.

#include "core/base/host.h"
#include "core/planning/action_list.h"
#include "core/platform/location.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace paritas {

class MetadataKeeping {
public:
    MetadataKeeping(Locations& locations, const std::vector<std::string>& written, FolderTimesPlan plan);

    // Tells each keeper, before the first line, what its file system is known not to hold (one line a
    // kind, when the actions start), so that no line tries it. Probes each written location that exists.
    void learnWhatIsNotHeld();
    // The keeper of the written location that holds `path`, or nullptr.
    MetadataKeeper* keeperFor(const std::string& path);
    // Logs the keepers' lines not logged yet.
    void report(ActivityHost& host);

    // An item was tried: the folders whose contents it changes, and the folder it makes.
    void touched(const PlanItem& item);
    // A folder this run made takes the owner, attributes and permissions of the folder it mirrors at
    // once: what is made in it inherits what the source's entries inherited.
    void startFolder(const std::string& folder, ActivityHost& host);
    // The last line is done: every folder a line changed or made, and every folder whose times were
    // stale, takes the times (a folder made by the run: and the exact permissions) of the folder it
    // mirrors, subfolders first. A location mirrored in every folder takes its source's times too once
    // anything in it changed (its owner and permissions stay its own). A folder whose lines failed gets
    // them too: what failed is redone by the next run, which gives them again.
    void finishFolders(ActivityHost& host);

private:
    // A folder of a mirrored location, with the folder it follows and the keeper of its location.
    struct Follower {
        std::string source;
        Location* from = nullptr;
        Location* to = nullptr;
        MetadataKeeper* keeper = nullptr;
    };
    // Empty source: `folder` follows nothing (no mirror, or a location the run does not hold).
    Follower followerOf(const std::string& folder);
    void touch(std::string_view folder);
    void finish(const std::string& folder, bool made, ActivityHost& host);

    Locations& locations_;
    FolderTimesPlan plan_;
    std::vector<std::pair<Location*, std::unique_ptr<MetadataKeeper>>> keepers_;
    std::unordered_set<std::string> touched_;
    std::unordered_set<std::string> made_;
};

} // namespace paritas

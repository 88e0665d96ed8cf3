#pragma once
// The filter rules at work in one scan: the walk asks them about each folder's subfolders, the scan
// about each folder's files, both on the committing thread, and both tally what is left out in the
// scan's result.

#include "core/inventory/filters.h"
#include "core/inventory/inventory.h"

#include <string>
#include <string_view>

namespace paritas {

class ScanFilter {
public:
    // `rootLength`: the length of the location's path with its trailing separator. `tally` (may be
    // null) receives the counts and the holding folders, in folder-list order.
    ScanFilter(const FilterRules& rules, std::size_t rootLength, ScanLeftOut* tally);
    // The folder (a full path of the folder list) whose entries are asked next. It must stay alive
    // until the next enter().
    void enter(const std::string& folder);
    // Whether an entry is left out; a left-out entry is counted. An entry whose type is unknown is left
    // out only when it would be as a file and as a folder.
    bool leavesOutFolder(std::string_view name);
    bool leavesOutFile(std::string_view name);
    bool leavesOutUnknown(std::string_view name);

private:
    void count(std::size_t ScanLeftOut::*counter);

    FolderFilter filter_;
    ScanLeftOut* tally_;
    std::size_t rootLength_;
    std::string_view relative_;
};

} // namespace paritas

#pragma once
// The last step of a copy: complete new content, held under a temporary name in the destination's
// folder, takes the destination's name as the plan allows. Kept apart from the copying of bytes
// because this is where file systems differ most; for the platform layer only (file_copy.cpp).
//
//   Nothing   never replace: moveNoReplaceAt (RENAME_NOREPLACE, else a hard link, else a check right
//             before a plain rename; see file_ops.cpp for that window)
//   Planned   replace only the planned file: RENAME_EXCHANGE, then a check of what came out, which
//             is exchanged back when it is not the planned file. Without the exchange the planned
//             file first steps aside to a fresh temporary name and is checked there; the new
//             content then takes the name, never replacing; any failure puts the old file back.
//   Anything  a plain rename over whatever stands there; with a disposal, a file standing there is
//             kept as for Planned (any file that is not a folder), even one that appears at the
//             last moment
//
// The old version then goes where the Disposal sends it, or is deleted. When it cannot be kept the
// new content leaves again and the old version returns, so a copy never deletes what was to be kept.

#include "core/platform/act_hooks.h"
#include "core/platform/disposal.h"
#include "core/platform/file_copy.h"

#include <string>

namespace paritas {

struct FileSystemCapabilities;
class TemporaryNameLog;

namespace placement {

// A temporary name in `dir` that a copy made and removes again unless it is handed on.
class TemporaryName {
public:
    explicit TemporaryName(int dir);
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName();
    void hold(std::string name) { name_ = std::move(name); }
    const std::string& name() const { return name_; }
    bool held() const { return !name_.empty(); }
    void release() { name_.clear(); }

private:
    int dir_;
    std::string name_;
};

// Where the old version of a destination goes: `disposal` when set (else it is deleted), recorded
// under `path`, the destination as the user knows it.
struct OldVersion {
    Disposal* disposal = nullptr;
    const std::string* path = nullptr;
    BetweenCheckAndAct* between = nullptr; // told after the last check, right before the act
    // Told before a temporary name is made or comes to hold the old version (work_journal.h).
    TemporaryNameLog* journal = nullptr;
};

// The folder part of a full path ("/b/docs" of "/b/docs/x.txt").
std::string folderOfPath(const std::string& path);

// Why a name that was to be free is taken: a folder standing there (the plan could see it), or
// something that appeared since planning (kChangedSincePlanning).
int takenReason(int dir, const std::string& name);

// Puts the complete content at `held` in place of `name` in `dir` as `plan` allows. On success the
// temporary name is gone (or holds the old version, which goes with it). `capabilities` (may be
// nullptr) are those of the file system of `dir`: they choose the means at once; without them
// each means is tried and the next taken where the file system refuses it.
Disposed placeHeld(int dir, TemporaryName& held, const std::string& name, const DestinationPlan& plan,
                   const OldVersion& old, const FileSystemCapabilities* capabilities);

} // namespace placement
} // namespace paritas

#pragma once
// `plan --format json`: one JSON object per action line, one line each (JSON Lines), for scripts:
//   {"kind":"copy","source":"/a/x.txt","target":"/b/x.txt","size":1234,"reason":"missing in the target"}
// kind is create-folder, move, copy, delete, remove-folder or original (the file a duplicate's delete
// keeps); source and target are null where a kind has none, size is null for folders. Paths are the
// bytes of the file system: a byte that is not UTF-8 is replaced by U+FFFD, so the output is always
// valid JSON (the text plan carries the exact bytes).

#include "core/planning/planners.h"

#include <string>

namespace paritas::cli {

// The JSON line of action line `index` of the plan.
std::string actionJson(const PlanResult& plan, std::size_t index, int mode, const Settings& settings);

} // namespace paritas::cli

#pragma once
// What the windows say about a run, in one place: its counts (one count of failures, the one the
// status label's "Bad Actions" shows), what its lines did, the criteria its files were compared by,
// where removed files go, and the box at its end. Every text comes from the executor's counts
// (ExecutionCounts) and the settings the run was started with, so the box, the log's "Actions
// summary:" line and the status label agree.

#include "core/execution/executor.h"
#include "core/planning/planners.h"
#include "core/settings/settings.h"

#include <QString>
#include <QStringList>

#include <cstdint>

namespace paritas::gui {

// "1 file" / "3 files": the count in the locale's digits and the word that goes with it.
QString countOf(uint64_t count, const char* one, const char* many);
// "2.3 GB", "4.9 kB": a size as the windows show sizes.
QString sizeText(uint64_t bytes);

// "compared by size, name and time": the same-file criteria the settings tick ("compared by no
// criterion" when none is).
QString criteriaText(const Settings& settings);

// "12 done, 1 failed, 3 skipped" with what the failures and skips were when there were any:
// "12 done, 2 failed (1 cancelled, 1 not run after an earlier failure), 3 skipped (3 not reached)".
// Failed is the status label's bad count.
QString runCountsText(const ExecutionCounts& counts);

// What the good lines did, one line: "3 files copied (1.2 MB), 1 file moved, 4 files deleted, 1 new
// folder, 1 folder removed"; empty when no line did anything.
QString runDoneText(const ExecutionCounts& counts);

// The box at the end of a run: "Synchronisation FINISHED!" (or "Synchronisation Stopped" when a stop
// ended it), the counts, what the lines did, where removed files went, the first failures with their
// reasons, the criteria. `nothingToDo`: the plan held no action; the box says so in place of the counts.
QString runEndingText(const ExecutionCounts& counts, const Settings& settings, PlanKind kind,
                      bool nothingToDo);
// Whether that box is a warning: a line failed or was skipped, or a stop ended the run.
bool runEndingIsWarning(const ExecutionCounts& counts);

// Whether a plan holds any action (original items are none).
bool holdsAnAction(const ActionList& actions);

// "Nothing to do: every file of A is already in B (compared by size, name and time)."
QString nothingToDoText(PlanKind kind, const Settings& settings);

// Where the files a run removes or replaces go, for the confirmation before it runs: "4 files go to
// the trash (3 deletions, 1 replaced by a copy); the file manager can put them back." Empty when the
// ticked lines remove and replace nothing.
QString removalNote(uint64_t deletions, uint64_t replaced, const Settings& settings);

// "1.2 GB of 3.4 GB, 12.5 MB/s, 0:42 left": the bytes of a whole run while it goes (no speed until
// there is one).
QString runBytesText(uint64_t done, uint64_t planned, int64_t elapsedMs);
// "3.4 GB of 3.4 GB done in 2:13": the same at the run's end.
QString runBytesDoneText(uint64_t done, uint64_t planned, int64_t elapsedMs);

} // namespace paritas::gui

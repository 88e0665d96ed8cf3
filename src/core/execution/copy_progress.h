#pragma once
// What the copy progress window shows and what its two buttons do, kept out of the window so that
// the window and the tests share one definition.
//
// The window holds a cancel flag that starts false; the copy reads it between chunks. "Cancel"
// stops this copy only; "Cancel All" also sets the action stop flag, so the executor ends its loop
// after this line. Neither touches the job-list stop flag: a job run goes on with its next job.
// Both log "Copy File Interupted" at the moment they are pressed, before the copy has returned.

#include "core/base/host.h"
#include "core/execution/stop_flags.h"

#include <cstdint>
#include <string>

namespace paritas {

inline constexpr const char* kCopyInterruptedLine = "Copy File Interupted";

// Done over total as a whole percentage, rounded half to even; an empty file counts as complete.
int copyPercentage(uint64_t done, uint64_t total);
// "1 MB of 3 MB Finished": both figures whole mebibytes, truncated.
std::string copyMegabyteText(uint64_t done, uint64_t total);

// The Cancel button.
void cancelCopy(bool& cancelFlag, ActivityHost& host);
// The Cancel All button.
void cancelAllCopies(bool& cancelFlag, StopFlags& flags, ActivityHost& host);

} // namespace paritas

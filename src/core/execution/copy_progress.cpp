#include "core/execution/copy_progress.h"

#include <cmath>

namespace paritas {

int copyPercentage(uint64_t done, uint64_t total) {
    if (total == 0)
        return 100;
    // rint rounds half to even in the default rounding mode.
    const double percent = static_cast<double>(done) / static_cast<double>(total) * 100.0;
    return static_cast<int>(std::rint(percent));
}

std::string copyMegabyteText(uint64_t done, uint64_t total) {
    constexpr uint64_t kMegabyte = 1048576;
    return std::to_string(done / kMegabyte) + " MB of " + std::to_string(total / kMegabyte) + " MB Finished";
}

void cancelCopy(bool& cancelFlag, ActivityHost& host) {
    cancelFlag = true;
    host.log(kCopyInterruptedLine);
}

void cancelAllCopies(bool& cancelFlag, StopFlags& flags, ActivityHost& host) {
    flags.action = true;
    cancelFlag = true;
    host.log(kCopyInterruptedLine);
}

} // namespace paritas

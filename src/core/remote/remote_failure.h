#pragma once
// Failures of remote locations (driven through rclone's remote control): the codes that are no errno,
// the result every remote call returns, and how rclone's error texts become codes.
//
// rclone answers a failed call with an HTTP status and an English error text ("object not found",
// "directory not empty", "dial tcp 10.0.0.2:22: connect: connection refused"). The text is kept whole
// for the reason line; the code is what callers branch on. Where rclone's text says nothing we know,
// the code is kRemoteFailed and the text alone explains.

#include <string>
#include <string_view>

namespace paritas {

// Negative so that they never clash with an errno; beside the codes of core/platform/beneath.h
// (which stop at -1009). Checks before an act fail with kChangedSincePlanning of beneath.h.
inline constexpr int kRemoteConnectionLost = -1101; // the remote's server cannot be reached
inline constexpr int kRcloneMissing = -1102;        // no rclone program on this machine
inline constexpr int kRcloneStopped = -1103;        // the rclone process ended or stopped answering
inline constexpr int kRcloneStartFailed = -1104;    // rclone could not be started
inline constexpr int kRcloneConfigPassword =
    -1105; // the encrypted configuration's password is missing or wrong
inline constexpr int kRemoteNotConfigured = -1106; // no remote (or backend) of that name
inline constexpr int kRemoteFailed = -1107;        // rclone reported an error we have no code for
inline constexpr int kRemoteTimeout = -1108;       // a call took longer than the client allows
inline constexpr int kNoTrashOnRemote = -1109;     // the trash was chosen, and a remote has none

// The outcome of one call: 0, an errno (ENOENT, EEXIST, ENOTEMPTY, ENOTDIR, EISDIR, EACCES, ENOSPC,
// ...) or one of the codes above, with the text that explains it (rclone's own words where rclone
// answered).
struct RcResult {
    int error = 0;
    int httpStatus = 0; // the daemon's HTTP status; 0 when no answer came
    std::string reason;
    bool ok() const { return error == 0; }
    explicit operator bool() const { return ok(); }

    static RcResult failure(int error, std::string reason, int httpStatus = 0) {
        return {error, httpStatus, std::move(reason)};
    }
};

// The code for rclone's answer to a failed call (status and its JSON "error" text).
int classifyRcloneError(int httpStatus, std::string_view text);

// The sentence for a code above, else failureText() of core/platform/beneath.h (errno texts).
std::string remoteFailureText(int error);
// The sentence for a code above, or nullptr. Registered with failureText() of beneath.h (by
// registerRemoteFailureTexts, which the remote layer calls before its first call to rclone), so that
// reason lines and refusals written by the layers above name remote failures in words too.
const char* remoteCodeText(int error);
void registerRemoteFailureTexts();

// "sentence: reason" for the log's reason line, or the sentence alone when reason is empty.
std::string describe(const RcResult& result);

} // namespace paritas

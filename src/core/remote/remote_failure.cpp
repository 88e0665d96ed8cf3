#include "core/remote/remote_failure.h"

#include "core/platform/beneath.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>

namespace paritas {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool containsAny(const std::string& text, std::initializer_list<std::string_view> needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [&](std::string_view needle) { return text.find(needle) != std::string::npos; });
}

// Go's io.EOF surfaces as a last word "EOF" ("sftp: read: EOF", "unexpected EOF").
bool endsWithEof(const std::string& text) {
    return text.size() >= 3 && text.compare(text.size() - 3, 3, "eof") == 0 &&
           (text.size() == 3 || !std::isalpha(static_cast<unsigned char>(text[text.size() - 4])));
}

} // namespace

int classifyRcloneError(int httpStatus, std::string_view text) {
    const std::string t = lowered(text);
    // The order matters: "couldn't connect SSH: ... unable to authenticate" is a refusal, not a lost
    // connection, and "dial tcp: lookup nas: no such host" is no missing file.
    if (containsAny(t, {"didn't find section in config file", "didn't find backend called"}))
        return kRemoteNotConfigured;
    if (containsAny(t, {"unable to authenticate", "permission denied", "access denied", "unauthorized",
                        "forbidden", "authentication failed"}))
        return EACCES;
    if (containsAny(t, {"connection refused", "connection reset", "broken pipe", "no route to host",
                        "network is unreachable", "i/o timeout", "couldn't connect", "dial tcp",
                        "no such host", "connection lost", "use of closed network connection",
                        "handshake failed", "context deadline exceeded", "timeout awaiting",
                        "connection timed out", "server closed", "ssh: disconnect"}) ||
        endsWithEof(t))
        return kRemoteConnectionLost;
    if (t.find("directory not empty") != std::string::npos)
        return ENOTEMPTY;
    if (containsAny(t, {"is a file not a directory", "not a directory"}))
        return ENOTDIR;
    if (containsAny(t, {"is a directory not a file", "is a directory"}))
        return EISDIR;
    if (containsAny(t, {"already exists", "file exists"}))
        return EEXIST;
    if (containsAny(t, {"not found", "no such file", "does not exist"}) || httpStatus == 404)
        return ENOENT;
    if (t.find("no space left") != std::string::npos)
        return ENOSPC;
    if (t.find("quota") != std::string::npos)
        return EDQUOT;
    if (t.find("read-only file system") != std::string::npos)
        return EROFS;
    if (t.find("file name too long") != std::string::npos)
        return ENAMETOOLONG;
    // rclone's own guard: the size or time of a source changed while it was being copied.
    if (t.find("source file is being updated") != std::string::npos)
        return kChangedSincePlanning;
    return kRemoteFailed;
}

const char* remoteCodeText(int error) {
    switch (error) {
    case kRemoteConnectionLost:
        return "the connection to the remote was lost";
    case kRcloneMissing:
        return "install rclone (apt install rclone)";
    case kRcloneStopped:
        return "rclone stopped";
    case kRcloneStartFailed:
        return "rclone could not be started";
    case kRcloneConfigPassword:
        return "the rclone configuration is encrypted and its password is missing or wrong";
    case kRemoteNotConfigured:
        return "no such remote in the rclone configuration";
    case kRemoteFailed:
        return "rclone reported an error";
    case kRemoteTimeout:
        return "the remote did not answer in time";
    case kNoTrashOnRemote:
        return "a remote location has no trash, so the file stays where it was";
    default:
        return nullptr;
    }
}

void registerRemoteFailureTexts() {
    registerFailureTexts(remoteCodeText);
}

namespace {
// Every program that links the remote layer gets its sentences from failureText() too.
const bool registered = (registerRemoteFailureTexts(), true);
} // namespace

std::string remoteFailureText(int error) {
    if (const char* text = remoteCodeText(error))
        return text;
    return failureText(error);
}

std::string describe(const RcResult& result) {
    if (result.ok())
        return {};
    std::string text = remoteFailureText(result.error);
    if (!result.reason.empty())
        text += ": " + result.reason;
    return text;
}

} // namespace paritas

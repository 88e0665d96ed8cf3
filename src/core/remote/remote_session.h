#pragma once
// The rclone daemon and its client that every remote location of a run uses: one per process at a
// time, started by the first remote location opened (RemoteSession::acquire) and shared by every
// location and every thread's handle while any of them holds it; when the last one lets go (the run
// has ended) the daemon is asked to quit (core/quit), terminated at once if it is still there
// (SIGTERM: rclone runs the same exit handlers) and killed if it does not go. endAll() does the same
// at once for a program about to exit on a signal; and should Paritas itself be killed, the daemon
// gets SIGKILL from the kernel (child_process.h).
//
// A daemon that has ended (killed, crashed) is not started again for the run that used it: that run's
// remaining calls fail at once with its reason (rc_client.h). The next acquire() starts a new one.
//
// The configuration's password (an encrypted rclone.conf) is the user's RCLONE_CONFIG_PASS, or what
// the window asked for once (setConfigPassword); it is held in memory only and reaches rclone only in
// its environment.
//
// Thread-safe.

#include "core/remote/rc_client.h"
#include "core/remote/rclone_daemon.h"
#include "core/remote/remote_ops.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace paritas {

// How sessions start their daemon and client; the defaults serve users (rclone from PATH, the user's
// own rclone configuration), tests set their own.
struct RemoteSessionOptions {
    RcloneDaemonOptions daemon;
    RcClientOptions client;
    RemoteSessionOptions();
};

class RemoteSession {
public:
    // The session of this process while one lives and its daemon runs, else a new one. nullptr with
    // `failure` when rclone cannot be started (kRcloneMissing: "install rclone (apt install rclone)",
    // kRcloneConfigPassword, kRcloneStartFailed).
    static std::shared_ptr<RemoteSession> acquire(RcResult& failure);
    // Replaces the options of sessions started from now on (tests; the window's password goes through
    // setConfigPassword).
    static void configure(RemoteSessionOptions options);
    static RemoteSessionOptions configured();
    // The password of an encrypted rclone configuration, for sessions started from now on; empty
    // forgets it (RCLONE_CONFIG_PASS of the environment then applies).
    static void setConfigPassword(std::string password);
    // Ends the daemon of the live session now (a program about to exit on a signal); its calls fail
    // from then on with kRcloneStopped.
    static void endAll();
    // The process id of the live session's daemon, or 0 (tests).
    static pid_t livePid();

    ~RemoteSession();
    RemoteSession(const RemoteSession&) = delete;
    RemoteSession& operator=(const RemoteSession&) = delete;

    RcClient& client() { return *client_; }
    RcloneDaemon& daemon() { return *daemon_; }
    // The facts of an fs, asked of rclone once per session and fs.
    RcResult fsInfo(const std::string& fs, RemoteFsInfo& info);
    // A fresh tag for the calls of one action line (rc's _group): "paritas.<n>".
    std::string lineGroup();

    // What the session's uploads carried: files and bytes sent from local files (a test's way to see
    // that a renamed folder costs no upload, whatever the backend counts for its server-side moves).
    struct Uploads {
        uint64_t files = 0;
        uint64_t bytes = 0;
    };
    void countUpload(uint64_t bytes);
    Uploads uploads() const;

private:
    RemoteSession() = default;

    std::unique_ptr<RcloneDaemon> daemon_;
    std::unique_ptr<RcClient> client_;
    std::mutex mutex_;
    std::map<std::string, RemoteFsInfo> fsInfo_; // under mutex_
    std::atomic<uint64_t> lines_{0};
    std::atomic<uint64_t> uploadedFiles_{0};
    std::atomic<uint64_t> uploadedBytes_{0};
};

// The configured remotes of the user's rclone configuration (names without ":"), sorted, for the
// window's drop-down; a daemon is started for the question when no session lives.
RcResult listConfiguredRemotes(std::vector<std::string>& names);

} // namespace paritas

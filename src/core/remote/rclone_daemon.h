#pragma once
// rclone's remote-control daemon ("rclone rcd"), run as a child of Paritas for one run.
//
// Started on 127.0.0.1 with a port of the system's choosing (rclone 1.60 has no unix-socket
// listener); the port is read from the line it logs, "Serving remote control on
// http://127.0.0.1:NNNN/". It always asks for a user and password: fresh random ones (getrandom),
// given to it only in its environment (RCLONE_RC_USER, RCLONE_RC_PASS), never on its command line,
// which every user of the machine can read in /proc.
//
// Its environment is this process's, less every RCLONE_* variable (an RCLONE_DRY_RUN or
// RCLONE_COPY_LINKS of the user's shell would change what every call does) except the
// RCLONE_CONFIG* ones (the configuration file, its password, remotes defined in the environment),
// plus:
//   RCLONE_CONFIG       the configuration file, when the options name one
//   RCLONE_CONFIG_PASS  the encrypted configuration's password, when the options give one (it is
//                       never written to a file, a log or a command line)
//   RCLONE_ASK_PASSWORD=false   never prompt (stdin is /dev/null): a missing or wrong password
//                       makes rclone end, and start() says so with kRcloneConfigPassword
//   RCLONE_SFTP_SKIP_LINKS=true SFTP listings leave out symbolic links and special files (without
//                       it a link to /etc lists as a folder and is walked into). Measured with 1.60:
//                       this environment variable wins over "skip_links = false" in the file (and,
//                       in rclone's documented order, yields only to a connection-string parameter
//                       such as "nas,skip_links=false:", which a user would have to write).
//   RCLONE_LOCAL_COPY_LINKS=false, RCLONE_LOCAL_LINKS=false, RCLONE_LOCAL_SKIP_LINKS=true
//                       local listings leave links out, quietly, whatever the file says
//
// start() returns once the daemon answers and has read its configuration (config/listremotes), so
// that a configuration problem shows at once, not at the first remote call.
//
// The process never outlives the object, nor Paritas (child_process.h: PR_SET_PDEATHSIG). stop() asks
// it to quit (core/quit), then sends SIGTERM, then SIGKILL, each after a bounded wait.
//
// Thread-safe.

#include "core/remote/child_process.h"
#include "core/remote/rc_client.h"
#include "core/remote/remote_failure.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace paritas {

struct RcloneDaemonOptions {
    std::string rcloneProgram = "rclone"; // a path, or a name looked up in PATH
    // Empty: RCLONE_CONFIG of the environment when set, else rclone's own default
    // (~/.config/rclone/rclone.conf).
    std::string configPath;
    // The encrypted configuration's password, as the window asked for it once. Empty:
    // RCLONE_CONFIG_PASS of the environment, when set.
    std::string configPassword;
    std::chrono::milliseconds startTimeout{std::chrono::seconds(20)};
    std::chrono::milliseconds stopTimeout{std::chrono::seconds(3)};
    // "NAME=value" set last in the daemon's environment (tests; RCLONE_* variables included).
    std::vector<std::string> extraEnvironment;
};

class RcloneDaemon {
public:
    // Starts the daemon. On failure returns nullptr and fills failure:
    //   kRcloneMissing         no rclone program ("install rclone (apt install rclone)")
    //   kRcloneConfigPassword  the configuration is encrypted and the password is missing or wrong
    //   kRcloneStartFailed     it ended or did not serve within startTimeout (its last words kept)
    static std::unique_ptr<RcloneDaemon> start(RcloneDaemonOptions options, RcResult& failure);
    ~RcloneDaemon(); // stop()
    RcloneDaemon(const RcloneDaemon&) = delete;
    RcloneDaemon& operator=(const RcloneDaemon&) = delete;

    const RcEndpoint& endpoint() const { return endpoint_; }
    pid_t pid() const { return process_->pid(); }
    bool running() const { return process_->running(); }
    // Why the daemon is gone, for reason lines: "rclone ended (killed by signal 9 (SIGKILL)); it last
    // said: ..."; empty while it runs.
    std::string endReason() const;
    // rclone's last log lines, oldest first.
    std::vector<std::string> recentLog() const { return process_->recentOutput(); }
    // Ends the daemon and returns when it is gone: asks it by core/quit, waits quitWait for it to go,
    // sends SIGTERM, waits stopTimeout, sends SIGKILL. Idempotent. rclone ends 1.7 s after core/quit
    // (measured: a delay of its own); SIGTERM makes it run the same exit handlers at once (exit code
    // 143), so stop(0ms) ends it in about 60 ms when nothing needs the grace.
    void stop(std::chrono::milliseconds quitWait);
    void stop() { stop(stopTimeout_); }

private:
    RcloneDaemon() = default;
    RcEndpoint endpoint_;
    std::chrono::milliseconds stopTimeout_{};
    std::unique_ptr<ChildProcess> process_;
};

} // namespace paritas

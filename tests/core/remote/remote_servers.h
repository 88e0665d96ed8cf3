#pragma once
// Servers for remote-location tests, each on 127.0.0.1 and a port read back (never a fixed one):
//   RcloneServer   `rclone serve sftp` or `rclone serve webdav` over a folder (the port the system
//                  chose, read from rclone's log line)
//   OpenSshServer  OpenSSH's sshd with its own configuration, a generated host key and user key
//                  (needs root and /usr/sbin/sshd; a free port found by binding port 0, retried when
//                  taken meanwhile)
// and the test's own rclone daemon. Each tells why when it cannot start, for GTEST_SKIP.

#include "core/remote/child_process.h"
#include "core/remote/rclone_daemon.h"

#include <memory>
#include <string>
#include <vector>

namespace paritas::test {

// rclone's path, or empty when it is not installed.
std::string rcloneProgram();
// The environment of a tool started by a test: PATH, HOME and TMPDIR of this process, no RCLONE_*.
std::vector<std::string> toolEnvironment();
// Runs a program to its end and returns its output (empty on failure).
std::string runTool(std::vector<std::string> arguments, int* exitCode = nullptr);

class RcloneServer {
public:
    enum class Kind { Sftp, WebDav };
    // Serves `folder` (an absolute path) until the object ends or kill(); keys and configuration go
    // to workFolder.
    RcloneServer(Kind kind, const std::string& folder, const std::string& workFolder);
    bool started() const { return process_ != nullptr && port_ > 0; }
    const std::string& failure() const { return failure_; }
    int port() const { return port_; }
    // The rclone fs of the served folder's root.
    const std::string& fs() const { return fs_; }
    void kill();

private:
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
    std::string fs_;
    std::string failure_;
};

class OpenSshServer {
public:
    // Logs in as root with a key, serving the whole file system; `workFolder` holds keys and config.
    explicit OpenSshServer(const std::string& workFolder);
    bool started() const { return process_ != nullptr; }
    const std::string& failure() const { return failure_; }
    // The fs of the server's "/": an absolute path below it is the path without its leading "/".
    const std::string& fs() const { return fs_; }
    void kill();

private:
    std::unique_ptr<ChildProcess> process_;
    std::string fs_;
    std::string failure_;
};

// A daemon for one test, with an empty configuration of its own; nullptr and a reason when rclone is
// missing or does not start.
std::unique_ptr<RcloneDaemon> startTestDaemon(const std::string& workFolder, std::string& failure,
                                              std::vector<std::string> extraEnvironment = {});

// Process ids of running processes whose command line starts with "rclone rcd" and whose environment
// names this configuration file (the test daemons' own).
std::vector<pid_t> rcdProcessesUsing(const std::string& configPath);
// True when the process has gone (or is a zombie nobody has reaped yet).
bool processGone(pid_t pid);

} // namespace paritas::test

#pragma once
// Whole runs (lock, scans, plan, actions) with a remote location as B, on each backend the tests can
// reach without a network: rclone's :memory: and :local: backends, `rclone serve sftp` and `rclone
// serve webdav` over a temporary folder, and OpenSSH's sshd (as root), each on 127.0.0.1.

#include "core/app/run.h"
#include "core/remote/remote_location.h"
#include "core/remote/remote_session.h"

#include "remote_servers.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace paritas::test {

enum class Backend { Memory, Local, RcloneSftp, RcloneWebDav, OpenSsh };
std::string backendName(Backend backend);

// The host of a test's runs: every log line kept (and shown to onLine as it comes), no prompts.
class RemoteRunHost final : public RunHost, public ScanHost, public PlannerHost, public ExecutorHost {
public:
    std::vector<std::string> lines;
    Settings settingsValue;
    int workers = 4;
    std::function<void(const std::string&)> onLine;
    StopFlags* runFlags = nullptr; // the flags of the run under way (runOnce), for a test's stop
    std::function<void()> onKeepAlive;

    RemoteRunHost();
    void log(std::string_view line) override;
    ScanHost& scanHost(Side) override { return *this; }
    PlannerHost& plannerHost() override { return *this; }
    Settings settings() override { return settingsValue; }
    int copyWorkers() override { return workers; }
    void keepAlive() override {
        if (onKeepAlive)
            onKeepAlive();
    }
};

struct RunOutcome {
    bool planned = false;
    std::optional<RunRefusal> refusal;
    ExecutionCounts counts;
    std::vector<std::string> lines;
    std::size_t actions = 0;
    // The lines that say something failed, with the line after each (its reason), for messages.
    std::string failures() const;
};

// One run of `kind` from A to B, as the command line makes it.
RunOutcome runOnce(PlanKind kind, const std::string& a, const std::string& b, const Settings& settings,
                   RemoteRunHost& host);
RunOutcome runOnce(PlanKind kind, const std::string& a, const std::string& b, const Settings& settings = {});

// Settings of an unattended run: no prompts, size and name as criteria.
Settings unattended();

// Sessions of this test process use rclone from the machine and an empty configuration of their own
// in `workFolder`. Empty when rclone can be run, else why not.
std::string configureTestSessions(const std::string& workFolder);

// A place on one backend for one test: its location text, and (except for :memory:) the folder on this
// machine's disk that it shows.
class BackendPlace {
public:
    BackendPlace(Backend backend, TempTree& work, const std::string& name);
    ~BackendPlace();
    const std::string& skipReason() const { return skip_; }
    // The location text of the folder `relative` (ending with "/") of the place.
    std::string location(const std::string& relative) const;
    // The folder on disk behind location(relative); empty for :memory:.
    std::string disk(const std::string& relative) const;
    bool onDisk() const { return backend_ != Backend::Memory; }
    // Kills the server (sftp, webdav, OpenSSH); false for backends that have none.
    bool killServer();
    // Starts it again on the same folder (its port, and so the location texts, change).
    bool restartServer();
    Backend backend() const { return backend_; }

private:
    Backend backend_;
    TempTree& work_;
    std::string served_; // the folder the server serves (absolute, ending with "/")
    std::string fs_;     // the fs of the served folder's root; for :local: and OpenSSH the root "/"
    std::unique_ptr<RcloneServer> rclone_;
    std::unique_ptr<OpenSshServer> openssh_;
    std::string skip_;
    void start();
};

// Every file below a folder on disk as "path size content-hash" lines, in path order, leaving out the
// versions folder and temporary files of copies; folders as "path/".
std::string contentLines(const std::string& folder);
// The same for a location read through rclone (names and sizes only: "path size").
std::string remoteSizes(RemoteLocation& location);
std::string localSizes(const std::string& folder);

// A test on each backend: its own work folder and a place there ("served"), skipped with the reason
// where rclone or the backend cannot be had. Suites add their own fields and set up after this.
class OnBackend : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    TempTree work;
    std::unique_ptr<BackendPlace> place;
};

// The backend's name as a test's name ends ("Backends/Suite.Test/RcloneSftp").
std::string backendParamName(const ::testing::TestParamInfo<Backend>& info);

} // namespace paritas::test

#include "remote_run_support.h"

#include "core/platform/file_copy.h"
#include "core/platform/versions_folder.h"
#include "core/remote/remote_ops.h"

#include <chrono>
#include <fstream>
#include <sstream>

namespace paritas::test {

namespace {

bool leftOut(const std::string& path) {
    if (path.rfind(kVersionsFolderName, 0) == 0)
        return true;
    const std::size_t slash = path.rfind('/', path.size() > 1 ? path.size() - 2 : 0);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.rfind(kCopyTempPrefix, 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp";
}

} // namespace

std::string backendName(Backend backend) {
    switch (backend) {
    case Backend::Memory:
        return "Memory";
    case Backend::Local:
        return "Local";
    case Backend::RcloneSftp:
        return "RcloneSftp";
    case Backend::RcloneWebDav:
        return "RcloneWebDav";
    case Backend::OpenSsh:
        return "OpenSshSftp";
    }
    return "Unknown";
}

RemoteRunHost::RemoteRunHost() : settingsValue(unattended()) {}

void RemoteRunHost::log(std::string_view line) {
    lines.emplace_back(line);
    if (onLine)
        onLine(lines.back());
}

std::string RunOutcome::failures() const {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind("Failed", 0) == 0 || lines[i].rfind("Reason: ", 0) == 0)
            text += lines[i] + "\n";
    return text;
}

Settings unattended() {
    Settings settings;
    settings.CheckBoxConfirm = false;
    settings.CheckCopy = settings.CheckCreate = settings.CheckDelete = false;
    return settings;
}

RunOutcome runOnce(PlanKind kind, const std::string& a, const std::string& b, const Settings& settings,
                   RemoteRunHost& host) {
    RunRequest request;
    request.kind = kind;
    request.locationA = a;
    request.locationB = b;
    request.settings = settings;
    host.settingsValue = settings;
    RunSession session(std::move(request));
    RunOutcome outcome;
    outcome.planned = session.prepare(host);
    if (!outcome.planned) {
        outcome.refusal = session.refusal();
        outcome.lines = host.lines;
        return outcome;
    }
    outcome.actions = session.actions().size();
    StopFlags flags;
    host.runFlags = &flags;
    outcome.counts = session.execute(host, flags);
    host.runFlags = nullptr;
    outcome.refusal = session.refusal();
    outcome.lines = host.lines;
    return outcome;
}

RunOutcome runOnce(PlanKind kind, const std::string& a, const std::string& b, const Settings& settings) {
    RemoteRunHost host;
    return runOnce(kind, a, b, settings, host);
}

std::string configureTestSessions(const std::string& workFolder) {
    const std::string rclone = rcloneProgram();
    if (rclone.empty())
        return "rclone is not installed (apt-get install rclone)";
    std::ofstream(workFolder + "rclone.conf").flush();
    RemoteSessionOptions options;
    options.daemon.rcloneProgram = rclone;
    options.daemon.configPath = workFolder + "rclone.conf";
    options.daemon.stopTimeout = std::chrono::seconds(3);
    RemoteSession::configure(options);
    return {};
}

BackendPlace::BackendPlace(Backend backend, TempTree& work, const std::string& name)
    : backend_(backend), work_(work) {
    if (backend_ != Backend::Memory) {
        work_.folder(name);
        served_ = work_.path(name) + "/";
    } else {
        served_ = name + "/";
    }
    start();
}

BackendPlace::~BackendPlace() = default;

void BackendPlace::start() {
    switch (backend_) {
    case Backend::Memory:
        fs_ = ":memory:";
        return;
    case Backend::Local:
        fs_ = ":local:/";
        return;
    case Backend::RcloneSftp:
    case Backend::RcloneWebDav:
        rclone_ = std::make_unique<RcloneServer>(backend_ == Backend::RcloneSftp ? RcloneServer::Kind::Sftp
                                                                                 : RcloneServer::Kind::WebDav,
                                                 served_.substr(0, served_.size() - 1), work_.root());
        if (!rclone_->started())
            skip_ = rclone_->failure();
        fs_ = rclone_->fs();
        return;
    case Backend::OpenSsh: {
        const std::string keys = "ssh-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        work_.folder(keys);
        openssh_ = std::make_unique<OpenSshServer>(work_.path(keys));
        if (!openssh_->started())
            skip_ = openssh_->failure();
        fs_ = openssh_->fs();
        return;
    }
    }
}

std::string BackendPlace::location(const std::string& relative) const {
    switch (backend_) {
    case Backend::Memory:
        return fs_ + served_ + relative;
    case Backend::Local:
    case Backend::OpenSsh:
        return fs_ + served_.substr(1) + relative;
    case Backend::RcloneSftp:
    case Backend::RcloneWebDav:
        break;
    }
    return fs_ + relative;
}

std::string BackendPlace::disk(const std::string& relative) const {
    return onDisk() ? served_ + relative : std::string();
}

bool BackendPlace::killServer() {
    if (rclone_) {
        rclone_->kill();
        return true;
    }
    if (openssh_) {
        openssh_->kill();
        return true;
    }
    return false;
}

bool BackendPlace::restartServer() {
    rclone_.reset();
    openssh_.reset();
    skip_.clear();
    start();
    return skip_.empty();
}

std::string contentLines(const std::string& folder) {
    SnapshotOptions options;
    options.modes = false;
    std::ostringstream text;
    for (const auto& [path, state] : snapshotTree(folder, options)) {
        if (leftOut(path))
            continue;
        if (state.type == NodeState::Type::Folder)
            text << path << "\n";
        else
            text << path << " " << state.size << " " << std::hex << state.contentHash << std::dec << "\n";
    }
    return text.str();
}

std::string localSizes(const std::string& folder) {
    SnapshotOptions options;
    options.modes = false;
    std::ostringstream text;
    for (const auto& [path, state] : snapshotTree(folder, options)) {
        if (leftOut(path))
            continue;
        if (state.type == NodeState::Type::Folder)
            text << path << "\n";
        else
            text << path << " " << state.size << "\n";
    }
    return text.str();
}

std::string remoteSizes(RemoteLocation& location) {
    std::vector<RemoteEntry> entries;
    if (const RcResult listed = remote::listTree(location.session().client(), location.root(), entries); !listed)
        return "<" + describe(listed) + ">";
    std::ostringstream text;
    for (const RemoteEntry& entry : entries) {
        const std::string path = entry.name + (entry.isFolder ? "/" : "");
        if (leftOut(path))
            continue;
        if (entry.isFolder)
            text << path << "\n";
        else
            text << path << " " << entry.size << "\n";
    }
    return text.str();
}

void OnBackend::SetUp() {
    if (const std::string why = configureTestSessions(work.root()); !why.empty())
        GTEST_SKIP() << why;
    place = std::make_unique<BackendPlace>(GetParam(), work, "served");
    if (!place->skipReason().empty())
        GTEST_SKIP() << place->skipReason();
}

std::string backendParamName(const ::testing::TestParamInfo<Backend>& info) {
    return backendName(info.param);
}

} // namespace paritas::test

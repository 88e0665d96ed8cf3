#include "core/remote/remote_session.h"

#include <chrono>

namespace paritas {

namespace {

struct Registry {
    std::mutex mutex;
    std::weak_ptr<RemoteSession> live;
    RemoteSessionOptions options;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

void wipe(std::string& secret) {
    volatile char* bytes = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i)
        bytes[i] = 0;
    secret.clear();
}

} // namespace

RemoteSessionOptions::RemoteSessionOptions() {
    // Scans list many folders at once and copies run on a pool: enough calls under way for both.
    client.maxCallsUnderWay = 32;
}

std::shared_ptr<RemoteSession> RemoteSession::acquire(RcResult& failure) {
    failure = {};
    registerRemoteFailureTexts();
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (std::shared_ptr<RemoteSession> session = r.live.lock(); session && session->daemon_->running())
        return session;
    std::shared_ptr<RemoteSession> session(new RemoteSession);
    session->daemon_ = RcloneDaemon::start(r.options.daemon, failure);
    if (!session->daemon_)
        return nullptr;
    session->client_ = std::make_unique<RcClient>(session->daemon_->endpoint(), r.options.client,
                                                  session->daemon_.get());
    r.live = session;
    return session;
}

void RemoteSession::configure(RemoteSessionOptions options) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.options = std::move(options);
}

RemoteSessionOptions RemoteSession::configured() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.options;
}

void RemoteSession::setConfigPassword(std::string password) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    wipe(r.options.daemon.configPassword);
    r.options.daemon.configPassword = std::move(password);
}

void RemoteSession::endAll() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (std::shared_ptr<RemoteSession> session = r.live.lock())
        session->daemon_->stop(std::chrono::milliseconds(0));
}

pid_t RemoteSession::livePid() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const std::shared_ptr<RemoteSession> session = r.live.lock();
    return session && session->daemon_->running() ? session->daemon_->pid() : 0;
}

RemoteSession::~RemoteSession() {
    client_.reset();
    // Nothing is under way when the last location lets go: rclone's own delay after core/quit (1.7 s)
    // is not waited out, SIGTERM follows at once.
    if (daemon_)
        daemon_->stop(std::chrono::milliseconds(0));
}

RcResult RemoteSession::fsInfo(const std::string& fs, RemoteFsInfo& info) {
    {
        std::lock_guard lock(mutex_);
        if (const auto known = fsInfo_.find(fs); known != fsInfo_.end()) {
            info = known->second;
            return {};
        }
    }
    if (RcResult asked = remote::fsInfo(*client_, fs, info); !asked)
        return asked;
    std::lock_guard lock(mutex_);
    fsInfo_.emplace(fs, info);
    return {};
}

std::string RemoteSession::lineGroup() {
    return "paritas." + std::to_string(++lines_);
}

void RemoteSession::countUpload(uint64_t bytes) {
    ++uploadedFiles_;
    uploadedBytes_ += bytes;
}

RemoteSession::Uploads RemoteSession::uploads() const {
    return Uploads{uploadedFiles_.load(), uploadedBytes_.load()};
}

RcResult listConfiguredRemotes(std::vector<std::string>& names) {
    names.clear();
    RcResult failure;
    const std::shared_ptr<RemoteSession> session = RemoteSession::acquire(failure);
    if (!session)
        return failure;
    return remote::listRemotes(session->client(), names);
}

} // namespace paritas

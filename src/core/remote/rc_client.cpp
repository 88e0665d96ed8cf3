#include "core/remote/rc_client.h"

#include "core/remote/rclone_daemon.h"
#include "core/remote/remote_path.h"

#include <algorithm>
#include <cerrno>
#include <curl/curl.h>
#include <mutex>

namespace paritas {

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t appendReply(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// The remotes an input names ("fs", "srcFs", "dstFs"), as remoteKey()s; local paths name none.
std::vector<std::string> remotesOf(const nlohmann::json& input) {
    std::vector<std::string> keys;
    for (const char* field : {"fs", "srcFs", "dstFs"}) {
        const auto it = input.find(field);
        if (it == input.end() || !it->is_string())
            continue;
        std::string key = remoteKey(it->get_ref<const std::string&>());
        if (!key.empty())
            keys.push_back(std::move(key));
    }
    return keys;
}

long long nanoseconds(std::chrono::seconds value) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(value).count();
}

} // namespace

std::string remoteKey(std::string_view fs) {
    const ParsedLocation parsed = parseLocation(fs);
    if (parsed.kind != LocationKind::Remote)
        return {};
    std::string key = parsed.remote.fs;
    if (!key.empty() && key.back() == '/')
        key.pop_back();
    return key;
}

RcClient::RcClient(RcEndpoint endpoint, RcClientOptions options, const RcloneDaemon* daemon)
    : endpoint_(std::move(endpoint)), options_(options), daemon_(daemon),
      urlPrefix_("http://127.0.0.1:" + std::to_string(endpoint_.port) + "/") {
    options_.maxCallsUnderWay = std::max<std::size_t>(options_.maxCallsUnderWay, 1);
    initialiseCurlOnce();
}

RcClient::~RcClient() {
    for (void* handle : idleHandles_)
        curl_easy_cleanup(static_cast<CURL*>(handle));
}

void* RcClient::takeHandle() {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [this] { return underWay_ < options_.maxCallsUnderWay; });
    ++underWay_;
    ++callsMade_;
    mostUnderWay_ = std::max(mostUnderWay_, underWay_);
    if (!idleHandles_.empty()) {
        void* handle = idleHandles_.back();
        idleHandles_.pop_back();
        return handle;
    }
    lock.unlock();
    return curl_easy_init();
}

void RcClient::giveBack(void* handle) {
    {
        std::lock_guard lock(mutex_);
        --underWay_;
        if (handle)
            idleHandles_.push_back(handle);
    }
    turn_.notify_one();
}

std::size_t RcClient::callsUnderWay() const {
    std::lock_guard lock(mutex_);
    return underWay_;
}

uint64_t RcClient::callsOf(std::string_view method) const {
    std::lock_guard lock(mutex_);
    const auto found = callsByMethod_.find(std::string(method));
    return found == callsByMethod_.end() ? 0 : found->second;
}

uint64_t RcClient::callsMade() const {
    std::lock_guard lock(mutex_);
    return callsMade_;
}

std::size_t RcClient::mostCallsUnderWay() const {
    std::lock_guard lock(mutex_);
    return mostUnderWay_;
}

void RcClient::resetLostConnections() {
    std::lock_guard lock(mutex_);
    lostConnections_.clear();
}

RcResult RcClient::transportFailure(int curlCode, const char* detail) const {
    if (daemon_ && !daemon_->running())
        return RcResult::failure(kRcloneStopped, daemon_->endReason());
    std::string words = curl_easy_strerror(static_cast<CURLcode>(curlCode));
    if (detail && *detail)
        words += std::string(" (") + detail + ")";
    if (curlCode == CURLE_OPERATION_TIMEDOUT)
        return RcResult::failure(kRemoteTimeout, "no answer from rclone in time: " + words);
    return RcResult::failure(kRcloneStopped, "no answer from rclone: " + words);
}

RcResult RcClient::call(std::string_view method, nlohmann::json input, nlohmann::json& reply,
                        const RcCallOptions& options) {
    reply = nlohmann::json::object();
    if (daemon_ && !daemon_->running())
        return RcResult::failure(kRcloneStopped, daemon_->endReason());
    const std::vector<std::string> remotes = remotesOf(input);
    {
        std::lock_guard lock(mutex_);
        ++callsByMethod_[std::string(method)];
        for (const std::string& key : remotes) {
            const auto lost = lostConnections_.find(key);
            if (lost != lostConnections_.end())
                return lost->second;
        }
    }

    nlohmann::json config = {{"LowLevelRetries", options_.lowLevelRetries},
                             {"ConnectTimeout", nanoseconds(options_.remoteConnectTimeout)},
                             {"Timeout", nanoseconds(options_.remoteIdleTimeout)}};
    config.update(options.config);
    input["_config"] = std::move(config);
    if (!options.group.empty())
        input["_group"] = options.group;
    std::string body;
    try {
        body = input.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::type_error&) {
        return RcResult::failure(EILSEQ,
                                 "a name is not UTF-8 text, which rclone's remote control cannot carry");
    }

    const std::string url = urlPrefix_ + std::string(method);
    std::string answer;
    char curlError[CURL_ERROR_SIZE] = {0};
    long status = 0;
    CURL* handle = static_cast<CURL*>(takeHandle());
    if (!handle) {
        giveBack(nullptr);
        return RcResult::failure(ENOMEM, "libcurl could not make a handle");
    }
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_reset(handle);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROXY, ""); // never through a proxy of the environment
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(handle, CURLOPT_USERNAME, endpoint_.user.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, endpoint_.password.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS,
                     options.movesFileData ? 0L : static_cast<long>(options_.callTimeout.count()));
    const CURLcode outcome = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
    curl_slist_free_all(headers);
    giveBack(handle);

    if (outcome != CURLE_OK)
        return transportFailure(outcome, curlError);
    nlohmann::json parsed = nlohmann::json::parse(answer, nullptr, false);
    const int httpStatus = static_cast<int>(status);
    if (status == 200) {
        if (!parsed.is_object())
            return RcResult::failure(kRemoteFailed, "rclone's answer is no JSON object", httpStatus);
        reply = std::move(parsed);
        return {};
    }
    std::string text;
    if (parsed.is_object() && parsed.contains("error") && parsed["error"].is_string())
        text = parsed["error"].get<std::string>();
    else
        text = "HTTP status " + std::to_string(status) + (answer.empty() ? "" : ": " + answer.substr(0, 200));
    RcResult failure = RcResult::failure(classifyRcloneError(httpStatus, text), text, httpStatus);
    if (failure.error == kRemoteConnectionLost) {
        std::lock_guard lock(mutex_);
        for (const std::string& key : remotes)
            lostConnections_.emplace(key, failure);
    }
    return failure;
}

} // namespace paritas

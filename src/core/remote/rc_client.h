#pragma once
// Calls to rclone's remote control (the daemon of rclone_daemon.h): JSON posted over HTTP on 127.0.0.1
// with basic authentication, one call per method ("operations/list", "operations/copyfile", ...).
//
// Every call carries
//   _config {"LowLevelRetries":2, "ConnectTimeout":..., "Timeout":...}  rclone retries a refused
//       connection ten times by default, which costs 11 s per call (measured with 1.60 on a closed
//       port: 11.3 s; with LowLevelRetries 2: 0.27 s); the timeouts bound a server that stops
//       answering without closing the connection;
//   _group "<tag>"   the action line the call belongs to, so that core/stats counts its bytes apart.
// A caller may add to _config for one call (IgnoreExisting for uploads). rclone ignores fields of
// _config it does not know without a word, so only names listed by "rclone rc options/get" go there.
//
// At most maxCallsUnderWay calls are under way at once (rclone's remote control has no limit of its
// own: every request starts its work at once); further callers wait their turn. Connections to the
// daemon are kept alive, one per call under way at most.
//
// Failures (remote_failure.h): rclone's answer keeps its HTTP status and error text, with a code
// where the text allows. No answer at all is kRcloneStopped (with the daemon's end when it ended) or
// kRemoteTimeout. Once a remote's server could not be reached (kRemoteConnectionLost), every later
// call on that remote fails at once with the same reason, without asking rclone again, until
// resetLostConnections(): a run whose server has gone ends its remaining lines in moments, not in
// a connection timeout each.
//
// Thread-safe: call() may be made from any number of threads at once.

#include "core/remote/remote_failure.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

class RcloneDaemon;

// Where the daemon listens and how to sign in.
struct RcEndpoint {
    int port = 0; // on 127.0.0.1
    std::string user;
    std::string password;
};

struct RcClientOptions {
    std::size_t maxCallsUnderWay = 8;
    // Reaching the daemon on 127.0.0.1: a refusal is immediate, so this only bounds a stopped one.
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(5)};
    // The longest a call that moves no file data may take (lists, stats, folder changes); copies and
    // moves of files have no limit of ours (they take as long as their bytes do) and rely on rclone's
    // remoteIdleTimeout instead.
    std::chrono::milliseconds callTimeout{std::chrono::minutes(10)};
    int lowLevelRetries = 2;
    std::chrono::seconds remoteConnectTimeout{15}; // rclone's ConnectTimeout to the server
    std::chrono::seconds remoteIdleTimeout{120};   // rclone's Timeout: no byte moved for that long
};

struct RcCallOptions {
    std::string group;                                // rc's _group: the action line's tag
    nlohmann::json config = nlohmann::json::object(); // more fields of _config for this call
    bool movesFileData = false;                       // no callTimeout (copies and moves of files)
};

class RcClient {
public:
    // daemon, when given, explains calls that find nobody answering (it must outlive the client).
    explicit RcClient(RcEndpoint endpoint, RcClientOptions options = {},
                      const RcloneDaemon* daemon = nullptr);
    ~RcClient();
    RcClient(const RcClient&) = delete;
    RcClient& operator=(const RcClient&) = delete;

    // Posts input (an object; _config and _group are added) to method. On success reply holds rclone's
    // answer (an object); on failure it is left empty.
    RcResult call(std::string_view method, nlohmann::json input, nlohmann::json& reply,
                  const RcCallOptions& options = {});

    // Forgets the remotes found unreachable, so that the next call on them asks rclone again.
    void resetLostConnections();
    std::size_t callsUnderWay() const;
    // The calls that reached the daemon since the client was made (what a run costs in round trips).
    uint64_t callsMade() const;
    // The calls of one method asked for since the client was made (those a lost connection answered
    // at once included).
    uint64_t callsOf(std::string_view method) const;
    // The most calls that were under way at once since the client was made.
    std::size_t mostCallsUnderWay() const;
    const RcClientOptions& options() const { return options_; }

private:
    void* takeHandle();
    void giveBack(void* handle);
    RcResult transportFailure(int curlCode, const char* detail) const;

    RcEndpoint endpoint_;
    RcClientOptions options_;
    const RcloneDaemon* daemon_;
    std::string urlPrefix_;
    mutable std::mutex mutex_;
    std::condition_variable turn_;
    std::size_t underWay_ = 0;
    std::size_t mostUnderWay_ = 0;
    uint64_t callsMade_ = 0;
    std::map<std::string, uint64_t> callsByMethod_; // under mutex_
    std::vector<void*> idleHandles_;
    std::map<std::string, RcResult> lostConnections_; // by remote (remoteKey of rc_client.cpp)
};

// The part of an fs that names the remote itself (its name or backend and parameters, without the
// path): calls on "nas:/a" and "nas:b" reach the same server.
std::string remoteKey(std::string_view fs);

} // namespace paritas

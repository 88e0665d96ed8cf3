#include "core/remote/rclone_daemon.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <sys/random.h>
#include <unistd.h>

extern char** environ;

namespace paritas {

namespace {

constexpr std::string_view kServingLine = "Serving remote control on http://127.0.0.1:";

// 32 hexadecimal digits from the kernel's random source.
std::string randomSecret() {
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        got += static_cast<std::size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

void wipe(std::string& secret) {
    volatile char* bytes = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i)
        bytes[i] = 0;
    secret.clear();
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::string> daemonEnvironment(const RcloneDaemonOptions& options, const RcEndpoint& endpoint) {
    std::vector<std::string> environment;
    for (char** variable = environ; variable && *variable; ++variable) {
        const std::string_view text = *variable;
        if (startsWith(text, "RCLONE_") && !startsWith(text, "RCLONE_CONFIG"))
            continue;
        if (startsWith(text, "RCLONE_CONFIG=") && !options.configPath.empty())
            continue;
        if (startsWith(text, "RCLONE_CONFIG_PASS=") && !options.configPassword.empty())
            continue;
        environment.emplace_back(text);
    }
    if (!options.configPath.empty())
        environment.push_back("RCLONE_CONFIG=" + options.configPath);
    if (!options.configPassword.empty())
        environment.push_back("RCLONE_CONFIG_PASS=" + options.configPassword);
    environment.push_back("RCLONE_RC_USER=" + endpoint.user);
    environment.push_back("RCLONE_RC_PASS=" + endpoint.password);
    for (const char* fixed :
         {"RCLONE_ASK_PASSWORD=false", "RCLONE_SFTP_SKIP_LINKS=true", "RCLONE_LOCAL_COPY_LINKS=false",
          "RCLONE_LOCAL_LINKS=false", "RCLONE_LOCAL_SKIP_LINKS=true"})
        environment.emplace_back(fixed);
    for (const std::string& extra : options.extraEnvironment)
        environment.push_back(extra);
    return environment;
}

std::string lastWords(const std::vector<std::string>& lines, std::size_t count = 3) {
    std::string text;
    for (std::size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        text += (text.empty() ? "" : " | ") + lines[i];
    return text;
}

bool mentionsConfigPassword(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (line.find("RCLONE_CONFIG_PASS") != std::string::npos ||
            line.find("decrypt configuration") != std::string::npos ||
            line.find("configuration password") != std::string::npos)
            return true;
    }
    return false;
}

int portOf(std::string_view line) {
    const std::size_t at = line.find(kServingLine);
    if (at == std::string_view::npos)
        return 0;
    const std::string_view digits = line.substr(at + kServingLine.size());
    int port = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return error == std::errc() && port > 0 && port < 65536 ? port : 0;
}

} // namespace

std::unique_ptr<RcloneDaemon> RcloneDaemon::start(RcloneDaemonOptions options, RcResult& failure) {
    failure = {};
    std::unique_ptr<RcloneDaemon> daemon(new RcloneDaemon);
    daemon->stopTimeout_ = options.stopTimeout;
    daemon->endpoint_.user = randomSecret();
    daemon->endpoint_.password = randomSecret();
    if (daemon->endpoint_.user.empty() || daemon->endpoint_.password.empty()) {
        failure =
            RcResult::failure(kRcloneStartFailed, "no random numbers for the remote control's password");
        return nullptr;
    }

    ChildProcessOptions child;
    // The server's timeouts bound a whole request, answer included: a copy longer than rclone's
    // default hour would lose its answer.
    child.arguments = {options.rcloneProgram,
                       "rcd",
                       "--rc-addr",
                       "127.0.0.1:0",
                       "--rc-server-read-timeout",
                       "10000h",
                       "--rc-server-write-timeout",
                       "10000h",
                       "--log-level",
                       "NOTICE"};
    child.environment = daemonEnvironment(options, daemon->endpoint_);
    wipe(options.configPassword); // ChildProcess wipes the environment's copy once rclone runs
    int error = 0;
    daemon->process_ = ChildProcess::start(std::move(child), error);
    if (!daemon->process_) {
        failure =
            error == ENOENT
                ? RcResult::failure(kRcloneMissing, "no program \"" + options.rcloneProgram + "\" was found")
                : RcResult::failure(kRcloneStartFailed,
                                    "rclone could not be run: " + std::string(std::strerror(error)));
        return nullptr;
    }

    const auto serving = daemon->process_->waitForLine(
        [](std::string_view line) { return portOf(line) != 0; }, options.startTimeout);
    if (!serving) {
        const bool ended = !daemon->running();
        const std::vector<std::string> log = daemon->recentLog();
        daemon->process_->terminate(options.stopTimeout);
        failure = RcResult::failure(
            kRcloneStartFailed,
            ended ? "rclone rcd ended (" + daemon->process_->endDescription() + "): " + lastWords(log)
                  : "rclone rcd did not start serving within " +
                        std::to_string(
                            std::chrono::duration_cast<std::chrono::seconds>(options.startTimeout).count()) +
                        " s" + (log.empty() ? "" : ": " + lastWords(log)));
        return nullptr;
    }
    daemon->endpoint_.port = portOf(*serving);

    RcClientOptions probeOptions;
    probeOptions.maxCallsUnderWay = 1;
    probeOptions.callTimeout = options.startTimeout;
    RcClient probe(daemon->endpoint_, probeOptions, nullptr);
    nlohmann::json reply;
    const RcResult probed = probe.call("config/listremotes", nlohmann::json::object(), reply);
    if (!probed.ok()) {
        daemon->process_->waitForEnd(std::chrono::milliseconds(500));
        const std::vector<std::string> log = daemon->recentLog();
        daemon->process_->terminate(options.stopTimeout);
        failure = mentionsConfigPassword(log)
                      ? RcResult::failure(kRcloneConfigPassword, lastWords(log, 2))
                      : RcResult::failure(kRcloneStartFailed,
                                          describe(probed) +
                                              (log.empty() ? "" : "; rclone said: " + lastWords(log)));
        return nullptr;
    }
    return daemon;
}

RcloneDaemon::~RcloneDaemon() {
    stop();
}

std::string RcloneDaemon::endReason() const {
    if (process_->running())
        return {};
    const std::vector<std::string> log = process_->recentOutput();
    return "rclone ended (" + process_->endDescription() + ")" +
           (log.empty() ? std::string() : "; it last said: " + lastWords(log));
}

void RcloneDaemon::stop(std::chrono::milliseconds quitWait) {
    if (!process_)
        return;
    if (process_->running()) {
        RcClientOptions quitOptions;
        quitOptions.maxCallsUnderWay = 1;
        quitOptions.callTimeout = stopTimeout_;
        quitOptions.connectTimeout = stopTimeout_;
        RcClient quitter(endpoint_, quitOptions, nullptr);
        nlohmann::json reply;
        quitter.call("core/quit", nlohmann::json::object(), reply);
        process_->waitForEnd(quitWait);
    }
    process_->terminate(stopTimeout_);
}

} // namespace paritas

#include "remote_servers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas::test {

namespace {

using namespace std::chrono_literals;

std::string environmentValue(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

int trailingPort(std::string_view line, std::string_view after) {
    const std::size_t at = line.find(after);
    if (at == std::string_view::npos)
        return 0;
    const std::string_view digits = line.substr(at + after.size());
    int port = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return port;
}

std::string lastLines(const ChildProcess& process) {
    std::string text;
    for (const std::string& line : process.recentOutput())
        text += line + "\n";
    return text;
}

// A port nobody listens on now (the system's choice for port 0); another may take it before use.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool makeKey(const std::string& path) {
    int code = -1;
    runTool({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", path}, &code);
    return code == 0;
}

// A file of /proc, read whole; empty when the process has gone meanwhile (reading then fails with
// ESRCH, which a stream turns into an exception). Other programs' processes come and go while the
// tests look through /proc.
std::string procFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0)
                text.clear();
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

// The processes whose parent is `parent`, and theirs.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        const std::string text = procFile("/proc/" + std::string(entry->d_name) + "/stat");
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(text.substr(close + 2));
        char state = 0;
        pid_t parentOfIt = 0;
        fields >> state >> parentOfIt;
        if (parentOfIt == parent) {
            found.push_back(pid);
            for (const pid_t grandchild : childrenOf(pid))
                found.push_back(grandchild);
        }
    }
    if (proc)
        ::closedir(proc);
    return found;
}

} // namespace

std::string rcloneProgram() {
    for (const char* folder : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        const std::string path = std::string(folder) + "rclone";
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

std::vector<std::string> toolEnvironment() {
    return {"PATH=" + environmentValue("PATH", "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"),
            "HOME=" + environmentValue("HOME", "/root"), "TMPDIR=" + environmentValue("TMPDIR", "/tmp"),
            "TZ=UTC", "LC_ALL=C"};
}

std::string runTool(std::vector<std::string> arguments, int* exitCode) {
    ChildProcessOptions options;
    options.arguments = std::move(arguments);
    options.environment = toolEnvironment();
    int error = 0;
    auto process = ChildProcess::start(std::move(options), error);
    if (!process) {
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    process->waitForEnd(60s);
    process->terminate(1s);
    if (exitCode)
        *exitCode = process->exitCode();
    std::string text;
    for (const std::string& line : process->recentOutput())
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

RcloneServer::RcloneServer(Kind kind, const std::string& folder, const std::string& workFolder) {
    const std::string rclone = rcloneProgram();
    if (rclone.empty()) {
        failure_ = "rclone is not installed (apt-get install rclone)";
        return;
    }
    ChildProcessOptions options;
    options.environment = toolEnvironment();
    options.environment.push_back("RCLONE_CONFIG=" + workFolder + "/server-rclone.conf");
    if (kind == Kind::Sftp) {
        const std::string password = "paritas-test";
        const std::string obscured = runTool({rclone, "obscure", password});
        if (obscured.empty()) {
            failure_ = "rclone obscure failed";
            return;
        }
        options.arguments = {rclone,   "serve",   "sftp",   folder,   "--addr",           "127.0.0.1:0",
                             "--user", "paritas", "--pass", password, "--dir-cache-time", "0s"};
        const std::string hostKey = workFolder + "/sftp_host_key";
        if (makeKey(hostKey))
            options.arguments.insert(options.arguments.end(), {"--key", hostKey});
        else // rclone makes keys of its own in its cache folder
            options.arguments.insert(options.arguments.end(), {"--cache-dir", workFolder});
        int error = 0;
        process_ = ChildProcess::start(std::move(options), error);
        const auto line =
            process_
                ? process_->waitForLine(
                      [](std::string_view l) { return trailingPort(l, "listening on 127.0.0.1:") > 0; }, 20s)
                : std::nullopt;
        if (!line) {
            failure_ =
                "rclone serve sftp did not start: " + (process_ ? lastLines(*process_) : std::string());
            process_.reset();
            return;
        }
        port_ = trailingPort(*line, "listening on 127.0.0.1:");
        fs_ = ":sftp,host=127.0.0.1,port=" + std::to_string(port_) + ",user=paritas,pass=" + obscured + ":";
        return;
    }
    options.arguments = {rclone,   "serve",       "webdav",           folder,
                         "--addr", "127.0.0.1:0", "--dir-cache-time", "0s"};
    int error = 0;
    process_ = ChildProcess::start(std::move(options), error);
    const auto line =
        process_
            ? process_->waitForLine(
                  [](std::string_view l) { return trailingPort(l, "started on http://127.0.0.1:") > 0; }, 20s)
            : std::nullopt;
    if (!line) {
        failure_ = "rclone serve webdav did not start: " + (process_ ? lastLines(*process_) : std::string());
        process_.reset();
        return;
    }
    port_ = trailingPort(*line, "started on http://127.0.0.1:");
    fs_ = ":webdav,url='http://127.0.0.1:" + std::to_string(port_) + "/':";
}

void RcloneServer::kill() {
    if (process_) {
        process_->signal(SIGKILL);
        process_->waitForEnd(10s);
    }
}

OpenSshServer::OpenSshServer(const std::string& workFolder) {
    const std::string sshd = "/usr/sbin/sshd";
    if (::geteuid() != 0) {
        failure_ = "OpenSSH's sshd needs root to serve a login";
        return;
    }
    if (::access(sshd.c_str(), X_OK) != 0) {
        failure_ = "sshd is not installed (apt-get install openssh-server)";
        return;
    }
    const std::string hostKey = workFolder + "/host_key";
    const std::string userKey = workFolder + "/user_key";
    if (!makeKey(hostKey) || !makeKey(userKey)) {
        failure_ = "ssh-keygen failed (apt-get install openssh-client)";
        return;
    }
    {
        std::ifstream in(userKey + ".pub");
        std::ofstream out(workFolder + "/authorized_keys");
        out << in.rdbuf();
    }
    ::chmod((workFolder + "/authorized_keys").c_str(), 0600);
    ::mkdir("/run/sshd", 0755); // the privilege-separation folder sshd insists on
    for (int attempt = 0; attempt < 5 && !process_; ++attempt) {
        const int port = freePort();
        const std::string config = workFolder + "/sshd_config";
        {
            std::ofstream out(config);
            out << "Port " << port << "\nListenAddress 127.0.0.1\nHostKey " << hostKey
                << "\nAuthorizedKeysFile " << workFolder << "/authorized_keys\nPidFile none\nUsePAM no\n"
                << "StrictModes no\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                << "KbdInteractiveAuthentication no\nSubsystem sftp internal-sftp\n"
                // rclone runs md5sum and sha1sum through the login's shell, which would read the
                // machine's own startup files for root; one that waits (a tool's hook taking a lock)
                // stalled every such command until rclone's timeout. The login's home is this folder.
                << "SetEnv HOME=" << workFolder << "\n";
        }
        ChildProcessOptions options;
        options.arguments = {sshd, "-D", "-e", "-f", config};
        options.environment = toolEnvironment();
        int error = 0;
        process_ = ChildProcess::start(std::move(options), error);
        const auto line = process_ ? process_->waitForLine(
                                         [](std::string_view l) {
                                             return l.find("Server listening on") != std::string_view::npos;
                                         },
                                         10s)
                                   : std::nullopt;
        if (!line) {
            failure_ = "sshd did not start: " + (process_ ? lastLines(*process_) : std::string());
            process_.reset();
            continue;
        }
        failure_.clear();
        fs_ = ":sftp,host=127.0.0.1,port=" + std::to_string(port) + ",user=root,key_file='" + userKey + "':/";
    }
}

void OpenSshServer::kill() {
    if (!process_)
        return;
    // sshd serves each login from a child of its own, which outlives the listener: the server is
    // gone only with them.
    for (const pid_t child : childrenOf(process_->pid()))
        ::kill(child, SIGKILL);
    process_->signal(SIGKILL);
    process_->waitForEnd(10s);
}

std::unique_ptr<RcloneDaemon> startTestDaemon(const std::string& workFolder, std::string& failure,
                                              std::vector<std::string> extraEnvironment) {
    const std::string rclone = rcloneProgram();
    if (rclone.empty()) {
        failure = "rclone is not installed (apt-get install rclone)";
        return nullptr;
    }
    RcloneDaemonOptions options;
    options.rcloneProgram = rclone;
    options.configPath = workFolder + "/rclone.conf";
    options.extraEnvironment = std::move(extraEnvironment);
    RcResult result;
    auto daemon = RcloneDaemon::start(options, result);
    if (!daemon)
        failure = describe(result);
    return daemon;
}

std::vector<pid_t> rcdProcessesUsing(const std::string& configPath) {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    const std::string wanted = "RCLONE_CONFIG=" + configPath;
    while (dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || processGone(pid))
            continue;
        const std::string command = procFile("/proc/" + std::string(entry->d_name) + "/cmdline");
        const bool isRclone = command.rfind("rclone", 0) == 0 || command.find("/rclone") != std::string::npos;
        if (!isRclone || command.find(std::string("rcd\0", 4)) == std::string::npos)
            continue;
        const std::string variables = procFile("/proc/" + std::string(entry->d_name) + "/environ");
        if (variables.find(wanted + std::string(1, '\0')) != std::string::npos)
            found.push_back(pid);
    }
    ::closedir(proc);
    return found;
}

bool processGone(pid_t pid) {
    const std::string text = procFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z' ||
           text[close + 2] == 'X';
}

} // namespace paritas::test

#include "support/cli_runner.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace paritas::test {
namespace {

[[noreturn]] void childFails(const char* what) {
    (void)!::write(STDERR_FILENO, what, std::char_traits<char>::length(what));
    ::_exit(127);
}

void runChild(const std::vector<std::string>& args, const CliRun& how, int outFd, int errFd) {
    const int nullIn = ::open("/dev/null", O_RDONLY);
    if (nullIn < 0 || ::dup2(nullIn, STDIN_FILENO) < 0 || ::dup2(outFd, STDOUT_FILENO) < 0 ||
        ::dup2(errFd, STDERR_FILENO) < 0)
        childFails("cannot set up the standard streams\n");
    if (!how.workingFolder.empty() && ::chdir(how.workingFolder.c_str()) != 0)
        childFails("cannot enter the working folder\n");
    if (how.asNobody && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
        childFails("cannot become nobody\n");
    ::unsetenv("LANG");
    ::unsetenv("LC_TIME");
    ::setenv("LC_ALL", "C", 1);
    ::setenv("TZ", "UTC", 1);
    for (const auto& [name, value] : how.environment)
        ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(PARITAS_CLI_PATH));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(PARITAS_CLI_PATH, argv.data());
    childFails("cannot run paritas-cli\n");
}

// Reads both streams until each ends (a pseudo-terminal ends with EIO once the child has closed it),
// signalling the child once its stdout holds the awaited text.
void readBoth(int outFd, int errFd, CliResult& result, const CliRun& how, pid_t child) {
    bool signalled = how.signalAfter.empty();
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("poll failed");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
                if (!signalled && result.out.find(how.signalAfter) != std::string::npos) {
                    ::kill(child, how.signal);
                    signalled = true;
                }
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

} // namespace

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> CliResult::outLines() const {
    return splitLines(out);
}
std::vector<std::string> CliResult::errLines() const {
    return splitLines(err);
}

CliRun inFolder(std::string folder) {
    CliRun how;
    how.workingFolder = std::move(folder);
    return how;
}

CliRun withStderrTerminal() {
    CliRun how;
    how.stderrTerminal = true;
    return how;
}

CliRun withStdoutTo(StdoutTo to) {
    CliRun how;
    how.stdoutTo = to;
    return how;
}

CliRun withEnvironment(std::string name, std::string value) {
    CliRun how;
    how.environment.emplace_back(std::move(name), std::move(value));
    return how;
}

CliResult runCli(const std::vector<std::string>& args, const CliRun& how) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (how.stderrTerminal) {
        if (::openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        ::fcntl(err[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else if (::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (how.stdoutTo == StdoutTo::FullDevice) {
        ::close(out[1]);
        out[1] = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    } else if (how.stdoutTo == StdoutTo::ClosedPipe) {
        ::close(out[0]);
        out[0] = ::open("/dev/null", O_RDONLY | O_CLOEXEC); // ends at once
    }
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0)
        runChild(args, how, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    CliResult result;
    readBoth(out[0], err[0], result, how, child);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace paritas::test

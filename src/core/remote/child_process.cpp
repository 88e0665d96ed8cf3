#include "core/remote/child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace paritas {

namespace {

constexpr std::size_t kLongestLine = 64 * 1024;

bool isExecutableFile(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : std::string();
    const char* pathVariable = std::getenv("PATH");
    std::string_view folders = pathVariable && *pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
        if (colon == std::string_view::npos)
            return {};
        folders.remove_prefix(colon + 1);
    }
}

// A descriptor at 3 or above (so that dup2 onto 0-2 in the child never clobbers another), close-on-exec.
int aboveStandard(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

struct ChildSetup {
    const char* program;
    char* const* argv;
    char* const* envp;
    int input;
    int output;
    int failure;
    pid_t parent;
    int highestFd;
};

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void becomeChild(const ChildSetup& setup) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != setup.parent)
        ::_exit(127);
    ::setpgid(0, 0);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number)
        ::sigaction(number, &byDefault, nullptr); // ignored signals would stay ignored across exec
    if (::dup2(setup.input, 0) < 0 || ::dup2(setup.output, 1) < 0 || ::dup2(setup.output, 2) < 0)
        ::_exit(127);
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd <= setup.highestFd; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::execve(setup.program, setup.argv, setup.envp);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(setup.failure, &error, sizeof error);
    ::_exit(127);
}

void wipe(std::vector<std::string>& texts) {
    for (std::string& text : texts) {
        volatile char* bytes = text.data();
        for (std::size_t i = 0; i < text.size(); ++i)
            bytes[i] = 0;
    }
    texts.clear();
}

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(ChildProcessOptions options, int& error) {
    error = 0;
    if (options.arguments.empty()) {
        error = EINVAL;
        return nullptr;
    }
    const std::string program = findProgram(options.arguments[0]);
    if (program.empty()) {
        error = ENOENT;
        return nullptr;
    }
    int output[2];
    int failure[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        error = errno;
        return nullptr;
    }
    if (::pipe2(failure, O_CLOEXEC) != 0) {
        error = errno;
        ::close(output[0]);
        ::close(output[1]);
        return nullptr;
    }
    const int input = aboveStandard(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    for (int* fd : {&output[0], &output[1], &failure[0], &failure[1]})
        *fd = aboveStandard(*fd);

    std::vector<char*> argv;
    for (std::string& argument : options.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : options.environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    std::unique_ptr<ChildProcess> child(new ChildProcess);
    child->keptLines_ = std::max<std::size_t>(options.keptLines, 1);
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const ChildSetup setup{
        program.c_str(), argv.data(), envp.data(), input,
        output[1],       failure[1],  ::getpid(),  static_cast<int>(std::clamp(openMax, 1024L, 65536L))};
    std::mutex startMutex;
    std::condition_variable started;
    bool reported = false;
    int startError = 0;
    ChildProcess* self = child.get();
    child->watcher_ = std::thread([&, self] {
        const pid_t pid = ::fork();
        if (pid == 0)
            becomeChild(setup);
        const int forkError = pid < 0 ? errno : 0;
        ::close(output[1]);
        ::close(failure[1]);
        if (input >= 0)
            ::close(input);
        int execError = forkError;
        if (pid > 0) {
            int received = 0;
            ssize_t n;
            while ((n = ::read(failure[0], &received, sizeof received)) < 0 && errno == EINTR) {
            }
            if (n == static_cast<ssize_t>(sizeof received))
                execError = received;
        }
        ::close(failure[0]);
        const int outputFd = output[0];
        {
            // Notified under the lock: once it is released start() may return and end `started`.
            std::lock_guard lock(startMutex);
            self->pid_ = pid;
            startError = execError;
            reported = true;
            started.notify_one();
        }
        // From here on nothing of start()'s frame is touched: it may have returned.
        if (pid > 0)
            self->watch(outputFd);
        else
            ::close(outputFd);
    });
    {
        std::unique_lock lock(startMutex);
        started.wait(lock, [&] { return reported; });
    }
    wipe(options.environment);
    if (startError != 0) {
        error = startError;
        child->watcher_.join(); // a child that failed to exec has ended and been reaped
        return nullptr;
    }
    return child;
}

void ChildProcess::keepLine(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
    if (lines_.size() > keptLines_)
        lines_.pop_front();
    ++linesSeen_;
    changed_.notify_all();
}

void ChildProcess::watch(int outputFd) {
    std::string partial;
    char buffer[8192];
    bool outputClosed = false;
    auto readSome = [&](int waitMs) {
        pollfd ready{outputFd, POLLIN, 0};
        const int r = ::poll(&ready, 1, waitMs);
        if (r <= 0)
            return false;
        const ssize_t n = ::read(outputFd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n == 0 || (errno != EINTR && errno != EAGAIN))
                outputClosed = true;
            return false;
        }
        partial.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = partial.find('\n')) != std::string::npos || partial.size() > kLongestLine) {
            const std::size_t cut = end == std::string::npos ? kLongestLine : end;
            std::string line = partial.substr(0, cut);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            partial.erase(0, end == std::string::npos ? cut : cut + 1);
            keepLine(std::move(line));
        }
        return true;
    };
    siginfo_t info{};
    for (;;) {
        if (!outputClosed)
            readSome(100);
        // WNOWAIT: the child stays a zombie, its id unused, until ended_ is set under the lock.
        info = {};
        const int flags = WEXITED | WNOWAIT | (outputClosed ? 0 : WNOHANG);
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, flags) == 0 && info.si_pid == pid_)
            break;
        if (errno == ECHILD)
            break;
    }
    while (!outputClosed && readSome(0)) {
    }
    ::close(outputFd);
    if (!partial.empty())
        keepLine(std::move(partial));
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        if (info.si_code == CLD_EXITED)
            exitCode_ = info.si_status;
        else
            endSignal_ = info.si_status;
    }
    changed_.notify_all();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

ChildProcess::~ChildProcess() {
    terminate(std::chrono::seconds(2));
}

bool ChildProcess::running() const {
    std::lock_guard lock(mutex_);
    return !ended_;
}

std::optional<std::string> ChildProcess::waitForLine(const std::function<bool(std::string_view)>& match,
                                                     std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    uint64_t next = linesSeen_ - lines_.size();
    auto scan = [&]() -> std::optional<std::string> {
        const uint64_t firstKept = linesSeen_ - lines_.size();
        for (next = std::max(next, firstKept); next < linesSeen_; ++next) {
            const std::string& line = lines_[static_cast<std::size_t>(next - firstKept)];
            if (match(line))
                return line;
        }
        return std::nullopt;
    };
    for (;;) {
        if (auto line = scan())
            return line;
        if (ended_)
            return std::nullopt;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout)
            return scan();
    }
}

bool ChildProcess::waitForEnd(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return ended_; });
}

bool ChildProcess::signal(int number) {
    std::lock_guard lock(mutex_);
    if (ended_)
        return false;
    return ::kill(pid_, number) == 0;
}

void ChildProcess::terminate(std::chrono::milliseconds grace) {
    if (signal(SIGTERM) && !waitForEnd(grace))
        signal(SIGKILL);
    std::lock_guard lock(joinMutex_);
    if (watcher_.joinable())
        watcher_.join();
}

std::string ChildProcess::endDescription() const {
    std::lock_guard lock(mutex_);
    if (!ended_)
        return {};
    if (exitCode_ >= 0)
        return "exit code " + std::to_string(exitCode_);
    const char* name = ::sigabbrev_np(endSignal_);
    return "killed by signal " + std::to_string(endSignal_) + (name ? std::string(" (SIG") + name + ")" : "");
}

int ChildProcess::exitCode() const {
    std::lock_guard lock(mutex_);
    return ended_ ? exitCode_ : -1;
}

std::vector<std::string> ChildProcess::recentOutput() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
}

} // namespace paritas

#pragma once
// A program run as a child of this process, for as long as the object lives.
//
//   start ──► [watcher thread: fork/exec, read the child's output, reap it] ──► ended
//                │                                                         ▲
//                └─ waitForLine / signal / terminate (any thread) ─────────┘
//
// The child is started by a thread of its own that stays until the child is reaped, because Linux
// ties PR_SET_PDEATHSIG to the thread that forked: the child gets SIGKILL when that thread, and so when
// this process, ends in any way (SIGKILL of Paritas included). The child runs in a process group of its
// own (Ctrl-C on the terminal reaches Paritas, which ends it in order), with stdin on /dev/null, stdout
// and stderr on one pipe that the watcher drains (a child that logs much never blocks), and no other
// descriptor of this process (every one is marked close-on-exec in the child before exec). Arguments
// and environment are given whole: nothing is inherited that the caller did not pass, and the copies
// of the environment held here are wiped once the child has been started (it may hold secrets).
//
// Signals are sent only while the child has not been reaped, so that a recycled process id never
// receives one. Thread-safe: every member may be called from any thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace paritas {

struct ChildProcessOptions {
    // arguments[0] names the program: a path with "/", or a name looked up in PATH (the PATH of this
    // process, else /usr/local/bin:/usr/bin:/bin).
    std::vector<std::string> arguments;
    // The child's whole environment, "NAME=value" each.
    std::vector<std::string> environment;
    // Lines of output kept for waitForLine and recentOutput (the oldest go first).
    std::size_t keptLines = 200;
};

class ChildProcess {
public:
    // Starts the program. On failure returns nullptr and sets error to an errno (ENOENT: no such
    // program; the errno of fork or exec otherwise).
    static std::unique_ptr<ChildProcess> start(ChildProcessOptions options, int& error);
    // terminate(2 s): the child never outlives the object.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // False once the child has ended (it may not be reaped yet).
    bool running() const;
    // The first kept or later line of output (stdout and stderr, without the line end) for which
    // `match` is true; nullopt when the child ends or the time runs out first.
    std::optional<std::string> waitForLine(const std::function<bool(std::string_view)>& match,
                                           std::chrono::milliseconds timeout) const;
    // True when the child has ended within the time.
    bool waitForEnd(std::chrono::milliseconds timeout) const;
    // Sends a signal while the child has not ended; false when it has.
    bool signal(int number);
    // SIGTERM, `grace` to end, then SIGKILL; returns once the child has been reaped.
    void terminate(std::chrono::milliseconds grace);
    // How the child ended: "exit code 2", "killed by signal 9"; empty while it runs.
    std::string endDescription() const;
    // The exit code when the child exited, -1 otherwise (running, or ended by a signal).
    int exitCode() const;
    // The last lines of output, oldest first.
    std::vector<std::string> recentOutput() const;

private:
    ChildProcess() = default;
    void watch(int outputFd);
    void keepLine(std::string line);

    pid_t pid_ = -1;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::string> lines_;
    uint64_t linesSeen_ = 0; // lines ever kept, so that waiters see lines pushed out meanwhile
    std::size_t keptLines_ = 200;
    bool ended_ = false;
    int exitCode_ = -1; // when it exited
    int endSignal_ = 0; // when a signal ended it
    std::mutex joinMutex_;
    std::thread watcher_;
};

} // namespace paritas

#pragma once
// Work done as a user without root's privileges. Tests run as root in CI, where permission bits do not
// stop reading, so the work runs in a child process that has given up root for the "nobody" account
// and hands back a text. When the tests already run as an ordinary user, the work runs in place.

#include <functional>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace paritas::test {

inline constexpr uid_t kNobody = 65534;

struct ChildOutcome {
    std::string text;    // what the work returned
    std::string failure; // empty when the child ran the work and ended normally
};

inline ChildOutcome asNobody(const std::function<std::string()>& work) {
    if (::geteuid() != 0)
        return {work(), {}};
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {{}, "pipe failed"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        std::string text;
        int code = 0;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
            ::geteuid() == 0) {
            code = 3;
        } else {
            text = work();
        }
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(pipeEnds[1], text.data() + written, text.size() - written);
            if (n <= 0)
                break;
            written += static_cast<std::size_t>(n);
        }
        ::_exit(code);
    }
    ::close(pipeEnds[1]);
    ChildOutcome outcome;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        outcome.text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        outcome.failure =
            WIFEXITED(status) && WEXITSTATUS(status) == 3 ? "could not drop privileges" : "child failed";
    return outcome;
}

} // namespace paritas::test

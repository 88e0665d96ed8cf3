#pragma once
// Runs the built paritas-cli as a child process and captures what it says: stdout and stderr apart,
// and the exit status. The child always runs with TZ=UTC and LC_ALL=C, so that date texts are fixed.

#include <string>
#include <utility>
#include <vector>

namespace paritas::test {

struct CliResult {
    std::string out;
    std::string err;
    int status = -1; // the exit status; 128 + signal number when killed by a signal

    std::vector<std::string> outLines() const;
    std::vector<std::string> errLines() const;
};

// Where the child's stdout goes: captured, a device that is always full, or a pipe nobody reads.
enum class StdoutTo { Captured, FullDevice, ClosedPipe };

struct CliRun {
    std::string workingFolder;   // empty: the test's own
    bool stderrTerminal = false; // stderr is a pseudo-terminal instead of a pipe
    StdoutTo stdoutTo = StdoutTo::Captured;
    std::vector<std::pair<std::string, std::string>> environment; // set after TZ and LC_ALL
    bool asNobody = false; // the program runs as the "nobody" account (when the tests run as root)
    // Sends `signal` to the program as soon as its stdout holds `signalAfter` (never when empty).
    std::string signalAfter;
    int signal = 0;
};

CliResult runCli(const std::vector<std::string>& args, const CliRun& how = {});

// Shorthands for the one change a test makes to the defaults.
CliRun inFolder(std::string folder);
CliRun withStderrTerminal();
CliRun withStdoutTo(StdoutTo to);
CliRun withEnvironment(std::string name, std::string value);

// The lines of a text split at "\n" (a last line without one counts too).
std::vector<std::string> splitLines(const std::string& text);

} // namespace paritas::test

#include "core/remote/child_process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace paritas;
using namespace std::chrono_literals;

namespace {

std::unique_ptr<ChildProcess> startShell(const std::string& script,
                                         std::vector<std::string> environment = {"A=1"}) {
    ChildProcessOptions options;
    options.arguments = {"/bin/sh", "-c", script};
    options.environment = std::move(environment);
    int error = 0;
    auto child = ChildProcess::start(std::move(options), error);
    EXPECT_NE(child, nullptr) << error;
    return child;
}

bool contains(const std::vector<std::string>& lines, const std::string& wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

} // namespace

TEST(ChildProcess, KeepsOutputLinesOfStdoutAndStderrAndTheExitCode) {
    auto child = startShell("echo first; echo second >&2; printf 'no end'; exit 3");
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->waitForEnd(10s));
    EXPECT_FALSE(child->running());
    EXPECT_EQ(child->exitCode(), 3);
    EXPECT_EQ(child->endDescription(), "exit code 3");
    EXPECT_EQ(child->recentOutput(), (std::vector<std::string>{"first", "second", "no end"}));
}

TEST(ChildProcess, WaitsForAMatchingLineOrGivesUp) {
    auto child = startShell("echo one; sleep 0.2; echo 'port 4711'; sleep 30");
    ASSERT_TRUE(child);
    const auto line = child->waitForLine([](std::string_view l) { return l.rfind("port ", 0) == 0; }, 10s);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "port 4711");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child->waitForLine([](std::string_view l) { return l == "never"; }, 300ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    child->terminate(2s);
    EXPECT_FALSE(child->running());
    EXPECT_EQ(child->endDescription(), "killed by signal 15 (SIGTERM)");
}

TEST(ChildProcess, AWaitForALineEndsWhenTheChildEnds) {
    auto child = startShell("exit 0");
    ASSERT_TRUE(child);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child->waitForLine([](std::string_view) { return false; }, 20s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(ChildProcess, KillsAChildThatIgnoresSigtermAfterTheGrace) {
    auto child = startShell("trap '' TERM; echo ready; while :; do sleep 0.05; done");
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->waitForLine([](std::string_view l) { return l == "ready"; }, 10s));
    const pid_t pid = child->pid();
    const auto start = std::chrono::steady_clock::now();
    child->terminate(300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(child->endDescription(), "killed by signal 9 (SIGKILL)");
    EXPECT_FALSE(child->signal(SIGTERM)) << "no signal once the child has ended";
    EXPECT_NE(::kill(pid, 0), 0) << "reaped, not left a zombie";
}

TEST(ChildProcess, GetsOnlyTheGivenEnvironmentAndNoDescriptorOfOurs) {
    const int ours =
        ::open("/dev/null", O_RDONLY); // not close-on-exec: must not reach the child all the same
    ASSERT_GE(ours, 0);
    ::setenv("PARITAS_NOT_FOR_CHILDREN", "1", 1);
    auto child = startShell("env; ls /proc/self/fd | tr '\\n' ' '; echo", {"ONLY=this"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->waitForEnd(10s));
    const std::vector<std::string> lines = child->recentOutput();
    EXPECT_TRUE(contains(lines, "ONLY=this"));
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("PARITAS_NOT_FOR_CHILDREN"), std::string::npos) << line;
    // 0, 1, 2, and the descriptor ls opened to read the folder.
    EXPECT_TRUE(contains(lines, "0 1 2 3 ")) << lines.back();
    ::close(ours);
    ::unsetenv("PARITAS_NOT_FOR_CHILDREN");
}

TEST(ChildProcess, StartsInAProcessGroupOfItsOwnWithStdinOnDevNull) {
    auto child = startShell("cut -d' ' -f5 /proc/$$/stat; readlink /proc/self/fd/0", {"PATH=/usr/bin:/bin"});
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->waitForEnd(10s));
    const std::vector<std::string> lines = child->recentOutput();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::to_string(child->pid()));
    EXPECT_EQ(lines[1], "/dev/null");
}

TEST(ChildProcess, AMissingProgramFailsWithEnoent) {
    ChildProcessOptions options;
    options.arguments = {"paritas-no-such-program"};
    int error = 0;
    EXPECT_EQ(ChildProcess::start(options, error), nullptr);
    EXPECT_EQ(error, ENOENT);
    options.arguments = {"/nonexistent/program"};
    EXPECT_EQ(ChildProcess::start(options, error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

// The command line's part in keeping data safe: a run that could not see or carry everything says so
// and fails (exit 1) without losing anything, a location that cannot be read is refused (exit 3), and
// SIGINT or SIGTERM cancel the copy under way, keep the old file and end the run (exit 130 / 143).

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas::test {
namespace {

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

CliRun asNobody() {
    CliRun how;
    how.asNobody = true;
    return how;
}

TEST(CliSafety, WhatCouldNotBeSeenOrCarriedFailsTheRunAndLosesNothing) {
    struct Case {
        std::vector<std::string> command; // "A" and "B" stand for the locations
        const char* lock;                 // a folder made unreadable for the run, or nullptr
        int status;
        const char* said; // on stdout or stderr
    };
    const Case cases[] = {
        {{"sync", "backup", "A", "B"}, "A/priv", 1, "Left alone: "},
        {{"sync", "synch", "A", "B"}, "B/priv", 1, "Left alone: "},
        {{"plan", "backup", "A", "B"}, "A/priv", 1, "Cannot read folder "},
        {{"scan", "A"}, "A/priv", 1, "Cannot read folder "},
        {{"sync", "backup", "A", "B"}, "A", 3, "cannot be read"},
        {{"sync", "backup", "A", "B"}, nullptr, 1, "Skipped name that cannot be carried: "},
    };
    for (const Case& c : cases) {
        TempTree tree("A/priv/s.txt = s\nA/priv/only-a.txt = a\nA/x.txt = x\nA/odd*name.txt = o\n"
                      "B/priv/s.txt = s\nB/priv/old.txt = o\nB/gone.txt = g\n",
                      "/tmp");
        tree.setMode("", 0755);
        tree.giveTo(65534, 65534);
        if (c.lock) {
            ASSERT_EQ(::chown(tree.path(c.lock).c_str(), 0, 0), 0);
            tree.setMode(c.lock, 0000);
        }
        const TreeSnapshot priv = snapshotTree(tree.path("B/priv"));
        std::vector<std::string> args;
        for (const std::string& word : c.command)
            args.push_back(word == "A" || word == "B" ? tree.path(word) : word);
        const CliResult result = runCli(args, asNobody());
        if (c.lock)
            tree.setMode(c.lock, 0755);
        const std::string what = c.command[0] + " " + (c.lock ? c.lock : "odd name");
        EXPECT_EQ(result.status, c.status) << what << "\n" << result.out << result.err;
        EXPECT_TRUE(mentions(result.out + result.err, c.said)) << what << "\n" << result.out << result.err;
        if (c.lock) {
            EXPECT_EQ(snapshotDifferences(priv, snapshotTree(tree.path("B/priv"))), "") << what;
        }
        EXPECT_EQ(tree.read("A/odd*name.txt"), "o");
    }
}

// One copy at a time (--threads 1): the copy under way is cancelled, keeps the old file, and nothing
// after it runs. Copies on a pool: each copy either finished before the signal was noticed or was
// cancelled and kept the old file; none begins after it, and nothing partial is left either way.
TEST(CliSafety, AnInterruptedRunCancelsTheCopyKeepsTheOldFileAndEnds) {
    constexpr int64_t kBig = int64_t(96) << 20; // still being copied when the signal comes
    for (const int signal : {SIGINT, SIGTERM}) {
        for (const std::string threads : {"1", "4"}) {
            TempTree tree("B/big.bin = the old version\nB/z-last.txt = stays too\n");
            tree.sizedFile("A/big.bin", kBig);
            tree.file("A/z-last.txt", "would be copied after big.bin");
            CliRun how;
            how.signalAfter = "Actions Started at ";
            how.signal = signal;
            const CliResult result =
                runCli({"sync", "backup", "--threads", threads, tree.path("A"), tree.path("B")}, how);
            const std::string what = "threads " + threads + "\n" + result.out;
            EXPECT_EQ(result.status, 128 + signal) << what << result.err;
            EXPECT_TRUE(mentions(result.out, "Interrupted by SIG")) << what;
            const auto big = snapshotTree(tree.path("B")).at("big.bin");
            const bool cancelled =
                mentions(result.out, "Failed Copy-File to " + tree.path("B/big.bin") + "\n");
            EXPECT_EQ(big.size, cancelled ? int64_t(std::string("the old version").size()) : kBig) << what;
            std::vector<std::string> names;
            for (const auto& [path, node] : snapshotTree(tree.path("B")))
                names.push_back(path);
            EXPECT_EQ(names, (std::vector<std::string>{"big.bin", "z-last.txt"}))
                << "nothing partial is left";
            if (threads == "1") {
                EXPECT_TRUE(cancelled) << what;
                EXPECT_FALSE(mentions(result.out, "Success Copy-File")) << "no action runs after the signal";
                EXPECT_EQ(tree.read("B/z-last.txt"), "stays too");
            }
        }
    }
}

} // namespace
} // namespace paritas::test

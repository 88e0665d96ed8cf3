// What a run tells at its end and while it goes: the good lines by what they did, the first failures
// with their reasons, whether a stop ended it, where removed files went, and the bytes of its copies
// as they are written. The windows and the command line show these and nothing else.

#include "support/sync_run.h"
#include "support/temp_tree.h"

#include "core/execution/copy_progress.h"

#include <gtest/gtest.h>

#include <functional>

using namespace paritas;
using namespace paritas::test;

namespace {

// Records the bytes the executor reports; `onKeepAlive` runs whenever it keeps the window alive.
class BytesHost : public SyncRecordingHost {
public:
    std::vector<std::pair<uint64_t, uint64_t>> bytes; // done, planned
    std::function<void()> onKeepAlive;
    std::function<void()> onBeforeLine;
    void beforeLine() override {
        if (onBeforeLine)
            onBeforeLine();
    }
    void setBytesProgress(uint64_t done, uint64_t planned) override { bytes.emplace_back(done, planned); }
    void keepAlive() override {
        if (onKeepAlive)
            onKeepAlive();
    }
};

// The reason logged right after the failure line `failure`, without its "Reason: ", or "".
std::string reasonAfter(const std::vector<std::string>& log, const std::string& failure) {
    for (std::size_t i = 0; i + 1 < log.size(); ++i)
        if (log[i] == failure && log[i + 1].rfind("Reason: ", 0) == 0)
            return log[i + 1].substr(8);
    return "";
}

uint64_t plannedCopyBytes(const PlanResult& plan) {
    uint64_t total = 0;
    for (const PlanItem& item : plan.actions)
        if (item.kind == ActionKind::Copy && item.facts.sourceKnown)
            total += uint64_t(item.facts.source.size);
    return total;
}

// A tree with every kind of line in a backup: new folders and copies of many sizes, a copy over an
// older file, a move, deletions and a folder removal.
std::string mixedTree() {
    std::string description = "A/kept.txt = same\nB/kept.txt = same\nA/photos/p.jpg = jpeg bytes\n"
                              "B/old/p.jpg = jpeg bytes\nB/stale.txt = stale\nB/gone/x.txt = x\n"
                              "A/report.txt = the new report @2026-03-01 10:00:00\n"
                              "B/report.txt = old report @2026-01-01 10:00:00\n";
    for (int f = 0; f < 30; ++f)
        description += "A/d" + std::to_string(f % 4) + "/f" + std::to_string(f) +
                       ".txt = " + std::string(std::size_t(f * 37 % 200 + 1), char('a' + f % 26)) + "\n";
    return description;
}

} // namespace

// For every tree and any number of copy workers: the kinds add up to the good lines, the bytes copied
// are the planned bytes, and the bytes reported climb from 0 to the planned total.
TEST(RunCounts, TheKindsAddUpAndTheBytesClimbToThePlannedTotal) {
    for (const int workers : {1, 4}) {
        SCOPED_TRACE("workers " + std::to_string(workers));
        TempTree tree(mixedTree());
        tree.sizedFile("A/big/large.bin", 3 * 1024 * 1024 + 17);
        Settings settings = quietSettings();
        settings.CheckTimeStamp = true;
        const SyncRun planned = syncOnce(0, tree.path("A/"), tree.path("B/"), settings, false);
        ASSERT_FALSE(planned.plan.refused);
        BytesHost host;
        host.settingsValue = settings;
        host.workers = workers;
        StopFlags flags;
        const ExecutionCounts counts = runPlanned(planned.plan, flags, host);

        EXPECT_EQ(counts.bad, 0);
        EXPECT_EQ(counts.created + counts.moved + counts.copied + counts.deleted + counts.removedFolders,
                  counts.good);
        EXPECT_EQ(counts.copied, 32); // 30 new files, the large one and the newer report
        EXPECT_EQ(counts.moved, 1);
        EXPECT_EQ(counts.deleted, 2);
        EXPECT_GE(counts.removedFolders, 2);
        EXPECT_EQ(counts.bytesCopied, plannedCopyBytes(planned.plan));
        EXPECT_FALSE(counts.stopped);
        EXPECT_TRUE(counts.firstFailures.empty());
        EXPECT_EQ(counts.keptAside, 0);
        EXPECT_EQ(counts.removedTo, RemovedFiles::Delete);

        ASSERT_FALSE(host.bytes.empty());
        EXPECT_EQ(host.bytes.front(), std::make_pair(uint64_t(0), plannedCopyBytes(planned.plan)));
        EXPECT_EQ(host.bytes.back().first, plannedCopyBytes(planned.plan));
        for (std::size_t i = 1; i < host.bytes.size(); ++i) {
            EXPECT_GE(host.bytes[i].first, host.bytes[i - 1].first) << "report " << i;
            EXPECT_EQ(host.bytes[i].second, host.bytes[0].second);
        }
    }
}

// The large file runs alone through the host's copy: its bytes show while it is written, not only at
// its end.
TEST(RunCounts, ALargeCopyReportsItsBytesWhileItIsWritten) {
    TempTree tree("A/\nB/\n");
    tree.sizedFile("A/large.bin", 4 * int64_t(kCopyChunkBytes));
    const SyncRun planned = syncOnce(2, tree.path("A/"), tree.path("B/"), quietSettings(), false);
    BytesHost host;
    host.settingsValue = quietSettings();
    StopFlags flags;
    runPlanned(planned.plan, flags, host);
    const uint64_t total = 4 * uint64_t(kCopyChunkBytes);
    int between = 0;
    for (const auto& [done, all] : host.bytes) {
        EXPECT_EQ(all, total);
        between += done > 0 && done < total;
    }
    EXPECT_GE(between, 2);
    EXPECT_EQ(host.bytes.back().first, total);
}

// A run without copies plans no bytes, and says so once.
TEST(RunCounts, ARunWithoutCopiesPlansNoBytes) {
    TempTree tree("A/\nB/stale.txt = s\n");
    const SyncRun planned = syncOnce(0, tree.path("A/"), tree.path("B/"), quietSettings(), false);
    BytesHost host;
    host.settingsValue = quietSettings();
    StopFlags flags;
    const ExecutionCounts counts = runPlanned(planned.plan, flags, host);
    EXPECT_EQ(counts.deleted, 1);
    EXPECT_EQ(host.bytes, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}}));
}

// Failed lines keep the first three failures with their reasons, in list order; a failed copy's bytes
// still count as handled, so a finished run reaches its total.
TEST(RunCounts, TheFirstThreeFailuresAreKeptWithTheirReasons) {
    TempTree tree("A/a.txt = a\nA/b.txt = b\nA/c.txt = c\nA/d.txt = d\nB/\n");
    const SyncRun planned = syncOnce(2, tree.path("A/"), tree.path("B/"), quietSettings(), false);
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        tree.remove(std::string("A/") + name); // gone while the plan waited
    BytesHost host;
    host.settingsValue = quietSettings();
    StopFlags flags;
    const ExecutionCounts counts = runPlanned(planned.plan, flags, host);
    EXPECT_EQ(counts.bad, 4);
    EXPECT_EQ(counts.copied, 0);
    ASSERT_EQ(counts.firstFailures.size(), ExecutionCounts::kFailuresKept);
    const std::string first = "Failed Copy-File to " + tree.path("B/a.txt");
    ASSERT_NE(reasonAfter(host.lines, first), "");
    EXPECT_EQ(counts.firstFailures[0], first + ": " + reasonAfter(host.lines, first));
    EXPECT_EQ(counts.firstFailures[2].rfind("Failed Copy-File to " + tree.path("B/c.txt") + ": ", 0), 0u);
    EXPECT_EQ(host.bytes.back().first, plannedCopyBytes(planned.plan));
}

// A stop ends the run early: it says it was stopped, and the bytes reported stay short of the total.
// The stop is pressed before the eleventh line: with workers, the copies handed over by then may all be
// done, but the lines after it are never reached.
TEST(RunCounts, AStoppedRunSaysSoAndItsBytesStayShortOfTheTotal) {
    for (const int workers : {1, 4}) {
        SCOPED_TRACE("workers " + std::to_string(workers));
        TempTree tree("A/\nB/\n");
        for (int f = 0; f < 20; ++f)
            tree.sizedFile("A/f" + std::to_string(f) + ".bin", 256 * 1024);
        const SyncRun planned = syncOnce(2, tree.path("A/"), tree.path("B/"), quietSettings(), false);
        BytesHost host;
        host.settingsValue = quietSettings();
        host.workers = workers;
        StopFlags flags;
        host.onBeforeLine = [&, lines = 0]() mutable {
            if (++lines == 11)
                interruptJobProcessing(flags, static_cast<ExecutorHost&>(host));
        };
        const ExecutionCounts counts = runPlanned(planned.plan, flags, host);
        EXPECT_TRUE(counts.stopped);
        EXPECT_GT(counts.notReached, 0);
        EXPECT_LT(host.bytes.back().first, plannedCopyBytes(planned.plan));
        EXPECT_EQ(host.bytes.back().first, counts.bytesCopied); // no copy failed: done is what was copied
    }
}

// Cancel stops one copy: what it wrote is thrown away, the bytes go back, and the run is not stopped.
// Cancel All stops the run as well.
TEST(RunCounts, ACancelledCopyTakesItsBytesBackAndOnlyCancelAllStopsTheRun) {
    for (const bool all : {false, true}) {
        SCOPED_TRACE(all ? "Cancel All" : "Cancel");
        TempTree tree("A/\nB/\nA/small.txt = small\n");
        tree.sizedFile("A/big.bin", 3 * int64_t(kCopyChunkBytes));
        const SyncRun planned = syncOnce(2, tree.path("A/"), tree.path("B/"), quietSettings(), false);
        struct CancellingHost : BytesHost {
            bool all = false;
            CopyResult copyWithProgress(CopyTask& copy, std::string_view name, StopFlags& flags) override {
                struct Window : CopyObserver {
                    CancellingHost& host;
                    StopFlags& flags;
                    bool press;
                    bool cancel = false;
                    Window(CancellingHost& h, StopFlags& f, bool p) : host(h), flags(f), press(p) {}
                    void progress(uint64_t done, uint64_t) override {
                        if (!press || done == 0 || cancel)
                            return;
                        if (host.all)
                            cancelAllCopies(cancel, flags, static_cast<ExecutorHost&>(host));
                        else
                            cancelCopy(cancel, static_cast<ExecutorHost&>(host));
                    }
                    bool cancelRequested() override { return cancel; }
                } window(*this, flags, name == "big.bin");
                return copy.run(window);
            }
        } host;
        host.all = all;
        host.settingsValue = quietSettings();
        StopFlags flags;
        const ExecutionCounts counts = runPlanned(planned.plan, flags, host);
        EXPECT_EQ(counts.cancelled, 1);
        EXPECT_EQ(counts.stopped, all);
        uint64_t highest = 0;
        for (const auto& report : host.bytes)
            highest = std::max(highest, report.first);
        const uint64_t small = 5;
        EXPECT_GT(highest, all ? 0 : small) << "the big copy's bytes showed while it was written";
        EXPECT_EQ(host.bytes.back().first, all ? 0 : small);
    }
}

// With a versions folder chosen, the files a run deletes or replaces are kept aside, and the counts say
// how many and where.
TEST(RunCounts, FilesKeptAsideAreCountedWithTheirPlace) {
    TempTree tree("A/report.txt = the new report @2026-03-01 10:00:00\n"
                  "B/report.txt = old report @2026-01-01 10:00:00\nB/stale.txt = stale\nB/other.txt = o\n");
    Settings settings = quietSettings();
    settings.CheckTimeStamp = true;
    settings.removedFiles = RemovedFiles::Versions;
    const SyncRun planned = syncOnce(0, tree.path("A/"), tree.path("B/"), settings, false);
    BytesHost host;
    host.settingsValue = settings;
    StopFlags flags;
    const ExecutionCounts counts = runPlanned(planned.plan, flags, host);
    EXPECT_EQ(counts.bad, 0);
    EXPECT_EQ(counts.deleted, 2);
    EXPECT_EQ(counts.copied, 1);
    EXPECT_EQ(counts.keptAside, 3);
    EXPECT_EQ(counts.removedTo, RemovedFiles::Versions);
}

#include "core/execution/executor.h"

#include "core/execution/copy_progress.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"
#include "support/exec_fixture.h"
#include "support/plan_items.h"

#include <gtest/gtest.h>

using namespace paritas;
using namespace paritas::testing;

namespace {

// A file path of exactly `length` characters under `root`; its folders are made, the file is not.
std::string pathOfLength(const std::string& root, std::size_t length) {
    std::string path = root;
    while (length - path.size() - 1 > 200) {
        path += "/" + std::string(150, 'd');
        makeFolder(path);
    }
    return path + "/" + std::string(length - path.size() - 1, 'f');
}

// Presses a button of the copy progress window during the copy of the file named `pressFor`.
class CopyWindowHost : public RecordingHost {
public:
    enum class Button { None, Cancel, CancelAll };
    Button button = Button::None;
    std::string pressFor;
    std::vector<std::string> copyNames;

    CopyResult copyWithProgress(CopyTask& copy, std::string_view copyName, StopFlags& flags) override {
        copyNames.emplace_back(copyName);
        struct Window : CopyObserver {
            CopyWindowHost& host;
            StopFlags& flags;
            bool press;
            bool cancel = false;
            Window(CopyWindowHost& h, StopFlags& f, bool p) : host(h), flags(f), press(p) {}
            void progress(uint64_t done, uint64_t) override {
                if (!press || done == 0 || cancel)
                    return;
                if (host.button == Button::Cancel)
                    cancelCopy(cancel, host);
                else if (host.button == Button::CancelAll)
                    cancelAllCopies(cancel, flags, host);
            }
            bool cancelRequested() override { return cancel; }
        } window(*this, flags, copyName == pressFor);
        return copy.run(window);
    }
};

class Executor : public ::testing::Test {
protected:
    ExecutionCounts run(const Items& items) { return runItems(items, {scratch.path()}, flags, host); }
    ScratchFolder scratch;
    RecordingHost host;
    StopFlags flags;
};

} // namespace

TEST_F(Executor, AnEmptyListLogsOnlyItsStartAndFinish) {
    const ExecutionCounts counts = run({});
    EXPECT_EQ(counts.good + counts.bad, 0);
    ASSERT_EQ(host.lines.size(), 2u);
    EXPECT_EQ(host.lines[0].rfind("Actions Started at ", 0), 0u);
    EXPECT_EQ(host.lines[1].rfind("Actions Finished at ", 0), 0u);
    EXPECT_TRUE(host.statuses.empty());
    EXPECT_TRUE(host.maximums.empty());
    EXPECT_EQ(host.started, 1);
    EXPECT_EQ(host.finished, 1);
}

TEST_F(Executor, OneLineLeavesTheProgressMaximumAndStandsAtZero) {
    run({create(scratch.at("a"))});
    EXPECT_TRUE(host.maximums.empty());
    EXPECT_EQ(host.positions, std::vector<int64_t>{0});
}

TEST_F(Executor, PerformsEveryKindInOrderAndLogsEachOutcome) {
    writeFile(scratch.at("src"), "copied");
    writeFile(scratch.at("old"), "moved");
    writeFile(scratch.at("gone"), "deleted");
    makeFolder(scratch.at("empty"));
    const Items lines = {
        create(scratch.at("new")),
        cp(scratch.at("src"), scratch.at("new/src")),
        mv(scratch.at("old"), scratch.at("new/moved")),
        del(scratch.at("gone")),
        removeDir(scratch.at("empty")),
    };
    const ExecutionCounts counts = run(lines);
    EXPECT_EQ(counts.good, 5);
    EXPECT_EQ(counts.bad, 0);
    EXPECT_EQ(host.actionLines(), (Lines{
                                      "Success CreateDir " + scratch.at("new"),
                                      "Success Copy-File to " + scratch.at("new/src"),
                                      "Success Move-Rename to " + scratch.at("new/moved"),
                                      "Success DeleteFile " + scratch.at("gone"),
                                      "Success Delete Dir if empty Command " + scratch.at("empty"),
                                  }));
    EXPECT_EQ(readFile(scratch.at("new/src")), "copied");
    EXPECT_EQ(readFile(scratch.at("new/moved")), "moved");
    EXPECT_FALSE(exists(scratch.at("old")));
    EXPECT_FALSE(exists(scratch.at("gone")));
    EXPECT_FALSE(exists(scratch.at("empty")));
    EXPECT_EQ(host.maximums, std::vector<int64_t>{4});
    EXPECT_EQ(host.positions, (std::vector<int64_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(host.statuses.back(),
              std::make_pair(std::string("Synchronize Progress : Good Actions (5) Bad Actions (0)"), false));
}

TEST_F(Executor, FailuresAreLoggedCountedAndTheRunGoesOn) {
    makeFolder(scratch.at("full"));
    writeFile(scratch.at("full/x"), "x");
    writeFile(scratch.at("a"), "a");
    writeFile(scratch.at("b"), "b");
    const Items lines = {
        create(scratch.at("full")),
        removeDir(scratch.at("full")),
        mv(scratch.at("a"), scratch.at("b")),
        del(scratch.at("missing")),
        cp(scratch.at("missing"), scratch.at("c")),
        create(scratch.at("made")),
    };
    const ExecutionCounts counts = run(lines);
    EXPECT_EQ(counts.good, 1);
    EXPECT_EQ(counts.bad, 5);
    // Every failure line is followed by its reason.
    EXPECT_EQ(host.actionLines(), (Lines{
                                      "Failed CreateDir " + scratch.at("full"),
                                      "Reason: File exists (EEXIST)",
                                      "Failed Delete Dir " + scratch.at("full"),
                                      "Reason: Directory not empty (ENOTEMPTY)",
                                      "Failed Move-Rename to " + scratch.at("b"),
                                      "Reason: File exists (EEXIST)",
                                      "Failed DeleteFile " + scratch.at("missing"),
                                      "Reason: No such file or directory (ENOENT)",
                                      "Failed Copy-File to " + scratch.at("c"),
                                      "Reason: No such file or directory (ENOENT)",
                                      "Success CreateDir " + scratch.at("made"),
                                  }));
    EXPECT_EQ(readFile(scratch.at("full/x")), "x");
    EXPECT_EQ(readFile(scratch.at("a")), "a");
    EXPECT_EQ(readFile(scratch.at("b")), "b");
    EXPECT_FALSE(exists(scratch.at("c")));
}

TEST_F(Executor, AReadOnlyFileIsDeleted) {
    writeFile(scratch.at("ro"), "ro", 0444);
    EXPECT_EQ(run({del(scratch.at("ro"))}).good, 1);
    EXPECT_FALSE(exists(scratch.at("ro")));
}

TEST_F(Executor, ACopyReplacesItsDestinationWithTheSourcesTimeAndPermissionBits) {
    writeFile(scratch.at("src"), "fresh", 0640);
    setModified(scratch.at("src"), 1'234'567'890, 42);
    writeFile(scratch.at("dst"), "stale contents");
    EXPECT_EQ(run({cp(scratch.at("src"), scratch.at("dst"))}).good, 1);
    EXPECT_EQ(readFile(scratch.at("dst")), "fresh");
    const auto st = statOf(scratch.at("dst"));
    EXPECT_EQ(st->st_mode & 0777, 0640u);
    EXPECT_EQ(st->st_mtim.tv_sec, 1'234'567'890);
    EXPECT_EQ(st->st_mtim.tv_nsec, 42);
}

TEST_F(Executor, AHundredFailuresKeepTheNormalStatusAndOneMoreTurnsItRed) {
    Items lines(100, del(scratch.at("missing")));
    run(lines);
    EXPECT_EQ(
        host.statuses.back(),
        std::make_pair(std::string("Synchronize Progress : Good Actions (0) Bad Actions (100)"), false));
    host.statuses.clear();
    lines.push_back(create(scratch.at("ok")));
    lines.push_back(del(scratch.at("missing")));
    run(lines);
    EXPECT_EQ(host.statuses[100].second, false);
    EXPECT_EQ(host.statuses.back(),
              std::make_pair(
                  std::string("Synchronize Progress : Good Actions(1) Bad Actions(101) Warning! More then "
                              "100 FAILED Actions!! Review log to Check them!"),
                  true));
}

TEST_F(Executor, PromptsFollowTheSettingsReadForEveryLineWithTheirExactTexts) {
    writeFile(scratch.at("a"), "a");
    host.settingsValue.CheckCreate = true;
    host.settingsValue.CheckCopy = true;
    host.settingsValue.CheckDelete = true;
    const Items lines = {
        create(scratch.at("n")),
        cp(scratch.at("a"), scratch.at("n/a")),
        mv(scratch.at("n/a"), scratch.at("n/b")),
        del(scratch.at("n/b")),
        removeDir(scratch.at("n")),
        original(scratch.at("a")),
    };
    EXPECT_EQ(run(lines).good, 5);
    const std::string tail = " (No To all stops all Sync Job Actions)";
    EXPECT_EQ(host.prompts, (Lines{
                                "CreateDir " + scratch.at("n") + tail,
                                "Copy-File " + scratch.at("a") + "*" + scratch.at("n/a") + tail,
                                "Move-Rename " + scratch.at("n/a") + "*" + scratch.at("n/b") + tail,
                                "Delete File " + scratch.at("n/b") + tail,
                                "Delete Dir " + scratch.at("n") +
                                    " if its empty? (*Even if you click OK , Dir will be deleted ONLY if "
                                    "there are no files inside)",
                            }));
    EXPECT_EQ(host.settingsReads, 6); // once for the whole run, then before each line
}

TEST_F(Executor, ASettingChangedDuringTheRunAppliesFromTheNextLine) {
    host.settingsValue.CheckCreate = true;
    host.onKeepAlive = [&] { host.settingsValue.CheckCreate = false; };
    run({create(scratch.at("a")), create(scratch.at("b"))});
    EXPECT_EQ(host.prompts.size(), 1u);
    EXPECT_TRUE(exists(scratch.at("b")));
}

TEST_F(Executor, CancelOnAPromptSkipsTheLineSilentlyAndTheNextIsAskedAgain) {
    host.settingsValue.CheckCreate = true;
    int asked = 0;
    host.answer = [&](std::string_view) { return ++asked == 1 ? PromptAnswer::Cancel : PromptAnswer::Ok; };
    const ExecutionCounts counts = run({create(scratch.at("a")), create(scratch.at("b"))});
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(counts.good, 1);
    EXPECT_EQ(counts.bad, 0);
    EXPECT_EQ(counts.promptSkipped, 1);
    EXPECT_FALSE(exists(scratch.at("a")));
    EXPECT_EQ(host.actionLines(), Lines{"Success CreateDir " + scratch.at("b")});
    EXPECT_EQ(host.positions, (std::vector<int64_t>{0, 1}));
}

TEST_F(Executor, NoToAllOnTheThirdOfTenLinesStopsAfterItWithoutPerformingIt) {
    host.settingsValue.CheckCreate = true;
    int asked = 0;
    host.answer = [&](std::string_view) { return ++asked == 3 ? PromptAnswer::NoToAll : PromptAnswer::Ok; };
    Items lines;
    for (int i = 0; i < 10; ++i)
        lines.push_back(create(scratch.at("f" + std::to_string(i))));
    const ExecutionCounts counts = run(lines);
    EXPECT_EQ(counts.good, 2);
    EXPECT_FALSE(exists(scratch.at("f2")));
    EXPECT_FALSE(exists(scratch.at("f3")));
    EXPECT_EQ(host.actionLines(),
              (Lines{"Success CreateDir " + scratch.at("f0"), "Success CreateDir " + scratch.at("f1"),
                     "Job Processing Interupted"}));
    EXPECT_EQ(host.messages, Lines{"Job processing has been interupted by user"});
    EXPECT_TRUE(flags.action);
    EXPECT_TRUE(flags.jobList);
    EXPECT_EQ(host.positions, (std::vector<int64_t>{0, 1, 2}));
    EXPECT_EQ(host.lines.back().rfind("Actions Finished at ", 0), 0u);
    EXPECT_EQ(host.finished, 1);
}

TEST_F(Executor, AStopDuringALineEndsTheRunAfterThatLineAndAStaleStopIsCleared) {
    flags.action = true; // left over from an earlier run
    int lineCount = 0;
    host.onKeepAlive = [&] {
        if (++lineCount == 2)
            interruptJobProcessing(flags, host);
    };
    Items lines;
    for (int i = 0; i < 5; ++i)
        lines.push_back(create(scratch.at("f" + std::to_string(i))));
    EXPECT_EQ(run(lines).good, 2);
    EXPECT_FALSE(exists(scratch.at("f2")));
    EXPECT_EQ(host.actionLines().back(), "Job Processing Interupted");
}

// "Stop All Actions" and the stop window do not wait for a long copy: it is cancelled, and the old
// destination stays as it was.
TEST_F(Executor, AStopDuringACopyCancelsItAndKeepsTheOldDestination) {
    writeFile(scratch.at("big"), patternBytes(3 * kCopyChunkBytes, 5));
    writeFile(scratch.at("dst"), "old destination");
    int reports = 0;
    host.onKeepAlive = [&] {
        if (++reports == 2) // after the first chunk
            interruptJobProcessing(flags, host);
    };
    const ExecutionCounts counts =
        run({cp(scratch.at("big"), scratch.at("dst")), create(scratch.at("after"))});
    EXPECT_EQ(counts.bad, 1);
    EXPECT_EQ(readFile(scratch.at("dst")), "old destination");
    EXPECT_EQ(host.actionLines(),
              (Lines{"Job Processing Interupted", "Failed Copy-File to " + scratch.at("dst"),
                     "Reason: the copy was cancelled"}));
    EXPECT_EQ(namesIn(scratch.path()), (Lines{"big", "dst"}));
}

TEST_F(Executor, AnOriginalItemIsNoActionButMovesTheProgress) {
    writeFile(scratch.at("a"), "a");
    const ExecutionCounts counts = run({original(scratch.at("a")), original(scratch.at("a"), true)});
    EXPECT_EQ(counts.good + counts.bad + counts.notReached, 0);
    EXPECT_TRUE(host.actionLines().empty());
    EXPECT_EQ(host.positions, (std::vector<int64_t>{0, 1}));
    EXPECT_EQ(host.statuses.back().first, "Synchronize Progress : Good Actions (0) Bad Actions (0)");
    EXPECT_EQ(readFile(scratch.at("a")), "a");
}

TEST_F(Executor, PathsThatAreNotAbsoluteAreNeverActedOn) {
    const ExecutionCounts counts = run({create("relative-folder"), create(""), del("x"),
                                        cp("relative", scratch.at("d")), mv(scratch.at("a"), "rel")});
    EXPECT_EQ(counts.bad, 5);
    EXPECT_EQ(host.actionLines()[0], "Failed CreateDir relative-folder");
    EXPECT_EQ(host.actionLines()[1], "Reason: Path is not absolute, nothing done");
    EXPECT_FALSE(exists("relative-folder"));
}

// Paths are carried whole, however long: nothing is cut at 1000 characters, so no action ever lands
// on a shortened path (another file) or fails for the length alone.
TEST_F(Executor, PathsLongerThanAThousandCharactersAreActedOnWhole) {
    const std::string file = pathOfLength(scratch.path(), 1500);
    writeFile(file, "long gone");
    writeFile(scratch.at("src"), "source");
    const std::string folder = file.substr(0, file.rfind('/')) + "/" + std::string(200, 'n');
    const ExecutionCounts counts =
        run({del(file), create(folder), cp(scratch.at("src"), folder + "/" + std::string(200, 't'))});
    EXPECT_EQ(counts.good, 3);
    EXPECT_EQ(counts.bad, 0);
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(readFile(folder + "/" + std::string(200, 't')), "source");
    EXPECT_EQ(host.actionLines()[0], "Success DeleteFile " + file);
}

TEST_F(Executor, ACancelledCopyFailsKeepsTheOldDestinationAndTheRunGoesOn) {
    CopyWindowHost windowHost;
    windowHost.button = CopyWindowHost::Button::Cancel;
    windowHost.pressFor = "big";
    writeFile(scratch.at("big"), patternBytes(2 * kCopyChunkBytes + 1, 21));
    writeFile(scratch.at("dst"), "old destination");
    writeFile(scratch.at("small"), "small");
    const Items lines = {cp(scratch.at("big"), scratch.at("dst")),
                         cp(scratch.at("small"), scratch.at("small2"))};
    const ExecutionCounts counts = runItems(lines, {scratch.path()}, flags, windowHost);
    EXPECT_EQ(counts.bad, 1);
    EXPECT_EQ(counts.good, 1);
    EXPECT_EQ(windowHost.actionLines(),
              (Lines{"Copy File Interupted", "Failed Copy-File to " + scratch.at("dst"),
                     "Reason: the copy was cancelled", "Success Copy-File to " + scratch.at("small2")}));
    EXPECT_EQ(readFile(scratch.at("dst")), "old destination");
    EXPECT_EQ(windowHost.copyNames, (Lines{"big", "small"}));
    EXPECT_EQ(namesIn(scratch.path()), (Lines{"big", "dst", "small", "small2"}));
    EXPECT_FALSE(flags.action);
}

TEST_F(Executor, CancelAllEndsTheRunAfterThisCopyButLeavesTheJobListGoing) {
    CopyWindowHost windowHost;
    windowHost.button = CopyWindowHost::Button::CancelAll;
    windowHost.pressFor = "big";
    writeFile(scratch.at("big"), patternBytes(2 * kCopyChunkBytes + 1, 22));
    writeFile(scratch.at("small"), "small");
    const Items lines = {cp(scratch.at("big"), scratch.at("dst")),
                         cp(scratch.at("small"), scratch.at("small2"))};
    const ExecutionCounts counts = runItems(lines, {scratch.path()}, flags, windowHost);
    EXPECT_EQ(counts.bad, 1);
    EXPECT_EQ(counts.good, 0);
    EXPECT_EQ(windowHost.actionLines(),
              (Lines{"Copy File Interupted", "Failed Copy-File to " + scratch.at("dst"),
                     "Reason: the copy was cancelled"}));
    EXPECT_TRUE(flags.action);
    EXPECT_FALSE(flags.jobList);
    EXPECT_EQ(namesIn(scratch.path()), (Lines{"big", "small"}));
}

// Duplicate pairs: an original line followed by the delete line of its duplicate.
class DuplicateDeletion : public Executor {
protected:
    void SetUp() override {
        writeFile(scratch.at("kept"), "same bytes");
        writeFile(scratch.at("dup"), "same bytes");
    }
    void expectKeptWithReason(const Items& lines, const std::string& reason) {
        const ExecutionCounts counts = run(lines);
        EXPECT_EQ(counts.bad, 1);
        EXPECT_EQ(counts.good, 0);
        EXPECT_EQ(host.actionLines(), (Lines{"Failed DeleteFile " + scratch.at("dup"), "Reason: " + reason}));
        EXPECT_TRUE(exists(scratch.at("dup")));
    }
};

TEST_F(DuplicateDeletion, ADuplicateWithAnIdenticalOriginalIsDeletedInBothSpellings) {
    writeFile(scratch.at("dup2"), "same bytes");
    const ExecutionCounts counts = run({original(scratch.at("kept")), del(scratch.at("dup")),
                                        original(scratch.at("kept"), true), del(scratch.at("dup2"))});
    EXPECT_EQ(counts.good, 2);
    EXPECT_FALSE(exists(scratch.at("dup")));
    EXPECT_FALSE(exists(scratch.at("dup2")));
    EXPECT_EQ(readFile(scratch.at("kept")), "same bytes");
}

TEST_F(DuplicateDeletion, AMissingOriginalKeepsTheDuplicate) {
    ::unlink(scratch.at("kept").c_str());
    expectKeptWithReason({original(scratch.at("kept")), del(scratch.at("dup"))},
                         "Original not found, duplicate not deleted: " + scratch.at("kept"));
}

TEST_F(DuplicateDeletion, AnOriginalWithOtherBytesOfTheSameSizeKeepsTheDuplicate) {
    writeFile(scratch.at("kept"), "same bytez");
    expectKeptWithReason({original(scratch.at("kept")), del(scratch.at("dup"))},
                         "Original differs from the duplicate, not deleted: " + scratch.at("kept"));
}

TEST_F(DuplicateDeletion, TheSameFileUnderTwoNamesIsNeverItsOwnDuplicate) {
    expectKeptWithReason({original(scratch.at("dup")), del(scratch.at("dup"))},
                         "Original is the same file as the duplicate, not deleted: " + scratch.at("dup"));
    host.lines.clear();
    ASSERT_EQ(::link(scratch.at("dup").c_str(), scratch.at("hard").c_str()), 0);
    expectKeptWithReason({original(scratch.at("hard")), del(scratch.at("dup"))},
                         "Original is the same file as the duplicate, not deleted: " + scratch.at("hard"));
}

TEST_F(DuplicateDeletion, LinksCompareByTargetTextAndNeverEqualAFile) {
    ASSERT_EQ(::symlink("dup", scratch.at("link-to-dup").c_str()), 0);
    expectKeptWithReason({original(scratch.at("link-to-dup")), del(scratch.at("dup"))},
                         "Original differs from the duplicate, not deleted: " + scratch.at("link-to-dup"));
    host.lines.clear();
    ASSERT_EQ(::symlink("somewhere", scratch.at("l1").c_str()), 0);
    ASSERT_EQ(::symlink("somewhere", scratch.at("l2").c_str()), 0);
    EXPECT_EQ(run({original(scratch.at("l1")), del(scratch.at("l2"))}).good, 1);
    EXPECT_FALSE(exists(scratch.at("l2")));
    EXPECT_TRUE(exists(scratch.at("l1")));
}

TEST_F(DuplicateDeletion, ALargeDuplicateDifferingInItsLastByteIsKept) {
    std::string bytes = patternBytes(3 << 20, 31);
    writeFile(scratch.at("kept"), bytes);
    bytes.back() ^= 1;
    writeFile(scratch.at("dup"), bytes);
    expectKeptWithReason({original(scratch.at("kept")), del(scratch.at("dup"))},
                         "Original differs from the duplicate, not deleted: " + scratch.at("kept"));
}

TEST_F(DuplicateDeletion, ADeleteWithoutAnOriginalIsAPlainDelete) {
    writeFile(scratch.at("other"), "different bytes entirely");
    EXPECT_EQ(run({create(scratch.at("n")), del(scratch.at("other"))}).good, 2);
    EXPECT_FALSE(exists(scratch.at("other")));
}

TEST_F(DuplicateDeletion, ADuplicateWhoseOriginalIsNotInTheRunIsKept) {
    PlanItem orphan = del(scratch.at("dup"));
    orphan.facts.line = 1;
    orphan.facts.original = 0; // its original item was left out
    const ExecutionCounts counts = run({orphan});
    EXPECT_EQ(counts.bad, 1);
    EXPECT_EQ(host.actionLines(), (Lines{"Failed DeleteFile " + scratch.at("dup"),
                                         "Reason: Original not in this run, duplicate not deleted"}));
    EXPECT_TRUE(exists(scratch.at("dup")));
}

#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"

#include "support/exec_fixture.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/mount.h>

using namespace paritas;
using namespace paritas::testing;

namespace {

// Records every report and can act at a chosen report (cancel, or change the source under the copy).
struct ScriptedObserver : CopyObserver {
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    std::size_t actAtReport = SIZE_MAX; // 0 is the report before the first byte
    std::function<void()> action;
    bool cancel = false;

    void progress(uint64_t done, uint64_t total) override {
        if (reports.size() == actAtReport && action)
            action();
        reports.emplace_back(done, total);
    }
    bool cancelRequested() override { return cancel; }
};

bool noTemporaryFilesIn(const std::string& folder) {
    for (const std::string& name : namesIn(folder))
        if (name.rfind(kCopyTempPrefix, 0) == 0)
            return false;
    return true;
}

constexpr std::size_t kSeveralChunks = 2 * kCopyChunkBytes + 12345;

} // namespace

TEST(CopyFile, CopiesBytesModifiedTimeAndPermissionBits) {
    ScratchFolder scratch;
    const std::string bytes = patternBytes(100'000);
    writeFile(scratch.at("src"), bytes, 0751);
    setModified(scratch.at("src"), 1'500'000'000, 987654321);
    ScriptedObserver observer;
    const CopyResult result = copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(readFile(scratch.at("dst")), bytes);
    const auto st = statOf(scratch.at("dst"));
    EXPECT_EQ(st->st_mode & 07777, 0751u);
    EXPECT_EQ(st->st_mtim.tv_sec, 1'500'000'000);
    EXPECT_EQ(st->st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(namesIn(scratch.path()), (std::vector<std::string>{"dst", "src"}));
}

TEST(CopyFile, NeverPassesOnSetUserIdOrSetGroupId) {
    ScratchFolder scratch;
    writeFile(scratch.at("src"), "x");
    ::chmod(scratch.at("src").c_str(), 06755);
    CopyObserver observer;
    ASSERT_TRUE(copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer).ok());
    EXPECT_EQ(statOf(scratch.at("dst"))->st_mode & 07777, 0755u);
}

TEST(CopyFile, ReplacesAnExistingDestinationAndLeavesNoTemporaryFile) {
    ScratchFolder scratch;
    writeFile(scratch.at("src"), "new contents");
    writeFile(scratch.at("dst"), "old contents that are longer");
    CopyObserver observer;
    ASSERT_TRUE(copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer).ok());
    EXPECT_EQ(readFile(scratch.at("dst")), "new contents");
    EXPECT_TRUE(noTemporaryFilesIn(scratch.path()));
}

TEST(CopyFile, AnEmptyFileIsCopiedAndReportedOnce) {
    ScratchFolder scratch;
    writeFile(scratch.at("src"), "");
    ScriptedObserver observer;
    ASSERT_TRUE(copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer).ok());
    EXPECT_EQ(readFile(scratch.at("dst")), "");
    EXPECT_EQ(observer.reports, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}}));
}

TEST(CopyFile, ReportsProgressFromZeroToTheWholeSizeInRisingSteps) {
    ScratchFolder scratch;
    const std::string bytes = patternBytes(kSeveralChunks, 7);
    writeFile(scratch.at("src"), bytes);
    ScriptedObserver observer;
    ASSERT_TRUE(copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer).ok());
    EXPECT_EQ(readFile(scratch.at("dst")), bytes);
    ASSERT_GE(observer.reports.size(), 2u);
    EXPECT_EQ(observer.reports.front(), std::make_pair(uint64_t{0}, uint64_t{kSeveralChunks}));
    EXPECT_EQ(observer.reports.back(), std::make_pair(uint64_t{kSeveralChunks}, uint64_t{kSeveralChunks}));
    for (std::size_t i = 1; i < observer.reports.size(); ++i) {
        EXPECT_GT(observer.reports[i].first, observer.reports[i - 1].first);
        EXPECT_LE(observer.reports[i].first - observer.reports[i - 1].first, kCopyChunkBytes);
    }
}

TEST(CopyFile, ACancelMidwayLeavesTheOldDestinationAndNoTemporaryFile) {
    ScratchFolder scratch;
    writeFile(scratch.at("src"), patternBytes(kSeveralChunks, 3));
    writeFile(scratch.at("dst"), "the old destination");
    ScriptedObserver observer;
    observer.actAtReport = 1; // after the first chunk
    observer.action = [&] { observer.cancel = true; };
    const CopyResult result = copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer);
    EXPECT_EQ(result.outcome, CopyOutcome::Cancelled);
    EXPECT_EQ(readFile(scratch.at("dst")), "the old destination");
    EXPECT_TRUE(noTemporaryFilesIn(scratch.path()));
}

TEST(CopyFile, ACancelBeforeTheFirstByteCopiesNothing) {
    ScratchFolder scratch;
    writeFile(scratch.at("src"), "abc");
    ScriptedObserver observer;
    observer.cancel = true;
    EXPECT_EQ(copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer).outcome,
              CopyOutcome::Cancelled);
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"src"});
}

TEST(CopyFile, ASourceThatShrinksOrChangesDuringTheCopyFailsAndKeepsTheDestination) {
    for (const bool truncate : {true, false}) {
        ScratchFolder scratch;
        writeFile(scratch.at("src"), patternBytes(kSeveralChunks, 5));
        writeFile(scratch.at("dst"), "old");
        ScriptedObserver observer;
        observer.actAtReport = 1;
        observer.action = [&] {
            if (truncate)
                ::truncate(scratch.at("src").c_str(), 100);
            else
                setModified(scratch.at("src"), 1'000'000'000, 0);
        };
        const CopyResult result = copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer);
        EXPECT_EQ(result.outcome, CopyOutcome::Failed) << "truncate " << truncate;
        EXPECT_EQ(readFile(scratch.at("dst")), "old");
        EXPECT_TRUE(noTemporaryFilesIn(scratch.path()));
    }
}

TEST(CopyFile, ASourceDeletedDuringTheCopyStillYieldsTheWholeFileOrNothing) {
    ScratchFolder scratch;
    const std::string bytes = patternBytes(kSeveralChunks, 9);
    writeFile(scratch.at("src"), bytes);
    ScriptedObserver observer;
    observer.actAtReport = 1;
    observer.action = [&] { ::unlink(scratch.at("src").c_str()); };
    const CopyResult result = copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer);
    if (result.ok())
        EXPECT_EQ(readFile(scratch.at("dst")), bytes);
    else
        EXPECT_FALSE(exists(scratch.at("dst")));
    EXPECT_TRUE(noTemporaryFilesIn(scratch.path()));
}

TEST(CopyFile, AMissingOrUnusableSourceFailsAndLeavesTheDestination) {
    ScratchFolder scratch;
    writeFile(scratch.at("dst"), "old");
    makeFolder(scratch.at("folder"));
    ASSERT_EQ(::mkfifo(scratch.at("fifo").c_str(), 0600), 0);
    CopyObserver observer;
    EXPECT_EQ(copyFileWithProgress(scratch.at("missing"), scratch.at("dst"), observer).error, ENOENT);
    EXPECT_EQ(copyFileWithProgress(scratch.at("folder"), scratch.at("dst"), observer).error, EISDIR);
    EXPECT_FALSE(
        copyFileWithProgress(scratch.at("fifo"), scratch.at("dst"), observer).ok()); // must not block
    EXPECT_FALSE(copyFileWithProgress("", scratch.at("dst"), observer).ok());
    EXPECT_EQ(readFile(scratch.at("dst")), "old");
    EXPECT_TRUE(noTemporaryFilesIn(scratch.path()));
}

TEST(CopyFile, AMissingDestinationFolderOrAFolderAtTheDestinationFails) {
    ScratchFolder scratch;
    writeFile(scratch.at("src"), "abc");
    makeFolder(scratch.at("taken"));
    writeFile(scratch.at("taken/inner"), "inner");
    CopyObserver observer;
    EXPECT_FALSE(copyFileWithProgress(scratch.at("src"), scratch.at("nowhere/dst"), observer).ok());
    EXPECT_FALSE(copyFileWithProgress(scratch.at("src"), scratch.at("taken"), observer).ok());
    EXPECT_EQ(readFile(scratch.at("taken/inner")), "inner");
    EXPECT_EQ(namesIn(scratch.path()), (std::vector<std::string>{"src", "taken"}));
}

TEST(CopyFile, CopyingOntoItselfOrOntoAHardLinkOfItselfKeepsTheBytes) {
    ScratchFolder scratch;
    const std::string bytes = patternBytes(50'000, 11);
    writeFile(scratch.at("src"), bytes);
    ASSERT_EQ(::link(scratch.at("src").c_str(), scratch.at("hard").c_str()), 0);
    CopyObserver observer;
    EXPECT_TRUE(copyFileWithProgress(scratch.at("src"), scratch.at("src"), observer).ok());
    EXPECT_EQ(readFile(scratch.at("src")), bytes);
    EXPECT_TRUE(copyFileWithProgress(scratch.at("src"), scratch.at("hard"), observer).ok());
    EXPECT_EQ(readFile(scratch.at("src")), bytes);
    EXPECT_EQ(readFile(scratch.at("hard")), bytes);
}

TEST(CopyFile, ALinkIsCopiedAsALinkWithTheSameTargetText) {
    ScratchFolder scratch;
    writeFile(scratch.at("target"), "target bytes");
    ASSERT_EQ(::symlink("target", scratch.at("link").c_str()), 0);
    ASSERT_EQ(::symlink("../no/such/place", scratch.at("dangling").c_str()), 0);
    setModified(scratch.at("link"), 1'400'000'000, 5);
    writeFile(scratch.at("dst"), "a file that the link replaces");
    CopyObserver observer;
    ASSERT_TRUE(copyFileWithProgress(scratch.at("link"), scratch.at("dst"), observer).ok());
    ASSERT_TRUE(copyFileWithProgress(scratch.at("dangling"), scratch.at("dst2"), observer).ok());
    char text[64] = {};
    ASSERT_EQ(::readlink(scratch.at("dst").c_str(), text, sizeof text), 6);
    EXPECT_STREQ(text, "target");
    EXPECT_EQ(statOf(scratch.at("dst"))->st_mtim.tv_sec, 1'400'000'000);
    char text2[64] = {};
    EXPECT_EQ(::readlink(scratch.at("dst2").c_str(), text2, sizeof text2), 16);
    EXPECT_EQ(readFile(scratch.at("target")), "target bytes");
    EXPECT_TRUE(noTemporaryFilesIn(scratch.path()));
}

TEST(CopyFile, CopyingALinkOntoAFolderFailsAndLeavesNoTemporaryLink) {
    ScratchFolder scratch;
    ASSERT_EQ(::symlink("target", scratch.at("link").c_str()), 0);
    makeFolder(scratch.at("folder"));
    CopyObserver observer;
    EXPECT_FALSE(copyFileWithProgress(scratch.at("link"), scratch.at("folder"), observer).ok());
    EXPECT_EQ(namesIn(scratch.path()), (std::vector<std::string>{"folder", "link"}));
}

TEST(CopyFile, AFullDestinationFailsAndLeavesTheOldDestinationAndNoTemporaryFile) {
    ScratchFolder scratch;
    const std::string mountPoint = scratch.at("small");
    makeFolder(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (errno " << errno
                     << "); the full-disk case is not tested";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    writeFile(scratch.at("src"), patternBytes(3 << 20, 13));
    writeFile(mountPoint + "/dst", "old destination");
    CopyObserver observer;
    const CopyResult result = copyFileWithProgress(scratch.at("src"), mountPoint + "/dst", observer);
    EXPECT_EQ(result.outcome, CopyOutcome::Failed);
    EXPECT_EQ(result.error, ENOSPC);
    EXPECT_EQ(readFile(mountPoint + "/dst"), "old destination");
    EXPECT_EQ(namesIn(mountPoint), std::vector<std::string>{"dst"});
}

// A file with holes is copied by its data: the holes stay holes, and the bytes read the same.
TEST(CopyFile, HolesStayHolesAndTheDataIsTheSame) {
    ScratchFolder scratch;
    const std::string source = scratch.at("sparse.img");
    constexpr off_t kSize = off_t(4) << 30;
    const std::string data = patternBytes(4 << 20, 7);
    {
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        for (const off_t at : {off_t(0), off_t(1) << 30, kSize - off_t(data.size())})
            ASSERT_EQ(::pwrite(fd, data.data(), data.size(), at), ssize_t(data.size()));
        ::close(fd);
    }
    ScriptedObserver observer;
    ASSERT_TRUE(copyFileWithProgress(source, scratch.at("copy.img"), observer).ok());
    const auto copy = statOf(scratch.at("copy.img"));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->st_size, kSize);
    EXPECT_LT(uint64_t(copy->st_blocks) * 512u, uint64_t(64) << 20) << "the holes were written out";
    EXPECT_EQ(observer.reports.back(), std::make_pair(uint64_t(kSize), uint64_t(kSize)));
    const int fd = ::open(scratch.at("copy.img").c_str(), O_RDONLY);
    std::string back(data.size(), '\0');
    for (const off_t at : {off_t(0), off_t(1) << 30, kSize - off_t(data.size())}) {
        ASSERT_EQ(::pread(fd, back.data(), back.size(), at), ssize_t(back.size()));
        EXPECT_EQ(back, data) << "at " << at;
    }
    std::string hole(4096, 'x');
    ASSERT_EQ(::pread(fd, hole.data(), hole.size(), off_t(2) << 30), ssize_t(hole.size()));
    EXPECT_EQ(hole, std::string(4096, '\0'));
    ::close(fd);
}

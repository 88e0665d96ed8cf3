#include "core/platform/file_ops.h"

#include "support/exec_fixture.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace paritas;
using namespace paritas::testing;

TEST(MakeFolder, CreatesAFolderAndFailsWhenAnythingStandsThere) {
    ScratchFolder scratch;
    EXPECT_TRUE(makeFolder(scratch.at("new")).ok());
    EXPECT_TRUE(S_ISDIR(statOf(scratch.at("new"))->st_mode));
    EXPECT_EQ(makeFolder(scratch.at("new")).error, EEXIST);
    writeFile(scratch.at("file"), "kept");
    EXPECT_EQ(makeFolder(scratch.at("file")).error, EEXIST);
    EXPECT_EQ(readFile(scratch.at("file")), "kept");
    EXPECT_FALSE(makeFolder(scratch.at("missing/child")).ok());
}

TEST(RemoveEmptyFolder, RemovesOnlyAnEmptyFolder) {
    ScratchFolder scratch;
    makeFolder(scratch.at("empty"));
    makeFolder(scratch.at("full"));
    writeFile(scratch.at("full/x"), "x");
    EXPECT_TRUE(removeEmptyFolder(scratch.at("empty")).ok());
    EXPECT_FALSE(exists(scratch.at("empty")));
    EXPECT_FALSE(removeEmptyFolder(scratch.at("full")).ok());
    EXPECT_EQ(readFile(scratch.at("full/x")), "x");
}

TEST(DeleteFile, DeletesAFileAndALinkAsALinkButNoFolder) {
    ScratchFolder scratch;
    writeFile(scratch.at("target"), "target bytes", 0444);
    ASSERT_EQ(::symlink(scratch.at("target").c_str(), scratch.at("link").c_str()), 0);
    EXPECT_TRUE(deleteFile(scratch.at("link")).ok());
    EXPECT_FALSE(exists(scratch.at("link")));
    EXPECT_EQ(readFile(scratch.at("target")), "target bytes");
    EXPECT_TRUE(deleteFile(scratch.at("target")).ok()); // read-only makes no difference
    EXPECT_FALSE(exists(scratch.at("target")));
    makeFolder(scratch.at("folder"));
    EXPECT_FALSE(deleteFile(scratch.at("folder")).ok());
    EXPECT_TRUE(exists(scratch.at("folder")));
}

// Both ways of moving: renameat2 with RENAME_NOREPLACE and the link fallback for file systems
// without it.
class MoveNoReplace : public ::testing::TestWithParam<bool> {
protected:
    FsResult move(const std::string& from, const std::string& to) {
        return GetParam() ? moveNoReplaceWithoutRenameFlag(from, to) : moveNoReplace(from, to);
    }
    ScratchFolder scratch;
};

TEST_P(MoveNoReplace, MovesAFileWithItsBytesAndTime) {
    writeFile(scratch.at("a"), "payload");
    setModified(scratch.at("a"), 1'600'000'000, 123456789);
    makeFolder(scratch.at("sub"));
    ASSERT_TRUE(move(scratch.at("a"), scratch.at("sub/b")).ok());
    EXPECT_FALSE(exists(scratch.at("a")));
    EXPECT_EQ(readFile(scratch.at("sub/b")), "payload");
    EXPECT_EQ(statOf(scratch.at("sub/b"))->st_mtim.tv_nsec, 123456789);
}

TEST_P(MoveNoReplace, AMoveOntoAnExistingFileFailsAndKeepsBoth) {
    writeFile(scratch.at("a"), "source");
    writeFile(scratch.at("b"), "destination");
    EXPECT_EQ(move(scratch.at("a"), scratch.at("b")).error, EEXIST);
    EXPECT_EQ(readFile(scratch.at("a")), "source");
    EXPECT_EQ(readFile(scratch.at("b")), "destination");
}

TEST_P(MoveNoReplace, AMoveOntoAnExistingFolderOrLinkFailsAndKeepsBoth) {
    writeFile(scratch.at("a"), "source");
    makeFolder(scratch.at("folder"));
    EXPECT_FALSE(move(scratch.at("a"), scratch.at("folder")).ok());
    ASSERT_EQ(::symlink("nowhere", scratch.at("dangling").c_str()), 0);
    EXPECT_FALSE(move(scratch.at("a"), scratch.at("dangling")).ok());
    EXPECT_EQ(readFile(scratch.at("a")), "source");
    EXPECT_TRUE(S_ISDIR(statOf(scratch.at("folder"))->st_mode));
    EXPECT_TRUE(S_ISLNK(statOf(scratch.at("dangling"))->st_mode));
}

TEST_P(MoveNoReplace, ALinkIsMovedAsALink) {
    writeFile(scratch.at("target"), "target");
    ASSERT_EQ(::symlink("target", scratch.at("link").c_str()), 0);
    ASSERT_TRUE(move(scratch.at("link"), scratch.at("moved")).ok());
    EXPECT_TRUE(S_ISLNK(statOf(scratch.at("moved"))->st_mode));
    EXPECT_EQ(readFile(scratch.at("target")), "target");
    EXPECT_FALSE(exists(scratch.at("link")));
}

TEST_P(MoveNoReplace, AFolderMovesWithItsContentsButNeverOntoAnother) {
    makeFolder(scratch.at("f"));
    writeFile(scratch.at("f/x"), "x");
    makeFolder(scratch.at("taken"));
    EXPECT_FALSE(move(scratch.at("f"), scratch.at("taken")).ok());
    EXPECT_EQ(readFile(scratch.at("f/x")), "x");
    ASSERT_TRUE(move(scratch.at("f"), scratch.at("g")).ok());
    EXPECT_EQ(readFile(scratch.at("g/x")), "x");
}

TEST_P(MoveNoReplace, AMissingSourceFailsAndCreatesNothing) {
    EXPECT_EQ(move(scratch.at("none"), scratch.at("b")).error, ENOENT);
    EXPECT_FALSE(exists(scratch.at("b")));
}

INSTANTIATE_TEST_SUITE_P(RenameFlagAndLinkFallback, MoveNoReplace, ::testing::Bool());

TEST(MoveNoReplaceAcrossFileSystems, FailsAndKeepsTheSource) {
    ScratchFolder scratch;
    const auto shm = statOf("/dev/shm");
    if (!shm || shm->st_dev == statOf(scratch.path())->st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system at /dev/shm";
    writeFile(scratch.at("a"), "stays");
    const std::string target = "/dev/shm/paritas-move-test-" + std::to_string(::getpid());
    EXPECT_EQ(moveNoReplace(scratch.at("a"), target).error, EXDEV);
    EXPECT_EQ(moveNoReplaceWithoutRenameFlag(scratch.at("a"), target).error, EXDEV);
    EXPECT_EQ(readFile(scratch.at("a")), "stays");
    EXPECT_FALSE(exists(target));
}

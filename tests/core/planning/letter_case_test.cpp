// Paths that differ only in letter case. Planning compares texts exactly, but a case-insensitive file
// system (vfat, NTFS, exFAT) shows one file under every spelling: a B file spelled differently from
// A's must never be deleted as surplus when it is the very file the plan keeps or copies over.

#include "planning_fixture.h"

#include "memory_planner_host.h"

#include <sys/mount.h>

namespace paritas::testing {
namespace {

using Lines = std::vector<std::string>;

struct CaseInsensitiveB {
    FolderList foldersA{"/a/", "/a/Docs/"};
    FolderList foldersB{"/b/", "/b/docs/"};
    Inventory a, b;
    MemoryPlannerHost host;
    PlanInput input;

    CaseInsensitiveB(int64_t sizeA, int64_t sizeB) {
        a.addFile("/a/Docs/", "Report.txt", sizeA, 7);
        b.addFile("/b/docs/", "report.txt", sizeB, 7);
        host.caseInsensitive = true;
        for (const char* folder : {"/a", "/a/Docs", "/b", "/b/docs"})
            host.addFolder(folder);
        host.addFile("/a/Docs/Report.txt", sizeA, 7);
        host.addFile("/b/docs/report.txt", sizeB, 7);
        input = PlanInput{"/a/", "/b/", &foldersA, &foldersB, &a, &b, Settings{}, true};
    }
};

TEST(LetterCase, BackupKeepsTheSameFileSpelledDifferentlyInsteadOfDeletingIt) {
    CaseInsensitiveB world(5, 5);
    const PlanResult plan = AMasterB(world.input, world.host);
    EXPECT_EQ(lineTexts(plan.actions), Lines{}); // neither a copy, nor a delete, nor a folder removal
    EXPECT_TRUE(plan.marksB.at(0));
}

TEST(LetterCase, BackupCopiesAChangedFileOverItsTwinAndKeepsIt) {
    CaseInsensitiveB world(5, 9);
    const PlanResult plan = AMasterB(world.input, world.host);
    EXPECT_EQ(lineTexts(plan.actions), (Lines{"Copy /a/Docs/Report.txt*/b/Docs/Report.txt"}));
}

TEST(LetterCase, OnACaseSensitiveDiskTheOtherSpellingIsAnotherFileAndGoes) {
    CaseInsensitiveB world(5, 5);
    world.host.caseInsensitive = false;
    world.host.addFolder("/b/Docs");
    const PlanResult plan = AMasterB(world.input, world.host);
    EXPECT_EQ(lineTexts(plan.actions), (Lines{"Copy /a/Docs/Report.txt*/b/Docs/Report.txt",
                                              "DeleteFile /b/docs/report.txt", "RemoveDir /b/docs"}));
}

// A hard link made after the scan shows one file under two spellings, as a case-insensitive disk does,
// on any file system.
TEST(LetterCase, BackupAsksTheRealFileSystemWhetherTwoSpellingsAreOneFile) {
    TempTree t;
    t.file("a/Report.txt", 5);
    t.file("b/report.txt", 5);
    const std::string A = t.location("a"), B = t.location("b");
    TwoScans scans(A, B);
    ASSERT_EQ(::link((B + "report.txt").c_str(), (B + "Report.txt").c_str()), 0);
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    EXPECT_EQ(lineTexts(plan.actions), Lines{});
    EXPECT_TRUE(plan.marksB.at(0));
}

TEST(LetterCase, TheSafetyNetBeforeDeletingSkipsAFileThatIsTheTargetOfARowOfA) {
    // The disk answers "no file" at the target but "same file" when asked directly: only the last
    // check before the DeleteFile line stands between the file and its deletion.
    class Inconsistent : public MemoryPlannerHost {
    public:
        bool fileExists(const std::string& path) override {
            MemoryPlannerHost::fileExists(path);
            return path != "/b/Docs/Report.txt" && files.count(path);
        }
    };
    CaseInsensitiveB world(5, 5);
    Inconsistent host;
    host.caseInsensitive = true;
    host.folders = world.host.folders;
    host.files = world.host.files;
    world.input.settings.CheckName = true;
    const PlanResult plan = AMasterB(world.input, host);
    EXPECT_EQ(lineTexts(plan.actions), (Lines{"Copy /a/Docs/Report.txt*/b/Docs/Report.txt"}));
    EXPECT_NE(
        std::find(
            host.logLines.begin(), host.logLines.end(),
            "Not deleted: /b/docs/report.txt is the same file as /b/Docs/Report.txt on this file system"),
        host.logLines.end());
}

// The same on a real vfat file system, where the kernel and the tools allow mounting one.
class VfatLocationB : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = tree_.root() + "/b.img";
        mountPoint_ = tree_.root() + "/b";
        std::filesystem::create_directory(mountPoint_);
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a vfat image needs root";
        const std::string make =
            "truncate -s 8M '" + image_ + "' && mkfs.vfat '" + image_ + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0)
            GTEST_SKIP() << "mkfs.vfat is not available (install dosfstools)";
        const std::string mount = "mount -o loop '" + image_ + "' '" + mountPoint_ + "' 2>/dev/null";
        if (std::system(mount.c_str()) != 0)
            GTEST_SKIP()
                << "this kernel cannot mount a vfat image (no vfat or no loop device): case test not run";
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_)
            ::umount(mountPoint_.c_str());
    }
    TempTree tree_;
    std::string image_, mountPoint_;
    bool mounted_ = false;
};

TEST_F(VfatLocationB, BackupDoesNotDeleteAFileWhoseNameDiffersOnlyInCase) {
    tree_.file("a/Docs/Report.txt", 5);
    tree_.file("b/docs/report.txt", 9);
    const std::string A = tree_.location("a"), B = tree_.location("b");
    TwoScans scans(A, B);
    PlanRecordingHost host;
    const PlanResult plan = AMasterB(scans.input, host);
    for (const std::string& line : lineTexts(plan.actions)) {
        EXPECT_EQ(line.rfind("DeleteFile", 0), std::string::npos) << line;
        EXPECT_EQ(line.rfind("RemoveDir", 0), std::string::npos) << line;
    }
    EXPECT_EQ(lineTexts(plan.actions), (Lines{"Copy " + A + "Docs/Report.txt*" + B + "Docs/Report.txt"}));
}

} // namespace
} // namespace paritas::testing

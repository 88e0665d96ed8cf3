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

// The file is kept and takes A's spelling within its folder (a case-only rename in A); the folder's
// spelling stays (it is one folder to the file system).
TEST(LetterCase, BackupRenamesTheSameFileSpelledDifferentlyInsteadOfDeletingIt) {
    CaseInsensitiveB world(5, 5);
    const PlanResult plan = AMasterB(world.input, world.host);
    EXPECT_EQ(lineTexts(plan.actions), (Lines{"Move-Rename /b/docs/report.txt*/b/docs/Report.txt"}));
    EXPECT_TRUE(plan.marksB.at(0));
}

TEST(LetterCase, ACaseOnlyRenameInABecomesARenameInBNeverADeletion) {
    struct Case {
        const char* what;
        bool caseInsensitive;
        Lines expected;
    };
    const std::vector<Case> cases = {
        {"B folds letter case", true, {"Move-Rename /b/Photo.JPG*/b/photo.jpg"}},
        // Where letter case tells names apart the old spelling is another name, which the name
        // criterion does not match: a copy under the new name, and the old one goes.
        {"B tells letter case apart", false, {"Copy /a/photo.jpg*/b/photo.jpg", "DeleteFile /b/Photo.JPG"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FolderList foldersA{"/a/"}, foldersB{"/b/"};
        Inventory a, b;
        a.addFile("/a/", "photo.jpg", 9, 7);
        b.addFile("/b/", "Photo.JPG", 9, 7);
        MemoryPlannerHost host;
        host.caseInsensitive = c.caseInsensitive;
        host.addFolder("/a");
        host.addFolder("/b");
        host.addFile("/a/photo.jpg", 9, 7);
        host.addFile("/b/Photo.JPG", 9, 7);
        PlanInput input{"/a/", "/b/", &foldersA, &foldersB, &a, &b, Settings{}, true};
        const PlanResult plan = AMasterB(input, host);
        EXPECT_EQ(lineTexts(plan.actions), c.expected);
        EXPECT_EQ(plan.leftAlone, 0u);
    }
}

// B can hold only one of two names of A that differ only in letter case: the first is copied, the
// others are reported and the plan is incomplete (a run exits 1), never copied over each other.
TEST(LetterCase, NamesOfAThatDifferOnlyInCaseAreReportedWhenBFoldsCase) {
    for (const bool caseInsensitive : {true, false}) {
        SCOPED_TRACE(caseInsensitive ? "B folds letter case" : "B tells letter case apart");
        FolderList foldersA{"/a/"}, foldersB{"/b/"};
        Inventory a, b;
        a.addFile("/a/", "README", 3, 7);
        a.addFile("/a/", "ReadMe", 4, 7);
        a.addFile("/a/", "readme", 5, 7);
        MemoryPlannerHost host;
        host.caseInsensitive = caseInsensitive;
        host.addFolder("/a");
        host.addFolder("/b");
        PlanInput input{"/a/", "/b/", &foldersA, &foldersB, &a, &b, Settings{}, true};
        const PlanResult plan = AMasterB(input, host);
        if (caseInsensitive) {
            EXPECT_EQ(lineTexts(plan.actions), (Lines{"Copy /a/README*/b/README"}));
            EXPECT_EQ(plan.leftAlone, 2u);
            EXPECT_NE(
                std::find(host.logLines.begin(), host.logLines.end(),
                          "Not copied: /a/ReadMe differs only in letter case from /a/README, and B does "
                          "not tell letter case apart"),
                host.logLines.end());
        } else {
            EXPECT_EQ(lineTexts(plan.actions), (Lines{"Copy /a/README*/b/README", "Copy /a/ReadMe*/b/ReadMe",
                                                      "Copy /a/readme*/b/readme"}));
            EXPECT_EQ(plan.leftAlone, 0u);
        }
    }
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
        // Nor does it say that it folds letter case, so names are compared as written.
        bool foldsLetterCase(const std::string&) override { return false; }
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

// The promises of copy, move and delete hold with every means a file system may lack: the tests
// pretend to lack them (capabilities with flags off) on whatever file system the temporary folder is
// on, and check what each promise says, not how it is kept.

#include "core/platform/capabilities.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_queries.h"

#include "support/exec_fixture.h"
#include "support/keeping_disposal.h"

#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <sys/mount.h>
#include <thread>

using namespace paritas;
using namespace paritas::testing;
using paritas::test::KeepingDisposal;

namespace {

struct Means {
    const char* name;
    FileSystemCapabilities capabilities;
};

FileSystemCapabilities without(std::initializer_list<bool FileSystemCapabilities::*> missing) {
    FileSystemCapabilities capabilities;
    for (bool FileSystemCapabilities::*flag : missing)
        (capabilities.*flag) = false;
    return capabilities;
}

// Every combination the file systems here show, and each missing piece alone.
const std::vector<Means>& everyMeans() {
    using C = FileSystemCapabilities;
    static const std::vector<Means> means = {
        {"all present", C{}},
        {"no unnamed files", without({&C::unnamedFiles})},
        {"no RENAME_NOREPLACE", without({&C::renameNoReplace})},
        {"no RENAME_NOREPLACE nor hard links", without({&C::renameNoReplace, &C::hardLinks})},
        {"no RENAME_EXCHANGE", without({&C::renameExchange})},
        {"like ntfs-3g and sshfs", without({&C::unnamedFiles, &C::renameNoReplace, &C::renameExchange})},
        {"like exFAT", without({&C::unnamedFiles, &C::renameNoReplace, &C::renameExchange, &C::hardLinks})},
    };
    return means;
}

struct ActingObserver : CopyObserver {
    std::size_t reports = 0;
    std::size_t actAtReport = SIZE_MAX; // 0: the report before the first byte
    std::function<void()> action;
    void progress(uint64_t, uint64_t) override {
        if (reports++ == actAtReport && action)
            action();
    }
};

// A name of the form copyTemporaryName() makes (".paritas-versions" is no temporary name).
bool holdsTemporaryName(const std::string& folder) {
    const std::string prefix = kCopyTempPrefix;
    for (const std::string& name : namesIn(folder))
        if (name.size() == prefix.size() + 16 + 4 && name.rfind(prefix, 0) == 0 && name.ends_with(".tmp"))
            return true;
    return false;
}

FileStamp stampAt(const std::string& path) {
    return fileFacts(path).value_or(FileStamp{});
}

// A scratch folder with A (sources), B (destinations) and K (what the disposal keeps).
struct Sides {
    Sides() {
        makeFolder(scratch.at("A"));
        makeFolder(scratch.at("B"));
        makeFolder(scratch.at("K"));
    }
    std::string a(const std::string& name) const { return scratch.at("A/" + name); }
    std::string b(const std::string& name) const { return scratch.at("B/" + name); }
    std::string k(const std::string& name) const { return scratch.at("K/" + name); }
    ScratchFolder scratch;
    LocationResolver locations{{scratch.at("A"), scratch.at("B")}};
};

// Smaller than a chunk: the report after the first one (1) comes when the bytes are copied and the
// copy has not yet taken its name.
constexpr std::size_t kContentSize = 200'000;

} // namespace

// Nothing expected at the destination: the copy appears whole under its name, or not at all, and a
// file that appears there while it is copied is never replaced.
TEST(EveryMeans, ACopyToANewNameNeverReplacesWhatAppeared) {
    for (const Means& means : everyMeans()) {
        for (const bool appears : {false, true}) {
            SCOPED_TRACE(std::string(means.name) + (appears ? ", a file appears meanwhile" : ""));
            Sides sides;
            const std::string bytes = patternBytes(kContentSize, 3);
            writeFile(sides.a("f"), bytes, 0640);
            setModified(sides.a("f"), 1'600'000'000, 123456789);
            ActingObserver observer;
            observer.actAtReport = 1;
            observer.action = [&] {
                if (appears)
                    writeFile(sides.b("f"), "appeared");
            };
            CopyOptions options;
            options.capabilities = &means.capabilities;
            const CopyResult result =
                copyFileBeneath(sides.locations, sides.a("f"), nullptr, sides.b("f"),
                                DestinationPlan{DestinationPlan::Kind::Nothing, {}}, observer, options);
            EXPECT_EQ(result.ok(), !appears);
            EXPECT_EQ(result.error, appears ? kChangedSincePlanning : 0);
            EXPECT_EQ(readFile(sides.b("f")), appears ? "appeared" : bytes);
            if (!appears) {
                EXPECT_EQ(statOf(sides.b("f"))->st_mtim.tv_nsec, 123456789);
                EXPECT_EQ(statOf(sides.b("f"))->st_mode & 0777, 0640u);
            }
            EXPECT_EQ(namesIn(sides.scratch.at("B")), std::vector<std::string>{"f"});
        }
    }
}

// While it is written, the new content of a file system without unnamed files is a hidden temporary
// file in the destination's folder, and never under the destination's name.
TEST(EveryMeans, WithoutUnnamedFilesTheContentIsWrittenUnderAHiddenTemporaryName) {
    Sides sides;
    writeFile(sides.a("f"), patternBytes(kContentSize, 4));
    const FileSystemCapabilities capabilities = without({&FileSystemCapabilities::unnamedFiles});
    ActingObserver observer;
    bool hiddenWhileCopying = false;
    bool visibleWhileCopying = true;
    observer.actAtReport = 1;
    observer.action = [&] {
        hiddenWhileCopying = holdsTemporaryName(sides.scratch.at("B"));
        visibleWhileCopying = exists(sides.b("f"));
    };
    CopyOptions options;
    options.capabilities = &capabilities;
    ASSERT_TRUE(copyFileBeneath(sides.locations, sides.a("f"), nullptr, sides.b("f"),
                                DestinationPlan{DestinationPlan::Kind::Nothing, {}}, observer, options)
                    .ok());
    EXPECT_TRUE(hiddenWhileCopying);
    EXPECT_FALSE(visibleWhileCopying);
    EXPECT_FALSE(holdsTemporaryName(sides.scratch.at("B")));
}

// A planned file is replaced only while it is the planned file; the old version goes to the
// disposal, and when the disposal cannot take it, it stays where it was and the copy fails.
TEST(EveryMeans, ACopyReplacesOnlyThePlannedFileAndKeepsTheOldVersion) {
    enum class World { Unchanged, RewrittenMeanwhile, DisposalRefuses };
    for (const Means& means : everyMeans()) {
        for (const World world : {World::Unchanged, World::RewrittenMeanwhile, World::DisposalRefuses}) {
            SCOPED_TRACE(std::string(means.name) + ", world " + std::to_string(int(world)));
            Sides sides;
            const std::string bytes = patternBytes(kContentSize, 5);
            writeFile(sides.a("f"), bytes);
            writeFile(sides.b("f"), "old version");
            const FileStamp planned = stampAt(sides.b("f"));
            ActingObserver observer;
            observer.actAtReport = 1;
            observer.action = [&] {
                if (world == World::RewrittenMeanwhile)
                    writeFile(sides.b("f"), "the user's newer words");
            };
            KeepingDisposal disposal(sides.scratch.at("K"), world == World::DisposalRefuses
                                                                ? KeepingDisposal::Mode::Refuse
                                                                : KeepingDisposal::Mode::Keep);
            CopyOptions options;
            options.capabilities = &means.capabilities;
            options.disposal = &disposal;
            const CopyResult result =
                copyFileBeneath(sides.locations, sides.a("f"), nullptr, sides.b("f"),
                                DestinationPlan{DestinationPlan::Kind::Planned, planned}, observer, options);
            switch (world) {
            case World::Unchanged:
                EXPECT_TRUE(result.ok()) << failureText(result.error) << " " << result.detail;
                EXPECT_EQ(readFile(sides.b("f")), bytes);
                EXPECT_EQ(readFile(sides.k("kept-1")), "old version");
                EXPECT_EQ(result.keptAt, sides.k("kept-1"));
                break;
            case World::RewrittenMeanwhile:
                EXPECT_EQ(result.error, kChangedSincePlanning);
                EXPECT_EQ(readFile(sides.b("f")), "the user's newer words");
                EXPECT_TRUE(namesIn(sides.scratch.at("K")).empty());
                break;
            case World::DisposalRefuses:
                EXPECT_EQ(result.error, EACCES);
                EXPECT_EQ(readFile(sides.b("f")), "old version");
                EXPECT_EQ(result.detail, "the test refuses to keep it");
                break;
            }
            EXPECT_EQ(namesIn(sides.scratch.at("B")), std::vector<std::string>{"f"});
        }
    }
}

// With a disposal and no plan, whatever file stands at the destination is kept, also one that
// appears while the copy is written.
TEST(EveryMeans, ACopyWithoutPlanKeepsAFileThatAppearedAtTheLastMoment) {
    for (const Means& means : everyMeans()) {
        SCOPED_TRACE(means.name);
        Sides sides;
        writeFile(sides.a("f"), "new");
        ActingObserver observer;
        observer.actAtReport = 0;
        observer.action = [&] { writeFile(sides.b("f"), "appeared"); };
        KeepingDisposal disposal(sides.scratch.at("K"));
        CopyOptions options;
        options.capabilities = &means.capabilities;
        options.disposal = &disposal;
        const CopyResult result = copyFileBeneath(sides.locations, sides.a("f"), nullptr, sides.b("f"),
                                                  DestinationPlan{}, observer, options);
        EXPECT_TRUE(result.ok()) << failureText(result.error);
        EXPECT_EQ(readFile(sides.b("f")), "new");
        EXPECT_EQ(readFile(sides.k("kept-1")), "appeared");
        EXPECT_EQ(namesIn(sides.scratch.at("B")), std::vector<std::string>{"f"});
    }
}

// A move never replaces: files, links and folders get their new name, or fail with EEXIST and
// everything stays.
TEST(EveryMeans, AMoveNeverReplaces) {
    for (const Means& means : everyMeans()) {
        SCOPED_TRACE(means.name);
        Sides sides;
        writeFile(sides.a("f"), "moved");
        writeFile(sides.a("g"), "stays");
        writeFile(sides.b("taken"), "taken");
        ASSERT_EQ(::symlink("f", sides.a("link").c_str()), 0);
        makeFolder(sides.a("folder"));
        writeFile(sides.a("folder/x"), "x");
        const FileSystemCapabilities* c = &means.capabilities;
        const FileStamp planned = stampAt(sides.a("f"));
        EXPECT_TRUE(moveIfUnchanged(sides.locations, sides.a("f"), &planned, sides.b("f"), c).ok());
        EXPECT_EQ(readFile(sides.b("f")), "moved");
        EXPECT_FALSE(exists(sides.a("f")));
        EXPECT_EQ(moveIfUnchanged(sides.locations, sides.a("g"), nullptr, sides.b("taken"), c).error, EEXIST);
        EXPECT_EQ(readFile(sides.a("g")), "stays");
        EXPECT_EQ(readFile(sides.b("taken")), "taken");
        EXPECT_TRUE(moveIfUnchanged(sides.locations, sides.a("link"), nullptr, sides.b("link"), c).ok());
        EXPECT_TRUE(S_ISLNK(statOf(sides.b("link"))->st_mode));
        EXPECT_TRUE(moveIfUnchanged(sides.locations, sides.a("folder"), nullptr, sides.b("folder"), c).ok());
        EXPECT_EQ(readFile(sides.b("folder/x")), "x");
        EXPECT_EQ(namesIn(sides.scratch.at("A")), std::vector<std::string>{"g"});
    }
}

// Two racers for one free name: a copy, and another program creating the name exclusively. Where
// the file system refuses a taken name in the same step that takes it (RENAME_NOREPLACE, a hard
// link), at most one of them can succeed. Where it cannot (the check right before a plain rename)
// both may, when the other program creates the file inside the window; then the copy stands there
// whole, never a mix. The rounds in which that happened are printed, as a measure of the window.
TEST(EveryMeans, ACopyRacingAnotherCreatorNeverReplacesItWhereTheFileSystemCanRefuse) {
    constexpr int kRounds = 120;
    for (const Means& means : everyMeans()) {
        SCOPED_TRACE(means.name);
        const bool refusesInOneStep = means.capabilities.renameNoReplace || means.capabilities.hardLinks;
        Sides sides;
        writeFile(sides.a("f"), "the copy");
        CopyOptions options;
        options.capabilities = &means.capabilities;
        std::mt19937 random(7);
        int bothSucceeded = 0;
        for (int round = 0; round < kRounds; ++round) {
            ::unlink(sides.b("f").c_str());
            std::atomic<bool> go{false};
            bool theyCreated = false;
            const int delay = int(random() % 400);
            std::thread other([&] {
                while (!go.load())
                    ;
                for (int spin = 0; spin < delay * 50; spin = spin + 1)
                    std::atomic_signal_fence(std::memory_order_seq_cst);
                const int fd = ::open(sides.b("f").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
                if (fd >= 0) {
                    theyCreated = ::write(fd, "theirs", 6) == 6;
                    ::close(fd);
                }
            });
            go = true;
            CopyObserver observer;
            const CopyResult result =
                copyFileBeneath(sides.locations, sides.a("f"), nullptr, sides.b("f"),
                                DestinationPlan{DestinationPlan::Kind::Nothing, {}}, observer, options);
            other.join();
            const auto content = readFile(sides.b("f"));
            ASSERT_TRUE(content == "the copy" || content == "theirs") << "round " << round;
            if (result.ok() && theyCreated)
                ++bothSucceeded;
            if (refusesInOneStep) {
                ASSERT_FALSE(result.ok() && theyCreated) << "round " << round << ": their file was replaced";
            }
        }
        EXPECT_FALSE(holdsTemporaryName(sides.scratch.at("B")));
        std::cout << "[ window   ] " << means.name << ": their file was replaced in " << bothSucceeded
                  << " of " << kRounds << " rounds\n";
    }
}

// Where inode numbers are not stable, the file at a path is the planned one by size and modified
// time alone; where they are, another inode number means another file.
TEST(Capabilities, PlannedStampsCompareInodeNumbersOnlyWhereTheyAreStable) {
    ScratchFolder scratch;
    writeFile(scratch.at("f"), "planned");
    FileStamp planned = stampAt(scratch.at("f"));
    planned.inode += 1; // as a FUSE daemon may number it after the kernel forgot it
    LocationResolver locations({scratch.path()});
    FileSystemCapabilities unstable;
    unstable.stableInodes = false;
    EXPECT_EQ(deleteIfUnchanged(locations, scratch.at("f"), &planned).error, kChangedSincePlanning);
    EXPECT_TRUE(exists(scratch.at("f")));
    EXPECT_TRUE(deleteIfUnchanged(locations, scratch.at("f"), &planned, &unstable).ok());
    EXPECT_FALSE(exists(scratch.at("f")));
}

// A case-only rename where letter case does not tell names apart is the file itself taking another
// spelling; where two entries really hold both spellings, nothing is replaced.
TEST(Capabilities, ACaseOnlyRenameNeverReplacesAnEntryOfThatSpelling) {
    ScratchFolder scratch;
    writeFile(scratch.at("Report.txt"), "upper");
    writeFile(scratch.at("report.txt"), "lower");
    LocationResolver locations({scratch.path()});
    FileSystemCapabilities insensitive;
    insensitive.caseSensitive = false;
    EXPECT_EQ(
        moveIfUnchanged(locations, scratch.at("Report.txt"), nullptr, scratch.at("report.txt"), &insensitive)
            .error,
        EEXIST);
    EXPECT_EQ(readFile(scratch.at("Report.txt")), "upper");
    EXPECT_EQ(readFile(scratch.at("report.txt")), "lower");
}

// The probe tries everything inside the folder and leaves nothing there; a folder it cannot write
// in gives the reason and the defaults.
TEST(Capabilities, TheProbeLeavesNothingBehindAndSaysWhyItCouldNotProbe) {
    ScratchFolder scratch;
    writeFile(scratch.at("mine"), "mine");
    const FileSystemCapabilities found = probeCapabilities(scratch.path());
    EXPECT_EQ(found.probeError, 0);
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"mine"});
    EXPECT_GE(found.timeGranularityNs, 1);

    const FileSystemCapabilities missing = probeCapabilities(scratch.at("none"));
    EXPECT_EQ(missing.probeError, ENOENT);
    EXPECT_TRUE(missing.renameNoReplace && missing.unnamedFiles && missing.hardLinks);

    makeFolder(scratch.at("ro"));
    if (::mount(scratch.at("ro").c_str(), scratch.at("ro").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount here (errno " << errno << "), so no read-only folder as root";
    ::mount(nullptr, scratch.at("ro").c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr);
    EXPECT_EQ(probeCapabilities(scratch.at("ro")).probeError, EROFS);
    ::umount2(scratch.at("ro").c_str(), MNT_DETACH);
}

// Reasons that say what happened to the source: appended to while it was copied, or replaced by
// something that is no file.
TEST(CopyReasons, ASourceThatChangedOrIsNoLongerAFileSaysSo) {
    ScratchFolder scratch;
    writeFile(scratch.at("src"), patternBytes(kContentSize, 6));
    ActingObserver observer;
    observer.actAtReport = 1;
    observer.action = [&] {
        const int fd = ::open(scratch.at("src").c_str(), O_WRONLY | O_APPEND);
        EXPECT_EQ(::write(fd, "more", 4), 4);
        ::close(fd);
    };
    const CopyResult appended = copyFileWithProgress(scratch.at("src"), scratch.at("dst"), observer);
    EXPECT_EQ(appended.error, kChangedWhileCopied);
    EXPECT_EQ(failureText(appended.error), "changed while it was copied");
    EXPECT_FALSE(exists(scratch.at("dst")));

    ::unlink(scratch.at("src").c_str());
    ASSERT_EQ(::mkfifo(scratch.at("src").c_str(), 0600), 0);
    CopyObserver quiet;
    const CopyResult fifo = copyFileWithProgress(scratch.at("src"), scratch.at("dst"), quiet);
    EXPECT_EQ(fifo.error, kNoLongerAFile);
    EXPECT_EQ(failureText(fifo.error), "is no longer a file");
}

// A move between two mounts of one file system (a folder of B bind-mounted inside B) cannot be a
// rename: it fails with its own code, and copyThenDeleteIfUnchanged moves the file by copying it and
// removing the source only while it is the file that was copied.
TEST(MoveAcrossMounts, FailsWithItsOwnCodeAndIsDoneByCopyThenDelete) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "bind mounts need root";
    ScratchFolder scratch;
    makeFolder(scratch.at("B"));
    makeFolder(scratch.at("B/inner"));
    makeFolder(scratch.at("elsewhere"));
    if (::mount(scratch.at("elsewhere").c_str(), scratch.at("B/inner").c_str(), nullptr, MS_BIND, nullptr) !=
        0)
        GTEST_SKIP() << "no bind mount here (errno " << errno << ")";
    struct Unmount {
        std::string point;
        ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
    } unmount{scratch.at("B/inner")};
    LocationResolver locations({scratch.at("B")});
    const std::string bytes = patternBytes(kContentSize, 8);
    writeFile(scratch.at("B/f"), bytes);
    setModified(scratch.at("B/f"), 1'500'000'000, 5);
    const FileStamp planned = stampAt(scratch.at("B/f"));

    EXPECT_EQ(moveIfUnchanged(locations, scratch.at("B/f"), &planned, scratch.at("B/inner/f")).error,
              kMoveAcrossFileSystems);
    EXPECT_TRUE(exists(scratch.at("B/f")));

    // The source changes while it is copied: nothing is moved, nothing is left.
    ActingObserver changing;
    changing.actAtReport = 1;
    changing.action = [&] { setModified(scratch.at("B/f"), 1'500'000'000, 6); };
    const CopyResult changed =
        copyThenDeleteIfUnchanged(locations, scratch.at("B/f"), nullptr, scratch.at("B/inner/f"), changing);
    EXPECT_EQ(changed.error, kChangedWhileCopied);
    EXPECT_TRUE(exists(scratch.at("B/f")));
    EXPECT_TRUE(namesIn(scratch.at("elsewhere")).empty());

    // A planned stamp that no longer matches: nothing is moved.
    CopyObserver quiet;
    EXPECT_EQ(
        copyThenDeleteIfUnchanged(locations, scratch.at("B/f"), &planned, scratch.at("B/inner/f"), quiet)
            .error,
        kChangedSincePlanning);
    EXPECT_TRUE(namesIn(scratch.at("elsewhere")).empty());

    // The destination is taken: never replaced.
    writeFile(scratch.at("B/inner/f"), "taken");
    const FileStamp now = stampAt(scratch.at("B/f"));
    EXPECT_EQ(
        copyThenDeleteIfUnchanged(locations, scratch.at("B/f"), &now, scratch.at("B/inner/f"), quiet).error,
        kChangedSincePlanning);
    EXPECT_EQ(readFile(scratch.at("B/inner/f")), "taken");
    ::unlink(scratch.at("B/inner/f").c_str());

    const CopyResult moved =
        copyThenDeleteIfUnchanged(locations, scratch.at("B/f"), &now, scratch.at("B/inner/f"), quiet);
    EXPECT_TRUE(moved.ok()) << failureText(moved.error);
    EXPECT_FALSE(exists(scratch.at("B/f")));
    EXPECT_EQ(readFile(scratch.at("elsewhere/f")), bytes);
    EXPECT_EQ(statOf(scratch.at("elsewhere/f"))->st_mtim.tv_nsec, 6);
}

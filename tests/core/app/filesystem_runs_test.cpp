// Whole runs (lock, recovery, scans, plan, actions) into a B on every file system a user plugs in:
// ext4, xfs, btrfs, tmpfs, exFAT through exfat-fuse, NTFS through ntfs-3g, sshfs to a local sshd
// (support/mounted_fs.h; a row that cannot be mounted here is skipped with its reason). A lies in a
// temporary folder of the test machine, as a user's own files do.
//
// Each row goes through the life of a backup disk: a first backup, an update of the same size with a
// newer time, a renamed folder, a case-only rename, a folder synch whose losers are kept, and runs
// killed with SIGKILL while they replace files, each followed by a run that must mend it. After every
// step B holds exactly what A holds, no temporary name or journal remains, and a second plan is empty.
// Every row prints one line per step ("[ matrix   ] exfat-fuse | case-only rename | pass").

#include "core/app/run.h"
#include "core/platform/capabilities.h"
#include "core/platform/work_journal.h"

#include "support/exec_fixture.h"
#include "support/mounted_fs.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <csignal>
#include <iostream>
#include <random>
#include <set>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;
using paritas::testing::namesIn;
using paritas::testing::readFile;
using paritas::testing::setModified;
using paritas::testing::writeFile;

namespace {

Settings runSettings(RemovedFiles removed = RemovedFiles::Delete) {
    Settings settings = quietSettings();
    settings.CheckTimeStamp = true; // an update of the same size is told by its time
    settings.removedFiles = removed;
    return settings;
}

class Runs : public RunHost {
public:
    SyncRecordingHost console;
    ScanHost& scanHost(Side) override { return console; }
    PlannerHost& plannerHost() override { return console; }
};

struct RunOutcome {
    bool prepared = false;
    std::string refusal;
    ActionList actions;
    ExecutionCounts counts;
    bool complete = false;
    std::vector<std::string> log;
};

// One run as the command line makes it (`execute` false: a plan only, which writes nothing).
RunOutcome runOnce(PlanKind kind, const std::string& a, const std::string& b, const Settings& settings,
                   bool execute = true, int workers = 1) {
    Runs host;
    host.console.settingsValue = settings;
    host.console.workers = workers;
    RunRequest request;
    request.kind = kind;
    request.locationA = a.back() == '/' ? a : a + "/"; // a location ends with its separator
    request.locationB = b.back() == '/' ? b : b + "/";
    request.settings = settings;
    request.planOnly = !execute;
    RunSession run(std::move(request));
    RunOutcome out;
    out.prepared = run.prepare(host);
    if (!out.prepared) {
        out.refusal = run.refusal() ? run.refusal()->reason : "";
    } else {
        out.actions = run.actions();
        if (execute) {
            StopFlags flags;
            out.counts = run.execute(host.console, flags);
        }
    }
    out.complete = run.complete();
    out.log = host.console.lines;
    return out;
}

// What belongs to no tree: the versions folder, a file system's trash and its checker's folder.
bool outsideTheTree(const std::string& relative) {
    return relative.rfind(".paritas-versions", 0) == 0 || relative.rfind(".Trash", 0) == 0 ||
           relative.rfind("lost+found", 0) == 0;
}

TreeSnapshot treeOf(const std::string& root) {
    SnapshotOptions options;
    options.modes = false; // exFAT and NTFS without a user mapping show fixed modes
    TreeSnapshot snapshot = snapshotTree(root, options);
    for (auto it = snapshot.begin(); it != snapshot.end();)
        it = outsideTheTree(it->first) ? snapshot.erase(it) : std::next(it);
    return snapshot;
}

std::string lastName(std::string path) {
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary names and journals anywhere below `root`.
std::vector<std::string> leftoversIn(const std::string& root) {
    std::vector<std::string> found;
    for (const auto& [path, state] : snapshotTree(root)) {
        const std::string name = lastName(path);
        if (isTemporaryName(name) || isJournalName(name))
            found.push_back(path);
    }
    return found;
}

// Every file below `root` (the mark of a versions folder aside), by content.
std::multiset<std::string> contentsBelow(const std::string& root) {
    std::multiset<std::string> contents;
    if (::access(root.c_str(), F_OK) != 0)
        return contents;
    for (const auto& [path, state] : snapshotTree(root))
        if (state.type == NodeState::Type::File && lastName(path) != ".paritas-versions-folder")
            contents.insert(readFile(root + "/" + path).value_or(""));
    return contents;
}

std::string joinedLines(const ActionList& actions) {
    std::string text;
    for (const PlanItem& item : actions)
        text += lineText(item) + "\n";
    return text;
}

// B holds what A holds, nothing is left under a temporary name, and a second plan is empty.
void expectSettled(const std::string& a, const std::string& b, PlanKind kind = PlanKind::Backup) {
    EXPECT_EQ(snapshotDifferences(treeOf(a), treeOf(b)), "");
    EXPECT_EQ(leftoversIn(b), std::vector<std::string>{});
    const RunOutcome again = runOnce(kind, a, b, runSettings(), false);
    EXPECT_TRUE(again.prepared) << again.refusal;
    EXPECT_EQ(joinedLines(again.actions), "");
    EXPECT_TRUE(again.complete);
}

void expectRan(const RunOutcome& run) {
    EXPECT_TRUE(run.prepared) << run.refusal;
    EXPECT_EQ(run.counts.bad, 0) << [&] {
        std::string log;
        for (const std::string& line : run.log)
            log += line + "\n";
        return log;
    }();
}

// A file's content for a round of the killing test: the same size every round.
std::string roundContent(int round, int file) {
    std::string text = "round " + std::to_string(round) + " file " + std::to_string(file) + "\n";
    text.resize(48 << 10, char('a' + (round * 7 + file) % 26));
    return text;
}

constexpr int kKilledFiles = 40;
constexpr time_t kBaseTime = 1'700'000'000;

void writeRound(const std::string& a, int round) {
    std::filesystem::create_directories(a + "/many");
    for (int file = 0; file < kKilledFiles; ++file) {
        const std::string path = a + "/many/f" + std::to_string(file) + ".bin";
        writeFile(path, roundContent(round, file));
        setModified(path, kBaseTime + round * 10, 0);
    }
}

struct KillRecord {
    int rounds = 0;
    int leftBehind = 0; // kills after which temporary names or a journal stood in B
};

// Runs a backup with versions in a child and kills it with SIGKILL after `delay`; then a run here
// must mend what it left: B as A, no temporary name, every replaced version in the versions folder.
void killThenMend(const std::string& a, const std::string& b, int round, std::chrono::microseconds delay,
                  int workers, KillRecord& record) {
    writeRound(a, round);
    const Settings settings = runSettings(RemovedFiles::Versions);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        runOnce(PlanKind::Backup, a, b, settings, true, workers);
        ::_exit(0); // never the parent's exit handlers (they unmount the rows)
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ++record.rounds;
    if (!leftoversIn(b).empty())
        ++record.leftBehind;
    const RunOutcome mended = runOnce(PlanKind::Backup, a, b, settings, true, workers);
    expectRan(mended);
    expectSettled(a, b);
    const std::multiset<std::string> versions = contentsBelow(b + "/.paritas-versions");
    for (int file = 0; file < kKilledFiles; ++file)
        EXPECT_TRUE(versions.count(roundContent(round - 1, file)))
            << "the version of round " << round - 1 << " of f" << file << " was lost";
}

int failuresSoFar() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i)
        failed += result->GetTestPartResult(i).failed();
    return failed;
}

class EveryFileSystem : public MountedFileSystemTest {
protected:
    // Runs one step; prints its line of the matrix.
    void step(const std::string& name, const std::function<void()>& body) {
        const int before = failuresSoFar();
        {
            SCOPED_TRACE(name);
            body();
        }
        std::cout << "[ matrix   ] " << fileSystem().name() << " | " << name << " | "
                  << (failuresSoFar() == before ? "pass" : "FAIL") << "\n";
    }
};

} // namespace

TEST_P(EveryFileSystem, ABackupDiskLivesThroughEveryStepAndEveryKill) {
    TempTree tree("A/docs/report.txt = the report, version one\n"
                  "A/docs/notes.txt = notes of B\n"
                  "A/photos/Photo.JPG = a photo\n"
                  "A/photos/2026/trip.jpg = a trip\n"
                  "A/big.bin size=1500000\n");
    const std::string a = tree.path("A");
    const std::string b = folder() + "/B";

    step("first backup", [&] {
        const RunOutcome run = runOnce(PlanKind::Backup, a, b, runSettings());
        expectRan(run);
        expectSettled(a, b);
    });
    step("update of the same size with a newer time", [&] {
        tree.file("A/docs/report.txt", "the report, version two");
        tree.setModifiedTime("A/docs/report.txt", kBaseTime + 3600);
        const RunOutcome run = runOnce(PlanKind::Backup, a, b, runSettings());
        expectRan(run);
        EXPECT_EQ(readFile(b + "/docs/report.txt").value_or(""), "the report, version two");
        expectSettled(a, b);
    });
    step("renamed folder", [&] {
        ASSERT_EQ(::rename(tree.path("A/photos").c_str(), tree.path("A/pictures").c_str()), 0);
        const RunOutcome run = runOnce(PlanKind::Backup, a, b, runSettings());
        expectRan(run);
        EXPECT_NE(joinedLines(run.actions).find("Move-Rename " + b + "/photos/Photo.JPG*"), std::string::npos)
            << joinedLines(run.actions);
        expectSettled(a, b);
    });
    step("case-only rename", [&] {
        ASSERT_EQ(
            ::rename(tree.path("A/pictures/Photo.JPG").c_str(), tree.path("A/pictures/photo.jpg").c_str()),
            0);
        const bool folds = !probeCapabilities(b).caseSensitive;
        const RunOutcome run = runOnce(PlanKind::Backup, a, b, runSettings());
        expectRan(run);
        // Where B folds letter case the old spelling is the same file: it is renamed, never deleted.
        // Elsewhere it is another name, which the name criterion does not match.
        EXPECT_EQ(joinedLines(run.actions),
                  folds ? "Move-Rename " + b + "/pictures/Photo.JPG*" + b + "/pictures/photo.jpg\n"
                        : "Copy " + a + "/pictures/photo.jpg*" + b + "/pictures/photo.jpg\nDeleteFile " + b +
                              "/pictures/Photo.JPG\n");
        EXPECT_EQ(namesIn(b + "/pictures"), (std::vector<std::string>{"2026", "photo.jpg"}));
        EXPECT_EQ(readFile(b + "/pictures/photo.jpg").value_or(""), "a photo");
        expectSettled(a, b);
    });
    step("folder synch with the loser kept", [&] {
        tree.file("A/docs/report.txt", "the report, version 3!");
        tree.setModifiedTime("A/docs/report.txt", kBaseTime + 7200);
        writeFile(b + "/docs/notes.txt", "notes of B, edited");
        setModified(b + "/docs/notes.txt", kBaseTime + 7200, 0);
        tree.setModifiedTime("A/docs/notes.txt", kBaseTime);
        const RunOutcome run = runOnce(PlanKind::FolderSynch, a, b, runSettings(RemovedFiles::Versions));
        expectRan(run);
        EXPECT_EQ(tree.read("A/docs/notes.txt"), "notes of B, edited");
        EXPECT_EQ(readFile(b + "/docs/report.txt").value_or(""), "the report, version 3!");
        EXPECT_TRUE(contentsBelow(b + "/.paritas-versions").count("the report, version two"));
        EXPECT_TRUE(contentsBelow(tree.path("A/.paritas-versions")).count("notes of B"));
        expectSettled(a, b, PlanKind::FolderSynch);
    });
    step("kill -9 during replacements, then a rerun", [&] {
        writeRound(a, 0);
        expectRan(runOnce(PlanKind::Backup, a, b, runSettings(RemovedFiles::Versions)));
        // One replacement run unkilled, to learn how long one takes here.
        writeRound(a, 1);
        const auto start = std::chrono::steady_clock::now();
        expectRan(runOnce(PlanKind::Backup, a, b, runSettings(RemovedFiles::Versions)));
        const auto took =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        std::mt19937 random(20261209u + unsigned(GetParam()));
        KillRecord record;
        for (int round = 2; round < 8 && !HasFailure(); ++round) {
            std::uniform_int_distribution<int64_t> at(0, took.count());
            killThenMend(a, b, round, std::chrono::microseconds(at(random)), round % 2 ? 4 : 1, record);
        }
        std::cout << "[ kills    ] " << fileSystem().name() << ": " << record.rounds << " runs killed within "
                  << took.count() / 1000 << " ms, " << record.leftBehind
                  << " left temporary names or a journal behind\n";
    });
}

PARITAS_ON_EVERY_FILE_SYSTEM(EveryFileSystem);

// Many kills at random moments on the test machine's own file system, with one and with many copy
// workers: whatever moment the kill comes at, the next run leaves B as A and loses no version.
TEST(KilledRuns, ManyKillsAtRandomMomentsAreAllMended) {
    TempTree tree("A/\n");
    const std::string a = tree.path("A");
    const std::string b = tree.path("B");
    writeRound(a, 0);
    expectRan(runOnce(PlanKind::Backup, a, b, runSettings(RemovedFiles::Versions)));
    writeRound(a, 1);
    const auto start = std::chrono::steady_clock::now();
    expectRan(runOnce(PlanKind::Backup, a, b, runSettings(RemovedFiles::Versions)));
    const auto took =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::mt19937 random(7u);
    KillRecord record;
    for (int round = 2; round < 22 && !::testing::Test::HasFailure(); ++round) {
        std::uniform_int_distribution<int64_t> at(0, took.count());
        killThenMend(a, b, round, std::chrono::microseconds(at(random)), round % 2 ? 4 : 1, record);
    }
    std::cout << "[ kills    ] local: " << record.rounds << " runs killed within " << took.count() / 1000
              << " ms, " << record.leftBehind << " left temporary names or a journal behind\n";
}

// The top of an ext4 file system holds lost+found, which belongs to the file system's checker.
TEST(FileSystemTop, ABackupToTheTopOfAnExt4FileSystemLeavesItsLostAndFoundAlone) {
    MountedFileSystem ext4(FileSystemKind::Ext4);
    if (!ext4.mounted())
        GTEST_SKIP() << ext4.skipReason();
    ASSERT_EQ(::access((ext4.root() + "/lost+found").c_str(), F_OK), 0);
    writeFile(ext4.root() + "/old.txt", "not in A");
    TempTree tree("A/a.txt = a\n");
    const RunOutcome run = runOnce(PlanKind::Backup, tree.path("A"), ext4.root(), runSettings());
    expectRan(run);
    EXPECT_EQ(joinedLines(run.actions), "Copy " + tree.path("A/a.txt") + "*" + ext4.root() + "/a.txt\n" +
                                            "DeleteFile " + ext4.root() + "/old.txt\n");
    EXPECT_EQ(::access((ext4.root() + "/lost+found").c_str(), F_OK), 0);
}

// A folder of B's own disk bound into B: a move between the two fails with EXDEV, and is done as a
// copy and a delete of the unchanged source instead, in one run.
TEST(BindMountInB, AMoveAcrossItIsACopyThenADelete) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a bind mount needs root";
    TempTree tree("A/inside/f.txt = moved\nB/outside/f.txt = moved\nB/inside/\nelsewhere/\n");
    ASSERT_EQ(
        ::mount(tree.path("elsewhere").c_str(), tree.path("B/inside").c_str(), nullptr, MS_BIND, nullptr), 0);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{tree.path("B/inside")};
    tree.setModifiedTime("A/inside/f.txt", kBaseTime);
    tree.setModifiedTime("B/outside/f.txt", kBaseTime);
    const std::string b = tree.path("B");
    const RunOutcome run = runOnce(PlanKind::Backup, tree.path("A"), b, runSettings());
    expectRan(run);
    EXPECT_TRUE(hasLine(run.log, "Success Move-Rename to " + b + "/inside/f.txt"))
        << joinedLines(run.actions);
    EXPECT_EQ(tree.read("elsewhere/f.txt"), "moved");
    EXPECT_FALSE(tree.exists("B/outside/f.txt"));
    const RunOutcome again = runOnce(PlanKind::Backup, tree.path("A"), b, runSettings(), false);
    EXPECT_EQ(joinedLines(again.actions), "");
}

// Runs with a remote location as B, on every backend the tests can reach on this machine: backup
// (first run, update, a renamed folder, deletions), folder synch, copy missing, deleting duplicates,
// and a server that goes away in the middle of a run followed by a run that converges.

#include "core/platform/beneath.h"
#include "core/platform/versions_folder.h"
#include "core/remote/remote_failure.h"
#include "core/remote/remote_ops.h"

#include "remote_run_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>

using namespace paritas;
using namespace paritas::test;
using namespace std::chrono_literals;

namespace {

std::string filesOnly(const std::string& lines) {
    std::istringstream in(lines);
    std::string line, kept;
    while (std::getline(in, line))
        if (!line.empty() && line.back() != '/')
            kept += line + "\n";
    return kept;
}

int countLinesStarting(const std::vector<std::string>& lines, const std::string& start) {
    int count = 0;
    for (const std::string& line : lines)
        count += line.rfind(start, 0) == 0;
    return count;
}

class RemoteRuns : public OnBackend {
protected:
    void SetUp() override {
        OnBackend::SetUp();
        if (IsSkipped())
            return;
        // The test holds the session, so that :memory: keeps its files from one run to the next.
        RcResult failure;
        session = RemoteSession::acquire(failure);
        ASSERT_TRUE(session) << describe(failure);
        b = place->location("B/");
        a = source.root();
    }

    // B read back: on disk with contents where there is a disk, else names and sizes through rclone.
    std::string bNow() {
        if (place->onDisk())
            return contentLines(place->disk("B/"));
        RcResult failure;
        auto location = RemoteLocation::open(b, failure);
        return location ? filesOnly(remoteSizes(*location)) : "<" + describe(failure) + ">";
    }
    std::string aNow() { return place->onDisk() ? contentLines(a) : filesOnly(localSizes(a)); }

    RemoteFsInfo info() {
        RcResult failure;
        auto location = RemoteLocation::open(b, failure);
        return location ? location->info() : RemoteFsInfo{};
    }

    nlohmann::json stats() {
        nlohmann::json reply;
        EXPECT_TRUE(session->client().call("core/stats", nlohmann::json::object(), reply));
        return reply;
    }

    TempTree source;
    std::shared_ptr<RemoteSession> session;
    std::string a, b;
};


TEST_P(RemoteRuns, BackupFirstRunUpdateRenamedFolderAndDeletionsConverge) {
    source.write("top/\nother/o1 = one\nother/o2 = two\nroot.txt = root\nbig.bin size=5000000\n");
    for (int i = 0; i < 40; ++i)
        source.file("top/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    source.file("top/sub/deep.txt", "deep");
    Settings settings = unattended();
    settings.removedFiles = RemovedFiles::Versions;

    // First run: everything is copied.
    RunOutcome first = runOnce(PlanKind::Backup, a, b, settings);
    ASSERT_TRUE(first.planned) << first.refusal->reason;
    EXPECT_EQ(first.counts.bad, 0) << first.failures();
    EXPECT_EQ(bNow(), aNow());

    // An update: the old version goes into the versions folder on the remote.
    source.file("other/o1", "one, longer now");
    RunOutcome update = runOnce(PlanKind::Backup, a, b, settings);
    EXPECT_EQ(update.counts.bad, 0) << update.failures();
    EXPECT_EQ(update.counts.good, 1);
    EXPECT_EQ(bNow(), aNow());
    EXPECT_EQ(countLinesStarting(update.lines, "Old version moved to the versions folder: " + b +
                                                   kVersionsFolderName + "/other/o1"),
              1)
        << ::testing::PrintToString(update.lines);

    // A renamed folder: moves on the server, not one byte uploaded.
    source.remove("top");
    for (int i = 0; i < 40; ++i)
        source.file("top renamed/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    source.file("top renamed/sub/deep.txt", "deep");
    nlohmann::json reset;
    ASSERT_TRUE(session->client().call("core/stats-reset", nlohmann::json::object(), reset));
    const auto uploadsBefore = session->uploads();
    const uint64_t callsBefore = session->client().callsMade();
    const uint64_t foldersMadeBefore = session->client().callsOf("operations/mkdir");
    RunOutcome renamed = runOnce(PlanKind::Backup, a, b, settings);
    const uint64_t callsOfRename = session->client().callsMade() - callsBefore;
    const uint64_t foldersMadeByRename = session->client().callsOf("operations/mkdir") - foldersMadeBefore;
    EXPECT_EQ(renamed.counts.bad, 0) << renamed.failures();
    EXPECT_EQ(countLinesStarting(renamed.lines, "Success Move-Rename to "), 41);
    EXPECT_EQ(session->uploads().files, uploadsBefore.files);
    EXPECT_EQ(session->uploads().bytes, uploadsBefore.bytes);
    EXPECT_EQ(bNow(), aNow());
    if (info().canMoveFolders) {
        // One folder move: rclone counts neither bytes nor per-file renames for it.
        const nlohmann::json counted = stats();
        EXPECT_EQ(counted.value("bytes", -1), 0) << counted.dump();
        EXPECT_EQ(counted.value("transfers", -1), 0) << counted.dump();
        EXPECT_EQ(counted.value("renames", -1), 0) << counted.dump();
        // Neither the plan nor the move asks the remote about each file of the renamed folder: the
        // listings already showed that the new folder is not there.
        EXPECT_LT(callsOfRename, 41u);
        // The folder takes its new name when the line that makes it comes: no folder is made there
        // only to be taken away again for the move.
        EXPECT_EQ(foldersMadeByRename, 0u);
    }

    // Deletions: the removed file is kept in the versions folder, and the next run has nothing to do.
    source.remove("other/o2");
    RunOutcome deletion = runOnce(PlanKind::Backup, a, b, settings);
    EXPECT_EQ(deletion.counts.bad, 0) << deletion.failures();
    EXPECT_EQ(bNow(), aNow());
    RunOutcome again = runOnce(PlanKind::Backup, a, b, settings);
    EXPECT_TRUE(again.planned);
    EXPECT_EQ(again.actions, 0u) << ::testing::PrintToString(again.lines);
}

TEST_P(RemoteRuns, FolderSynchCopiesEachWayByTheNewerFileOrIsRefusedWhereNoTimesAreKept) {
    source.file("from-a.txt", "made in A");
    ASSERT_TRUE(runOnce(PlanKind::Backup, a, b).planned);
    source.remove("from-a.txt");
    source.file("only-a.txt", "only in A");
    // B gets a file of its own through a second location (its own backup from another folder).
    TempTree other("only-b.txt = only in B\n");
    ASSERT_EQ(runOnce(PlanKind::CopyMissing, other.root(), b).counts.bad, 0);

    RunOutcome synch = runOnce(PlanKind::FolderSynch, a, b);
    if (!info().keepsModifiedTimes) {
        ASSERT_FALSE(synch.planned);
        EXPECT_NE(synch.refusal->reason.find("keeps no modification times"), std::string::npos)
            << synch.refusal->reason;
        EXPECT_NE(synch.refusal->reason.find("Folder synch"), std::string::npos) << synch.refusal->reason;
        return;
    }
    ASSERT_TRUE(synch.planned) << synch.refusal->reason;
    EXPECT_EQ(synch.counts.bad, 0) << synch.failures();
    EXPECT_EQ(source.read("only-b.txt"), "only in B"); // fetched from the remote
    EXPECT_EQ(source.read("from-a.txt"), "made in A");
    EXPECT_EQ(bNow(), aNow());
}

TEST_P(RemoteRuns, TheTimeCriterionIsRefusedWhereTheRemoteKeepsNoTimes) {
    source.file("x.txt", "x");
    Settings settings = unattended();
    settings.CheckTimeStamp = true;
    RunOutcome run = runOnce(PlanKind::Backup, a, b, settings);
    if (info().keepsModifiedTimes) {
        EXPECT_TRUE(run.planned);
        EXPECT_EQ(run.counts.bad, 0) << run.failures();
        // A second run sees the times it set: nothing to do.
        EXPECT_EQ(runOnce(PlanKind::Backup, a, b, settings).actions, 0u);
        return;
    }
    ASSERT_FALSE(run.planned);
    EXPECT_NE(run.refusal->reason.find("--criteria size,name"), std::string::npos) << run.refusal->reason;
}

// B's own file stays; A's file of the same name arrives beside it under the dated copy name.
TEST_P(RemoteRuns, CopyMissingLeavesWhatBHoldsAndAddsWhatItLacks) {
    TempTree earlier("kept.txt = B's own version\n");
    ASSERT_EQ(runOnce(PlanKind::Backup, earlier.root(), b).counts.bad, 0);
    source.file("kept.txt", "A's version, longer").file("new/added.txt", "added");
    RunOutcome run = runOnce(PlanKind::CopyMissing, a, b);
    EXPECT_EQ(run.counts.bad, 0) << run.failures();
    EXPECT_EQ(run.counts.good, 3); // the new folder, the new file, the dated copy
    const std::string now = filesOnly(bNow());
    EXPECT_NE(now.find("kept.txt 15"), std::string::npos) << now;
    EXPECT_NE(now.find("new/added.txt 5"), std::string::npos) << now;
    EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 3) << now;
    EXPECT_EQ(runOnce(PlanKind::CopyMissing, a, b).actions, 0u);
}

TEST_P(RemoteRuns, DuplicatesInBAreDeletedOnlyWhenTheirBytesAreTheOriginals) {
    TempTree earlier("elsewhere/same.txt = same bytes\nelsewhere/lookalike.txt = other bytes\n");
    ASSERT_EQ(runOnce(PlanKind::Backup, earlier.root(), b).counts.bad, 0);
    source.file("same.txt", "same bytes").file("lookalike.txt", "OTHER BYTES");
    RunOutcome run = runOnce(PlanKind::DeleteDuplicates, a, b);
    ASSERT_TRUE(run.planned) << run.refusal->reason;
    EXPECT_EQ(run.counts.good, 1) << ::testing::PrintToString(run.lines);
    EXPECT_EQ(run.counts.bad, 1);
    EXPECT_NE(run.failures().find("Original differs from the duplicate"), std::string::npos)
        << run.failures();
    TempTree expected("elsewhere/lookalike.txt = other bytes\n");
    EXPECT_EQ(bNow(),
              place->onDisk() ? contentLines(expected.root()) : filesOnly(localSizes(expected.root())));
}

TEST_P(RemoteRuns, TheTrashIsRefusedOnceInFullAndNothingIsDeletedInstead) {
    source.file("a.txt", "a").file("b.txt", "b").file("c.txt", "c");
    ASSERT_EQ(runOnce(PlanKind::Backup, a, b).counts.bad, 0);
    source.remove("a.txt").remove("b.txt").file("c.txt", "c, changed");
    Settings settings = unattended();
    settings.removedFiles = RemovedFiles::Trash;
    RunOutcome run = runOnce(PlanKind::Backup, a, b, settings);
    EXPECT_EQ(run.counts.good, 0) << run.failures();
    EXPECT_EQ(run.counts.bad, 3);
    EXPECT_EQ(
        countLinesStarting(run.lines, "Reason: " + failureText(kNoTrashOnRemote) + ": keep removed files"), 1)
        << run.failures();
    EXPECT_EQ(countLinesStarting(run.lines, "Reason: " + failureText(kNoTrashOnRemote)), 3) << run.failures();
    TempTree expected("a.txt = a\nb.txt = b\nc.txt = c\n");
    EXPECT_EQ(bNow(),
              place->onDisk() ? contentLines(expected.root()) : filesOnly(localSizes(expected.root())));
}

// The server goes away in the middle of a backup: the lines after it fail at once with the reason, no
// file stands truncated under its name, no old version is lost, and the next run converges.
TEST_P(RemoteRuns, AServerKilledHalfWayFailsTheRestQuicklyAndTheNextRunConverges) {
    if (!place->onDisk() || GetParam() == Backend::Local)
        GTEST_SKIP() << backendName(GetParam()) << " has no server to kill";
    for (int i = 0; i < 120; ++i)
        source.file("many/f" + std::to_string(i) + ".txt", std::string(1000 + i, 'a' + i % 26));
    source.file("keep.txt", "old");
    ASSERT_EQ(runOnce(PlanKind::Backup, a, b).counts.bad, 0);
    source.file("keep.txt", "new, and longer");
    for (int i = 0; i < 120; ++i)
        source.file("many/f" + std::to_string(i) + ".txt", std::string(2000 + i, 'A' + i % 26));

    RemoteRunHost host;
    int copies = 0;
    bool killed = false;
    host.onLine = [&](const std::string& line) {
        if (line.rfind("Success Copy-File", 0) == 0 && ++copies == 30 && !killed) {
            killed = true;
            place->killServer();
        }
    };
    const auto started = std::chrono::steady_clock::now();
    RunOutcome cut = runOnce(PlanKind::Backup, a, b, unattended(), host);
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(killed);
    EXPECT_GT(cut.counts.bad, 50);
    EXPECT_LT(took, 60s);
    EXPECT_NE(cut.failures().find(failureText(kRemoteConnectionLost)), std::string::npos) << cut.failures();
    // Whatever stands under a file's name is a whole version of it, old or new. A replacement cut
    // between the old file stepping aside and the new one taking its name leaves the name empty: the
    // old file then stands under a hidden temporary name beside it, and the line's reason says where.
    std::vector<std::string> aside;
    for (const auto& entry : std::filesystem::directory_iterator(work.path("served/B/many"))) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kCopyTempPrefix, 0) == 0)
            aside.push_back(work.read("served/B/many/" + name));
    }
    const std::string failures = cut.failures();
    for (int i = 0; i < 120; ++i) {
        const std::string name = "B/many/f" + std::to_string(i) + ".txt";
        const std::string old(1000 + i, 'a' + i % 26);
        if (!work.exists("served/" + name)) {
            EXPECT_NE(std::find(aside.begin(), aside.end(), old), aside.end()) << name << " is lost";
            EXPECT_NE(failures.find("the old file stays at"), std::string::npos) << failures;
            continue;
        }
        const std::string there = work.read("served/" + name);
        EXPECT_TRUE(there == old || there == std::string(2000 + i, 'A' + i % 26))
            << name << " holds " << there.size() << " bytes";
    }

    ASSERT_TRUE(place->restartServer()) << place->skipReason();
    b = place->location("B/");
    RunOutcome rerun = runOnce(PlanKind::Backup, a, b);
    EXPECT_EQ(rerun.counts.bad, 0) << rerun.failures();
    EXPECT_EQ(bNow(), aNow());
    // The cut run's leftovers (copies, old files aside, its mark) were settled by the rerun.
    std::vector<std::string> hidden;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(work.path("served/B")))
        if (entry.path().filename().string().rfind(kCopyTempPrefix, 0) == 0)
            hidden.push_back(entry.path().string());
    EXPECT_TRUE(hidden.empty()) << ::testing::PrintToString(hidden);
}

INSTANTIATE_TEST_SUITE_P(Backends, RemoteRuns,
                         ::testing::Values(Backend::Memory, Backend::Local, Backend::RcloneSftp,
                                           Backend::RcloneWebDav, Backend::OpenSsh),
                         backendParamName);

} // namespace

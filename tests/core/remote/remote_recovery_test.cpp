// A run killed on a remote location is mended by the next: the leftovers it made under hidden names
// (a copy that never took its name, an old version that stepped aside for its replacement) are
// settled before the scan, as the removed-files setting says, and nothing is lost.

#include "core/platform/versions_folder.h"
#include "core/platform/work_journal.h"

#include "remote_run_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace paritas;
using namespace paritas::test;

namespace {

// Every name below `folder` on disk that starts with ".paritas-", the versions folder left out.
std::vector<std::string> hiddenNamesBelow(const std::string& folder) {
    std::vector<std::string> found;
    namespace fs = std::filesystem;
    for (auto at = fs::recursive_directory_iterator(folder); at != fs::recursive_directory_iterator(); ++at) {
        const std::string name = at->path().filename().string();
        if (name == kVersionsFolderName) {
            at.disable_recursion_pending();
            continue;
        }
        if (name.rfind(".paritas-", 0) == 0)
            found.push_back(fs::relative(at->path(), folder).string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The contents of every file in the versions folder below `folder`, sorted.
std::vector<std::string> versionsHeld(const TempTree& tree, const std::string& folder) {
    std::vector<std::string> held;
    const std::string versions = folder + kVersionsFolderName;
    if (!tree.exists(versions))
        return held;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path(versions)))
        if (entry.is_regular_file() && entry.path().filename() != kVersionsMarkName)
            held.push_back(tree.read(std::filesystem::relative(entry.path(), tree.root()).string()));
    std::sort(held.begin(), held.end());
    return held;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

class RemoteRecovery : public OnBackend {};

constexpr const char* kAsideFree = ".paritas-00000000000000a1.aside.a.txt";
constexpr const char* kAsideTaken = ".paritas-00000000000000b1.aside.b.txt";
constexpr const char* kUnfinished = ".paritas-00000000000000c1.tmp";
constexpr const char* kMark = ".paritas-journal-00000000000000d1";
constexpr const char* kWave = ".paritas-00000000000000e1.tmp"; // new folders' files sent together

// A killed replacement of docs/a.txt (the old file aside, the name still empty), one of docs/b.txt (the
// new file in place, the old one still aside), a copy cut short, and the files of new folders sent in
// one go that never took their places, with the killed run's mark.
TEST_P(RemoteRecovery, TheNextRunSettlesWhatAKilledRunLeftAsTheRemovedFilesSettingSays) {
    const struct {
        const char* name;
        RemovedFiles removed;
        std::string leftOldB; // the line that tells what became of b.txt's old version
        std::string aAfter;   // docs/a.txt afterwards
        std::vector<std::string> hiddenAfter;
        std::vector<std::string> versions;
    } cases[] = {
        {"delete",
         RemovedFiles::Delete,
         "Deleted the old version an interrupted run had replaced: ",
         "new a, longer",
         {},
         {}},
        {"versions",
         RemovedFiles::Versions,
         "Kept the old version an interrupted run had replaced: ",
         "new a, longer",
         {},
         {"old a", "old b"}},
        // A remote has no trash: b.txt's old version stays under its hidden name, and so does the mark;
        // a.txt is put back and its replacement fails, as every replacement does with the trash.
        {"trash",
         RemovedFiles::Trash,
         "A leftover of an interrupted run stays: ",
         "old a",
         {kMark, std::string("docs/") + kAsideTaken},
         {}},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = "served/case" + std::to_string(index++) + "/";
        TempTree source("docs/a.txt = new a, longer\ndocs/b.txt = new b\nkeep.txt = keep\n");
        work.file(folder + "keep.txt", "keep")
            .file(folder + "docs/b.txt", "new b")
            .file(folder + "docs/" + kAsideFree, "old a")
            .file(folder + "docs/" + kAsideTaken, "old b")
            .file(folder + "docs/" + kUnfinished, "partial")
            .file(folder + kWave + "/tmp/a/new/n1.txt", "sent")
            .file(folder + kWave + "/tmp/a/new/n2.txt", "sent, cut")
            .file(folder + kMark, "");
        const std::string b = place->location(folder.substr(std::string("served/").size()));
        Settings settings = unattended();
        settings.removedFiles = c.removed;

        const RunOutcome run = runOnce(PlanKind::Backup, source.root(), b, settings);
        ASSERT_TRUE(run.planned) << run.refusal->reason;
        EXPECT_TRUE(
            hasLine(run.lines, "Put back the file an interrupted run had moved aside: " + b + "docs/a.txt"))
            << ::testing::PrintToString(run.lines);
        EXPECT_TRUE(hasLine(run.lines, "Removed the unfinished copy of an interrupted run: " + b + "docs/" +
                                           kUnfinished))
            << ::testing::PrintToString(run.lines);
        EXPECT_TRUE(hasLine(run.lines, "Removed the unfinished upload of an interrupted run: " + b + kWave + "/"))
            << ::testing::PrintToString(run.lines);
        EXPECT_TRUE(hasLine(
            run.lines,
            c.leftOldB + (c.removed == RemovedFiles::Trash ? b + "docs/" + kAsideTaken : b + "docs/b.txt")))
            << ::testing::PrintToString(run.lines);
        // Only the leftover that has nowhere to go is left for the scan to tell of.
        EXPECT_EQ(hasLine(run.lines, "Skipped temporary file"), !c.hiddenAfter.empty())
            << ::testing::PrintToString(run.lines);

        EXPECT_EQ(work.read(folder + "docs/a.txt"), c.aAfter);
        EXPECT_EQ(work.read(folder + "docs/b.txt"), "new b");
        EXPECT_EQ(hiddenNamesBelow(work.path(folder)), c.hiddenAfter);
        EXPECT_EQ(versionsHeld(work, folder), c.versions);
        if (c.removed == RemovedFiles::Trash) {
            EXPECT_EQ(work.read(folder + "docs/" + kAsideTaken), "old b");
            continue;
        }
        EXPECT_EQ(run.counts.bad, 0) << run.failures();
        EXPECT_EQ(contentLines(work.path(folder)), contentLines(source.root()));
        // Nothing is left for the run after.
        const RunOutcome again = runOnce(PlanKind::Backup, source.root(), b, settings);
        EXPECT_EQ(again.actions, 0u) << ::testing::PrintToString(again.lines);
        EXPECT_FALSE(hasLine(again.lines, "Removed the unfinished")) << ::testing::PrintToString(again.lines);
    }
}

// Without the killed run's mark the names are not the run's to settle: they are told of and left,
// as any file so named is, and no run lists the whole remote to look for them.
TEST_P(RemoteRecovery, HiddenNamesWithoutARunsMarkAreLeftAndToldOf) {
    TempTree source("a.txt = a\n");
    work.file("served/B/" + std::string(kAsideFree), "old a")
        .file("served/B/" + std::string(kUnfinished), "x");
    const std::string b = place->location("B/");
    const RunOutcome run = runOnce(PlanKind::Backup, source.root(), b, unattended());
    ASSERT_TRUE(run.planned) << run.refusal->reason;
    EXPECT_EQ(run.counts.bad, 0) << run.failures();
    EXPECT_EQ(
        std::count_if(run.lines.begin(), run.lines.end(),
                      [](const std::string& line) { return line.rfind("Skipped temporary file", 0) == 0; }),
        2)
        << ::testing::PrintToString(run.lines);
    EXPECT_EQ(hiddenNamesBelow(work.path("served/B")), (std::vector<std::string>{kAsideFree, kUnfinished}));
    EXPECT_EQ(work.read("served/B/a.txt"), "a");
}

INSTANTIATE_TEST_SUITE_P(Backends, RemoteRecovery, ::testing::Values(Backend::Local, Backend::RcloneSftp),
                         backendParamName);

} // namespace

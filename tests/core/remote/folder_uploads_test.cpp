// New folders on a remote filled in one go: the files of a run's new folders go in one rclone copy
// into a hidden folder and take their places by server-side folder moves, while each copy line still
// reports its own file, and nothing but a complete file as planned ever stands under a final name.

#include "core/remote/folder_uploads.h"
#include "core/remote/remote_ops.h"

#include "remote_run_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace paritas;
using namespace paritas::test;

namespace {

int countLinesStarting(const std::vector<std::string>& lines, const std::string& start) {
    int count = 0;
    for (const std::string& line : lines)
        count += line.rfind(start, 0) == 0;
    return count;
}

// Every name beneath a folder on disk that a run of Paritas gives its own work.
std::vector<std::string> hiddenNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename().string().rfind(".paritas-", 0) == 0)
            names.push_back(entry.path().string());
    return names;
}

class FolderUploads : public OnBackend {
protected:
    void SetUp() override {
        OnBackend::SetUp();
        if (IsSkipped())
            return;
        RcResult failure;
        session = RemoteSession::acquire(failure);
        ASSERT_TRUE(session) << describe(failure);
        work.folder("served/B/");
        b = place->location("B/");
        // Two new folders of small files (one with a deeper level and an empty folder), a large file
        // that goes by its own line, and a file at the top, where no folder is new.
        for (int i = 0; i < 12; ++i) {
            source.file("docs/f" + std::to_string(i) + ".txt", "doc " + std::to_string(i));
            source.file("docs/deeper/g" + std::to_string(i) + ".txt", "deeper " + std::to_string(i));
            source.file("photos/p" + std::to_string(i) + ".jpg", std::string(100 + i, 'p'));
        }
        source.folder("docs/empty/");
        source.sizedFile("photos/large.raw", kUploadFileLimit + 1);
        source.file("top.txt", "at the top");
    }
    uint64_t calls(const char* method) { return session->client().callsOf(method); }

    TempTree source;
    std::shared_ptr<RemoteSession> session;
    std::string b;
};

TEST_P(FolderUploads, NewFoldersArriveInOneCopyAndEveryLineReportsItsFile) {
    const uint64_t copiesBefore = calls("sync/copy");
    const uint64_t filesBefore = calls("operations/copyfile");
    const RunOutcome first = runOnce(PlanKind::Backup, source.root(), b);
    ASSERT_EQ(first.counts.bad, 0) << first.failures();
    EXPECT_EQ(countLinesStarting(first.lines, "Success Copy-File to "), 38);
    EXPECT_EQ(contentLines(place->disk("B/")), contentLines(source.root()));
    EXPECT_TRUE(hiddenNames(place->disk("B/")).empty()) << ::testing::PrintToString(hiddenNames(place->disk("B/")));
    // Both folders in one copy; the large file and the one at the top each by their own (and the
    // run's mark, an empty file).
    EXPECT_EQ(calls("sync/copy") - copiesBefore, 1u);
    EXPECT_EQ(calls("operations/copyfile") - filesBefore, 3u);

    const RunOutcome again = runOnce(PlanKind::Backup, source.root(), b);
    EXPECT_EQ(again.counts.bad, 0) << again.failures();
    EXPECT_EQ(again.counts.good, 0) << "a backup that arrived in one go converges";
}

TEST_P(FolderUploads, ASourceThatChangesOrGoesAfterThePlanIsNeverPlacedAndItsLineSaysWhy) {
    const struct {
        const char* name;
        bool removed; // else rewritten with another size
        const char* reason;
    } cases[] = {
        {"changed", false, "changed since it was seen"},
        {"removed", true, "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = std::string("case-") + c.name + "/";
        work.folder("served/" + target);
        RemoteRunHost host;
        host.onLine = [&](const std::string& line) {
            if (line.rfind("Actions Started", 0) != 0)
                return;
            if (c.removed)
                source.remove("docs/deeper/g3.txt");
            else
                source.file("docs/deeper/g3.txt", "rewritten after the plan, longer");
        };
        const RunOutcome run = runOnce(PlanKind::Backup, source.root(), place->location(target), unattended(), host);
        EXPECT_EQ(run.counts.bad, 1) << run.failures();
        const auto failed = std::find(run.lines.begin(), run.lines.end(),
                                      "Failed Copy-File to " + place->location(target) + "docs/deeper/g3.txt");
        ASSERT_NE(failed, run.lines.end()) << run.failures();
        ASSERT_NE(failed + 1, run.lines.end());
        EXPECT_NE(failed[1].find(c.reason), std::string::npos) << failed[1];
        EXPECT_FALSE(work.exists("served/" + target + "docs/deeper/g3.txt"));
        EXPECT_TRUE(work.exists("served/" + target + "docs/deeper/g4.txt"));
        EXPECT_TRUE(hiddenNames(place->disk(target)).empty());
        source.file("docs/deeper/g3.txt", "deeper 3");
    }
}

TEST_P(FolderUploads, AStopDuringTheUploadMakesTheFolderEmptyAndLeavesNothingHidden) {
    RemoteRunHost host;
    host.onLine = [&](const std::string& line) {
        if (line.rfind("Actions Started", 0) == 0 && host.runFlags)
            host.runFlags->action = true;
    };
    const RunOutcome run = runOnce(PlanKind::Backup, source.root(), b, unattended(), host);
    EXPECT_TRUE(run.counts.stopped);
    EXPECT_EQ(countLinesStarting(run.lines, "Success Copy-File to "), 0);
    EXPECT_TRUE(work.exists("served/B/docs"));
    EXPECT_FALSE(work.exists("served/B/docs/f0.txt"));
    EXPECT_TRUE(hiddenNames(place->disk("B/")).empty()) << ::testing::PrintToString(hiddenNames(place->disk("B/")));
}

// Property: whatever mix of new folders, folders B already holds in part and files that differ, one
// backup leaves B a mirror of A with nothing hidden behind, and the next run has nothing to do.
TEST_P(FolderUploads, AnyTreeArrivesWholeAndTheNextRunHasNothingToDo) {
    constexpr int kCases = 6;
    const uint64_t copiesBefore = calls("sync/copy");
    const uint64_t filesBefore = calls("operations/copyfile");
    for (uint32_t seed = 1; seed <= kCases; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        auto below = [&](int n) { return int(rng() % uint32_t(n)); };
        TempTree a;
        const std::string target = "tree" + std::to_string(seed) + "/";
        work.folder("served/" + target);
        std::vector<std::string> folders{""};
        for (int k = 0, count = 3 + below(6); k < count; ++k) {
            const std::string folder = folders[below(int(folders.size()))] + "d" + std::to_string(k) + "/";
            folders.push_back(folder);
            a.folder(folder);
            // B holds some of them already, with some of their files, one of them different.
            const bool inB = below(3) == 0;
            for (int f = 0, files = below(9); f < files; ++f) {
                const std::string name = folder + (below(4) == 0 ? "#odd name " : "f") + std::to_string(f) + ".txt";
                const std::string content(1 + below(300), char('a' + below(26)));
                a.file(name, content);
                if (inB && below(2) == 0)
                    work.file("served/" + target + name, below(3) == 0 ? content + "x" : content);
            }
        }
        const RunOutcome first = runOnce(PlanKind::Backup, a.root(), place->location(target));
        ASSERT_TRUE(first.planned);
        EXPECT_EQ(first.counts.bad, 0) << first.failures();
        EXPECT_EQ(contentLines(place->disk(target)), contentLines(a.root()));
        EXPECT_TRUE(hiddenNames(place->disk(target)).empty());
        const RunOutcome again = runOnce(PlanKind::Backup, a.root(), place->location(target));
        EXPECT_EQ(again.actions, 0u) << ::testing::PrintToString(again.lines);
    }
    // The cases went both ways: in one go, and file by file.
    EXPECT_GT(calls("sync/copy"), copiesBefore);
    EXPECT_GT(calls("operations/copyfile"), filesBefore + kCases);
}

// The server goes away while the files are under way: no file stands under its name but complete,
// the lines fail with the reason, and the next run removes the hidden folder and converges.
TEST_P(FolderUploads, AServerLostDuringTheUploadLeavesNoPartAndTheNextRunConverges) {
    if (GetParam() != Backend::RcloneSftp)
        GTEST_SKIP() << backendName(GetParam()) << " has no server to kill";
    for (int i = 0; i < 400; ++i)
        source.file("many/m" + std::to_string(i) + ".dat", std::string(20000 + i, 'a' + i % 26));
    RemoteRunHost host;
    bool killed = false;
    host.onKeepAlive = [&] {
        if (!killed && host.runFlags && !work.exists("served/B/many")) {
            for (const auto& entry : std::filesystem::directory_iterator(place->disk("B/")))
                if (entry.is_directory() && entry.path().filename().string().rfind(".paritas-", 0) == 0) {
                    killed = place->killServer();
                    break;
                }
        }
    };
    const RunOutcome lost = runOnce(PlanKind::Backup, source.root(), b, unattended(), host);
    ASSERT_TRUE(killed) << "the server was not lost while files were under way";
    EXPECT_GT(lost.counts.bad, 0);
    // Whatever stands under a final name is the whole file.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(place->disk("B/"))) {
        const std::string relative = std::filesystem::relative(entry.path(), place->disk("B/")).string();
        if (entry.is_regular_file() && relative.rfind(".paritas-", 0) != 0) {
            EXPECT_EQ(work.read("served/B/" + relative), source.read(relative)) << relative;
        }
    }

    ASSERT_TRUE(place->restartServer());
    b = place->location("B/");
    const RunOutcome again = runOnce(PlanKind::Backup, source.root(), b);
    EXPECT_EQ(again.counts.bad, 0) << again.failures();
    EXPECT_EQ(contentLines(place->disk("B/")), contentLines(source.root()));
    EXPECT_TRUE(hiddenNames(place->disk("B/")).empty()) << ::testing::PrintToString(hiddenNames(place->disk("B/")));
}

INSTANTIATE_TEST_SUITE_P(Backends, FolderUploads, ::testing::Values(Backend::Local, Backend::RcloneSftp),
                         backendParamName);

// Which new folders the lines let a remote fill in one go.
TEST(FolderUploadPlan, TakesTheTopNewFolderWithItsCopiesAndLeavesWhatItCannotCarry) {
    const std::string location = "nas:b/";
    auto make = [](const std::string& path) {
        ActionAhead line;
        line.kind = ActionAhead::Kind::MakeFolder;
        line.path = path;
        return line;
    };
    auto copy = [](const std::string& from, const std::string& to, int64_t size = 10) {
        ActionAhead line;
        line.kind = ActionAhead::Kind::Copy;
        line.path = from;
        line.destination = to;
        line.stampKnown = true;
        line.stamp.size = size;
        return line;
    };
    auto newFolder = [&](std::vector<ActionAhead> lines) {
        const FolderUploadPlan plan(lines, location);
        std::string text;
        for (const FolderUpload& upload : plan.uploads())
            text += upload.folder + " <- " + upload.source + " (" + std::to_string(upload.members.size()) + ") ";
        return text;
    };
    std::vector<ActionAhead> docs{make("nas:b/docs/"), make("nas:b/docs/sub/")};
    for (int i = 0; i < 4; ++i)
        docs.push_back(copy("/a/docs/sub/f" + std::to_string(i), "nas:b/docs/sub/f" + std::to_string(i)));
    EXPECT_EQ(newFolder(docs), "nas:b/docs/ <- /a/docs/ (4) ");

    const struct {
        const char* name;
        ActionAhead line;
        std::string expected;
    } cases[] = {
        {"a large file goes by its own line", copy("/a/docs/big", "nas:b/docs/big", kUploadFileLimit),
         "nas:b/docs/ <- /a/docs/ (4) "},
        {"a copy from another folder", copy("/elsewhere/x", "nas:b/docs/x"), "nas:b/docs/sub/ <- /a/docs/sub/ (4) "},
        {"a name folding into another", copy("/a/docs/sub/F0", "nas:b/docs/sub/F0"), ""},
        {"a line deleting beneath it", [] {
             ActionAhead line;
             line.kind = ActionAhead::Kind::Delete;
             line.path = "nas:b/docs/sub/old";
             return line;
         }(),
         ""},
        {"a source that is a remote", copy("other:a/docs/y", "nas:b/docs/y"), "nas:b/docs/ <- /a/docs/ (4) "},
        {"a name with a line break", copy("/a/docs/sub/x\ny", "nas:b/docs/sub/x\ny"),
         "nas:b/docs/ <- /a/docs/ (4) "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ActionAhead> lines = docs;
        lines.push_back(c.line);
        EXPECT_EQ(newFolder(lines), c.expected);
    }
}

} // namespace

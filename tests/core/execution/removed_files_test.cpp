// What becomes of the files a run removes or replaces: the desktop's trash on the file's own file
// system, or a versions folder; and copies verified by reading them back. All on real folders.

#include "core/execution/removed_files.h"
#include "core/planning/plan_support.h"
#include "core/platform/datetime.h"
#include "core/platform/versions_folder.h"

#include "support/exec_fixture.h"
#include "support/plan_items.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <sys/mount.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;
namespace fx = paritas::testing;

namespace {

// XDG_DATA_HOME for the life of the object, so that no test touches the real home trash.
class DataHome {
public:
    explicit DataHome(const std::string& folder) {
        const char* old = std::getenv("XDG_DATA_HOME");
        had_ = old != nullptr;
        saved_ = old ? old : "";
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    }
    ~DataHome() {
        if (had_)
            ::setenv("XDG_DATA_HOME", saved_.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

private:
    bool had_;
    std::string saved_;
};

// A small tmpfs at `folder`, unmounted at the end; ok() is false where mounting is not permitted.
class TmpfsMount {
public:
    explicit TmpfsMount(const std::string& folder) : folder_(folder) {
        ::mkdir(folder.c_str(), 0755);
        mounted_ = ::mount("paritas-test", folder.c_str(), "tmpfs", 0, "size=8m,mode=0755") == 0;
        error_ = errno;
    }
    ~TmpfsMount() {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool ok() const { return mounted_; }
    int error() const { return error_; }

private:
    std::string folder_;
    bool mounted_ = false;
    int error_ = 0;
};

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

Settings keeping(RemovedFiles choice) {
    Settings s = quietSettings();
    s.CheckTimeStamp = true; // a file edited in place is another file
    s.removedFiles = choice;
    return s;
}

struct TrashEntry {
    std::string name; // in files/
    std::string path; // the Path= line's value
    std::string date; // the DeletionDate= line's value
};

// Every info file of a trash folder, read as a file manager reads it.
std::vector<TrashEntry> trashEntries(const std::string& trash) {
    std::vector<TrashEntry> entries;
    for (const std::string& infoName : fx::namesIn(trash + "/info")) {
        const std::string text = fx::readFile(trash + "/info/" + infoName).value_or("");
        std::smatch m;
        if (!std::regex_match(text, m, std::regex("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(.*)\n")))
            ADD_FAILURE() << infoName << " is no info file a file manager reads: " << text;
        entries.push_back(
            {infoName.substr(0, infoName.size() - std::string(".trashinfo").size()), m[1], m[2]});
    }
    return entries;
}

// The local time of an info file's DeletionDate, or -1.
std::time_t deletionMoment(const std::string& text) {
    std::tm local{};
    if (!::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &local))
        return -1;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

struct Kept {
    std::string path;    // Path= as a file manager finds it (percent-encoded)
    std::string content; // of the file in the trash
};

// Checks that the trash at `trash` holds exactly `expected`, each deleted between `from` and `to`.
void expectTrashHolds(const std::string& trash, const std::vector<Kept>& expected, std::time_t from,
                      std::time_t to) {
    const std::vector<TrashEntry> entries = trashEntries(trash);
    EXPECT_EQ(entries.size(), expected.size());
    EXPECT_EQ(fx::namesIn(trash + "/files").size(), expected.size());
    for (const Kept& kept : expected) {
        const auto entry = std::find_if(entries.begin(), entries.end(),
                                        [&](const TrashEntry& e) { return e.path == kept.path; });
        if (entry == entries.end()) {
            ADD_FAILURE() << "no info file with Path=" << kept.path;
            continue;
        }
        EXPECT_EQ(fx::readFile(trash + "/files/" + entry->name), kept.content) << kept.path;
        const std::time_t when = deletionMoment(entry->date);
        EXPECT_TRUE(std::regex_match(entry->date, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")))
            << entry->date;
        EXPECT_TRUE(when >= from && when <= to) << entry->date;
    }
}

std::size_t linesStarting(const std::vector<std::string>& lines, const std::string& start) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

} // namespace

// Every file a run deletes or replaces, in every mode that does, lands in the home trash when it lies
// on the home trash's file system, with an info file that names where it stood.
TEST(KeptFiles, OnTheHomeFileSystemTheTrashGetsEveryDeletedAndReplacedFile) {
    struct Case {
        const char* name;
        int mode;
        int workers;
        const char* tree;
        std::vector<Kept> kept;                                 // paths below the tree's real root
        std::vector<std::pair<std::string, std::string>> after; // files and the content they hold now
    };
    const char* backupTree = "A/docs/r.txt = newer @2026-01-02 00:00:00\n"
                             "B/docs/r.txt = old @2020-01-01 00:00:00\n"
                             "B/a b%\xc3\xbc.txt = gone\n"
                             "B/.Trash-0/x = only a folder's name: B is no file system's top\n";
    const std::vector<Case> cases = {
        {"backup",
         0,
         1,
         backupTree,
         {{"B/docs/r.txt", "old"},
          {"B/a%20b%25%C3%BC.txt", "gone"},
          {"B/.Trash-0/x", "only a folder's name: B is no file system's top"}},
         {{"B/docs/r.txt", "newer"}}},
        {"backup, four copies at once over files of one name",
         0,
         4,
         "A/d1/r.txt = new 1 @2026-01-02 00:00:00\nA/d2/r.txt = new 2 @2026-01-02 00:00:00\n"
         "A/d3/r.txt = new 3 @2026-01-02 00:00:00\nA/d4/r.txt = new 4 @2026-01-02 00:00:00\n"
         "B/d1/r.txt = old 1\nB/d2/r.txt = old 2\nB/d3/r.txt = old 3\nB/d4/r.txt = old 4\n",
         {{"B/d1/r.txt", "old 1"}, {"B/d2/r.txt", "old 2"}, {"B/d3/r.txt", "old 3"}, {"B/d4/r.txt", "old 4"}},
         {{"B/d1/r.txt", "new 1"}, {"B/d4/r.txt", "new 4"}}},
        {"folder synch replaces the older side",
         1,
         1,
         "A/r.txt = older @2020-01-01 00:00:00\nB/r.txt = newest @2026-01-02 00:00:00\n",
         {{"A/r.txt", "older"}},
         {{"A/r.txt", "newest"}, {"B/r.txt", "newest"}}},
        {"duplicates in B",
         3,
         1,
         "A/d.txt = same @2025-01-01 00:00:00\nB/sub/d.txt = same @2025-01-01 00:00:00\n",
         {{"B/sub/d.txt", "same"}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree(c.tree);
        tree.folder("A").folder("B").folder("xdg");
        const DataHome home(tree.path("xdg"));
        const std::string root = realPath(tree.root());
        const std::time_t before = std::time(nullptr);
        const SyncRun run =
            syncOnce(c.mode, tree.path("A/"), tree.path("B/"), keeping(RemovedFiles::Trash), true, c.workers);
        const std::time_t after = std::time(nullptr);
        EXPECT_EQ(run.counts.bad, 0);
        std::vector<Kept> expected;
        for (const Kept& kept : c.kept)
            expected.push_back({root + "/" + kept.path, kept.content});
        expectTrashHolds(tree.path("xdg/Trash"), expected, before, after);
        for (const auto& [file, content] : c.after)
            EXPECT_EQ(tree.read(file), content) << file;
        EXPECT_EQ(
            linesStarting(run.log, "Moved to the trash: " + tree.path("xdg/Trash/files/")) +
                linesStarting(run.log, "Old version moved to the trash: " + tree.path("xdg/Trash/files/")),
            c.kept.size());
        EXPECT_TRUE(
            hasLine(run.log, "Kept " + std::to_string(c.kept.size()) +
                                 " removed or replaced file(s) in the trash (the file manager puts them "
                                 "back): " +
                                 std::to_string(c.kept.size()) + " in " + tree.path("xdg/Trash/files")));
    }
}

// On a file system of its own (a tmpfs mounted here as its top T), a file goes to T's trash, never to
// the home trash on another disk: T/.Trash/$uid when T/.Trash is a real sticky folder, else
// T/.Trash-$uid; when neither can be used the file stays and its line fails. When B is T, the trash
// is none of B's files.
TEST(KeptFiles, OnAnotherFileSystemTheTrashLiesAtItsTopOrTheFileStays) {
    const std::string uid = std::to_string(::getuid());
    struct Case {
        const char* name;
        std::function<void(const std::string& top)> prepare;
        const char* b;     // B below the top; empty: B is the top
        std::string trash; // below the top; empty: no trash can be used
    };
    const std::vector<Case> cases = {
        {"no .Trash", [](const std::string&) {}, "", ".Trash-" + uid},
        {".Trash with the sticky bit",
         [](const std::string& top) { ::mkdir((top + "/.Trash").c_str(), 01777); }, "", ".Trash/" + uid},
        {".Trash without the sticky bit",
         [](const std::string& top) { ::mkdir((top + "/.Trash").c_str(), 0777); }, "", ".Trash-" + uid},
        {".Trash a link to a sticky folder",
         [](const std::string& top) {
             ::mkdir((top + "/shared").c_str(), 01777);
             ::symlink("shared", (top + "/.Trash").c_str());
         },
         "B/", ".Trash-" + uid},
        {".Trash-$uid holds a file named files",
         [&](const std::string& top) {
             ::mkdir((top + "/.Trash-" + uid).c_str(), 0700);
             fx::writeFile(top + "/.Trash-" + uid + "/files", "not a folder");
         },
         "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree("A/docs/r.txt = newer @2026-01-02 00:00:00\nxdg/\n");
        const TmpfsMount top(tree.path("top"));
        if (!top.ok())
            GTEST_SKIP() << "mounting a tmpfs is not permitted here (errno " << top.error() << ")";
        const std::string b = std::string("top/") + c.b;
        tree.write(b + "docs/r.txt = old @2020-01-01 00:00:00\n" + b + "x.txt = gone\n");
        c.prepare(tree.path("top"));
        const DataHome home(tree.path("xdg"));
        const std::time_t before = std::time(nullptr);
        const SyncRun run = syncOnce(0, tree.path("A/"), tree.path(b), keeping(RemovedFiles::Trash));
        const std::time_t after = std::time(nullptr);
        EXPECT_TRUE(fx::namesIn(tree.path("xdg")).empty()) << "nothing goes to the home trash";
        if (c.trash.empty()) {
            EXPECT_EQ(run.counts.bad, 2);
            EXPECT_EQ(tree.read(b + "docs/r.txt"), "old");
            EXPECT_EQ(tree.read(b + "x.txt"), "gone");
            EXPECT_EQ(linesStarting(run.log, "Reason: no trash on the file's own file system could be used"),
                      2u);
            continue;
        }
        EXPECT_EQ(run.counts.bad, 0);
        EXPECT_EQ(tree.read(b + "docs/r.txt"), "newer");
        EXPECT_FALSE(tree.exists(b + "x.txt"));
        expectTrashHolds(tree.path("top/" + c.trash),
                         {{std::string(c.b) + "docs/r.txt", "old"}, {std::string(c.b) + "x.txt", "gone"}},
                         before, after);
        const SyncRun again = syncOnce(0, tree.path("A/"), tree.path(b), keeping(RemovedFiles::Trash));
        EXPECT_TRUE(again.plan.actions.empty());
    }
}

// A versions folder keeps each removed or replaced file under its path below its location, with the
// run's time in its name; the scans never list the default one; a chosen one lies outside A and B.
TEST(KeptFiles, AVersionsFolderKeepsRelativePathsWithTheRunsTime) {
    struct Case {
        const char* name;
        const char* chosen; // below the tree; empty: B/.paritas-versions
        const char* root;   // where the versions land, below the tree; empty: nowhere (the lines fail)
    };
    const std::vector<Case> cases = {
        {"the default folder", "", "B/.paritas-versions"},
        {"a chosen folder outside A and B", "kept", "kept"},
        {"a chosen folder inside B", "B/old", ""},
        {"a chosen folder that holds other files", "mine", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree("A/docs/r.txt = newer @2026-01-02 00:00:00\nB/docs/r.txt = old @2020-01-01 00:00:00\n"
                      "B/gone/x.txt = gone\nB/old/\n");
        for (const char* name : {"p1", "p2", "p3", "p4"}) // replaced at once by four copies
            tree.write(std::string("A/docs/") + name + " = new @2026-01-02 00:00:00\nB/docs/" + name +
                       " = old\n");
        tree.file("mine/photo.jpg", "mine");
        Settings settings = keeping(RemovedFiles::Versions);
        if (*c.chosen)
            settings.versionsFolder = tree.path(c.chosen);
        const std::time_t before = std::time(nullptr);
        const SyncRun run = syncOnce(0, tree.path("A/"), tree.path("B/"), settings, true, 4);
        const std::time_t after = std::time(nullptr);
        if (!*c.root) {
            EXPECT_EQ(tree.read("B/gone/x.txt"), "gone");
            EXPECT_EQ(tree.read("B/docs/r.txt"), "old");
            EXPECT_TRUE(hasLineStarting(run.log, "Reason: the versions folder cannot be used"));
            continue;
        }
        EXPECT_EQ(run.counts.bad, 0);
        EXPECT_EQ(tree.read("B/docs/r.txt"), "newer");
        EXPECT_FALSE(tree.exists("B/gone"));
        // The run's time is the moment it started, as a dated name carries a time.
        bool found = false;
        for (std::time_t t = before; t <= after && !found; ++t) {
            const std::string date = nameSafeDateText(dateTimeText(t));
            const std::string r = std::string(c.root) + "/docs/" + datedName("r.txt", date);
            const std::string x = std::string(c.root) + "/gone/" + datedName("x.txt", date);
            found = tree.exists(r) && tree.read(r) == "old" && tree.exists(x) && tree.read(x) == "gone";
        }
        EXPECT_TRUE(found) << "in " << c.root << ": " << ::testing::PrintToString(tree.snapshot());
        EXPECT_EQ(fx::namesIn(tree.path(std::string(c.root) + "/docs")).size(), 5u);
        EXPECT_TRUE(hasLineStarting(run.log, "Kept 6 removed or replaced file(s) in the versions folder"));
        const SyncRun again = syncOnce(0, tree.path("A/"), tree.path("B/"), settings);
        EXPECT_TRUE(again.plan.actions.empty()) << "the versions are none of B's files";
    }
}

// At the end of a run, versions that were moved in more than the days kept ago are removed, with the
// folders they leave empty; younger ones stay.
TEST(KeptFiles, VersionsOlderThanTheDaysKeptArePruned) {
    struct Case {
        int keepDays;
        int ageDays; // how long after the versions were made the prune runs
        bool removed;
    };
    for (const Case& c : std::vector<Case>{{7, 8, true}, {7, 6, false}, {30, 31, true}, {30, 29, false}}) {
        SCOPED_TRACE(std::to_string(c.keepDays) + " days kept, " + std::to_string(c.ageDays) + " days old");
        TempTree tree("A/\nB/deep/er/x.txt = gone\nB/y.txt = gone too\n");
        Settings settings = keeping(RemovedFiles::Versions);
        settings.versionsKeepDays = c.keepDays;
        EXPECT_EQ(syncOnce(0, tree.path("A/"), tree.path("B/"), settings).counts.bad, 0);
        // The two versions, and the mark that makes the folder Paritas's own.
        ASSERT_EQ(fx::namesIn(tree.path("B/.paritas-versions")).size(), 3u);

        RemovedFileKeeper keeper(settings, {tree.path("A/"), tree.path("B/")}, std::time(nullptr));
        const std::vector<std::string> lines =
            keeper.prune({tree.path("B/")}, std::time(nullptr) + c.ageDays * 24 * 60 * 60);
        const std::vector<std::string> left = fx::namesIn(tree.path("B/.paritas-versions"));
        EXPECT_EQ(left == std::vector<std::string>{kVersionsMarkName}, c.removed);
        EXPECT_TRUE(tree.exists("B/.paritas-versions"));
        EXPECT_EQ(lines, c.removed ? std::vector<std::string>{"Removed 2 version(s) older than " +
                                                              std::to_string(c.keepDays) + " day(s) from " +
                                                              tree.path("B/.paritas-versions")}
                                   : std::vector<std::string>{});
    }
}

// Where a move keeps no time of its own (a remote), a version's age is read from its name: every name
// the keeper gives reads back as the run's start, whatever the name's length and the attempt.
TEST(KeptFiles, AVersionsNameReadsBackTheTimeOfItsRun) {
    std::tm midnight{};
    midnight.tm_year = 2026 - 1900;
    midnight.tm_mon = 0;
    midnight.tm_mday = 5;
    midnight.tm_isdst = -1;
    const std::time_t times[] = {std::mktime(&midnight), std::mktime(&midnight) + 13 * 3600 + 5 * 60 + 9,
                                 std::time_t(1700000000)};
    const std::string names[] = {"report.txt", "archive.tar.gz", "ab",          "a.b",
                                 "x",          "no extension",   "12_09_26.txt"};
    for (const std::time_t when : times)
        for (const std::string& name : names)
            for (const int attempt : {0, 1, 11}) {
                RemovedFileKeeper keeper(keeping(RemovedFiles::Versions), {}, when);
                const std::string version = keeper.versionName(name, attempt);
                SCOPED_TRACE(version);
                std::time_t read = 0;
                ASSERT_TRUE(versionTimeInName(version, read));
                EXPECT_EQ(read, when);
            }
    for (const char* plain : {"report.txt", "a (2).txt", "", "99_99_99 99_99_99.txt"}) {
        std::time_t read = 0;
        EXPECT_FALSE(versionTimeInName(plain, read)) << plain;
    }
}

// Only a folder that Paritas took as a versions folder (empty then, marked since) is ever pruned: a
// chosen folder of one's own files keeps them however old they are.
TEST(KeptFiles, PruningTouchesOnlyAFolderTakenForVersions) {
    for (const bool taken : {false, true}) {
        SCOPED_TRACE(taken ? "taken when empty" : "holding the user's files");
        TempTree tree("A/\nB/x.txt = gone\n");
        if (!taken)
            tree.file("mine/photo.jpg", "the user's own");
        Settings settings = keeping(RemovedFiles::Versions);
        settings.versionsFolder = tree.path("mine");
        settings.versionsKeepDays = 7;
        const SyncRun run = syncOnce(0, tree.path("A/"), tree.path("B/"), settings);
        EXPECT_EQ(run.counts.bad, taken ? 0 : 1);
        RemovedFileKeeper keeper(settings, {tree.path("A/"), tree.path("B/")}, std::time(nullptr));
        keeper.prune({tree.path("B/")}, std::time(nullptr) + 30 * 24 * 60 * 60);
        if (taken) {
            EXPECT_EQ(fx::namesIn(tree.path("mine")), std::vector<std::string>{kVersionsMarkName});
        } else {
            EXPECT_EQ(tree.read("mine/photo.jpg"), "the user's own");
            EXPECT_EQ(tree.read("B/x.txt"), "gone");
        }
    }
}

namespace {

// Damages every verified copy just before it is read back.
class DamagingHost : public fx::RecordingHost {
public:
    std::function<void(int fd)> damage;

    CopyResult copyWithProgress(CopyTask& copy, std::string_view, StopFlags&) override {
        struct Damaging : CopyObserver {
            std::function<void(int)>& damage;
            explicit Damaging(std::function<void(int)>& d) : damage(d) {}
            void beforeReadBack(int fd) override {
                if (damage)
                    damage(fd);
            }
        } observer(damage);
        return copy.run(observer);
    }
};

} // namespace

// A verified copy is read back and compared with the source before it takes its name: a copy that
// differs fails its line and the old version stays; an undamaged one (holes included) succeeds.
TEST(VerifiedCopies, ADamagedCopyFailsAndLeavesTheOldVersionInPlace) {
    struct Case {
        const char* name;
        bool sparse;
        std::function<void(int)> damage;
        bool fails;
    };
    const std::vector<Case> cases = {
        {"undamaged", false, nullptr, false},
        {"undamaged with holes", true, nullptr, false},
        {"a byte changed", false, [](int fd) { ASSERT_EQ(::pwrite(fd, "#", 1, 70'000), 1); }, true},
        {"a byte changed in a hole", true, [](int fd) { ASSERT_EQ(::pwrite(fd, "#", 1, 10), 1); }, true},
        {"cut short", false, [](int fd) { ASSERT_EQ(::ftruncate(fd, 99'999), 0); }, true},
        {"a byte more", false, [](int fd) { ASSERT_EQ(::pwrite(fd, "#", 1, 100'000), 1); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fx::ScratchFolder scratch;
        const std::string source = scratch.at("src"), destination = scratch.at("dst");
        if (c.sparse) {
            fx::writeFile(source, "");
            ASSERT_EQ(::truncate(source.c_str(), 3 << 20), 0);
            const int fd = ::open(source.c_str(), O_WRONLY);
            ASSERT_EQ(::pwrite(fd, "data in the middle", 18, 1 << 20), 18);
            ::close(fd);
        } else {
            fx::writeFile(source, fx::patternBytes(100'000));
        }
        fx::writeFile(destination, "the old version");
        DamagingHost host;
        host.settingsValue.verifyCopies = true;
        host.damage = c.damage;
        StopFlags flags;
        const ExecutionCounts counts =
            fx::runItems({fx::cp(source, destination)}, {scratch.path()}, flags, host);
        EXPECT_EQ(counts.bad, c.fails ? 1 : 0);
        if (c.fails) {
            EXPECT_EQ(fx::readFile(destination), "the old version");
            ASSERT_EQ(host.actionLines().size(), 2u);
            EXPECT_EQ(host.actionLines().at(0), "Failed Copy-File to " + destination);
            EXPECT_EQ(
                host.actionLines().at(1).rfind("Reason: the copy, read back, differs from the source", 0),
                0u);
        } else {
            EXPECT_EQ(fx::readFile(destination), fx::readFile(source));
        }
        EXPECT_EQ(fx::namesIn(scratch.path()), (std::vector<std::string>{"dst", "src"}));
    }
}

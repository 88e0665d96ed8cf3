// Backups that restore exactly: whole runs (lock, scans, plan, actions) on random trees with owners,
// modes, ACLs, extended attributes, folder times and hard links, held against rsync -aHAX as the
// oracle, as root and as another user; a change of metadata alone as a line of its own, checked against
// its facts; hard links carried and their grouping changes; what B's file system cannot hold skipped
// with one line a kind.

#include "core/app/run.h"
#include "support/as_nobody.h"
#include "support/metadata_tree.h"
#include "support/plan_items.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"
#include "support/test_location.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace paritas {
namespace {

using test::rsyncItemizedChanges;
using test::SyncRecordingHost;
using test::TempTree;

bool isRoot() {
    return ::geteuid() == 0;
}

Settings keepingSettings() {
    Settings s = test::quietSettings();
    s.CheckTimeStamp = true;
    s.hardLinks = true;
    s.compareAttributes = true;
    return s;
}

// One backup as the command line runs it (RunSession), or its plan alone.
struct Backup {
    bool planned = false;
    std::vector<std::string> plan;
    ExecutionCounts counts;
    std::vector<std::string> log;
};

class LocalRun : public RunHost {
public:
    SyncRecordingHost console;
    ScanHost& scanHost(Side) override { return console; }
    PlannerHost& plannerHost() override { return console; }
};

Backup backup(const std::string& a, const std::string& b, const Settings& settings, bool execute = true) {
    LocalRun host;
    host.console.settingsValue = settings;
    RunRequest request;
    request.kind = PlanKind::Backup;
    request.locationA = a;
    request.locationB = b;
    request.settings = settings;
    request.planOnly = !execute;
    RunSession run(std::move(request));
    Backup out;
    out.planned = run.prepare(host);
    out.plan = lineTexts(run.actions());
    if (execute && out.planned) {
        StopFlags flags;
        out.counts = run.execute(host.console, flags);
    }
    out.log = host.console.lines;
    return out;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// The failure lines of a log with their reasons.
std::string failures(const std::vector<std::string>& log) {
    std::string text;
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i].rfind("Failed ", 0) == 0 || log[i].rfind("Cannot ", 0) == 0)
            text += log[i] + (i + 1 < log.size() ? " / " + log[i + 1] : std::string()) + "\n";
    return text;
}

// ---- changes of metadata in A, as a user makes them ----

class Changes {
public:
    Changes(std::string root, uint32_t seed) : root_(std::move(root)), random_(seed) {}

    // Some files and folders of A change their metadata (and one gets a new file): modes, owners (as
    // root), attributes, ACLs, folder times, and hard links made and broken.
    std::string apply() {
        std::vector<std::string> files, folders;
        list("", files, folders);
        std::sort(files.begin(), files.end());
        std::sort(folders.begin(), folders.end());
        if (files.empty())
            return "nothing to change\n";
        // Without root's powers a name can change only in a folder its owner may write: a link broken in
        // A may have to be broken in B by a copy into any folder that holds one of its names.
        if (!isRoot())
            for (const std::string& folder : folders) {
                struct stat st {};
                if (::stat(at(folder).c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0 &&
                    ::chmod(at(folder).c_str(), (st.st_mode & 07777) | S_IWUSR) == 0)
                    note("open " + folder);
            }
        for (int k = 0; k < 3; ++k)
            chmodOne(pick(files), 0640 + mode_t(k));
        if (isRoot())
            chownOne(pick(files));
        setAttribute(pick(files));
        if (!folders.empty()) {
            const std::string& folder = pick(folders);
            chmodOne(folder, 0750);
            touchFolder(pick(folders));
            addFile(pick(folders) + "added.txt");
        }
        linkSecondName(pick(files));
        breakLinks(files);
        return done_;
    }

private:
    const std::string& pick(const std::vector<std::string>& from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random_)];
    }
    std::string at(const std::string& relative) const { return root_ + relative; }
    void note(const std::string& line) { done_ += line + "\n"; }

    void list(const std::string& relative, std::vector<std::string>& files, std::vector<std::string>& folders) {
        const std::string folder = at(relative);
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            const std::string child = relative + name;
            if (entry.is_symlink())
                continue;
            if (entry.is_directory()) {
                folders.push_back(child + "/");
                list(child + "/", files, folders);
            } else if (entry.is_regular_file()) {
                files.push_back(child);
            }
        }
    }

    void chmodOne(const std::string& relative, mode_t mode) {
        if (::chmod(at(relative).c_str(), mode) == 0)
            note("chmod " + relative);
    }
    void chownOne(const std::string& relative) {
        if (::lchown(at(relative).c_str(), 1, 65534) == 0)
            note("chown " + relative);
    }
    void setAttribute(const std::string& relative) {
        const std::string value = "changed " + std::to_string(random_());
        if (::lsetxattr(at(relative).c_str(), "user.changed", value.data(), value.size(), 0) == 0)
            note("setxattr " + relative);
    }
    void touchFolder(const std::string& relative) {
        const timespec times[2] = {{1500000000, 5}, {1500000000, 123456789}};
        if (::utimensat(AT_FDCWD, at(relative).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0)
            note("touch " + relative);
    }
    void addFile(const std::string& relative) {
        const int fd = ::open(at(relative).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        const bool ok = ::write(fd, "added\n", 6) == 6;
        ::close(fd);
        if (ok)
            note("add " + relative);
    }
    void linkSecondName(const std::string& relative) {
        const std::string name = relative + ".second";
        if (::link(at(relative).c_str(), at(name).c_str()) == 0)
            note("link " + name + " => " + relative);
    }
    // Every name that shares its file gets a file of its own with the same content, mode and times
    // (an editor that writes a new file and renames it over the old name).
    void breakLinks(const std::vector<std::string>& files) {
        for (const std::string& relative : files) {
            struct stat st {};
            if (::lstat(at(relative).c_str(), &st) != 0 || st.st_nlink < 2 || relative.find(".second") != std::string::npos)
                continue;
            const std::string copy = at(relative) + ".new";
            const std::string command = "cp -p --preserve=all '" + at(relative) + "' '" + copy + "' && mv '" +
                                        copy + "' '" + at(relative) + "'";
            if (std::system(command.c_str()) == 0)
                note("unlink " + relative);
            return; // one is enough
        }
    }

    std::string root_;
    std::mt19937 random_;
    std::string done_;
};

// A backup into an empty B, then changes in A and a second backup: after each, rsync -aHAX finds
// nothing to do and a third plan is empty.
std::string roundTrip(const std::string& top, const test::MetadataTreeOptions& options) {
    const std::string a = top + "A/";
    const std::string b = top + "B/";
    ::mkdir(a.c_str(), 0755);
    ::mkdir(b.c_str(), 0755);
    std::string problems;
    test::BuiltTree built;
    try {
        built = test::buildMetadataTree(a, options);
    } catch (const std::exception& e) {
        return std::string("the tree could not be built: ") + e.what() + "\n";
    }
    const Settings settings = keepingSettings();
    for (int round = 0; round < 2; ++round) {
        std::string changes;
        if (round == 1)
            changes = Changes(a, options.seed).apply();
        const Backup done = backup(a, b, settings);
        const std::string where = "round " + std::to_string(round) + "\n" + built.summary + changes;
        if (!done.planned || done.counts.bad != 0)
            problems += where + "the backup failed:\n" + failures(done.log);
        const test::OracleAnswer oracle = rsyncItemizedChanges(a, b);
        if (!oracle.exact())
            problems += where + "rsync -aHAX finds: " + oracle.failure + "\n" + oracle.changes + "plan was:\n" +
                        joined(done.plan);
        const Backup again = backup(a, b, settings, false);
        if (!again.plan.empty())
            problems += where + "a second plan is not empty:\n" + joined(again.plan);
        if (!problems.empty())
            return problems;
    }
    return problems;
}

struct TreeCase {
    const char* name;
    test::MetadataTreeOptions options;
};

const TreeCase kTrees[] = {
    {"everything", {.seed = 11}},
    {"everything, another tree", {.seed = 12, .folders = 12, .files = 40}},
    {"many hard links", {.seed = 13, .files = 12, .hardLinkNames = 12}},
    {"no ACLs", {.seed = 14, .accessControlLists = false}},
    {"deep and small", {.seed = 15, .folders = 20, .files = 10, .links = 2}},
    {"no special bits", {.seed = 16, .specialBits = false}},
};

// The table, and PARITAS_METADATA_TREES more trees of random shape from PARITAS_METADATA_SEED on (a
// soak: PARITAS_METADATA_TREES=200 core_tests --gtest_filter='MetadataBackup.*').
std::vector<TreeCase> treeCases() {
    std::vector<TreeCase> cases(std::begin(kTrees), std::end(kTrees));
    const char* more = std::getenv("PARITAS_METADATA_TREES");
    const char* first = std::getenv("PARITAS_METADATA_SEED");
    const int count = more ? std::atoi(more) : 0;
    std::mt19937 shapes(first ? uint32_t(std::strtoul(first, nullptr, 10)) : std::random_device{}());
    for (int k = 0; k < count; ++k) {
        const auto below = [&](int n) { return int(shapes() % uint32_t(n)); };
        TreeCase c{"random", {}};
        c.options.seed = shapes();
        c.options.folders = 1 + below(20);
        c.options.files = below(60);
        c.options.links = below(8);
        c.options.hardLinkNames = below(10);
        c.options.specialBits = below(2) == 0;
        c.options.extendedAttributes = below(4) != 0;
        c.options.accessControlLists = below(4) != 0;
        cases.push_back(c);
    }
    return cases;
}

TEST(MetadataBackup, RandomTreesAreRestoredExactlyAndASecondPlanIsEmpty) {
    for (const TreeCase& tree : treeCases()) {
        SCOPED_TRACE(tree.name);
        TempTree top;
        EXPECT_EQ(roundTrip(top.root(), tree.options), "") << "seed " << tree.options.seed;
    }
}

TEST(MetadataBackup, RandomTreesAreRestoredExactlyAsAnotherUser) {
    if (!isRoot())
        GTEST_SKIP() << "runs as root and drops to nobody for the run";
    for (const TreeCase& tree : treeCases()) {
        SCOPED_TRACE(tree.name);
        TempTree top;
        ::chmod(top.root().c_str(), 0755);
        ASSERT_EQ(::chown(top.root().c_str(), test::kNobody, test::kNobody), 0);
        const std::string root = top.root();
        // The tree is made by nobody too: owners are nobody's, modes readable, attributes user.*.
        const test::ChildOutcome outcome = test::asNobody([&] { return roundTrip(root, tree.options); });
        ASSERT_EQ(outcome.failure, "");
        EXPECT_EQ(outcome.text, "") << "seed " << tree.options.seed;
    }
}

// ---- changes of metadata alone ----

class MetadataLines : public ::testing::Test {
protected:
    MetadataLines() : tree("A/d/f.txt = one\nA/g.txt = two\n") {
        a = tree.path("A/");
        b = tree.path("B/");
        settings = keepingSettings();
        settings.compareAttributes = false;
        EXPECT_EQ(backup(a, b, settings).counts.bad, 0);
    }
    TempTree tree;
    std::string a, b;
    Settings settings;
};

TEST_F(MetadataLines, APermissionChangeAloneBecomesOneAttributesLineAndIsCarried) {
    ASSERT_EQ(::chmod(tree.path("A/d/f.txt").c_str(), 0600), 0);
    ASSERT_EQ(::chmod(tree.path("A/d").c_str(), 0700), 0);
    const Backup done = backup(a, b, settings);
    // A folder whose owner keeps every permission comes first (it may open the folder for the lines
    // after it).
    EXPECT_EQ(done.plan, (std::vector<std::string>{"Attributes " + b + "d", "Attributes " + b + "d/f.txt"}));
    EXPECT_EQ(done.counts.good, 2);
    EXPECT_TRUE(test::hasLine(done.log, "Success Attributes " + b + "d/f.txt")) << joined(done.log);
    struct stat st {};
    ASSERT_EQ(::stat(tree.path("B/d/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(tree.path("B/d").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(backup(a, b, settings, false).plan, std::vector<std::string>{});
}

TEST_F(MetadataLines, AFolderMadeReadOnlyComesAfterTheLinesThatFillIt) {
    tree.file("A/d/new.txt", "new");
    ASSERT_EQ(::chmod(tree.path("A/d").c_str(), 0555), 0);
    const Backup done = backup(a, b, settings);
    EXPECT_EQ(done.plan, (std::vector<std::string>{"Copy " + a + "d/new.txt*" + b + "d/new.txt",
                                                   "Attributes " + b + "d"}));
    EXPECT_EQ(done.counts.bad, 0);
    EXPECT_TRUE(rsyncItemizedChanges(a, b).exact()) << rsyncItemizedChanges(a, b).changes;
}

TEST_F(MetadataLines, AnUnchangedTreePlansNothingAndAContentChangeKeepsItsLinesAlone) {
    EXPECT_EQ(backup(a, b, settings, false).plan, std::vector<std::string>{});
    tree.file("A/d/new.txt", "new");
    const Backup done = backup(a, b, settings);
    EXPECT_EQ(done.plan, std::vector<std::string>{"Copy " + a + "d/new.txt*" + b + "d/new.txt"});
    // The folder the copy went into keeps A's times.
    struct stat inA {}, inB{};
    ASSERT_EQ(::stat(tree.path("A/d").c_str(), &inA), 0);
    ASSERT_EQ(::stat(tree.path("B/d").c_str(), &inB), 0);
    EXPECT_EQ(inB.st_mtim.tv_sec, inA.st_mtim.tv_sec);
    EXPECT_EQ(inB.st_mtim.tv_nsec, inA.st_mtim.tv_nsec);
}

TEST_F(MetadataLines, AttributesAreComparedOnlyWhenAsked) {
    const std::string value = "v";
    if (::setxattr(tree.path("A/g.txt").c_str(), "user.k", value.data(), value.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    EXPECT_EQ(backup(a, b, settings, false).plan, std::vector<std::string>{});
    Settings asked = settings;
    asked.compareAttributes = true;
    const Backup done = backup(a, b, asked);
    EXPECT_EQ(done.plan, std::vector<std::string>{"Attributes " + b + "g.txt"});
    char got[8] = {};
    EXPECT_EQ(::getxattr(tree.path("B/g.txt").c_str(), "user.k", got, sizeof got), 1);
    EXPECT_EQ(backup(a, b, asked, false).plan, std::vector<std::string>{});
}

TEST_F(MetadataLines, CopyMissingAndFolderSynchLeaveTheMetadataOfExistingFilesAlone) {
    ASSERT_EQ(::chmod(tree.path("A/g.txt").c_str(), 0600), 0);
    for (const int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        const test::SyncRun run = test::syncOnce(mode, a, b, settings, false);
        EXPECT_EQ(lineTexts(run.plan.actions), std::vector<std::string>{});
    }
}

// The facts an attributes line was planned on, checked just before it acts.
struct LineCase {
    const char* name;
    void (*meanwhile)(TempTree& tree);
    const char* reasonStart;
};

const LineCase kMeanwhile[] = {
    {"A's mode changed again", [](TempTree& t) { ::chmod(t.path("A/g.txt").c_str(), 0604); },
     "Reason: changed since planning"},
    {"B's file replaced", [](TempTree& t) { t.remove("B/g.txt").file("B/g.txt", "other content"); },
     "Reason: changed since planning"},
    {"A's file gone", [](TempTree& t) { t.remove("A/g.txt"); },
     "Reason: changed since planning"},
};

TEST_F(MetadataLines, AnAttributesLineActsOnlyWhileBothSidesAreAsPlanned) {
    ASSERT_EQ(::chmod(tree.path("A/g.txt").c_str(), 0600), 0);
    for (const LineCase& c : kMeanwhile) {
        SCOPED_TRACE(c.name);
        LocalRun host;
        host.console.settingsValue = settings;
        RunRequest request;
        request.locationA = a;
        request.locationB = b;
        request.settings = settings;
        RunSession run(std::move(request));
        ASSERT_TRUE(run.prepare(host));
        ASSERT_EQ(lineTexts(run.actions()), std::vector<std::string>{"Attributes " + b + "g.txt"});
        c.meanwhile(tree);
        StopFlags flags;
        const ExecutionCounts counts = run.execute(host.console, flags);
        EXPECT_EQ(counts.bad, 1);
        const auto failed = std::find(host.console.lines.begin(), host.console.lines.end(),
                                      "Failed Attributes " + b + "g.txt");
        ASSERT_NE(failed, host.console.lines.end()) << joined(host.console.lines);
        ASSERT_NE(failed + 1, host.console.lines.end());
        EXPECT_EQ((failed + 1)->rfind(c.reasonStart, 0), 0u) << *(failed + 1);
        // Back to the world of the fixture for the next case.
        tree.remove("A").remove("B").write("A/d/f.txt = one\nA/g.txt = two\n");
        ASSERT_EQ(backup(a, b, settings).counts.bad, 0);
        ASSERT_EQ(::chmod(tree.path("A/g.txt").c_str(), 0600), 0);
    }
}

// ---- hard links ----

TEST(HardLinkBackup, NamesThatShareAFileInAShareOneInBAndChangesOfTheGroupingAreCarried) {
    TempTree tree("A/one.txt = shared\nA/sub/x = x\nB/\n");
    const std::string a = tree.path("A/"), b = tree.path("B/");
    ASSERT_EQ(::link(tree.path("A/one.txt").c_str(), tree.path("A/sub/two.txt").c_str()), 0);
    const Settings settings = keepingSettings();
    Backup done = backup(a, b, settings);
    EXPECT_EQ(done.plan, (std::vector<std::string>{"CreateDir " + b + "sub", "Copy " + a + "one.txt*" + b + "one.txt",
                                                   "HardLink " + b + "one.txt*" + b + "sub/two.txt",
                                                   "Copy " + a + "sub/x*" + b + "sub/x"}));
    struct stat one {}, two{};
    ASSERT_EQ(::stat(tree.path("B/one.txt").c_str(), &one), 0);
    ASSERT_EQ(::stat(tree.path("B/sub/two.txt").c_str(), &two), 0);
    EXPECT_EQ(one.st_ino, two.st_ino);
    EXPECT_EQ(backup(a, b, settings, false).plan, std::vector<std::string>{});

    // Apart in A (a new file of the same content, mode and times): apart in B.
    ASSERT_EQ(std::system(("cp -p '" + tree.path("A/sub/two.txt") + "' '" + tree.path("A/sub/t") + "' && mv '" +
                           tree.path("A/sub/t") + "' '" + tree.path("A/sub/two.txt") + "'")
                              .c_str()),
              0);
    done = backup(a, b, settings);
    EXPECT_EQ(done.plan, std::vector<std::string>{"Copy " + a + "sub/two.txt*" + b + "sub/two.txt"});
    ASSERT_EQ(::stat(tree.path("B/one.txt").c_str(), &one), 0);
    ASSERT_EQ(::stat(tree.path("B/sub/two.txt").c_str(), &two), 0);
    EXPECT_NE(one.st_ino, two.st_ino);
    EXPECT_TRUE(rsyncItemizedChanges(a, b).exact()) << rsyncItemizedChanges(a, b).changes;

    // Together again in A: the separate file of B gives way to a link.
    ASSERT_EQ(::unlink(tree.path("A/sub/two.txt").c_str()), 0);
    ASSERT_EQ(::link(tree.path("A/one.txt").c_str(), tree.path("A/sub/two.txt").c_str()), 0);
    done = backup(a, b, settings);
    EXPECT_EQ(done.plan, std::vector<std::string>{"HardLink " + b + "one.txt*" + b + "sub/two.txt"});
    ASSERT_EQ(::stat(tree.path("B/one.txt").c_str(), &one), 0);
    ASSERT_EQ(::stat(tree.path("B/sub/two.txt").c_str(), &two), 0);
    EXPECT_EQ(one.st_ino, two.st_ino);
    EXPECT_EQ(backup(a, b, settings, false).plan, std::vector<std::string>{});
}

TEST(HardLinkBackup, WithoutTheOptionEveryNameIsACopyOfItsOwn) {
    TempTree tree("A/one.txt = shared\n");
    ASSERT_EQ(::link(tree.path("A/one.txt").c_str(), tree.path("A/two.txt").c_str()), 0);
    Settings settings = keepingSettings();
    settings.hardLinks = false;
    const Backup done = backup(tree.path("A/"), tree.path("B/"), settings);
    EXPECT_EQ(done.counts.bad, 0);
    struct stat one {}, two{};
    ASSERT_EQ(::stat(tree.path("B/one.txt").c_str(), &one), 0);
    ASSERT_EQ(::stat(tree.path("B/two.txt").c_str(), &two), 0);
    EXPECT_NE(one.st_ino, two.st_ino);
    EXPECT_EQ(backup(tree.path("A/"), tree.path("B/"), settings, false).plan, std::vector<std::string>{});
}

TEST(HardLinkBackup, AHardLinkLineCopiesWhereTheFileSystemHoldsNoHardLinks) {
    using namespace testing;
    TempTree tree("B/one.txt = shared\n");
    const std::string b = tree.path("B/");
    TestLocationsFor made;
    std::vector<std::unique_ptr<Location>> opened;
    opened.push_back(made.open(b));
    FileSystemCapabilities none;
    none.hardLinks = false;
    made.at(b)->pretend(none);
    Locations locations(std::move(opened));
    SyncRecordingHost host;
    host.settingsValue = test::quietSettings();
    StopFlags flags;
    ActionFacts facts;
    facts.destination = DestinationPlan{DestinationPlan::Kind::Nothing, {}};
    const ExecutionCounts counts = PerformActions(
        numbered({withFacts(hardLinkItem(b + "one.txt", b + "two.txt"), facts)}), locations, {b}, flags, host);
    EXPECT_EQ(counts.good, 1) << joined(host.lines);
    EXPECT_TRUE(test::hasLine(host.lines, "Success HardLink to " + b + "two.txt"));
    EXPECT_EQ(tree.read("B/two.txt"), "shared");
    struct stat one {}, two{};
    ASSERT_EQ(::stat(tree.path("B/one.txt").c_str(), &one), 0);
    ASSERT_EQ(::stat(tree.path("B/two.txt").c_str(), &two), 0);
    EXPECT_NE(one.st_ino, two.st_ino);
}

TEST(HardLinkBackup, AHardLinkLineReplacesOnlyThePlannedFileAndKeepsTheOldVersion) {
    TempTree tree("B/one.txt = shared\nB/two.txt = separate\n");
    const std::string b = tree.path("B/");
    struct stat planned {};
    ASSERT_EQ(::lstat(tree.path("B/two.txt").c_str(), &planned), 0);
    Locations locations = localLocations({b});
    SyncRecordingHost host;
    host.settingsValue = test::quietSettings();
    host.settingsValue.removedFiles = RemovedFiles::Versions;
    StopFlags flags;
    ActionFacts facts;
    facts.destination = DestinationPlan{DestinationPlan::Kind::Planned, stampOf(planned)};
    const ExecutionCounts counts = PerformActions(
        testing::numbered({testing::withFacts(hardLinkItem(b + "one.txt", b + "two.txt"), facts)}), locations,
        {b}, flags, host);
    EXPECT_EQ(counts.good, 1) << joined(host.lines);
    EXPECT_EQ(tree.read("B/two.txt"), "shared");
    EXPECT_TRUE(test::hasLineStarting(host.lines, "Old version moved to the versions folder: ")) << joined(host.lines);

    // Planned over a file that has changed since: nothing happens.
    tree.file("B/three.txt", "third");
    ActionFacts stale;
    stale.destination = DestinationPlan{DestinationPlan::Kind::Planned, stampOf(planned)};
    SyncRecordingHost second;
    second.settingsValue = test::quietSettings();
    const ExecutionCounts refused =
        PerformActions(testing::numbered({testing::withFacts(hardLinkItem(b + "one.txt", b + "three.txt"), stale)}),
                       locations, {b}, flags, second);
    EXPECT_EQ(refused.bad, 1);
    EXPECT_EQ(tree.read("B/three.txt"), "third");
}

// ---- what B cannot hold ----

TEST(MetadataBackup, OntoExfatWhatCannotBeKeptIsSaidOnceAndNeverFailsALine) {
    TempTree top;
    const std::string b = top.root() + "B";
    ::mkdir(b.c_str(), 0755);
    std::string whyNot;
    const auto mount = test::ScratchMount::exfat(b, whyNot);
    if (!mount)
        GTEST_SKIP() << whyNot;
    const std::string a = top.root() + "A/";
    ::mkdir(a.c_str(), 0755);
    test::buildMetadataTree(a, {.seed = 21, .links = 0});
    const Settings settings = keepingSettings();
    const Backup done = backup(a, b + "/", settings);
    EXPECT_EQ(done.counts.bad, 0) << failures(done.log);
    for (const char* kind : {"Owners and groups", "Permissions", "Extended attributes"}) {
        const std::string start = std::string(kind) + " cannot be kept on " + b + "/";
        EXPECT_EQ(std::count_if(done.log.begin(), done.log.end(),
                                [&](const std::string& line) { return line.rfind(start, 0) == 0; }),
                  1)
            << start << "\n"
            << joined(done.log);
    }
    EXPECT_EQ(backup(a, b + "/", settings, false).plan, std::vector<std::string>{});
}

TEST(MetadataBackup, RootKeepsOwnersAndModesOfCopiesAndFolders) {
    if (!isRoot())
        GTEST_SKIP() << "giving files away needs root";
    TempTree tree("A/d/f = f\n");
    ASSERT_EQ(::chown(tree.path("A/d/f").c_str(), 1, 65534), 0);
    ASSERT_EQ(::chmod(tree.path("A/d/f").c_str(), 04750), 0);
    ASSERT_EQ(::chown(tree.path("A/d").c_str(), 65534, 1), 0);
    ASSERT_EQ(::chmod(tree.path("A/d").c_str(), 02711), 0);
    const Backup done = backup(tree.path("A/"), tree.path("B/"), keepingSettings());
    EXPECT_EQ(done.counts.bad, 0) << failures(done.log);
    struct stat st {};
    ASSERT_EQ(::lstat(tree.path("B/d/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 04750u);
    ASSERT_EQ(::lstat(tree.path("B/d").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 1u);
    EXPECT_EQ(st.st_mode & 07777, 02711u);
}

} // namespace
} // namespace paritas

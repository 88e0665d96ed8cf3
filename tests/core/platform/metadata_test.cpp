// Metadata read from A, applied to new copies in B, and checked against rsync -aHAX as the oracle; what
// a destination cannot hold reported once per kind; hard-link groups.

#include "core/platform/entry_handle.h"
#include "core/platform/hard_links.h"
#include "core/platform/metadata.h"
#include "support/as_nobody.h"
#include "support/metadata_tree.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace paritas {
namespace {

using test::AclEntry;
using test::aclValue;
using test::rsyncItemizedChanges;
using test::TempTree;

constexpr AttributeSelection kAll{.extendedAttributes = true, .accessControlLists = true};
constexpr uid_t kDaemon = 1;

std::string withoutSlashOf(std::string path) {
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool isRoot() {
    return ::geteuid() == 0;
}

// Small steps that make a source; each reports what failed in the text it returns.
struct Maker {
    std::string root; // ends with "/"
    std::string problems;

    std::string at(const std::string& relative) const { return root + relative; }
    void check(bool ok, const std::string& what) {
        if (!ok)
            problems += what + ": " + std::strerror(errno) + "\n";
    }
    Maker& file(const std::string& relative, const std::string& content = "content") {
        const int fd = ::open(at(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        check(fd >= 0 && ::write(fd, content.data(), content.size()) == ssize_t(content.size()),
              "write " + relative);
        if (fd >= 0)
            ::close(fd);
        return *this;
    }
    Maker& folder(const std::string& relative) {
        check(::mkdir(at(relative).c_str(), 0755) == 0, "mkdir " + relative);
        return *this;
    }
    Maker& mode(const std::string& relative, mode_t mode) {
        check(::chmod(at(relative).c_str(), mode) == 0, "chmod " + relative);
        return *this;
    }
    Maker& owner(const std::string& relative, uid_t uid, gid_t gid) {
        check(::lchown(at(relative).c_str(), uid, gid) == 0, "chown " + relative);
        return *this;
    }
    Maker& attribute(const std::string& relative, const std::string& name, const std::string& value) {
        check(::lsetxattr(at(relative).c_str(), name.c_str(), value.data(), value.size(), 0) == 0,
              "setxattr " + name + " " + relative);
        return *this;
    }
    Maker& time(const std::string& relative, time_t seconds, long nanos = 123456789) {
        const timespec times[2] = {{seconds - 5, 0}, {seconds, nanos}};
        check(::utimensat(AT_FDCWD, at(relative).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0,
              "time " + relative);
        return *this;
    }
    Maker& link(const std::string& relative, const std::string& target) {
        check(::symlink(target.c_str(), at(relative).c_str()) == 0, "symlink " + relative);
        return *this;
    }
    Maker& remove(const std::string& relative) {
        check(::unlink(at(relative).c_str()) == 0, "unlink " + relative);
        return *this;
    }
    Maker& hardLink(const std::string& relative, const std::string& existing) {
        check(::link(at(existing).c_str(), at(relative).c_str()) == 0, "link " + relative);
        return *this;
    }
};

std::string namedAcl() {
    return aclValue({{AclEntry::UserObj, 6},
                     {AclEntry::User, 4, kDaemon},
                     {AclEntry::GroupObj, 4},
                     {AclEntry::Group, 6, test::kNobody},
                     {AclEntry::Mask, 6},
                     {AclEntry::Other, 0}});
}

std::string defaultAcl() {
    return aclValue({{AclEntry::UserObj, 7},
                     {AclEntry::User, 5, kDaemon},
                     {AclEntry::GroupObj, 5},
                     {AclEntry::Mask, 7},
                     {AclEntry::Other, 0}});
}

std::string binaryValue(std::size_t size) {
    std::string value(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        value[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return value;
}

// A file capability (CAP_NET_BIND_SERVICE permitted and effective), which every chown clears.
std::string capabilityValue() {
    std::string value(20, '\0');
    const uint32_t words[5] = {0x02000001u, 1u << 10, 0, 0, 0};
    std::memcpy(value.data(), words, sizeof words); // little-endian, as the kernel reads it
    return value;
}

// Copies A to B with the reference copy and compares: the copy's failures, the oracle's lines, our own
// reading of both sides and the keeper's report; empty when B restores A exactly.
std::string copyAndCompare(const std::string& a, const std::string& b) {
    MetadataKeeper keeper(b);
    const test::TreeCopyResult copied = test::copyTreeKeepingMetadata(a, b, kAll, keeper);
    std::string problems;
    for (const std::string& failure : copied.failures)
        problems += "copy failed: " + failure + "\n";
    const test::OracleAnswer oracle = rsyncItemizedChanges(a, b);
    problems += oracle.failure.empty() ? oracle.changes : "oracle: " + oracle.failure + "\n";
    for (const std::string& line : keeper.takeReport())
        problems += "report: " + line + "\n";
    return problems;
}

struct RoundTripRow {
    const char* behaviour;
    bool rootOnly;
    std::function<void(Maker&)> make;
};

const RoundTripRow kRoundTrips[] = {
    {"plain permission bits", false, [](Maker& m) { m.file("f").mode("f", 0640).time("f", 1500000000); }},
    {"no permission at all", true, [](Maker& m) { m.file("f").mode("f", 0000); }},
    {"sticky bit on a file", false, [](Maker& m) { m.file("f").mode("f", 01644); }},
    {"set-user-id and set-group-id survive the change of owner", true,
     [](Maker& m) { m.file("f").owner("f", test::kNobody, kDaemon).mode("f", 06755); }},
    {"set-user-id of the user's own file", false, [](Maker& m) { m.file("f").mode("f", 04750); }},
    {"owner and group of another user", true,
     [](Maker& m) { m.file("f").owner("f", kDaemon, test::kNobody).mode("f", 0600); }},
    {"user attributes with binary values, an empty value and a large one", false,
     [](Maker& m) {
         m.file("f").attribute("f", "user.bin", binaryValue(300)).attribute("f", "user.empty", "");
         m.attribute("f", "user.large", binaryValue(3000));
     }},
    {"an access ACL naming a user and a group", false,
     [](Maker& m) { m.file("f").attribute("f", "system.posix_acl_access", namedAcl()); }},
    {"trusted and security attributes", true,
     [](Maker& m) {
         m.file("f").attribute("f", "trusted.t", binaryValue(17)).attribute("f", "security.s", "x");
     }},
    {"a file capability survives the change of owner", true,
     [](Maker& m) {
         m.file("f").owner("f", test::kNobody, test::kNobody).mode("f", 0755);
         m.attribute("f", "security.capability", capabilityValue());
     }},
    {"a read-only folder is filled, then given its bits and time", false,
     [](Maker& m) {
         m.folder("ro").file("ro/f").time("ro/f", 1400000000).mode("ro", 0555).time("ro", 1300000000);
     }},
    {"a set-group-id folder with a default ACL, holding a file without ACL", false,
     [](Maker& m) {
         m.folder("g").file("g/f").mode("g/f", 0640).folder("g/sub");
         m.attribute("g", "system.posix_acl_default", defaultAcl()).attribute("g", "user.f", "folder");
         m.mode("g", 02770).time("g/sub", 1200000000).time("g", 1100000000, 5);
     }},
    {"a symbolic link keeps its own time", false,
     [](Maker& m) {
         m.file("t").link("l", "t").time("l", 1000000000, 999999999).link("dangling", "no/where");
     }},
    {"a symbolic link keeps its owner and trusted attribute", true,
     [](Maker& m) {
         m.link("l", "t").owner("l", kDaemon, kDaemon).attribute("l", "trusted.l", "v").time("l", 900000000);
     }},
    {"names of one symbolic link stay one link", false,
     [](Maker& m) { m.link("l", "t").time("l", 800000000).hardLink("l2", "l"); }},
    {"names of one file stay one file", false,
     [](Maker& m) { m.folder("d").file("a").hardLink("d/b", "a").hardLink("c", "a").file("single"); }},
};

// Makes the row's source in scratch/a, copies it to scratch/b, and compares.
std::string roundTrip(const RoundTripRow& row, const std::string& scratch) {
    Maker maker{scratch + "a/", {}};
    if (::mkdir((scratch + "a").c_str(), 0755) != 0 || ::mkdir((scratch + "b").c_str(), 0755) != 0)
        return "cannot make a and b";
    row.make(maker);
    if (!maker.problems.empty())
        return "making the source: " + maker.problems;
    return copyAndCompare(scratch + "a/", scratch + "b/");
}

TEST(MetadataRoundTrip, EveryKindSurvivesACopyAsRoot) {
    if (!isRoot())
        GTEST_SKIP() << "needs root";
    for (const RoundTripRow& row : kRoundTrips) {
        TempTree scratch;
        EXPECT_EQ(roundTrip(row, scratch.root()), "") << row.behaviour;
    }
}

TEST(MetadataRoundTrip, EveryKindAnotherUserHasSurvivesACopyAsThatUser) {
    for (const RoundTripRow& row : kRoundTrips) {
        if (row.rootOnly)
            continue;
        TempTree scratch;
        if (isRoot())
            scratch.giveTo(test::kNobody, test::kNobody);
        const test::ChildOutcome outcome = test::asNobody([&] { return roundTrip(row, scratch.root()); });
        EXPECT_EQ(outcome.failure, "") << row.behaviour;
        EXPECT_EQ(outcome.text, "") << row.behaviour;
    }
}

// The oracle must see every kind a copy could lose, or its silence proves nothing.
TEST(MetadataOracle, SeesEveryKindOfDifference) {
    if (!isRoot())
        GTEST_SKIP() << "needs root";
    struct Row {
        const char* behaviour;
        std::function<void(Maker&)> change; // applied to B after an exact copy
    };
    const Row rows[] = {
        {"permissions", [](Maker& b) { b.mode("f", 0600); }},
        {"owner", [](Maker& b) { b.owner("f", kDaemon, kDaemon); }},
        {"user attribute", [](Maker& b) { b.attribute("f", "user.x", "2"); }},
        {"access ACL", [](Maker& b) { b.attribute("f", "system.posix_acl_access", namedAcl()); }},
        {"folder time", [](Maker& b) { b.time("d", 1000); }},
        {"link time", [](Maker& b) { b.time("l", 1000); }},
        {"hard link broken", [](Maker& b) { b.remove("h2").file("h2", "content"); }},
    };
    for (const Row& row : rows) {
        TempTree scratch;
        Maker a{scratch.root() + "a/", {}};
        ::mkdir(a.root.c_str(), 0755);
        ::mkdir((scratch.root() + "b").c_str(), 0755);
        a.folder("d").file("f").attribute("f", "user.x", "1").file("h1", "content").hardLink("h2", "h1");
        a.link("l", "f").time("l", 5000).time("d", 6000);
        ASSERT_EQ(copyAndCompare(a.root, scratch.root() + "b/"), "") << row.behaviour;
        Maker b{scratch.root() + "b/", {}};
        row.change(b);
        ASSERT_EQ(b.problems, "");
        const test::OracleAnswer oracle = rsyncItemizedChanges(a.root, b.root);
        EXPECT_EQ(oracle.failure, "") << row.behaviour;
        EXPECT_NE(oracle.changes, "") << row.behaviour;
    }
}

TEST(MetadataRoundTrip, RandomTreesSurviveACopy) {
    const int seeds = isRoot() ? 6 : 3;
    for (int seed = 1; seed <= seeds; ++seed) {
        TempTree scratch;
        const std::string a = scratch.root() + "a/", b = scratch.root() + "b/";
        ::mkdir(a.c_str(), 0755);
        ::mkdir(b.c_str(), 0755);
        const test::BuiltTree built = test::buildMetadataTree(a, {.seed = uint32_t(seed)});
        EXPECT_EQ(copyAndCompare(a, b), "") << "seed " << seed << "\n" << built.summary;
    }
}

TEST(MetadataRoundTrip, RandomTreesOfAnotherUserSurviveItsCopy) {
    if (!isRoot())
        GTEST_SKIP() << "the test above already runs as an ordinary user";
    for (int seed = 11; seed <= 13; ++seed) {
        TempTree scratch;
        scratch.giveTo(test::kNobody, test::kNobody);
        const test::ChildOutcome outcome = test::asNobody([&] {
            const std::string a = scratch.root() + "a/", b = scratch.root() + "b/";
            ::mkdir(a.c_str(), 0755);
            ::mkdir(b.c_str(), 0755);
            const test::BuiltTree built = test::buildMetadataTree(a, {.seed = uint32_t(seed)});
            const std::string problems = copyAndCompare(a, b);
            return problems.empty() ? problems : problems + built.summary;
        });
        EXPECT_EQ(outcome.failure, "") << "seed " << seed;
        EXPECT_EQ(outcome.text, "") << "seed " << seed;
    }
}

// ---- reading ----

TEST(MetadataRead, ALinkIsReadItselfNeverItsTarget) {
    TempTree tree("target = x\nlink -> target\n");
    const std::string root = tree.root();
    ASSERT_EQ(::setxattr((root + "target").c_str(), "user.t", "1", 1, 0), 0);
    const int dir = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const MetadataRead link = readMetadataAt(dir, "link", kAll);
    const MetadataRead target = readMetadataAt(dir, "target", kAll);
    ::close(dir);
    ASSERT_TRUE(link.ok()) << failureText(link.error);
    EXPECT_TRUE(link.metadata.isLink());
    EXPECT_TRUE(link.metadata.attributes.empty());
    ASSERT_TRUE(target.ok());
    ASSERT_EQ(target.metadata.attributes.size(), 1u);
    EXPECT_EQ(target.metadata.attributes[0].name, "user.t");
}

// Older kernels lack listxattrat and getxattrat; their way through /proc must read the same.
TEST(MetadataRead, OlderKernelsWayReadsTheSameAsTheNewerCalls) {
    TempTree scratch;
    const test::BuiltTree built = test::buildMetadataTree(scratch.root(), {.seed = 3});
    std::vector<std::pair<std::string, std::string>> entries; // folder, name
    const std::function<void(const std::string&)> list = [&](const std::string& folder) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            entries.emplace_back(folder, entry.path().filename().string());
            if (entry.is_directory() && !entry.is_symlink())
                list(entry.path().string());
        }
    };
    list(withoutSlashOf(scratch.root()));
    ASSERT_GT(entries.size(), 30u);
    for (const auto& [folder, name] : entries) {
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const MetadataRead newer = readMetadataAt(dir, name, kAll);
        const bool before = detail::allowXattrAtCalls(false);
        const MetadataRead older = readMetadataAt(dir, name, kAll);
        detail::allowXattrAtCalls(before);
        ::close(dir);
        ASSERT_TRUE(newer.ok() && older.ok()) << folder << "/" << name;
        EXPECT_EQ(newer.metadata.attributes, older.metadata.attributes) << folder << "/" << name;
        EXPECT_TRUE(metadataDifferences(newer.metadata, older.metadata, {}).empty()) << folder << "/" << name;
    }
    EXPECT_NE(built.summary.find("xattrs"), std::string::npos);
}

TEST(MetadataRead, AttributesAreSortedAndOnlyTheSelectedOnes) {
    TempTree tree("f = x\n");
    const std::string path = tree.path("f");
    for (const char* name : {"user.z", "user.a", "user.m"})
        ASSERT_EQ(::setxattr(path.c_str(), name, "v", 1, 0), 0);
    const std::string acl = namedAcl();
    ASSERT_EQ(::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const MetadataRead all = readMetadata(fd, kAll);
    const MetadataRead aclsOnly = readMetadata(fd, {.accessControlLists = true});
    const MetadataRead none = readMetadata(fd, {});
    ::close(fd);
    std::vector<std::string> names;
    for (const ExtendedAttribute& attribute : all.metadata.attributes)
        names.push_back(attribute.name);
    EXPECT_EQ(names, (std::vector<std::string>{"system.posix_acl_access", "user.a", "user.m", "user.z"}));
    ASSERT_EQ(aclsOnly.metadata.attributes.size(), 1u);
    EXPECT_EQ(aclsOnly.metadata.attributes[0].value, acl);
    EXPECT_TRUE(none.metadata.attributes.empty());
    EXPECT_FALSE(none.metadata.attributesRead.any());
}

TEST(MetadataRead, ValuesAndListsLargerThanOneReadAreReadWhole) {
    if (!isRoot())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TempTree tree;
    const std::string mountPoint = tree.path("t");
    ::mkdir(mountPoint.c_str(), 0755);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const std::string path = mountPoint + "/f";
    ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    const std::string big = binaryValue(20000);
    const int bigSet = ::setxattr(path.c_str(), "user.big", big.data(), big.size(), 0);
    const int bigError = errno;
    int named = 0;
    for (; named < 200; ++named) // names alone longer than one read
        if (::setxattr(path.c_str(), ("user.a-rather-long-attribute-name-" + std::to_string(named)).c_str(),
                       "v", 1, 0) != 0)
            break;
    const int dir = ::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const MetadataRead read = readMetadataAt(dir, "f", kAll);
    ::close(dir);
    ::umount2(mountPoint.c_str(), MNT_DETACH);
    if (bigSet != 0)
        GTEST_SKIP() << "this tmpfs refuses large user attributes: " << std::strerror(bigError);
    ASSERT_TRUE(read.ok()) << failureText(read.error) << " " << read.detail;
    ASSERT_EQ(read.metadata.attributes.size(), std::size_t(named) + 1);
    const auto found = std::find_if(read.metadata.attributes.begin(), read.metadata.attributes.end(),
                                    [](const ExtendedAttribute& a) { return a.name == "user.big"; });
    ASSERT_NE(found, read.metadata.attributes.end());
    EXPECT_EQ(found->value, big);
}

// ---- changes in place ----

TEST(MetadataUpdate, APermissionChangeInAIsCarriedToBsFileInPlace) {
    TempTree tree("a/f = same\nb/f = same\n");
    const std::string a = tree.path("a/f"), b = tree.path("b/f");
    ::chmod(a.c_str(), 0600);
    ::setxattr(a.c_str(), "user.new", "1", 1, 0);
    const timespec times[2] = {{1000, 0}, {2000, 7}};
    ::utimensat(AT_FDCWD, a.c_str(), times, 0);
    ::utimensat(AT_FDCWD, b.c_str(), times, 0);
    struct stat before {};
    ::stat(b.c_str(), &before);
    const int aDir = ::open(tree.path("a").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int bDir = ::open(tree.path("b").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const MetadataRead source = readMetadataAt(aDir, "f", kAll);
    const FileStamp planned = metadataFromStat(before).stamp();
    MetadataKeeper keeper(tree.path("b"));
    const MetadataApplied applied = updateMetadataAt(bDir, "f", source.metadata, &planned, keeper);
    ::close(aDir);
    ::close(bDir);
    EXPECT_TRUE(applied.ok()) << failureText(applied.error) << " " << applied.detail;
    struct stat after {};
    ::stat(b.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(rsyncItemizedChanges(tree.path("a"), tree.path("b")).changes, "");
}

TEST(MetadataUpdate, BsFileThatChangedSincePlanningIsLeftAlone) {
    TempTree tree("a/f = same\nb/f = same\n");
    ::chmod(tree.path("a/f").c_str(), 0600);
    struct stat planned {};
    ::stat(tree.path("b/f").c_str(), &planned);
    tree.file("b/f", "other content"); // changed after planning
    ::chmod(tree.path("b/f").c_str(), 0644);
    const int aDir = ::open(tree.path("a").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int bDir = ::open(tree.path("b").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const MetadataRead source = readMetadataAt(aDir, "f", {});
    const FileStamp stamp = metadataFromStat(planned).stamp();
    MetadataKeeper keeper(tree.path("b"));
    const MetadataApplied applied = updateMetadataAt(bDir, "f", source.metadata, &stamp, keeper);
    ::close(aDir);
    ::close(bDir);
    EXPECT_EQ(applied.error, kChangedSincePlanning);
    struct stat now {};
    ::stat(tree.path("b/f").c_str(), &now);
    EXPECT_EQ(now.st_mode & 07777, 0644u);
}

// ---- what a destination cannot hold ----

TEST(MetadataKeeper, EachKindIsReportedOnceHoweverManyThreadsMeetIt) {
    MetadataKeeper keeper("/media/stick/");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&keeper] {
            for (int i = 0; i < 2000; ++i) {
                keeper.refused(static_cast<MetadataKind>(i % kMetadataKindCount), 7);
                keeper.notPermitted(MetadataKind::Owners);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    const std::vector<std::string> lines = keeper.takeReport();
    EXPECT_EQ(lines.size(), std::size_t(kMetadataKindCount) + 1);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(),
                  "Owners and groups cannot be kept on /media/stick/ (the file system does not hold them)"),
        lines.end());
    EXPECT_TRUE(keeper.takeReport().empty());
    EXPECT_FALSE(keeper.mayTry(MetadataKind::Permissions, 7));
    EXPECT_TRUE(keeper.mayTry(MetadataKind::Permissions, 8)); // another file system below the location
}

// A source with every kind on it, for the destinations that cannot hold them all.
void makeRichSource(Maker& a) {
    a.folder("d").file("d/f1", "one").file("f2", "two").hardLink("d/f1-again", "d/f1");
    a.attribute("d/f1", "user.x", binaryValue(40)).attribute("f2", "system.posix_acl_access", namedAcl());
    if (isRoot())
        a.owner("d/f1", test::kNobody, kDaemon).owner("f2", kDaemon, kDaemon);
    a.mode("d/f1", 0600)
        .mode("f2", 0640)
        .mode("d", 0750)
        .time("d/f1", 1400000000, 0)
        .time("d", 1300000000, 0);
}

TEST(MetadataKeeper, ACopyOntoExfatKeepsContentsAndTimesAndReportsEachKindOnce) {
    TempTree scratch;
    const std::string b = scratch.root() + "b";
    ::mkdir(b.c_str(), 0755);
    std::string whyNot;
    const auto mount = test::ScratchMount::exfat(b, whyNot);
    if (!mount)
        GTEST_SKIP() << whyNot;
    Maker a{scratch.root() + "a/", {}};
    ::mkdir(a.root.c_str(), 0755);
    makeRichSource(a);
    ASSERT_EQ(a.problems, "");
    MetadataKeeper keeper(b + "/");
    const test::TreeCopyResult copied = test::copyTreeKeepingMetadata(a.root, b + "/", kAll, keeper);
    EXPECT_EQ(copied.failures, std::vector<std::string>{});
    EXPECT_EQ(copied.copied, 3); // the second name became a copy of its own
    EXPECT_EQ(copied.linked, 0);
    std::vector<std::string> lines = keeper.takeReport();
    std::sort(lines.begin(), lines.end());
    const std::string on = " cannot be kept on " + b + "/ (the file system does not hold them";
    EXPECT_EQ(lines, (std::vector<std::string>{"ACLs" + on + ")", "Extended attributes" + on + ")",
                                               "Hard links" + on + "; each name gets a copy of its own)",
                                               "Owners and groups" + on + ")", "Permissions" + on + ")"}));
    struct stat st {};
    ASSERT_EQ(::stat((b + "/d/f1").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1400000000);
    ASSERT_EQ(::stat((b + "/d").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1300000000);
}

TEST(MetadataKeeper, ACopyOntoRamfsKeepsOwnersAndPermissionsAndReportsAttributesOnce) {
    if (!isRoot())
        GTEST_SKIP() << "mounting ramfs needs root";
    TempTree scratch;
    const std::string b = scratch.root() + "b";
    ::mkdir(b.c_str(), 0755);
    std::string whyNot;
    const auto mount = test::ScratchMount::ramfs(b, whyNot);
    if (!mount)
        GTEST_SKIP() << whyNot;
    Maker a{scratch.root() + "a/", {}};
    ::mkdir(a.root.c_str(), 0755);
    makeRichSource(a);
    ASSERT_EQ(a.problems, "");
    MetadataKeeper keeper(b + "/");
    const test::TreeCopyResult copied = test::copyTreeKeepingMetadata(a.root, b + "/", kAll, keeper);
    EXPECT_EQ(copied.failures, std::vector<std::string>{});
    EXPECT_EQ(copied.linked, 1);
    std::vector<std::string> lines = keeper.takeReport();
    std::sort(lines.begin(), lines.end());
    const std::string on = " cannot be kept on " + b + "/ (the file system does not hold them)";
    EXPECT_EQ(lines, (std::vector<std::string>{"ACLs" + on, "Extended attributes" + on}));
    const test::OracleAnswer oracle = rsyncItemizedChanges(a.root, b, {.acls = false, .xattrs = false});
    EXPECT_EQ(oracle.failure, "");
    EXPECT_EQ(oracle.changes, "");
}

TEST(MetadataKeeper, OwnersOfOtherUsersAreReportedOnceWhenCopyingAsAnotherUser) {
    if (!isRoot())
        GTEST_SKIP() << "making files of other users needs root";
    TempTree scratch;
    ::chmod(scratch.root().c_str(), 0755);
    Maker a{scratch.root() + "a/", {}};
    ::mkdir(a.root.c_str(), 0755);
    a.file("f1").owner("f1", kDaemon, kDaemon).file("f2").owner("f2", 0, 0).mode("f2", 06755).file("mine");
    a.owner("mine", test::kNobody, test::kNobody);
    const std::string b = scratch.root() + "b/";
    ::mkdir(b.c_str(), 0755);
    ::chown(b.c_str(), test::kNobody, test::kNobody);
    const test::ChildOutcome outcome = test::asNobody([&] {
        MetadataKeeper keeper(b);
        const test::TreeCopyResult copied = test::copyTreeKeepingMetadata(a.root, b, kAll, keeper);
        std::string text;
        for (const std::string& failure : copied.failures)
            text += "failed: " + failure + "\n";
        for (const std::string& line : keeper.takeReport())
            text += line + "\n";
        return text;
    });
    EXPECT_EQ(outcome.failure, "");
    EXPECT_EQ(outcome.text, "Owners and groups other than your own cannot be kept on " + b +
                                " (only root may give files away)\n");
    struct stat st {};
    ASSERT_EQ(::stat((b + "f1").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, test::kNobody);
    // root's set-user-id program must not become nobody's
    ASSERT_EQ(::stat((b + "f2").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

// ---- comparison ----

TEST(MetadataCompare, OwnershipDifferencesNameTheKindsThatDiffer) {
    struct Row {
        const char* behaviour;
        OwnershipFacts a, b;
        MetadataComparison comparison;
        MetadataKinds expected;
    };
    const MetadataKinds owners = MetadataKind::Owners, permissions = MetadataKind::Permissions;
    const Row rows[] = {
        {"same", {0644, 1, 1}, {0644, 1, 1}, {}, {}},
        {"permission bits", {0644, 1, 1}, {0640, 1, 1}, {}, permissions},
        {"set-group-id alone", {02755, 1, 1}, {0755, 1, 1}, {}, permissions},
        {"group", {0644, 1, 1}, {0644, 1, 2}, {}, owners},
        {"owner and bits", {0644, 1, 1}, {0600, 2, 1}, {}, owners | permissions},
        {"owners not compared", {0644, 1, 1}, {0644, 2, 2}, {.owners = false}, {}},
        {"set-id bits of another owner not compared", {06755, 1, 1}, {0755, 2, 2}, {.owners = false}, {}},
        {"set-id bits of the same owner compared",
         {06755, 1, 1},
         {0755, 1, 1},
         {.owners = false},
         permissions},
        {"set-id bits compared with owners", {06755, 1, 1}, {0755, 2, 2}, {}, owners | permissions},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ownershipDifferences(row.a, row.b, row.comparison), row.expected) << row.behaviour;
}

TEST(MetadataCompare, OnlyAChangeOfMetadataOnTheSameContentIsAMetadataOnlyChange) {
    const FileStamp a{100, 0, 1000, 5, 7};
    FileStamp resized = a;
    resized.size = 101;
    FileStamp retimed = a;
    retimed.modifiedTime = 1010;
    FileStamp otherFile = a; // another inode and nanoseconds, same content facts
    otherFile.inode = 9;
    otherFile.modifiedNanos = 0;
    const OwnershipFacts mine{0644, 1, 1}, changed{0600, 1, 1};
    EXPECT_EQ(metadataOnlyChange(a, changed, otherFile, mine, {}), MetadataKinds(MetadataKind::Permissions));
    EXPECT_TRUE(metadataOnlyChange(a, mine, otherFile, mine, {}).empty());
    EXPECT_TRUE(metadataOnlyChange(resized, changed, a, mine, {}).empty());
    EXPECT_TRUE(metadataOnlyChange(retimed, changed, a, mine, {}).empty());
}

TEST(MetadataCompare, AttributeDifferencesTellAclsFromOtherAttributes) {
    const ExtendedAttribute acl{"system.posix_acl_access", "1"}, otherAcl{"system.posix_acl_access", "2"};
    const ExtendedAttribute x{"user.x", std::string("a\0b", 3)}, xOther{"user.x", std::string("a\0c", 3)};
    using List = std::vector<ExtendedAttribute>;
    EXPECT_TRUE(attributeDifferences(List{acl, x}, List{acl, x}).empty());
    EXPECT_EQ(attributeDifferences(List{acl, x}, List{acl, xOther}),
              MetadataKinds(MetadataKind::ExtendedAttributes));
    EXPECT_EQ(attributeDifferences(List{acl, x}, List{otherAcl, x}),
              MetadataKinds(MetadataKind::AccessControlLists));
    EXPECT_EQ(attributeDifferences(List{x}, List{acl}),
              MetadataKind::ExtendedAttributes | MetadataKind::AccessControlLists);
}

TEST(MetadataCompare, KeptNamespacesFollowTheSelectionAndThePrivilege) {
    struct Row {
        const char* name;
        AttributeSelection selection;
        bool privileged, kept;
    };
    const Row rows[] = {
        {"user.a", kAll, false, true},
        {"user.a", {.accessControlLists = true}, true, false},
        {"trusted.a", kAll, false, false},
        {"trusted.a", kAll, true, true},
        {"security.capability", kAll, true, true},
        {"system.posix_acl_default", {.accessControlLists = true}, false, true},
        {"system.posix_acl_default", {.extendedAttributes = true}, true, false},
        {"system.nfs4_acl", kAll, true, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(keepsAttribute(row.selection, row.name, row.privileged), row.kept)
            << row.name << " privileged " << row.privileged;
}

// ---- hard links ----

TEST(HardLinks, GroupsHoldTheNamesOfOneFileInRowOrder) {
    const std::vector<LinkFacts> rows = {
        {1, 7, 2}, {1, 9, 1}, {1, 7, 2}, {2, 7, 3}, {1, 5, 3}, {2, 7, 3}, {1, 5, 3}, {1, 8, 4},
    };
    const std::vector<HardLinkGroup> groups = groupHardLinks(rows);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].rows, (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(groups[1].rows, (std::vector<std::size_t>{3, 5})); // the same inode on another device
    EXPECT_EQ(groups[2].rows, (std::vector<std::size_t>{4, 6}));
}

// Every row with more than one link lies in exactly the group of the rows sharing its file.
TEST(HardLinks, GroupingMatchesAPlainPairwiseComparisonOnRandomRows) {
    std::mt19937 random(5);
    for (int round = 0; round < 200; ++round) {
        std::vector<LinkFacts> rows(1 + random() % 60);
        for (LinkFacts& row : rows)
            row = {1 + random() % 2, random() % 12, uint32_t(1 + random() % 3)};
        std::vector<std::size_t> groupOf(rows.size(), SIZE_MAX);
        const std::vector<HardLinkGroup> groups = groupHardLinks(rows);
        for (std::size_t g = 0; g < groups.size(); ++g)
            for (std::size_t row : groups[g].rows)
                groupOf[row] = g;
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t j = 0; j < rows.size(); ++j) {
                const bool shared = i != j && rows[i].links > 1 && rows[j].links > 1 &&
                                    rows[i].device == rows[j].device && rows[i].inode == rows[j].inode;
                if (shared) {
                    ASSERT_EQ(groupOf[i], groupOf[j]) << "round " << round;
                }
                if (groupOf[i] != SIZE_MAX && groupOf[i] == groupOf[j] && i != j) {
                    ASSERT_TRUE(shared) << "round " << round;
                }
            }
        for (const HardLinkGroup& group : groups)
            ASSERT_TRUE(std::is_sorted(group.rows.begin(), group.rows.end()) && group.rows.size() >= 2);
    }
}

TEST(HardLinks, MismatchesNameTheNamesToMakeAnew) {
    struct Row {
        const char* behaviour;
        std::vector<LinkFacts> a, b;
        std::vector<std::size_t> expected;
    };
    const Row rows[] = {
        {"same grouping", {{1, 5, 2}, {1, 6, 1}, {1, 5, 2}}, {{2, 50, 2}, {2, 60, 1}, {2, 50, 2}}, {}},
        {"B made separate copies",
         {{1, 5, 2}, {1, 5, 2}, {1, 5, 2}},
         {{2, 50, 1}, {2, 51, 1}, {2, 50, 1}},
         {1}},
        {"B links what A holds apart", {{1, 5, 1}, {1, 6, 1}}, {{2, 50, 2}, {2, 50, 2}}, {1}},
        {"B links to the wrong partner",
         {{1, 5, 2}, {1, 6, 2}, {1, 5, 2}, {1, 6, 2}},
         {{2, 50, 2}, {2, 60, 2}, {2, 60, 2}, {2, 50, 2}},
         {2, 3}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(hardLinkMismatches(row.a, row.b), row.expected) << row.behaviour;
}

TEST(HardLinks, ASecondNameIsMadeBeneathTheLocationAndNeverReplacesAnything) {
    TempTree tree("b/first = data\nb/d/\nb/taken = old\nb/folder/\n");
    LocationResolver locations({tree.path("b")});
    MetadataKeeper keeper(tree.path("b"));
    struct stat first {};
    ::stat(tree.path("b/first").c_str(), &first);
    const FileStamp stamp = metadataFromStat(first).stamp();
    FileStamp wrong = stamp;
    wrong.size += 1;
    struct Row {
        const char* behaviour;
        std::string newName;
        const FileStamp* expected;
        LinkOutcome outcome;
        int error;
    };
    const Row rows[] = {
        {"links", "d/second", &stamp, LinkOutcome::Linked, 0},
        {"a taken name fails", "taken", &stamp, LinkOutcome::Failed, kChangedSincePlanning},
        {"a folder there fails", "folder", nullptr, LinkOutcome::Failed, EISDIR},
        {"another file than planned fails", "d/third", &wrong, LinkOutcome::Failed, kChangedSincePlanning},
    };
    for (const Row& row : rows) {
        const LinkResult result =
            linkBeneath(locations, tree.path("b/first"), row.expected, tree.path("b/" + row.newName), keeper);
        EXPECT_EQ(result.outcome, row.outcome) << row.behaviour;
        EXPECT_EQ(result.error, row.error) << row.behaviour;
    }
    struct stat second {};
    ASSERT_EQ(::stat(tree.path("b/d/second").c_str(), &second), 0);
    EXPECT_EQ(second.st_ino, first.st_ino);
    EXPECT_EQ(tree.read("b/taken"), "old");
    EXPECT_FALSE(tree.exists("b/d/third"));
    EXPECT_TRUE(keeper.takeReport().empty());
}

} // namespace
} // namespace paritas

// Copy, move and delete on real file systems: each row of the matrix (support/mounted_fs.h) is
// probed, its capabilities are held against what is known of that file system, and the operations,
// given those capabilities (and given none), keep their promises there: nothing lost, nothing
// replaced that was not planned, no temporary name left.

#include "core/execution/removed_files.h"
#include "core/platform/capabilities.h"
#include "core/platform/file_copy.h"
#include "core/platform/file_ops.h"
#include "core/platform/file_queries.h"

#include "support/exec_fixture.h"
#include "support/keeping_disposal.h"
#include "support/mounted_fs.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <optional>
#include <set>

using namespace paritas;
using namespace paritas::test;
using paritas::testing::namesIn;
using paritas::testing::patternBytes;
using paritas::testing::readFile;
using paritas::testing::setModified;
using paritas::testing::statOf;
using paritas::testing::writeFile;

namespace {

// What is known of each file system (its format and the Linux implementation used here). nullopt:
// it depends on versions or on where the row is made (tmpfs has user.* attributes since Linux 6.6).
struct Known {
    bool unnamedFiles, renameNoReplace, renameExchange, hardLinks, caseSensitive, symbolicLinks;
    std::optional<bool> ownersAndModes, extendedAttributes, clones;
    std::set<int64_t> timeSteps; // any of these
    bool stableInodes;
};

const Known& knownFor(FileSystemKind kind) {
    static const std::map<FileSystemKind, Known> known = {
        {FileSystemKind::Ext4, {true, true, true, true, true, true, true, true, false, {1}, true}},
        // mkfs.xfs makes reflink file systems since xfsprogs 5.1.
        {FileSystemKind::Xfs, {true, true, true, true, true, true, true, true, true, {1}, true}},
        {FileSystemKind::Btrfs, {true, true, true, true, true, true, true, true, true, {1}, true}},
        {FileSystemKind::Tmpfs, {true, true, true, true, true, true, true, std::nullopt, false, {1}, true}},
        // exFAT keeps 10 ms; exfat-fuse 1.3 drops everything below the second. No links, no modes
        // (umask 0 shows 0777), no attributes; every spelling of a name gets its own inode.
        {FileSystemKind::ExfatFuse,
         {false, false, false, false, false, false, false, false, false, {10'000'000, 1'000'000'000}, false}},
        // ntfs-3g without a user mapping shows 0777 and root as owner whatever is set; NTFS keeps
        // 100 ns; the POSIX name space of ntfs-3g tells letter case apart.
        {FileSystemKind::Ntfs3g, {false, false, false, true, true, true, false, true, false, {100}, false}},
        // SFTP version 3: whole seconds, no attributes; links through hardlink@openssh.com.
        {FileSystemKind::Sshfs,
         {false, false, false, true, true, true, std::nullopt, false, false, {1'000'000'000}, false}},
    };
    return known.at(kind);
}

// Probed once per row and process.
const FileSystemCapabilities& capabilitiesOf(MountedFileSystem& fs) {
    static std::map<FileSystemKind, FileSystemCapabilities> probed;
    auto it = probed.find(fs.kind());
    if (it == probed.end())
        it = probed.emplace(fs.kind(), probeCapabilities(fs.root())).first;
    return it->second;
}

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

// The two ways every operation is run on a row: with the capabilities found, and with none (each
// means tried in turn), which callers that do not probe get.
struct Way {
    const char* name;
    const FileSystemCapabilities* capabilities;
};

std::vector<Way> waysOn(MountedFileSystem& fs) {
    return {{"with the capabilities found", &capabilitiesOf(fs)}, {"without capabilities", nullptr}};
}

class OnEveryFileSystem : public MountedFileSystemTest {
protected:
    // A fresh A / B / K (kept) triple inside the row's folder for one way of running.
    struct Sides {
        std::string root;
        std::string a(const std::string& n) const { return root + "/A/" + n; }
        std::string b(const std::string& n) const { return root + "/B/" + n; }
        std::string k(const std::string& n) const { return root + "/K/" + n; }
    };
    Sides sidesFor(const std::string& name) {
        Sides sides{folder() + "/" + name};
        for (const std::string& f : {sides.root, sides.root + "/A", sides.root + "/B", sides.root + "/K"})
            EXPECT_EQ(::mkdir(f.c_str(), 0755), 0) << f;
        return sides;
    }
};

constexpr std::size_t kSize = 3u << 20;

} // namespace

TEST_P(OnEveryFileSystem, ItsCapabilitiesAreWhatIsKnownOfIt) {
    const FileSystemCapabilities& found = capabilitiesOf(fileSystem());
    const Known& known = knownFor(GetParam());
    std::cout << "[ probed   ] " << fileSystem().name() << " (" << fileSystem().mountType()
              << "): " << describeCapabilities(found) << "\n";
    ASSERT_EQ(found.probeError, 0);
    EXPECT_EQ(found.unnamedFiles, known.unnamedFiles);
    EXPECT_EQ(found.renameNoReplace, known.renameNoReplace);
    EXPECT_EQ(found.renameExchange, known.renameExchange);
    EXPECT_EQ(found.hardLinks, known.hardLinks);
    EXPECT_EQ(found.caseSensitive, known.caseSensitive);
    EXPECT_EQ(found.symbolicLinks, known.symbolicLinks);
    if (known.ownersAndModes) {
        EXPECT_EQ(found.ownersAndModes, *known.ownersAndModes);
    }
    if (known.extendedAttributes) {
        EXPECT_EQ(found.extendedAttributes, *known.extendedAttributes);
    }
    if (known.clones) {
        EXPECT_EQ(found.clones, *known.clones);
    }
    EXPECT_TRUE(known.timeSteps.count(found.timeGranularityNs)) << found.timeGranularityNs;
    EXPECT_EQ(found.stableInodes, known.stableInodes);
    EXPECT_FALSE(holdsTemporaryName(fileSystem().root())) << "the probe left a name behind";
}

TEST_P(OnEveryFileSystem, ACopyToANewNameAppearsWholeAndNeverReplaces) {
    for (const Way& way : waysOn(fileSystem())) {
        SCOPED_TRACE(way.name);
        const Sides sides = sidesFor(way.capabilities ? "probed" : "plain");
        LocationResolver locations({sides.root + "/A", sides.root + "/B"});
        const std::string bytes = patternBytes(kSize, 2);
        writeFile(sides.a("f"), bytes, 0640);
        setModified(sides.a("f"), 1'600'000'000, 987654321);
        writeFile(sides.b("taken"), "already there");
        CopyOptions options;
        options.capabilities = way.capabilities;
        CopyObserver observer;
        const DestinationPlan nothing{DestinationPlan::Kind::Nothing, {}};
        const CopyResult result =
            copyFileBeneath(locations, sides.a("f"), nullptr, sides.b("f"), nothing, observer, options);
        ASSERT_TRUE(result.ok()) << failureText(result.error) << " " << result.detail;
        EXPECT_EQ(readFile(sides.b("f")), bytes);
        // The time as closely as the file system keeps it (a step truncates or rounds).
        const int64_t step = std::max<int64_t>(capabilitiesOf(fileSystem()).timeGranularityNs, 1);
        const auto copied = statOf(sides.b("f"));
        const int64_t want = 1'600'000'000LL * 1'000'000'000 + 987654321;
        const int64_t got = int64_t(copied->st_mtim.tv_sec) * 1'000'000'000 + copied->st_mtim.tv_nsec;
        EXPECT_LT(std::llabs(want - got), step);
        if (capabilitiesOf(fileSystem()).ownersAndModes) {
            EXPECT_EQ(copied->st_mode & 0777, 0640u);
        }

        const CopyResult refused =
            copyFileBeneath(locations, sides.a("f"), nullptr, sides.b("taken"), nothing, observer, options);
        EXPECT_EQ(refused.error, kChangedSincePlanning);
        EXPECT_EQ(readFile(sides.b("taken")), "already there");
        EXPECT_EQ(namesIn(sides.root + "/B"), (std::vector<std::string>{"f", "taken"}));
    }
}

TEST_P(OnEveryFileSystem, ACopyOverThePlannedFileKeepsTheOldVersionAndNothingElse) {
    for (const Way& way : waysOn(fileSystem())) {
        SCOPED_TRACE(way.name);
        const Sides sides = sidesFor(way.capabilities ? "probed" : "plain");
        LocationResolver locations({sides.root + "/A", sides.root + "/B"});
        const std::string bytes = patternBytes(kSize, 3);
        writeFile(sides.a("f"), bytes);
        writeFile(sides.b("f"), "old version");
        writeFile(sides.b("g"), "old g");
        const FileStamp planned = stampAt(sides.b("f"));
        KeepingDisposal disposal(sides.root + "/K", KeepingDisposal::Mode::Keep, way.capabilities);
        CopyOptions options;
        options.capabilities = way.capabilities;
        options.disposal = &disposal;
        CopyObserver observer;
        const CopyResult result =
            copyFileBeneath(locations, sides.a("f"), nullptr, sides.b("f"),
                            {DestinationPlan::Kind::Planned, planned}, observer, options);
        ASSERT_TRUE(result.ok()) << failureText(result.error) << " " << result.detail;
        EXPECT_EQ(readFile(sides.b("f")), bytes);
        EXPECT_EQ(readFile(sides.k("kept-1")), "old version");

        // A plan made on another file than the one there now replaces nothing.
        FileStamp stale = stampAt(sides.b("g"));
        stale.size += 1;
        const CopyResult refused =
            copyFileBeneath(locations, sides.a("f"), nullptr, sides.b("g"),
                            {DestinationPlan::Kind::Planned, stale}, observer, options);
        EXPECT_EQ(refused.error, kChangedSincePlanning);
        EXPECT_EQ(readFile(sides.b("g")), "old g");

        // A disposal that cannot keep the old version: the copy fails and the old version stays.
        KeepingDisposal refusing(sides.root + "/K", KeepingDisposal::Mode::Refuse);
        options.disposal = &refusing;
        const CopyResult kept =
            copyFileBeneath(locations, sides.a("f"), nullptr, sides.b("g"),
                            {DestinationPlan::Kind::Planned, stampAt(sides.b("g"))}, observer, options);
        EXPECT_EQ(kept.error, EACCES);
        EXPECT_EQ(readFile(sides.b("g")), "old g");
        EXPECT_EQ(namesIn(sides.root + "/B"), (std::vector<std::string>{"f", "g"}));
    }
}

// The run's own keeper (a versions folder at the top of B, the trash at the top of the file system)
// works on every row, moving without capabilities in hand as the executor does today.
TEST_P(OnEveryFileSystem, AReplacedFileGoesIntoTheVersionsFolderOrTheTrash) {
    for (const RemovedFiles where : {RemovedFiles::Versions, RemovedFiles::Trash}) {
        SCOPED_TRACE(where == RemovedFiles::Trash ? "trash" : "versions");
        const Sides sides = sidesFor(where == RemovedFiles::Trash ? "trash" : "versions");
        LocationResolver locations({sides.root + "/A", sides.root + "/B"});
        writeFile(sides.a("f.txt"), "new");
        writeFile(sides.b("f.txt"), "old");
        Settings settings;
        settings.removedFiles = where;
        // The home trash lies on another file system, so the trash at the top of the row is used.
        const paritas::testing::ScratchFolder home;
        RemovedFileKeeper keeper(settings, {sides.root + "/A/", sides.root + "/B/"}, 1'700'000'000,
                                 home.at("Trash"));
        CopyOptions options;
        options.capabilities = &capabilitiesOf(fileSystem());
        options.disposal = &keeper;
        CopyObserver observer;
        const CopyResult result =
            copyFileBeneath(locations, sides.a("f.txt"), nullptr, sides.b("f.txt"),
                            {DestinationPlan::Kind::Planned, stampAt(sides.b("f.txt"))}, observer, options);
        ASSERT_TRUE(result.ok()) << failureText(result.error) << " " << result.detail;
        EXPECT_EQ(readFile(sides.b("f.txt")), "new");
        ASSERT_FALSE(result.keptAt.empty());
        EXPECT_EQ(readFile(result.keptAt), "old") << result.keptAt;
        if (where == RemovedFiles::Trash) {
            EXPECT_EQ(result.keptAt.rfind(fileSystem().root() + "/.Trash-", 0), 0u) << result.keptAt;
        }
        EXPECT_FALSE(holdsTemporaryName(sides.root + "/B"));
    }
}

TEST_P(OnEveryFileSystem, AMoveAndADeleteActOnlyOnThePlannedFile) {
    for (const Way& way : waysOn(fileSystem())) {
        SCOPED_TRACE(way.name);
        const Sides sides = sidesFor(way.capabilities ? "probed" : "plain");
        LocationResolver locations({sides.root + "/A", sides.root + "/B"});
        writeFile(sides.b("f"), "moved");
        writeFile(sides.b("g"), "stays");
        writeFile(sides.b("taken"), "taken");
        ASSERT_EQ(::mkdir(sides.b("folder").c_str(), 0755), 0);
        writeFile(sides.b("folder/x"), "x");
        const FileSystemCapabilities* c = way.capabilities;
        const FileStamp f = stampAt(sides.b("f"));
        const FsResult moved = moveIfUnchanged(locations, sides.b("f"), &f, sides.b("folder/f"), c);
        EXPECT_TRUE(moved.ok()) << failureText(moved.error);
        EXPECT_EQ(readFile(sides.b("folder/f")), "moved");
        EXPECT_EQ(moveIfUnchanged(locations, sides.b("g"), nullptr, sides.b("taken"), c).error, EEXIST);
        EXPECT_EQ(readFile(sides.b("taken")), "taken");
        EXPECT_TRUE(moveIfUnchanged(locations, sides.b("folder"), nullptr, sides.b("renamed"), c).ok());
        EXPECT_EQ(readFile(sides.b("renamed/x")), "x");

        FileStamp stale = stampAt(sides.b("g"));
        stale.modifiedTime -= 10;
        EXPECT_EQ(deleteIfUnchanged(locations, sides.b("g"), &stale, c).error, kChangedSincePlanning);
        const FileStamp g = stampAt(sides.b("g"));
        EXPECT_TRUE(deleteIfUnchanged(locations, sides.b("g"), &g, c).ok());
        EXPECT_EQ(namesIn(sides.root + "/B"), (std::vector<std::string>{"renamed", "taken"}));
        EXPECT_EQ(namesIn(sides.b("renamed")), (std::vector<std::string>{"f", "x"}));
    }
}

// Only the spelling changes; where letter case tells names apart this is an ordinary move.
TEST_P(OnEveryFileSystem, ACaseOnlyRenameChangesTheSpelling) {
    const Sides sides = sidesFor("case");
    LocationResolver locations({sides.root + "/A", sides.root + "/B"});
    writeFile(sides.b("Report.TXT"), "the report");
    const FileStamp planned = stampAt(sides.b("Report.TXT"));
    const FsResult moved = moveIfUnchanged(locations, sides.b("Report.TXT"), &planned, sides.b("report.txt"),
                                           &capabilitiesOf(fileSystem()));
    ASSERT_TRUE(moved.ok()) << failureText(moved.error);
    EXPECT_EQ(namesIn(sides.root + "/B"), std::vector<std::string>{"report.txt"});
    EXPECT_EQ(readFile(sides.b("report.txt")), "the report");
}

// What an inode number is worth on each row: the same file read twice, after a rename, after the
// kernel forgot it (a remount). Printed for every row; checked where the probe says it is stable.
TEST_P(OnEveryFileSystem, InodeNumbersAreStableWhereTheProbeSaysSo) {
    const Sides sides = sidesFor("inodes");
    writeFile(sides.b("f"), "one file");
    const ino_t first = statOf(sides.b("f"))->st_ino;
    const ino_t again = statOf(sides.b("f"))->st_ino;
    ASSERT_EQ(::rename(sides.b("f").c_str(), sides.b("g").c_str()), 0);
    const ino_t renamed = statOf(sides.b("g"))->st_ino;
    std::string why;
    const bool remounted = fileSystem().remount(&why);
    std::optional<ino_t> afterRemount;
    if (remounted && statOf(sides.b("g")))
        afterRemount = statOf(sides.b("g"))->st_ino;
    const auto upper = statOf(sides.b("G"));
    std::cout << "[ inodes   ] " << fileSystem().name() << ": " << first << ", read again " << again
              << ", after rename " << renamed << ", after remount "
              << (afterRemount ? std::to_string(*afterRemount) : "(" + why + ")")
              << (upper ? ", spelled G: " + std::to_string(upper->st_ino) : std::string()) << "\n";
    if (!capabilitiesOf(fileSystem()).stableInodes)
        return;
    EXPECT_EQ(again, first);
    EXPECT_EQ(renamed, first);
    if (afterRemount) {
        EXPECT_EQ(*afterRemount, first);
    }
}

PARITAS_ON_EVERY_FILE_SYSTEM(OnEveryFileSystem);

// The fixture itself: every row leaves nothing behind when it is unmounted (no mount, no loop
// device, no daemon), and a remount keeps the files (tmpfs aside).
class MountedFileSystemRow : public ::testing::TestWithParam<FileSystemKind> {};

TEST_P(MountedFileSystemRow, UnmountingLeavesNoMountLoopDeviceOrProcess) {
    MountedFileSystem fs(GetParam());
    if (!fs.mounted())
        GTEST_SKIP() << fs.skipReason();
    if (GetParam() == FileSystemKind::ExfatFuse) {
        EXPECT_EQ(fs.mountType(), "fuseblk") << "exFAT must come through FUSE, not the kernel's driver";
    }
    const std::string folder = fs.freshFolder();
    writeFile(folder + "/kept", "across mounts");
    std::string why;
    if (fs.remount(&why)) {
        EXPECT_EQ(readFile(folder + "/kept"), "across mounts");
    } else
        EXPECT_EQ(GetParam(), FileSystemKind::Tmpfs) << why;
    fs.unmount();
    const MountedFileSystem::Leftovers left = fs.leftovers();
    EXPECT_TRUE(left.mounts.empty()) << left.mounts.front();
    EXPECT_TRUE(left.loopDevices.empty()) << left.loopDevices.front();
    EXPECT_TRUE(left.processes.empty()) << left.processes.front();
}

INSTANTIATE_TEST_SUITE_P(FileSystems, MountedFileSystemRow, ::testing::ValuesIn(allFileSystemKinds()),
                         fileSystemTestName);

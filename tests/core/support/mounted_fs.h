#pragma once
// Real file systems mounted for tests, one row each: ext4, xfs and btrfs on loop images, a tmpfs,
// exFAT through FUSE (exfat-fuse on a loop device; never the kernel's exfat driver), NTFS through
// ntfs-3g, and sshfs to an OpenSSH sshd of the test's own on a free port of 127.0.0.1.
//
// A row is made on first use, in a private temporary folder ($TMPDIR or /tmp,
// "paritas-fs-<pid>-XXXXXX"), and kept for the rest of the process; it is unmounted when the process
// ends (lazily when busy), and no loop device or process of it stays behind. The FUSE daemons and
// sshd are children of the test that die with it (PR_SET_PDEATHSIG), unmounting their file system;
// loop mounts a killed test leaves behind are cleared by the next test process that mounts anything
// (the folders of processes that no longer exist).
//
// A row that cannot be made here (not root, a tool or /dev/fuse missing, a mount refused) is not
// mounted and says why in skipReason(); tests skip with it. The packages are in scripts/deps.sh.
//
// Writing a test that runs on every row:
//
//   class OnEveryFileSystem : public paritas::test::MountedFileSystemTest {};
//   TEST_P(OnEveryFileSystem, KeepsWhatItCopies) {
//       const std::string& folder = this->folder(); // fresh, empty, inside this row's mount
//       ...                                         // fileSystem().kind(), .remount(), ...
//   }
//   PARITAS_ON_EVERY_FILE_SYSTEM(OnEveryFileSystem);
//
// or, inside one test, forEachMountedFileSystem([](MountedFileSystem& fs) { ... }).
// Rows are mounted from the thread that runs the tests: the daemons die with the thread that
// started them.

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace paritas::test {

enum class FileSystemKind { Ext4, Xfs, Btrfs, Tmpfs, ExfatFuse, Ntfs3g, Sshfs };

// Every row, in this order: ext4, xfs, btrfs, tmpfs, exfat-fuse, ntfs-3g, sshfs.
const std::vector<FileSystemKind>& allFileSystemKinds();
// "ext4", "xfs", "btrfs", "tmpfs", "exfat-fuse", "ntfs-3g", "sshfs".
std::string nameOf(FileSystemKind kind);
// How GoogleTest shows a row in test names and failures.
void PrintTo(FileSystemKind kind, std::ostream* out);

class MountedFileSystem {
public:
    // Makes and mounts a file system of `kind` in a new temporary folder; see mounted().
    explicit MountedFileSystem(FileSystemKind kind);
    ~MountedFileSystem(); // unmount()
    MountedFileSystem(const MountedFileSystem&) = delete;
    MountedFileSystem& operator=(const MountedFileSystem&) = delete;

    FileSystemKind kind() const { return kind_; }
    std::string name() const { return nameOf(kind_); }
    bool mounted() const { return mounted_; }
    // Why the row is not mounted; empty while it is.
    const std::string& skipReason() const { return skipReason_; }
    // The mount point, without trailing separator.
    const std::string& root() const { return mountPoint_; }
    // The type /proc/self/mountinfo shows ("ext4", "fuseblk", "fuse.sshfs", ...).
    std::string mountType() const;
    // A new empty folder inside the mount, its name unique in the process: root()/hint-N.
    std::string freshFolder(const std::string& hint = "t");
    // Unmounts and mounts the same file system again, so that the kernel forgets every file of it
    // (inode numbers, cached names). False, with the reason in `why`, where that cannot be done: a
    // tmpfs keeps nothing across mounts.
    bool remount(std::string* why = nullptr);
    // Unmounts (lazily when busy), ends the daemons, removes the temporary folder. Idempotent.
    void unmount();

    // What stays of the row after unmount(), for the fixture's own tests: mounts below its folder,
    // loop devices backed by its image, and its daemons still running.
    struct Leftovers {
        std::vector<std::string> mounts;
        std::vector<std::string> loopDevices;
        std::vector<pid_t> processes;
        bool empty() const { return mounts.empty() && loopDevices.empty() && processes.empty(); }
    };
    Leftovers leftovers() const;
    // The loop device holding the image while mounted ("/dev/loop3"), else empty.
    std::string loopDevice() const;

private:
    bool mountOnce();
    bool mountImage(const std::string& type);
    bool mountTmpfs();
    bool mountExfat();
    bool mountNtfs();
    bool mountSshfs();
    bool startSshd();
    bool startFuseDaemon(const std::vector<std::string>& argv, const std::string& log);
    bool waitForMount(pid_t daemon, const std::string& log);
    void unmountOnly();
    bool skip(std::string reason);

    FileSystemKind kind_;
    bool mounted_ = false;
    std::string skipReason_;
    std::string workDir_;
    std::string mountPoint_;
    std::string image_;
    pid_t daemon_ = -1; // the FUSE daemon (exfat-fuse, ntfs-3g, sshfs), a child of this process
    pid_t sshd_ = -1;
    int port_ = 0;
    int folderCount_ = 0;
    std::vector<pid_t> started_; // every daemon ever started, for leftovers()
};

// The row of `kind` shared by the whole process: mounted on first use, unmounted at exit.
MountedFileSystem& mountedFileSystem(FileSystemKind kind);

// Calls `body` for every row that is mounted, and `skipped` (when given) for every one that is not.
void forEachMountedFileSystem(const std::function<void(MountedFileSystem&)>& body,
                              const std::function<void(const MountedFileSystem&)>& skipped = {});

// A fixture over the rows: SetUp mounts the row (shared, see mountedFileSystem()) or skips the test
// with the reason; folder() is a fresh empty folder in it, removed after the test.
class MountedFileSystemTest : public ::testing::TestWithParam<FileSystemKind> {
protected:
    void SetUp() override;
    void TearDown() override;
    MountedFileSystem& fileSystem() { return *fileSystem_; }
    const std::string& folder() const { return folder_; }

private:
    MountedFileSystem* fileSystem_ = nullptr;
    std::string folder_;
};

// The test name suffix of a row: "ext4", "exfat_fuse", "ntfs_3g", ...
std::string fileSystemTestName(const ::testing::TestParamInfo<FileSystemKind>& info);

// Removes a folder and everything below it, never crossing into another mount.
void removeFolderTree(const std::string& path);

} // namespace paritas::test

#define PARITAS_ON_EVERY_FILE_SYSTEM(Suite)                                                                  \
    INSTANTIATE_TEST_SUITE_P(FileSystems, Suite, ::testing::ValuesIn(::paritas::test::allFileSystemKinds()), \
                             ::paritas::test::fileSystemTestName)

#pragma once
// What the file system under a folder can do, found by trying it there once per run.
//
// The copy and move operations keep the same promises on every file system (a copy takes its name
// only when complete; "never replace" never replaces; "replace only the planned file" replaces only
// that one), but the means differ: an unnamed file or a hidden temporary one, RENAME_NOREPLACE or a
// hard link or a check right before a plain rename, RENAME_EXCHANGE or moving the old file aside
// first. Given the capabilities, they pick the means at once instead of learning from failures, and
// they compare identities only as far as the file system keeps them (stableInodes).
//
// The probe works inside the folder with hidden temporary names (copyTemporaryName(), which the
// scans never list), and removes every one of them again, also when a step fails. It needs to be
// able to create files in the folder; where it cannot, probeError says why and every field keeps
// the default, which is what the operations assume without capabilities.
//
// What was found here (Linux 6.18, Debian 12's tools; tests/core/platform/filesystems_test.cpp holds
// each row against it), as a reference for what to expect:
//
//                   unnamed noreplace exchange links case  symlinks modes xattr  time   clones inodes
//   ext4             yes     yes       yes      yes   yes   yes      yes   yes    1 ns   no     stable
//   xfs              yes     yes       yes      yes   yes   yes      yes   yes    1 ns   yes    stable
//   btrfs            yes     yes       yes      yes   yes   yes      yes   yes    1 ns   yes    stable
//   tmpfs            yes     yes       yes      yes   yes   yes      yes   yes    1 ns   no     stable
//   exfat-fuse       no      no        no       no    no    no       no    no     1 s    no     per lookup
//   ntfs-3g          no      no        no       yes   yes   yes      no    yes  100 ns   no     stable*
//   sshfs            no      no        no       yes   yes   yes      yes   no     1 s    no     per lookup
//
// (modes: as root; tmpfs keeps user.* attributes since Linux 6.6. *ntfs-3g numbers files by their
// MFT records, which stay, but the probe says "not stable" for every FUSE file system.)
// "per lookup": a FUSE daemon that numbers inodes itself (exfat-fuse, sshfs without -o use_ino)
// hands out a new number whenever the kernel looks a name up after forgetting it, and exfat-fuse
// gives each spelling of one name ("a.txt", "A.TXT") its own number. A number read twice may then
// differ for one unchanged file, and device + inode cannot tell whether two spellings are one file.
// The number does survive a rename while the kernel still holds the file.

#include <cstdint>
#include <string>

namespace paritas {

struct FileStamp;
class TemporaryNameLog;

struct FileSystemCapabilities {
    bool unnamedFiles = true;       // O_TMPFILE, and linkat of such a file to a name (even without
                                    // hardLinks: the copy then links only its unnamed files)
    bool renameNoReplace = true;    // renameat2 RENAME_NOREPLACE
    bool renameExchange = true;     // renameat2 RENAME_EXCHANGE
    bool hardLinks = true;          // linkat of a file to a second name
    bool caseSensitive = true;      // false: two spellings differing in letter case name one entry
    bool symbolicLinks = true;      // symlinkat, read back with the same target text
    bool ownersAndModes = true;     // chmod bits stick (and chown, where the process may chown)
    bool extendedAttributes = true; // user.* attributes stick
    // The step in which modified times are kept: 1 (ns) on ext4, 100 on NTFS, 1e7 on exFAT through
    // the kernel, 1e9 on exfat-fuse and sshfs, 2e9 on FAT. 0: a time set is not kept at all.
    int64_t timeGranularityNs = 1;
    bool clones = false; // FICLONE shares the blocks of a file (btrfs, xfs with reflink)
    // An inode number names one file for as long as it exists, whatever its name was looked up as.
    // False on every FUSE file system (the daemon decides, and a probe cannot make the kernel
    // forget a file to see), and wherever two spellings of one name give two numbers.
    bool stableInodes = true;
    // 0 when probed; else the errno that stopped the probe, and the fields above keep their defaults.
    int probeError = 0;
};

// Probes the file system of the open folder `folderFd` (any folder descriptor, O_PATH included).
// With `journal`, every temporary name is recorded there first (work_journal.h), as the folder's
// full path `folder`; a name that cannot be recorded is not made (probeError says why).
FileSystemCapabilities probeCapabilities(int folderFd, TemporaryNameLog* journal = nullptr,
                                         const std::string& folder = {});
// The same for a folder path (opened following links).
FileSystemCapabilities probeCapabilities(const std::string& folder, TemporaryNameLog* journal = nullptr);

// One line for logs and test output: "unnamed noreplace exchange links case symlinks modes xattr
// time=1ns inodes" with "no-" before what is missing.
std::string describeCapabilities(const FileSystemCapabilities& capabilities);

// What a caller without probed capabilities can learn at once (one fstatfs): whether the inode
// numbers of the folder's file system may change while a file stays the same (FUSE).
bool inodesMayChange(int folderFd);

// Whether the file seen now (`seen`) is the file of `planned`, as far as the file system can tell:
// FileStamp::sameFileAs, without the inode where inode numbers are not stable. nullptr: sameFileAs.
bool sameFileOn(const FileSystemCapabilities* capabilities, const FileStamp& seen, const FileStamp& planned);

} // namespace paritas

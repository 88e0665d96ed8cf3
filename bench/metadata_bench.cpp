// Metadata benchmark program, driven by metadata_bench.sh.
//
//   metadata_bench make-tree DIR FILES FOLDERS   the deterministic tree (skipped if DIR exists): files of
//                                                0-4 KiB; every 10th with two user.* attributes, every
//                                                20th with an access ACL
//   metadata_bench walk MODE DIR...              walks each DIR as a scan does (one sorted listing and
//                                                one fstatat per entry) and, per file, by MODE:
//                                                  plain      nothing more
//                                                  llistxattr one bare llistxattr on the full path
//                                                  read       readAttributesAt (attributes and ACLs)
//                                                  read-proc  the same as on kernels before 6.13
//                                                             (no listxattrat: /proc/self/fd/DIR/NAME)
//                                                prints files, attributes seen, seconds
//   metadata_bench memory ROWS                   bytes per inventory row now and with the proposed
//                                                ownership fields
//
// The walk is the scan's own listing (listFolderSorted with file facts), so "read - plain" is what
// comparing attributes adds to a scan.

#include "core/inventory/inventory.h"
#include "core/platform/entry_handle.h"
#include "core/platform/folder_listing.h"
#include "core/platform/metadata.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

using namespace paritas;

namespace {

struct Random {
    uint32_t state = 2463534242u;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

// A minimal access ACL (owner rw, a named user r, group r, mask r, others none), little-endian.
std::string sampleAcl() {
    std::string value;
    const auto put = [&](uint32_t number, int bytes) {
        for (int i = 0; i < bytes; ++i)
            value += static_cast<char>((number >> (8 * i)) & 0xFF);
    };
    put(2, 4);
    const uint32_t entries[][3] = {{0x01, 6, 0xFFFFFFFFu},
                                   {0x02, 4, 1},
                                   {0x04, 4, 0xFFFFFFFFu},
                                   {0x10, 4, 0xFFFFFFFFu},
                                   {0x20, 0, 0xFFFFFFFFu}};
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
    }
    return value;
}

int makeTree(const std::string& root, int files, int folders) {
    struct stat st {};
    if (::stat(root.c_str(), &st) == 0) {
        std::printf("tree %s exists; kept\n", root.c_str());
        return 0;
    }
    if (::mkdir(root.c_str(), 0755) != 0) {
        std::perror(root.c_str());
        return 1;
    }
    std::vector<std::string> paths;
    for (int i = 0; i < folders; ++i) {
        const std::string parent = i < 20 ? root : paths[std::size_t(i % 20)];
        paths.push_back(parent + "/d" + std::to_string(i));
        if (::mkdir(paths.back().c_str(), 0755) != 0) {
            std::perror(paths.back().c_str());
            return 1;
        }
    }
    Random random;
    std::vector<char> content(4096, 'x');
    const std::string acl = sampleAcl();
    for (int i = 0; i < files; ++i) {
        const std::string path = paths[random.next() % paths.size()] + "/f" + std::to_string(i) + ".dat";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.data(), random.next() % content.size()) < 0) {
            std::perror(path.c_str());
            return 1;
        }
        bool ok = true;
        if (i % 10 == 0)
            ok = ::fsetxattr(fd, "user.origin", "bench", 5, 0) == 0 &&
                 ::fsetxattr(fd, "user.checksum", content.data(), 32, 0) == 0;
        if (ok && i % 20 == 0)
            ok = ::fsetxattr(fd, "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
        ::close(fd);
        if (!ok) {
            std::perror(("setxattr " + path).c_str());
            return 1;
        }
    }
    std::printf("tree %s: %d files in %d folders\n", root.c_str(), files, folders);
    return 0;
}

enum class Mode { Plain, Llistxattr, Read };

struct Counts {
    long files = 0, attributes = 0, errors = 0;
};

void walk(const std::string& folder, Mode mode, FolderListing& listing, Counts& counts) {
    ListingOptions options;
    options.fileFacts = true;
    options.followLinkAtPath = false;
    if (!listFolderSorted(folder, options, listing))
        return;
    std::vector<std::string> subfolders;
    const int dir = mode == Mode::Read ? ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    char names[4096];
    for (const FolderEntry& entry : listing) {
        if (entry.type == EntryType::Directory) {
            subfolders.emplace_back(folder + "/" + std::string(entry.name));
            continue;
        }
        ++counts.files;
        if (mode == Mode::Llistxattr) {
            const std::string path = folder + "/" + std::string(entry.name);
            const ssize_t n = ::llistxattr(path.c_str(), names, sizeof names);
            if (n < 0)
                ++counts.errors;
            for (ssize_t at = 0; at < n; at += ssize_t(std::strlen(names + at)) + 1)
                ++counts.attributes;
        } else if (mode == Mode::Read) {
            // The listing has the stat already: a scan comparing attributes reads them alone.
            const AttributesRead read = readAttributesAt(
                dir, std::string(entry.name), {.extendedAttributes = true, .accessControlLists = true});
            if (!read.ok())
                ++counts.errors;
            counts.attributes += long(read.attributes.size());
        }
    }
    if (dir >= 0)
        ::close(dir);
    for (const std::string& subfolder : subfolders)
        walk(subfolder, mode, listing, counts);
}

int walkTrees(const std::string& modeText, int count, char** roots) {
    const Mode mode = modeText == "read" || modeText == "read-proc" ? Mode::Read
                      : modeText == "llistxattr"                    ? Mode::Llistxattr
                                                                    : Mode::Plain;
    if (modeText == "read-proc")
        detail::allowXattrAtCalls(false);
    const auto start = std::chrono::steady_clock::now();
    Counts counts;
    FolderListing listing;
    for (int i = 0; i < count; ++i)
        walk(roots[i], mode, listing, counts);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("mode=%s files=%ld attributes=%ld errors=%ld seconds=%.3f\n", modeText.c_str(), counts.files,
                counts.attributes, counts.errors, seconds);
    return counts.errors == 0 ? 0 : 1;
}

// The inventory's row as it is, and with the ownership fields this layer proposes (owner, group, the
// 07777 bits, and one bit "has other names" taken from the nanoseconds' spare bit).
struct RowNow {
    uint64_t pathOffset;
    uint32_t pathLength, nameLength;
    int64_t size, modifiedTime;
    uint64_t inode;
    int32_t fileTime;
    uint32_t nanos : 31, marked : 1;
};
struct RowWithOwnership {
    uint64_t pathOffset;
    uint32_t pathLength, nameLength;
    int64_t size, modifiedTime;
    uint64_t inode;
    int32_t fileTime;
    uint32_t nanos : 30, marked : 1, otherNames : 1;
    uint32_t owner, group;
    uint16_t permissions;
};
// The same with an index into the inventory's table of distinct (owner, group, bits): trees hold few.
struct RowWithOwnershipIndex {
    uint64_t pathOffset;
    uint32_t pathLength, nameLength;
    int64_t size, modifiedTime;
    uint64_t inode;
    int32_t fileTime;
    uint32_t nanos : 30, marked : 1, otherNames : 1;
    uint16_t ownership;
};

int memory(long rows) {
    Inventory inventory;
    FileStamp stamp;
    for (long i = 0; i < rows; ++i) {
        stamp.size = i;
        stamp.modifiedTime = 1600000000 + i;
        stamp.inode = uint64_t(i);
        inventory.addFile("/data/folder/", "file" + std::to_string(i) + ".dat", stamp);
    }
    const double perRow = double(inventory.memoryBytes()) / double(rows);
    std::printf("rows=%ld inventory_bytes_per_row=%.1f row_struct_now=%zu with_ownership=%zu (+%zu) "
                "with_ownership_index=%zu (+%zu) added_MB_per_million_rows=%.1f/%.1f\n",
                rows, perRow, sizeof(RowNow), sizeof(RowWithOwnership),
                sizeof(RowWithOwnership) - sizeof(RowNow), sizeof(RowWithOwnershipIndex),
                sizeof(RowWithOwnershipIndex) - sizeof(RowNow),
                double(sizeof(RowWithOwnership) - sizeof(RowNow)) * 1e6 / 1048576.0,
                double(sizeof(RowWithOwnershipIndex) - sizeof(RowNow)) * 1e6 / 1048576.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make-tree" && argc == 5)
        return makeTree(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (command == "walk" && argc >= 4)
        return walkTrees(argv[2], argc - 3, argv + 3);
    if (command == "memory" && argc == 3)
        return memory(std::atol(argv[2]));
    std::fprintf(
        stderr,
        "usage: metadata_bench make-tree DIR FILES FOLDERS | walk plain|llistxattr|read|read-proc DIR... | "
        "memory ROWS\n");
    return 2;
}

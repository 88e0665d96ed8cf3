// What a scan keeps of each row's and each folder's metadata: type, permissions, owner, group and link
// count from the stat it makes anyway (a few bytes a row, owners shared in a small table), and a digest
// of the attributes only when asked.

#include "core/inventory/scan.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace paritas {
namespace {

using test::TempTree;

ScanResult scanned(const std::string& location, ScanOptions options = {}) {
    test::SyncRecordingHost host;
    return scanLocation(location, options, Side::A, host);
}

TEST(ScanMetadata, RowsKeepModeOwnerGroupLinksAndDeviceFromTheirStat) {
    TempTree tree("d/f = f\nd/g = g\nl -> d/f\n");
    ASSERT_EQ(::chmod(tree.path("d/f").c_str(), 04751), 0);
    ASSERT_EQ(::link(tree.path("d/f").c_str(), tree.path("d/h").c_str()), 0);
    const ScanResult scan = scanned(tree.root());
    const Inventory& rows = scan.inventory;
    ASSERT_EQ(rows.fileCount(), 4u); // l, d/f, d/g, d/h
    struct stat f {};
    ASSERT_EQ(::lstat(tree.path("d/f").c_str(), &f), 0);
    for (std::size_t row = 0; row < rows.fileCount(); ++row) {
        SCOPED_TRACE(std::string(rows.fullPath(row)));
        struct stat st {};
        ASSERT_EQ(::lstat(std::string(rows.fullPath(row)).c_str(), &st), 0);
        ASSERT_TRUE(rows.ownershipKnown(row));
        const EntryOwnership o = rows.ownership(row);
        EXPECT_EQ(o.mode, st.st_mode);
        EXPECT_EQ(o.owner, st.st_uid);
        EXPECT_EQ(o.group, st.st_gid);
        EXPECT_EQ(o.links, st.st_nlink);
        EXPECT_EQ(o.device, st.st_dev);
        EXPECT_EQ(rows.isLink(row), S_ISLNK(st.st_mode));
        EXPECT_EQ(rows.linkFacts(row).inode, st.st_ino);
        EXPECT_EQ(rows.attributes(row), 0u); // not asked for
    }
    EXPECT_EQ(rows.ownershipFacts(1), (OwnershipFacts{04751, f.st_uid, f.st_gid}));
    // One folder fact per folder of the list, the location's own first.
    ASSERT_EQ(scan.folderMetadata.size(), scan.folders.size());
    struct stat d {};
    ASSERT_EQ(::stat(tree.path("d").c_str(), &d), 0);
    EXPECT_EQ(scan.folderMetadata[1].ownership.mode, d.st_mode);
    EXPECT_EQ(scan.folderMetadata[1].modifiedTime, d.st_mtim.tv_sec);
    EXPECT_EQ(scan.folderMetadata[1].modifiedNanos, d.st_mtim.tv_nsec);
}

TEST(ScanMetadata, AttributesAreReadOnlyWhenAskedAndEqualAttributesGiveEqualDigests) {
    TempTree tree("a = x\nb = y\nc = z\nd/\n");
    const std::string value = "same";
    for (const char* name : {"a", "b", "d"})
        if (::setxattr(tree.path(name).c_str(), "user.k", value.data(), value.size(), 0) != 0)
            GTEST_SKIP() << "this file system keeps no user attributes";
    ASSERT_EQ(::setxattr(tree.path("c").c_str(), "user.k", "other", 5, 0), 0);
    EXPECT_FALSE(scanned(tree.root()).inventory.attributesRead());
    ScanOptions options;
    options.attributes = kAllAttributes;
    const ScanResult scan = scanned(tree.root(), options);
    const Inventory& rows = scan.inventory;
    ASSERT_TRUE(rows.attributesRead());
    ASSERT_EQ(rows.fileCount(), 3u);
    EXPECT_NE(rows.attributes(0), 0u);
    EXPECT_EQ(rows.attributes(0), rows.attributes(1));
    EXPECT_NE(rows.attributes(0), rows.attributes(2));
    EXPECT_EQ(scan.folderMetadata[1].attributes, rows.attributes(0));
    EXPECT_EQ(scan.folderMetadata[0].attributes, 0u); // the location holds none
}

TEST(InventoryMetadata, RowsShareTheirOwnersAndKeepDigestsOnlyOnceOneIsThere) {
    Inventory rows;
    const EntryOwnership owners[] = {{0100644, 1000, 1000, 1, 7}, {0100600, 0, 0, 2, 7}, {0120777, 1000, 1000, 1, 7}};
    constexpr std::size_t kRows = 300000;
    for (std::size_t i = 0; i < kRows; ++i)
        rows.addFile("/a/", "f" + std::to_string(i), FileStamp{1, 0, 2, 3, i + 1}, owners[i % 3]);
    for (std::size_t i : {std::size_t(0), std::size_t(1), std::size_t(2), kRows - 1}) {
        const EntryOwnership o = rows.ownership(i);
        EXPECT_EQ(o.mode, owners[i % 3].mode);
        EXPECT_EQ(o.links, owners[i % 3].links);
    }
    // Rows without attributes keep no digests at all; the first one makes room for every row.
    const std::size_t before = rows.memoryBytes();
    rows.addFile("/a/", "x", FileStamp{}, owners[0], 42);
    EXPECT_EQ(rows.attributes(kRows), 42u);
    EXPECT_EQ(rows.attributes(0), 0u);
    EXPECT_GE(rows.memoryBytes(), before + kRows * sizeof(uint64_t));
    // A row added without them (a table in memory) knows no owner, and one name.
    Inventory plain;
    plain.addFile("/a/", "f", FileStamp{});
    EXPECT_FALSE(plain.ownershipKnown(0));
    EXPECT_EQ(plain.linkFacts(0).links, 1u);
}

} // namespace
} // namespace paritas

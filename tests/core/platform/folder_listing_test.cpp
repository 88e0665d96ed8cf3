#include "core/platform/folder_listing.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <random>

using namespace paritas;
using paritas::test::TempTree;

namespace {

std::vector<std::string> names(const FolderListing& listing) {
    std::vector<std::string> result;
    for (const FolderEntry& entry : listing)
        result.emplace_back(entry.name);
    return result;
}

const FolderEntry* find(const FolderListing& listing, std::string_view name) {
    for (const FolderEntry& entry : listing) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

} // namespace

TEST(FolderListing, EntriesComeSortedByNameInByteOrderWithoutDotEntries) {
    TempTree tree(R"(
        a.txt = 1
        B.txt = 2
        a b.txt = 3
        ab/
        ä.txt = 4
        .hidden = 5
        _x = 6
    )");
    FolderListing listing;
    ASSERT_TRUE(listFolderSorted(tree.root(), {}, listing));
    EXPECT_EQ(names(listing),
              (std::vector<std::string>{".hidden", "B.txt", "_x", "a b.txt", "a.txt", "ab", "ä.txt"}));
}

TEST(FolderListing, TypesAreThoseLstatSeesAndLinksAreNeverFolders) {
    TempTree tree(R"(
        folder/
        file = abc
        to-folder -> folder
        to-file -> file
        dangling -> nowhere
        pipe fifo
    )");
    FolderListing listing;
    ASSERT_TRUE(listFolderSorted(tree.root(), {}, listing));
    ASSERT_EQ(listing.size(), 6u);
    EXPECT_EQ(find(listing, "folder")->type, EntryType::Directory);
    EXPECT_EQ(find(listing, "file")->type, EntryType::File);
    EXPECT_EQ(find(listing, "to-folder")->type, EntryType::Link);
    EXPECT_EQ(find(listing, "to-file")->type, EntryType::Link);
    EXPECT_EQ(find(listing, "dangling")->type, EntryType::Link);
    EXPECT_EQ(find(listing, "pipe")->type, EntryType::Special);
    EXPECT_FALSE(find(listing, "file")->factsKnown); // not asked for
}

TEST(FolderListing, FileFactsAreTheEntrysOwnSizeAndTime) {
    TempTree tree(R"(
        file = hello @2021-03-04 05:06:08
        link -> file @2019-01-01 10:00:00
        sub/ @2018-01-01 00:00:00
    )");
    FolderListing listing;
    ListingOptions options;
    options.fileFacts = true;
    ASSERT_TRUE(listFolderSorted(tree.root(), options, listing));
    const FolderEntry* file = find(listing, "file");
    const FolderEntry* link = find(listing, "link");
    ASSERT_TRUE(file && link);
    EXPECT_TRUE(file->factsKnown);
    EXPECT_EQ(file->size, 5);
    EXPECT_EQ(file->modifiedTime, test::utcTime(2021, 3, 4, 5, 6, 8));
    EXPECT_TRUE(link->factsKnown);
    EXPECT_EQ(link->size, 4); // the target text "file"
    EXPECT_EQ(link->modifiedTime, test::utcTime(2019, 1, 1, 10, 0, 0));
    EXPECT_FALSE(find(listing, "sub")->factsKnown); // folders are not files
}

TEST(FolderListing, AMissingFolderOrAFileCannotBeListed) {
    TempTree tree("file = x\n");
    FolderListing listing;
    EXPECT_FALSE(listFolderSorted(tree.path("missing/"), {}, listing));
    EXPECT_EQ(listing.errorCode(), ENOENT);
    EXPECT_FALSE(listFolderSorted(tree.path("file"), {}, listing));
    EXPECT_EQ(listing.errorCode(), ENOTDIR);
    EXPECT_TRUE(listing.empty());
}

TEST(FolderListing, ALinkAtThePathIsReadOnlyWhenAsked) {
    TempTree tree(R"(
        real/inside = x
        alias -> real
    )");
    FolderListing listing;
    ASSERT_TRUE(listFolderSorted(tree.path("alias"), {}, listing));
    EXPECT_EQ(names(listing), std::vector<std::string>{"inside"});
    ListingOptions walked;
    walked.followLinkAtPath = false;
    EXPECT_FALSE(listFolderSorted(tree.path("alias"), walked, listing));
    EXPECT_TRUE(listing.empty());
}

TEST(FolderListing, ALargeFolderMatchesAPlainReaddirSortedByBytes) {
    // Long, shuffled names fill several raw buffers; the listing is reused across two folders.
    TempTree tree;
    std::mt19937 random(7);
    std::vector<std::string> expected;
    for (int i = 0; i < 3000; ++i) {
        std::string name = std::to_string(random() % 100000) + "-" + std::string(60 + i % 100, 'a' + i % 26);
        if (i % 7 == 0)
            name = "Ü" + name;
        expected.push_back(name);
        tree.file("big/" + name, "");
    }
    tree.file("small/one", "");
    std::sort(expected.begin(), expected.end());

    FolderListing listing;
    ASSERT_TRUE(listFolderSorted(tree.path("big/"), {}, listing));
    EXPECT_EQ(names(listing), expected);

    std::vector<std::string> plain;
    DIR* dir = opendir(tree.path("big").c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            plain.push_back(name);
    }
    closedir(dir);
    std::sort(plain.begin(), plain.end());
    EXPECT_EQ(plain, expected);

    ASSERT_TRUE(listFolderSorted(tree.path("small/"), {}, listing));
    EXPECT_EQ(names(listing), std::vector<std::string>{"one"});
}

#include "core/inventory/inventory.h"

#include <gtest/gtest.h>

using namespace paritas;

TEST(Inventory, ManyRowsAcrossPathBlocksComeBackIntact) {
    // Paths of varied length fill several blocks; none may be cut at a block's end.
    Inventory inventory;
    std::vector<std::pair<std::string, std::string>> expected;
    for (int i = 0; i < 40000; ++i) {
        std::string folder = "/data/" + std::string(static_cast<std::size_t>(i % 97), 'f') + "/";
        std::string name = "file" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 13), 'n');
        inventory.addFile(folder, name, i, i * 3);
        expected.emplace_back(folder + name, name);
    }
    ASSERT_EQ(inventory.fileCount(), expected.size());
    ASSERT_EQ(inventory.rowCount(), expected.size() + 1);
    int64_t total = 0;
    for (std::size_t row = 0; row < expected.size(); ++row) {
        ASSERT_EQ(inventory.fullPath(row), expected[row].first) << row;
        ASSERT_EQ(inventory.name(row), expected[row].second) << row;
        ASSERT_EQ(inventory.size(row), static_cast<int64_t>(row));
        total += static_cast<int64_t>(row);
    }
    EXPECT_EQ(inventory.sizeTotal(), total);
    EXPECT_EQ(inventory.cell(expected.size(), 0), "");
}

TEST(Inventory, CellsShowTheRowAsText) {
    Inventory inventory;
    inventory.addFile("/d/", "a.txt", 5000000000, 0);
    EXPECT_EQ(inventory.cell(0, 0), "/d/a.txt");
    EXPECT_EQ(inventory.fullPath(0), "/d/a.txt");
    EXPECT_EQ(inventory.cell(0, 1), "5000000000");
    EXPECT_EQ(inventory.cell(0, 3), "a.txt");
}

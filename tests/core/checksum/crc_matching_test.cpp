#include "core/checksum/crc32.h"
#include "core/checksum/crc_display.h"
#include "core/checksum/crc_matching.h"
#include "core/platform/file_queries.h"

#include "checksum/temp_files.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/time.h>

using namespace paritas;
using paritas::testing::TempFolder;

namespace {

// Lists files of a temporary folder into an inventory in the order given, with their real sizes and
// packed modified times, as a scan would.
Inventory inventoryOf(const TempFolder& folder, std::initializer_list<const char*> relativePaths) {
    Inventory inventory;
    for (const char* relative : relativePaths) {
        const std::string path = folder.path(relative);
        const auto facts = fileFacts(path);
        if (!facts)
            throw std::runtime_error("no file " + path);
        const auto slash = path.rfind('/');
        inventory.addFile(path.substr(0, slash + 1), path.substr(slash + 1), facts->size, facts->fileTime);
    }
    return inventory;
}

void setModifiedTime(const std::string& path, std::time_t seconds) {
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

Settings criteria(bool size, bool name, bool timeStamp) {
    Settings settings;
    settings.CheckSize = size;
    settings.CheckName = name;
    settings.CheckTimeStamp = timeStamp;
    return settings;
}

// Records what the compare tells its host; can ask to stop once a given number of keep-alives passed.
class RecordingHost : public CrcCompareHost {
public:
    bool stopRequested() override {
        ++stopQuestions;
        return stop;
    }
    void keepAlive() override {
        ++keepAlives;
        if (stopAfterKeepAlives > 0 && keepAlives >= stopAfterKeepAlives)
            stop = true;
    }
    void setProgressMaximum(int64_t maximum) override { progressMaximum = maximum; }
    void setProgressPosition(int64_t position) override { positions.push_back(position); }
    void selectRow(std::size_t row) override { selected.push_back(row); }

    bool stop = false;
    int stopAfterKeepAlives = 0;
    int stopQuestions = 0;
    int keepAlives = 0;
    int64_t progressMaximum = -1;
    std::vector<int64_t> positions;
    std::vector<std::size_t> selected;
};

// A tree A and its copy B: a/one.txt, a/sub/two.bin, a/three (empty) and the same under b/.
class CopiedTree : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* side : {"a/", "b/"}) {
            const std::string s = side;
            setModifiedTime(folder.write(s + "one.txt", "first file"), 1'700'000'000);
            setModifiedTime(folder.write(s + "sub/two.bin", std::string(100'000, 'x')), 1'700'000'100);
            setModifiedTime(folder.write(s + "three", ""), 1'700'000'200);
        }
    }
    Inventory a() const { return inventoryOf(folder, {"a/one.txt", "a/sub/two.bin", "a/three"}); }
    Inventory b() const { return inventoryOf(folder, {"b/one.txt", "b/sub/two.bin", "b/three"}); }

    TempFolder folder;
};

} // namespace

TEST(CrcDisplayText, IsTheInvertedZeroStartCrcOfTheEightHexDigits) {
    EXPECT_EQ(crcDisplayText(0x352441C2u), "5A963463");
    EXPECT_EQ(crcDisplayText(0), "5AD5AD95");
    // Worked by hand from the definition for a CRC with leading zeros.
    const std::string text = "00ABCDEF";
    uint32_t second = 0;
    CRC32UpdateBytewise(reinterpret_cast<const uint8_t*>(text.data()), 8, second);
    char expected[9];
    std::snprintf(expected, sizeof expected, "%08X", ~second);
    EXPECT_EQ(crcDisplayText(0x00ABCDEFu), expected);
}

TEST(CrcDisplayText, OfFilesAbcEmptyAndUnreadable) {
    TempFolder folder;
    EXPECT_EQ(fileCrcDisplayText(folder.write("abc", "abc")), "5A963463");
    EXPECT_EQ(fileCrcDisplayText(folder.write("empty", "")), "5AD5AD95");
    EXPECT_EQ(fileCrcDisplayText(folder.path("missing")), "5AD5AD95");
}

TEST_F(CopiedTree, PairingFindsEachCopyAndLeavesResultsEmpty) {
    const CrcMatchTable table = pairCrcMatches(a(), b(), Settings{});
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].pathA, folder.path("a/one.txt"));
    EXPECT_EQ(table[0].pathB, folder.path("b/one.txt"));
    EXPECT_EQ(table[1].pathB, folder.path("b/sub/two.bin"));
    EXPECT_EQ(table[2].pathB, folder.path("b/three"));
    for (const auto& row : table)
        EXPECT_TRUE(row.status.empty() && row.crcA.empty() && row.crcB.empty());
}

TEST_F(CopiedTree, IdenticalCopiesAreAllOkAndCountNothing) {
    CrcMatchTable table = pairCrcMatches(a(), b(), Settings{});
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 0);
    for (const auto& row : table) {
        EXPECT_EQ(row.status, "OK!");
        EXPECT_EQ(row.crcA, row.crcB);
    }
    const std::string first = "first file";
    uint32_t firstCrc = 0xFFFFFFFFu;
    CRC32UpdateBytewise(reinterpret_cast<const uint8_t*>(first.data()), first.size(), firstCrc);
    EXPECT_EQ(table[0].crcA, crcDisplayText(~firstCrc));
    EXPECT_EQ(table[2].crcA, "5AD5AD95");
    EXPECT_EQ(host.progressMaximum, 3);
    EXPECT_EQ(host.positions, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(host.selected, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(badCrcMatchMessage(0), "0 Bad CRC Match(es) Found");
}

TEST_F(CopiedTree, AChangedCounterpartOfSameNameAndSizeIsDifferentAndCounted) {
    folder.write("b/one.txt", "FIRST FILE"); // same size, other bytes
    CrcMatchTable table = pairCrcMatches(a(), b(), Settings{});
    ASSERT_EQ(table[0].pathB, folder.path("b/one.txt"));
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 1);
    EXPECT_EQ(table[0].status, "Different!!!");
    EXPECT_NE(table[0].crcA, table[0].crcB);
    EXPECT_EQ(table[1].status, "OK!");
    EXPECT_EQ(badCrcMatchMessage(1), "1 Bad CRC Match(es) Found");
}

TEST_F(CopiedTree, OfTwoMatchingFilesInBOnlyTheFirstInInventoryOrderIsCompared) {
    folder.write("b/other/one.txt", "FIRST FILE"); // same name and size, changed
    const Inventory bWithTwo =
        inventoryOf(folder, {"b/other/one.txt", "b/one.txt", "b/sub/two.bin", "b/three"});
    CrcMatchTable table = pairCrcMatches(a(), bWithTwo, Settings{});
    EXPECT_EQ(table[0].pathB, folder.path("b/other/one.txt"));
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 1);
    EXPECT_EQ(table[0].status, "Different!!!");
}

TEST_F(CopiedTree, WithTheTimeStampTickedACopyWithAnotherTimeMatchesNothing) {
    setModifiedTime(folder.path("b/one.txt"), 1'600'000'000);
    CrcMatchTable table = pairCrcMatches(a(), b(), criteria(true, true, true));
    EXPECT_EQ(table[0].pathB, "");
    EXPECT_EQ(table[1].pathB, folder.path("b/sub/two.bin"));
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 0);
    EXPECT_EQ(table[0].status, "NoFileMatch");
    EXPECT_FALSE(table[0].crcA.empty());
    EXPECT_EQ(table[0].crcB, "");
    // Under the default criteria the time plays no part.
    EXPECT_EQ(pairCrcMatches(a(), b(), Settings{})[0].pathB, folder.path("b/one.txt"));
}

TEST_F(CopiedTree, WithNoCriterionTickedEveryFileOfAPairsWithTheFirstFileOfB) {
    CrcMatchTable table = pairCrcMatches(a(), b(), criteria(false, false, false));
    for (const auto& row : table)
        EXPECT_EQ(row.pathB, folder.path("b/one.txt"));
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 2);
    EXPECT_EQ(table[0].status, "OK!");
    EXPECT_EQ(table[1].status, "Different!!!");
}

TEST(CrcMatching, AnEmptyLocationAProcessesNoRowAndCountsZero) {
    TempFolder folder;
    folder.write("b/x", "x");
    CrcMatchTable table = pairCrcMatches(Inventory{}, inventoryOf(folder, {"b/x"}), Settings{});
    EXPECT_TRUE(table.empty());
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 0);
    EXPECT_EQ(host.progressMaximum, 0);
    EXPECT_TRUE(host.selected.empty());
}

TEST(CrcMatching, AnEmptyLocationBLeavesEveryRowWithoutPartner) {
    TempFolder folder;
    folder.write("a/x", "x");
    CrcMatchTable table =
        pairCrcMatches(inventoryOf(folder, {"a/x"}), Inventory{}, criteria(false, false, false));
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].pathB, "");
}

TEST_F(CopiedTree, StopDuringACompareFinishesTheRowUnderWayAndReportsTheCountSoFar) {
    folder.write("b/sub/two.bin", std::string(99'999, 'x') + "y"); // row 1 differs
    CrcMatchTable table = pairCrcMatches(a(), b(), Settings{});
    RecordingHost host;
    // Row 0 uses four keep-alives (block of A, after A, block of B, after B) and one after the row;
    // the stop arrives while row 1's first file is being read.
    host.stopAfterKeepAlives = 6;
    EXPECT_EQ(compareCrcMatches(table, host), 1);
    EXPECT_EQ(table[0].status, "OK!");
    EXPECT_EQ(table[1].status, "Different!!!");
    EXPECT_FALSE(table[1].crcB.empty());
    EXPECT_EQ(table[2].status, "");
    EXPECT_EQ(table[2].crcA, "");
    EXPECT_EQ(host.stopQuestions, 3);
    EXPECT_EQ(host.positions, (std::vector<int64_t>{1, 2}));
}

TEST_F(CopiedTree, AStopRequestedBeforeTheStartComparesNothing) {
    CrcMatchTable table = pairCrcMatches(a(), b(), Settings{});
    RecordingHost host;
    host.stop = true;
    EXPECT_EQ(compareCrcMatches(table, host), 0);
    for (const auto& row : table)
        EXPECT_EQ(row.status, "");
}

TEST(CrcMatching, ALargeFileKeepsTheWindowAliveBetweenBlocks) {
    TempFolder folder;
    const std::string content(3 * kCrcReadBlockSize + 1, 'z'); // four blocks on each side
    folder.write("a/big", content);
    folder.write("b/big", content);
    CrcMatchTable table =
        pairCrcMatches(inventoryOf(folder, {"a/big"}), inventoryOf(folder, {"b/big"}), Settings{});
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 0);
    EXPECT_EQ(host.keepAlives, 4 + 1 + 4 + 1 + 1);
}

TEST_F(CopiedTree, AFileThatCannotBeReadNeverPassesAsOk) {
    CrcMatchTable table = pairCrcMatches(a(), b(), Settings{});
    // Both sides of "three" (empty) vanish after pairing, "one.txt" only in B: all CRCs read as 0 or
    // as an empty file's, which would show equal texts.
    std::filesystem::remove(folder.path("a/three"));
    std::filesystem::remove(folder.path("b/three"));
    std::filesystem::remove(folder.path("b/one.txt"));
    folder.write("a/one.txt", "");
    RecordingHost host;
    EXPECT_EQ(compareCrcMatches(table, host), 2);
    EXPECT_EQ(table[0].crcA, table[0].crcB);
    EXPECT_EQ(table[0].status, "Different!!!");
    EXPECT_EQ(table[0].errorB, 2);
    EXPECT_EQ(table[2].status, "Different!!!");
    EXPECT_EQ(table[2].errorA, 2);
    EXPECT_EQ(table[1].status, "OK!");
}

TEST_F(CopiedTree, PairingReportsOneProgressStepPerRowOfA) {
    struct Progress : ActivityHost {
        void log(std::string_view) override {}
        void setProgressMaximum(int64_t m) override { maximum = m; }
        void setProgressPosition(int64_t p) override { positions.push_back(p); }
        void keepAlive() override { ++keepAlives; }
        int64_t maximum = -1;
        std::vector<int64_t> positions;
        int keepAlives = 0;
    } progress;
    pairCrcMatches(a(), b(), Settings{}, progress);
    EXPECT_EQ(progress.maximum, 2);
    EXPECT_EQ(progress.positions, (std::vector<int64_t>{0, 1, 2}));
    EXPECT_EQ(progress.keepAlives, 3);
}

TEST(CrcMatching, PairingEqualsTheWalkOfBInRowOrderUnderEveryCombinationOfCriteria) {
    std::mt19937 rng(99);
    const char* names[] = {"a", "b", "c", "A"};
    auto randomInventory = [&](std::size_t rows) {
        Inventory inventory;
        for (std::size_t i = 0; i < rows; ++i)
            inventory.addFile("/f" + std::to_string(rng() % 3) + "/", names[rng() % 4], rng() % 3,
                              static_cast<int32_t>(rng() % 3) - 1);
        return inventory;
    };
    for (int round = 0; round < 20; ++round) {
        const Inventory a = randomInventory(40);
        const Inventory b = randomInventory(round % 5 == 0 ? 0 : 30);
        for (int mask = 0; mask < 8; ++mask) {
            const Settings s = criteria(mask & 1, mask & 2, mask & 4);
            const CrcMatchTable table = pairCrcMatches(a, b, s);
            ASSERT_EQ(table.size(), a.fileCount());
            for (std::size_t i = 0; i < a.fileCount(); ++i) {
                std::string walked;
                for (std::size_t j = 0; j < b.fileCount(); ++j) {
                    const bool same = (!s.CheckSize || a.size(i) == b.size(j)) &&
                                      (!s.CheckTimeStamp || a.fileTime(i) == b.fileTime(j)) &&
                                      (!s.CheckName || a.name(i) == b.name(j));
                    if (same) {
                        walked = b.fullPath(j);
                        break;
                    }
                }
                ASSERT_EQ(table[i].pathB, walked) << "round " << round << " mask " << mask << " row " << i;
            }
        }
    }
}

// Reading folders on several threads changes nothing anyone sees: the folder list, every row and every
// call to the host come out as the walk by one thread gives them, on any tree.

#include "core/inventory/scan.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <random>

using namespace paritas;
using namespace paritas::test;

namespace {

std::string describe(const ScanResult& scan, const RecordingHost& host) {
    std::string text;
    for (const std::string& folder : scan.folders)
        text += "F " + folder + "\n";
    for (std::size_t r = 0; r < scan.inventory.fileCount(); ++r)
        text += "R " + std::string(scan.inventory.fullPath(r)) + " " + scan.inventory.sizeText(r) + "\n";
    for (const std::string& event : host.events)
        if (event.find(" Searching for Folders") == std::string::npos &&
            event.find(" Found!") == std::string::npos)
            text += "E " + event + "\n"; // the two time-stamped lines aside
    text += scan.coverage.complete() ? "complete\n" : "incomplete\n";
    return text;
}

void writeRandomTree(TempTree& tree, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> folders{""};
    const int entries = 50 + int(rng() % 250);
    for (int k = 0; k < entries; ++k) {
        const std::string parent = folders[rng() % folders.size()];
        const std::string path = (parent.empty() ? "" : parent + "/") + "n" + std::to_string(rng() % 30);
        if (tree.exists(path))
            continue;
        switch (rng() % 8) {
        case 0:
        case 1:
            tree.folder(path);
            folders.push_back(path);
            break;
        case 2:
            tree.link(path, "n" + std::to_string(rng() % 30));
            break;
        case 3:
            tree.file(path + "*odd", "cannot be carried");
            break;
        default:
            tree.file(path, std::string(rng() % 50, 'x'));
        }
    }
}

} // namespace

TEST(TreeWalk, ManyReadersGiveExactlyWhatOneGives) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        TempTree tree;
        writeRandomTree(tree, seed);
        std::string one;
        for (const int threads : {1, 2, 8}) {
            ScanOptions options;
            options.threads = threads;
            RecordingHost host;
            const std::string seen = describe(scanLocation(tree.root(), options, Side::A, host), host);
            if (threads == 1) {
                one = seen;
            } else {
                ASSERT_EQ(seen, one) << "seed " << seed << ", " << threads << " threads";
            }
        }
    }
}

TEST(TreeWalk, AScanRunAheadTellsItsHostExactlyWhatAScanInPlaceWould) {
    TempTree tree;
    writeRandomTree(tree, 99);
    RecordingHost inPlace, told;
    const std::string expected =
        describe(scanLocation(tree.root(), ScanOptions{}, Side::B, inPlace), inPlace);
    ScanAhead ahead(tree.root(), ScanOptions{}, Side::B);
    const ScanResult result = ahead.finish(told);
    EXPECT_EQ(describe(result, told), expected);
    EXPECT_EQ(told.keepAliveCount, inPlace.keepAliveCount);
}

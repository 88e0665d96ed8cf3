#include "core/inventory/scan.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <clocale>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace paritas;
using paritas::test::RecordingHost;
using paritas::test::TempTree;

namespace {

class Scan : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        std::setlocale(LC_ALL, "C");
    }

    static std::vector<std::string> paths(const Inventory& inventory) {
        std::vector<std::string> result;
        for (std::size_t row = 0; row < inventory.fileCount(); ++row)
            result.emplace_back(inventory.fullPath(row));
        return result;
    }

    // Log lines (or "log " events) with a leading date-time text ("12/09/26 14:03:07", or the date alone at
    // midnight) replaced by "<now>", so that whole sequences can be compared.
    static std::vector<std::string> stamped(const std::vector<std::string>& lines) {
        static const std::regex stamp(R"(^(log )?\d\d/\d\d/\d\d( \d\d:\d\d:\d\d)? )");
        std::vector<std::string> result;
        for (const std::string& line : lines)
            result.push_back(
                std::regex_replace(line, stamp, "$1<now> ", std::regex_constants::format_first_only));
        return result;
    }
};

} // namespace

TEST_F(Scan, HostSeesTheLogLinesProgressAndKeepAlivesInOrder) {
    TempTree tree(R"(
        r.txt = root file
        a/x.txt = in a
        a/a1/
    )");
    const std::string& r = tree.root();
    RecordingHost host;
    const ScanResult result = scanLocation(r, true, Side::A, host);
    EXPECT_TRUE(result.locationExists);
    EXPECT_EQ(stamped(host.events), (std::vector<std::string>{
                                        "log <now> Searching for Folders in \"A\" ...",
                                        "keepAlive", // a found
                                        "keepAlive", // a1 found
                                        "foldersListed",
                                        "log <now> Folders in \"A\" Found!",
                                        "maximum 2",
                                        "log Scanning folder " + r,
                                        "keepAlive", // r.txt
                                        "position 0",
                                        "log Scanning folder " + r + "a/",
                                        "keepAlive", // x.txt
                                        "position 1",
                                        "log Scanning folder " + r + "a/a1/",
                                        "position 2",
                                    }));
}

TEST_F(Scan, RowsFollowTheFolderListAndNamesInByteOrderWithAllFiveColumns) {
    TempTree tree(R"(
        b.txt = bb @2020-01-02 03:04:06
        B.txt = b @2020-01-02 03:04:06
        a/ä.txt = 12345 @2020-01-02 00:00:00
        a/a b.txt = @2020-01-02 03:04:06
        a/sub/
        z/.hidden = 1 @2020-01-02 03:04:06
    )");
    const std::string& r = tree.root();
    RecordingHost host;
    const ScanResult result = scanLocation(r, true, Side::A, host);
    EXPECT_EQ(result.folders, (FolderList{r, r + "a/", r + "z/", r + "a/sub/"}));
    EXPECT_EQ(paths(result.inventory), (std::vector<std::string>{r + "B.txt", r + "b.txt", r + "a/a b.txt",
                                                                 r + "a/ä.txt", r + "z/.hidden"}));
    const Inventory& inv = result.inventory;
    ASSERT_EQ(inv.rowCount(), 6u);
    EXPECT_EQ(inv.cell(3, 0), r + "a/ä.txt");
    EXPECT_EQ(inv.cell(3, 1), "5");
    EXPECT_EQ(inv.cell(3, 2), "1344405504"); // 2020-01-02 00:00:00 packed
    EXPECT_EQ(inv.cell(3, 3), "ä.txt");
    EXPECT_EQ(inv.cell(3, 4), "01/02/20"); // midnight: the date alone
    EXPECT_EQ(inv.cell(2, 1), "0");
    EXPECT_EQ(inv.cell(2, 2), "1344411779"); // 2020-01-02 03:04:06
    EXPECT_EQ(inv.cell(2, 4), "01/02/20 03:04:06");
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(inv.cell(5, column), "") << "the last row stays empty";
    EXPECT_EQ(inv.sizeTotal(), 2 + 1 + 5 + 0 + 1);
}

TEST_F(Scan, WithoutSubfoldersOnlyTheLocationsOwnFilesAreListed) {
    TempTree tree(R"(
        top.txt = x
        a/inner.txt = y
        b/
    )");
    RecordingHost host;
    const ScanResult result = scanLocation(tree.root(), false, Side::A, host);
    EXPECT_EQ(result.folders, FolderList{tree.root()});
    EXPECT_EQ(paths(result.inventory), std::vector<std::string>{tree.path("top.txt")});
    EXPECT_EQ(host.progressMaximum, 1);
    EXPECT_EQ(host.positions, std::vector<int64_t>{0});
}

TEST_F(Scan, ProgressMaximumIsEntriesMinusOneFromThreeEntriesElseOne) {
    struct Case {
        const char* description;
        int64_t maximum;
    };
    for (const Case& c : {Case{"", 1}, Case{"a/\n", 1}, Case{"a/\nb/\n", 2}, Case{"a/\nb/\nc/\nd/\n", 4}}) {
        TempTree tree(c.description);
        RecordingHost host;
        const ScanResult result = scanLocation(tree.root(), true, Side::B, host);
        EXPECT_EQ(host.progressMaximum, c.maximum) << result.folders.size() << " folders";
        std::vector<int64_t> expected;
        for (std::size_t i = 0; i < result.folders.size(); ++i)
            expected.push_back(static_cast<int64_t>(i));
        EXPECT_EQ(host.positions, expected);
    }
}

TEST_F(Scan, AnEmptyLocationListsNoFilesButKeepsItsFolders) {
    TempTree tree("empty/\n");
    RecordingHost host;
    const ScanResult result = scanLocation(tree.root(), true, Side::A, host);
    EXPECT_EQ(result.folders, (FolderList{tree.root(), tree.path("empty/")}));
    EXPECT_EQ(result.inventory.rowCount(), 1u);
    EXPECT_EQ(filesCountPanelText(Side::A, result.inventory), "Files Count A : 0  Size: 0MB");
}

TEST_F(Scan, PanelTextCountsFilesAndWholeMebibytesTruncated) {
    Inventory inventory;
    for (int i = 0; i < 1532; ++i)
        inventory.addFile("/d/", "f" + std::to_string(i), i == 0 ? 2147483648 - 1531 : 1, 0);
    EXPECT_EQ(filesCountPanelText(Side::A, inventory), "Files Count A : 1532  Size: 2048MB");
    Inventory small;
    small.addFile("/d/", "f", 1048575, 0);
    EXPECT_EQ(filesCountPanelText(Side::B, small), "Files Count B : 1  Size: 0MB");
}

TEST_F(Scan, AMissingLocationIsReportedAndListsNothing) {
    TempTree tree;
    const std::string missing = tree.path("gone/");
    RecordingHost host;
    const ScanResult result = scanLocation(missing, true, Side::B, host);
    EXPECT_FALSE(result.locationExists);
    EXPECT_EQ(result.folders, FolderList{missing});
    EXPECT_EQ(result.inventory.fileCount(), 0u);
    EXPECT_EQ(stamped(host.lines), (std::vector<std::string>{
                                       "<now> Searching for Folders in \"B\" ...",
                                       "Folder " + missing + " does not exist!",
                                       "<now> Folders in \"B\" Found!",
                                       "Scanning folder " + missing,
                                   }));
    EXPECT_EQ(filesCountPanelText(Side::B, result.inventory), "Files Count B : 0  Size: 0MB");
}

TEST_F(Scan, AnEmptyOrRelativeLocationTextListsNothingFromTheCurrentFolder) {
    TempTree tree(R"(
        here.txt = must not be listed
        sub/there.txt = nor this
    )");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(tree.root().c_str()), 0);
    for (const std::string text : {"", "sub/", "./", "here.txt"}) {
        RecordingHost host;
        const ScanResult result = scanLocation(text, true, Side::A, host);
        EXPECT_FALSE(result.locationExists) << text;
        EXPECT_EQ(result.inventory.fileCount(), 0u) << text;
        EXPECT_EQ(result.folders, FolderList{text});
        ASSERT_GE(host.lines.size(), 2u);
        EXPECT_EQ(host.lines[1], "Folder " + text + " does not exist!");
    }
    ASSERT_EQ(chdir(previous), 0);
}

TEST_F(Scan, ALocationWithoutItsTrailingSeparatorGivesRealPaths) {
    TempTree tree("a/x.txt = x\n");
    const std::string location = tree.root().substr(0, tree.root().size() - 1);
    RecordingHost host;
    const ScanResult result = scanLocation(location, true, Side::A, host);
    EXPECT_TRUE(result.locationExists);
    EXPECT_EQ(result.folders, (FolderList{tree.root(), tree.path("a/")}));
    EXPECT_EQ(paths(result.inventory), std::vector<std::string>{tree.path("a/x.txt")});
}

TEST_F(Scan, LinksAreListedAsFilesWithTheirOwnSizeAndTimeAndNeverFollowed) {
    TempTree outside("secret/inside.txt = not ours\n");
    TempTree tree(R"(
        real/file.txt = data
        loop -> loop @2001-02-03 04:05:06
        up -> .
    )");
    tree.link("to-outside", outside.path("secret"));
    const std::string& r = tree.root();
    RecordingHost host;
    const ScanResult result = scanLocation(r, true, Side::A, host);
    EXPECT_EQ(result.folders, (FolderList{r, r + "real/"}));
    EXPECT_EQ(paths(result.inventory),
              (std::vector<std::string>{r + "loop", r + "to-outside", r + "up", r + "real/file.txt"}));
    const Inventory& inv = result.inventory;
    EXPECT_EQ(inv.size(0), 4); // "loop"
    EXPECT_EQ(inv.modifiedText(0), "02/03/01 04:05:06");
    EXPECT_EQ(inv.size(1), static_cast<int64_t>(outside.path("secret").size()));
    EXPECT_EQ(inv.size(2), 1);
}

TEST_F(Scan, SpecialFilesAreSkippedWithOneLineEach) {
    TempTree tree(R"(
        before.txt = x
        pipe fifo
        zafter.txt = y
    )");
    const std::string socketPath = tree.path("sock");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const std::string& r = tree.root();
    RecordingHost host;
    const ScanResult result = scanLocation(r, true, Side::A, host);
    close(fd);
    EXPECT_EQ(paths(result.inventory), (std::vector<std::string>{r + "before.txt", r + "zafter.txt"}));
    EXPECT_EQ(stamped(host.lines), (std::vector<std::string>{
                                       "<now> Searching for Folders in \"A\" ...",
                                       "<now> Folders in \"A\" Found!",
                                       "Scanning folder " + r,
                                       "Skipped special file: " + r + "pipe",
                                       "Skipped special file: " + r + "sock",
                                   }));
}

TEST_F(Scan, NamesThatCannotBeCarriedAreSkippedWithOneLineEachAndNothingElseIsLost) {
    TempTree tree(R"(
        a*b.txt = star
        good.txt = fine
        star*dir/inside.txt = hidden by its folder
    )");
    tree.file("new\nline.txt", "newline");
    tree.file("tab\there.txt", "tab");
    const std::string& r = tree.root();
    RecordingHost host;
    const ScanResult result = scanLocation(r, true, Side::A, host);
    EXPECT_EQ(result.folders, FolderList{r});
    EXPECT_EQ(paths(result.inventory), std::vector<std::string>{r + "good.txt"});
    EXPECT_EQ(stamped(host.lines),
              (std::vector<std::string>{
                  "<now> Searching for Folders in \"A\" ...",
                  "Skipped name that cannot be carried: " + r + "star*dir/",
                  "<now> Folders in \"A\" Found!",
                  "Scanning folder " + r,
                  "Skipped name that cannot be carried: " + r + "a*b.txt",
                  "Skipped name that cannot be carried: " + r + "new?line.txt",
                  "Skipped name that cannot be carried: " + r + "tab?here.txt",
                  "Not everything in A can be synchronised: 4 name(s) cannot be carried.",
              }));
    EXPECT_TRUE(tree.exists("new\nline.txt")) << "skipping never touches the file";
}

TEST_F(Scan, TimesOutsideTheDosRangeAreClampedToItsEnds) {
    TempTree tree(R"(
        early.txt = e @1970-06-01 12:00:00
        late.txt = l @2200-01-01 12:00:00
    )");
    RecordingHost host;
    const ScanResult result = scanLocation(tree.root(), false, Side::A, host);
    const Inventory& inv = result.inventory;
    ASSERT_EQ(inv.fileCount(), 2u);
    EXPECT_EQ(inv.fileTime(0), 2162688); // 1980-01-01 00:00:00
    EXPECT_EQ(inv.modifiedText(0), "01/01/80");
    EXPECT_EQ(inv.fileTime(1), -6307971); // 2107-12-31 23:59:58
    EXPECT_EQ(inv.modifiedText(1), "12/31/07 23:59:58");
}

TEST_F(Scan, AFileLargerThanFourGibibytesKeepsItsFullSize) {
    TempTree tree(R"(
        big.iso size=5000000000 sparse
        small.txt = abc
    )");
    RecordingHost host;
    const ScanResult result = scanLocation(tree.root(), false, Side::A, host);
    const Inventory& inv = result.inventory;
    ASSERT_EQ(inv.fileCount(), 2u);
    EXPECT_EQ(inv.cell(0, 1), "5000000000");
    EXPECT_EQ(inv.sizeTotal(), 5000000003);
    EXPECT_EQ(filesCountPanelText(Side::A, inv), "Files Count A : 2  Size: 4768MB");
}

// A folder gone before it is read is taken as read a moment later: nothing in it, nothing unknown.
TEST_F(Scan, AFolderRemovedDuringTheScanContributesNothingAndTheScanGoesOn) {
    TempTree tree(R"(
        a/1.txt = 1
        b/2.txt = 2
        b/deeper/3.txt = 3
        c/4.txt = 4
    )");
    const std::string& r = tree.root();
    RecordingHost host;
    host.onKeepAlive = [&](int count) {
        if (count == 1) // a found; b is read after the root
            tree.remove("b");
    };
    ScanOptions oneThread;
    oneThread.threads = 1;
    const ScanResult result = scanLocation(r, oneThread, Side::A, host);
    EXPECT_EQ(result.folders, (FolderList{r, r + "a/", r + "b/", r + "c/"}));
    EXPECT_EQ(paths(result.inventory), (std::vector<std::string>{r + "a/1.txt", r + "c/4.txt"}));
    EXPECT_EQ(host.positions, (std::vector<int64_t>{0, 1, 2, 3}));
    EXPECT_TRUE(result.coverage.complete());
}

TEST_F(Scan, ALocationThatIsALinkToAFolderIsScannedAsThatFolder) {
    TempTree target("inner/x.txt = x\n");
    TempTree tree;
    tree.link("alias", target.root());
    const std::string location = tree.path("alias/");
    RecordingHost host;
    const ScanResult result = scanLocation(location, true, Side::B, host);
    EXPECT_TRUE(result.locationExists);
    EXPECT_EQ(result.folders, (FolderList{location, location + "inner/"}));
    EXPECT_EQ(paths(result.inventory), std::vector<std::string>{location + "inner/x.txt"});
}

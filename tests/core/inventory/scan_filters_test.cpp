// Scans with filter rules, on real folders: what is listed, what is walked, what the log says, and what
// the result records of what was left out.

#include "core/inventory/filters.h"
#include "core/inventory/scan.h"
#include "support/as_nobody.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace paritas;
using paritas::test::asNobody;
using paritas::test::RecordingHost;
using paritas::test::TempTree;

namespace {

std::shared_ptr<const FilterRules> rulesOf(const std::string& text) {
    auto rules = std::make_shared<FilterRules>();
    const auto error = rules->addText(text, "rules");
    EXPECT_FALSE(error) << error->text();
    return rules;
}

ScanResult scanWith(const TempTree& tree, const std::string& rules, RecordingHost& host, int threads = 0) {
    ScanOptions options;
    options.filters = rulesOf(rules);
    options.threads = threads;
    return scanLocation(tree.root(), options, Side::A, host);
}

// Rows and folders relative to the location, folders with their trailing "/" ("" is the location).
std::string listed(const ScanResult& scan, const std::string& root) {
    std::string text;
    for (const std::string& folder : scan.folders)
        text += "[" + folder.substr(root.size()) + "] ";
    for (std::size_t row = 0; row < scan.inventory.fileCount(); ++row)
        text += std::string(scan.inventory.fullPath(row).substr(root.size())) + " ";
    return text;
}

} // namespace

TEST(ScanFilters, EntriesAreLeftOutAsTheRulesSay) {
    struct Row {
        const char* what;
        const char* tree;
        const char* rules;
        const char* listed; // folders in brackets, then rows, in scan order
        std::size_t files, folders;
    };
    const Row rows[] = {
        {"a pattern without a slash matches at any depth", "a.o =\nb.c =\nsrc/c.o =\nsrc/d.c =\n", "*.o",
         "[] [src/] b.c src/d.c ", 2, 0},
        {"\"!\" takes an exclusion back", "x.log =\nimportant.log =\nsub/y.log =\n", "*.log\n!important.log",
         "[] [sub/] important.log ", 2, 0},
        {"a leading slash anchors to the top", "build/x =\nsrc/build/y =\n", "/build/",
         "[] [src/] [src/build/] src/build/y ", 0, 1},
        {"without it the name matches at any depth", "build/x =\nsrc/build/y =\n", "build/", "[] [src/] ", 0,
         2},
        {"a slash in the middle anchors too", "docs/a.tmp =\nsrc/docs/b.tmp =\n", "docs/*.tmp",
         "[] [docs/] [src/] [src/docs/] src/docs/b.tmp ", 1, 0},
        {"a trailing slash matches folders only", "cache = file\ndir/cache/z =\n", "cache/",
         "[] [dir/] cache ", 0, 1},
        {"\"**/\" matches at any depth, the top included", "target/a =\nx/y/target/b =\n", "**/target",
         "[] [x/] [x/y/] ", 0, 2},
        {"a folder left out keeps its contents out whatever comes after", "build/keep.txt =\nbuild/o =\n",
         "build/\n!build/keep.txt", "[] ", 0, 1},
        {"leaving out a folder's contents lets one back in", "build/keep.txt =\nbuild/o =\n",
         "build/*\n!build/keep.txt", "[] [build/] build/keep.txt ", 1, 0},
        {"folders that hold what runs removed are not the rules' business",
         ".paritas-versions/v =\n.hidden =\n", ".*", "[] ", 1, 0},
        {"the ignore file is an ordinary file", ".paritasignore = *.tmp\nx.tmp =\n", "*.tmp",
         "[] .paritasignore ", 1, 0},
    };
    for (const Row& row : rows) {
        TempTree tree;
        tree.write(row.tree);
        RecordingHost host;
        const ScanResult scan = scanWith(tree, row.rules, host);
        EXPECT_EQ(listed(scan, tree.root()), row.listed) << row.what;
        EXPECT_EQ(scan.leftOut.files, row.files) << row.what;
        EXPECT_EQ(scan.leftOut.folders, row.folders) << row.what;
        EXPECT_TRUE(scan.coverage.complete()) << row.what << ": what is left out is no blind spot";
    }
}

TEST(ScanFilters, ALeftOutFolderIsNeverRead) {
    TempTree tree(R"(
        keep/a.txt = a
        node_modules/pkg/index.js = x
        src/node_modules/y.js = y
    )");
    // Folders nobody may read: a walk that opened one would say so and mark the scan incomplete.
    tree.setMode("", 0755);
    tree.setMode("node_modules", 0);
    tree.setMode("src/node_modules", 0);
    const std::string root = tree.root();
    auto scanAsNobody = [&](const std::string& rules) {
        const auto child = asNobody([&] {
            RecordingHost host;
            ScanOptions options;
            if (!rules.empty())
                options.filters = rulesOf(rules);
            const ScanResult scan = scanLocation(root, options, Side::A, host);
            std::string text = listed(scan, root) + "|";
            for (const std::string& line : host.lines)
                if (line.rfind("Cannot read folder", 0) == 0)
                    text += line + "|";
            return text + (scan.coverage.complete() ? "complete" : "incomplete");
        });
        EXPECT_EQ(child.failure, "");
        return child.text;
    };
    EXPECT_EQ(scanAsNobody("node_modules/"), "[] [keep/] [src/] keep/a.txt |complete");
    // Without the rule the same walk meets the locked folders.
    const std::string unfiltered = scanAsNobody("");
    EXPECT_NE(unfiltered.find("|Cannot read folder " + root + "node_modules/:"), std::string::npos)
        << unfiltered;
    EXPECT_NE(unfiltered.find("incomplete"), std::string::npos);
}

TEST(ScanFilters, OneLineSaysHowMuchWasLeftOutBeforeTheSummaryOfWhatCouldNotBeSeen) {
    TempTree tree(R"(
        a.tmp = 1
        b.tmp = 2
        src/c.tmp = 3
        src/main.c = 4
        src/build/x.o = 5
        build/y.o = 6
        odd*name.txt = cannot be carried
    )");
    RecordingHost host;
    const ScanResult scan = scanWith(tree, "*.tmp\nbuild/\n", host);
    ASSERT_GE(host.lines.size(), 2u);
    EXPECT_EQ(host.lines[host.lines.size() - 2], "Left out by filters: 3 files in 2 folders");
    EXPECT_EQ(host.lines.back(), "Not everything in A can be synchronised: 1 name(s) cannot be carried.");
    EXPECT_EQ(std::count(host.lines.begin(), host.lines.end(), "Left out by filters: 3 files in 2 folders"),
              1);

    RecordingHost quiet;
    scanWith(tree, "*.iso\n", quiet);
    for (const std::string& line : quiet.lines)
        EXPECT_EQ(line.find("Left out"), std::string::npos) << "nothing left out, nothing said: " << line;
}

TEST(ScanFilters, TheResultNamesTheFoldersThatHoldLeftOutEntries) {
    TempTree tree(R"(
        top.tmp = 1
        b/c/x.tmp = 2
        b/c/keep.txt = 3
        a/build/o = 4
        a/z/also.tmp = 5
        d/clean.txt = 6
    )");
    RecordingHost host;
    const ScanResult scan = scanWith(tree, "*.tmp\nbuild/\n", host);
    EXPECT_EQ(scan.leftOut.holdingFolders, (std::vector<std::string>{"", "a/", "a/z/", "b/c/"}));
    EXPECT_TRUE(scan.leftOut.holds("b/c/"));
    EXPECT_FALSE(scan.leftOut.holds("b/"));
    EXPECT_TRUE(scan.leftOut.holdsWithin("b/")) << "removing b/ would take b/c/x.tmp along";
    EXPECT_TRUE(scan.leftOut.holdsWithin("a/"));
    EXPECT_FALSE(scan.leftOut.holdsWithin("d/"));
    EXPECT_FALSE(scan.leftOut.holdsWithin("b/c/x/"));
    EXPECT_TRUE(scan.leftOut.holdsWithin(""));
}

TEST(ScanFilters, WithoutSubfoldersTheLocationsOwnFilesAreFiltered) {
    TempTree tree("a.tmp = 1\nb.txt = 2\nsub/c.txt = 3\n");
    RecordingHost host;
    ScanOptions options;
    options.includeSubfolders = false;
    options.filters = rulesOf("*.tmp\nsub/\n");
    const ScanResult scan = scanLocation(tree.root(), options, Side::A, host);
    EXPECT_EQ(listed(scan, tree.root()), "[] b.txt ");
    EXPECT_EQ(scan.leftOut.files, 1u);
    EXPECT_EQ(scan.leftOut.folders, 0u) << "an unwalked folder is not left out by the rules";
}

TEST(ScanFilters, ManyReadersLeaveOutExactlyWhatOneLeavesOut) {
    TempTree tree;
    for (int f = 0; f < 30; ++f) {
        const std::string folder = "f" + std::to_string(f % 7) + "/g" + std::to_string(f % 3) + "/";
        tree.file(folder + "n" + std::to_string(f) + (f % 4 == 0 ? ".tmp" : ".txt"), "x");
        if (f % 5 == 0)
            tree.file(folder + "cache/c" + std::to_string(f), "c");
    }
    const std::string rules = "*.tmp\ncache/\n/f3/\n";
    RecordingHost one, many;
    const ScanResult a = scanWith(tree, rules, one, 1);
    const ScanResult b = scanWith(tree, rules, many, 8);
    EXPECT_EQ(listed(a, tree.root()), listed(b, tree.root()));
    EXPECT_EQ(a.leftOut.holdingFolders, b.leftOut.holdingFolders);
    EXPECT_EQ(a.leftOut.files, b.leftOut.files);
    EXPECT_EQ(a.leftOut.folders, b.leftOut.folders);
    EXPECT_GT(a.leftOut.files, 0u);
    EXPECT_GT(a.leftOut.folders, 1u);
}

TEST(ScanFilters, ABadIgnoreFileAtTheLocationNamesItsFileAndLine) {
    TempTree tree(".paritasignore = # caches\\n*.tmp\\nphotos/[2020\\n\nphotos/a.jpg = a\n");
    FilterRules rules;
    const auto error = rules.readLocationIgnoreFile(tree.root());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text(), tree.root() +
                                 ".paritasignore:3: pattern \"photos/[2020\" cannot be read: \"[2020\" "
                                 "opens a set that \"]\" never closes");
    EXPECT_TRUE(rules.empty());
}

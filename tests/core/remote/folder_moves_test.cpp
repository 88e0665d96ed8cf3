// Which planned moves a remote may carry out as one folder move: the lines of a renamed folder
// qualify, and every line that would make the folder move do more or other than the lines say keeps
// them apart.

#include "core/remote/folder_moves.h"
#include "core/remote/remote_path.h"

#include <gtest/gtest.h>

using namespace paritas;

namespace {

const std::string kB = "nas:b/";

ActionAhead makeFolder(std::string path) {
    ActionAhead line;
    line.kind = ActionAhead::Kind::MakeFolder;
    line.path = kB + path;
    return line;
}
ActionAhead removeFolder(std::string path) {
    ActionAhead line;
    line.kind = ActionAhead::Kind::RemoveFolder;
    line.path = kB + path;
    return line;
}
ActionAhead move(std::string from, std::string to, bool stampKnown = true) {
    ActionAhead line;
    line.kind = ActionAhead::Kind::Move;
    line.path = kB + from;
    line.destination = kB + to;
    line.stampKnown = stampKnown;
    line.stamp.size = 3;
    return line;
}
ActionAhead copy(std::string from, std::string to) {
    ActionAhead line;
    line.kind = ActionAhead::Kind::Copy;
    line.path = "/a/" + from;
    line.destination = kB + to;
    return line;
}
ActionAhead erase(std::string path) {
    ActionAhead line;
    line.kind = ActionAhead::Kind::Delete;
    line.path = kB + path;
    return line;
}

// The folder moves that carry the move of `from`, outermost first, as "old->new".
std::string carriers(const FolderMovePlan& plan, const std::string& from, const std::string& to) {
    std::string text;
    for (const std::size_t index : plan.carriers(kB + from, kB + to)) {
        const FolderMove& move = plan.moves()[index];
        text += (text.empty() ? "" : " ") + move.from.substr(kB.size()) + "->" + move.to.substr(kB.size());
    }
    return text;
}

// A backup's lines for the folder "top/" (with "sub/") renamed to "new/".
std::vector<ActionAhead> renamedTop() {
    return {makeFolder("new/"),          makeFolder("new/sub/"),     move("top/x", "new/x"),
            move("top/y", "new/y"),      move("top/sub/z", "new/sub/z"), removeFolder("top/sub/"),
            removeFolder("top/")};
}

TEST(FolderPairs, EachLevelAtWhichOnlyTheFoldersAboveDiffer) {
    const auto pairs = folderPairsOf(kB + "a/x/f", kB + "b/x/f", kB);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(kB + "a/x/", kB + "b/x/"));
    EXPECT_EQ(pairs[1], std::make_pair(kB + "a/", kB + "b/"));
    EXPECT_TRUE(folderPairsOf(kB + "a/f", kB + "a/g", kB).empty()) << "a file renamed in its folder";
    EXPECT_TRUE(folderPairsOf(kB + "f", kB + "a/f", kB).empty()) << "the location itself would move";
    EXPECT_TRUE(folderPairsOf(kB + "a/f", kB + "a/b/a/f", kB).empty()) << "into a folder of its own";
    EXPECT_TRUE(folderPairsOf("/elsewhere/a/f", kB + "b/f", kB).empty());
}

TEST(FolderMovePlanTest, ARenamedFolderAndItsSubfolderAreCarriedFromTheTop) {
    const FolderMovePlan plan(renamedTop(), kB);
    EXPECT_EQ(carriers(plan, "top/x", "new/x"), "top/->new/");
    EXPECT_EQ(carriers(plan, "top/sub/z", "new/sub/z"), "top/->new/ top/sub/->new/sub/");
    ASSERT_FALSE(plan.empty());
    EXPECT_EQ(plan.moves()[0].members.size(), 3u);
}

// Each row: a change to the lines of a renamed "top/", and whether the move of top/x is still carried.
struct Variation {
    const char* what;
    std::vector<ActionAhead> lines;
    const char* carried; // carriers of top/x -> new/x
};

class FolderMoveVariations : public ::testing::TestWithParam<Variation> {};

TEST_P(FolderMoveVariations, OnlyLinesThatMoveTheWholeFolderAndNothingElseQualify) {
    const Variation& row = GetParam();
    EXPECT_EQ(carriers(FolderMovePlan(row.lines, kB), "top/x", "new/x"), row.carried) << row.what;
}

std::vector<ActionAhead> with(std::vector<ActionAhead> lines, std::size_t at, ActionAhead line) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    return lines;
}
std::vector<ActionAhead> without(std::vector<ActionAhead> lines, std::size_t at) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FolderMoveVariations,
    ::testing::Values(
        Variation{"as planned", renamedTop(), "top/->new/"},
        Variation{"a file of the old folder is deleted", with(renamedTop(), 4, erase("top/gone")), ""},
        Variation{"a file of the old folder goes elsewhere", with(renamedTop(), 4, move("top/w", "else/w")),
                  ""},
        Variation{"a new file is copied into the new folder first", with(renamedTop(), 2, copy("n", "new/n")),
                  ""},
        Variation{"a new file is copied into the new folder after", with(renamedTop(), 5, copy("n", "new/n")),
                  "top/->new/"},
        Variation{"the new folder is not made by the run", without(renamedTop(), 0), ""},
        Variation{"the old folder is not removed by the run", without(renamedTop(), 6), ""},
        Variation{"a subfolder removed has no counterpart made", without(renamedTop(), 1), ""},
        Variation{"a move's planned stamp is unknown",
                  with(without(renamedTop(), 3), 3, move("top/y", "new/y", false)), ""},
        Variation{"a folder is made inside the old folder", with(renamedTop(), 2, makeFolder("top/more/")),
                  ""},
        Variation{"another folder goes to the same place",
                  with(with(renamedTop(), 2, move("old2/q", "new/q")), 0, removeFolder("old2/")), ""}));

TEST(RemoteLocationText, AFolderOnARemoteEndsWithSlashAndTheRemoteAloneIsRefused) {
    struct Row {
        const char* given;
        const char* text; // "" for refused
    };
    const Row rows[] = {
        {"nas:backup", "nas:backup/"},
        {"nas:backup//docs/", "nas:backup/docs/"},
        {"nas:/", "nas:/"},
        {"nas:/srv/b", "nas:/srv/b/"},
        {":local:/tmp/b", ":local:/tmp/b/"},
        {":sftp,host=127.0.0.1,port=2022:docs", ":sftp,host=127.0.0.1,port=2022:docs/"},
        {"nas:", ""},
        {":memory:", ""},
        {"/home/ann", ""},
        {"nas:a*b", ""},
    };
    for (const Row& row : rows) {
        std::string why;
        EXPECT_EQ(remoteLocationText(row.given, &why), row.text) << row.given;
        EXPECT_EQ(why.empty(), *row.text != '\0') << row.given << ": " << why;
    }
}

} // namespace

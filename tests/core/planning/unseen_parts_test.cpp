// A folder that cannot be read is not empty: whatever lies in or behind it on the other side is left
// alone by every mode, the run says so, and the rest of the run goes on. The runs happen as the
// "nobody" account (CI runs as root, for whom permission bits stop nothing).

#include "support/as_nobody.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;

namespace {

struct UnseenCase {
    const char* name;
    int mode; // 0 backup, 1 folder synch, 2 copy missing
    const char* tree;
    std::vector<std::pair<std::string, mode_t>> locks; // relative path -> mode during the run
    std::vector<std::string> untouched;                // subtrees that must stay exactly as they were
    std::vector<std::string> done;                     // paths the rest of the run must have made
    bool refused = false;
};

// The snapshot entries at or below `prefix`.
TreeSnapshot below(const TreeSnapshot& all, const std::string& prefix) {
    TreeSnapshot part;
    for (const auto& [path, node] : all)
        if (path == prefix || path == prefix + "/" || path.rfind(prefix + "/", 0) == 0)
            part.emplace(path, node);
    return part;
}

const UnseenCase kCases[] = {
    {"backup keeps B's copies of a locked folder of A",
     0,
     "A/docs/a.txt = a\nA/priv/s.txt = s\nA/new.txt = n\n"
     "B/docs/a.txt = a\nB/priv/s.txt = s\nB/priv/old.txt = o\nB/priv/deep/d.txt = d\nB/gone.txt = g\n",
     {{"A/priv", 0000}},
     {"B/priv"},
     {"B/new.txt"}},
    {"backup keeps B's copies of a folder of A that can be listed but not searched",
     0,
     "A/priv/s.txt = s\nA/priv/inner/i.txt = i\nA/new.txt = n\nB/priv/s.txt = s\nB/priv/inner/i.txt = i\n"
     "B/priv/x.txt = x\n",
     {{"A/priv", 0744}},
     {"B/priv"},
     {"B/new.txt"}},
    {"backup keeps B's file where A has a folder that can be listed but not searched",
     0,
     "A/priv/inner/i.txt = i\nB/priv/inner = a file\n",
     {{"A/priv", 0744}},
     {"B/priv"},
     {}},
    {"backup never moves B's file out of the place A could not see",
     0,
     "A/moved/s.txt = same\nA/priv/keep.txt = k\nB/priv/s.txt = same\n",
     {{"A/priv", 0000}},
     {"B/priv"},
     {"B/moved/s.txt"}},
    {"folder synch carries nothing into a locked folder of B",
     1,
     "A/priv/only-a.txt = a\nA/open/x.txt = x\nB/priv/only-b.txt = b\n",
     {{"B/priv", 0000}},
     {"B/priv"},
     {"B/open/x.txt"}},
    {"folder synch carries nothing of B into a locked folder of A",
     1,
     "A/priv/only-a.txt = a\nB/priv/only-b.txt = b\nB/open/y.txt = y\n",
     {{"A/priv", 0000}},
     {"A/priv"},
     {"A/open/y.txt"}},
    {"copy missing copies nothing into a locked folder of B",
     2,
     "A/priv/only-a.txt = a\nA/x.txt = x\nB/priv/only-b.txt = b\n",
     {{"B/priv", 0000}},
     {"B/priv"},
     {"B/x.txt"}},
    {"backup refuses a location A that cannot be read",
     0,
     "A/a.txt = a\nB/b.txt = b\n",
     {{"A", 0000}},
     {"B"},
     {},
     true},
};

class UnseenParts : public ::testing::TestWithParam<UnseenCase> {};

TEST_P(UnseenParts, WhatCouldNotBeSeenIsLeftAloneAndTheRunSaysSo) {
    const UnseenCase& c = GetParam();
    TempTree tree(c.tree, "/tmp");
    tree.setMode("", 0755);
    tree.giveTo(kNobody, kNobody);
    const TreeSnapshot before = tree.snapshot();
    // A locked folder belongs to another user, so that its owner's bits do not let "nobody" in.
    for (const auto& [path, mode] : c.locks) {
        ASSERT_EQ(::chown(tree.path(path).c_str(), 0, 0), 0);
        tree.setMode(path, mode);
    }

    const ChildOutcome child = asNobody([&] {
        const SyncRun run = syncOnce(c.mode, tree.path("A/"), tree.path("B/"));
        std::string text = run.plan.refused ? "refused\n" : "planned\n";
        text += run.a.coverage.complete() && run.b.coverage.complete() ? "complete\n" : "incomplete\n";
        text += "left alone " + std::to_string(run.plan.leftAlone) + "\n";
        for (const std::string& line : run.log)
            text += line + "\n";
        return text;
    });
    for (const auto& [path, mode] : c.locks)
        tree.setMode(path, 0755);
    ASSERT_EQ(child.failure, "") << c.name;

    const std::vector<std::string> out = [&] {
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = child.text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(child.text.substr(start, end - start));
        return lines;
    }();
    ASSERT_GE(out.size(), 3u) << c.name;
    EXPECT_EQ(out[0], c.refused ? "refused" : "planned") << c.name << "\n" << child.text;
    EXPECT_EQ(out[1], "incomplete") << c.name;
    if (!c.refused) {
        EXPECT_NE(out[2], "left alone 0") << c.name << "\n" << child.text;
        EXPECT_TRUE(hasLineStarting(out, "Left alone: ")) << c.name << "\n" << child.text;
    }
    EXPECT_TRUE(hasLineStarting(out, "Cannot read folder ")) << c.name;

    const TreeSnapshot after = tree.snapshot();
    for (const std::string& part : c.untouched)
        EXPECT_EQ(snapshotDifferences(below(before, part), below(after, part)), "") << c.name;
    for (const std::string& path : c.done)
        EXPECT_TRUE(tree.exists(path)) << c.name << ": the rest of the run was not done\n" << child.text;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, UnseenParts, ::testing::ValuesIn(kCases));

} // namespace

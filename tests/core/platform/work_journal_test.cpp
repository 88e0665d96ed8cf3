// The journal of temporary names: what a run records before it makes a name, and how the next run
// settles each leftover it names (removed, put back, handed to where removed files go), leaving
// neither the names nor the journal behind.

#include "core/platform/file_copy.h"
#include "core/platform/file_queries.h"
#include "core/platform/work_journal.h"

#include "support/keeping_disposal.h"
#include "support/temp_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;

namespace {

std::vector<std::string> journalsAt(const TempTree& tree, const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& [path, state] : snapshotTree(tree.path(folder)))
        if (isJournalName(path))
            found.push_back(path);
    return found;
}

FileStamp stampOfPath(const std::string& path) {
    return fileFacts(path).value_or(FileStamp{});
}

struct Leftover {
    const char* what;
    bool old;                 // the line says "old version of report.txt"
    bool holdsOld;            // the temporary name holds the old version (else the new content)
    bool originalTaken;       // the new content took report.txt
    bool disposal;            // a disposal is given (else the old version is deleted when it cannot go back)
    std::string expectReport; // report.txt afterwards ("" missing)
    std::string expectKept;   // what the disposal holds afterwards ("" nothing)
};

} // namespace

TEST(WorkJournal, NamesAreRecognisedExactly) {
    EXPECT_TRUE(isTemporaryName(copyTemporaryName()));
    EXPECT_TRUE(isTemporaryName(".paritas-0123456789abcdef.tmp"));
    EXPECT_FALSE(isTemporaryName(".paritas-0123456789ABCDEF.tmp"));
    EXPECT_FALSE(isTemporaryName(".paritas-versions"));
    EXPECT_FALSE(isTemporaryName(".paritas-0123456789abcde.tmp"));
    EXPECT_TRUE(isJournalName(".paritas-journal-0123456789abcdef"));
    EXPECT_FALSE(isJournalName(".paritas-journal-0123456789abcdef.tmp"));
    EXPECT_FALSE(isJournalName(".paritas-journal-"));
}

// An old version's hidden name carries the name it belongs to, as long as a name may be.
TEST(WorkJournal, AsideNamesCarryTheirOwnNameUpToTheLongestName) {
    const struct {
        std::string original;
        bool carried;
    } cases[] = {{"report.txt", true},
                 {"with space and .dots.", true},
                 {std::string(223, 'x'), true}, // 32 bytes of prefix and mark: 255 in all
                 {std::string(224, 'x'), false},
                 {"", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.original.size());
        const std::string name = asideName(c.original);
        EXPECT_EQ(!name.empty(), c.carried);
        if (!c.carried)
            continue;
        EXPECT_LE(name.size(), 255u);
        std::string original;
        EXPECT_TRUE(isAsideName(name, &original));
        EXPECT_EQ(original, c.original);
        EXPECT_FALSE(isTemporaryName(name));
    }
    for (const char* other : {".paritas-0123456789abcdef.tmp", ".paritas-0123456789ABCDEF.aside.a",
                              ".paritas-0123456789abcdef.aside.", ".paritas-versions", "a.aside.b"})
        EXPECT_FALSE(isAsideName(other)) << other;
}

// Each kind of leftover as a killed run leaves it, settled as the journal says.
TEST(WorkJournal, TheNextRunSettlesEveryLeftoverAsItsLineSays) {
    const std::vector<Leftover> cases = {
        {"new content", false, false, false, true, "", ""},
        {"new content beside the old file", false, false, true, true, "old", ""},
        {"old version moved aside, new content not placed", true, true, false, true, "old", ""},
        {"old version exchanged out, kept", true, true, true, true, "new", "old"},
        {"old version exchanged out, deleted", true, true, true, false, "new", ""},
        {"killed before the exchange: still the new content", true, false, true, true, "old", ""},
    };
    for (const Leftover& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree("B/docs/\nK/\n");
        const std::string folder = tree.path("B/docs");
        const std::string temporary = copyTemporaryName();
        // The old file, then the new content under its temporary name, with a different time.
        tree.file("B/docs/report.txt", "old").setModifiedTime("B/docs/report.txt", 1'600'000'000);
        tree.file("B/docs/" + temporary, "new").setModifiedTime("B/docs/" + temporary, 1'700'000'000);
        const FileStamp oldStamp = stampOfPath(tree.path("B/docs/report.txt"));
        const FileStamp newStamp = stampOfPath(tree.path("B/docs/" + temporary));
        {
            WorkJournal journal(tree.path("B"));
            if (c.old)
                ASSERT_EQ(journal.oldVersion(folder, temporary, "report.txt", oldStamp, &newStamp), 0);
            else
                ASSERT_EQ(journal.newContent(folder, temporary), 0);
            ASSERT_FALSE(journal.fileName().empty());
            EXPECT_TRUE(tree.exists("B/" + journal.fileName()));
            // The moment of the kill: what the temporary name holds, and whether the name was taken.
            if (c.holdsOld) {
                tree.remove("B/docs/" + temporary);
                ASSERT_EQ(::rename(tree.path("B/docs/report.txt").c_str(),
                                   tree.path("B/docs/" + temporary).c_str()),
                          0);
                if (c.originalTaken)
                    tree.file("B/docs/report.txt", "new").setModifiedTime("B/docs/report.txt", 1'700'000'000);
            } else if (!c.originalTaken) {
                tree.remove("B/docs/report.txt");
            }
            // A killed run closes nothing: the journal stays as it is on the disk.
            const std::string name = journal.fileName();
            const std::string saved = tree.read("B/" + name);
            journal.close();
            tree.file("B/" + name, saved); // as the killed run left it
        }
        KeepingDisposal disposal(tree.path("K"));
        const JournalRecovery recovery =
            recoverJournals(tree.path("B"), c.disposal ? &disposal : nullptr, nullptr);
        EXPECT_EQ(recovery.kept, 0u);
        EXPECT_EQ(recovery.settled, 1u);
        ASSERT_EQ(recovery.lines.size(), 1u);
        EXPECT_EQ(tree.exists("B/docs/report.txt") ? tree.read("B/docs/report.txt") : "", c.expectReport);
        EXPECT_EQ(tree.exists("K/kept-1") ? tree.read("K/kept-1") : "", c.expectKept);
        EXPECT_FALSE(tree.exists("B/docs/" + temporary));
        EXPECT_TRUE(journalsAt(tree, "B").empty());
    }
}

TEST(WorkJournal, ARunThatEndsCleanlyLeavesNoJournalAndOneWithALeftoverKeepsIt) {
    TempTree tree("B/\n");
    WorkJournal clean(tree.path("B"));
    const std::string gone = copyTemporaryName();
    ASSERT_EQ(clean.newContent(tree.path("B"), gone), 0);
    EXPECT_TRUE(clean.close());
    EXPECT_TRUE(journalsAt(tree, "B").empty());

    WorkJournal left(tree.path("B"));
    const std::string stays = copyTemporaryName();
    ASSERT_EQ(left.newContent(tree.path("B/"), stays), 0);
    tree.file("B/" + stays, "half a copy");
    EXPECT_FALSE(left.close());
    EXPECT_EQ(journalsAt(tree, "B").size(), 1u);
    const JournalRecovery recovery = recoverJournals(tree.path("B"), nullptr, nullptr);
    EXPECT_EQ(recovery.settled, 1u);
    EXPECT_FALSE(tree.exists("B/" + stays));
    EXPECT_TRUE(journalsAt(tree, "B").empty());
}

// A journal whose run still works (its flock held) is left alone; names with odd bytes survive the
// line format; a torn last line is ignored.
TEST(WorkJournal, ALiveRunsJournalIsLeftAloneAndOddNamesAndTornLinesAreHandled) {
    TempTree tree("B/\n");
    tree.folder("B/tab\there\nand%");
    const std::string folder = tree.path("B/tab\there\nand%");
    const std::string name = copyTemporaryName();
    WorkJournal live(tree.path("B"));
    ASSERT_EQ(live.newContent(folder, name), 0);
    tree.file("B/tab\there\nand%/" + name, "new");
    EXPECT_EQ(recoverJournals(tree.path("B"), nullptr, nullptr).settled, 0u);
    EXPECT_TRUE(tree.exists("B/tab\there\nand%/" + name));

    // The run dies: its flock goes with it, and a line it was writing is torn.
    const std::string journal = live.fileName();
    const std::string text = tree.read("B/" + journal);
    live.close();
    tree.file("B/" + journal, text + "O\tnot\tcomplete");
    const JournalRecovery recovery = recoverJournals(tree.path("B"), nullptr, nullptr);
    EXPECT_EQ(recovery.settled, 1u);
    EXPECT_EQ(recovery.kept, 0u);
    EXPECT_FALSE(tree.exists("B/tab\there\nand%/" + name));
    EXPECT_TRUE(journalsAt(tree, "B").empty());
}

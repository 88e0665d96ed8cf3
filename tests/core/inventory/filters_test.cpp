// Reading filter rules: the lines of an ignore file, options, errors that name file and line, and the
// verdict for a path. What the patterns match is held against git in filters_git_test.cpp.

#include "core/inventory/filters.h"
#include "support/as_nobody.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace paritas;
using paritas::test::asNobody;
using paritas::test::TempTree;

namespace {

FilterRules fromText(const std::string& text) {
    FilterRules rules;
    const auto error = rules.addText(text, "/loc/.paritasignore");
    EXPECT_FALSE(error) << error->text();
    return rules;
}

struct Row {
    const char* rules; // an ignore file's text
    const char* path;  // relative; a trailing "/" for a folder
    bool leftOut;
};

} // namespace

TEST(FilterRules, PathsAreLeftOutAsTheRulesOfAnIgnoreFileSay) {
    const Row rows[] = {
        // A pattern without "/" matches the name at any depth; with one it is anchored to the top.
        {"*.o", "main.o", true},
        {"*.o", "src/deep/main.o", true},
        {"*.o", "main.c", false},
        {"/build", "build/", true},
        {"/build", "src/build/", false},
        {"doc/*.tmp", "doc/x.tmp", true},
        {"doc/*.tmp", "a/doc/x.tmp", false},
        {"doc/*.tmp", "doc/sub/x.tmp", false},
        {"**/target", "a/b/target/", true},
        {"**/target", "target", true},
        {"a/**/b", "a/b", true},
        {"a/**/b", "a/x/y/b", true},
        {"logs/**", "logs/", false},
        {"logs/**", "logs/today.txt", true},
        // A trailing "/" matches folders only.
        {"cache/", "cache/", true},
        {"cache/", "cache", false},
        {"cache/", "x/cache/", true},
        // Everything below a left-out folder is left out, and "!" cannot take it back.
        {"node_modules/", "web/node_modules/pkg/index.js", true},
        {"build/\n!build/keep.txt", "build/keep.txt", true},
        {"build/*\n!build/keep.txt", "build/keep.txt", false},
        {"build/*\n!build/keep.txt", "build/other.txt", true},
        // The last matching rule decides.
        {"*.log\n!important.log", "important.log", false},
        {"!important.log\n*.log", "important.log", true},
        // Sets, classes and single characters.
        {"*.py[co]", "x.pyc", true},
        {"*.py[co]", "x.pyd", false},
        {"[!a]*", "abc", false},
        {"[^a]*", "bcd", true},
        {"file[0-9]", "file7", true},
        {"[[:digit:]]*", "7up", true},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        // Comments, blank lines, escapes and trailing blanks.
        {"# a comment\n\n   \n*.bak", "x.bak", true},
        {"#secret", "#secret", false},
        {"\\#secret", "#secret", true},
        {"\\!bang", "!bang", true},
        {"name   ", "name", true},
        {"name\\ ", "name ", true},
        {"name\\ ", "name", false},
        {"a\\*b", "a*b", true},
        {"a\\*b", "axb", false},
        // Lines ended by CR LF, and a byte-order mark before the first.
        {"*.tmp\r\n*.o\r\n", "x.tmp", true},
        {"\xEF\xBB\xBF*.tmp\n", "x.tmp", true},
        // Stars that could split a name in countless ways give up early instead of trying them all.
        {"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b",
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"x/*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b",
         "x/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/", false},
        // Byte for byte, letter case counts.
        {"*.JPG", "photo.jpg", false},
        {"caf\xC3\xA9", "caf\xC3\xA9", true},
    };
    for (const Row& row : rows) {
        const FilterRules rules = fromText(row.rules);
        const std::string path = row.path;
        EXPECT_EQ(rules.leftOut(path, path.back() == '/'), row.leftOut)
            << "rules \"" << row.rules << "\", path \"" << row.path << "\"";
    }
}

TEST(FilterRules, TheVerdictNamesTheDecidingRuleItsOriginAndALeftOutFolderAbove) {
    const FilterRules rules = fromText("# caches\n*.tmp\n\nbuild/\n!keep.tmp\n");
    const FilterVerdict own = rules.verdict("src/x.tmp", false);
    EXPECT_TRUE(own.leftOut);
    ASSERT_NE(own.rule, nullptr);
    EXPECT_EQ(own.rule->written, "*.tmp");
    EXPECT_EQ(own.rule->origin.text(), "/loc/.paritasignore:2");
    EXPECT_EQ(own.leftOutFolder, "");

    const FilterVerdict below = rules.verdict("a/build/keep.tmp", false);
    EXPECT_TRUE(below.leftOut);
    EXPECT_EQ(below.leftOutFolder, "a/build");
    EXPECT_EQ(below.rule->origin.line, 4);

    const FilterVerdict kept = rules.verdict("keep.tmp", false);
    EXPECT_FALSE(kept.leftOut);
    ASSERT_NE(kept.rule, nullptr);
    EXPECT_TRUE(kept.rule->include);
    EXPECT_EQ(kept.rule->written, "!keep.tmp");

    EXPECT_EQ(rules.verdict("notes.txt", false).rule, nullptr);
}

TEST(FilterRules, OptionsAreTakenAsWrittenAndLaterSourcesTakeEarlierOnesBack) {
    FilterRules rules;
    ASSERT_FALSE(rules.addExclude("*.iso"));
    ASSERT_FALSE(rules.addExclude("#odd name"));
    ASSERT_FALSE(rules.addExclude("!bang"));
    EXPECT_TRUE(rules.leftOut("#odd name", false)) << "no comment in an option";
    EXPECT_TRUE(rules.leftOut("!bang", false)) << "no \"!\" in an option";
    FilterRules fromFile = fromText("*.vdi\n");
    ASSERT_FALSE(fromFile.addInclude("keep.iso"));
    rules.append(fromFile);
    EXPECT_TRUE(rules.leftOut("vm/disk.vdi", false));
    EXPECT_FALSE(rules.leftOut("keep.iso", false));
    EXPECT_TRUE(rules.leftOut("other.iso", false));
    EXPECT_EQ(rules.size(), 5u);
    EXPECT_EQ(rules.rule(0).origin.text(), "--exclude");
    EXPECT_EQ(rules.rule(4).origin.text(), "--include");
}

TEST(FilterRules, APatternThatCannotBeReadIsAnErrorNamingItsFileAndLine) {
    struct Bad {
        const char* line;
        const char* message;
    };
    const Bad rows[] = {
        {"photos/[2020",
         "pattern \"photos/[2020\" cannot be read: \"[2020\" opens a set that \"]\" never closes"},
        {"![abc", "pattern \"![abc\" cannot be read: \"[abc\" opens a set that \"]\" never closes"},
        {"x[]", "pattern \"x[]\" cannot be read: \"[]\" opens a set that \"]\" never closes"},
        {"[[:letter:]]",
         "pattern \"[[:letter:]]\" cannot be read: the character class \"[:letter:]\" is unknown"},
        {"trailing\\", "pattern \"trailing\\\" cannot be read: it ends with a lone \"\\\""},
    };
    for (const Bad& row : rows) {
        FilterRules rules;
        const auto error =
            rules.addText(std::string("*.o\n# fine\n") + row.line + "\n*.tmp\n", "/data/.paritasignore");
        ASSERT_TRUE(error) << row.line;
        EXPECT_EQ(error->text(), std::string("/data/.paritasignore:3: ") + row.message);
        EXPECT_TRUE(rules.empty()) << "nothing of a file with a bad line is taken";
    }
    FilterRules rules;
    const auto option = rules.addExclude("a[b");
    ASSERT_TRUE(option);
    EXPECT_EQ(option->text(),
              "--exclude: pattern \"a[b\" cannot be read: \"[b\" opens a set that \"]\" never closes");
    const auto huge = rules.addExclude(std::string(5000, '*') + "x");
    ASSERT_TRUE(huge);
    EXPECT_NE(huge->message.find("cannot be read: it is longer than 4096 bytes"), std::string::npos);
    const auto empty = rules.addInclude("");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text(), "--include: the pattern is empty");
    // Sets that do close, though they look odd.
    for (const char* fine : {"[]]", "[!]]", "[[]", "[[:]", "[a-]", "\\[", "[\\]]"})
        EXPECT_FALSE(rules.addExclude(fine)) << fine;
}

TEST(FilterRules, IgnoreFilesThatAreMissingOrCannotBeReadAreErrorsButALocationNeedsNone) {
    TempTree tree(R"(
        rules.txt = *.o\n!keep.o\n
        folder/
        location/a.txt = a
    )");
    FilterRules rules;
    ASSERT_FALSE(rules.readIgnoreFile(tree.path("rules.txt")));
    EXPECT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules.rule(1).origin.text(), tree.path("rules.txt") + ":2");

    const auto missing = rules.readIgnoreFile(tree.path("nothing.txt"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->text(),
              tree.path("nothing.txt") + ": the file cannot be read: No such file or directory (ENOENT)");
    const auto folder = rules.readIgnoreFile(tree.path("folder"));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->text(), tree.path("folder") + ": this is a folder, not a file of patterns");

    EXPECT_FALSE(rules.readLocationIgnoreFile(tree.path("location"))) << "no ignore file: no rules, no error";
    EXPECT_FALSE(rules.readLocationIgnoreFile(tree.path("missing-location")));
    EXPECT_EQ(rules.size(), 2u);

    // A pipe of that name would block a reader: it is refused at once.
    tree.fifo("location/.paritasignore");
    const auto pipe = rules.readLocationIgnoreFile(tree.path("location"));
    ASSERT_TRUE(pipe);
    EXPECT_EQ(pipe->text(), tree.path("location/.paritasignore") + ": the ignore file is not a regular file");
}

TEST(FilterRules, AnIgnoreFileTheUserMayNotReadIsAnError) {
    TempTree tree("location/.paritasignore = *.o\n");
    tree.setMode("location/.paritasignore", 0);
    const std::string location = tree.path("location");
    const auto child = asNobody([&] {
        FilterRules rules;
        const auto error = rules.readLocationIgnoreFile(location);
        return error ? error->text() : std::string("no error");
    });
    ASSERT_EQ(child.failure, "");
    EXPECT_EQ(child.text,
              location + "/.paritasignore: the ignore file cannot be read: Permission denied (EACCES)");
}

TEST(FilterRules, AFolderFilterAnswersForTheEntriesOfOneFolderAtATime) {
    const FilterRules rules =
        fromText("*.o\nbuild\n/top-only/\nsrc/gen/\n!src/gen/\ndocs/**/draft*\n!keep.o\n");
    FolderFilter filter(rules);
    struct Ask {
        const char* folder;
        const char* name;
        bool isFolder;
        bool leftOut;
    };
    const Ask asks[] = {
        {"", "a.o", false, true},
        {"", "keep.o", false, false},
        {"", "build", false, true},
        {"x/", "build", true, true},
        {"", "top-only", true, true},
        {"x/", "top-only", true, false},
        {"", "top-only", false, false},
        {"src/", "gen", true, false},
        {"docs/", "draft1", false, true},
        {"docs/a/b/", "draft2", false, true},
        {"docs/a/b/", "final", false, false},
        {"other/", "draft", false, false},
        {"docs/a/", "draft", false, true},
    };
    for (const Ask& ask : asks) {
        filter.enter(ask.folder);
        EXPECT_EQ(filter.leftOut(ask.name, ask.isFolder), ask.leftOut) << ask.folder << ask.name;
    }
}

// What paritas-cli keeps beyond contents: `sync backup --hard-links --xattrs` restores a tree of
// owners, modes, ACLs, attributes, folder times and hard links as rsync -aHAX sees it, and a second
// `plan` is empty; a change of permissions alone is an "attributes" line of its own in text and JSON;
// the options belong to the commands that plan a backup.

#include "support/cli_runner.h"
#include "support/metadata_tree.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

using test::CliResult;
using test::runCli;
using test::TempTree;

TEST(CliKeeping, ABackupWithHardLinksAndAttributesRestoresTheTreeAsRsyncSeesIt) {
    for (const uint32_t seed : {31u, 32u, 33u}) {
        SCOPED_TRACE(seed);
        TempTree top;
        const std::string a = top.root() + "A/", b = top.root() + "B/";
        ::mkdir(a.c_str(), 0755);
        test::buildMetadataTree(a, {.seed = seed});
        const CliResult run = runCli({"sync", "backup", "--hard-links", "--xattrs", a, b});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        const test::OracleAnswer oracle = test::rsyncItemizedChanges(a, b);
        EXPECT_TRUE(oracle.exact()) << oracle.failure << oracle.changes;
        const CliResult again = runCli({"plan", "backup", "--hard-links", "--xattrs", a, b});
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.out, "");
    }
}

TEST(CliKeeping, AChangeOfPermissionsAloneIsALineOfItsOwn) {
    TempTree tree("A/d/f.txt = one\n");
    const std::string a = tree.path("A"), b = tree.path("B");
    ASSERT_EQ(runCli({"sync", "backup", a, b}).status, 0);
    ASSERT_EQ(::chmod(tree.path("A/d/f.txt").c_str(), 0600), 0);
    const CliResult text = runCli({"plan", "backup", a, b});
    EXPECT_EQ(text.out, "Attributes " + tree.path("B/d/f.txt") + "\n");
    const CliResult json = runCli({"plan", "backup", "--format", "json", a, b});
    const nlohmann::json line = nlohmann::json::parse(json.out);
    EXPECT_EQ(line["kind"], "attributes");
    EXPECT_EQ(line["source"], tree.path("A/d/f.txt"));
    EXPECT_EQ(line["target"], tree.path("B/d/f.txt"));
    EXPECT_EQ(line["reason"], "the permissions differ from the source's");
    const CliResult sync = runCli({"sync", "backup", a, b});
    EXPECT_EQ(sync.status, 0);
    EXPECT_NE(sync.out.find("Success Attributes " + tree.path("B/d/f.txt") + "\n"), std::string::npos) << sync.out;
    struct stat st {};
    ASSERT_EQ(::stat(tree.path("B/d/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(runCli({"plan", "backup", a, b}).out, "");
}

TEST(CliKeeping, TheOptionsBelongToTheCommandsThatPlanABackup) {
    TempTree tree("A/x = x\n");
    const std::string a = tree.path("A"), b = tree.path("B");
    for (const char* option : {"--hard-links", "--xattrs"}) {
        SCOPED_TRACE(option);
        EXPECT_EQ(runCli({"plan", "backup", option, a, b}).status, 0);
        const CliResult scan = runCli({"scan", option, a});
        EXPECT_EQ(scan.status, 2);
        EXPECT_NE(scan.err.find(std::string("unknown option \"") + option + "\" for scan"), std::string::npos)
            << scan.err;
    }
}

} // namespace
} // namespace paritas

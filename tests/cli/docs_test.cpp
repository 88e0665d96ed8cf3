// The documentation a packager ships says what the program does: the README's cron line and systemd
// service run as shown (only the install prefix and the user's folders are mapped to test folders),
// the manual page names every command and option of --help and renders without a warning, and the
// bash completion completes commands, modes, options and folders.

#include "support/cli_runner.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace paritas::test {
namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The README line that begins with `start` (after its indentation), without the indentation.
std::string readmeLine(const std::string& start) {
    for (const std::string& line : splitLines(fileText(PARITAS_SOURCE_DIR "/README.md"))) {
        const std::size_t text = line.find_first_not_of(' ');
        if (text != std::string::npos && line.compare(text, start.size(), start) == 0)
            return line.substr(text);
    }
    ADD_FAILURE() << "README.md has no line beginning with " << start;
    return {};
}

struct ShellResult {
    int status = -1;
    std::string output;
};

// Runs `command` with /bin/sh, as cron and systemd run it, with HOME set and the output captured.
ShellResult runShell(const std::string& command, const TempTree& tree) {
    const std::string output = tree.path("shell-output");
    const std::string line = "cd / && HOME='" + tree.path("home/ann") + "' TZ=UTC LC_ALL=C /bin/sh -c '" +
                             replaced(command, "'", "'\\''") + "' >'" + output + "' 2>&1";
    const int status = std::system(line.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(output)};
}

// The README's commands with the install prefix and the user's folders in the test tree.
std::string mapped(std::string command, const TempTree& tree) {
    command = replaced(command, "/usr/local/bin/paritas-cli", PARITAS_CLI_PATH);
    command = replaced(command, "/home/ann", tree.path("home/ann"));
    command = replaced(command, "%h", tree.path("home/ann"));
    return replaced(command, "/mnt/backup", tree.path("mnt/backup"));
}

TEST(CliDocs, TheReadmesCronLineAndSystemdServiceRunAsShown) {
    TempTree tree("home/ann/Documents/letter.txt = dear\nhome/ann/Documents/tax/2026.txt = sums\n"
                  "home/ann/.local/state/\nmnt/backup/Documents/stale.txt = old\n"
                  "home/ann/Pictures/p.jpg = picture\nmnt/backup/Pictures/\n");
    const std::string cron = readmeLine("30 2 * * *");
    // Cron runs the rest of the line after the five time fields.
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(cron, fields, std::regex(R"((\S+\s+){5}(.*))")));
    const ShellResult nightly = runShell(mapped(fields[2], tree), tree);
    EXPECT_EQ(nightly.status, 0) << nightly.output;
    EXPECT_EQ(nightly.output, "") << "cron mails whatever is printed";
    EXPECT_EQ(tree.read("mnt/backup/Documents/tax/2026.txt"), "sums");
    EXPECT_FALSE(tree.exists("mnt/backup/Documents/stale.txt"));
    EXPECT_NE(tree.read("home/ann/.local/state/paritas.log").find("Success Copy-File to "),
              std::string::npos);

    tree.file("home/ann/.config/paritas/nightly.jbl",
              tree.path("home/ann/Pictures") + "/*A*0*B*" + tree.path("mnt/backup/Pictures") + "/*C*Yes\r\n");
    const std::string service = readmeLine("ExecStart=");
    const ShellResult timer = runShell(mapped(service.substr(service.find('=') + 1), tree), tree);
    EXPECT_EQ(timer.status, 0) << timer.output;
    EXPECT_EQ(tree.read("mnt/backup/Pictures/p.jpg"), "picture");
    EXPECT_NE(tree.read("home/ann/.local/state/paritas.log").find("Job 1: backup "), std::string::npos);
    EXPECT_NE(readmeLine("OnCalendar=").find("02:30"), std::string::npos);
}

TEST(CliDocs, TheManualPageNamesEveryCommandAndOptionOfTheHelpAndRendersCleanly) {
    const std::string page = replaced(fileText(PARITAS_SOURCE_DIR "/docs/man/paritas-cli.1"), "\\-", "-");
    const std::string help = runCli({"--help"}).out;
    std::set<std::string> words;
    const std::regex option(R"((^|[ \[|])(--?[a-z][a-z-]*))");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        words.insert((*it)[2]);
    for (const char* command : {"scan", "plan", "sync", "dedupe", "crc", "jobs"})
        words.insert(std::string(".B ") + command);
    for (const char* exitStatus : {".B 0", ".B 1", ".B 2", ".B 3", ".B 4", "130"})
        words.insert(exitStatus);
    ASSERT_GT(words.size(), 20u);
    for (const std::string& word : words)
        EXPECT_NE(page.find(word), std::string::npos) << word << " is not in the manual page";

    if (std::system("command -v groff >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "groff is not installed";
    TempTree tree;
    const ShellResult rendered = runShell(
        "groff -man -Tutf8 -ww -z " + std::string(PARITAS_SOURCE_DIR) + "/docs/man/paritas-cli.1", tree);
    EXPECT_EQ(rendered.status, 0);
    EXPECT_EQ(rendered.output, "") << "groff warns";
}

TEST(CliDocs, BashCompletesCommandsModesOptionsAndFolders) {
    TempTree tree("Documents/a.txt = a\nDownloads/\nnightly.jbl = \n");
    struct Case {
        std::string words;
        std::string completions;
    };
    const std::vector<Case> cases = {
        {"paritas-cli sy", "sync"},
        {"paritas-cli sync b", "backup"},
        {"paritas-cli sync --quiet c", "copy-missing"},
        {"paritas-cli jobs --max", "--max-delete"},
        {"paritas-cli plan --format j", "json"},
        {"paritas-cli sync backup Do", "Documents Downloads"},
        {"paritas-cli jobs n", "nightly.jbl"},
        {"paritas-cli sync --exclude-f", "--exclude-from"},
        {"paritas-cli plan --exclude node_modules/ b", "backup"},
        {"paritas-cli scan --exclude-from n", "nightly.jbl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        tree.file("complete.sh", "cd '" + tree.root() + "' && source '" + PARITAS_SOURCE_DIR +
                                     "/docs/completion/paritas-cli.bash' && COMP_WORDS=(" + c.words +
                                     ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _paritas_cli && "
                                     "printf '%s\\n' \"${COMPREPLY[*]}\"\n");
        const ShellResult r = runShell("bash '" + tree.path("complete.sh") + "'", tree);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output, c.completions + "\n");
    }
}

} // namespace
} // namespace paritas::test

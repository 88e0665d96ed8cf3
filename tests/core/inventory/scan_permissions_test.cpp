// A folder the user may not read. Tests run as root in CI, where permission bits do not stop reading,
// so the scan runs in a child process that has given up root for the "nobody" account.

#include "core/inventory/scan.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace paritas;
using paritas::test::RecordingHost;
using paritas::test::TempTree;

namespace {

constexpr uid_t kNobody = 65534;

struct Outcome {
    std::vector<std::string> folders;
    std::vector<std::string> rows;
    std::vector<std::string> lines;
    std::string failure;
};

std::string serialised(const ScanResult& result, const RecordingHost& host) {
    std::string text;
    for (const std::string& folder : result.folders)
        text += "F" + folder + "\n";
    for (std::size_t row = 0; row < result.inventory.fileCount(); ++row)
        text += "R" + std::string(result.inventory.fullPath(row)) + "\n";
    for (const std::string& line : host.lines)
        text += "L" + line + "\n";
    return text;
}

Outcome parsed(const std::string& text) {
    Outcome outcome;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        const std::string rest = line.substr(1);
        switch (line[0]) {
        case 'F':
            outcome.folders.push_back(rest);
            break;
        case 'R':
            outcome.rows.push_back(rest);
            break;
        case 'L':
            outcome.lines.push_back(rest);
            break;
        default:
            outcome.failure += rest;
        }
    }
    return outcome;
}

// Scans location as a user without root's privileges: in a child process when we are root.
Outcome scanAsOrdinaryUser(const std::string& location) {
    if (geteuid() != 0) {
        RecordingHost host;
        return parsed(serialised(scanLocation(location, true, Side::A, host), host));
    }
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return Outcome{{}, {}, {}, "pipe failed"};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        std::string text;
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 || geteuid() == 0) {
            text = "Xcould not drop privileges\n";
        } else {
            RecordingHost host;
            text = serialised(scanLocation(location, true, Side::A, host), host);
        }
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = write(pipeEnds[1], text.data() + written, text.size() - written);
            if (n <= 0)
                break;
            written += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome = parsed(text);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        outcome.failure += "child failed";
    return outcome;
}

} // namespace

TEST(ScanPermissions, AFolderThatCannotBeReadContributesNothingAndTheWalkGoesOn) {
    // Below /tmp, which every account may pass through.
    TempTree tree(R"(
        a/1.txt = 1
        locked/secret.txt = s
        locked/inner/deep.txt = d
        noentry/name.txt = n
        z/2.txt = 2
    )",
                  "/tmp");
    tree.setMode("", 0755);
    tree.setMode("locked", 0000);
    tree.setMode("noentry", 0444); // names readable, entries not
    const std::string& r = tree.root();

    const Outcome outcome = scanAsOrdinaryUser(r);
    ASSERT_EQ(outcome.failure, "");
    EXPECT_EQ(outcome.folders,
              (std::vector<std::string>{r, r + "a/", r + "locked/", r + "noentry/", r + "z/"}));
    EXPECT_EQ(outcome.rows, (std::vector<std::string>{r + "a/1.txt", r + "z/2.txt"}));
    // The locked folder is passed over in silence; a file whose facts cannot be read is named.
    ASSERT_EQ(outcome.lines.size(), 8u);
    EXPECT_EQ(outcome.lines[4], "Scanning folder " + r + "locked/");
    EXPECT_EQ(outcome.lines[5], "Scanning folder " + r + "noentry/");
    EXPECT_EQ(outcome.lines[6], "Skipped file that cannot be read: " + r + "noentry/name.txt");
    EXPECT_EQ(outcome.lines[7], "Scanning folder " + r + "z/");
}

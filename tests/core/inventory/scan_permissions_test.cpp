// A folder the user may not read. Tests run as root in CI, where permission bits do not stop reading,
// so the scan runs in a child process that has given up root for the "nobody" account.

#include "core/inventory/scan.h"
#include "support/as_nobody.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace paritas;
using paritas::test::asNobody;
using paritas::test::ChildOutcome;
using paritas::test::RecordingHost;
using paritas::test::TempTree;

namespace {

struct Outcome {
    std::vector<std::string> folders;
    std::vector<std::string> rows;
    std::vector<std::string> lines;
    std::vector<std::string> unread; // folders and entries the coverage names
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
    for (const std::string& folder : result.coverage.unreadFolders)
        text += "U" + folder + "\n";
    for (const std::string& entry : result.coverage.unreadEntries)
        text += "U" + entry + "\n";
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
        case 'U':
            outcome.unread.push_back(rest);
            break;
        default:
            outcome.failure += rest;
        }
    }
    return outcome;
}

// Scans location as a user without root's privileges.
Outcome scanAsOrdinaryUser(const std::string& location) {
    const ChildOutcome child = asNobody([&] {
        RecordingHost host;
        return serialised(scanLocation(location, true, Side::A, host), host);
    });
    Outcome outcome = parsed(child.text);
    outcome.failure += child.failure;
    return outcome;
}

} // namespace

TEST(ScanPermissions, AFolderThatCannotBeReadIsReportedAndRecordedAndTheWalkGoesOn) {
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
    // Neither folder is taken for empty: each is named with its reason, once, and recorded (one whose
    // names can be read but nothing behind them is as unknown as one that cannot be read at all).
    ASSERT_EQ(outcome.lines.size(), 10u);
    EXPECT_EQ(outcome.lines[1], "Cannot read folder " + r + "locked/: Permission denied (EACCES)");
    EXPECT_EQ(outcome.lines[5], "Scanning folder " + r + "locked/");
    EXPECT_EQ(outcome.lines[6], "Scanning folder " + r + "noentry/");
    EXPECT_EQ(outcome.lines[7], "Cannot read folder " + r + "noentry/: Permission denied (EACCES)");
    EXPECT_EQ(outcome.lines[8], "Scanning folder " + r + "z/");
    EXPECT_EQ(outcome.lines[9], "Not everything in A can be synchronised: 2 folder(s) could not be read.");
    EXPECT_EQ(outcome.unread, (std::vector<std::string>{r + "locked/", r + "noentry/"}));
}

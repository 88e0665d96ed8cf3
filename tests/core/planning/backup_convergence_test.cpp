// Property: on any pair of real trees (links to files, to folders, out of the tree and nowhere; files
// and folders trading places; letter-case twins; folders nobody may read), one backup leaves nothing
// to do but what it explained: planning again gives only lines for places where a line of the run
// failed with a reason. Nothing outside the locations changes, and nothing of B whose counterpart in A
// could not be read is deleted or changed. A run without failures and unreadable parts leaves B a
// mirror of A: the same files and folders, and the same sizes where size is a same-file criterion.
//
// A failure prints its seed; PARITAS_CONVERGENCE_SEED=<seed> runs that one case again.

#include "support/as_nobody.h"
#include "support/sync_run.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;

namespace {

constexpr int kCases = 120;

class RandomWorld {
public:
    explicit RandomWorld(uint32_t seed) : rng_(seed) {}

    bool chance(int percent) { return int(rng_() % 100) < percent; }
    template <class T> const T& pick(const std::vector<T>& from) { return from[rng_() % from.size()]; }

    // Writes a random tree below `side` ("A" or "B"); returns the folders made (relative to side).
    std::vector<std::string> writeTree(TempTree& tree, const std::string& side) {
        std::vector<std::string> folders{""};
        const int entries = 3 + int(rng_() % 10);
        for (int k = 0; k < entries; ++k) {
            const std::string parent = pick(folders);
            const std::string rel = (parent.empty() ? "" : parent + "/") + pick(names_);
            const std::string path = side + "/" + rel;
            if (tree.exists(path) || depth(rel) > 3)
                continue;
            const int kind = int(rng_() % 10);
            if (kind < 3) {
                tree.folder(path);
                folders.push_back(rel);
            } else if (kind < 8) {
                tree.file(path, pick(contents_));
                tree.setModifiedTime(path, pick(times_));
            } else {
                tree.link(path, pick(linkTargets_));
            }
        }
        return folders;
    }

    // B as A after some changes (the usual case: a backup that is somewhat behind).
    void copyWithChanges(TempTree& tree) {
        copyTree(tree, tree.path("A"), tree.path("B"));
        for (int k = int(rng_() % 4); k >= 0; --k) {
            const std::vector<std::string> names = entriesBelow(tree, "B");
            if (names.empty())
                return;
            const std::string victim = "B/" + pick(names);
            switch (rng_() % 4) {
            case 0: // a folder or file gone
                tree.remove(victim);
                break;
            case 1: // a file where there was a folder, or the other way round
                tree.remove(victim);
                if (chance(50))
                    tree.file(victim, pick(contents_));
                else
                    tree.folder(victim + "/inner").file(victim + "/inner/f", pick(contents_));
                break;
            case 2: // a link out of the tree in its place
                tree.remove(victim).link(victim, "../../outside");
                break;
            default: // changed content
                if (!tree.exists(victim + "/"))
                    tree.remove(victim).file(victim, pick(contents_) + "!");
                break;
            }
        }
    }

    // Some folders nobody may read (mode 000) or search (0744, owned by root).
    std::vector<std::pair<std::string, mode_t>>
    lockSome(TempTree& tree, const std::vector<std::string>& folders, const std::string& side) {
        std::vector<std::pair<std::string, mode_t>> locked;
        for (const std::string& folder : folders) {
            if (folder.empty() || !chance(12))
                continue;
            const std::string path = side + "/" + folder;
            struct stat st {};
            if (::lstat(tree.path(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
                ::chown(tree.path(path).c_str(), 0, 0) != 0)
                continue; // gone, or no longer a folder in this tree
            const mode_t mode = chance(50) ? 0000 : 0744;
            tree.setMode(path, mode);
            locked.emplace_back(path, mode);
        }
        return locked;
    }

    Settings settings() {
        Settings s = quietSettings();
        s.CheckSize = chance(80);
        s.CheckName = chance(70) || !s.CheckSize;
        s.CheckTimeStamp = chance(30);
        return s;
    }

private:
    static int depth(const std::string& rel) { return int(std::count(rel.begin(), rel.end(), '/')); }

    static void copyTree(TempTree& tree, const std::string& from, const std::string& to) {
        const std::string command = "cp -a '" + from + "/.' '" + to + "/'";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("cp failed");
        (void)tree;
    }

    static std::vector<std::string> entriesBelow(const TempTree& tree, const std::string& side) {
        std::vector<std::string> names;
        for (const auto& [path, node] : snapshotTree(tree.path(side))) {
            std::string rel = path;
            if (!rel.empty() && rel.back() == '/')
                rel.pop_back();
            if (!rel.empty())
                names.push_back(rel);
        }
        return names;
    }

    std::mt19937 rng_;
    const std::vector<std::string> names_{"a", "A", "b", "ab", "c.txt", "C.txt"};
    const std::vector<std::string> contents_{"one", "two", "three", "one but longer", ""};
    const std::vector<std::time_t> times_{utcTime(2026, 1, 1), utcTime(2026, 1, 1, 0, 0, 1),
                                          utcTime(2045, 1, 1)};
    const std::vector<std::string> linkTargets_{"a", "c.txt", "../../outside", "../outside/o.txt", "nowhere"};
};

// The path a line acts on: the destination of a move or copy, else its one path.
std::string actedOn(const std::string& line) {
    const std::size_t star = line.find('*');
    if (star != std::string::npos)
        return line.substr(star + 1);
    return line.substr(line.find(' ') + 1);
}

// Reasons the file system imposes on these worlds (folders nobody may enter; a folder of someone else's
// whose permissions a plain user may not change, which its Attributes line says on every run), and the
// lines that depend on a line that failed for one of them. Any other failure is the plan's own fault.
bool unavoidable(const std::string& line, const std::string& reason) {
    if (line.rfind("Failed Attributes ", 0) == 0 &&
        reason.rfind("Reason: Operation not permitted (EPERM)", 0) == 0)
        return true;
    return reason == "Reason: Permission denied (EACCES)" ||
           reason.rfind("Reason: not done, because an earlier line it depends on did not succeed", 0) == 0;
}

// The paths of the failure lines of a log that are followed by a reason.
std::set<std::string> failedWithReason(const std::vector<std::string>& log) {
    static const char* kFailures[] = {"Failed Copy-File to ", "Failed Move-Rename to ", "Failed DeleteFile ",
                                      "Failed CreateDir ",    "Failed Delete Dir ",     "Failed Attributes "};
    std::set<std::string> paths;
    for (std::size_t i = 0; i + 1 < log.size(); ++i)
        for (const char* prefix : kFailures)
            if (log[i].rfind(prefix, 0) == 0 && log[i + 1].rfind("Reason: ", 0) == 0)
                paths.insert(log[i].substr(std::strlen(prefix)));
    return paths;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The entries at `prefix` and below it; a prefix ending with "/" takes only what lies below.
TreeSnapshot below(const TreeSnapshot& all, const std::string& prefix) {
    TreeSnapshot part;
    const bool strictly = !prefix.empty() && prefix.back() == '/';
    const std::string base = strictly ? prefix.substr(0, prefix.size() - 1) : prefix;
    for (const auto& [path, node] : all)
        if (path.rfind(base + "/", 0) == 0 ? !(strictly && path == base + "/") : (!strictly && path == base))
            part.emplace(path, node);
    return part;
}

void checkOneWorld(uint32_t seed) {
    RandomWorld world(seed);
    TempTree tree("outside/o.txt = outside\n", "/tmp");
    tree.setMode("", 0755);
    tree.folder("A").folder("B");
    const std::vector<std::string> foldersA = world.writeTree(tree, "A");
    std::vector<std::string> foldersB;
    if (world.chance(65)) {
        world.copyWithChanges(tree);
        foldersB = foldersA;
    } else {
        foldersB = world.writeTree(tree, "B");
    }
    tree.giveTo(kNobody, kNobody);
    const TreeSnapshot before = tree.snapshot();
    const auto lockedA = world.lockSome(tree, foldersA, "A");
    const auto lockedB = world.chance(30) ? world.lockSome(tree, foldersB, "B") : decltype(lockedA){};
    const Settings settings = world.settings();
    const int copyWorkers = world.chance(50) ? 1 : 3;

    const ChildOutcome child = asNobody([&] {
        const SyncRun run = syncOnce(0, tree.path("A/"), tree.path("B/"), settings, true, copyWorkers);
        const SyncRun again = syncOnce(0, tree.path("A/"), tree.path("B/"), settings, false);
        std::string text = run.a.coverage.complete() && run.b.coverage.complete() ? "C\n" : "I\n";
        for (const std::string& line : run.log)
            text += "L" + line + "\n";
        for (const std::string& line : lineTexts(again.plan.actions))
            text += "P" + line + "\n";
        return text;
    });
    // Locked folders get their mode back, and their owner: the snapshots compare modes, not owners.
    for (const auto& locks : {lockedA, lockedB})
        for (const auto& [path, mode] : locks) {
            struct stat st {};
            if (::lstat(tree.path(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                tree.setMode(path, 0755);
        }
    const std::string where = "seed " + std::to_string(seed) +
                              " (PARITAS_CONVERGENCE_SEED=" + std::to_string(seed) + " reruns it)\n" +
                              child.text;
    ASSERT_EQ(child.failure, "") << where;

    std::vector<std::string> log, remaining;
    bool complete = false;
    for (const std::string& line : linesOf(child.text)) {
        if (line == "C")
            complete = true;
        else if (line[0] == 'L')
            log.push_back(line.substr(1));
        else if (line[0] == 'P')
            remaining.push_back(line.substr(1));
    }
    const std::set<std::string> failed = failedWithReason(log);
    for (std::size_t i = 0; i + 1 < log.size(); ++i)
        if (log[i].rfind("Failed ", 0) == 0) {
            EXPECT_TRUE(unavoidable(log[i], log[i + 1]))
                << "a failure the plan should have avoided: " << log[i] << "\n"
                << log[i + 1] << "\n"
                << where;
        }
    for (const std::string& line : remaining)
        EXPECT_TRUE(failed.count(actedOn(line))) << "left to do without a stated reason: " << line << "\n"
                                                 << where;

    const TreeSnapshot after = tree.snapshot();
    EXPECT_EQ(snapshotDifferences(below(before, "outside"), below(after, "outside")), "") << where;
    for (const auto& [path, mode] : lockedA) {
        // Below a folder that cannot be read or searched, everything of B stays as it was (a missing
        // folder may be made there). An empty folder that can be listed hides nothing.
        if (mode != 0000 && below(before, path + "/").empty())
            continue;
        const std::vector<std::string> protectedParts{"B" + path.substr(1) + "/"};
        for (const std::string& part : protectedParts) {
            const TreeSnapshot was = below(before, part), is = below(after, part);
            for (const auto& [entry, node] : was) {
                const auto now = is.find(entry);
                EXPECT_TRUE(now != is.end() && now->second == node)
                    << "changed behind " << path << ": " << entry << "\n"
                    << where;
            }
        }
    }
    if (complete && failed.empty() && lockedA.empty() && lockedB.empty()) {
        // The same-file criteria decide what counts as the same file; a mirror agrees on them.
        auto shape = [&](const std::string& side) {
            std::map<std::string, std::string> out;
            for (const auto& [path, node] : after) {
                if (path.rfind(side + "/", 0) != 0)
                    continue;
                const bool folder = node.type == NodeState::Type::Folder;
                out[path.substr(2)] = folder               ? "folder"
                                      : settings.CheckSize ? std::to_string(node.size)
                                                           : "file";
            }
            return out;
        };
        EXPECT_EQ(shape("A"), shape("B")) << "B is no mirror of A\n" << where;
    }
}

} // namespace

TEST(BackupConvergence, OneBackupLeavesNothingToDoButWhatItExplained) {
    const char* fixed = std::getenv("PARITAS_CONVERGENCE_SEED");
    const uint32_t base = fixed ? uint32_t(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
    const int cases = fixed ? 1 : kCases;
    for (int k = 0; k < cases; ++k) {
        checkOneWorld(base + uint32_t(k));
        if (::testing::Test::HasFailure())
            return;
    }
}

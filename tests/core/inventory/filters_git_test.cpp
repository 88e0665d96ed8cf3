// The filter rules against git itself: random rule lists and random paths, asked of our matcher and of
// `git check-ignore` in a scratch repository, must get the same answer for every path.
//
// How the two are compared:
// - The rules go to the repository's .git/info/exclude, which git reads as a top-level .gitignore (rules
//   relative to the top).
// - Paths are given to git without a trailing "/": check-ignore would match "a/" itself against the
//   rules ("*/**" would then match the folder "a", which git's own walk never does). Git learns that a
//   path is a folder from the disk, so the folders are made in the work tree for the time of the
//   question; files are not made, and git takes a path it cannot find as no folder, as our files are.
// - All paths of one rule list go to one `git check-ignore --no-index -v -n -z --stdin`. A path is
//   ignored when git names a rule that is no "!" rule; with a folder above it ignored, git names that
//   folder's rule, which is our "a left-out folder is never walked".
// - The seed is printed; PARITAS_FILTER_SEED=<seed> runs that seed again.

#include "core/inventory/filters.h"
#include "core/inventory/scan.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>

using namespace paritas;
using paritas::test::RecordingHost;
using paritas::test::TempTree;

namespace {

uint32_t testSeed() {
    const char* fixed = std::getenv("PARITAS_FILTER_SEED");
    const uint32_t seed = fixed ? uint32_t(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
    std::cout << "filter test seed " << seed << " (PARITAS_FILTER_SEED=" << seed << " runs it again)\n";
    return seed;
}

bool haveGit() {
    return std::system("git --version >/dev/null 2>&1") == 0;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A scratch repository that knows nothing of the user's own git settings.
class ScratchRepository {
public:
    ScratchRepository() {
        environment_ = "HOME=" + tree_.root() + " XDG_CONFIG_HOME=" + tree_.root() +
                       " GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null LC_ALL=C";
        repository_ = tree_.path("repo");
        tree_.folder("repo");
        ok_ = run("git init -q " + repository_) == 0;
        tree_.folder("repo/.git/info");
    }
    bool ok() const { return ok_; }
    const std::string& repository() const { return repository_; }

    // Whether git ignores each path under the rule text (given as an ignore file's bytes). Empty when
    // git failed; `failure` then says how.
    std::vector<bool> ignored(const std::string& rules, const std::vector<std::string>& paths,
                              std::string* failure) {
        writeAll(repository_ + "/.git/info/exclude", rules);
        std::string input;
        for (const std::string& path : paths) {
            const bool folder = path.back() == '/';
            if (folder)
                std::filesystem::create_directories(repository_ + "/" + path);
            input.append(path, 0, path.size() - folder).push_back('\0');
        }
        // The folders go when the question is answered, whatever the answer.
        struct Clear {
            const std::string& repository;
            ~Clear() {
                for (const auto& entry : std::filesystem::directory_iterator(repository))
                    if (entry.path().filename() != ".git")
                        std::filesystem::remove_all(entry.path());
            }
        } clear{repository_};
        const std::string in = tree_.path("paths.in"), out = tree_.path("paths.out"),
                          err = tree_.path("paths.err");
        writeAll(in, input);
        // Exit 1 means "nothing ignored", not a failure.
        const int status = run("cd " + repository_ + " && git check-ignore --no-index -v -n -z --stdin <" +
                               in + " >" + out + " 2>" + err);
        if (status != 0 && status != 1) {
            *failure = "git check-ignore failed: " + readAll(err);
            return {};
        }
        // Records of four fields: source, line, pattern, path.
        const std::string text = readAll(out);
        std::vector<std::string> fields;
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find('\0', start);
            fields.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        if (fields.size() != 4 * paths.size()) {
            *failure = "git answered " + std::to_string(fields.size()) + " fields for " +
                       std::to_string(paths.size()) + " paths";
            return {};
        }
        std::vector<bool> result;
        for (std::size_t k = 0; k < paths.size(); ++k) {
            const std::string& pattern = fields[4 * k + 2];
            result.push_back(!pattern.empty() && pattern.front() != '!');
        }
        return result;
    }

    // The files git lists as neither tracked nor ignored in a work tree, under rules read from a file.
    std::set<std::string> unignoredFiles(const std::string& workTree, const std::string& rulesFile) {
        const std::string out = tree_.path("files.out");
        run("cd " + workTree + " && git --git-dir=" + repository_ + "/.git --work-tree=. ls-files -o -z " +
            "--exclude-from=" + rulesFile + " >" + out + " 2>/dev/null");
        std::set<std::string> files;
        const std::string text = readAll(out);
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find('\0', start);
            files.insert(text.substr(start, end - start));
            start = end + 1;
        }
        return files;
    }

private:
    int run(const std::string& command) {
        const int status = std::system((environment_ + " sh -c '" + command + "'").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempTree tree_;
    std::string environment_;
    std::string repository_;
    bool ok_ = false;
};

// Random rules and paths from one small vocabulary, so that rules often match.
class Grammar {
public:
    explicit Grammar(uint32_t seed) : rng_(seed) {}

    std::string ruleText(int rules) {
        std::string text;
        const bool crlf = pick(8) == 0;
        for (int k = 0; k < rules; ++k)
            text += line() + (crlf ? "\r\n" : "\n");
        return text;
    }

    // Folders end with "/". Every folder's path comes before those below it.
    std::vector<std::string> paths(int wanted) {
        std::vector<std::string> paths;
        std::vector<std::string> folders{""};
        std::set<std::string> taken;
        while (int(paths.size()) < wanted) {
            const std::string& parent = folders[pick(folders.size())];
            if (std::count(parent.begin(), parent.end(), '/') >= 4)
                continue;
            std::string path = parent + name();
            const bool folder = pick(3) == 0;
            if (folder)
                path += '/';
            if (!taken.insert(path).second ||
                taken.count(folder ? path.substr(0, path.size() - 1) : path + "/"))
                continue;
            paths.push_back(path);
            if (folder)
                folders.push_back(path);
        }
        return paths;
    }

private:
    std::size_t pick(std::size_t n) { return std::size_t(rng_() % n); }
    template <std::size_t N> const char* oneOf(const char* const (&choices)[N]) { return choices[pick(N)]; }

    std::string name() {
        static const char* const pieces[] = {"a", "b", "ab", "ba", "c", ".o", "x",        ".",   " ", "[",
                                             "]", "!", "#",  "-",  "1", "Z",  "\xC3\xA4", "a.b", "?"};
        std::string name;
        for (std::size_t n = 1 + pick(3); n > 0; --n)
            name += oneOf(pieces);
        return name == "." || name == ".." ? "a" : name;
    }

    // One byte or a few of a pattern, never a lone "\" at the end, every "[" closed.
    std::string atom() {
        static const char* const literals[] = {"a", "b", "ab",       "c", ".o", "x", ".", "-",
                                               "1", "Z", "\xC3\xA4", " ", "!",  "#", "]"};
        static const char* const escapes[] = {"\\[", "\\]", "\\!", "\\#", "\\ ", "\\*", "\\?", "\\a", "\\\\"};
        static const char* const sets[] = {
            "[ab]",          "[a-c]",       "[!a]",        "[^ab]",       "[]a]",        "[a-]",
            "[-a]",          "[[:alpha:]]", "[[:digit:]]", "[[:space:]]", "[[:punct:]]", "[[:upper:]]",
            "[[:alnum:]x]",  "[\\]]",       "[.o]",        "[[]",         "[[:]",        "[a-c-e]",
            "[[:alpha:]-z]", "[!.]",        "[\\!#]",      "[ -#]",       "[\\a-\\c]"};
        switch (pick(10)) {
        case 0:
        case 1:
        case 2:
            return oneOf(literals);
        case 3:
            return oneOf(escapes);
        case 4:
        case 5:
            return "*";
        case 6:
            return "?";
        case 7:
            return "**";
        default:
            return oneOf(sets);
        }
    }

    std::string segment() {
        switch (pick(8)) {
        case 0:
            return "**";
        case 1:
            return "*";
        default: {
            std::string segment;
            for (std::size_t n = 1 + pick(3); n > 0; --n)
                segment += atom();
            // Blanks alone would be trimmed off a line's end, leaving a "\/" before them lone.
            return segment.find_first_not_of(' ') == std::string::npos ? segment + "a" : segment;
        }
        }
    }

    std::string pattern() {
        std::string pattern;
        const std::size_t segments = 1 + pick(3);
        for (std::size_t s = 0; s < segments; ++s) {
            if (s > 0)
                pattern += pick(20) == 0 ? "\\/" : "/";
            pattern += segment();
        }
        if (pick(4) == 0)
            pattern = "/" + pattern;
        if (pick(6) == 0)
            pattern = "**/" + pattern;
        if (pick(8) == 0)
            pattern += "/**";
        if (pick(4) == 0)
            pattern += "/";
        return pattern;
    }

    std::string line() {
        switch (pick(30)) {
        case 0:
            return "# " + pattern();
        case 1:
            return "";
        case 2:
            return "   ";
        case 3:
            return pattern() + "  ";
        default:
            return (pick(4) == 0 ? "!" : "") + pattern();
        }
    }

    std::mt19937 rng_;
};

std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', '|');
    return text;
}

} // namespace

TEST(FiltersAgainstGit, EveryPathIsLeftOutExactlyWhenGitIgnoresIt) {
    if (!haveGit())
        GTEST_SKIP() << "git is not installed";
    ScratchRepository git;
    ASSERT_TRUE(git.ok()) << "git init failed";
    const uint32_t seed = testSeed();
    Grammar grammar(seed);
    constexpr int kLists = 100;
    std::size_t compared = 0, leftOut = 0, mismatches = 0;
    std::string report;
    for (int list = 0; list < kLists; ++list) {
        const std::string rules = grammar.ruleText(1 + int(list % 8));
        const std::vector<std::string> paths = grammar.paths(120);
        FilterRules ours;
        const auto error = ours.addText(rules, "exclude");
        ASSERT_FALSE(error) << "seed " << seed << ": " << error->text() << " in \"" << oneLine(rules) << "\"";
        std::string failure;
        const std::vector<bool> theirs = git.ignored(rules, paths, &failure);
        ASSERT_EQ(theirs.size(), paths.size()) << failure;
        for (std::size_t k = 0; k < paths.size(); ++k) {
            const bool mine = ours.leftOut(paths[k], paths[k].back() == '/');
            ++compared;
            leftOut += mine;
            if (mine == theirs[k])
                continue;
            if (++mismatches <= 10)
                report += "rules \"" + oneLine(rules) + "\" path \"" + paths[k] + "\": ours " +
                          (mine ? "left out" : "kept") + ", git " + (theirs[k] ? "ignored" : "kept") + "\n";
        }
    }
    EXPECT_EQ(mismatches, 0u) << "seed " << seed << " (PARITAS_FILTER_SEED reruns it)\n" << report;
    // The grammar must exercise both answers, or the comparison proves little.
    EXPECT_GT(leftOut, compared / 20) << "seed " << seed;
    EXPECT_LT(leftOut, compared - compared / 20) << "seed " << seed;
}

TEST(FiltersAgainstGit, PatternsWeRefuseAreOnesGitNeverMatches) {
    if (!haveGit())
        GTEST_SKIP() << "git is not installed";
    ScratchRepository git;
    ASSERT_TRUE(git.ok());
    // Each would match its path if it were read literally.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a[b", "a[b"}, {"[", "["},     {"*[", "x["},
        {"a[]", "a[]"}, {"[!]", "[!]"}, {"x[[:foo:]]", "x[[:foo:]]"},
        {"x\\", "x\\"}, {"d[/", "d[/"}, {"[a\\", "[a\\"},
    };
    for (const auto& [pattern, path] : cases) {
        FilterRules rules;
        const auto error = rules.addText("ok\n" + pattern + "\n", "/loc/.paritasignore");
        ASSERT_TRUE(error) << pattern;
        EXPECT_EQ(error->origin.line, 2) << pattern;
        EXPECT_EQ(
            error->text().rfind("/loc/.paritasignore:2: pattern \"" + pattern + "\" cannot be read: ", 0), 0u)
            << error->text();
        EXPECT_TRUE(rules.empty()) << "a file with a bad line adds nothing";
        std::string failure;
        const std::vector<bool> theirs = git.ignored(pattern + "\n", {path, path + "/"}, &failure);
        ASSERT_EQ(theirs.size(), 2u) << failure;
        EXPECT_FALSE(theirs[0]) << pattern;
        EXPECT_FALSE(theirs[1]) << pattern;
    }
}

// The whole scan against git on real trees: the files a scan lists are exactly those git lists as
// neither tracked nor ignored.
TEST(FiltersAgainstGit, AScanListsExactlyTheFilesGitDoesNotIgnore) {
    if (!haveGit())
        GTEST_SKIP() << "git is not installed";
    ScratchRepository git;
    ASSERT_TRUE(git.ok());
    const uint32_t seed = testSeed();
    Grammar grammar(seed + 1);
    for (int round = 0; round < 12; ++round) {
        TempTree tree;
        for (const std::string& path : grammar.paths(60)) {
            if (path.back() == '/')
                tree.folder(path);
            else
                tree.file(path, "x");
        }
        const std::string rules = grammar.ruleText(2 + round % 6);
        TempTree elsewhere;
        const std::string rulesFile = elsewhere.path("rules");
        writeAll(rulesFile, rules);
        auto filters = std::make_shared<FilterRules>();
        ASSERT_FALSE(filters->readIgnoreFile(rulesFile));
        ScanOptions options;
        options.filters = filters;
        RecordingHost host;
        const ScanResult scan = scanLocation(tree.root(), options, Side::A, host);
        std::set<std::string> listed;
        for (std::size_t row = 0; row < scan.inventory.fileCount(); ++row)
            listed.insert(std::string(scan.inventory.fullPath(row).substr(tree.root().size())));
        EXPECT_EQ(listed, git.unignoredFiles(tree.root(), rulesFile))
            << "seed " << seed << " round " << round << " rules \"" << oneLine(rules) << "\"";
    }
}

// The folder of the run locks is always the user's own private folder: with no runtime folder, a
// shared /tmp/paritas-<uid> that another user made first is never used, and never blocks the runs.

#include "core/app/run_lock.h"

#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace paritas;
using namespace paritas::test;

namespace {

// A user id no account and no other test uses.
constexpr uid_t kUser = 64999;
constexpr uid_t kOtherUser = 64998;

// Runs `work` as kUser in a child; its text comes back ("" when the child could not give up root).
std::string asUser(const std::function<std::string()>& work) {
    int ends[2];
    if (::pipe(ends) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        std::string text;
        if (::setgroups(0, nullptr) == 0 && ::setgid(kUser) == 0 && ::setuid(kUser) == 0)
            text = work();
        (void)!::write(ends[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, std::size_t(n));
    ::close(ends[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

} // namespace

TEST(RunLockFolder, ASharedFolderThatAnotherUserMadeFirstIsNeverUsed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's folder can only be made as root";
    const std::string shared = "/tmp/paritas-" + std::to_string(kUser);
    if (::access(("/run/user/" + std::to_string(kUser)).c_str(), F_OK) == 0)
        GTEST_SKIP() << "/run/user/" << kUser << " exists here, so the shared folder is not used";
    ::rmdir(shared.c_str()); // left by an earlier run of this test
    if (::access(shared.c_str(), F_OK) == 0)
        GTEST_SKIP() << shared << " exists and is not empty";
    TempTree tree("home/\nB/\n");
    tree.giveTo(kUser, kUser);
    ::chmod(tree.root().c_str(), 0755);
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(::chown(shared.c_str(), kOtherUser, kOtherUser), 0);
    ::chmod(shared.c_str(), 0777); // the other user even lets everyone write there

    const std::string home = tree.path("home");
    const std::string outcome = asUser([&] {
        ::unsetenv("XDG_RUNTIME_DIR");
        ::unsetenv("XDG_CACHE_HOME");
        ::setenv("HOME", home.c_str(), 1);
        RunLock lock;
        const RunLockResult taken = lock.acquire({tree.path("B")});
        return taken.acquired ? std::string("acquired") : "refused: " + runLockRefusal(taken);
    });
    std::vector<std::string> inShared;
    for (const auto& [path, state] : snapshotTree(shared))
        inShared.push_back(path);
    ::rmdir(shared.c_str());
    EXPECT_EQ(outcome, "acquired");
    EXPECT_EQ(inShared, std::vector<std::string>{}) << "a lock file went into the other user's folder";
    struct stat st {};
    ASSERT_EQ(::stat(tree.path("home/.cache/paritas-locks").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kUser);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

// The versions folder of a remote location: Paritas marks the one it makes, and at the end of a run
// with days to keep versions, the older versions go from a marked one; an unmarked one keeps all.

#include "core/execution/removed_files.h"
#include "core/platform/versions_folder.h"

#include "remote_run_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

using namespace paritas;
using namespace paritas::test;

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

class RemoteVersions : public OnBackend {};

// The name the run of `when` gives a version of `name`.
std::string versionOf(const std::string& name, std::time_t when) {
    Settings settings;
    settings.removedFiles = RemovedFiles::Versions;
    return RemovedFileKeeper(settings, {}, when).versionName(name, 0);
}

TEST_P(RemoteVersions, OlderVersionsGoFromTheFolderParitasMadeAndAnUnmarkedFolderKeepsThemAll) {
    const struct {
        const char* name;
        bool madeByARun; // else the user made .paritas-versions, with files of their own in it
        bool pruned;
    } cases[] = {
        {"made by a run", true, true},
        {"the user's folder", false, false},
    };
    const std::time_t now = std::time(nullptr);
    const std::string old = versionOf("old.txt", now - 10 * kDay);
    const std::string recent = versionOf("recent.txt", now - 1 * kDay);
    const std::string lonely = versionOf("only-old.txt", now - 30 * kDay);
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string relative = "case" + std::to_string(index++) + "/";
        const std::string folder = "served/" + relative;
        const std::string versions = folder + kVersionsFolderName + "/";
        const std::string b = place->location(relative);
        TempTree source("f.txt = first\n");
        Settings settings = unattended();
        settings.removedFiles = RemovedFiles::Versions;
        settings.versionsKeepDays = 5;
        if (!c.madeByARun)
            work.file(versions + "mine.txt", "the user's own");
        ASSERT_EQ(runOnce(PlanKind::Backup, source.root(), b, settings).counts.bad, 0);

        // A replacement: the first version moves into the folder, which is marked only when the run
        // made it.
        source.file("f.txt", "second, longer");
        const RunOutcome replaced = runOnce(PlanKind::Backup, source.root(), b, settings);
        ASSERT_EQ(replaced.counts.bad, 0) << replaced.failures();
        EXPECT_EQ(work.exists(versions + kVersionsMarkName), c.madeByARun);

        // Versions of earlier runs, as they would stand after them.
        work.file(versions + "docs/" + old, "old").file(versions + "docs/" + recent, "recent");
        work.file(versions + "gone/" + lonely, "older");
        source.file("f.txt", "third, longer still");
        const RunOutcome run = runOnce(PlanKind::Backup, source.root(), b, settings);
        EXPECT_EQ(run.counts.bad, 0) << run.failures();
        const std::string line = "Removed 2 version(s) older than 5 day(s) from " + b + kVersionsFolderName;
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), line), c.pruned ? 1 : 0)
            << ::testing::PrintToString(run.lines);
        EXPECT_EQ(work.exists(versions + "docs/" + old), !c.pruned);
        EXPECT_EQ(work.exists(versions + "gone"), !c.pruned) << "a folder that pruning empties goes";
        EXPECT_TRUE(work.exists(versions + "docs/" + recent));
        EXPECT_EQ(work.exists(versions + "mine.txt"), !c.madeByARun);
        // The two versions of f.txt made today stay.
        int kept = 0;
        for (const auto& [path, state] : snapshotTree(work.path(versions)))
            kept += path.rfind("f", 0) == 0 && state.type == NodeState::Type::File;
        EXPECT_EQ(kept, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, RemoteVersions, ::testing::Values(Backend::Local, Backend::RcloneSftp),
                         backendParamName);

} // namespace

#pragma once
// Where the files of a run go that its actions remove or replace (Settings::removedFiles), and what
// the run tells about them. With "delete" there is no keeper: files are deleted as they always were.
//
//   trash     the desktop's trash of the file's own file system (trash.h)
//   versions  a versions folder: the file keeps its path below its location and gets the run's
//             date-time text in its name the way a dated name gets it (datedName):
//                 B/docs/report.txt, run at 12/09/26 10:15:30
//                   -> V/docs/report12_09_26 10_15_30.txt
//             V is the folder chosen, or .paritas-versions at the top of the file's location (the
//             scans never list it). A name already taken there (a file replaced twice in one run) gets
//             " (2)", " (3)", ... after the time. A chosen folder must lie outside every location of
//             the run, and hold none of them: otherwise the scans would take the versions for files
//             of the location, and nothing is removed.
//
// A file is only ever moved, never copied: when it cannot be kept where the setting says, it stays
// where it was and its line fails with the reason.
//
// One keeper serves one run, on every thread of it at once.

#include "core/platform/beneath.h"
#include "core/platform/disposal.h"
#include "core/platform/trash.h"
#include "core/platform/versions_folder.h"
#include "core/settings/settings.h"

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace paritas {

class RemovedFileKeeper final : public Disposal {
public:
    // `settings`: the choice (trash or versions), the versions folder and its days; `locations`: the
    // run's (with or without trailing separator); `runStart` gives the versions their time text;
    // `homeTrash` is the home trash folder.
    RemovedFileKeeper(const Settings& settings, const std::vector<std::string>& locations,
                      std::time_t runStart, std::string homeTrash = homeTrashFolder());
    ~RemovedFileKeeper() override;

    Disposed ready(int folder, const std::string& path) override;
    Disposed dispose(int folder, const std::string& name, const std::string& path) override;
    KeepingRule keepingRule() const override;
    std::string versionName(const std::string& name, int attempt) const override;
    void keptElsewhere(const std::string& place) override { count(place); }

    // The line after a success line that says where the file went: "Moved to the trash: " + keptAt,
    // "Old version moved to the versions folder: " + keptAt and the like.
    std::string keptLine(const std::string& keptAt, bool oldVersion) const;
    // End of a run: removes the versions older than the days kept from the versions folders of the
    // `written` locations (or the chosen folder); one log line per folder that lost any, or could not
    // be pruned. Nothing with no days set.
    std::vector<std::string> prune(const std::vector<std::string>& written, std::time_t now);
    // One line saying how many files were kept and where, or empty when none was.
    std::string restoreHint() const;

private:
    Disposed intoVersions(int folder, const std::string& name, const std::string& path);
    // The versions folder for a file at `path` and its path below its location, or an error.
    Disposed versionsRootFor(const std::string& path, std::shared_ptr<const FolderHandle>& root,
                             std::string& rootPath, std::string& relative);
    void count(const std::string& place);

    RemovedFiles choice_;
    std::string chosenFolder_; // empty: each location's own
    int keepDays_;
    std::vector<std::string> locations_; // each ending with the separator
    std::string dateText_;
    std::string problem_;
    std::unique_ptr<Trash> trash_;
    mutable std::mutex mutex_;
    LocationResolver resolver_;                                        // under mutex_
    std::map<std::string, std::shared_ptr<const FolderHandle>> roots_; // under mutex_
    std::map<std::string, std::size_t> kept_;                          // place -> files; under mutex_
};

} // namespace paritas

#include "core/execution/removed_files.h"

#include "core/planning/plan_support.h"
#include "core/platform/datetime.h"
#include "core/platform/path_text.h"
#include "core/platform/versions_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace paritas {
namespace {

constexpr std::time_t kSecondsPerDay = 24 * 60 * 60;

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind(kSeparator);
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

} // namespace

RemovedFileKeeper::RemovedFileKeeper(const Settings& settings, const std::vector<std::string>& locations,
                                     std::time_t runStart, std::string homeTrash)
    : choice_(settings.removedFiles), chosenFolder_(settings.versionsFolder),
      keepDays_(settings.versionsKeepDays), dateText_(nameSafeDateText(dateTimeText(runStart))),
      resolver_(locations) {
    for (const std::string& location : locations)
        if (isAbsolutePath(location))
            locations_.push_back(withTrailingSeparator(location));
    while (chosenFolder_.size() > 1 && chosenFolder_.back() == kSeparator)
        chosenFolder_.pop_back();
    if (choice_ == RemovedFiles::Trash)
        trash_ = std::make_unique<Trash>(std::move(homeTrash), ::getuid());
    if (choice_ == RemovedFiles::Versions && !chosenFolder_.empty())
        problem_ = versionsFolderProblem(chosenFolder_, locations_);
}

RemovedFileKeeper::~RemovedFileKeeper() = default;

Disposed RemovedFileKeeper::ready(int folder, const std::string& path) {
    if (trash_)
        return trash_->ready(folder);
    std::shared_ptr<const FolderHandle> root;
    std::string rootPath, relative;
    return versionsRootFor(path, root, rootPath, relative);
}

Disposed RemovedFileKeeper::dispose(int folder, const std::string& name, const std::string& path) {
    if (!trash_)
        return intoVersions(folder, name, path);
    Disposed kept = trash_->put(folder, name, path);
    if (kept.ok())
        count(folderOf(kept.keptAt));
    return kept;
}

KeepingRule RemovedFileKeeper::keepingRule() const {
    KeepingRule rule;
    rule.kind = trash_ ? KeepingRule::Kind::Trash : KeepingRule::Kind::Versions;
    rule.chosenFolder = chosenFolder_;
    return rule;
}

std::string RemovedFileKeeper::versionName(const std::string& name, int attempt) const {
    return datedName(name, attempt == 0 ? dateText_ : dateText_ + " (" + std::to_string(attempt + 1) + ")");
}

Disposed RemovedFileKeeper::versionsRootFor(const std::string& path,
                                            std::shared_ptr<const FolderHandle>& root, std::string& rootPath,
                                            std::string& relative) {
    if (!problem_.empty())
        return Disposed{kVersionsFolderUnusable, problem_, {}};
    std::string holder;
    for (const std::string& location : locations_)
        if (path.size() > location.size() && startsWith(path, location) && location.size() > holder.size())
            holder = location;
    if (holder.empty() && chosenFolder_.empty())
        return Disposed{kVersionsFolderUnusable, "the file lies beneath no location of the run", {}};
    relative = holder.empty() ? path.substr(1) : path.substr(holder.size());
    rootPath = chosenFolder_.empty() ? holder + kVersionsFolderName : chosenFolder_;

    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto found = roots_.find(rootPath); found != roots_.end()) {
        root = found->second;
        return {};
    }
    FolderHandle opened;
    int error = 0;
    if (chosenFolder_.empty()) {
        // Beneath the location, never through a link: the location's own folder, made when missing.
        const ResolvedPath at = resolver_.resolve(rootPath);
        error = at.ok() ? openFolderTree(at.folder.get(), at.name, opened) : at.error;
        // Marked when it is new (or empty), so that pruning knows it for Paritas's own; a folder of
        // that name the user filled keeps the versions too but is never pruned.
        if (error == 0)
            (void)claimVersionsFolder(opened.get());
    } else {
        error = openOrMakeFolder(rootPath, opened);
        if (error == 0)
            error = claimVersionsFolder(opened.get());
    }
    if (error == kVersionsFolderUnusable)
        return Disposed{
            error, rootPath + " holds files that Paritas did not put there; choose an empty folder", {}};
    if (error != 0)
        return Disposed{error, "the versions folder " + rootPath, {}};
    root = std::make_shared<const FolderHandle>(std::move(opened));
    roots_.emplace(rootPath, root);
    return {};
}

Disposed RemovedFileKeeper::intoVersions(int folder, const std::string& name, const std::string& path) {
    std::shared_ptr<const FolderHandle> root;
    std::string rootPath, relative;
    if (Disposed found = versionsRootFor(path, root, rootPath, relative); !found.ok())
        return found;
    const std::string relativeFolder = folderOf(relative);
    FolderHandle target;
    if (const int error = openFolderTree(root->get(), relativeFolder, target); error != 0)
        return Disposed{error, "the versions folder " + rootPath, {}};
    const std::string base = relative.substr(relativeFolder.empty() ? 0 : relativeFolder.size() + 1);
    const auto nameAt = [&](int attempt) {
        return datedName(base,
                         attempt == 0 ? dateText_ : dateText_ + " (" + std::to_string(attempt + 1) + ")");
    };
    std::string used;
    const int error = moveUnderFreeName(folder, name, target.get(), nameAt, used);
    if (error == EXDEV)
        return Disposed{kVersionsOnOtherFileSystem, "the versions folder " + rootPath, {}};
    if (error != 0)
        return Disposed{error, {}, {}};
    count(rootPath);
    return Disposed{
        0, {}, rootPath + kSeparator + (relativeFolder.empty() ? "" : relativeFolder + kSeparator) + used};
}

void RemovedFileKeeper::count(const std::string& place) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++kept_[place];
}

std::string RemovedFileKeeper::keptLine(const std::string& keptAt, bool oldVersion) const {
    const std::string where = trash_ ? "the trash: " : "the versions folder: ";
    return (oldVersion ? "Old version moved to " : "Moved to ") + where + keptAt;
}

std::vector<std::string> RemovedFileKeeper::prune(const std::vector<std::string>& written, std::time_t now) {
    std::vector<std::string> lines;
    if (choice_ != RemovedFiles::Versions || keepDays_ <= 0 || !problem_.empty())
        return lines;
    std::vector<std::string> roots;
    if (!chosenFolder_.empty())
        roots.push_back(chosenFolder_);
    else
        for (const std::string& location : written)
            roots.push_back(withTrailingSeparator(location) + kVersionsFolderName);
    const std::time_t cutoff = now - std::time_t(keepDays_) * kSecondsPerDay;
    for (const std::string& rootPath : roots) {
        FolderHandle root;
        if (chosenFolder_.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            const ResolvedPath at = resolver_.resolve(rootPath);
            if (at.ok())
                root = FolderHandle(::openat(at.folder.get(), at.name.c_str(),
                                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        } else {
            root = FolderHandle(::open(rootPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
        if (!root.valid())
            continue; // no versions there yet
        if (!isVersionsFolder(root.get()))
            continue; // never marked as a versions folder: whatever is there is not ours to remove
        const PruneResult pruned = pruneOlderThan(root.get(), cutoff);
        if (pruned.removed > 0)
            lines.push_back("Removed " + std::to_string(pruned.removed) + " version(s) older than " +
                            std::to_string(keepDays_) + " day(s) from " + rootPath);
        if (pruned.error != 0)
            lines.push_back("The versions folder " + rootPath +
                            " could not be pruned completely: " + failureText(pruned.error));
    }
    return lines;
}

std::string RemovedFileKeeper::restoreHint() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t total = 0;
    std::string places;
    for (const auto& [place, files] : kept_) {
        total += files;
        places += (places.empty() ? "" : "; ") + std::to_string(files) + " in " + place;
    }
    if (total == 0)
        return {};
    const std::string how = trash_ ? " in the trash (the file manager puts them back): "
                                   : " in the versions folder, each under its own path with the time of "
                                     "this run in its name: ";
    return "Kept " + std::to_string(total) + " removed or replaced file(s)" + how + places;
}

} // namespace paritas

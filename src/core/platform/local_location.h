#pragma once
// The local file system as a location (location.h): every path resolved beneath the location's
// folder without passing through a symbolic link (beneath.h), every action one of the checked
// operations of file_ops.h and file_copy.h.

#include "core/platform/location.h"
#include "core/platform/work_journal.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace paritas {

class LocalLocation final : public Location {
public:
    // `text`: an absolute folder path (a trailing separator is added when missing).
    explicit LocalLocation(std::string text);

    std::unique_ptr<Location> forAnotherThread() const override;

    bool exists() override;
    FileSystemCapabilities capabilities() override;
    std::string lockKey() override;
    FolderAncestry ancestry() override;
    bool isFileSystemTop() override;
    bool foldsLetterCase(bool mayWrite) override;
    std::vector<std::string> recoverInterruptedWork(Disposal* disposal) override;
    void closeJournal() override;

    FolderRead readFolder(const std::string& folder, const FolderReadOptions& options) override;
    EntryFacts entryAt(const std::string& path) override;
    bool sameEntry(const std::string& first, const std::string& second) override;

    FsResult makeFolder(const std::string& path) override;
    bool realFolderAt(const std::string& path) override;
    FsResult removeEmptyFolder(const std::string& path) override;
    FsResult moveIfUnchanged(const std::string& source, const FileStamp* planned,
                             const std::string& destination) override;
    FsResult deleteIfUnchanged(const std::string& path, const FileStamp* planned) override;
    Disposed disposeIfUnchanged(const std::string& path, const FileStamp* planned,
                                Disposal& disposal) override;
    CopyResult placeCopy(Location& sourceSide, const std::string& source, const FileStamp* plannedSource,
                         const std::string& destination, const DestinationPlan& plan, CopyObserver& observer,
                         const CopyOptions& options) override;
    DuplicateProof proveDuplicate(Location& keptSide, const std::string& kept,
                                  const std::string& duplicate) override;
    MetadataRead readMetadata(const std::string& path, const AttributeSelection& selection) override;
    MetadataApplied applyMetadata(const std::string& path, const EntryMetadata& source, const MetadataStep& step,
                                  MetadataKeeper& keeper) override;
    LinkResult placeHardLink(const std::string& existing, const FileStamp* expected,
                             const std::string& destination, const DestinationPlan& plan,
                             const CopyOptions& options) override;
    void forgetFolders() override { resolver_.forgetFolders(); }
    CopyResult moveByCopy(const std::string& source, const FileStamp* planned, const std::string& destination,
                          CopyObserver& observer, const CopyOptions& options) override;

    // The moment between each action's last check and its act is told to `watcher` (tests change the
    // world there); nullptr for none. Handles for other threads tell the same watcher.
    void setWatcher(BetweenCheckAndAct* watcher) { watcher_ = watcher; }
    // What capabilities() answers instead of what the file system can do (tests pretend to lack one).
    void setCapabilities(const FileSystemCapabilities& capabilities) { capabilities_ = capabilities; }
    LocationResolver& resolver() { return resolver_; }

    // What reading it needs to know (identities), learnt without writing to it.
    const FileSystemCapabilities& readingCapabilities();

private:
    LocalLocation(std::string text, LocationResolver resolver);
    bool isRootPath(const std::string& path) const;
    const FileSystemCapabilities* actingCapabilities();
    CopyResult placeFetched(Location& sourceSide, const std::string& source, const FileStamp* plannedSource,
                            const std::string& destination, const DestinationPlan& plan, CopyObserver& observer,
                            const CopyOptions& options);

    LocationResolver resolver_;
    BetweenCheckAndAct* watcher_ = nullptr;
    std::optional<FileSystemCapabilities> capabilities_;
    std::optional<FileSystemCapabilities> reading_;
    std::unique_ptr<FolderListing> listing_;
    std::shared_ptr<WorkJournal> journal_; // shared by the handles of every thread
    std::optional<bool> folds_;
};

// Local locations for the given texts (every text an absolute folder path).
Locations localLocations(const std::vector<std::string>& texts);

} // namespace paritas

#pragma once
// The local file system as a location, for tests that need the world to misbehave: it wraps a
// LocalLocation and can
//   - change the world between a check and its act (between()), where another program could;
//   - fail any call with any errno before it acts (fail());
//   - pretend the file system lacks a capability (pretend()), so the fallbacks run.
// Handles for other threads (the copy pool's, the scan's readers) share the script.

#include "core/app/run.h"
#include "core/platform/local_location.h"
#include "core/platform/path_text.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace paritas::testing {

enum class LocationCall {
    Exists,
    ReadFolder,
    EntryAt,
    SameEntry,
    MakeFolder,
    RemoveFolder,
    Move,
    Delete,
    Dispose,
    PlaceCopy,
    ProveDuplicate,
    ReadMetadata,
    ApplyMetadata,
    PlaceHardLink,
};

class TestLocation final : public Location {
public:
    struct Script {
        std::mutex mutex;
        // Runs once per act, right after its last check passed, with the path checked.
        std::function<void(const std::string& path)> between;
        struct Failure {
            LocationCall call;
            int error;
            std::string pathEnd; // the call fails only for a path ending so ("": any)
            int times;           // how many calls it fails (-1: every one)
        };
        std::vector<Failure> failures;
        std::vector<std::pair<LocationCall, std::string>> calls; // every call, in order
    };

    explicit TestLocation(std::string text);

    // The world changes here, between the last check of an act and the act (once per act).
    void between(std::function<void(const std::string& path)> change);
    // The next `times` calls of `call` (on paths ending with `pathEnd`) fail with `error`, acting on
    // nothing.
    void fail(LocationCall call, int error, std::string pathEnd = {}, int times = 1);
    // What capabilities() answers; the operations then take the means these allow.
    void pretend(const FileSystemCapabilities& capabilities);
    // The calls made so far, of every handle.
    std::vector<std::pair<LocationCall, std::string>> calls() const;

    std::unique_ptr<Location> forAnotherThread() const override;
    bool exists() override;
    FileSystemCapabilities capabilities() override { return inner_->capabilities(); }
    std::string lockKey() override { return inner_->lockKey(); }
    FolderAncestry ancestry() override { return inner_->ancestry(); }
    bool isFileSystemTop() override { return inner_->isFileSystemTop(); }
    bool foldsLetterCase(bool mayWrite) override { return inner_->foldsLetterCase(mayWrite); }
    std::vector<std::string> recoverInterruptedWork(Disposal* disposal) override {
        return inner_->recoverInterruptedWork(disposal);
    }
    void closeJournal() override { inner_->closeJournal(); }
    CopyResult moveByCopy(const std::string& source, const FileStamp* planned, const std::string& destination,
                          CopyObserver& observer, const CopyOptions& options) override {
        return inner_->moveByCopy(source, planned, destination, observer, options);
    }
    FolderRead readFolder(const std::string& folder, const FolderReadOptions& options) override;
    EntryFacts entryAt(const std::string& path) override;
    bool sameEntry(const std::string& first, const std::string& second) override;
    FsResult makeFolder(const std::string& path) override;
    bool realFolderAt(const std::string& path) override { return inner_->realFolderAt(path); }
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
    void forgetFolders() override { inner_->forgetFolders(); }
    Location& underlying() override { return *inner_; }

private:
    class Watcher;
    TestLocation(std::string text, std::unique_ptr<LocalLocation> inner, std::shared_ptr<Script> script);
    // Records the call; the errno it is to fail with, or 0.
    int failure(LocationCall call, const std::string& path);

    std::unique_ptr<LocalLocation> inner_;
    std::shared_ptr<Script> script_;
    std::shared_ptr<Watcher> watcher_;
};

// Test locations made for a run (a RunHost's openLocation hands them out), found again by their
// text for the test to script. The run owns them; they live as long as the run.
class TestLocationsFor {
public:
    std::unique_ptr<Location> open(const std::string& text);
    TestLocation* at(const std::string& text) const;

private:
    std::vector<std::pair<std::string, TestLocation*>> made_;
};

} // namespace paritas::testing

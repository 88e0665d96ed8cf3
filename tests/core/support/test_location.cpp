#include "test_location.h"

namespace paritas::testing {

// Tells the script's change once per act (a copy placed over a file passes two checks on some paths).
class TestLocation::Watcher final : public BetweenCheckAndAct {
public:
    explicit Watcher(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    void now(const std::string& path) override {
        std::function<void(const std::string&)> change;
        {
            std::lock_guard lock(script_->mutex);
            change = script_->between;
        }
        if (change)
            change(path);
    }

private:
    std::shared_ptr<Script> script_;
};

TestLocation::TestLocation(std::string text)
    : TestLocation(text, std::make_unique<LocalLocation>(text), std::make_shared<Script>()) {}

TestLocation::TestLocation(std::string text, std::unique_ptr<LocalLocation> inner,
                           std::shared_ptr<Script> script)
    : Location(withTrailingSeparator(text)), inner_(std::move(inner)), script_(std::move(script)),
      watcher_(std::make_shared<Watcher>(script_)) {
    inner_->setWatcher(watcher_.get());
}

void TestLocation::between(std::function<void(const std::string& path)> change) {
    std::lock_guard lock(script_->mutex);
    script_->between = std::move(change);
}

void TestLocation::fail(LocationCall call, int error, std::string pathEnd, int times) {
    std::lock_guard lock(script_->mutex);
    script_->failures.push_back({call, error, std::move(pathEnd), times});
}

void TestLocation::pretend(const FileSystemCapabilities& capabilities) {
    inner_->setCapabilities(capabilities);
}

std::vector<std::pair<LocationCall, std::string>> TestLocation::calls() const {
    std::lock_guard lock(script_->mutex);
    return script_->calls;
}

int TestLocation::failure(LocationCall call, const std::string& path) {
    std::lock_guard lock(script_->mutex);
    script_->calls.emplace_back(call, path);
    for (Script::Failure& f : script_->failures) {
        const bool matches = f.call == call && f.times != 0 &&
                             (f.pathEnd.empty() || (path.size() >= f.pathEnd.size() &&
                                                    path.compare(path.size() - f.pathEnd.size(),
                                                                 f.pathEnd.size(), f.pathEnd) == 0));
        if (!matches)
            continue;
        if (f.times > 0)
            --f.times;
        return f.error;
    }
    return 0;
}

std::unique_ptr<Location> TestLocation::forAnotherThread() const {
    std::unique_ptr<Location> other = inner_->forAnotherThread();
    std::unique_ptr<LocalLocation> local(static_cast<LocalLocation*>(other.release()));
    return std::unique_ptr<Location>(new TestLocation(text(), std::move(local), script_));
}

bool TestLocation::exists() {
    return failure(LocationCall::Exists, text()) == 0 && inner_->exists();
}

FolderRead TestLocation::readFolder(const std::string& folder, const FolderReadOptions& options) {
    if (const int error = failure(LocationCall::ReadFolder, folder)) {
        FolderRead read;
        read.openError = error;
        return read;
    }
    return inner_->readFolder(folder, options);
}

EntryFacts TestLocation::entryAt(const std::string& path) {
    if (const int error = failure(LocationCall::EntryAt, path)) {
        EntryFacts facts;
        facts.error = error;
        return facts;
    }
    return inner_->entryAt(path);
}

bool TestLocation::sameEntry(const std::string& first, const std::string& second) {
    return failure(LocationCall::SameEntry, second) == 0 && inner_->sameEntry(first, second);
}

FsResult TestLocation::makeFolder(const std::string& path) {
    if (const int error = failure(LocationCall::MakeFolder, path))
        return FsResult{error};
    return inner_->makeFolder(path);
}

FsResult TestLocation::removeEmptyFolder(const std::string& path) {
    if (const int error = failure(LocationCall::RemoveFolder, path))
        return FsResult{error};
    return inner_->removeEmptyFolder(path);
}

FsResult TestLocation::moveIfUnchanged(const std::string& source, const FileStamp* planned,
                                       const std::string& destination) {
    if (const int error = failure(LocationCall::Move, source))
        return FsResult{error};
    return inner_->moveIfUnchanged(source, planned, destination);
}

FsResult TestLocation::deleteIfUnchanged(const std::string& path, const FileStamp* planned) {
    if (const int error = failure(LocationCall::Delete, path))
        return FsResult{error};
    return inner_->deleteIfUnchanged(path, planned);
}

Disposed TestLocation::disposeIfUnchanged(const std::string& path, const FileStamp* planned,
                                          Disposal& disposal) {
    if (const int error = failure(LocationCall::Dispose, path))
        return Disposed{error, {}, {}};
    return inner_->disposeIfUnchanged(path, planned, disposal);
}

CopyResult TestLocation::placeCopy(Location& sourceSide, const std::string& source,
                                   const FileStamp* plannedSource, const std::string& destination,
                                   const DestinationPlan& plan, CopyObserver& observer,
                                   const CopyOptions& options) {
    if (const int error = failure(LocationCall::PlaceCopy, destination)) {
        CopyResult result;
        result.error = error;
        return result;
    }
    return inner_->placeCopy(sourceSide, source, plannedSource, destination, plan, observer, options);
}

DuplicateProof TestLocation::proveDuplicate(Location& keptSide, const std::string& kept,
                                            const std::string& duplicate) {
    if (failure(LocationCall::ProveDuplicate, duplicate) != 0)
        return DuplicateProof::Unreadable;
    return inner_->proveDuplicate(keptSide, kept, duplicate);
}

MetadataRead TestLocation::readMetadata(const std::string& path, const AttributeSelection& selection) {
    if (const int error = failure(LocationCall::ReadMetadata, path)) {
        MetadataRead read;
        read.error = error;
        return read;
    }
    return inner_->readMetadata(path, selection);
}

MetadataApplied TestLocation::applyMetadata(const std::string& path, const EntryMetadata& source,
                                            const MetadataStep& step, MetadataKeeper& keeper) {
    if (const int error = failure(LocationCall::ApplyMetadata, path))
        return {error, {}};
    return inner_->applyMetadata(path, source, step, keeper);
}

LinkResult TestLocation::placeHardLink(const std::string& existing, const FileStamp* expected,
                                       const std::string& destination, const DestinationPlan& plan,
                                       const CopyOptions& options) {
    if (const int error = failure(LocationCall::PlaceHardLink, destination))
        return {LinkOutcome::Failed, error, {}, {}};
    return inner_->placeHardLink(existing, expected, destination, plan, options);
}

std::unique_ptr<Location> TestLocationsFor::open(const std::string& text) {
    auto location = std::make_unique<TestLocation>(text);
    made_.emplace_back(location->text(), location.get());
    return location;
}

TestLocation* TestLocationsFor::at(const std::string& text) const {
    for (const auto& [made, location] : made_)
        if (made == text || made == text + "/")
            return location;
    return nullptr;
}

} // namespace paritas::testing

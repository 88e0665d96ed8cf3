#include "core/app/run.h"

#include "core/execution/removed_files.h"
#include "core/planning/plan_support.h"
#include "core/platform/local_location.h"
#include "core/platform/path_text.h"
#include "core/remote/remote_location.h"

#include <atomic>
#include <ctime>

namespace paritas {
namespace {

// Generations are unique across sessions, so a review filled from one session's plan can tell that
// another session (a job run, a new analysis) has replaced it.
uint64_t nextGeneration() {
    static std::atomic<uint64_t> counter{0};
    return ++counter;
}

} // namespace

std::unique_ptr<Location> openLocation(const std::string& text, std::string* problem) {
    if (parseLocation(text).kind == LocationKind::Remote) {
        RcResult failure;
        std::unique_ptr<Location> location = RemoteLocation::open(text, failure);
        if (!location && problem)
            *problem = "Location " + text + " cannot be used: " + describe(failure);
        return location;
    }
    if (!isAbsolutePath(text) || holdsUncarriableCharacter(text))
        return nullptr;
    return std::make_unique<LocalLocation>(text);
}

std::unique_ptr<Location> RunHost::openLocation(const std::string& text) {
    return paritas::openLocation(text, &openProblem_);
}

std::string timeComparisonProblem(const RunRequest& request, const Locations& locations) {
    const bool comparesTimes = criteriaOf(request.settings).time || request.kind == PlanKind::FolderSynch;
    if (!comparesTimes)
        return {};
    // Times are compared in steps of two seconds (file_stamp.h): a location that keeps them to the
    // second or better is compared truly; a coarser one would be guessed at.
    constexpr int64_t kComparedStep = 2'000'000'000;
    for (std::size_t i = 0; i < locations.size(); ++i) {
        const int64_t precision = locations[i].timePrecisionNanos();
        if (precision > 0 && precision <= kComparedStep)
            continue;
        const std::string what =
            precision == 0 ? "keeps no modification times (a file there takes the time it was written)"
                           : "keeps modification times only to " + std::to_string(precision / 1'000'000'000) +
                                 " seconds";
        const std::string remedy =
            request.kind == PlanKind::FolderSynch
                ? "Folder synch decides by the newer file and cannot run there; use backup or copy missing "
                  "with the size and name criteria."
                : "Untick the time stamp criterion (paritas-cli: --criteria size,name).";
        return "Location " + locations[i].text() + " " + what + ", so files cannot be compared by time there. " +
               remedy;
    }
    return {};
}

RunSession::RunSession(RunRequest request) : request_(std::move(request)), generation_(nextGeneration()) {}
RunSession::RunSession(RunSession&&) noexcept = default;
RunSession& RunSession::operator=(RunSession&&) noexcept = default;
RunSession::~RunSession() = default;

Location* RunSession::locationOf(Side side) const {
    const std::string& text = side == Side::A ? request_.locationA : request_.locationB;
    return text.empty() ? nullptr : locations_.withText(text);
}

bool RunSession::refusedByLocations() {
    if (openProblem_.empty())
        return false;
    refusal_ = RunRefusal{RunRefusal::By::Planner, openProblem_, false};
    return true;
}

bool RunSession::prepare(RunHost& host) {
    refusal_.reset();
    if (!lock(host))
        return false;
    scan(host);
    return plan(host);
}

void RunSession::open(RunHost& host) {
    open(&host);
}

void RunSession::open(RunHost* host) {
    // The locations are opened once; the lock, the scans, the plan and the actions all use them.
    if (opened_)
        return;
    opened_ = true;
    std::vector<std::unique_ptr<Location>> opened;
    for (const std::string* text : {&request_.locationA, &request_.locationB}) {
        if (text->empty())
            continue;
        std::string problem;
        std::unique_ptr<Location> location = host ? host->openLocation(*text) : openLocation(*text, &problem);
        if (host)
            problem = host->takeOpenProblem();
        if (location)
            opened.push_back(std::move(location));
        else if (openProblem_.empty() && !problem.empty())
            openProblem_ = problem;
    }
    locations_ = Locations(std::move(opened));
}

bool RunSession::readFilters() {
    if (!filtersRead_) {
        filtersRead_ = true;
        RunRules composed = runRules(request_.settings, request_.filters, request_.kind, request_.locationA,
                                     request_.locationB);
        rules_ = std::move(composed.rules);
        filterError_ = std::move(composed.error);
    }
    if (filterError_) {
        refusal_ = RunRefusal{RunRefusal::By::Filters, filterError_->text(), false};
        return false;
    }
    return true;
}

const FilterRules& RunSession::filterRules() const {
    static const FilterRules none;
    return rules_ ? *rules_ : none;
}

bool RunSession::deletesLeftOutOfB() const {
    return request_.filters.deleteLeftOutOfB && request_.kind == PlanKind::Backup && rules_ &&
           !rules_->empty();
}

ScanOptions RunSession::scanOptions(Side side, RunHost& host) {
    if (!filtersRead_ && !readFilters())
        host.scanHost(Side::A).log("Filters not applied: " + filterError_->text());
    ScanOptions options;
    options.includeSubfolders = request_.includeSubfolders;
    options.threads = request_.scanThreads;
    if (rules_ && !rules_->empty() && !(side == Side::B && deletesLeftOutOfB()))
        options.filters = rules_;
    // Only a backup compares attributes; a read per entry is wasted on the other modes.
    if (request_.kind == PlanKind::Backup && request_.settings.compareAttributes)
        options.attributes = kAllAttributes;
    return options;
}

bool RunSession::lock(RunHost& host) {
    if (!readFilters())
        return false;
    open(host);
    if (refusedByLocations())
        return false;
    if (request_.planOnly || (lock_ && lock_->held()))
        return true;
    std::vector<RunLock::Target> targets;
    for (const std::string& text : writtenLocations(request_.kind, request_.locationA, request_.locationB)) {
        // A text that names no location is refused by the planner; it has nothing to lock.
        if (Location* location = locations_.withText(text))
            targets.push_back(RunLock::Target{location->lockKey(), text});
    }
    lock_ = std::make_unique<RunLock>();
    const RunLockResult locked = lock_->acquire(
        std::move(targets), [&](const RunLockResult& taken) { return host.keepWaitingForLock(taken); });
    if (locked.acquired) {
        recoverInterruptedWork(host);
        return true;
    }
    lock_.reset();
    refusal_ = RunRefusal{RunRefusal::By::Lock, runLockRefusal(locked), locked.problem.empty()};
    return false;
}

// What a killed run left under temporary names in the locations this run writes is settled before
// anything is read: the scans then see what the user sees, and nothing stays behind for ever.
void RunSession::recoverInterruptedWork(RunHost& host) {
    const std::vector<std::string> written =
        writtenLocations(request_.kind, request_.locationA, request_.locationB);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < locations_.size(); ++i)
        texts.push_back(locations_[i].text());
    std::unique_ptr<RemovedFileKeeper> keeper;
    if (request_.settings.removedFiles != RemovedFiles::Delete)
        keeper = std::make_unique<RemovedFileKeeper>(request_.settings, texts, std::time(nullptr));
    ActivityHost& log = host.scanHost(request_.kind == PlanKind::DuplicatesWithinA ? Side::A : Side::B);
    for (const std::string& text : written)
        if (Location* location = locations_.withText(text))
            for (const std::string& line : location->recoverInterruptedWork(keeper.get()))
                log.log(line);
}

void RunSession::releaseLock() {
    lock_.reset();
}

void RunSession::scanSide(Side side, RunHost& host) {
    open(host);
    ScanResult& result = side == Side::A ? scanA_ : scanB_;
    result = {}; // a large tree's old scan goes before the new one is read
    const ScanOptions options = scanOptions(side, host);
    host.scanStarting(side);
    Location* location = locationOf(side);
    const std::string& text = side == Side::A ? request_.locationA : request_.locationB;
    result = location ? scanLocation(*location, options, side, host.scanHost(side))
                      : scanLocation(text, options, side, host.scanHost(side));
    host.scanEnded(side, result);
}

void RunSession::scan(RunHost& host) {
    if (request_.kind == PlanKind::DuplicatesWithinA)
        scanSide(Side::A, host);
    else
        scanBoth(host);
}

void RunSession::scanBoth(RunHost& host) {
    open(host);
    scanA_ = {};
    scanB_ = {};
    const ScanOptions options = scanOptions(Side::B, host);
    // B is read in the background while A is scanned here; its log comes after A's, as one scan after
    // the other would give it.
    Location* b = locationOf(Side::B);
    std::unique_ptr<ScanAhead> ahead =
        b ? std::make_unique<ScanAhead>(b->forAnotherThread(), options, Side::B)
          : std::make_unique<ScanAhead>(request_.locationB, options, Side::B);
    scanSide(Side::A, host);
    host.scanStarting(Side::B);
    scanB_ = ahead->finish(host.scanHost(Side::B), [&] { host.whileWaiting(); });
    host.scanEnded(Side::B, scanB_);
}

bool RunSession::plan(RunHost& host) {
    open(host);
    // Scans made without the user's rules (they could not be read) are no ground for a plan.
    if (filterError_) {
        plan_ = {};
        generation_ = nextGeneration();
        refusal_ = RunRefusal{RunRefusal::By::Filters, filterError_->text(), false};
        return false;
    }
    const std::string problem =
        openProblem_.empty() ? timeComparisonProblem(request_, locations_) : openProblem_;
    if (!problem.empty()) {
        plan_ = {};
        generation_ = nextGeneration();
        refusal_ = RunRefusal{RunRefusal::By::Planner, problem, false};
        return false;
    }
    PlanInput input{request_.locationA, request_.locationB, &scanA_.folders, &scanB_.folders,
                    &scanA_.inventory,  &scanB_.inventory,  request_.settings, request_.includeSubfolders};
    input.coverageA = &scanA_.coverage;
    input.coverageB = request_.kind == PlanKind::DuplicatesWithinA ? nullptr : &scanB_.coverage;
    input.leftOutA = &scanA_.leftOut;
    input.leftOutB = request_.kind == PlanKind::DuplicatesWithinA ? nullptr : &scanB_.leftOut;
    input.leftOutDeletedFromB = deletesLeftOutOfB() ? rules_.get() : nullptr;
    input.folderMetadataA = &scanA_.folderMetadata;
    input.folderMetadataB = &scanB_.folderMetadata;
    PlannerHost& planner = host.plannerHost();
    planner.useLocations(&locations_, !request_.planOnly);
    plan_ = planFor(request_.kind, input, planner);
    planner.useLocations(nullptr);
    generation_ = nextGeneration();
    if (plan_.refused) {
        refusal_ = RunRefusal{RunRefusal::By::Planner, plan_.refusal, false};
        return false;
    }
    if (request_.deletionBound) {
        const GuardSide a{request_.locationA, scanA_.inventory.fileCount()};
        const GuardSide b{request_.locationB, scanB_.inventory.fileCount()};
        if (auto refused = massDeletionRefusal(plan_.actions, a, b, *request_.deletionBound)) {
            refusal_ = RunRefusal{RunRefusal::By::Guard, *refused, false};
            return false;
        }
    }
    return true;
}

ExecutionCounts RunSession::execute(ExecutorHost& host, StopFlags& flags) {
    open(nullptr);
    refusal_.reset();
    if (!lock_ || !lock_->held()) {
        lock_ = std::make_unique<RunLock>();
        std::vector<RunLock::Target> targets;
        for (const std::string& text : plan_.written)
            if (Location* location = locations_.withText(text))
                targets.push_back(RunLock::Target{location->lockKey(), text});
        const RunLockResult locked = lock_->acquire(std::move(targets));
        if (!locked.acquired) {
            lock_.reset();
            refusal_ = RunRefusal{RunRefusal::By::Lock, runLockRefusal(locked), locked.problem.empty()};
            ExecutionCounts none; // nothing ran: every item counts as not reached
            for (const PlanItem& item : plan_.actions)
                none.notReached += item.isAction();
            return none;
        }
    }
    locations_.forgetFolders(); // folders opened while planning may have changed since
    return PerformActions(plan_.actions, locations_, plan_.written, flags, host, plan_.folderTimes);
}

bool RunSession::complete() const {
    const bool sawB = request_.kind == PlanKind::DuplicatesWithinA || scanB_.coverage.complete();
    return scanA_.coverage.complete() && sawB && plan_.leftAlone == 0;
}

void RunSession::keepTicked(const std::vector<char>& ticks) {
    ActionList kept;
    kept.reserve(plan_.actions.size());
    for (std::size_t i = 0; i < plan_.actions.size(); ++i)
        if (i < ticks.size() && ticks[i])
            kept.push_back(std::move(plan_.actions[i]));
    plan_.actions = std::move(kept);
    generation_ = nextGeneration();
}

void RunSession::setPlan(PlanResult plan) {
    plan_ = std::move(plan);
    generation_ = nextGeneration();
}

bool RunSession::swapDuplicatePair(std::size_t original) {
    ActionList& items = plan_.actions;
    if (original + 1 >= items.size() || items[original].kind != ActionKind::Original ||
        items[original + 1].kind != ActionKind::DeleteFile ||
        items[original + 1].facts.original != items[original].facts.line)
        return false;
    paritas::swapDuplicatePair(items[original], items[original + 1]);
    return true;
}

} // namespace paritas

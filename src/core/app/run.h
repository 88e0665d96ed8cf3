#pragma once
// One synchronisation, the same for the window, the command line and jobs:
//
//   lock ──> scan A and B ──> plan ──> deletion guard ──> (review) ──> execute ──> report
//    │        B read while A is          runs nobody         the window     every item checked
//    │        (one side for duplicates   watches             edits the      against its facts
//    │        within A)                                       plan here
//    └─ the locations the run writes (writtenLocations of its kind), taken before anything is read, so
//       that what is planned is what no other run changes meanwhile
//
// Before the lock the run composes its filter rules (run_filters.h): one rule set for both scans, so
// that nothing left out is read or changed on either side. A rule that cannot be read stops it there.
//
// A run is a value (RunSession) that holds its request, its locations, its lock, both scans and the
// plan. The command line and jobs go straight through; the window stops after planning to show the
// review, releases the lock while the user reviews (a review may stay open for hours, and the night's
// scheduled backup must not be refused for it), and takes it again when the user confirms. The plan's
// facts are checked by every action anyway, so nothing that changed meanwhile is harmed.
//
// Everything the run tells or asks goes through its RunHost: log lines, progress and keep-alive of
// the scans, the planner and the executor (each of its own host kind), waiting for a lock.

#include "core/app/run_filters.h"
#include "core/app/run_lock.h"
#include "core/execution/executor.h"
#include "core/inventory/scan.h"
#include "core/planning/deletion_guard.h"
#include "core/planning/planners.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace paritas {

struct RunRequest {
    PlanKind kind = PlanKind::Backup;
    std::string locationA; // absolute, ending with the separator
    std::string locationB; // empty for duplicates within A
    bool includeSubfolders = true;
    Settings settings; // taken once, when the run is asked for
    // The mass-deletion guard, for runs nobody watches (the command line, jobs, the schedule).
    std::optional<DeletionBound> deletionBound;
    // Threads that read folders in each scan (0: the default).
    int scanThreads = 0;
    // A run that only plans changes nothing and takes no lock.
    bool planOnly = false;
    // What the run leaves out besides settings.leaveOut and the ignore files (run_filters.h).
    RunFilters filters;
};

class RunHost {
public:
    virtual ~RunHost() = default;
    virtual ScanHost& scanHost(Side side) = 0;
    virtual PlannerHost& plannerHost() = 0;
    // A side's scan starts / has ended (the window: its chooser, its blinking label, its status panel).
    virtual void scanStarting(Side /*side*/) {}
    virtual void scanEnded(Side /*side*/, const ScanResult& /*result*/) {}
    // Called about every 20 ms while the caller waits for B's scan, which runs in the background.
    virtual void whileWaiting() {}
    // Another run holds a lock this run needs: called about five times a second while it does; true
    // waits on, false refuses the run. The default refuses at once.
    virtual bool keepWaitingForLock(const RunLockResult& /*taken*/) { return false; }
    // The location for a location text (the local file system, a remote reached through rclone, or
    // what a test puts in its place); nullptr for a text that names no usable location (the planners
    // refuse such a run, and for a remote the run says why: openProblem).
    virtual std::unique_ptr<Location> openLocation(const std::string& text);
    // Why the last openLocation() of a remote text gave nullptr ("install rclone (apt install
    // rclone)"), taken once; empty otherwise.
    std::string takeOpenProblem() { return std::exchange(openProblem_, std::string()); }

protected:
    std::string openProblem_;
};

// Why a run did not go on.
struct RunRefusal {
    // Filters: a rule or an ignore file could not be read (run_filters.h); nothing was locked or read.
    enum class By { Lock, Planner, Guard, Filters };
    By by = By::Planner;
    std::string reason;        // for the message: "another run (process 12) is working on /b/", ...
    bool byAnotherRun = false; // the lock is held by another run (waiting would help)
};

class RunSession {
public:
    RunSession() = default;
    explicit RunSession(RunRequest request);
    RunSession(RunSession&&) noexcept;
    RunSession& operator=(RunSession&&) noexcept;
    ~RunSession();

    // Rules, lock, scans, plan and guard. True when a plan stands (it may be empty); false with
    // refusal().
    bool prepare(RunHost& host);
    // Composes the run's filter rules (run_filters.h), once for the run's life; false with refusal()
    // (By::Filters) when a rule or an ignore file cannot be read. lock() begins with it; a scan that
    // comes first reads them too, and scans without them when they cannot be read (it says so in the
    // log; nothing is planned on such a scan).
    bool readFilters();
    // The steps of prepare() one by one (the window's commands that only scan use scan()). Each opens
    // the locations first (open), once for the run's life.
    void open(RunHost& host);
    bool lock(RunHost& host);
    // What the run reads: both sides (B in the background), or A alone for duplicates within A.
    void scan(RunHost& host);
    void scanBoth(RunHost& host);
    void scanSide(Side side, RunHost& host);
    bool plan(RunHost& host);
    // Carries out the plan (taking the lock again when it was released). Refused by the lock: nothing
    // runs, refusal() says why and every item counts as not reached.
    ExecutionCounts execute(ExecutorHost& host, StopFlags& flags);
    void releaseLock();

    const RunRequest& request() const { return request_; }
    const std::optional<RunRefusal>& refusal() const { return refusal_; }
    const ScanResult& scanned(Side side) const { return side == Side::A ? scanA_ : scanB_; }
    // What the filter rules left out of a side's last scan: files, and folders never walked (the
    // review's summary and the logs show these numbers).
    const ScanLeftOut& leftOut(Side side) const { return scanned(side).leftOut; }
    // The run's rule set (empty before readFilters(), or when it could not be read).
    const FilterRules& filterRules() const;
    const PlanResult& planned() const { return plan_; }
    const ActionList& actions() const { return plan_.actions; }
    // Changes whenever the plan is replaced or edited: a review filled from an older plan can tell.
    uint64_t generation() const { return generation_; }
    // The scans saw everything and the plan left nothing alone because of what they could not see.
    bool complete() const;

    // ---- the review's edits ----
    // Keeps the items whose tick is set (position for position); every item keeps its number, so an
    // item whose item it depends on was left out does not run.
    void keepTicked(const std::vector<char>& ticks);
    // The kept file of the duplicate pair at `original` (an original item followed by its delete)
    // and the duplicate trade places.
    bool swapDuplicatePair(std::size_t original);

    // A plan made elsewhere (by hand, in a test) becomes the run's plan.
    void setPlan(PlanResult plan);

private:
    void open(RunHost* host);
    Location* locationOf(Side side) const;
    // A side's scan options: the run's rules (read first when they were not), except for B when the
    // backup deletes what they leave out of it.
    ScanOptions scanOptions(Side side, RunHost& host);
    bool deletesLeftOutOfB() const;
    void recoverInterruptedWork(RunHost& host);
    bool refusedByLocations();

    RunRequest request_;
    Locations locations_;
    bool opened_ = false;
    std::string openProblem_; // a remote location that could not be opened, in words
    std::unique_ptr<RunLock> lock_;
    ScanResult scanA_, scanB_;
    PlanResult plan_;
    std::optional<RunRefusal> refusal_;
    uint64_t generation_ = 0;
    bool filtersRead_ = false;
    std::shared_ptr<const FilterRules> rules_;
    std::optional<FilterError> filterError_;
};

// The location of a location text: a local folder for an absolute path that action lines can carry, a
// remote for a remote location text (remote_path.h: "nas:backup/", ":sftp,host=...:/srv/b/"), whose
// first opening starts the rclone daemon of the run (remote_session.h); nullptr otherwise, with the
// reason in `problem` for a remote that cannot be used.
std::unique_ptr<Location> openLocation(const std::string& text, std::string* problem = nullptr);

// Why locations that keep times coarsely or not at all (Location::timePrecisionNanos) cannot take part
// in a run that compares times (the time criterion, folder synch's newer-file rule); empty when they
// can. Such a run is refused, never planned on guessed times.
std::string timeComparisonProblem(const RunRequest& request, const Locations& locations);

} // namespace paritas

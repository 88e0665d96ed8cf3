#pragma once
// One synchronisation on real folders, as the command line runs it: scan A, scan B, plan in a mode,
// run the plan with its facts. Everything the run logs is kept in one list.

#include "core/execution/executor.h"
#include "core/inventory/scan.h"
#include "core/planning/planners.h"
#include "core/platform/local_location.h"

#include <string>
#include <vector>

namespace paritas::test {

class SyncRecordingHost : public ScanHost, public PlannerHost, public ExecutorHost {
public:
    std::vector<std::string> lines;
    Settings settingsValue;
    int workers = 1;
    void log(std::string_view line) override { lines.emplace_back(line); }
    Settings settings() override { return settingsValue; }
    int copyWorkers() override { return workers; }
};

struct SyncRun {
    ScanResult a, b;
    PlanResult plan;
    ExecutionCounts counts;
    std::vector<std::string> log;
};

// Settings of an unattended run: no prompts; size and name are the same-file criteria.
inline Settings quietSettings() {
    Settings s;
    s.CheckBoxConfirm = false;
    return s;
}

// Runs a planner's plan on local locations, as a run does.
inline ExecutionCounts runPlanned(const PlanResult& plan, StopFlags& flags, ExecutorHost& host) {
    Locations locations = localLocations(plan.locations);
    return PerformActions(plan.actions, locations, plan.written, flags, host, plan.folderTimes);
}

// mode: 0 backup, 1 folder synch, 2 copy missing, 3 duplicates in B. With `execute` false only plans.
inline SyncRun syncOnce(int mode, const std::string& locationA, const std::string& locationB,
                        const Settings& settings = quietSettings(), bool execute = true,
                        int copyWorkers = 1) {
    SyncRecordingHost host;
    host.settingsValue = settings;
    host.workers = copyWorkers;
    SyncRun run;
    ScanOptions scan;
    if (mode == 0 && settings.compareAttributes)
        scan.attributes = kAllAttributes;
    run.a = scanLocation(locationA, scan, Side::A, host);
    run.b = scanLocation(locationB, scan, Side::B, host);
    PlanInput input{locationA,        locationB,        &run.a.folders, &run.b.folders,
                    &run.a.inventory, &run.b.inventory, settings,       true};
    input.coverageA = &run.a.coverage;
    input.coverageB = &run.b.coverage;
    input.folderMetadataA = &run.a.folderMetadata;
    input.folderMetadataB = &run.b.folderMetadata;
    run.plan = planForMode(mode, input, host);
    if (execute && !run.plan.refused) {
        StopFlags flags;
        run.counts = runPlanned(run.plan, flags, host);
    }
    run.log = host.lines;
    return run;
}

inline bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines)
        if (l == line)
            return true;
    return false;
}

inline bool hasLineStarting(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& l : lines)
        if (l.rfind(start, 0) == 0)
            return true;
    return false;
}

} // namespace paritas::test

// Planner time alone, on synthetic in-memory inventories (deterministic), with a host that answers
// folder and file questions from hash sets: the figures are the planners', not the disk's.
//
//   planner_bench [rows [scenario]]   default 1000000 rows per side; the scaling run uses rows / 10;
//                                     a scenario number (0-5) runs that one alone
//
// Scenarios: backup of identical trees; backup after renaming 10% of the folders of A; folder synch,
// copy missing and duplicates in B on the renamed trees (duplicates in B on identical trees, where
// every file of B is a duplicate). Each time is the median of three runs (seven at a tenth of
// the rows) on fresh inventories.

#include "core/planning/planners.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using namespace paritas;

namespace {

constexpr int kFilesPerFolder = 20;
constexpr int kLeavesPerTop = 100;

struct Side {
    std::string location;
    FolderList folders;
    Inventory inventory;
};

// Leaf folder k lies in top folder k / kLeavesPerTop; every tenth leaf of a renamed tree is spelled
// "r..." instead of "e..." (sorting after its siblings, as a real renamed folder may).
std::string leafName(std::size_t leaf, bool renamed) {
    char name[32];
    std::snprintf(name, sizeof name, "%c%03zu", renamed && leaf % 10 == 3 ? 'r' : 'e', leaf % kLeavesPerTop);
    return name;
}

void buildSide(Side& side, const std::string& location, std::size_t rows, bool renamed) {
    side.location = location;
    const std::size_t leaves = (rows + kFilesPerFolder - 1) / kFilesPerFolder;
    const std::size_t tops = (leaves + kLeavesPerTop - 1) / kLeavesPerTop;
    side.folders = {location};
    for (std::size_t t = 0; t < tops; ++t) {
        char top[32];
        std::snprintf(top, sizeof top, "t%04zu/", t);
        side.folders.push_back(location + top);
    }
    // Breadth-first: every top folder's leaves by name.
    std::vector<std::size_t> leafOfEntry;
    for (std::size_t t = 0; t < tops; ++t) {
        std::vector<std::pair<std::string, std::size_t>> children;
        for (std::size_t leaf = t * kLeavesPerTop; leaf < std::min(leaves, (t + 1) * kLeavesPerTop); ++leaf)
            children.emplace_back(leafName(leaf, renamed), leaf);
        std::sort(children.begin(), children.end());
        for (const auto& [name, leaf] : children) {
            side.folders.push_back(side.folders[1 + t] + name + "/");
            leafOfEntry.push_back(leaf);
        }
    }
    for (std::size_t e = 0; e < leafOfEntry.size(); ++e) {
        const std::size_t leaf = leafOfEntry[e];
        const std::string& folder = side.folders[1 + tops + e];
        for (std::size_t f = 0; f < kFilesPerFolder; ++f) {
            const std::size_t k = leaf * kFilesPerFolder + f;
            if (k >= rows)
                break;
            char name[32];
            std::snprintf(name, sizeof name, "f%07zu.dat", k);
            const int64_t size = int64_t((k * 2654435761u) % 1000003);
            side.inventory.addFile(folder, name, size, int32_t(0x5a210000 + (k % 1000)));
        }
    }
}

// Folder and file questions answered from hash sets of the two trees.
class MemoryHost : public PlannerHost {
public:
    MemoryHost(const Side& a, const Side& b) {
        for (const Side* side : {&a, &b}) {
            for (const std::string& folder : side->folders)
                folders_.insert(folder.substr(0, folder.size() - 1));
        }
        for (std::size_t r = 0; r < b.inventory.fileCount(); ++r)
            files_.emplace(b.inventory.fullPath(r), b.inventory.stamp(r));
    }
    void log(std::string_view line) override {
        if (std::getenv("PLANNER_BENCH_PHASES")) {
            const auto now = std::chrono::steady_clock::now();
            std::fprintf(stderr, "  %8.4f s  %.*s\n", std::chrono::duration<double>(now - phase_).count(),
                         int(line.size()), line.data());
            phase_ = now;
        }
    }
    std::chrono::steady_clock::time_point phase_ = std::chrono::steady_clock::now();
    bool folderExists(const std::string& path) override { return folders_.count(path) > 0; }
    bool fileExists(const std::string& path) override { return files_.count(path) > 0; }
    std::optional<FileFacts> fileFacts(const std::string& path) override {
        const auto it = files_.find(path);
        return it == files_.end() ? std::nullopt : std::optional<FileFacts>(it->second);
    }
    bool sameFile(const std::string& x, const std::string& y) override { return x == y && fileExists(x); }
    // Each folder text is its own identity; ancestors by text, from the nearest existing folder.
    FolderAncestry ancestry(const std::string& path) override {
        FolderAncestry result;
        std::string at = path;
        while (at.size() > 1 && at.back() == '/')
            at.pop_back();
        for (bool first = true; !at.empty(); first = false) {
            if (at == "/" || folderExists(at)) {
                if (result.chain.empty())
                    result.exists = first;
                result.chain.push_back(ObjectId{1, std::hash<std::string>{}(at)});
            }
            if (at == "/")
                break;
            const std::size_t slash = at.rfind('/');
            at = slash == 0 ? std::string("/") : at.substr(0, slash);
        }
        return result;
    }

private:
    std::unordered_set<std::string> folders_;
    std::unordered_map<std::string_view, FileFacts> files_;
};

using Planner = std::function<PlanResult(PlanInput&, PlannerHost&)>;

// The floor any planner stands on: one pass over both inventories comparing each row's relative path,
// name and size with the B row of the same index, and one folder question per folder of A.
PlanResult linearPass(PlanInput& input, PlannerHost& host) {
    PlanResult result;
    std::size_t same = 0;
    for (const std::string& folder : *input.foldersA)
        same += host.folderExists(input.locationB + folder.substr(input.locationA.size())) ? 1 : 0;
    const Inventory& a = *input.inventoryA;
    const Inventory& b = *input.inventoryB;
    std::string target;
    for (std::size_t r = 0; r < a.fileCount() && r < b.fileCount(); ++r) {
        target.assign(input.locationB);
        target += a.fullPath(r).substr(input.locationA.size());
        same += (b.fullPath(r) == target && a.name(r) == b.name(r) && a.size(r) == b.size(r)) ? 1 : 0;
        host.keepAlive();
    }
    result.countText = std::to_string(same);
    return result;
}

// The planners run on the calling thread: its CPU time is their cost, whatever else the machine runs.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Figure {
    double seconds;
    std::size_t lines;
};

Figure timePlanner(const Planner& planner, std::size_t rows, bool renamedA, int runs) {
    std::vector<double> times;
    std::size_t lines = 0;
    for (int run = 0; run < runs; ++run) {
        auto a = std::make_unique<Side>();
        auto b = std::make_unique<Side>();
        buildSide(*a, "/bench/a/", rows, renamedA);
        buildSide(*b, "/bench/b/", rows, false);
        MemoryHost host(*a, *b);
        PlanInput input{a->location,   b->location,   &a->folders, &b->folders,
                        &a->inventory, &b->inventory, Settings{},  true};
        host.phase_ = std::chrono::steady_clock::now();
        const double start = threadSeconds();
        const PlanResult plan = planner(input, host);
        times.push_back(threadSeconds() - start);
        lines = plan.actions.size();
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], lines};
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    struct Scenario {
        const char* name;
        Planner planner;
        bool renamed;
        double goal;
    };
    const std::vector<Scenario> scenarios = {
        {"linear pass (reference floor)", linearPass, false, 1.0},
        {"backup, identical trees", AMasterB, false, 1.0},
        {"backup, 10% of folders renamed", AMasterB, true, 2.0},
        {"folder synch, 10% renamed", FolderSynch, true, 2.0},
        {"copy missing, 10% renamed", CopyMissing, true, 2.0},
        {"duplicates in B, identical", Duplicatedel, false, 2.0},
    };
    std::printf("%-32s %8s %9s %10s %7s %9s %8s %s\n", "planner", "rows", "seconds", "rows/10 s", "ratio",
                "vs floor", "lines", "goal (time; 10x rows <= 12x time)");
    bool allMet = true;
    double floorRatio = 0;
    const int only = argc > 2 ? std::atoi(argv[2]) : -1; // one scenario, for a profiler
    for (std::size_t k = 0; k < scenarios.size(); ++k) {
        const Scenario& s = scenarios[k];
        if (only >= 0 && std::size_t(only) != k)
            continue;
        const Figure full = timePlanner(s.planner, rows, s.renamed, 3);
        const Figure tenth = timePlanner(s.planner, rows / 10, s.renamed, 7);
        const double ratio = full.seconds / std::max(tenth.seconds, 1e-9);
        if (k == 0)
            floorRatio = ratio;
        const bool timeMet = full.seconds <= s.goal;
        const bool ratioMet = ratio <= 12.0;
        allMet = allMet && timeMet && ratioMet;
        std::printf("%-32s %8zu %9.3f %10.4f %7.1f %9.2f %8zu %s\n", s.name, rows, full.seconds,
                    tenth.seconds, ratio, floorRatio > 0 ? ratio / floorRatio : 0.0, full.lines,
                    (std::string(timeMet ? "time met" : "time MISSED") +
                     (ratioMet ? ", ratio met" : ", ratio MISSED"))
                        .c_str());
    }
    std::printf(
        "the floor is one plain pass over both inventories; its own ratio shows what the machine's caches "
        "cost at 10x rows\n");
    std::printf("all goals: %s\n", allMet ? "met" : "NOT all met");
    return allMet ? 0 : 1;
}

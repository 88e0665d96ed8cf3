// Filter benchmark program, driven by filter_bench.sh.
//
//   filter_bench scan DIR [RULES_FILE] [THREADS]   scan DIR once, with the rules of RULES_FILE when given
//                                                   ("-" for none); prints seconds, files, folders and
//                                                   what was left out
//   filter_bench match ROWS RULES_FILE              ask the rules about ROWS synthetic names in 100 folders
//                                                   (the matcher alone, no file system); prints CPU ns per
//                                                   name

#include "core/inventory/filters.h"
#include "core/inventory/scan.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <time.h>

using namespace paritas;

namespace {

using Clock = std::chrono::steady_clock;

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

class QuietHost : public ScanHost {
public:
    void log(std::string_view) override {}
};

std::shared_ptr<const FilterRules> readRules(const char* path) {
    if (path == nullptr || std::strcmp(path, "-") == 0)
        return nullptr;
    auto rules = std::make_shared<FilterRules>();
    if (const auto error = rules->readIgnoreFile(path)) {
        std::fprintf(stderr, "%s\n", error->text().c_str());
        std::exit(2);
    }
    return rules;
}

int scan(std::string location, const char* rulesFile, int threads) {
    if (location.back() != '/')
        location += '/';
    ScanOptions options;
    options.threads = threads;
    options.filters = readRules(rulesFile);
    QuietHost host;
    const Clock::time_point start = Clock::now();
    const ScanResult result = scanLocation(location, options, Side::A, host);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("seconds=%.4f files=%zu folders=%zu left_out_files=%zu left_out_folders=%zu rules=%zu\n",
                seconds, result.inventory.fileCount(), result.folders.size(), result.leftOut.files,
                result.leftOut.folders, options.filters ? options.filters->size() : std::size_t(0));
    return result.inventory.fileCount() ? 0 : 1;
}

int match(long rows, const char* rulesFile) {
    const auto rules = readRules(rulesFile);
    if (!rules)
        return 2;
    FolderFilter filter(*rules);
    char name[64];
    std::size_t leftOut = 0;
    // Thread CPU time: on a busy machine the wall clock counts other people's work.
    const double start = threadSeconds();
    for (long i = 0; i < rows; ++i) {
        if (i % (rows / 100 + 1) == 0) {
            const std::string folder = "dir" + std::to_string(i % 20) + "/sub" + std::to_string(i % 25) + "/";
            filter.enter(folder);
        }
        const int length = std::snprintf(name, sizeof name, "file%ld.dat", i);
        leftOut += filter.leftOut(std::string_view(name, std::size_t(length)), false);
    }
    const double seconds = threadSeconds() - start;
    // The same names made without asking, to take off what making them costs.
    std::size_t bytes = 0;
    const double bare = threadSeconds();
    for (long i = 0; i < rows; ++i)
        bytes += std::size_t(std::snprintf(name, sizeof name, "file%ld.dat", i));
    const double making = threadSeconds() - bare;
    std::printf("names=%ld rules=%zu ns_per_name=%.1f left_out=%zu (%zu name bytes)\n", rows, rules->size(),
                (seconds - making) * 1e9 / double(rows), leftOut, bytes);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "scan" && argc > 2)
        return scan(argv[2], argc > 3 ? argv[3] : nullptr, argc > 4 ? std::atoi(argv[4]) : 0);
    if (command == "match" && argc > 3)
        return match(std::atol(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: filter_bench scan DIR [RULES_FILE|-] [THREADS] | match ROWS RULES_FILE\n");
    return 2;
}

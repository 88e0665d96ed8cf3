// Copies one file through the copy used by copy lines (temporary file, rename into place).
//
//   copy_large_bench SOURCE DESTINATION     prints "seconds X reports N"

#include "core/platform/file_copy.h"

#include <chrono>
#include <cstdio>

using namespace paritas;

namespace {

struct CountingObserver : CopyObserver {
    int reports = 0;
    void progress(uint64_t, uint64_t) override { ++reports; }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE DESTINATION\n", argv[0]);
        return 2;
    }
    CountingObserver observer;
    const auto start = std::chrono::steady_clock::now();
    const CopyResult result = copyFileWithProgress(argv[1], argv[2], observer);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!result.ok()) {
        std::fprintf(stderr, "copy failed (errno %d)\n", result.error);
        return 1;
    }
    std::printf("seconds %.3f reports %d\n", seconds, observer.reports);
    return 0;
}

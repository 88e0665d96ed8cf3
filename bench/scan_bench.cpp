// Scan benchmark program, driven by scan_bench.sh.
//
//   scan_bench make-tree DIR [FILES] [FOLDERS]   build the deterministic tree (skipped if DIR exists)
//   scan_bench scan DIR [plain|gui]              scan DIR once; prints seconds, files, bytes per file
//   scan_bench memory ROWS                       inventory of ROWS synthetic rows; prints bytes per file
//
// "gui" scans with a host that does what the window's keep-alive does on every call: a cheap clock
// check, and a (here empty) pump of window messages at most every 30 ms.

#include "core/inventory/scan.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace paritas;

namespace {

using Clock = std::chrono::steady_clock;

class PlainHost : public ScanHost {
public:
    void log(std::string_view line) override {
        ++lines;
        bytes += line.size();
    }
    std::size_t lines = 0, bytes = 0;
};

class GuiLikeHost : public PlainHost {
public:
    void keepAlive() override {
        const Clock::time_point now = Clock::now();
        if (now - lastPump_ >= std::chrono::milliseconds(30)) {
            lastPump_ = now;
            ++pumps;
        }
    }
    std::size_t pumps = 0;

private:
    Clock::time_point lastPump_ = Clock::now();
};

long residentKiB() {
    FILE* statm = std::fopen("/proc/self/statm", "r");
    long size = 0, resident = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::size_t pathBytes(const Inventory& inventory) {
    std::size_t total = 0;
    for (std::size_t row = 0; row < inventory.fileCount(); ++row)
        total += inventory.fullPath(row).size();
    return total;
}

// xorshift32: the same tree on every machine.
struct Random {
    uint32_t state = 2463534242u;
    uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

int makeTree(const std::string& dir, long files, long folders) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        std::printf("tree exists: %s\n", dir.c_str());
        return 0;
    }
    const std::string building = dir + ".building";
    std::string command = "rm -rf '" + building + "'";
    if (std::system(command.c_str()) != 0 || ::mkdir(building.c_str(), 0755) != 0) {
        std::perror(building.c_str());
        return 1;
    }
    // Three levels: 20 top folders, 25 below each, the rest spread as leaves below those.
    std::vector<std::string> all;
    const long top = 20, middle = 25;
    const long leaves = std::max(0L, folders - top - top * middle);
    for (long t = 0; t < top; ++t) {
        all.push_back(building + "/dir" + std::to_string(t));
        ::mkdir(all.back().c_str(), 0755);
    }
    for (long t = 0; t < top; ++t) {
        for (long m = 0; m < middle; ++m) {
            all.push_back(all[static_cast<std::size_t>(t)] + "/sub" + std::to_string(m));
            ::mkdir(all.back().c_str(), 0755);
        }
    }
    for (long l = 0; l < leaves; ++l) {
        const std::size_t parent = static_cast<std::size_t>(top + l % (top * middle));
        all.push_back(all[parent] + "/leaf" + std::to_string(l));
        ::mkdir(all.back().c_str(), 0755);
    }
    Random random;
    std::vector<char> content(8192);
    for (char& c : content)
        c = static_cast<char>(random.next() & 0xff);
    for (long f = 0; f < files; ++f) {
        const std::string& folder = all[random.next() % all.size()];
        const std::size_t size = 1024 + random.next() % (8192 - 1024 + 1);
        const std::string path = folder + "/file" + std::to_string(f) + ".dat";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, content.data(), size) != static_cast<ssize_t>(size)) {
            std::perror(path.c_str());
            return 1;
        }
        ::close(fd);
    }
    if (::rename(building.c_str(), dir.c_str()) != 0) {
        std::perror(dir.c_str());
        return 1;
    }
    std::printf("tree built: %s, %ld files in %zu folders\n", dir.c_str(), files, all.size() + 1);
    return 0;
}

int scan(std::string location, bool guiLike, int threads) {
    if (location.back() != '/')
        location += '/';
    PlainHost plain;
    GuiLikeHost gui;
    ScanHost& host = guiLike ? static_cast<ScanHost&>(gui) : plain;
    const long rssBefore = residentKiB();
    const Clock::time_point start = Clock::now();
    ScanOptions options;
    options.threads = threads;
    const ScanResult result = scanLocation(location, options, Side::A, host);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long rssAfter = residentKiB();
    const std::size_t files = result.inventory.fileCount();
    const std::size_t paths = pathBytes(result.inventory);
    const double perFile = files ? double(result.inventory.memoryBytes() - paths) / double(files) : 0.0;
    std::printf("seconds=%.4f files=%zu folders=%zu bytes_per_file_beyond_paths=%.1f rss_growth_kib=%ld\n",
                seconds, files, result.folders.size(), perFile, rssAfter - rssBefore);
    return files ? 0 : 1;
}

int memory(long rows) {
    const long rssBefore = residentKiB();
    Inventory inventory;
    char name[64];
    for (long i = 0; i < rows; ++i) {
        // Typical paths: /home/user/Documents/projectNNN/folderNN/ + fileNNNNNNN.dat (about 60 bytes)
        const std::string folder = "/home/user/Documents/project" + std::to_string(i / 1000) + "/folder" +
                                   std::to_string(i / 50 % 20) + "/";
        const int length = std::snprintf(name, sizeof name, "file%07ld.dat", i);
        inventory.addFile(folder, std::string_view(name, static_cast<std::size_t>(length)), 1024 + i % 7000,
                          0x50210000);
    }
    const long rssAfter = residentKiB();
    const std::size_t paths = pathBytes(inventory);
    std::printf("rows=%ld path_bytes_per_file=%.1f bytes_per_file_beyond_paths=%.1f "
                "rss_per_file_beyond_paths=%.1f\n",
                rows, double(paths) / double(rows), double(inventory.memoryBytes() - paths) / double(rows),
                (double(rssAfter - rssBefore) * 1024.0 - double(paths)) / double(rows));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make-tree" && argc > 2)
        return makeTree(argv[2], argc > 3 ? std::atol(argv[3]) : 200000,
                        argc > 4 ? std::atol(argv[4]) : 15000);
    if (command == "scan" && argc > 2)
        return scan(argv[2], argc > 3 && std::strcmp(argv[3], "gui") == 0, argc > 4 ? std::atoi(argv[4]) : 0);
    if (command == "memory" && argc > 2)
        return memory(std::atol(argv[2]));
    std::fprintf(
        stderr,
        "usage: scan_bench make-tree DIR [FILES] [FOLDERS] | scan DIR [plain|gui] [THREADS] | memory ROWS\n");
    return 2;
}

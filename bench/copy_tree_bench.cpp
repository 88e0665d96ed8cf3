// Copies a folder tree into an empty folder through the executor, as a backup into a fresh location
// would: one CreateDir line per folder (parents first), then one Copy line per file.
//
//   copy_tree_bench make-tree FOLDER        writes the deterministic benchmark tree
//   copy_tree_bench copy SOURCE DESTINATION copies; prints "lines N plan_s X execute_s Y"

#include "core/execution/executor.h"
#include "core/platform/local_location.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace paritas;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// 20 top folders x 25 x 29 = 14,500 leaves plus 520 inner folders; 200,000 files of 1-8 KiB.
int makeTree(const std::string& root) {
    std::vector<std::string> leaves;
    ::mkdir(root.c_str(), 0755);
    for (int a = 0; a < 20; ++a) {
        const std::string top = root + "/dir" + std::to_string(a);
        ::mkdir(top.c_str(), 0755);
        for (int b = 0; b < 25; ++b) {
            const std::string mid = top + "/sub" + std::to_string(b);
            ::mkdir(mid.c_str(), 0755);
            for (int c = 0; c < 29; ++c) {
                leaves.push_back(mid + "/leaf" + std::to_string(c));
                ::mkdir(leaves.back().c_str(), 0755);
            }
        }
    }
    uint64_t x = 0x243f6a8885a308d3ull;
    std::vector<char> buffer(8192);
    for (int i = 0; i < 200000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const std::size_t size = 1024 + x % 7169;
        for (std::size_t k = 0; k < size; k += 8)
            std::memcpy(buffer.data() + k, &(x += 0x9e3779b97f4a7c15ull), std::min<std::size_t>(8, size - k));
        const std::string path =
            leaves[static_cast<std::size_t>(i) % leaves.size()] + "/file" + std::to_string(i) + ".dat";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, buffer.data(), size) != static_cast<ssize_t>(size)) {
            std::perror(path.c_str());
            return 1;
        }
        ::close(fd);
    }
    return 0;
}

// Breadth-first: every folder's CreateDir line comes before anything is put into it.
ActionList planCopy(const std::string& source, const std::string& destination) {
    ActionList creates, copies;
    std::deque<std::string> pending{""};
    while (!pending.empty()) {
        const std::string relative = pending.front();
        pending.pop_front();
        DIR* dir = ::opendir((source + relative).c_str());
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            const std::string child = relative + "/" + entry->d_name;
            if (entry->d_type == DT_DIR) {
                creates.push_back(createFolderItem(destination + child));
                pending.push_back(child);
            } else {
                copies.push_back(copyItem(source + child, destination + child));
            }
        }
        ::closedir(dir);
    }
    creates.insert(creates.end(), copies.begin(), copies.end());
    return creates;
}

class QuietHost : public ExecutorHost {
public:
    int failures = 0;
    Settings settings() override { return {}; }
    void log(std::string_view line) override {
        if (line.rfind("Failed", 0) == 0 && ++failures <= 5)
            std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "make-tree") == 0)
        return makeTree(argv[2]);
    if (argc != 4 || std::strcmp(argv[1], "copy") != 0) {
        std::fprintf(stderr, "usage: %s make-tree FOLDER | copy SOURCE DESTINATION\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    ActionList actions = planCopy(argv[2], argv[3]);
    const double planSeconds = secondsSince(start);
    const std::size_t lines = actions.size();
    QuietHost host;
    StopFlags flags;
    const auto executeStart = std::chrono::steady_clock::now();
    Locations locations = localLocations({argv[2], argv[3]});
    const ExecutionCounts counts = PerformActions(std::move(actions), locations, {argv[3]}, flags, host);
    const double executeSeconds = secondsSince(executeStart);
    std::printf("lines %zu good %d bad %d plan_s %.3f execute_s %.3f\n", lines, counts.good, counts.bad,
                planSeconds, executeSeconds);
    return counts.bad == 0 ? 0 : 1;
}

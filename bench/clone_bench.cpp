// Copies every file of a folder into an empty folder the way copy lines of a backup into a fresh
// location do: copyFileBeneath, nothing expected at the destination, both folders as locations,
// the destination's capabilities probed once beforehand (as a run does).
//
//   clone_bench SOURCE_FOLDER DESTINATION_FOLDER
//       prints "files N bytes B probe_s X copy_s Y capabilities ..."

#include "core/platform/capabilities.h"
#include "core/platform/file_copy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace paritas;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_type == DT_REG)
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE_FOLDER DESTINATION_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string source = argv[1];
    const std::string destination = argv[2];
    const auto probing = std::chrono::steady_clock::now();
    const FileSystemCapabilities capabilities = probeCapabilities(destination);
    const double probeSeconds = secondsSince(probing);

    LocationResolver locations({source, destination});
    CopyOptions options;
    options.capabilities = &capabilities;
    CopyObserver observer;
    const DestinationPlan nothing{DestinationPlan::Kind::Nothing, {}};
    uint64_t bytes = 0;
    const std::vector<std::string> names = filesIn(source);
    const auto copying = std::chrono::steady_clock::now();
    for (const std::string& name : names) {
        const CopyResult result = copyFileBeneath(locations, source + "/" + name, nullptr,
                                                  destination + "/" + name, nothing, observer, options);
        if (!result.ok()) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), failureText(result.error).c_str());
            return 1;
        }
        struct stat st {};
        if (::stat((destination + "/" + name).c_str(), &st) == 0)
            bytes += uint64_t(st.st_size);
    }
    const double copySeconds = secondsSince(copying);
    std::printf("files %zu bytes %llu probe_s %.4f copy_s %.4f capabilities %s\n", names.size(),
                static_cast<unsigned long long>(bytes), probeSeconds, copySeconds,
                describeCapabilities(capabilities).c_str());
    return 0;
}

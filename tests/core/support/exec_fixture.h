#pragma once
// Real temporary folders and a recording executor host for the tests of the code that changes files.

#include "core/execution/executor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace paritas::testing {

// A fresh folder under the temporary folder, removed with everything in it at the end of the test.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/paritas-exec-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() { removeTree(path_); }

    const std::string& path() const { return path_; }
    std::string at(const std::string& relative) const { return path_ + "/" + relative; }

    static void removeTree(const std::string& path) {
        ::nftw(
            path.c_str(),
            [](const char* p, const struct stat*, int, struct FTW*) {
                ::remove(p);
                return 0;
            },
            16, FTW_DEPTH | FTW_PHYS);
    }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out)
            throw std::runtime_error("cannot write " + path);
    }
    ::chmod(path.c_str(), mode);
}

inline std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline std::optional<struct stat> statOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return st;
}

inline void setModified(const std::string& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// The names in a folder, sorted, without "." and "..".
inline std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Deterministic bytes that differ from position to position and between seeds.
inline std::string patternBytes(std::size_t size, uint32_t seed = 1) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

// Records everything the executor tells its host; prompts are answered by `answer`.
class RecordingHost : public ExecutorHost {
public:
    Settings settingsValue;
    std::function<PromptAnswer(std::string_view)> answer = [](std::string_view) { return PromptAnswer::Ok; };
    std::function<void()> onKeepAlive;
    std::vector<std::string> lines;
    std::vector<std::string> prompts;
    std::vector<std::string> messages;
    std::vector<std::pair<std::string, bool>> statuses;
    std::vector<int64_t> maximums;
    std::vector<int64_t> positions;
    int started = 0;
    int finished = 0;
    int settingsReads = 0;

    Settings settings() override {
        ++settingsReads;
        return settingsValue;
    }
    PromptAnswer confirm(std::string_view text) override {
        prompts.emplace_back(text);
        return answer(text);
    }
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    void setStatus(std::string_view text, bool red) override {
        statuses.emplace_back(std::string(text), red);
    }
    void runStarted() override { ++started; }
    void runFinished() override { ++finished; }
    void log(std::string_view line) override { lines.emplace_back(line); }
    void setProgressMaximum(int64_t maximum) override { maximums.push_back(maximum); }
    void setProgressPosition(int64_t position) override { positions.push_back(position); }
    void keepAlive() override {
        if (onKeepAlive)
            onKeepAlive();
    }

    // The log without the start and finish lines, whose time text varies.
    std::vector<std::string> actionLines() const {
        std::vector<std::string> result;
        for (const std::string& line : lines)
            if (line.rfind("Actions Started at ", 0) != 0 && line.rfind("Actions Finished at ", 0) != 0)
                result.push_back(line);
        return result;
    }
};

} // namespace paritas::testing

// Figures for remote locations driven through rclone: listing strategies, rclone's own sync, and
// server-side moves, all against `rclone serve sftp` on 127.0.0.1 (see remote_ops_bench.sh).
//
//   remote_ops_bench make-tree ROOT FILES FOLDERS   deterministic tree of small files (kept when present)
//   remote_ops_bench run ROOT                      ROOT/tree is served; prints the figures
#include "core/remote/child_process.h"
#include "core/remote/rclone_daemon.h"
#include "core/remote/remote_ops.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace paritas;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> baseEnvironment() {
    return {"PATH=/usr/local/bin:/usr/bin:/bin",
            std::string("HOME=") + (getenv("HOME") ? getenv("HOME") : "/root"), "TZ=UTC", "LC_ALL=C"};
}

// Runs a program to its end; returns its last output line and sets the wall time.
std::string run(std::vector<std::string> arguments, double& seconds) {
    ChildProcessOptions options;
    options.arguments = std::move(arguments);
    options.environment = baseEnvironment();
    options.environment.push_back("RCLONE_CONFIG=/nonexistent/rclone.conf");
    int error = 0;
    const auto start = Clock::now();
    auto child = ChildProcess::start(std::move(options), error);
    if (!child)
        return "could not start";
    child->waitForEnd(std::chrono::hours(2));
    seconds = secondsSince(start);
    const auto lines = child->recentOutput();
    if (child->exitCode() != 0)
        return "failed: " + (lines.empty() ? child->endDescription() : lines.back());
    return "ok";
}

long kilobytesOf(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    }
    return 0;
}

int makeTree(const std::string& root, int files, int folders) {
    const std::string marker = root + "/tree.complete";
    struct stat facts {};
    if (::stat(marker.c_str(), &facts) == 0)
        return 0;
    std::filesystem::create_directories(root + "/tree");
    uint64_t seed = 42;
    for (int f = 0; f < folders; ++f) {
        char name[64];
        std::snprintf(name, sizeof name, "%s/tree/d%04d", root.c_str(), f);
        std::filesystem::create_directories(name);
        for (int i = 0; i < files / folders; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            const std::size_t size = 1024 + (seed >> 33) % 3072;
            char file[96];
            std::snprintf(file, sizeof file, "%s/f%05d.dat", name, i);
            std::ofstream out(file, std::ios::binary);
            std::string bytes(size, static_cast<char>('a' + i % 26));
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
    }
    std::ofstream(marker) << "done\n";
    return 0;
}

std::string obscure(const std::string& password) {
    ChildProcessOptions options;
    options.arguments = {"rclone", "obscure", password};
    options.environment = baseEnvironment();
    int error = 0;
    auto child = ChildProcess::start(std::move(options), error);
    if (!child || !child->waitForEnd(30s) || child->exitCode() != 0)
        return {};
    const auto lines = child->recentOutput();
    return lines.empty() ? std::string() : lines.back();
}

struct Server {
    std::unique_ptr<ChildProcess> process;
    std::string fs; // of the served root
};

Server serveSftp(const std::string& folder, const std::string& keyFolder) {
    Server server;
    double ignored = 0;
    const std::string obscured = obscure("bench");
    run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", keyFolder + "/host_key"}, ignored);
    ChildProcessOptions options;
    options.arguments = {"rclone", "serve", "sftp",   folder,  "--addr", "127.0.0.1:0",
                         "--user", "bench", "--pass", "bench", "--key",  keyFolder + "/host_key"};
    options.environment = baseEnvironment();
    options.environment.push_back("RCLONE_CONFIG=/nonexistent/rclone.conf");
    int error = 0;
    server.process = ChildProcess::start(std::move(options), error);
    const auto line =
        server.process
            ? server.process->waitForLine(
                  [](std::string_view l) { return l.find("listening on 127.0.0.1:") != l.npos; }, 30s)
            : std::nullopt;
    if (!line)
        return {};
    const std::string port = line->substr(line->rfind(':') + 1);
    server.fs = ":sftp,host=127.0.0.1,port=" + port + ",user=bench,pass=" + obscured + ":";
    return server;
}

std::unique_ptr<RcloneDaemon> daemon() {
    RcloneDaemonOptions options;
    options.configPath = "/nonexistent/rclone.conf";
    RcResult failure;
    auto started = RcloneDaemon::start(options, failure);
    if (!started)
        std::fprintf(stderr, "rclone rcd: %s\n", describe(failure).c_str());
    return started;
}

// Lists every folder below `top` one folder per call, `width` calls under way; returns the files seen.
long listFolderByFolder(RcClient& client, const RemotePath& top, int width) {
    std::mutex mutex;
    std::deque<RemotePath> waiting{top};
    int busy = 0;
    long files = 0;
    std::condition_variable changed;
    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return !waiting.empty() || busy == 0; });
            if (waiting.empty())
                return;
            const RemotePath folder = waiting.front();
            waiting.pop_front();
            ++busy;
            lock.unlock();
            std::vector<RemoteEntry> entries;
            remote::listFolder(client, folder, entries, "list");
            lock.lock();
            for (const RemoteEntry& entry : entries) {
                if (entry.isFolder)
                    waiting.push_back(folder.child(entry.name));
                else
                    ++files;
            }
            --busy;
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < width; ++i)
        threads.emplace_back(worker);
    for (std::thread& thread : threads)
        thread.join();
    return files;
}

int runFigures(const std::string& root) {
    const std::string keys = root + "/keys";
    std::filesystem::create_directories(keys);
    std::filesystem::remove_all(root + "/copy");
    std::filesystem::remove_all(root + "/moved");
    Server server = serveSftp(root, keys);
    if (!server.process) {
        std::fprintf(stderr, "rclone serve sftp did not start\n");
        return 1;
    }
    const RemotePath tree{server.fs, "tree"};

    // One recursive list against folder by folder, each with a fresh daemon for its own peak memory.
    {
        auto rcd = daemon();
        if (!rcd)
            return 1;
        RcClient client(rcd->endpoint(), {}, rcd.get());
        nlohmann::json reply;
        const auto start = Clock::now();
        RcCallOptions options;
        options.group = "list";
        const RcResult listed = client.call(
            "operations/list",
            {{"fs", tree.fs}, {"remote", tree.path}, {"opt", {{"recurse", true}, {"noMimeType", true}}}},
            reply, options);
        const double seconds = secondsSince(start);
        std::size_t entries = listed ? reply["list"].size() : 0;
        std::printf("recursive operations/list      %7.2f s  %6zu entries  rcd peak RSS %6ld MiB\n", seconds,
                    entries, kilobytesOf(rcd->pid(), "VmHWM:") / 1024);
    }
    for (const int width : {1, 8, 16, 32}) {
        auto rcd = daemon();
        RcClientOptions options;
        options.maxCallsUnderWay = static_cast<std::size_t>(width);
        RcClient client(rcd->endpoint(), options, rcd.get());
        const auto start = Clock::now();
        const long files = listFolderByFolder(client, tree, width);
        std::printf("folder by folder, %2d under way %7.2f s  %6ld files    rcd peak RSS %6ld MiB\n", width,
                    secondsSince(start), files, kilobytesOf(rcd->pid(), "VmHWM:") / 1024);
    }

    // The check before every act: one stat's round trip.
    {
        auto rcd = daemon();
        RcClient client(rcd->endpoint(), {}, rcd.get());
        RemoteStat seen;
        remote::stat(client, tree.child("d0000/f00000.dat"), seen);
        std::vector<double> times;
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            remote::stat(client, tree.child("d0001/f00001.dat"), seen);
            times.push_back(secondsSince(start) * 1000);
        }
        std::sort(times.begin(), times.end());
        std::printf("stat round trip (check window)  median %.2f ms, 90th %.2f ms\n", times[100], times[180]);
    }

    // rclone's own command line over the same server.
    double copySeconds = 0;
    double syncSeconds = 0;
    const std::string source = root + "/tree";
    const std::string copied = server.fs + "copy";
    const std::string copyResult = run({"rclone", "copy", "--transfers", "4", source, copied}, copySeconds);
    std::printf("rclone copy --transfers 4 (first copy)  %7.2f s %s\n", copySeconds, copyResult.c_str());
    const std::string syncResult = run({"rclone", "sync", source, copied}, syncSeconds);
    std::printf("rclone sync (no-op)                     %7.2f s %s\n", syncSeconds, syncResult.c_str());

    // A folder moved whole against its files moved one by one (8 calls under way).
    {
        auto rcd = daemon();
        RcClientOptions options;
        options.maxCallsUnderWay = 8;
        RcClient client(rcd->endpoint(), options, rcd.get());
        const RemotePath copy{server.fs, "copy"};
        auto start = Clock::now();
        const RcResult moved =
            remote::moveFolder(client, copy.child("d0000"), {server.fs, "moved/d0000"}, "move-folder");
        const double folderSeconds = secondsSince(start);
        std::vector<RemoteEntry> entries;
        remote::listFolder(client, copy.child("d0001"), entries);
        start = Clock::now();
        std::atomic<std::size_t> next{0};
        std::atomic<int> failed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&] {
                for (std::size_t i; (i = next++) < entries.size();) {
                    const RemotePath from = copy.child("d0001").child(entries[i].name);
                    if (!remote::moveFile(client, from, RemoteExpectation::file(entries[i]),
                                          {server.fs, "moved/d0001/" + entries[i].name}, "move-files"))
                        ++failed;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        const double filesSeconds = secondsSince(start);
        RemoteStats folderStats;
        RemoteStats fileStats;
        remote::stats(client, "move-folder", folderStats);
        remote::stats(client, "move-files", fileStats);
        std::printf("sync/move of a folder of %zu files  %7.3f s (%s, %lld bytes counted)\n", entries.size(),
                    folderSeconds, moved ? "ok" : describe(moved).c_str(),
                    static_cast<long long>(folderStats.bytes));
        std::printf(
            "%zu single movefile calls, 8 under way, each checked by two stats  %7.3f s (%d failed, %lld "
            "bytes counted)\n",
            entries.size(), filesSeconds, failed.load(), static_cast<long long>(fileStats.bytes));
        std::printf("ratio files/folder  %.1fx\n", filesSeconds / std::max(folderSeconds, 1e-6));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "make-tree")
        return makeTree(args[1], std::atoi(args[2].c_str()), std::atoi(args[3].c_str()));
    if (args.size() == 2 && args[0] == "run")
        return runFigures(args[1]);
    std::fprintf(stderr, "usage: remote_ops_bench make-tree ROOT FILES FOLDERS | run ROOT\n");
    return 2;
}

#include "support/mounted_fs.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <linux/loop.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace paritas::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kMountWait = 20s;
constexpr auto kExitWait = 10s;
constexpr auto kPoll = 20ms;
constexpr const char* kFolderPrefix = "paritas-fs-";

std::string temporaryBase() {
    const char* base = std::getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

// A program on PATH or in the system folders (mkfs and sshd live in sbin, which PATH may lack).
std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    return {};
}

std::string lastLines(const std::string& text, std::size_t lines = 4) {
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == '\n')
        --end;
    std::size_t start = end;
    for (std::size_t n = 0; start > 0 && n < lines; --start)
        if (text[start - 1] == '\n')
            ++n;
    std::string tail = text.substr(start, end - start);
    for (char& c : tail)
        if (c == '\n')
            c = ' ';
    return tail.empty() ? "no output" : tail;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The argument vector of a program, ready before fork (nothing may be allocated after it).
struct Argv {
    explicit Argv(const std::vector<std::string>& args) : text(args) {
        for (std::string& arg : text)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> text;
    std::vector<char*> pointers;
};

struct Ran {
    int status = -1;
    std::string output;
    bool ok() const { return status == 0; }
};

// Runs a program to its end; its output (stdout and stderr) is collected.
Ran run(const std::vector<std::string>& args) {
    Ran ran;
    const Argv argv(args);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return ran;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::execv(argv.pointers[0], argv.pointers.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        ran.output.append(buffer, std::size_t(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ran.status = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

// Starts a program that stays in the foreground (a daemon), its output into `log`. It gets SIGTERM
// when the thread that started it ends, and is kept out of the terminal's signals.
pid_t start(const std::vector<std::string>& args, const std::string& log) {
    const Argv argv(args);
    const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(logFd, 1);
        ::dup2(logFd, 2);
        ::execv(argv.pointers[0], argv.pointers.data());
        ::_exit(127);
    }
    if (logFd >= 0)
        ::close(logFd);
    return pid;
}

// Waits up to `limit` for the child `pid` to end; true when it has ended (and is reaped).
bool waitForExit(pid_t pid, Clock::duration limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        if (Clock::now() >= until)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
}

// Ends a child: SIGTERM, then SIGKILL when it does not go.
void stopChild(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    if (!waitForExit(pid, kExitWait)) {
        ::kill(pid, SIGKILL);
        waitForExit(pid, kExitWait);
    }
    pid = -1;
}

struct MountEntry {
    std::string point;
    std::string type;
};

// "\040" and the like in mountinfo stand for the byte of that octal value.
std::string unescaped(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            text += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::vector<MountEntry> currentMounts() {
    std::vector<MountEntry> mounts;
    std::ifstream info("/proc/self/mountinfo");
    for (std::string line; std::getline(info, line);) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        for (std::string part; fields >> part;)
            parts.push_back(part);
        std::size_t dash = 0;
        while (dash < parts.size() && parts[dash] != "-")
            ++dash;
        if (parts.size() < 5 || dash + 1 >= parts.size())
            continue;
        mounts.push_back({unescaped(parts[4]), parts[dash + 1]});
    }
    return mounts;
}

std::string mountTypeAt(const std::string& point) {
    std::string type;
    for (const MountEntry& entry : currentMounts())
        if (entry.point == point)
            type = entry.type; // the last one is on top
    return type;
}

std::vector<std::string> mountsBelow(const std::string& folder) {
    std::vector<std::string> below;
    for (const MountEntry& entry : currentMounts())
        if (entry.point.rfind(folder + "/", 0) == 0)
            below.push_back(entry.point);
    return below;
}

void unmountPoint(const std::string& point) {
    if (::umount2(point.c_str(), 0) != 0)
        ::umount2(point.c_str(), MNT_DETACH);
}

bool kernelKnows(const std::string& type) {
    std::ifstream list("/proc/filesystems");
    for (std::string line; std::getline(list, line);)
        if (line.size() >= type.size() && line.compare(line.size() - type.size(), type.size(), type) == 0 &&
            (line.size() == type.size() || line[line.size() - type.size() - 1] == '\t'))
            return true;
    return false;
}

// The loop devices whose backing file is `image` (a deleted image shows " (deleted)" after it).
std::vector<std::string> loopDevicesOf(const std::string& image) {
    std::vector<std::string> devices;
    DIR* block = ::opendir("/sys/block");
    if (!block)
        return devices;
    while (const dirent* entry = ::readdir(block)) {
        const std::string name = entry->d_name;
        if (name.rfind("loop", 0) != 0)
            continue;
        std::string backing = readWhole("/sys/block/" + name + "/loop/backing_file");
        while (!backing.empty() && backing.back() == '\n')
            backing.pop_back();
        if (backing == image || backing == image + " (deleted)")
            devices.push_back("/dev/" + name);
    }
    ::closedir(block);
    return devices;
}

// Attaches `image` to a free loop device that detaches itself at its last close. Returns the open
// device, which must stay open until someone else has opened it; -1 with `why`.
int attachLoop(const std::string& image, std::string& device, std::string& why) {
    const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (control < 0) {
        why = std::string("/dev/loop-control: ") + std::strerror(errno);
        return -1;
    }
    const int file = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
    for (int attempt = 0; attempt < 16 && file >= 0; ++attempt) {
        const int number = ::ioctl(control, LOOP_CTL_GET_FREE);
        if (number < 0)
            break;
        device = "/dev/loop" + std::to_string(number);
        // Without udev (containers) a new device may have no node yet.
        ::mknod(device.c_str(), S_IFBLK | 0660, makedev(7, unsigned(number)));
        const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            break;
        loop_config config{};
        config.fd = static_cast<uint32_t>(file);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        std::strncpy(reinterpret_cast<char*>(config.info.lo_file_name), image.c_str(), LO_NAME_SIZE - 1);
        if (::ioctl(fd, LOOP_CONFIGURE, &config) == 0) {
            ::close(file);
            ::close(control);
            return fd;
        }
        const int error = errno;
        ::close(fd);
        if (error != EBUSY)
            break; // EBUSY: another process took the device first
    }
    why = std::string("no loop device for the image: ") + std::strerror(errno);
    if (file >= 0)
        ::close(file);
    ::close(control);
    return -1;
}

bool makeImage(const std::string& path, off_t size) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool sized = ::ftruncate(fd, size) == 0;
    ::close(fd);
    return sized;
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return connected;
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

bool processAlive(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    const std::string stat = readWhole("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// The folders of test processes that ended without unmounting (killed, crashed): their mounts go
// (lazily), their daemons are ended (they were started with the folder's path on their command
// line), and the folders are removed. Once per process, before its first mount.
void clearFoldersOfEndedProcesses() {
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string base = temporaryBase();
        DIR* dir = ::opendir(base.c_str());
        if (!dir)
            return;
        std::vector<std::string> ended;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind(kFolderPrefix, 0) != 0)
                continue;
            const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + std::strlen(kFolderPrefix)));
            if (owner > 0 && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
                ended.push_back(base + "/" + name);
        }
        ::closedir(dir);
        for (const std::string& folder : ended) {
            std::vector<std::string> points = mountsBelow(folder);
            for (auto it = points.rbegin(); it != points.rend(); ++it)
                ::umount2(it->c_str(), MNT_DETACH);
            std::istringstream pids(readWhole(folder + "/daemons"));
            for (pid_t pid; pids >> pid;)
                if (readWhole("/proc/" + std::to_string(pid) + "/cmdline").find(folder) != std::string::npos)
                    ::kill(pid, SIGKILL);
            removeFolderTree(folder);
        }
    });
}

std::string userName() {
    const passwd* user = ::getpwuid(::geteuid());
    return user ? user->pw_name : "root";
}

} // namespace

const std::vector<FileSystemKind>& allFileSystemKinds() {
    static const std::vector<FileSystemKind> kinds = {
        FileSystemKind::Ext4,      FileSystemKind::Xfs,    FileSystemKind::Btrfs, FileSystemKind::Tmpfs,
        FileSystemKind::ExfatFuse, FileSystemKind::Ntfs3g, FileSystemKind::Sshfs};
    return kinds;
}

std::string nameOf(FileSystemKind kind) {
    switch (kind) {
    case FileSystemKind::Ext4:
        return "ext4";
    case FileSystemKind::Xfs:
        return "xfs";
    case FileSystemKind::Btrfs:
        return "btrfs";
    case FileSystemKind::Tmpfs:
        return "tmpfs";
    case FileSystemKind::ExfatFuse:
        return "exfat-fuse";
    case FileSystemKind::Ntfs3g:
        return "ntfs-3g";
    case FileSystemKind::Sshfs:
        return "sshfs";
    }
    return "?";
}

void PrintTo(FileSystemKind kind, std::ostream* out) {
    *out << nameOf(kind);
}

void removeFolderTree(const std::string& path) {
    ::nftw(
        path.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) {
            ::remove(p);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

MountedFileSystem::MountedFileSystem(FileSystemKind kind) : kind_(kind) {
    if (::geteuid() != 0) {
        skip("mounting needs root; this runs as uid " + std::to_string(::geteuid()));
        return;
    }
    clearFoldersOfEndedProcesses();
    std::string pattern = temporaryBase() + "/" + kFolderPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        skip("no temporary folder: " + std::string(std::strerror(errno)));
        return;
    }
    workDir_ = pattern;
    mountPoint_ = workDir_ + "/mnt";
    image_ = workDir_ + "/fs.img";
    ::mkdir(mountPoint_.c_str(), 0755);
    mounted_ = mountOnce();
    if (!mounted_) {
        unmountOnly();
        stopChild(sshd_);
    }
}

MountedFileSystem::~MountedFileSystem() {
    unmount();
}

bool MountedFileSystem::skip(std::string reason) {
    skipReason_ = nameOf(kind_) + ": " + std::move(reason);
    return false;
}

bool MountedFileSystem::mountOnce() {
    switch (kind_) {
    case FileSystemKind::Ext4:
        return mountImage("ext4");
    case FileSystemKind::Xfs:
        return mountImage("xfs");
    case FileSystemKind::Btrfs:
        return mountImage("btrfs");
    case FileSystemKind::Tmpfs:
        return mountTmpfs();
    case FileSystemKind::ExfatFuse:
        return mountExfat();
    case FileSystemKind::Ntfs3g:
        return mountNtfs();
    case FileSystemKind::Sshfs:
        return mountSshfs();
    }
    return false;
}

bool MountedFileSystem::mountImage(const std::string& type) {
    if (!kernelKnows(type))
        return skip("the kernel has no " + type + " (see /proc/filesystems)");
    const std::string mount = findProgram("mount");
    if (mount.empty())
        return skip("mount is missing (package mount)");
    if (::access(image_.c_str(), F_OK) != 0) {
        // xfs needs 300 MiB at least; the images are sparse, so size costs nothing until written.
        const off_t size = type == "xfs" ? 320 << 20 : type == "btrfs" ? 256 << 20 : 64 << 20;
        const std::string mkfs = findProgram("mkfs." + type);
        if (mkfs.empty())
            return skip("mkfs." + type + " is missing (scripts/deps.sh installs it)");
        if (!makeImage(image_, size))
            return skip("cannot make the image: " + std::string(std::strerror(errno)));
        const Ran made = run(type == "ext4" ? std::vector<std::string>{mkfs, "-q", "-F", image_}
                                            : std::vector<std::string>{mkfs, "-q", "-f", image_});
        if (!made.ok())
            return skip("mkfs." + type + " failed: " + lastLines(made.output));
    }
    const Ran mounted = run({mount, "-t", type, "-o", "loop", image_, mountPoint_});
    if (!mounted.ok())
        return skip("mount refused: " + lastLines(mounted.output));
    return true;
}

bool MountedFileSystem::mountTmpfs() {
    if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, "size=256m,mode=0755") != 0)
        return skip("mount refused: " + std::string(std::strerror(errno)));
    return true;
}

bool MountedFileSystem::startFuseDaemon(const std::vector<std::string>& argv, const std::string& log) {
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return skip("/dev/fuse is missing or closed");
    daemon_ = start(argv, log);
    if (daemon_ < 0)
        return skip("cannot start " + argv[0]);
    started_.push_back(daemon_);
    std::ofstream(workDir_ + "/daemons", std::ios::app) << daemon_ << "\n";
    return waitForMount(daemon_, log);
}

bool MountedFileSystem::waitForMount(pid_t daemon, const std::string& log) {
    const auto until = Clock::now() + kMountWait;
    while (Clock::now() < until) {
        if (mountTypeAt(mountPoint_).rfind("fuse", 0) == 0)
            return true;
        int status = 0;
        if (::waitpid(daemon, &status, WNOHANG) == daemon) {
            daemon_ = -1;
            return skip("mount refused: " + lastLines(readWhole(log)));
        }
        std::this_thread::sleep_for(kPoll);
    }
    return skip("the file system did not appear within 20 s: " + lastLines(readWhole(log)));
}

bool MountedFileSystem::mountExfat() {
    const std::string daemon = findProgram("mount.exfat-fuse");
    if (daemon.empty())
        return skip("mount.exfat-fuse is missing (package exfat-fuse)");
    if (::access(image_.c_str(), F_OK) != 0) {
        const std::string mkfs = findProgram("mkfs.exfat");
        if (mkfs.empty())
            return skip("mkfs.exfat is missing (package exfatprogs)");
        if (!makeImage(image_, 64 << 20))
            return skip("cannot make the image: " + std::string(std::strerror(errno)));
        const Ran made = run({mkfs, image_});
        if (!made.ok())
            return skip("mkfs.exfat failed: " + lastLines(made.output));
    }
    // exfat-fuse runs as root only on a block device (fuseblk). The loop device detaches itself
    // when the daemon, its last user, closes it; ours stays open until the daemon has it.
    std::string device, why;
    const int loop = attachLoop(image_, device, why);
    if (loop < 0)
        return skip(why);
    const bool up = startFuseDaemon({daemon, "-d", device, mountPoint_}, workDir_ + "/exfat.log");
    ::close(loop);
    if (!up)
        return false;
    // The kernel's own exfat driver would make this "exfat"; only FUSE is wanted here.
    if (mountTypeAt(mountPoint_) != "fuseblk")
        return skip("mounted as " + mountTypeAt(mountPoint_) + ", not through FUSE");
    return true;
}

bool MountedFileSystem::mountNtfs() {
    const std::string daemon = findProgram("ntfs-3g");
    if (daemon.empty())
        return skip("ntfs-3g is missing (package ntfs-3g)");
    if (::access(image_.c_str(), F_OK) != 0) {
        const std::string mkfs = findProgram("mkntfs");
        if (mkfs.empty())
            return skip("mkntfs is missing (package ntfs-3g)");
        if (!makeImage(image_, 64 << 20))
            return skip("cannot make the image: " + std::string(std::strerror(errno)));
        const Ran made = run({mkfs, "-q", "-F", "-f", image_});
        if (!made.ok())
            return skip("mkntfs failed: " + lastLines(made.output));
    }
    return startFuseDaemon({daemon, "-o", "no_detach", image_, mountPoint_}, workDir_ + "/ntfs-3g.log");
}

bool MountedFileSystem::startSshd() {
    const std::string sshd = findProgram("sshd");
    const std::string keygen = findProgram("ssh-keygen");
    if (sshd.empty() || keygen.empty())
        return skip("sshd or ssh-keygen is missing (packages openssh-server, openssh-client)");
    const std::string keys = workDir_ + "/ssh";
    ::mkdir(keys.c_str(), 0700);
    ::mkdir((workDir_ + "/remote").c_str(), 0755);
    for (const char* key : {"host_key", "user_key"}) {
        const Ran made = run({keygen, "-q", "-t", "ed25519", "-N", "", "-f", keys + "/" + key});
        if (!made.ok())
            return skip("ssh-keygen failed: " + lastLines(made.output));
    }
    if (!writeText(keys + "/authorized_keys", readWhole(keys + "/user_key.pub")))
        return skip("cannot write authorized_keys");
    // sshd's privilege separation needs this folder, which only a boot of the package makes.
    ::mkdir("/run/sshd", 0755);
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freePort();
        const std::string config = keys + "/sshd_config";
        writeText(config, "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\nHostKey " + keys +
                              "/host_key\nPidFile none\n"
                              "AuthorizedKeysFile " +
                              keys +
                              "/authorized_keys\n"
                              "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                              "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n"
                              "Subsystem sftp internal-sftp\n");
        const std::string log = keys + "/sshd.log";
        sshd_ = start({sshd, "-D", "-e", "-f", config}, log);
        if (sshd_ < 0)
            return skip("cannot start sshd");
        started_.push_back(sshd_);
        std::ofstream(workDir_ + "/daemons", std::ios::app) << sshd_ << "\n";
        const auto until = Clock::now() + kMountWait;
        while (Clock::now() < until && !accepts(port_)) {
            int status = 0;
            if (::waitpid(sshd_, &status, WNOHANG) == sshd_) {
                sshd_ = -1;
                break; // the port was taken meanwhile, or the configuration refused: try again
            }
            std::this_thread::sleep_for(kPoll);
        }
        if (sshd_ > 0 && accepts(port_))
            return true;
        stopChild(sshd_);
        if (attempt == 2)
            return skip("sshd did not start: " + lastLines(readWhole(log)));
    }
    return false;
}

bool MountedFileSystem::mountSshfs() {
    const std::string sshfs = findProgram("sshfs");
    if (sshfs.empty())
        return skip("sshfs is missing (package sshfs)");
    if (sshd_ <= 0 && !startSshd())
        return false;
    const std::string keys = workDir_ + "/ssh";
    return startFuseDaemon({sshfs, "-f", "-F", "/dev/null", "-p", std::to_string(port_), "-o",
                            "IdentityFile=" + keys + "/user_key" +
                                ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes",
                            userName() + "@127.0.0.1:" + workDir_ + "/remote", mountPoint_},
                           workDir_ + "/sshfs.log");
}

std::string MountedFileSystem::mountType() const {
    return mountTypeAt(mountPoint_);
}

std::string MountedFileSystem::loopDevice() const {
    const std::vector<std::string> devices =
        image_.empty() ? std::vector<std::string>{} : loopDevicesOf(image_);
    return devices.empty() ? std::string() : devices.front();
}

std::string MountedFileSystem::freshFolder(const std::string& hint) {
    const std::string folder = mountPoint_ + "/" + hint + "-" + std::to_string(++folderCount_);
    ::mkdir(folder.c_str(), 0777);
    return folder;
}

bool MountedFileSystem::remount(std::string* why) {
    const auto refuse = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (!mounted_)
        return refuse(skipReason_);
    if (kind_ == FileSystemKind::Tmpfs)
        return refuse("a tmpfs keeps nothing across mounts");
    unmountOnly();
    mounted_ = mountOnce();
    return mounted_ || refuse(skipReason_);
}

void MountedFileSystem::unmountOnly() {
    if (!mountPoint_.empty() && !mountTypeAt(mountPoint_).empty())
        unmountPoint(mountPoint_);
    // A FUSE daemon ends by itself once its file system is unmounted.
    if (daemon_ > 0 && !waitForExit(daemon_, kExitWait))
        stopChild(daemon_);
    daemon_ = -1;
    // A loop device set to clear itself goes at its last close, which may lag behind the unmount.
    const auto until = Clock::now() + kExitWait;
    while (!image_.empty() && !loopDevicesOf(image_).empty() && Clock::now() < until)
        std::this_thread::sleep_for(kPoll);
}

void MountedFileSystem::unmount() {
    if (workDir_.empty())
        return;
    unmountOnly();
    stopChild(sshd_);
    mounted_ = false;
    if (mountsBelow(workDir_).empty())
        removeFolderTree(workDir_);
    workDir_.clear();
}

MountedFileSystem::Leftovers MountedFileSystem::leftovers() const {
    Leftovers left;
    const std::string folder = mountPoint_.substr(0, mountPoint_.rfind('/'));
    if (!folder.empty())
        left.mounts = mountsBelow(folder);
    if (!image_.empty())
        left.loopDevices = loopDevicesOf(image_);
    for (const pid_t pid : started_)
        if (processAlive(pid))
            left.processes.push_back(pid);
    return left;
}

MountedFileSystem& mountedFileSystem(FileSystemKind kind) {
    static std::mutex mutex;
    // Destroyed at exit, which unmounts every row.
    static std::map<FileSystemKind, std::unique_ptr<MountedFileSystem>> rows;
    std::lock_guard<std::mutex> lock(mutex);
    std::unique_ptr<MountedFileSystem>& row = rows[kind];
    if (!row)
        row = std::make_unique<MountedFileSystem>(kind);
    return *row;
}

void forEachMountedFileSystem(const std::function<void(MountedFileSystem&)>& body,
                              const std::function<void(const MountedFileSystem&)>& skipped) {
    for (const FileSystemKind kind : allFileSystemKinds()) {
        MountedFileSystem& fs = mountedFileSystem(kind);
        if (fs.mounted())
            body(fs);
        else if (skipped)
            skipped(fs);
    }
}

void MountedFileSystemTest::SetUp() {
    fileSystem_ = &mountedFileSystem(GetParam());
    if (!fileSystem_->mounted())
        GTEST_SKIP() << fileSystem_->skipReason();
    std::string hint = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : hint)
        if (c == '/')
            c = '-';
    folder_ = fileSystem_->freshFolder(hint);
}

void MountedFileSystemTest::TearDown() {
    if (!folder_.empty())
        removeFolderTree(folder_);
}

std::string fileSystemTestName(const ::testing::TestParamInfo<FileSystemKind>& info) {
    std::string name = nameOf(info.param);
    for (char& c : name)
        if (c == '-')
            c = '_';
    return name;
}

} // namespace paritas::test

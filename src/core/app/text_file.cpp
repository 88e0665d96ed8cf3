#include "core/app/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

} // namespace

std::string writeTextLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string data;
    for (const std::string& line : lines) {
        data += line;
        data += "\r\n";
    }
    // An existing file keeps its permission bits: the temporary starts private and takes them once
    // written. A new file gets 0666 narrowed by the umask, which the kernel applies when the temporary
    // is created (reading the umask would mean changing it, for the whole process, for a moment).
    bool replacing = false;
    mode_t mode = 0666;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return std::strerror(EISDIR);
        replacing = true;
        mode = st.st_mode & 07777;
    }
    // The temporary name is new (created exclusively), so the write never touches a file it did not make.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = path + ".paritas-" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : mode);
        if (fd < 0 && errno != EEXIST)
            return std::strerror(errno);
    }
    if (fd < 0)
        return std::strerror(EEXIST);
    int failure = 0;
    if (!writeAll(fd, data) || (replacing && ::fchmod(fd, mode) != 0) || ::fsync(fd) != 0)
        failure = errno ? errno : EIO;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        return std::strerror(failure);
    }
    return {};
}

std::optional<std::vector<std::string>> readTextLines(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (error)
            *error = std::strerror(errno);
        return std::nullopt;
    }
    std::string data;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        data.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        if (error)
            *error = std::strerror(EIO);
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string::npos)
            end = data.size();
        std::size_t stop = end;
        if (stop > start && data[stop - 1] == '\r')
            --stop;
        lines.emplace_back(data, start, stop - start);
        start = end + 1;
    }
    return lines;
}

} // namespace paritas

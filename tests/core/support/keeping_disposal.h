#pragma once
// A Disposal for tests of the operations that replace or remove files: it keeps what it is given in
// a folder of its own ("kept-1", "kept-2", ...), moving it there as the trash would, or refuses
// everything (to see the operation put the old file back).

#include "core/platform/disposal.h"
#include "core/platform/file_ops.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace paritas::test {

class KeepingDisposal : public Disposal {
public:
    enum class Mode { Keep, Refuse };
    explicit KeepingDisposal(std::string folder, Mode mode = Mode::Keep,
                             const FileSystemCapabilities* capabilities = nullptr)
        : folder_(std::move(folder)), mode_(mode), capabilities_(capabilities) {}

    Disposed ready(int, const std::string&) override { return {}; }

    Disposed dispose(int folder, const std::string& name, const std::string& path) override {
        paths.push_back(path);
        if (mode_ == Mode::Refuse)
            return Disposed{EACCES, "the test refuses to keep it", {}};
        const int keep = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (keep < 0)
            return Disposed{errno, {}, {}};
        const std::string kept = "kept-" + std::to_string(paths.size());
        const FsResult moved = moveNoReplaceAt(folder, name, keep, kept, capabilities_);
        ::close(keep);
        if (!moved.ok())
            return Disposed{moved.error, {}, {}};
        return Disposed{0, {}, folder_ + "/" + kept};
    }

    std::vector<std::string> paths; // the user's path of every file it was given

private:
    std::string folder_;
    Mode mode_;
    const FileSystemCapabilities* capabilities_;
};

} // namespace paritas::test

#include "core/platform/folder_listing.h"
#include "core/platform/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paritas {
namespace {

constexpr std::size_t kInitialBuffer = 64 * 1024;
constexpr std::size_t kMinimumRead = 32 * 1024;

EntryType typeFromDirent(unsigned char type) {
    switch (type) {
    case DT_DIR:
        return EntryType::Directory;
    case DT_REG:
        return EntryType::File;
    case DT_LNK:
        return EntryType::Link;
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK:
        return EntryType::Special;
    default:
        return EntryType::Unknown;
    }
}

EntryType typeFromMode(mode_t mode) {
    if (S_ISDIR(mode))
        return EntryType::Directory;
    if (S_ISREG(mode))
        return EntryType::File;
    if (S_ISLNK(mode))
        return EntryType::Link;
    return EntryType::Special;
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

using FileDescriptor = UniqueFd;

EntryOwnership entryOwnershipOf(const struct stat& st) {
    return {static_cast<uint32_t>(st.st_mode), st.st_uid, st.st_gid, static_cast<uint32_t>(st.st_nlink),
            static_cast<uint64_t>(st.st_dev)};
}

} // namespace

FolderListing::FolderListing() = default;
FolderListing::~FolderListing() = default;
FolderListing::FolderListing(FolderListing&&) noexcept = default;
FolderListing& FolderListing::operator=(FolderListing&&) noexcept = default;

bool listFolderSorted(const std::string& path, const ListingOptions& options, FolderListing& listing) {
    listing.entries_.clear();
    listing.error_ = 0;
    listing.searchDenied_ = false;
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
    if (!options.followLinkAtPath)
        flags |= O_NOFOLLOW;
    const FileDescriptor folder(::open(path.c_str(), flags));
    if (folder.get() < 0) {
        listing.error_ = errno;
        return false;
    }
    if (options.folderId) {
        struct stat self {};
        if (::fstat(folder.get(), &self) != 0) {
            listing.error_ = errno;
            return false;
        }
        listing.folderId_ = ObjectId{static_cast<uint64_t>(self.st_dev), static_cast<uint64_t>(self.st_ino)};
        FolderSelf& facts = listing.folderSelf_;
        facts.ownership = entryOwnershipOf(self);
        facts.modifiedTime = static_cast<int64_t>(self.st_mtim.tv_sec);
        facts.modifiedNanos = static_cast<int32_t>(self.st_mtim.tv_nsec);
        facts.attributes = options.attributes.any() ? attributesDigestOf(folder.get(), options.attributes) : 0;
    }

    // Read every raw entry record into one buffer; names stay where the kernel wrote them.
    if (listing.capacity_ == 0) {
        listing.buffer_ = std::make_unique_for_overwrite<char[]>(kInitialBuffer);
        listing.capacity_ = kInitialBuffer;
    }
    std::size_t used = 0;
    for (;;) {
        if (listing.capacity_ - used < kMinimumRead) {
            auto bigger = std::make_unique_for_overwrite<char[]>(listing.capacity_ * 2);
            std::memcpy(bigger.get(), listing.buffer_.get(), used);
            listing.buffer_ = std::move(bigger);
            listing.capacity_ *= 2;
        }
        const ssize_t n = ::getdents64(folder.get(), listing.buffer_.get() + used, listing.capacity_ - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            listing.error_ = errno;
            return false;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }

    for (std::size_t offset = 0; offset < used;) {
        const auto* record = reinterpret_cast<const struct dirent64*>(listing.buffer_.get() + offset);
        offset += record->d_reclen;
        if (isDotOrDotDot(record->d_name))
            continue;
        FolderEntry entry;
        entry.name = std::string_view(record->d_name);
        entry.type = typeFromDirent(record->d_type);
        listing.entries_.push_back(entry);
    }

    std::sort(listing.entries_.begin(), listing.entries_.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });

    bool someVanished = false;
    bool statted = false;
    for (FolderEntry& entry : listing.entries_) {
        const bool wantFacts = options.fileFacts && entry.type != EntryType::Directory;
        if (!wantFacts && entry.type != EntryType::Unknown)
            continue;
        statted = true;
        struct stat st;
        if (::fstatat(folder.get(), entry.name.data(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                entry.name = {};
                someVanished = true;
            }
            entry.factsError = errno;
            if (errno == EACCES)
                listing.searchDenied_ = true;
            continue;
        }
        entry.type = typeFromMode(st.st_mode);
        if (options.fileFacts && entry.type != EntryType::Directory) {
            entry.factsKnown = true;
            entry.size = static_cast<int64_t>(st.st_size);
            entry.modifiedTime = static_cast<int64_t>(st.st_mtim.tv_sec);
            entry.modifiedNanos = static_cast<int32_t>(st.st_mtim.tv_nsec);
            entry.inode = static_cast<uint64_t>(st.st_ino);
            entry.ownership = entryOwnershipOf(st);
            if (options.attributes.any())
                entry.attributes = attributesDigestAt(folder.get(), std::string(entry.name), options.attributes);
        }
    }
    if (options.fileFacts && !statted && !listing.entries_.empty()) {
        struct stat probe;
        if (::fstatat(folder.get(), listing.entries_.front().name.data(), &probe, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == EACCES)
            listing.searchDenied_ = true;
    }
    if (someVanished) {
        std::erase_if(listing.entries_, [](const FolderEntry& e) { return e.name.empty(); });
    }
    return true;
}

} // namespace paritas

#include "core/inventory/inventory.h"

#include "core/platform/datetime.h"

#include <cstring>
#include <sys/stat.h>
#include <stdexcept>

namespace paritas {

void Inventory::clear() {
    blocks_.clear();
    blockUsed_ = kBlockSize;
    rows_.clear();
    rows_.shrink_to_fit();
    owners_.clear();
    ownersIndex_.clear();
    lastOwners_ = kNoOwnership;
    attributes_.clear();
    attributes_.shrink_to_fit();
    attributesRead_ = false;
    sizeTotal_ = 0;
}

void Inventory::addFile(std::string_view folder, std::string_view name, int64_t size, int32_t fileTime) {
    addFile(folder, name, FileStamp{size, fileTime, int64_t(fileTime) * 2, 0, 0});
}

FileStamp Inventory::stamp(std::size_t row) const {
    const Row& r = rows_[row];
    return FileStamp{r.size, r.fileTime, r.modifiedTime, int32_t(r.nanos), r.inode};
}

void Inventory::addFile(std::string_view folder, std::string_view name, const FileStamp& stamp,
                        const EntryOwnership& ownership, uint64_t attributes) {
    addFile(folder, name, stamp);
    Row& row = rows_.back();
    if (ownership.known()) {
        row.ownership = ownersIndex(ownership);
        row.links = ownership.links;
    }
    if (attributes == 0)
        return;
    if (attributes_.empty())
        attributes_.resize(rows_.size(), 0);
    attributes_.back() = attributes;
}

uint32_t Inventory::ownersIndex(const EntryOwnership& ownership) {
    const Owners owners{ownership.mode, ownership.owner, ownership.group, ownership.device};
    if (lastOwners_ != kNoOwnership && owners_[lastOwners_] == owners)
        return lastOwners_;
    const auto [at, added] = ownersIndex_.try_emplace(owners, uint32_t(owners_.size()));
    if (added)
        owners_.push_back(owners);
    return lastOwners_ = at->second;
}

EntryOwnership Inventory::ownership(std::size_t row) const {
    const Row& r = rows_[row];
    if (r.ownership == kNoOwnership)
        return {};
    const Owners& o = owners_[r.ownership];
    return {o.mode, o.owner, o.group, r.links, o.device};
}

OwnershipFacts Inventory::ownershipFacts(std::size_t row) const {
    const EntryOwnership o = ownership(row);
    return {o.mode & 07777, o.owner, o.group};
}

bool Inventory::isLink(std::size_t row) const {
    return S_ISLNK(ownership(row).mode);
}

LinkFacts Inventory::linkFacts(std::size_t row) const {
    const EntryOwnership o = ownership(row);
    return {o.device, rows_[row].inode, rows_[row].ownership == kNoOwnership ? 1u : o.links};
}

void Inventory::addFile(std::string_view folder, std::string_view name, const FileStamp& stamp) {
    const std::size_t length = folder.size() + name.size();
    if (length > kBlockSize)
        throw std::length_error("path longer than an inventory block");
    if (kBlockSize - blockUsed_ < length) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
        blockUsed_ = 0;
    }
    char* out = blocks_.back().get() + blockUsed_;
    std::memcpy(out, folder.data(), folder.size());
    std::memcpy(out + folder.size(), name.data(), name.size());
    const uint64_t offset = uint64_t(blocks_.size() - 1) * kBlockSize + blockUsed_;
    blockUsed_ += length;
    rows_.push_back(Row{offset, uint32_t(length), uint32_t(name.size()), stamp.size, stamp.modifiedTime,
                        stamp.inode, stamp.fileTime, uint32_t(stamp.modifiedNanos), kNoOwnership, 1});
    if (!attributes_.empty())
        attributes_.push_back(0);
    sizeTotal_ += stamp.size;
}

std::string_view Inventory::fullPath(std::size_t row) const {
    const Row& r = rows_[row];
    return {at(r.pathOffset), r.pathLength};
}

std::string_view Inventory::name(std::size_t row) const {
    const Row& r = rows_[row];
    return {at(r.pathOffset) + (r.pathLength - r.nameLength), r.nameLength};
}

std::string Inventory::fullPathCell(std::size_t row) const {
    if (row >= rows_.size())
        return {};
    return std::string(fullPath(row));
}

std::string Inventory::sizeText(std::size_t row) const {
    return row < rows_.size() ? std::to_string(rows_[row].size) : std::string();
}

std::string Inventory::fileTimeText(std::size_t row) const {
    return row < rows_.size() ? std::to_string(rows_[row].fileTime) : std::string();
}

std::string Inventory::modifiedText(std::size_t row) const {
    return row < rows_.size() ? dosDateTimeText(rows_[row].fileTime) : std::string();
}

std::string Inventory::cell(std::size_t row, int column) const {
    switch (column) {
    case 0:
        return fullPathCell(row);
    case 1:
        return sizeText(row);
    case 2:
        return fileTimeText(row);
    case 3:
        return row < rows_.size() ? std::string(name(row)) : std::string();
    case 4:
        return modifiedText(row);
    default:
        return {};
    }
}

std::size_t Inventory::memoryBytes() const {
    return blocks_.size() * kBlockSize + rows_.capacity() * sizeof(Row) + blocks_.capacity() * sizeof(void*) +
           owners_.capacity() * sizeof(Owners) * 3 + attributes_.capacity() * sizeof(uint64_t);
}

} // namespace paritas

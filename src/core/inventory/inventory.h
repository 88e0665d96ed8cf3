#pragma once
// Folder lists and inventories: what a scan of one location found.
//
// An inventory is a table of one row per file, in scan order (folder by folder in folder-list order,
// within a folder by name). Its text columns are
//   0 full path   (folder-list entry + name; "*" in front once a planner has paired the row)
//   1 size        (decimal bytes)
//   2 file time   (packed local DOS date/time, signed decimal)
//   3 name
//   4 modified text (date-time text of column 2)
// and, as readers expect, the table always ends with one empty row: rowCount() == fileCount() + 1.
//
// Rows are held compactly: the path bytes in large shared blocks, the numbers as numbers, the matched
// mark as a flag; the text cells are made when read.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

// Folder paths, each ending with the separator; the location itself first.
using FolderList = std::vector<std::string>;

class Inventory {
public:
    void clear();
    void addFile(std::string_view folder, std::string_view name, int64_t size, int32_t fileTime);

    std::size_t fileCount() const { return rows_.size(); }
    std::size_t rowCount() const { return rows_.size() + 1; }

    std::string_view fullPath(std::size_t row) const; // without the matched mark
    std::string_view name(std::size_t row) const;
    int64_t size(std::size_t row) const { return rows_[row].size; }
    int32_t fileTime(std::size_t row) const { return rows_[row].fileTime; }
    bool isMarked(std::size_t row) const { return rows_[row].marked; }
    void mark(std::size_t row) { rows_[row].marked = true; }

    // The cells as text, as the hidden grid would hold them. Row fileCount() is the empty last row.
    std::string fullPathCell(std::size_t row) const;
    std::string sizeText(std::size_t row) const;
    std::string fileTimeText(std::size_t row) const;
    std::string modifiedText(std::size_t row) const;
    std::string cell(std::size_t row, int column) const;

    int64_t sizeTotal() const { return sizeTotal_; }
    // Bytes held, for the memory benchmark.
    std::size_t memoryBytes() const;

private:
    struct Row {
        uint64_t pathOffset;
        uint32_t pathLength;
        uint32_t nameLength;
        int64_t size;
        int32_t fileTime;
        bool marked;
    };
    static constexpr std::size_t kBlockSize = 1 << 20;

    const char* at(uint64_t offset) const { return blocks_[offset / kBlockSize].get() + offset % kBlockSize; }

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t blockUsed_ = kBlockSize;
    std::vector<Row> rows_;
    int64_t sizeTotal_ = 0;
};

} // namespace paritas

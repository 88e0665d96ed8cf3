#pragma once
// Every line of the activity log, kept compactly: a session may log millions of lines (a scan logs
// one per folder, a run one or two per action) and the log keeps them all for the export.
//
//   append ──> open block (plain bytes, one '\n' after each line, offsets of the lines)
//                 │ full at kBlockBytes
//                 ▼
//              sealed blocks (zlib-compressed, with their line counts)
//
// Reading line i finds its block by the running line counts; the last sealed block read stays
// unpacked, so a view that shows thirty neighbouring lines unpacks at most one block per repaint.
// Log text repeats itself (dates, "Scanning folder /same/prefix/..."), so a sealed block takes about
// a sixth of its plain size.

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace paritas::gui {

class LogStore {
public:
    // Appends one line; a text holding line breaks becomes one line per part, as a memo shows it.
    void append(std::string_view text);
    std::size_t size() const { return sealedLines_ + openOffsets_.size(); }
    bool empty() const { return size() == 0; }
    // Line i (0 <= i < size()), its bytes as appended.
    std::string line(std::size_t i) const;
    // Calls visit for every line in order; the view is valid only during the call.
    void forEach(const std::function<void(std::string_view)>& visit) const;
    void clear();
    // The longest line so far, in bytes (for the view's horizontal range).
    std::size_t longestLine() const { return longest_; }
    // Bytes held by the store (blocks, offsets and the unpacked block).
    std::size_t memoryUsed() const;

    static constexpr std::size_t kBlockBytes = 64 * 1024;

private:
    struct Block {
        QByteArray packed;
        std::size_t firstLine;
        uint32_t lines;
    };
    void appendOne(std::string_view line);
    void seal();
    // Makes `block` the unpacked one.
    void unpack(std::size_t block) const;
    static std::string_view lineIn(const std::string& bytes, const std::vector<uint32_t>& offsets,
                                   std::size_t i);

    std::vector<Block> sealed_;
    std::size_t sealedLines_ = 0;
    std::string open_;
    std::vector<uint32_t> openOffsets_;
    std::size_t longest_ = 0;

    mutable std::size_t unpackedBlock_ = SIZE_MAX;
    mutable std::string unpacked_;
    mutable std::vector<uint32_t> unpackedOffsets_;
};

} // namespace paritas::gui

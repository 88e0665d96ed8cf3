#include "gui/app/log_store.h"

#include <algorithm>

namespace paritas::gui {
namespace {

// Fast compression: a run that logs two hundred thousand actions seals a few hundred blocks.
constexpr int kCompressionLevel = 1;

std::vector<uint32_t> lineOffsets(const std::string& bytes) {
    std::vector<uint32_t> offsets;
    std::size_t start = 0;
    while (start < bytes.size()) {
        offsets.push_back(uint32_t(start));
        const std::size_t end = bytes.find('\n', start);
        start = end == std::string::npos ? bytes.size() : end + 1;
    }
    return offsets;
}

} // namespace

void LogStore::append(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n', start)) {
        appendOne(text.substr(start, end - start));
        start = end + 1;
    }
    appendOne(text.substr(start));
}

void LogStore::appendOne(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    openOffsets_.push_back(uint32_t(open_.size()));
    open_.append(line);
    open_.push_back('\n');
    longest_ = std::max(longest_, line.size());
    if (open_.size() >= kBlockBytes)
        seal();
}

void LogStore::seal() {
    if (openOffsets_.empty())
        return;
    Block block{
        qCompress(reinterpret_cast<const uchar*>(open_.data()), qsizetype(open_.size()), kCompressionLevel),
        sealedLines_, uint32_t(openOffsets_.size())};
    block.packed.squeeze(); // qCompress keeps the room of the worst case
    sealed_.push_back(std::move(block));
    sealedLines_ += openOffsets_.size();
    open_.clear();
    openOffsets_.clear();
}

void LogStore::unpack(std::size_t block) const {
    if (unpackedBlock_ == block)
        return;
    const QByteArray plain = qUncompress(sealed_[block].packed);
    unpacked_.assign(plain.constData(), std::size_t(plain.size()));
    unpackedOffsets_ = lineOffsets(unpacked_);
    unpackedBlock_ = block;
}

std::string_view LogStore::lineIn(const std::string& bytes, const std::vector<uint32_t>& offsets,
                                  std::size_t i) {
    const std::size_t begin = offsets[i];
    const std::size_t end = i + 1 < offsets.size() ? offsets[i + 1] : bytes.size();
    return std::string_view(bytes).substr(begin, end - begin - 1); // without its '\n'
}

std::string LogStore::line(std::size_t i) const {
    if (i >= size())
        return {};
    if (i >= sealedLines_)
        return std::string(lineIn(open_, openOffsets_, i - sealedLines_));
    const auto after = std::upper_bound(sealed_.begin(), sealed_.end(), i,
                                        [](std::size_t line, const Block& b) { return line < b.firstLine; });
    const std::size_t block = std::size_t(after - sealed_.begin()) - 1;
    unpack(block);
    return std::string(lineIn(unpacked_, unpackedOffsets_, i - sealed_[block].firstLine));
}

void LogStore::forEach(const std::function<void(std::string_view)>& visit) const {
    for (const Block& block : sealed_) {
        const QByteArray plain = qUncompress(block.packed);
        const std::string_view bytes(plain.constData(), std::size_t(plain.size()));
        std::size_t start = 0;
        while (start < bytes.size()) {
            const std::size_t end = bytes.find('\n', start);
            visit(bytes.substr(start, end - start));
            start = end + 1;
        }
    }
    for (std::size_t i = 0; i < openOffsets_.size(); ++i)
        visit(lineIn(open_, openOffsets_, i));
}

void LogStore::clear() {
    sealed_.clear();
    sealedLines_ = 0;
    open_.clear();
    openOffsets_.clear();
    longest_ = 0;
    unpackedBlock_ = SIZE_MAX;
    unpacked_.clear();
    unpackedOffsets_.clear();
}

std::size_t LogStore::memoryUsed() const {
    std::size_t bytes = open_.capacity() + openOffsets_.capacity() * sizeof(uint32_t) +
                        sealed_.capacity() * sizeof(Block) + unpacked_.capacity() +
                        unpackedOffsets_.capacity() * sizeof(uint32_t);
    for (const Block& block : sealed_)
        bytes += std::size_t(block.packed.capacity());
    return bytes;
}

} // namespace paritas::gui

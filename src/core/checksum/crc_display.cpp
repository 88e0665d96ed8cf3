#include "core/checksum/crc_display.h"

#include "core/checksum/crc32.h"

namespace paritas {

namespace {

std::string hexText(uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return text;
}

} // namespace

std::string crcDisplayText(uint32_t fileCrc) {
    const std::string crcText = hexText(fileCrc);
    uint32_t second = 0;
    CRC32Update(reinterpret_cast<const uint8_t*>(crcText.data()), crcText.size(), second);
    return hexText(~second);
}

std::string fileCrcDisplayText(const std::string& path) {
    uint32_t crc = 0;
    int64_t totalBytes = 0;
    uint16_t error = 0;
    CRC32File(path, crc, totalBytes, error);
    return crcDisplayText(crc);
}

} // namespace paritas

#pragma once
// CRC-32 of buffers: the IEEE 802.3 checksum (CRC-32/ISO-HDLC), reflected polynomial
// 0xEDB88320, initial value 0xFFFFFFFF, all 32 bits inverted at the end. "123456789" gives 0xCBF43926.
//
// CRC32Update folds bytes into a running value and applies neither the initial value nor the final
// inversion; the caller does both. Every method below gives exactly the value of the plain table method
// (one lookup per byte); CRC32Update picks the fastest one the processor offers, once, at run time:
//   carry-less multiplication folding (x86-64 with VPCLMULQDQ/AVX-512, else PCLMULQDQ/SSE4.1) for the
//   bulk of a buffer, slicing-by-16 table lookups everywhere else and for the tail of a buffer.
// The methods are exposed so that tests hold each of them against the plain table method.

#include <array>
#include <cstddef>
#include <cstdint>

namespace paritas {

namespace crc32_tables {
constexpr std::array<uint32_t, 256> makeByteTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[n] = c;
    }
    return table;
}
} // namespace crc32_tables

// The byte-wise lookup table of the reflected polynomial, fixed when the program is compiled.
inline constexpr std::array<uint32_t, 256> kCrcTable = crc32_tables::makeByteTable();
static_assert(kCrcTable[0] == 0 && kCrcTable[1] == 0x77073096u && kCrcTable[255] == 0x2D02EF8Du);

// Files are read in blocks of this size, into one buffer allocated per file. 256 KiB rather than 32 KiB:
// with the folding methods the read() calls, not the checksum, set the speed, and each call has a
// fixed cost. The CRC does not depend on the block size.
inline constexpr std::size_t kCrcReadBlockSize = 262144;

// Folds count bytes of buffer into crc. A count of 0 leaves crc unchanged.
void CRC32Update(const uint8_t* buffer, std::size_t count, uint32_t& crc);

// The reference: one table lookup per byte, crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8).
void CRC32UpdateBytewise(const uint8_t* buffer, std::size_t count, uint32_t& crc);

// The methods behind CRC32Update, all giving the reference's values.
enum class CrcMethod {
    Bytewise,   // the reference
    Sliced,     // sixteen bytes per step through sixteen derived tables; runs everywhere
    Folded,     // carry-less multiplication in 128-bit registers (x86-64: PCLMULQDQ, SSE4.1)
    WideFolded, // the same in 512-bit registers (x86-64: VPCLMULQDQ, AVX-512F)
};
bool CRC32MethodAvailable(CrcMethod method);
// The method CRC32Update uses on this processor.
CrcMethod CRC32FastestMethod();
// Folds with the given method; one that this processor lacks falls back to Sliced.
void CRC32UpdateWith(CrcMethod method, const uint8_t* buffer, std::size_t count, uint32_t& crc);

} // namespace paritas

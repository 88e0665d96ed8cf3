#include "core/base/crc32.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The folding methods exist on x86-64; PARITAS_CRC32_PORTABLE builds what other processors get.
#if defined(__x86_64__) && !defined(PARITAS_CRC32_PORTABLE)
#define PARITAS_CRC32_FOLDING 1
#include <immintrin.h>
#endif

namespace paritas {

namespace {

// kSliceTables[k][b] is the CRC register after byte b followed by k zero bytes, so sixteen bytes can
// be looked up independently and combined with xor.
constexpr std::array<std::array<uint32_t, 256>, 16> makeSliceTables() {
    std::array<std::array<uint32_t, 256>, 16> tables{};
    tables[0] = kCrcTable;
    for (std::size_t k = 1; k < 16; ++k)
        for (std::size_t b = 0; b < 256; ++b) {
            const uint32_t previous = tables[k - 1][b];
            tables[k][b] = (previous >> 8) ^ kCrcTable[previous & 0xFF];
        }
    return tables;
}

constexpr std::array<std::array<uint32_t, 256>, 16> kSliceTables = makeSliceTables();

inline uint64_t loadLittle64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap64(value);
    return value;
}

inline uint32_t sliced(const uint8_t* p, std::size_t count, uint32_t crc) {
    const auto& t = kSliceTables;
    while (count >= 16) {
        const uint64_t low = loadLittle64(p) ^ crc;
        const uint64_t high = loadLittle64(p + 8);
        crc = t[15][low & 0xFF] ^ t[14][(low >> 8) & 0xFF] ^ t[13][(low >> 16) & 0xFF] ^
              t[12][(low >> 24) & 0xFF] ^ t[11][(low >> 32) & 0xFF] ^ t[10][(low >> 40) & 0xFF] ^
              t[9][(low >> 48) & 0xFF] ^ t[8][low >> 56] ^ t[7][high & 0xFF] ^ t[6][(high >> 8) & 0xFF] ^
              t[5][(high >> 16) & 0xFF] ^ t[4][(high >> 24) & 0xFF] ^ t[3][(high >> 32) & 0xFF] ^
              t[2][(high >> 40) & 0xFF] ^ t[1][(high >> 48) & 0xFF] ^ t[0][high >> 56];
        p += 16;
        count -= 16;
    }
    while (count-- > 0)
        crc = kCrcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(PARITAS_CRC32_FOLDING)

// Folding with carry-less multiplication, after Gopal et al., "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction" (Intel, 2009), in the bit-reflected domain. Eight 128-bit
// lanes are folded forward 128 bytes at a time (eight independent chains hide the multiplier's
// latency), then into one lane, which takes the remaining 16-byte pieces; the 128-bit remainder is
// reduced to 64 bits and finally, by Barrett reduction, to the 32-bit register.
//
// A fold constant for distance n bits is x^n mod P, bit-reflected and shifted left by one.
constexpr uint64_t foldConstant(unsigned n) {
    uint64_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder & (uint64_t(1) << 32))
            remainder ^= 0x104C11DB7ull; // P, normal bit order
    }
    uint64_t reflected = 0;
    for (int bit = 0; bit < 32; ++bit)
        if (remainder & (uint64_t(1) << bit))
            reflected |= uint64_t(1) << (31 - bit);
    return reflected << 1;
}
// The published four-lane constants, as a check of the derivation.
static_assert(foldConstant(4 * 128 + 32) == 0x154442bd4 && foldConstant(4 * 128 - 32) == 0x1c6e41596);
static_assert(foldConstant(128 + 32) == 0x1751997d0 && foldConstant(128 - 32) == 0x0ccaa009e);
static_assert(foldConstant(64) == 0x163cd6124);

// Fold distances of 128 bytes (the eight lanes), 16 bytes (one lane) and 8 bytes (128 bits to 64).
constexpr uint64_t kFold128Low = foldConstant(8 * 128 + 32), kFold128High = foldConstant(8 * 128 - 32);
constexpr uint64_t kFold16Low = foldConstant(128 + 32), kFold16High = foldConstant(128 - 32);
constexpr uint64_t kFold8 = foldConstant(64);

// P reflected (33 bits) and mu = floor(x^64 / P) reflected, for the Barrett reduction.
constexpr uint64_t kPolyReflected = 0x1db710641;
constexpr uint64_t kMuReflected = 0x1f7011641;

#define PARITAS_FOLDING __attribute__((target("pclmul,sse4.1")))

PARITAS_FOLDING inline __m128i load128(const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Moves lane forward by the distance whose constants k holds and adds next.
PARITAS_FOLDING inline __m128i fold(__m128i lane, __m128i next, __m128i k) {
    const __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

PARITAS_FOLDING uint32_t reduce128(__m128i x0, const uint8_t* p, std::size_t count);

// The length must be a multiple of 16 and at least 16; crc is the running register.
PARITAS_FOLDING uint32_t folded(const uint8_t* p, std::size_t count, uint32_t crc) {
    const __m128i by128Bytes = _mm_set_epi64x(kFold128High, kFold128Low);
    const __m128i by16Bytes = _mm_set_epi64x(kFold16High, kFold16Low);
    const __m128i start = _mm_cvtsi32_si128(static_cast<int>(crc));

    __m128i x0;
    if (count >= 128) {
        x0 = _mm_xor_si128(load128(p), start);
        __m128i x1 = load128(p + 16), x2 = load128(p + 32), x3 = load128(p + 48);
        __m128i x4 = load128(p + 64), x5 = load128(p + 80), x6 = load128(p + 96), x7 = load128(p + 112);
        p += 128;
        count -= 128;
        while (count >= 128) {
            x0 = fold(x0, load128(p), by128Bytes);
            x1 = fold(x1, load128(p + 16), by128Bytes);
            x2 = fold(x2, load128(p + 32), by128Bytes);
            x3 = fold(x3, load128(p + 48), by128Bytes);
            x4 = fold(x4, load128(p + 64), by128Bytes);
            x5 = fold(x5, load128(p + 80), by128Bytes);
            x6 = fold(x6, load128(p + 96), by128Bytes);
            x7 = fold(x7, load128(p + 112), by128Bytes);
            p += 128;
            count -= 128;
        }
        for (const __m128i next : {x1, x2, x3, x4, x5, x6, x7})
            x0 = fold(x0, next, by16Bytes);
    } else {
        x0 = _mm_xor_si128(load128(p), start);
        p += 16;
        count -= 16;
    }
    return reduce128(x0, p, count);
}

// Folds the remaining 16-byte pieces (count a multiple of 16) into x0 and reduces it to the register.
PARITAS_FOLDING uint32_t reduce128(__m128i x0, const uint8_t* p, std::size_t count) {
    const __m128i by16Bytes = _mm_set_epi64x(kFold16High, kFold16Low);
    const __m128i by8Bytes = _mm_set_epi64x(0, kFold8);
    const __m128i barrett = _mm_set_epi64x(kMuReflected, kPolyReflected);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    while (count >= 16) {
        x0 = fold(x0, load128(p), by16Bytes);
        p += 16;
        count -= 16;
    }

    // 128 bits to 64.
    __m128i x = _mm_xor_si128(_mm_srli_si128(x0, 8), _mm_clmulepi64_si128(x0, by16Bytes, 0x10));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), by8Bytes, 0x00));

    // Barrett reduction to 32 bits.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

bool detectFolding() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

// The same folding four 128-bit lanes at a time in 512-bit registers (VPCLMULQDQ with AVX-512): four
// registers fold 256 bytes per step, are folded into one, whose four 128-bit lanes are folded into one
// 128-bit lane; the rest is the 128-bit method. The length must be a multiple of 16 and at least 256.
constexpr uint64_t kFold256Low = foldConstant(4 * 512 + 32), kFold256High = foldConstant(4 * 512 - 32);
constexpr uint64_t kFold64Low = foldConstant(512 + 32), kFold64High = foldConstant(512 - 32);

#define PARITAS_WIDE_FOLDING __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))

PARITAS_WIDE_FOLDING inline __m512i load512(const uint8_t* at) {
    return _mm512_loadu_si512(at);
}

PARITAS_WIDE_FOLDING inline __m512i fold512(__m512i lane, __m512i next, __m512i k) {
    const __m512i low = _mm512_clmulepi64_epi128(lane, k, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(lane, k, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96); // low ^ high ^ next
}

PARITAS_WIDE_FOLDING uint32_t wideFolded(const uint8_t* p, std::size_t count, uint32_t crc) {
    const __m512i by256Bytes = _mm512_set4_epi64(kFold256High, kFold256Low, kFold256High, kFold256Low);
    const __m512i by64Bytes = _mm512_set4_epi64(kFold64High, kFold64Low, kFold64High, kFold64Low);
    const __m128i by16Bytes = _mm_set_epi64x(kFold16High, kFold16Low);

    __m512i z0 =
        _mm512_xor_si512(load512(p), _mm512_castsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i z1 = load512(p + 64), z2 = load512(p + 128), z3 = load512(p + 192);
    p += 256;
    count -= 256;
    while (count >= 256) {
        z0 = fold512(z0, load512(p), by256Bytes);
        z1 = fold512(z1, load512(p + 64), by256Bytes);
        z2 = fold512(z2, load512(p + 128), by256Bytes);
        z3 = fold512(z3, load512(p + 192), by256Bytes);
        p += 256;
        count -= 256;
    }
    z0 = fold512(z0, z1, by64Bytes);
    z0 = fold512(z0, z2, by64Bytes);
    z0 = fold512(z0, z3, by64Bytes);

    alignas(64) __m128i lanes[4];
    _mm512_store_si512(lanes, z0);
    // The rest runs in legacy SSE encoding, which is slow while upper register halves are in use.
    _mm256_zeroupper();
    __m128i x0 = fold(lanes[0], lanes[1], by16Bytes);
    x0 = fold(x0, lanes[2], by16Bytes);
    x0 = fold(x0, lanes[3], by16Bytes);
    return reduce128(x0, p, count);
}

#undef PARITAS_WIDE_FOLDING

bool detectWideFolding() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
           __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

#undef PARITAS_FOLDING

// Below these lengths the set-up of a method costs more than it saves.
constexpr std::size_t kFoldingMinimum = 64;
constexpr std::size_t kWideFoldingMinimum = 512;

#endif

} // namespace

void CRC32UpdateBytewise(const uint8_t* buffer, std::size_t count, uint32_t& crc) {
    for (std::size_t i = 0; i < count; ++i)
        crc = kCrcTable[(crc ^ buffer[i]) & 0xFF] ^ (crc >> 8);
}

bool CRC32MethodAvailable(CrcMethod method) {
#if defined(PARITAS_CRC32_FOLDING)
    static const bool folding = detectFolding();
    static const bool wideFolding = folding && detectWideFolding();
#else
    constexpr bool folding = false, wideFolding = false;
#endif
    switch (method) {
    case CrcMethod::Bytewise:
    case CrcMethod::Sliced:
        return true;
    case CrcMethod::Folded:
        return folding;
    case CrcMethod::WideFolded:
        return wideFolding;
    }
    return false;
}

CrcMethod CRC32FastestMethod() {
    static const CrcMethod fastest = CRC32MethodAvailable(CrcMethod::WideFolded) ? CrcMethod::WideFolded
                                     : CRC32MethodAvailable(CrcMethod::Folded)   ? CrcMethod::Folded
                                                                                 : CrcMethod::Sliced;
    return fastest;
}

void CRC32UpdateWith(CrcMethod method, const uint8_t* buffer, std::size_t count, uint32_t& crc) {
    if (!CRC32MethodAvailable(method))
        method = CrcMethod::Sliced;
    if (method == CrcMethod::Bytewise)
        return CRC32UpdateBytewise(buffer, count, crc);
#if defined(PARITAS_CRC32_FOLDING)
    // The bulk, in whole 16-byte pieces, goes to the folding; the tail of up to 15 bytes to the tables.
    const std::size_t bulk = count & ~std::size_t(15);
    if (method == CrcMethod::WideFolded && count >= kWideFoldingMinimum) {
        crc = wideFolded(buffer, bulk, crc);
        buffer += bulk;
        count -= bulk;
    } else if (method != CrcMethod::Sliced && count >= kFoldingMinimum) {
        crc = folded(buffer, bulk, crc);
        buffer += bulk;
        count -= bulk;
    }
#endif
    crc = sliced(buffer, count, crc);
}

void CRC32Update(const uint8_t* buffer, std::size_t count, uint32_t& crc) {
    CRC32UpdateWith(CRC32FastestMethod(), buffer, count, crc);
}

} // namespace paritas

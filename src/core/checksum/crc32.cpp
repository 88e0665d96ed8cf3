#include "core/checksum/crc32.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
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

#if defined(__x86_64__)

// Folding with carry-less multiplication, after Gopal et al., "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction" (Intel, 2009), in the bit-reflected domain. Four 128-bit
// lanes are folded forward 64 bytes at a time, then into one lane, then the 128-bit remainder is
// reduced to 64 and finally, by Barrett reduction, to the 32-bit register. The constants are
// x^n mod P for the fold distances, bit-reflected and shifted left by one:
//   k1 = x^(4*128+32), k2 = x^(4*128-32), k3 = x^(128+32), k4 = x^(128-32), k5 = x^64,
//   mu = floor(x^64 / P), and P itself (33 bits).
// The length must be a multiple of 16 and at least 64; crc is the running register.
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

PARITAS_FOLDING uint32_t folded(const uint8_t* p, std::size_t count, uint32_t crc) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load128(p + 16);
    __m128i x3 = load128(p + 32);
    __m128i x4 = load128(p + 48);
    p += 64;
    count -= 64;

    while (count >= 64) {
        x1 = fold(x1, load128(p), k1k2);
        x2 = fold(x2, load128(p + 16), k1k2);
        x3 = fold(x3, load128(p + 32), k1k2);
        x4 = fold(x4, load128(p + 48), k1k2);
        p += 64;
        count -= 64;
    }

    x1 = fold(x1, x2, k3k4);
    x1 = fold(x1, x3, k3k4);
    x1 = fold(x1, x4, k3k4);
    while (count >= 16) {
        x1 = fold(x1, load128(p), k3k4);
        p += 16;
        count -= 16;
    }

    // 128 bits to 64.
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), k5, 0x00));

    // Barrett reduction to 32 bits.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

bool detectFolding() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

#undef PARITAS_FOLDING

#endif

// Below this length the folding set-up costs more than it saves.
constexpr std::size_t kFoldingMinimum = 64;

} // namespace

void CRC32UpdateBytewise(const uint8_t* buffer, std::size_t count, uint32_t& crc) {
    for (std::size_t i = 0; i < count; ++i)
        crc = kCrcTable[(crc ^ buffer[i]) & 0xFF] ^ (crc >> 8);
}

void CRC32UpdateSliced(const uint8_t* buffer, std::size_t count, uint32_t& crc) {
    crc = sliced(buffer, count, crc);
}

bool CRC32FoldingAvailable() {
#if defined(__x86_64__)
    static const bool available = detectFolding();
    return available;
#else
    return false;
#endif
}

void CRC32UpdateFolded(const uint8_t* buffer, std::size_t count, uint32_t& crc) {
#if defined(__x86_64__)
    if (count >= kFoldingMinimum && CRC32FoldingAvailable()) {
        const std::size_t bulk = count & ~std::size_t(15);
        crc = folded(buffer, bulk, crc);
        buffer += bulk;
        count -= bulk;
    }
#endif
    crc = sliced(buffer, count, crc);
}

void CRC32Update(const uint8_t* buffer, std::size_t count, uint32_t& crc) {
    CRC32UpdateFolded(buffer, count, crc);
}

namespace {

int openNoFollow(const char* path) {
    int fd;
    do
        fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// The target text of a symbolic link, or the errno of the failure.
int readLinkTarget(const char* path, std::vector<char>& target) {
    target.resize(256);
    for (;;) {
        const ssize_t length = ::readlink(path, target.data(), target.size());
        if (length < 0)
            return errno;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return 0;
        }
        target.resize(target.size() * 2);
    }
}

// The file was opened: reads it block by block into the running crc.
void foldOpenFile(int fd, uint32_t& crc, int64_t& totalBytes, uint16_t& error,
                  const CrcBlockHook& afterEachBlock) {
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kCrcReadBlockSize);
    totalBytes = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kCrcReadBlockSize);
        if (got < 0 && errno == EINTR)
            continue;
        error = got < 0 ? static_cast<uint16_t>(errno) : 0;
        if (got <= 0)
            return;
        CRC32Update(buffer.get(), static_cast<std::size_t>(got), crc);
        totalBytes += got;
        if (afterEachBlock)
            afterEachBlock();
    }
}

} // namespace

void CRC32File(const std::string& fileName, uint32_t& crc, int64_t& totalBytes, uint16_t& error,
               const CrcBlockHook& afterEachBlock) {
    crc = 0xFFFFFFFFu;
    error = 0;
    const int fd = openNoFollow(fileName.c_str());
    if (fd < 0) {
        const int openError = errno;
        std::vector<char> target;
        // O_NOFOLLOW refuses a link at the last component with ELOOP: the link's own content is its
        // target text. A readlink failing with EINVAL means the ELOOP had another cause.
        const int linkError = openError == ELOOP ? readLinkTarget(fileName.c_str(), target) : EINVAL;
        if (linkError == 0) {
            CRC32Update(reinterpret_cast<const uint8_t*>(target.data()), target.size(), crc);
            totalBytes = static_cast<int64_t>(target.size());
        } else {
            error = static_cast<uint16_t>(linkError == EINVAL ? openError : linkError);
        }
        crc = ~crc;
        return;
    }

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = static_cast<uint16_t>(errno);
    } else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        error = EINVAL;
    } else {
        // The open did not wait for a writer or a lease; reads should block as usual.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        foldOpenFile(fd, crc, totalBytes, error, afterEachBlock);
    }
    ::close(fd);
    crc = ~crc;
}

void CRC32File(const std::string& fileName, uint32_t& crc, int64_t& totalBytes, uint16_t& error) {
    CRC32File(fileName, crc, totalBytes, error, CrcBlockHook{});
}

} // namespace paritas

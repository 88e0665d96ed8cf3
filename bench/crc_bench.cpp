// Throughput of CRC32File against zlib's crc32() over the same file, read the same way.
//   crc_bench make FILE BYTES   writes BYTES deterministic pseudo-random bytes to FILE
//   crc_bench paritas FILE      CRC32File (the program's own reading and folding)
//   crc_bench zlib FILE         read() in the same block size, zlib crc32() on each block
//   crc_bench memory BYTES      both over one cache-resident block, without reading a file
// Each timing mode prints: <label> <GB/s> <crc as 8 hex digits> (GB = 10^9 bytes).

#include "core/checksum/crc32.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace paritas;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* label, int64_t bytes, double elapsed, uint32_t crc) {
    std::printf("%s %.3f %08X\n", label, double(bytes) / elapsed / 1e9, crc);
}

// xorshift64*: the same bytes on every machine.
void fillDeterministic(uint8_t* out, std::size_t count, uint64_t& state) {
    for (std::size_t i = 0; i < count; i += 8) {
        state ^= state >> 12, state ^= state << 25, state ^= state >> 27;
        const uint64_t value = state * 0x2545F4914F6CDD1Dull;
        std::memcpy(out + i, &value, std::min<std::size_t>(8, count - i));
    }
}

int make(const char* file, int64_t bytes) {
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return std::perror(file), 1;
    std::vector<uint8_t> block(1 << 20);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int64_t done = 0; done < bytes;) {
        const std::size_t n = std::size_t(std::min<int64_t>(int64_t(block.size()), bytes - done));
        fillDeterministic(block.data(), n, state);
        if (::write(fd, block.data(), n) != ssize_t(n))
            return std::perror("write"), 1;
        done += int64_t(n);
    }
    return ::close(fd) == 0 ? 0 : 1;
}

int paritasFile(const char* file) {
    uint32_t crc = 0;
    int64_t total = 0;
    uint16_t error = 0;
    const auto start = Clock::now();
    CRC32File(file, crc, total, error);
    const double elapsed = seconds(start);
    if (error)
        return std::fprintf(stderr, "error %u\n", error), 1;
    report("paritas", total, elapsed, crc);
    return 0;
}

int zlibFile(const char* file) {
    const auto start = Clock::now();
    const int fd = ::open(file, O_RDONLY);
    if (fd < 0)
        return std::perror(file), 1;
    auto buffer = std::make_unique<uint8_t[]>(kCrcReadBlockSize);
    uLong crc = crc32(0L, Z_NULL, 0);
    int64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kCrcReadBlockSize);
        if (got < 0)
            return std::perror("read"), 1;
        if (got == 0)
            break;
        crc = crc32(crc, buffer.get(), uInt(got));
        total += got;
    }
    ::close(fd);
    report("zlib", total, seconds(start), uint32_t(crc));
    return 0;
}

// Folds one cache-resident block over and over: the speed of the arithmetic alone.
int memory(int64_t bytes) {
    std::vector<uint8_t> block(kCrcReadBlockSize);
    uint64_t state = 1;
    fillDeterministic(block.data(), block.size(), state);
    const int64_t rounds = std::max<int64_t>(1, bytes / int64_t(block.size()));
    const int64_t total = rounds * int64_t(block.size());
    using Method = void (*)(const uint8_t*, std::size_t, uint32_t&);
    auto time = [&](const char* label, Method method) {
        const auto start = Clock::now();
        uint32_t crc = 0xFFFFFFFFu;
        for (int64_t r = 0; r < rounds; ++r)
            method(block.data(), block.size(), crc);
        report(label, total, seconds(start), ~crc);
    };
    for (int pass = 0; pass < 3; ++pass) {
        time("memory-paritas", CRC32Update);
        time("memory-sliced", [](const uint8_t* b, std::size_t n, uint32_t& c) {
            CRC32UpdateWith(CrcMethod::Sliced, b, n, c);
        });
        time("memory-folded128", [](const uint8_t* b, std::size_t n, uint32_t& c) {
            CRC32UpdateWith(CrcMethod::Folded, b, n, c);
        });
        const auto start = Clock::now();
        uLong z = crc32(0L, Z_NULL, 0);
        for (int64_t r = 0; r < rounds; ++r)
            z = crc32(z, block.data(), uInt(block.size()));
        report("memory-zlib", total, seconds(start), uint32_t(z));
    }
    static const char* const kNames[] = {"bytewise", "sliced", "folded", "wide folded"};
    std::printf("method %s, block %zu bytes\n", kNames[int(CRC32FastestMethod())], kCrcReadBlockSize);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4)
        return make(argv[2], std::atoll(argv[3]));
    if (mode == "paritas" && argc == 3)
        return paritasFile(argv[2]);
    if (mode == "zlib" && argc == 3)
        return zlibFile(argv[2]);
    if (mode == "memory" && argc == 3)
        return memory(std::atoll(argv[2]));
    std::fprintf(stderr, "usage: crc_bench make FILE BYTES | paritas FILE | zlib FILE | memory BYTES\n");
    return 2;
}

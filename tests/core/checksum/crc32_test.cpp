#include "core/checksum/crc32.h"

#include "checksum/temp_files.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace paritas;
using paritas::testing::TempFolder;

namespace {

uint32_t crcOf(std::string_view text, void (*method)(const uint8_t*, std::size_t, uint32_t&) = CRC32Update) {
    uint32_t crc = 0xFFFFFFFFu;
    method(reinterpret_cast<const uint8_t*>(text.data()), text.size(), crc);
    return ~crc;
}

std::vector<uint8_t> randomBytes(std::size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

std::string randomText(std::size_t count, uint32_t seed) {
    const auto bytes = randomBytes(count, seed);
    return {bytes.begin(), bytes.end()};
}

struct FileResult {
    uint32_t crc = 0x12345678;
    int64_t totalBytes = -7; // a sentinel: the routine must leave it or set it
    uint16_t error = 0xBEEF;
};

FileResult crcFile(const std::string& path) {
    FileResult r;
    CRC32File(path, r.crc, r.totalBytes, r.error);
    return r;
}

using Method = void (*)(const uint8_t*, std::size_t, uint32_t&);

struct NamedMethod {
    const char* name;
    Method method;
};

// Every method is tried, also where CRC32Update would not pick it; one the processor lacks runs the
// sliced method instead (and says so once).
const NamedMethod kFastMethods[] = {
    {"CRC32Update", CRC32Update},
    {"sliced",
     [](const uint8_t* b, std::size_t n, uint32_t& c) { CRC32UpdateWith(CrcMethod::Sliced, b, n, c); }},
    {"folded",
     [](const uint8_t* b, std::size_t n, uint32_t& c) { CRC32UpdateWith(CrcMethod::Folded, b, n, c); }},
    {"wide folded",
     [](const uint8_t* b, std::size_t n, uint32_t& c) { CRC32UpdateWith(CrcMethod::WideFolded, b, n, c); }},
};

} // namespace

TEST(Crc32Table, IsTheByteTableOfTheReflectedIeeePolynomial) {
    EXPECT_EQ(kCrcTable[0], 0u);
    EXPECT_EQ(kCrcTable[1], 0x77073096u);
    EXPECT_EQ(kCrcTable[128], 0xEDB88320u);
    EXPECT_EQ(kCrcTable[255], 0x2D02EF8Du);
}

TEST(Crc32Update, GivesTheCatalogueCheckValuesByEveryMethod) {
    EXPECT_EQ(crcOf("123456789", CRC32UpdateBytewise), 0xCBF43926u);
    EXPECT_EQ(crcOf("abc", CRC32UpdateBytewise), 0x352441C2u);
    for (const auto& [name, method] : kFastMethods) {
        SCOPED_TRACE(name);
        EXPECT_EQ(crcOf("123456789", method), 0xCBF43926u);
        EXPECT_EQ(crcOf("abc", method), 0x352441C2u);
        EXPECT_EQ(crcOf("", method), 0u);
        // Long enough for the folding path: 1000 times "a" (a value zlib's crc32 also gives).
        EXPECT_EQ(crcOf(std::string(1000, 'a'), method), crcOf(std::string(1000, 'a'), CRC32UpdateBytewise));
    }
}

TEST(Crc32Update, FastMethodsEqualThePlainTableMethodAtEveryLengthAndAlignment) {
    for (const CrcMethod method : {CrcMethod::Folded, CrcMethod::WideFolded})
        if (!CRC32MethodAvailable(method))
            std::cout << "[   NOTE   ] method " << int(method)
                      << " unavailable here; it runs the sliced method\n";
    constexpr std::size_t kMaxLength = 4200;
    const auto data = randomBytes(kMaxLength + 64, 2024);
    for (std::size_t offset = 0; offset < 64; ++offset) {
        // The reference grows one byte at a time, so every prefix length costs one step.
        uint32_t reference = 0xFFFFFFFFu;
        for (std::size_t length = 0; length <= kMaxLength; ++length) {
            for (const auto& [name, method] : kFastMethods) {
                uint32_t crc = 0xFFFFFFFFu;
                method(data.data() + offset, length, crc);
                ASSERT_EQ(crc, reference) << name << " offset " << offset << " length " << length;
            }
            CRC32UpdateBytewise(data.data() + offset + length, 1, reference);
        }
    }
}

TEST(Crc32Update, FoldingABufferInTwoCallsEqualsOneCallAtEverySplitPoint) {
    for (const std::size_t length : {std::size_t(200), std::size_t(4099)}) {
        const auto data = randomBytes(length, static_cast<uint32_t>(length));
        for (const uint32_t start : {0xFFFFFFFFu, 0u, 0x9E3779B9u}) {
            uint32_t whole = start;
            CRC32UpdateBytewise(data.data(), length, whole);
            for (std::size_t split = 0; split <= length; ++split) {
                for (const auto& [name, method] : kFastMethods) {
                    uint32_t crc = start;
                    method(data.data(), split, crc);
                    method(data.data() + split, length - split, crc);
                    ASSERT_EQ(crc, whole) << name << " length " << length << " split " << split;
                }
            }
        }
    }
}

TEST(Crc32Update, LargeRandomBuffersAgreeAcrossMethods) {
    const auto data = randomBytes(3 * 1024 * 1024 + 13, 7);
    uint32_t reference = 0xFFFFFFFFu;
    CRC32UpdateBytewise(data.data(), data.size(), reference);
    for (const auto& [name, method] : kFastMethods) {
        uint32_t crc = 0xFFFFFFFFu;
        method(data.data(), data.size(), crc);
        EXPECT_EQ(crc, reference) << name;
    }
}

TEST(Crc32File, SmallFilesGiveTheirCrcCountAndNoError) {
    TempFolder folder;
    const FileResult abc = crcFile(folder.write("abc.txt", "abc"));
    EXPECT_EQ(abc.crc, 0x352441C2u);
    EXPECT_EQ(abc.totalBytes, 3);
    EXPECT_EQ(abc.error, 0);
    const FileResult check = crcFile(folder.write("check", "123456789"));
    EXPECT_EQ(check.crc, 0xCBF43926u);
    EXPECT_EQ(check.totalBytes, 9);
}

TEST(Crc32File, AnEmptyFileHasCrcZeroCountZeroAndNoError) {
    TempFolder folder;
    const FileResult empty = crcFile(folder.write("empty", ""));
    EXPECT_EQ(empty.crc, 0u);
    EXPECT_EQ(empty.totalBytes, 0);
    EXPECT_EQ(empty.error, 0);
}

TEST(Crc32File, FilesAroundAndAcrossTheBlockSizeEqualTheCrcOfTheWholeInOnePiece) {
    TempFolder folder;
    for (const std::size_t size :
         {std::size_t(32768), std::size_t(32769), kCrcReadBlockSize - 1, kCrcReadBlockSize,
          kCrcReadBlockSize + 1, 3 * kCrcReadBlockSize + 5, std::size_t(5'000'011)}) {
        const std::string content = randomText(size, static_cast<uint32_t>(size));
        const FileResult r = crcFile(folder.write("f" + std::to_string(size), content));
        EXPECT_EQ(r.crc, crcOf(content, CRC32UpdateBytewise)) << size;
        EXPECT_EQ(r.totalBytes, static_cast<int64_t>(size));
        EXPECT_EQ(r.error, 0);
    }
}

TEST(Crc32File, TheBlockHookRunsAfterEveryBlock) {
    TempFolder folder;
    const std::string path = folder.write("four-blocks", randomText(3 * kCrcReadBlockSize + 5, 3));
    uint32_t crc = 0;
    int64_t total = 0;
    uint16_t error = 0;
    int calls = 0;
    CRC32File(path, crc, total, error, [&calls] { ++calls; });
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(total, int64_t(3 * kCrcReadBlockSize + 5));
}

TEST(Crc32File, AMissingFileGivesError2CrcZeroAndLeavesTheCountAlone) {
    TempFolder folder;
    const FileResult missing = crcFile(folder.path("not-there"));
    EXPECT_EQ(missing.error, 2);
    EXPECT_EQ(missing.crc, 0u);
    EXPECT_EQ(missing.totalBytes, -7);
}

TEST(Crc32File, AFileTheUserMayNotReadGivesError13CrcZeroAndLeavesTheCountAlone) {
    TempFolder folder;
    const std::string path = folder.write("secret", "private");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    if (::geteuid() != 0) {
        const FileResult denied = crcFile(path);
        EXPECT_EQ(denied.error, 13);
        EXPECT_EQ(denied.crc, 0u);
        EXPECT_EQ(denied.totalBytes, -7);
        return;
    }
    // Root reads regardless of permission bits: ask in a child that has given up root.
    ASSERT_EQ(::chmod(folder.root().c_str(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        const FileResult denied = crcFile(path);
        const bool asExpected = denied.error == 13 && denied.crc == 0 && denied.totalBytes == -7;
        ::_exit(asExpected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "100: could not drop privileges; 1: wrong result";
}

TEST(Crc32File, AFolderOpensButFailsToReadWithEisdirAndCountZero) {
    TempFolder folder;
    std::filesystem::create_directories(folder.path("sub"));
    const FileResult r = crcFile(folder.path("sub"));
    EXPECT_EQ(r.error, EISDIR);
    EXPECT_EQ(r.crc, 0u);
    EXPECT_EQ(r.totalBytes, 0);
}

TEST(Crc32File, ASymbolicLinkGivesTheCrcOfItsTargetTextNotOfTheTarget) {
    TempFolder folder;
    folder.write("target.txt", "the target's own content");
    ASSERT_EQ(::symlink("target.txt", folder.path("link").c_str()), 0);
    const FileResult link = crcFile(folder.path("link"));
    EXPECT_EQ(link.crc, crcOf("target.txt"));
    EXPECT_EQ(link.totalBytes, 10);
    EXPECT_EQ(link.error, 0);

    ASSERT_EQ(::symlink("../nowhere/at all", folder.path("dangling").c_str()), 0);
    const FileResult dangling = crcFile(folder.path("dangling"));
    EXPECT_EQ(dangling.crc, crcOf("../nowhere/at all"));
    EXPECT_EQ(dangling.error, 0);
}

TEST(Crc32File, AFolderReachedThroughALinkIsStillReadNormally) {
    TempFolder folder;
    const std::string content = "behind a linked folder";
    folder.write("real/file", content);
    ASSERT_EQ(::symlink("real", folder.path("alias").c_str()), 0);
    const FileResult r = crcFile(folder.path("alias/file"));
    EXPECT_EQ(r.crc, crcOf(content));
    EXPECT_EQ(r.error, 0);
}

TEST(Crc32File, AFifoIsNotReadAndDoesNotHang) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.path("pipe").c_str(), 0644), 0);
    const FileResult r = crcFile(folder.path("pipe"));
    EXPECT_EQ(r.error, EINVAL);
    EXPECT_EQ(r.crc, 0u);
    EXPECT_EQ(r.totalBytes, -7);
}

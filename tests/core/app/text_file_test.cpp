#include "core/app/text_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace paritas;
namespace fs = std::filesystem;

namespace {
std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
// Sets the process's umask for one test and gives the old one back.
struct ScopedUmask {
    mode_t previous;
    explicit ScopedUmask(mode_t mask) : previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous); }
};
mode_t modeOf(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
}
struct TempFolder {
    fs::path path = fs::temp_directory_path() / ("paritas-textfile-" + std::to_string(::getpid()));
    TempFolder() { fs::create_directories(path); }
    ~TempFolder() { fs::remove_all(path); }
};
} // namespace

TEST(TextFile, LinesEndWithCrLfAndASecondWriteReplacesTheFirst) {
    TempFolder t;
    const fs::path file = t.path / "ActionLog.txt";
    ASSERT_EQ(writeTextLines(file, {"first", "run"}), "");
    ASSERT_EQ(writeTextLines(file, {"second"}), "");
    EXPECT_EQ(slurp(file), "second\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path), fs::directory_iterator{}), 1)
        << "no temporary left";
}

TEST(TextFile, ReadingAcceptsCrLfAndLfAndKeepsEmptyLines) {
    TempFolder t;
    const fs::path file = t.path / "mixed.txt";
    std::ofstream(file, std::ios::binary) << "a\r\n\r\nb\nc";
    const auto lines = readTextLines(file);
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, (std::vector<std::string>{"a", "", "b", "c"}));
}

TEST(TextFile, AFileThatCannotBeCreatedReportsTheSystemErrorAndLeavesNothing) {
    TempFolder t;
    const std::string error = writeTextLines((t.path / "missing" / "log.txt").string(), {"x"});
    EXPECT_EQ(error, std::strerror(ENOENT));
    std::string readError;
    EXPECT_FALSE(readTextLines((t.path / "nothing.txt").string(), &readError));
    EXPECT_EQ(readError, std::strerror(ENOENT));
}

TEST(TextFile, AFileThatLooksLikeATemporaryNameIsNeverTouched) {
    TempFolder t;
    const fs::path file = t.path / "config.ini";
    const fs::path bystander = t.path / ("config.ini.paritas-" + std::to_string(::getpid()) + "-0.tmp");
    std::ofstream(bystander, std::ios::binary) << "somebody else's";
    ASSERT_EQ(writeTextLines(file, {"saved"}), "");
    EXPECT_EQ(slurp(file), "saved\r\n");
    EXPECT_EQ(slurp(bystander), "somebody else's");
}

TEST(TextFile, ANewFileTakesTheUmaskAndAReplacedFileKeepsItsMode) {
    TempFolder t;
    const fs::path file = t.path / "jobs.jbl";
    {
        ScopedUmask mask(027);
        ASSERT_EQ(writeTextLines(file, {"first"}), "");
        EXPECT_EQ(modeOf(file), mode_t(0640));
    }
    ::chmod(file.c_str(), 0604);
    ScopedUmask mask(077);
    ASSERT_EQ(writeTextLines(file, {"second"}), "");
    EXPECT_EQ(modeOf(file), mode_t(0604));
    EXPECT_EQ(slurp(file), "second\r\n");
}

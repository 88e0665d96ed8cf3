#include "core/app/text_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace paritas;
namespace fs = std::filesystem;

namespace {
std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
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

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/output_file.h"

namespace {
std::filesystem::path TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("vorlanx-platform-" + name);
}
std::uintmax_t SizeOf(const std::filesystem::path& path) {
    return std::filesystem::file_size(path);
}
} // namespace

TEST(OutputFile, TruncatesAndKeepsSmallWritesInOrder) {
    const auto path = TempPath("truncate");
    { std::ofstream(path) << std::string(10000, 'x'); }
    platform::COutputFile file;
    ASSERT_TRUE(file.Open(path.string()));
    EXPECT_EQ(SizeOf(path), 0u) << "opening must truncate";
    // Small writes that cross the buffer size several times, with writes that bypass the buffer
    // (one of exactly the direct size, one larger than the buffer) landing while it holds bytes.
    std::vector<unsigned char> expected;
    auto write = [&](const std::vector<unsigned char>& bytes) {
        file.Write(bytes.data(), bytes.size());
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    };
    for (unsigned i = 0; i < 700000; ++i) {
        write({static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 1, 2});
        if (i == 1000) {
            write(std::vector<unsigned char>(platform::COutputFile::kDirectBytes, 5));
        }
    }
    write(std::vector<unsigned char>(platform::COutputFile::kBufferBytes + 3, 7));
    write({9, 9});
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> actual{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(actual, expected);
    std::filesystem::remove(path);
}

TEST(OutputFile, OpenFailsWithoutThrowing) {
    platform::COutputFile file;
    EXPECT_FALSE(file.Open(""));
    EXPECT_FALSE(file.Open(std::filesystem::temp_directory_path().string())); // a directory
    EXPECT_FALSE(file.Open("/nonexistent-folder-of-vorlanx/x.wav"));
    EXPECT_FALSE(file.IsOpen());
}

TEST(OutputFile, FullDiskThrowsWithTheSystemsReason) {
    platform::COutputFile file;
    ASSERT_TRUE(file.Open("/dev/full"));
    const std::vector<unsigned char> bytes(platform::COutputFile::kBufferBytes / 2, 0);
    try {
        file.Write(bytes.data(), bytes.size());
        file.Write(bytes.data(), bytes.size());
        file.Write(bytes.data(), bytes.size());
        file.Close();
        FAIL() << "writing to /dev/full must fail";
    } catch (const platform::CFileException& error) {
        EXPECT_STREQ(error.what(), std::strerror(ENOSPC));
    }
    file.Close(); // already closed or closable again without a second report
    EXPECT_FALSE(file.IsOpen());
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/output_file.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder for one test, removed with it.
struct CFolder {
    CFolder() : m_path(fs::temp_directory_path() / ("vorlanx-platform-" + std::to_string(::getpid()))) {
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~CFolder() { fs::remove_all(m_path); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path m_path;
};

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(OutputFile, ReplacesTheTargetOnlyWhenCommittedAndKeepsWritesInOrder) {
    CFolder folder;
    const auto path = folder.m_path / "out.wav";
    { std::ofstream(path) << std::string(10000, 'x'); }
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    platform::COutputFile file;
    ASSERT_TRUE(file.Open(path.string()));
    // Small writes that cross the buffer size several times, with writes that bypass the buffer
    // (one of exactly the direct size, one larger than the buffer) landing while it holds bytes.
    std::string expected;
    auto write = [&](const std::string& bytes) {
        file.Write(bytes.data(), bytes.size());
        expected += bytes;
    };
    for (unsigned i = 0; i < 700000; ++i) {
        write({static_cast<char>(i), static_cast<char>(i >> 8), 1, 2});
        if (i == 1000) {
            write(std::string(platform::COutputFile::kDirectBytes, 5));
        }
    }
    write(std::string(platform::COutputFile::kBufferBytes + 3, 7));
    EXPECT_EQ(Read(path), std::string(10000, 'x')) << "the target is untouched until the commit";
    ASSERT_EQ(folder.Names().size(), 2u);
    EXPECT_EQ(folder.Names()[0].rfind(".out.wav.", 0), 0u) << "a hidden temporary named after the target";
    write({9, 9});
    file.Commit();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(Read(path), expected);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.wav"});
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(OutputFile, DiscardLeavesTheTargetAndNoTemporary) {
    CFolder folder;
    const auto path = folder.m_path / "keep.wav";
    { std::ofstream(path) << "old"; }
    {
        platform::COutputFile file;
        ASSERT_TRUE(file.Open(path.string()));
        file.Write("new", 3);
        file.Discard();
        EXPECT_FALSE(file.IsOpen());
    }
    {
        platform::COutputFile file; // the destructor discards too
        ASSERT_TRUE(file.Open((folder.m_path / "fresh.wav").string()));
        file.Write("new", 3);
    }
    EXPECT_EQ(Read(path), "old");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"keep.wav"});
}

TEST(OutputFile, ALinkIsFollowedAndStaysALink) {
    CFolder folder;
    fs::create_directories(folder.m_path / "real");
    { std::ofstream(folder.m_path / "real/target.wav") << "old"; }
    fs::create_symlink("real/target.wav", folder.m_path / "link.wav");
    platform::COutputFile file;
    ASSERT_TRUE(file.Open((folder.m_path / "link.wav").string()));
    file.Write("new", 3);
    file.Commit();
    EXPECT_TRUE(fs::is_symlink(folder.m_path / "link.wav"));
    EXPECT_EQ(Read(folder.m_path / "real/target.wav"), "new");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"link.wav", "real"}));
}

TEST(OutputFile, OpenFailuresSayWhy) {
    CFolder folder;
    fs::create_symlink("loop-b", folder.m_path / "loop-a");
    fs::create_symlink("loop-a", folder.m_path / "loop-b");
    const struct {
        std::string path;
        int error;
    } cases[] = {
        {"", ENOENT},
        {folder.m_path.string(), EISDIR},
        {(folder.m_path / "sub/").string(), EISDIR},
        {(folder.m_path / "missing/x.wav").string(), ENOENT},
        {(folder.m_path / "loop-a").string(), ELOOP},
        {(folder.m_path / std::string(300, 'n')).string(), ENAMETOOLONG},
    };
    for (const auto& c : cases) {
        platform::COutputFile file;
        EXPECT_FALSE(file.Open(c.path)) << c.path;
        EXPECT_EQ(file.OpenError(), std::strerror(c.error)) << c.path;
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"loop-a", "loop-b"}));
}

TEST(OutputFile, FullDiskThrowsWithTheSystemsReason) {
    platform::COutputFile file;
    ASSERT_TRUE(file.Open("/dev/full"));
    const std::vector<unsigned char> bytes(platform::COutputFile::kBufferBytes / 2, 0);
    try {
        file.Write(bytes.data(), bytes.size());
        file.Write(bytes.data(), bytes.size());
        file.Write(bytes.data(), bytes.size());
        file.Commit();
        FAIL() << "writing to /dev/full must fail";
    } catch (const platform::CFileException& error) {
        EXPECT_STREQ(error.what(), std::strerror(ENOSPC));
    }
    file.Commit(); // already closed: nothing more to report
    EXPECT_FALSE(file.IsOpen());
}

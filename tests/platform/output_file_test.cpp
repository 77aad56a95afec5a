#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
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

// A file with a second name is copied over in place, so that both names see the new bytes; one
// with a single name is renamed over.
TEST(OutputFile, AHardLinkedFileIsCopiedOverInPlace) {
    CFolder folder;
    const auto path = folder.m_path / "a.wav";
    { std::ofstream(path) << "old bytes, longer than the new"; }
    fs::create_hard_link(path, folder.m_path / "b.wav");
    const auto links = fs::hard_link_count(path);
    platform::COutputFile file;
    ASSERT_TRUE(file.Open(path.string()));
    EXPECT_EQ(file.Mode(), platform::COutputFile::EMode::CopyInPlace);
    file.Write("new", 3);
    EXPECT_EQ(Read(path), "old bytes, longer than the new") << "nothing changes before the commit";
    file.Commit();
    EXPECT_EQ(Read(folder.m_path / "b.wav"), "new");
    EXPECT_EQ(fs::hard_link_count(path), links);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.wav", "b.wav"})) << "no temporary beside it";

    const auto single = folder.m_path / "single.wav";
    { std::ofstream(single) << "old"; }
    ASSERT_TRUE(file.Open(single.string()));
    EXPECT_EQ(file.Mode(), platform::COutputFile::EMode::Replace);
    file.Discard();
}

// Root replacing another user's file gives the new file that user and group back.
TEST(OutputFile, ARenamedFileKeepsItsOwnerAndGroup) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    CFolder folder;
    const auto path = folder.m_path / "theirs.wav";
    { std::ofstream(path) << "old"; }
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    platform::COutputFile file;
    ASSERT_TRUE(file.Open(path.string()));
    EXPECT_EQ(file.Mode(), platform::COutputFile::EMode::Replace);
    file.Write("new", 3);
    file.Commit();
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(Read(path), "new");
}

// Any path that is not a regular file is written as a stream: a pipe named through /proc or /dev/fd.
TEST(OutputFile, APipeNamedThroughItsDescriptorIsAStream) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    platform::COutputFile file;
    ASSERT_TRUE(file.Open("/proc/self/fd/" + std::to_string(ends[1]))) << file.OpenError();
    EXPECT_EQ(file.Mode(), platform::COutputFile::EMode::Stream);
    file.Write("abc", 3);
    file.Commit();
    EXPECT_EQ(file.BytesWritten(), 3u);
    ::close(ends[1]);
    char bytes[4] = {};
    EXPECT_EQ(::read(ends[0], bytes, sizeof bytes), 3);
    EXPECT_STREQ(bytes, "abc");
    ::close(ends[0]);
}

namespace {
// Counts the polls of a wait and gives up after `polls` of them.
struct CCountingWait : platform::COpenWait {
    explicit CCountingWait(int polls) : m_nPolls(polls) {}
    void Waiting(const std::string& path) override { m_strPath = path; }
    bool KeepWaiting() override { return m_nSeen++ < m_nPolls; }
    int m_nPolls;
    int m_nSeen = 0;
    std::string m_strPath;
};
} // namespace

// Opening a FIFO that nothing reads waits without blocking in open(): the wait can give up, and a
// reader that comes ends it.
TEST(OutputFile, AFifoWaitsForItsReaderAndTheWaitCanEnd) {
    CFolder folder;
    const auto fifo = folder.m_path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CCountingWait givesUp(3);
    platform::COutputFile file;
    EXPECT_FALSE(file.Open(fifo.string(), &givesUp));
    EXPECT_TRUE(file.Cancelled());
    EXPECT_EQ(givesUp.m_strPath, fifo.string());
    EXPECT_EQ(givesUp.m_nSeen, 4);

    std::string received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        std::ifstream in(fifo, std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), {});
    });
    CCountingWait patient(1000);
    ASSERT_TRUE(file.Open(fifo.string(), &patient)) << file.OpenError();
    EXPECT_GE(patient.m_nSeen, 1);
    file.Write("through", 7);
    file.Commit();
    reader.join();
    EXPECT_EQ(received, "through");
}

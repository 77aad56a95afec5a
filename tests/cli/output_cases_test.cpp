// vorlanx-gen where a rename cannot replace the output, and on streams: files in folders the user
// may not write, another user's file in a sticky folder, FIFOs without a reader, pipes named by
// their descriptor, readers that stop early, and interruptions of a stream.
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";

struct COwnerCase {
    const char* m_szName;
    fs::perms m_eFolder;    // the folder's mode (root's)
    fs::perms m_eFile;      // the existing file's mode (root's)
    int m_nStatus;          // as nobody
    const char* m_szReason; // on standard error, for a refusal
};

std::ostream& operator<<(std::ostream& out, const COwnerCase& c) {
    return out << c.m_szName;
}

class VorlanxGenOwners : public testing::TestWithParam<COwnerCase> {};

// An ordinary user writes a file that root owns: copied over in place where the folder forbids a
// rename; refused before any rendering where the file itself may not be written. Either way the
// file keeps its owner and mode, and no temporary stays anywhere.
TEST_P(VorlanxGenOwners, CopiedInPlaceOrRefusedBeforeRendering) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the generator as another user";
    }
    const COwnerCase& c = GetParam();
    test::CTempDir dir;
    const fs::path folder = dir / "folder", temporaries = dir / "tmp", target = folder / "w.wav";
    fs::create_directories(folder);
    fs::create_directories(temporaries);
    fs::permissions(temporaries, fs::perms::all | fs::perms::sticky_bit);
    test::WriteBytes(target, {'o', 'l', 'd'});
    fs::permissions(target, c.m_eFile);
    fs::permissions(folder, c.m_eFolder);
    const std::string env = "TMPDIR=" + temporaries.string() + " " + kAsNobody;
    const test::CRun run =
        test::RunGenerator(dir, {"-o", target.string(), "--duration", "0.01"}, env.c_str());
    EXPECT_EQ(run.m_nStatus, c.m_nStatus) << run.m_strErr;
    if (c.m_nStatus == 0) {
        test::CTempDir reference;
        ASSERT_EQ(test::RunGenerator(reference, {"-o", (reference / "r.wav").string(), "--duration", "0.01"})
                      .m_nStatus,
                  0);
        EXPECT_EQ(test::ReadBytes(target), test::ReadBytes(reference / "r.wav"));
        EXPECT_EQ(run.m_strErr, "");
    } else {
        EXPECT_EQ(test::ReadBytes(target), (std::vector<unsigned char>{'o', 'l', 'd'}));
        EXPECT_EQ(run.m_strErr,
                  "vorlanx-gen: File open failed! " + target.string() + ": " + c.m_szReason + "\n");
    }
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(static_cast<fs::perms>(info.st_mode & 07777), c.m_eFile);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1) << "a temporary beside the file";
    EXPECT_EQ(std::distance(fs::directory_iterator(temporaries), {}), 0) << "a temporary left behind";
}

constexpr auto kAll = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec; // 755
constexpr auto kWritableByAll = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::group_write | fs::perms::others_read |
                                fs::perms::others_write; // 666

INSTANTIATE_TEST_SUITE_P(
    Table, VorlanxGenOwners,
    testing::Values(COwnerCase{"folder_not_writable", kAll, kWritableByAll, 0, ""},
                    COwnerCase{"sticky_folder_another_owner", fs::perms::all | fs::perms::sticky_bit,
                               kWritableByAll, 0, ""},
                    COwnerCase{"file_not_writable", fs::perms::all | fs::perms::sticky_bit,
                               fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read, 1,
                               "Permission denied"}),
    [](const auto& info) { return std::string(info.param.m_szName); });

// Starts vorlanx-gen through bash with `command` around it; returns its pid.
pid_t SpawnShell(const std::string& command) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/bash", "bash", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

int WaitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ctrl-C while no program reads the FIFO: at once, one message, nothing else.
TEST(VorlanxGenStreams, AFifoWithoutAReaderWaitsUntilInterrupted) {
    test::CTempDir dir;
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = SpawnShell("exec " + test::Quote(VORLANX_GEN_PATH) + " -o " +
                                 test::Quote(fifo.string()) + " 2>" + test::Quote((dir / "err").string()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    EXPECT_EQ(WaitStatus(pid), 130);
    EXPECT_EQ(test::Slurp(dir / "err"),
              "vorlanx-gen: interrupted; nothing was written to " + fifo.string() + "\n");
}

// Pipes named by their descriptor are streams; a reader that stops early ends the generator quietly
// with the status of SIGPIPE, as the standard tools in a pipeline.
TEST(VorlanxGenStreams, PipesAndReadersThatStopEarly) {
    test::CTempDir dir;
    const std::string gen = test::Quote(VORLANX_GEN_PATH);
    const std::string out = test::Quote((dir / "out").string()), err = test::Quote((dir / "err").string());
    const struct {
        std::string m_strCommand;
        int m_nStatus;
        std::size_t m_nBytes;
    } cases[] = {
        {gen + " -o /dev/fd/1 --duration 0.01 2>" + err + " | cat >" + out, 0, 44 + 4 * 441},
        {gen + " -o /proc/self/fd/1 --duration 0.01 2>" + err + " | cat >" + out, 0, 44 + 4 * 441},
        {gen + " -o >(cat >" + out + ") --duration 0.01 2>" + err + "; sleep 0.2", 0, 44 + 4 * 441},
        {gen + " -o - --duration 30 2>" + err + " | head -c 100 >" + out + "; exit ${PIPESTATUS[0]}", 141,
         100},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WaitStatus(SpawnShell(c.m_strCommand)), c.m_nStatus) << c.m_strCommand;
        EXPECT_EQ(test::ReadBytes(dir / "out").size(), c.m_nBytes) << c.m_strCommand;
        EXPECT_EQ(test::Slurp(dir / "err"), "") << c.m_strCommand;
    }
}

// An interrupted stream is not "left unchanged": it says how much of it went out.
TEST(VorlanxGenStreams, AnInterruptedStreamSaysItIsIncomplete) {
    test::CTempDir dir;
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[1], STDOUT_FILENO);
        const int err = ::open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, STDERR_FILENO);
        ::close(ends[0]);
        ::execl(VORLANX_GEN_PATH, VORLANX_GEN_PATH, "-o", "-", "--duration", "10000",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[1]);
    std::vector<char> buffer(1 << 16);
    std::size_t received = 0;
    while (received < (1u << 22)) {
        const ssize_t read = ::read(ends[0], buffer.data(), buffer.size());
        ASSERT_GT(read, 0);
        received += static_cast<std::size_t>(read);
    }
    ::kill(pid, SIGINT);
    for (ssize_t read; (read = ::read(ends[0], buffer.data(), buffer.size())) > 0;) {
        received += static_cast<std::size_t>(read);
    }
    ::close(ends[0]);
    EXPECT_EQ(WaitStatus(pid), 130);
    EXPECT_EQ(test::Slurp(dir / "err"), "vorlanx-gen: interrupted after " + std::to_string(received) +
                                            " of " + std::to_string(44 + 4ull * 44100 * 10000) +
                                            " bytes; standard output is incomplete\n");
}

} // namespace

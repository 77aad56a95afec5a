// vorlanx-gen under interruption, size limits, concurrency and pipes: an existing file is either
// left exactly as it was or replaced by one complete file, and no temporary stays behind.
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Starts vorlanx-gen with `arguments`, standard output and error to files in `logs`.
pid_t Spawn(const std::vector<std::string>& arguments, const fs::path& logs, const std::string& tag) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open((logs / (tag + ".out")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open((logs / (tag + ".err")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(VORLANX_GEN_PATH)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(VORLANX_GEN_PATH, argv.data());
        ::_exit(127);
    }
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A folder holding one existing output file with known bytes.
struct COutputFolder {
    COutputFolder() {
        fs::create_directories(m_folder);
        test::WriteBytes(m_file, m_aOld);
    }
    test::CTempDir m_dir;
    fs::path m_folder = m_dir / "out";
    fs::path m_file = m_folder / "old.wav";
    std::vector<unsigned char> m_aOld = {'o', 'l', 'd'};
};

} // namespace

TEST(VorlanxGenSafeOutput, InterruptLeavesTheFileAndNoTemporary) {
    const std::vector<std::vector<std::string>> formats = {
        {}, {"--format", "s24", "--rf64"}, {"--container", "flac"}};
    for (const std::vector<std::string>& format : formats) {
        COutputFolder out;
        std::vector<std::string> arguments = {"-o", out.m_file.string(), "--fundamental",
                                              "1",  "--duration",        "200"};
        arguments.insert(arguments.end(), format.begin(), format.end());
        const pid_t pid = Spawn(arguments, out.m_dir / "", "run");
        // Wait until the job is writing its temporary, then interrupt it as Ctrl-C would.
        for (int i = 0; i < 500 && Names(out.m_folder).size() < 2; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(Names(out.m_folder).size(), 2u) << "the job never started writing";
        ::kill(pid, SIGINT);
        EXPECT_EQ(ExitStatus(pid), 130);
        EXPECT_EQ(test::ReadBytes(out.m_file), out.m_aOld);
        EXPECT_EQ(Names(out.m_folder), std::vector<std::string>{"old.wav"});
        EXPECT_EQ(test::Slurp(out.m_dir / "run.err"),
                  "vorlanx-gen: interrupted; " + out.m_file.string() + " left unchanged\n")
            << "no progress line when standard error is not a terminal";
    }
}

TEST(VorlanxGenSafeOutput, FileSizeLimitIsAFailedWriteThatLeavesTheFile) {
    for (const char* container : {"wav", "flac"}) { // FLAC fails on its encoding thread
        COutputFolder out;
        const test::CRun run = test::RunGenerator(
            out.m_dir, {"-o", out.m_file.string(), "--container", container}, "ulimit -f 100;");
        EXPECT_EQ(run.m_nStatus, 1) << container;
        EXPECT_EQ(run.m_strErr, "vorlanx-gen: File write failed! File too large (" + out.m_file.string() +
                                    " is unchanged)\n")
            << container;
        EXPECT_EQ(test::ReadBytes(out.m_file), out.m_aOld);
        EXPECT_EQ(Names(out.m_folder), std::vector<std::string>{"old.wav"});
    }
}

TEST(VorlanxGenSafeOutput, ConcurrentRunsLeaveOneRunsCompleteFile) {
    COutputFolder out;
    const std::vector<std::string> a = {"--duration", "3", "--mother-amplitude", "0.5"};
    const std::vector<std::string> b = {"--duration", "3", "--daughter-amplitude1", "0.5"};
    const auto with = [&](std::vector<std::string> arguments, const fs::path& file) {
        arguments.insert(arguments.begin(), {"-o", file.string()});
        return arguments;
    };
    ASSERT_EQ(test::RunGenerator(out.m_dir, with(a, out.m_dir / "a.wav")).m_nStatus, 0);
    ASSERT_EQ(test::RunGenerator(out.m_dir, with(b, out.m_dir / "b.wav")).m_nStatus, 0);
    const pid_t first = Spawn(with(a, out.m_file), out.m_dir / "", "a");
    const pid_t second = Spawn(with(b, out.m_file), out.m_dir / "", "b");
    EXPECT_EQ(ExitStatus(first), 0);
    EXPECT_EQ(ExitStatus(second), 0);
    const auto bytes = test::ReadBytes(out.m_file);
    EXPECT_TRUE(bytes == test::ReadBytes(out.m_dir / "a.wav") ||
                bytes == test::ReadBytes(out.m_dir / "b.wav"));
    EXPECT_EQ(Names(out.m_folder), std::vector<std::string>{"old.wav"});
}

TEST(VorlanxGenSafeOutput, DashWritesToStandardOutput) {
    test::CTempDir dir;
    const test::CRun piped = test::RunGenerator(dir, {"-o", "-", "--duration", "0.1"});
    const test::CRun file = test::RunGenerator(dir, {"-o", (dir / "x.wav").string(), "--duration", "0.1"});
    EXPECT_EQ(piped.m_nStatus, 0);
    EXPECT_EQ(file.m_nStatus, 0);
    const auto bytes = test::ReadBytes(dir / "x.wav");
    EXPECT_EQ(std::vector<unsigned char>(piped.m_strOut.begin(), piped.m_strOut.end()), bytes);
    EXPECT_FALSE(fs::exists(dir / "-"));
}

namespace {

// Two runs writing at once to a file that has a second hard link (written in place, not renamed):
// the file ends as the whole of one run's bytes, never a mix of both, and both say they wrote it.
TEST(VorlanxGenConcurrentWriters, AHardLinkedFileEndsAsOneWholeFile) {
    test::CTempDir dir;
    const fs::path target = dir / "shared.wav";
    const std::vector<std::string> a = {"-q", "--duration", "100", "--fundamental", "277"};
    const std::vector<std::string> b = {"-q", "--duration", "100", "--fundamental", "300"};
    for (const auto& [settings, name] : {std::pair{a, "a.wav"}, std::pair{b, "b.wav"}}) {
        std::vector<std::string> arguments = settings;
        arguments.insert(arguments.end(), {"-o", (dir / name).string()});
        ASSERT_EQ(test::RunGenerator(dir, arguments).m_nStatus, 0);
    }
    const auto bytesA = test::ReadBytes(dir / "a.wav"), bytesB = test::ReadBytes(dir / "b.wav");
    for (int trial = 0; trial < 6; ++trial) {
        test::WriteBytes(target, {'o', 'l', 'd'});
        fs::remove(dir / "link.wav");
        fs::create_hard_link(target, dir / "link.wav");
        std::vector<std::string> first = a, second = b;
        first.insert(first.end(), {"-o", target.string()});
        second.insert(second.end(), {"-o", target.string()});
        const pid_t one = Spawn(first, dir.Path(), "one"), two = Spawn(second, dir.Path(), "two");
        int status1 = 0, status2 = 0;
        ::waitpid(one, &status1, 0);
        ::waitpid(two, &status2, 0);
        EXPECT_EQ(WEXITSTATUS(status1), 0) << test::Slurp(dir / "one.err");
        EXPECT_EQ(WEXITSTATUS(status2), 0) << test::Slurp(dir / "two.err");
        const auto bytes = test::ReadBytes(target);
        EXPECT_TRUE(bytes == bytesA || bytes == bytesB) << "trial " << trial << ": a mix of both runs";
        EXPECT_EQ(test::ReadBytes(dir / "link.wav"), bytes) << "the link sees the same file";
    }
}

} // namespace

// A file that exists in a folder where nothing can be created (procfs) is not called missing, and a
// failed write says what became of the target.
TEST(VorlanxGenSafeOutput, MessagesSayWhatBecameOfTheTarget) {
    COutputFolder out;
    const test::CRun proc = test::RunGenerator(out.m_dir, {"-o", "/proc/version", "--duration", "0.1"});
    EXPECT_EQ(proc.m_nStatus, 1);
    EXPECT_NE(
        proc.m_strErr.find("/proc/version: it exists, but the file that is written first and then replaces "
                           "it cannot be created in /proc/: "),
        std::string::npos)
        << proc.m_strErr;
    const std::filesystem::path fresh = out.m_folder / "new.wav";
    const test::CRun full = test::RunGenerator(out.m_dir, {"-o", fresh.string()}, "ulimit -f 100;");
    EXPECT_EQ(full.m_nStatus, 1);
    EXPECT_EQ(full.m_strErr, "vorlanx-gen: File write failed! File too large (nothing was left at " +
                                 fresh.string() + ")\n");
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

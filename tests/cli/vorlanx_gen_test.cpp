// End-to-end: runs the vorlanx-gen executable and checks its files, messages and exit statuses.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

#include <nlohmann/json.hpp>

#include "generation/generate_job.h"
#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

TEST(VorlanxGen, HelpAndVersion) {
    test::CTempDir dir;
    for (const char* flag : {"-h", "--help"}) {
        const test::CRun run = test::RunGenerator(dir, {flag});
        EXPECT_EQ(run.m_nStatus, 0);
        EXPECT_EQ(run.m_strOut.rfind("Usage:", 0), 0u);
    }
    const test::CRun run = test::RunGenerator(dir, {"--version"});
    EXPECT_EQ(run.m_nStatus, 0);
    EXPECT_EQ(run.m_strOut.rfind("vorlanx-gen 1.0.0.1\nCopyright (C) 2026 Vorlanx\nLicense MIT", 0), 0u)
        << run.m_strOut;
}

TEST(VorlanxGen, WritesTheSameBytesAsTheCoreWithBothOptionForms) {
    test::CTempDir dir;
    const test::CRun spaced = test::RunGenerator(dir, {"-o",
                                                       (dir / "a.wav").string(),
                                                       "--duration",
                                                       "0.5",
                                                       "--sample-rate",
                                                       "8000",
                                                       "--fundamental",
                                                       "100",
                                                       "--mother-amplitude",
                                                       "0.5",
                                                       "--carrier1",
                                                       "1000",
                                                       "--daughter-amplitude1",
                                                       "0.2",
                                                       "--carrier2",
                                                       "-1500",
                                                       "--daughter-amplitude2",
                                                       "0.1",
                                                       "--nyquist-factor",
                                                       "0.8"});
    const test::CRun joined = test::RunGenerator(
        dir, {"--output=" + (dir / "b.wav").string(), "--duration= 0.5 ", "--sample-rate=8000",
              "--fundamental=100", "--mother-amplitude=0.5", "--carrier1=1000", "--daughter-amplitude1=0.2",
              "--carrier2=-1500", "--daughter-amplitude2=0.1", "--nyquist-factor=0.8"});
    EXPECT_EQ(spaced.m_nStatus, 0) << spaced.m_strErr;
    EXPECT_EQ(joined.m_nStatus, 0) << joined.m_strErr;
    EXPECT_EQ(spaced.m_strErr, "");

    CGenerationSettings settings;
    settings.m_strFileName = (dir / "core.wav").string();
    settings.m_dDuration = 0.5;
    settings.m_nSampleRate = 8000;
    settings.m_dFundamentalFreq = 100;
    settings.m_dMotherAmplitude = 0.5;
    settings.m_dCarrierFreq1 = 1000;
    settings.m_dDaughterAmplitude1 = 0.2;
    settings.m_dCarrierFreq2 = -1500;
    settings.m_dDaughterAmplitude2 = 0.1;
    settings.m_dNyquistFactor = 0.8;
    test::CRecordingFeedback feedback;
    ASSERT_TRUE(GenerateTestFile(settings, feedback));
    const auto core = test::ReadBytes(dir / "core.wav");
    EXPECT_EQ(core.size(), 44u + 4 * 4000);
    EXPECT_EQ(test::ReadBytes(dir / "a.wav"), core);
    EXPECT_EQ(test::ReadBytes(dir / "b.wav"), core);
}

TEST(VorlanxGen, DefaultOutputGoesToHome) {
    test::CTempDir dir;
    const std::string env = "HOME=" + test::Quote((dir / "").string());
    const test::CRun run = test::RunGenerator(dir, {"--duration", "0.01"}, env.c_str());
    EXPECT_EQ(run.m_nStatus, 0) << run.m_strErr;
    EXPECT_EQ(std::filesystem::file_size(dir / "Ombrel.wav"), 44u + 4 * 441);
}

struct UsageCase {
    std::vector<std::string> arguments;
    int status;
    const char* phrase; // expected on standard error ("" for none)
};

std::ostream& operator<<(std::ostream& out, const UsageCase& c) {
    for (const std::string& argument : c.arguments) {
        out << argument << ' ';
    }
    return out << "-> " << c.status;
}

class VorlanxGenStatusTest : public testing::TestWithParam<UsageCase> {};

TEST_P(VorlanxGenStatusTest, ExitStatusAndMessage) {
    const UsageCase c = GetParam();
    test::CTempDir dir;
    const auto output = dir / "out.wav";
    test::WriteBytes(output, {1, 2, 3});
    std::vector<std::string> arguments = {"-o", output.string()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const test::CRun run = test::RunGenerator(dir, arguments);
    EXPECT_EQ(run.m_nStatus, c.status) << run.m_strErr;
    EXPECT_NE(run.m_strErr.find(c.phrase), std::string::npos) << run.m_strErr;
    if (c.status != 0) {
        EXPECT_EQ(test::ReadBytes(output), (std::vector<unsigned char>{1, 2, 3})) << "file must be untouched";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VorlanxGenStatusTest,
    testing::Values(
        UsageCase{{"--duration", "0.01"}, 0, ""}, UsageCase{{"--duration", "0"}, 0, ""},
        UsageCase{{"--duration", "0.01", "--mother-amplitude", "3"}, 0, "Warning! Clipped samples detected"},
        UsageCase{{"--nyquist-factor", "1", "--duration", "0.01"}, 0, ""},
        UsageCase{{"--sample-rate", "1000000", "--duration", "0.001"}, 0, ""},
        UsageCase{{"--bogus"}, 2, "unknown option '--bogus'"}, UsageCase{{"stray"}, 2, "unexpected argument"},
        UsageCase{{"--duration"}, 2, "--duration needs a value"},
        UsageCase{{"--duration", "abc"}, 2, "--duration expects a number"},
        UsageCase{{"--duration", "5s"}, 2, "--duration expects a number"},
        UsageCase{{"--duration", "nan"}, 2, "--duration expects a number"},
        UsageCase{{"--fundamental", "inf"}, 2, "--fundamental expects a number"},
        UsageCase{{"--nyquist-factor", "0,9"}, 2, "use a decimal point"},
        UsageCase{{"--carrier1", "1e999"}, 2, "--carrier1 expects a number"},
        UsageCase{{"--duration", "-1"}, 2, "--duration must be between 0 and 1000000"},
        UsageCase{{"--duration", "1000001"}, 2, "between 0 and 1000000"},
        UsageCase{{"--nyquist-factor", "2"}, 2, "--nyquist-factor must be between 0 and 1"},
        UsageCase{
            {"--sample-rate", "44100.5"}, 2, "--sample-rate must be a whole number between 0 and 1000000"},
        UsageCase{{"--sample-rate", "1000001"}, 2, "--sample-rate must be a whole number"},
        UsageCase{{"--duration", "1000000", "--sample-rate", "1000000"}, 1, "Not enough free space"},
        UsageCase{{"--fundamental", "0", "--duration", "1"}, 1, "fundamental frequency 0 Hz"},
        UsageCase{{"--fundamental", "-3", "--duration", "1"}, 1, "fundamental frequency -3 Hz"}));

TEST(VorlanxGen, OpenAndWriteFailuresExitWithOne) {
    test::CTempDir dir;
    const test::CRun open =
        test::RunGenerator(dir, {"-o", (dir / "no/such/x.wav").string(), "--duration", "0.01"});
    EXPECT_EQ(open.m_nStatus, 1);
    EXPECT_EQ(open.m_strErr, "vorlanx-gen: File open failed! " + (dir / "no/such/x.wav").string() +
                                 ": No such file or directory\n");
    const test::CRun write = test::RunGenerator(dir, {"-o", "/dev/full"});
    EXPECT_EQ(write.m_nStatus, 1);
    EXPECT_EQ(write.m_strErr.rfind("vorlanx-gen: File write failed! ", 0), 0u) << write.m_strErr;
}

// --info writes nothing; its JSON holds the plan and the exact peak; refused settings exit 1.
TEST(VorlanxGen, InfoPrintsThePlanAndWritesNothing) {
    test::CTempDir dir;
    const auto output = dir / "never.wav";
    const test::CRun text = test::RunGenerator(dir, {"--info", "-o", output.string()});
    EXPECT_EQ(text.m_nStatus, 0);
    EXPECT_NE(text.m_strOut.find("37 harmonics, n = 3..75, 831 Hz to 20775 Hz"), std::string::npos)
        << text.m_strOut;
    EXPECT_NE(text.m_strOut.find("29006.06 (-1.06 dBFS)"), std::string::npos) << text.m_strOut;

    const test::CRun json =
        test::RunGenerator(dir, {"--info", "--json", "-o", output.string(), "--mother-amplitude", "2"});
    EXPECT_EQ(json.m_nStatus, 0);
    const auto plan = nlohmann::json::parse(json.m_strOut);
    EXPECT_EQ(plan["frames"], 1323000);
    EXPECT_EQ(plan["bytes"], 5292044);
    EXPECT_EQ(plan["duration_s"], 30.0);
    EXPECT_EQ(plan["sample_rate"], 44100);
    EXPECT_EQ(plan["band_limit_hz"], 20947.5);
    EXPECT_EQ(plan["harmonics"].size(), 37u);
    EXPECT_EQ(plan["harmonics"][0]["n"], 3);
    EXPECT_EQ(plan["harmonics"][0]["frequency_hz"], 831.0);
    EXPECT_EQ(plan["daughters"].size(), 2u);
    EXPECT_TRUE(plan["clips"]);
    EXPECT_GT(plan["peak"].get<double>(), 32767.0);
    EXPECT_EQ(plan["warnings"].size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(output)) << "--info creates nothing";

    const test::CRun refused = test::RunGenerator(dir, {"--info", "--json", "--fundamental", "0"});
    EXPECT_EQ(refused.m_nStatus, 1);
    EXPECT_TRUE(nlohmann::json::parse(refused.m_strOut)["refusal"].is_string());
    EXPECT_EQ(test::RunGenerator(dir, {"--json"}).m_nStatus, 2);
}

// Every option that --help lists is in the man page, so the two cannot drift apart unnoticed.
TEST(VorlanxGen, ManPageNamesEveryOptionOfHelp) {
    test::CTempDir dir;
    const std::string help = test::RunGenerator(dir, {"--help"}).m_strOut;
    const std::string page = test::Slurp(VORLANX_MAN_PAGE);
    ASSERT_FALSE(page.empty());
    std::size_t options = 0;
    EXPECT_EQ(test::OptionsMissingFromManPage(help, page, options), std::vector<std::string>{});
    EXPECT_GE(options, 17u);
}

// Bash completion offers a file name with a space as one word, after -o and after --output=.
TEST(VorlanxGen, CompletionKeepsFileNamesWithSpacesWhole) {
    test::CTempDir dir;
    test::WriteBytes(dir / "my take.wav", {});
    const struct {
        const char* m_szScript;
        const char* m_szFunction;
        const char* m_szWords;
        const char* m_szExpected;
    } cases[] = {
        {VORLANX_GEN_COMPLETION, "_vorlanx_gen", "vorlanx-gen -o my", "[my take.wav]"},
        {VORLANX_GEN_COMPLETION, "_vorlanx_gen", "vorlanx-gen --output=my", "[--output=my take.wav]"},
        {VORLANX_ANALYZE_COMPLETION, "_vorlanx_analyze", "vorlanx-analyze -o my", "[my take.wav]"},
        {VORLANX_ANALYZE_COMPLETION, "_vorlanx_analyze", "vorlanx-analyze my", "[my take.wav]"},
    };
    for (const auto& c : cases) {
        const std::string script =
            "cd " + test::Quote(dir.operator/("").string()) + " && shopt -s extglob && source " +
            test::Quote(c.m_szScript) + " && COMP_WORDS=(" + c.m_szWords +
            ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && " + c.m_szFunction +
            " && printf '[%s]' \"${COMPREPLY[@]}\" >" + test::Quote((dir / "out").string());
        ASSERT_EQ(std::system(("bash -c " + test::Quote(script)).c_str()), 0) << script;
        EXPECT_EQ(test::Slurp(dir / "out"), c.m_szExpected) << c.m_szWords;
    }
}

// --info renders the whole file for its peak: an amplitude beyond every double reads "infinite"
// (null in JSON, with peak_infinite), and Ctrl-C stops a long one at once.
TEST(VorlanxGen, InfoSaysInfiniteAndCanBeInterrupted) {
    test::CTempDir dir;
    const test::CRun text =
        test::RunGenerator(dir, {"--info", "--mother-amplitude", "1e308", "--duration", "1"});
    EXPECT_NE(text.m_strOut.find("Peak:        infinite; the clipping warning will appear"),
              std::string::npos)
        << text.m_strOut;
    const test::CRun json =
        test::RunGenerator(dir, {"--info", "--json", "--mother-amplitude", "1e308", "--duration", "1"});
    const auto plan = nlohmann::json::parse(json.m_strOut);
    EXPECT_TRUE(plan["peak"].is_null());
    EXPECT_TRUE(plan["peak_infinite"]);
    EXPECT_TRUE(plan["clips"]);

    const std::string command = "exec " + test::Quote(VORLANX_GEN_PATH) +
                                " --info --fundamental 0.4 --duration 20000 >/dev/null 2>" +
                                test::Quote((dir / "err").string());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(2));
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130);
    EXPECT_EQ(test::Slurp(dir / "err"), "vorlanx-gen: interrupted; no plan printed\n");
}

// End-to-end: runs vorlanx-analyze on files and checks its reports, messages and exit statuses.
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "generation/generate_job.h"
#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

namespace {

test::CRun RunAnalyzer(const test::CTempDir& dir, const std::vector<std::string>& arguments,
                       const char* env = "") {
    return test::RunProgram(VORLANX_ANALYZE_PATH, dir, arguments, env);
}

class VorlanxAnalyze : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pDir = new test::CTempDir;
        test::CRecordingFeedback feedback;
        ASSERT_TRUE(GenerateTestFile(test::ShortSettings(*s_pDir / "stimulus.wav", 2.0), feedback));
    }
    static void TearDownTestSuite() { delete s_pDir; }
    static std::string Stimulus() { return (*s_pDir / "stimulus.wav").string(); }
    static test::CTempDir* s_pDir;
};
test::CTempDir* VorlanxAnalyze::s_pDir = nullptr;

TEST_F(VorlanxAnalyze, ReportsAsTextJsonAndCsv) {
    test::CTempDir dir;
    const test::CRun text = RunAnalyzer(dir, {Stimulus()});
    EXPECT_EQ(text.m_nStatus, 0) << text.m_strErr;
    EXPECT_NE(text.m_strOut.find("clock offset +0.00 ppm"), std::string::npos) << text.m_strOut;
    EXPECT_NE(text.m_strOut.find("Warnings: none"), std::string::npos);

    const test::CRun json = RunAnalyzer(dir, {"--json", Stimulus()});
    ASSERT_EQ(json.m_nStatus, 0) << json.m_strErr;
    const auto report = nlohmann::json::parse(json.m_strOut);
    for (const char* key :
         {"sample_rate", "frames_analyzed", "fundamental_hz", "clock_offset_ppm", "delay_ms", "polarity",
          "tones", "detection_lines", "even_order_db", "odd_order_db", "distortion_noise_db",
          "noise_floor_dbfs", "reference", "warnings"}) {
        EXPECT_TRUE(report.contains(key)) << key;
    }
    EXPECT_EQ(report["sample_rate"], 44100.0);
    EXPECT_EQ(report["polarity"], "normal");
    ASSERT_EQ(report["tones"].size(), 37u);
    const auto& third = report["tones"][0];
    EXPECT_EQ(third["kind"], "harmonic");
    EXPECT_EQ(third["n"], 3);
    EXPECT_NEAR(third["frequency_hz"].get<double>(), 831.0, 1e-6);
    for (const char* key : {"stimulus_dbfs", "level_dbfs", "gain_db", "phase_deg"}) {
        EXPECT_TRUE(third[key].is_number()) << key;
    }
    EXPECT_EQ(report["detection_lines"].size(), 42u); // f0, 39 even lines, 77 and 79 above the band limit
    for (const char* key : {"level_dbfs", "thd_db", "thd_n_db"}) {
        EXPECT_TRUE(report["reference"][key].is_number()) << key;
    }

    // -o writes the same report to a file; --csv has a row per line after its header.
    const auto out = dir / "report.csv";
    const test::CRun csv = RunAnalyzer(dir, {"--csv", "-o", out.string(), Stimulus()});
    EXPECT_EQ(csv.m_nStatus, 0) << csv.m_strErr;
    const std::string rows = test::Slurp(out);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 1 + 37 + 42);
    EXPECT_EQ(
        rows.rfind("kind,n,side,frequency_hz,stimulus_dbfs,level_dbfs,gain_db,phase_deg,gain_uncertainty_db,"
                   "phase_uncertainty_deg,group_delay_ms\nharmonic,3,,831.0",
                   0),
        0u)
        << rows.substr(0, 120);
}

// The signal options are vorlanx-gen's own: the same names, values and messages.
TEST_F(VorlanxAnalyze, UsageMistakesExitWithTwo) {
    test::CTempDir dir;
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "expects the recording to analyse"},
        {{"a.wav", "b.wav"}, "expects one recording, not 2"},
        {{"--bogus", "a.wav"}, "unknown option '--bogus'"},
        {{"--skip", "-1", "a.wav"}, "--skip expects a number of seconds"},
        {{"--length", "0", "a.wav"}, "--length expects a number of seconds above 0"},
        {{"--left", "0", "a.wav"}, "--left expects a channel number"},
        {{"--nyquist-factor", "2", "a.wav"}, "--nyquist-factor must be between 0 and 1, not 2"},
        {{"--fundamental", "0,5", "a.wav"}, "use a decimal point"},
        {{"--continuous", "a.wav"}, "--continuous measures live: it goes with --measure"},
        {{"--measure", "--continuous", "--csv"},
         "-o, --csv, --report, --junit and --save-recording do not go"},
        {{"--average", "4", "a.wav"}, "--average goes with --measure --continuous"},
        {{"--measure", "--continuous", "--average", "0"}, "--average expects how many blocks to average"},
        {{"--gain-at", "1000", "a.wav"}, "--gain-at goes with --continuous or --sweep"},
        {{"--sweep", "level=0:-10:2", "dir"}, "a STEP other than 0 that goes from START towards STOP"},
        {{"--sweep", "fundamental=20", "dir"}, "a fundamental sweep takes 2 to 1000 fundamentals"},
        {{"--sweep", "pitch=1", "dir"}, "expects level=START:STOP:STEP or fundamental=F1,F2,..."},
        {{"--sweep", "level=-10:0:1", "--measure", "dir"}, "no FOLDER goes with it"},
        {{"--sweep", "level=-10:0:1", "--measure", "--continuous"}, "--sweep measures each step once"},
    };
    for (const auto& [arguments, phrase] : cases) {
        const test::CRun run = RunAnalyzer(dir, arguments);
        EXPECT_EQ(run.m_nStatus, 2) << phrase;
        EXPECT_NE(run.m_strErr.find(phrase), std::string::npos) << run.m_strErr;
    }
    const test::CRun help = RunAnalyzer(dir, {"--help"});
    EXPECT_EQ(help.m_nStatus, 0);
    std::size_t options = 0;
    EXPECT_EQ(test::OptionsMissingFromManPage(help.m_strOut, test::Slurp(VORLANX_ANALYZE_MAN_PAGE), options),
              std::vector<std::string>{});
    EXPECT_GE(options, 18u);
}

// Files that cannot be analysed: one line naming the file and the reason, exit 1, nothing on
// standard output.
TEST_F(VorlanxAnalyze, BadRecordingsExitWithOne) {
    test::CTempDir dir;
    test::WriteBytes(dir / "text.wav", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
    test::WriteBytes(dir / "empty.wav", {});
    auto bytes = test::ReadBytes(Stimulus());
    bytes.resize(bytes.size() / 2);
    test::WriteBytes(dir / "truncated.wav", bytes);
    std::filesystem::create_directory(dir / "folder.wav");
    ASSERT_TRUE(test::WriteSoundFile(dir / "three.wav", std::vector<double>(3 * 44100, 0.1), 3, 44100,
                                     SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    std::vector<double> nan(2 * 44100, 0.1);
    nan[2 * 22050] = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(test::WriteSoundFile(dir / "nan.wav", nan, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    test::WriteBytes(dir / "private.wav", test::ReadBytes(Stimulus()));
    test::WriteBytes(dir / "short.wav", test::ReadBytes(Stimulus()));
    std::filesystem::permissions(dir / "private.wav", std::filesystem::perms::owner_read);
    struct {
        std::string m_strFile;
        std::vector<std::string> m_aOptions;
        const char* m_szReason;
        const char* m_szAs = ""; // run as another user where root could read anything
    } cases[] = {
        {"text.wav", {}, "not a sound file that can be read"},
        {"empty.wav", {}, "the file is empty"},
        {"folder.wav", {}, "Is a directory"},
        {"missing.wav", {}, "No such file or directory"},
        {"private.wav", {}, "Permission denied", "setpriv --reuid=65534 --regid=65534 --clear-groups"},
        {"three.wav", {}, "has 3 channels: choose the left and the reference with --left N and --right N"},
        {"nan.wav", {}, "not a finite number"},
        {"short.wav",
         {"--skip", "5"},
         "no frames are left after skipping 5 s (it holds 2 s from the stimulus's start)"},
    };
    for (const auto& c : cases) {
        const std::string path = (dir / c.m_strFile).string();
        std::vector<std::string> arguments = c.m_aOptions;
        arguments.push_back(path);
        const test::CRun run = RunAnalyzer(dir, arguments, c.m_szAs);
        EXPECT_EQ(run.m_nStatus, 1) << c.m_strFile << ": " << run.m_strErr;
        EXPECT_EQ(run.m_strErr.rfind("vorlanx-analyze: " + path + ": ", 0), 0u) << run.m_strErr;
        EXPECT_NE(run.m_strErr.find(c.m_szReason), std::string::npos) << run.m_strErr;
        EXPECT_EQ(std::count(run.m_strErr.begin(), run.m_strErr.end(), '\n'), 1) << run.m_strErr;
        EXPECT_EQ(run.m_strOut, "") << c.m_strFile;
    }
    // A file cut short is analysed up to its last whole frame, and says so.
    const test::CRun cut = RunAnalyzer(dir, {(dir / "truncated.wav").string()});
    EXPECT_EQ(cut.m_nStatus, 0) << cut.m_strErr;
    EXPECT_NE(cut.m_strOut.find("The file is truncated: its header promises more audio than it holds"),
              std::string::npos)
        << cut.m_strOut;
    // Cut within its first tenth of a second, a refusal names the cause, not only the skip.
    auto stub = test::ReadBytes(Stimulus());
    stub.resize(1000);
    test::WriteBytes(dir / "stub.wav", stub);
    const test::CRun stubbed = RunAnalyzer(dir, {(dir / "stub.wav").string()});
    EXPECT_EQ(stubbed.m_nStatus, 1);
    EXPECT_NE(stubbed.m_strErr.find(
                  "; the file is cut short: its header promises more audio than the 0.005 s it holds"),
              std::string::npos)
        << stubbed.m_strErr;
    // With the channels chosen, the three-channel file is read (and found to hold no stimulus).
    const test::CRun chosen = RunAnalyzer(dir, {"--left", "3", "--right", "1", (dir / "three.wav").string()});
    EXPECT_EQ(chosen.m_nStatus, 1) << chosen.m_strErr;
    EXPECT_NE(chosen.m_strErr.find(
                  "no stimulus found: no tone near the expected f0 of 277 Hz on the reference channel:"),
              std::string::npos)
        << chosen.m_strErr;
}

} // namespace

namespace {

// What a user meets on the command line with real captures: a pipe, a refusal in JSON, a recording at
// another rate, swapped cables, two report formats at once.
TEST_F(VorlanxAnalyze, CapturesFromTheCommandLine) {
    test::CTempDir dir;
    const test::CRun piped = test::RunProgram(
        "/bin/sh", dir,
        {"-c", "cat " + test::Quote(Stimulus()) + " | " + test::Quote(VORLANX_ANALYZE_PATH) + " --json -"});
    ASSERT_EQ(piped.m_nStatus, 0) << piped.m_strErr;
    const auto fromPipe = nlohmann::json::parse(piped.m_strOut);
    EXPECT_EQ(fromPipe["recording"], "standard input");
    const auto fromFile = nlohmann::json::parse(RunAnalyzer(dir, {"--json", Stimulus()}).m_strOut);
    EXPECT_EQ(fromPipe["tones"], fromFile["tones"]) << "the same figures as the file's";
    EXPECT_NEAR(fromFile["onset_s"].get<double>(), 0.0, 1e-7);

    // A plain sine: refused, and the JSON says so with every figure null.
    ASSERT_TRUE(test::RunSox(
        {"-n", "-r", "44100", "-c", "2", (dir / "sine.wav").string(), "synth", "3", "sine", "1000"}));
    const test::CRun sine = RunAnalyzer(dir, {"--json", (dir / "sine.wav").string()});
    EXPECT_EQ(sine.m_nStatus, 1);
    const auto refused = nlohmann::json::parse(sine.m_strOut);
    EXPECT_NE(refused["refusal"].get<std::string>().find("no stimulus found"), std::string::npos);
    for (const char* key : {"fundamental_hz", "delay_ms", "distortion_noise_db", "even_order_db",
                            "odd_order_db", "noise_floor_dbfs", "span_s"}) {
        EXPECT_TRUE(refused[key].is_null()) << key;
    }
    EXPECT_TRUE(refused["tones"].empty());

    // A stimulus made at 48 kHz: measured at its own rate unless --sample-rate says another.
    const std::string at48 = (dir / "48k.wav").string();
    ASSERT_EQ(
        test::RunGenerator(dir, {"-q", "--duration", "3", "--sample-rate", "48000", "-o", at48}).m_nStatus,
        0);
    const auto own = nlohmann::json::parse(RunAnalyzer(dir, {"--json", at48}).m_strOut);
    EXPECT_LT(own["distortion_noise_db"].get<double>(), -85.0) << "16-bit quantization only";
    EXPECT_TRUE(own["warnings"].empty()) << own["warnings"];
    const auto told =
        nlohmann::json::parse(RunAnalyzer(dir, {"--json", "--sample-rate", "44100", at48}).m_strOut);
    ASSERT_EQ(told["warnings"].size(), 1u);
    EXPECT_NE(told["warnings"][0].get<std::string>().find("(48000 Hz) is not the settings' (44100 Hz)"),
              std::string::npos);

    // Swapped cables: refused with the options that fix it, which then measure it.
    const std::string swapped = (dir / "swapped.wav").string();
    ASSERT_TRUE(test::RunSox({Stimulus(), swapped, "remix", "2", "1"}));
    const test::CRun crossed = RunAnalyzer(dir, {swapped});
    EXPECT_EQ(crossed.m_nStatus, 1);
    EXPECT_NE(crossed.m_strErr.find("the channels look swapped"), std::string::npos) << crossed.m_strErr;
    EXPECT_NE(crossed.m_strErr.find("--left 2 --right 1"), std::string::npos) << crossed.m_strErr;
    EXPECT_EQ(RunAnalyzer(dir, {"--left", "2", "--right", "1", swapped}).m_nStatus, 0);

    const test::CRun both = RunAnalyzer(dir, {"--json", "--csv", Stimulus()});
    EXPECT_EQ(both.m_nStatus, 2);
    EXPECT_NE(both.m_strErr.find("--json and --csv exclude each other"), std::string::npos);
}

} // namespace

namespace {

// Runs vorlanx-analyze on `recording` with standard output a pipe whose reader has already gone;
// returns its exit status and what it said on standard error.
std::pair<int, std::string> RunIntoClosedPipe(const test::CTempDir& dir, const std::string& recording) {
    int ends[2];
    if (::pipe(ends) != 0) {
        return {-1, "pipe failed"};
    }
    ::close(ends[0]); // nobody reads: the first write fails with EPIPE
    const std::string err = (dir / "closed.err").string();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(ends[1], STDOUT_FILENO);
        const int errors = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(errors, STDERR_FILENO);
        ::execl(VORLANX_ANALYZE_PATH, VORLANX_ANALYZE_PATH, recording.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::Slurp(err)};
}

// Nothing lost, nothing reported as done when it is not: the report never replaces its recording; a
// file name that is not UTF-8 still gives its JSON; samples far beyond full scale are refused; a
// reader that went away ends the program quietly with 141.
TEST_F(VorlanxAnalyze, NothingLostNothingFalselyComplete) {
    test::CTempDir dir;
    const std::string recording = (dir / "rec.wav").string();
    test::WriteBytes(recording, test::ReadBytes(Stimulus()));
    const test::CRun same = RunAnalyzer(dir, {recording, "-o", recording});
    EXPECT_EQ(same.m_nStatus, 2);
    EXPECT_NE(same.m_strErr.find("is the recording itself"), std::string::npos) << same.m_strErr;
    EXPECT_EQ(test::ReadBytes(recording), test::ReadBytes(Stimulus())) << "the recording is as it was";

    const std::string odd = (dir / "bad\xff.wav").string();
    test::WriteBytes(odd, test::ReadBytes(Stimulus()));
    const test::CRun json = RunAnalyzer(dir, {"--json", odd});
    ASSERT_EQ(json.m_nStatus, 0) << json.m_strErr;
    const auto report = nlohmann::json::parse(json.m_strOut);
    EXPECT_NE(report["recording"].get<std::string>().find("bad\xef\xbf\xbd.wav"), std::string::npos);

    std::vector<double> huge(2 * 44100 * 2, 1e300);
    ASSERT_TRUE(test::WriteSoundFile(dir / "huge.wav", huge, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_DOUBLE));
    const test::CRun beyond = RunAnalyzer(dir, {(dir / "huge.wav").string()});
    EXPECT_EQ(beyond.m_nStatus, 1);
    EXPECT_NE(beyond.m_strErr.find("beyond 10^12 times full scale"), std::string::npos) << beyond.m_strErr;

    const auto [status, said] = RunIntoClosedPipe(dir, Stimulus());
    EXPECT_EQ(status, 141);
    EXPECT_EQ(said, "");
}

} // namespace

namespace {

// A verdict on the command line: a passing unit exits 0, a failing one 3 with its JUnit file, a
// limits file that does not parse is bad usage naming its line.
TEST_F(VorlanxAnalyze, LimitsGiveAVerdictAndAnExitStatus) {
    test::CTempDir dir;
    test::WriteText(dir / "flat.toml",
                    "distortion_noise_db = { max = -80.0 }\n[[mask]]\nfigure = \"gain_db\"\n"
                    "upper = [[20.0, 0.5], [20000.0, 0.5]]\nlower = [[20.0, -0.5], [20000.0, -0.5]]\n");
    const test::CRun pass =
        RunAnalyzer(dir, {"--json", "--limits", (dir / "flat.toml").string(), Stimulus()});
    ASSERT_EQ(pass.m_nStatus, 0) << pass.m_strErr;
    const auto verdict = nlohmann::json::parse(pass.m_strOut)["verdict"];
    EXPECT_TRUE(verdict["pass"].get<bool>());
    EXPECT_EQ(verdict["limits"].size(), 2u);

    // SoX's low-pass at 1 kHz against the flat mask: it fails where the filter is deepest.
    const std::string lowpass = (dir / "lowpass.wav").string();
    ASSERT_TRUE(test::RunSox({Stimulus(), lowpass, "lowpass", "-1", "1000"}));
    const std::string junit = (dir / "verdict.xml").string();
    const test::CRun fail =
        RunAnalyzer(dir, {"--limits", (dir / "flat.toml").string(), "--junit", junit, lowpass});
    EXPECT_EQ(fail.m_nStatus, 3) << fail.m_strErr;
    EXPECT_NE(fail.m_strOut.find("Verdict:            FAIL"), std::string::npos) << fail.m_strOut;
    EXPECT_NE(test::Slurp(junit).find("tests=\"2\" failures=\"1\""), std::string::npos) << test::Slurp(junit);

    test::WriteText(dir / "bad.toml", "distortion_noise_db = { max = -80.0 }\n\nloudness = { max = 1.0 }\n");
    const test::CRun bad = RunAnalyzer(dir, {"--limits", (dir / "bad.toml").string(), Stimulus()});
    EXPECT_EQ(bad.m_nStatus, 2);
    EXPECT_NE(bad.m_strErr.find("bad.toml: line 3: no figure is named 'loudness'"), std::string::npos)
        << bad.m_strErr;
    EXPECT_EQ(RunAnalyzer(dir, {"--junit", junit, Stimulus()}).m_nStatus, 2) << "--junit without --limits";
    const test::CRun folder = RunAnalyzer(dir, {"--limits", dir.Path().string(), Stimulus()});
    EXPECT_EQ(folder.m_nStatus, 2) << "a folder holds no limits: never a verdict of nothing";
    EXPECT_NE(folder.m_strErr.find("Is a directory"), std::string::npos) << folder.m_strErr;
}

} // namespace

namespace {

// How many times `needle` occurs in `text`.
std::size_t Count(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

} // namespace

// A report a person can file: a SoX low-pass against a flat mask gives a page that starts with a FAIL
// banner, names the recording by the checksum md5sum computes, draws both plots with the masks, and
// fetches nothing. Where Chromium is installed, the page is rendered as a person would see it.
TEST_F(VorlanxAnalyze, ReportIsAPageAPersonCanFile) {
    test::CTempDir dir;
    test::WriteText(dir / "flat.toml",
                    "[[mask]]\nfigure = \"gain_db\"\nrelative_to_hz = 1000.0\n"
                    "upper = [[20.0, 0.5], [20000.0, 0.5]]\nlower = [[20.0, -0.5], [20000.0, -0.5]]\n");
    const std::string lowpass = (dir / "a<b>&.wav").string(); // a name that must be escaped
    ASSERT_TRUE(test::RunSox({Stimulus(), lowpass, "lowpass", "3000"}));
    const std::string page = (dir / "report.html").string();
    const test::CRun run =
        RunAnalyzer(dir, {"--limits", (dir / "flat.toml").string(), "--report", page, lowpass});
    ASSERT_EQ(run.m_nStatus, 3) << run.m_strErr;
    const std::string html = test::Slurp(page);
    EXPECT_NE(html.find("class=\"banner fail\" id=\"verdict\">FAIL"), std::string::npos);
    EXPECT_LT(html.find("id=\"verdict\""), html.find("<svg")) << "the verdict comes first";
    EXPECT_EQ(Count(html, "<svg class=\"plot\""), 2u);
    EXPECT_EQ(Count(html, "class=\"mask\""), 2u) << "the mask's upper and lower curves";
    EXPECT_GT(Count(html, "class=\"detection\""), 0u);
    EXPECT_NE(html.find("a&lt;b&gt;&amp;.wav"), std::string::npos);
    EXPECT_EQ(html.find("a<b>"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(Count(html, "http"), Count(html, "xmlns=\"http://www.w3.org/2000/svg\"")) << "nothing to fetch";
    const test::CRun md5 = test::RunProgram("md5sum", dir, {lowpass});
    ASSERT_EQ(md5.m_nStatus, 0);
    EXPECT_NE(html.find("<td>MD5</td><td>" + md5.m_strOut.substr(0, 32) + "</td>"), std::string::npos);

    // With the converter's full scale, levels read in dBu too: 18 dB above their dBFS.
    const std::string scaledPage = (dir / "scaled.html").string();
    const test::CRun scaled =
        RunAnalyzer(dir, {"--json", "--full-scale", "18dBu", "--report", scaledPage, Stimulus()});
    ASSERT_EQ(scaled.m_nStatus, 0) << scaled.m_strErr;
    const double reference = nlohmann::json::parse(scaled.m_strOut)["reference"]["level_dbfs"].get<double>();
    char dbu[64];
    std::snprintf(dbu, sizeof dbu, "(%.2f dBu)", reference + 18.0);
    EXPECT_NE(test::Slurp(scaledPage).find(dbu), std::string::npos) << dbu;
    EXPECT_NE(test::Slurp(scaledPage).find("<td>Full scale</td><td>18.00 dBu"), std::string::npos);

    // A recording read from a FIFO has no MD5 to give, and asking for one must not wait for a writer.
    const std::filesystem::path fifo = dir / "fifo.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string feed =
        "cat " + test::Quote(Stimulus()) + " > " + test::Quote(fifo.string()) + " & timeout 60";
    const std::string fifoPage = (dir / "fifo.html").string();
    const test::CRun fed = RunAnalyzer(dir, {"--report", fifoPage, fifo.string()}, feed.c_str());
    EXPECT_EQ(fed.m_nStatus, 0) << fed.m_strErr;
    EXPECT_EQ(test::Slurp(fifoPage).find("<td>MD5</td>"), std::string::npos);

    EXPECT_EQ(RunAnalyzer(dir, {"--report", "", Stimulus()}).m_nStatus, 2);
    const test::CRun nowhere =
        RunAnalyzer(dir, {"--report", (dir / "no/such/dir.html").string(), Stimulus()});
    EXPECT_EQ(nowhere.m_nStatus, 1) << "a page that cannot be written is an error, not a success";

    if (std::system("command -v chromium >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "chromium is not installed: the page was not rendered";
    }
    const test::CRun dom =
        test::RunProgram("timeout", dir,
                         {"120", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                          "--user-data-dir=" + (dir / "profile").string(), "--dump-dom", "file://" + page});
    ASSERT_EQ(dom.m_nStatus, 0) << dom.m_strErr;
    EXPECT_NE(dom.m_strOut.find("id=\"verdict\">FAIL"), std::string::npos);
    EXPECT_EQ(Count(dom.m_strOut, "<svg class=\"plot\""), 2u) << "both plots survive the browser's parser";
    const std::string png = (dir / "report.png").string();
    const test::CRun shot =
        test::RunProgram("timeout", dir,
                         {"120", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                          "--user-data-dir=" + (dir / "profile").string(), "--window-size=800,1800",
                          "--screenshot=" + png, "file://" + page});
    ASSERT_EQ(shot.m_nStatus, 0) << shot.m_strErr;
    EXPECT_GT(std::filesystem::file_size(png), 20000u) << "a rendered page, not a blank one";
}

// A level sweep from a folder made by SoX: the stimulus at each level through a clipper (gain +6 dB,
// which clips in SoX's integer pipeline, then -6 dB) on the left. JSON has the sweep's shape, its
// steps in order with their values; the limits' [sweep] table names the sweep for a folder and bounds
// it (status 3); the page has both plots and every step.
TEST_F(VorlanxAnalyze, LevelSweepFromAFolder) {
    test::CTempDir dir;
    std::filesystem::create_directory(dir / "steps");
    for (const int level : {-12, -6, 0}) {
        const std::string stimulus = (dir / "s.wav").string(), left = (dir / "l.wav").string(),
                          right = (dir / "r.wav").string();
        CGenerationSettings settings = test::ShortSettings(stimulus, 2.0);
        settings.m_eFormat = ESampleFormat::F32;
        settings.m_dMotherAmplitude = std::pow(10.0, level / 20.0);
        test::CRecordingFeedback feedback;
        ASSERT_TRUE(GenerateTestFile(settings, feedback));
        ASSERT_TRUE(test::RunSox({stimulus, left, "remix", "1", "gain", "6", "gain", "-6"}));
        ASSERT_TRUE(test::RunSox({stimulus, right, "remix", "2"}));
        const std::string step = (dir / "steps" / ("step_" + std::to_string(level) + "dB.wav")).string();
        ASSERT_TRUE(test::RunSox({"-M", left, right, "-e", "floating-point", "-b", "32", step}));
    }
    const std::string folder = (dir / "steps").string();
    const test::CRun json = RunAnalyzer(dir, {"--json", "--sweep", "level=-12:0:6", folder});
    ASSERT_EQ(json.m_nStatus, 0) << json.m_strErr;
    const auto sweep = nlohmann::json::parse(json.m_strOut)["sweep"];
    EXPECT_EQ(sweep["kind"], "level");
    ASSERT_EQ(sweep["steps"].size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sweep["steps"][i]["step_value"], -12.0 + 6.0 * static_cast<double>(i));
        EXPECT_TRUE(sweep["steps"][i]["refusal"].is_null());
        EXPECT_TRUE(sweep["steps"][i]["tones"].is_array());
    }
    EXPECT_LT(sweep["steps"][0]["distortion_noise_db"].get<double>(), -100.0)
        << "-12 dB does not reach -6 dBFS";
    EXPECT_GT(sweep["steps"][2]["distortion_noise_db"].get<double>(), -40.0) << "0 dB clips";
    EXPECT_EQ(sweep["limit_level_db"], 0.0);
    EXPECT_TRUE(sweep["best_level_db"].is_number());

    test::WriteText(dir / "sweep.toml", "[sweep]\nlevel = { start = -12.0, stop = 0.0, step = 6.0 }\n"
                                        "distortion_noise_db = { max = -90.0 }\n");
    const std::string page = (dir / "sweep.html").string();
    const test::CRun judged =
        RunAnalyzer(dir, {"--limits", (dir / "sweep.toml").string(), "--report", page, folder});
    EXPECT_EQ(judged.m_nStatus, 3) << judged.m_strErr;
    EXPECT_NE(judged.m_strOut.find("FAIL  sweep.distortion_noise_db"), std::string::npos) << judged.m_strOut;
    EXPECT_NE(judged.m_strOut.find("at step 0"), std::string::npos) << judged.m_strOut;
    const std::string html = test::Slurp(page);
    EXPECT_NE(html.find("id=\"verdict\">FAIL"), std::string::npos);
    EXPECT_EQ(Count(html, "<svg class=\"plot\""), 2u);
    EXPECT_EQ(Count(html, "class=\"mask\""), 1u);
    EXPECT_NE(html.find("step_-6dB.wav"), std::string::npos);
    const test::CRun csv = RunAnalyzer(dir, {"--csv", "--sweep", "level=-12:0:3", folder});
    EXPECT_EQ(csv.m_nStatus, 0);
    EXPECT_EQ(Count(csv.m_strOut, "\n"), 6u) << csv.m_strOut;
    EXPECT_NE(csv.m_strOut.find("-9,,,,,,\"" + folder + ": no recording for the step -9"), std::string::npos)
        << csv.m_strOut;
}

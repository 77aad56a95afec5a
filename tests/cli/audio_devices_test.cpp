// Playing and measuring through ALSA's `file` plugin, without sound hardware: a HOME of the test's
// own holds an .asoundrc whose PCMs write what is played to a file and give a file's bytes as what
// is recorded. The played bytes are the generator's file's data; a measurement through a recording
// that SoX made reports what vorlanx-analyze reports on that file.
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/cli/json_lines.h"
#include "tests/cli/run_generator.h"
#include "tests/support/paced_fifo.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class AudioDevicesTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string home = m_dir.Path().string();
        // "null" takes every frame at once and records nothing; the file plugin keeps what is
        // played (in the negotiated format) and gives the infile's bytes as what is recorded.
        test::WriteText(
            m_dir / ".asoundrc",
            "pcm.test_out {\n type file\n slave.pcm \"null\"\n file \"" + home +
                "/played.raw\"\n format \"raw\"\n hint { show on description \"test output\" }\n}\n"
                "pcm.test_in {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n infile \"" +
                home +
                "/in.raw\"\n format \"raw\"\n hint { show on description \"test input\" }\n}\n"
                "pcm.test_quiet {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n format "
                "\"raw\"\n hint { show on description \"plays into nothing\" }\n}\n"
                "pcm.broken_out {\n type file\n slave.pcm \"null\"\n file \"" +
                home +
                "/missing/folder/out.raw\"\n format \"raw\"\n hint { show on description \"a file "
                "it cannot write\" }\n}\n");
        test::WriteBytes(m_dir / "in.raw", std::vector<unsigned char>(8, 0));
        m_strEnv = "HOME=" + test::Quote(home);
    }

    test::CRun Gen(const std::vector<std::string>& arguments) {
        return test::RunProgram(VORLANX_GEN_PATH, m_dir, arguments, m_strEnv.c_str());
    }
    test::CRun Analyze(const std::vector<std::string>& arguments) {
        return test::RunProgram(VORLANX_ANALYZE_PATH, m_dir, arguments, m_strEnv.c_str());
    }
    // A stereo recording of 32-bit floats from `samples` (left, right, ...) as the input device's bytes.
    void SetInput(const std::vector<float>& samples) {
        std::vector<unsigned char> bytes(samples.size() * 4);
        std::memcpy(bytes.data(), samples.data(), bytes.size());
        test::WriteBytes(m_dir / "in.raw", bytes);
    }

    // test_in reads the FIFO live.fifo (a test::CPacedFifo made first); test_out plays into nothing.
    void UseLiveInput() {
        test::WriteText(
            m_dir / ".asoundrc",
            "pcm.test_out {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n format \"raw\"\n}\n"
            "pcm.test_in {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n infile \"" +
                (m_dir / "live.fifo").string() + "\"\n format \"raw\"\n}\n");
    }
    // One common period of the default stimulus: f0 277 Hz at 44.1 kHz makes every tone whole in 1 s.
    static std::vector<double> Period() {
        CGenerationSettings settings;
        settings.m_dDuration = 1.0;
        return test::FloatStimulus(settings);
    }

    test::CTempDir m_dir;
    std::string m_strEnv;
};

} // namespace

// The devices are listed with their channels; a name that matches none or several is refused with
// the list, and a device that fails to write stops the generator with its name.
TEST_F(AudioDevicesTest, DevicesAreListedAndNamedOrRefused) {
    const test::CRun list = Gen({"--list-devices"});
    EXPECT_EQ(list.m_nStatus, 0) << list.m_strErr;
    for (const char* name : {"test_out (ALSA)", "test_in (ALSA)", "test_quiet (ALSA)"}) {
        EXPECT_NE(list.m_strOut.find(name), std::string::npos) << list.m_strOut;
    }
    EXPECT_EQ(list.m_strErr, "") << "the libraries' chatter is silenced";

    const test::CRun unknown = Gen({"--play", "--device", "no-such-card", "--duration", "0.1"});
    EXPECT_EQ(unknown.m_nStatus, 1);
    EXPECT_EQ(unknown.m_strErr.rfind(
                  "vorlanx-gen: No output device is named 'no-such-card'; the output devices are:", 0),
              0u)
        << unknown.m_strErr;
    EXPECT_NE(unknown.m_strErr.find("\n  test_out (ALSA)"), std::string::npos);

    const test::CRun ambiguous = Gen({"--play", "--device", "test_", "--duration", "0.1"});
    EXPECT_EQ(ambiguous.m_nStatus, 1);
    EXPECT_NE(ambiguous.m_strErr.find("'test_' names 3 output devices; give more of the name:"),
              std::string::npos)
        << ambiguous.m_strErr;

    // A device that fails stops the program with its name, looping or not.
    for (const bool loop : {false, true}) {
        std::vector<std::string> arguments = {"--play", "--device", "broken_out", "--duration", "0.2"};
        if (loop) {
            arguments.push_back("--loop");
        }
        const test::CRun broken = Gen(arguments);
        EXPECT_EQ(broken.m_nStatus, 1) << loop;
        EXPECT_NE(broken.m_strErr.find("vorlanx-gen: The output device 'broken_out' stopped after "),
                  std::string::npos)
            << broken.m_strErr;
        EXPECT_EQ(std::count(broken.m_strErr.begin(), broken.m_strErr.end(), '\n'), 1) << "one message";
    }

    EXPECT_EQ(Gen({"--device", "test_out"}).m_nStatus, 2) << "--device without --play";
}

// What reaches the device is the file's data chunk, byte for byte, in each sample format: silence
// that PortAudio puts ahead of the first frames, the data, then the silence that pads the last period.
// (The whole stimulus fits the two seconds rendered ahead, so the null device, which takes frames
// faster than real time, never finds the ring empty.)
TEST_F(AudioDevicesTest, PlayedBytesAreTheFilesData) {
    struct Case {
        const char* format;
        std::size_t header, frameBytes;
    };
    for (const Case& c : {Case{"s16", 44, 4}, Case{"s24", 68, 6}, Case{"f32", 80, 8}}) {
        const std::vector<std::string> signal = {
            "--duration", "0.3", "--format", c.format, "--fade-in", "0.05", "--daughter-amplitude1", "0.3"};
        fs::remove(m_dir / "played.raw");
        std::vector<std::string> play = signal;
        play.insert(play.end(), {"--play", "--device", "test_out"});
        const test::CRun run = Gen(play);
        ASSERT_EQ(run.m_nStatus, 0) << run.m_strErr;
        EXPECT_EQ(run.m_strErr, "") << c.format;
        std::vector<std::string> write = signal;
        write.insert(write.end(), {"-q", "-o", (m_dir / "file.wav").string()});
        ASSERT_EQ(Gen(write).m_nStatus, 0);

        const auto file = test::ReadBytes(m_dir / "file.wav");
        const std::vector<unsigned char> data(file.begin() + static_cast<std::ptrdiff_t>(c.header),
                                              file.end());
        const auto played = test::ReadBytes(m_dir / "played.raw");
        ASSERT_EQ(data.size(), 13230 * c.frameBytes); // 0.3 s at 44100 Hz
        // The data starts with silent frames of its own (the fade-in's first gain is 0): align on
        // the first frame that is not silent in both.
        const auto firstSound = [&](const std::vector<unsigned char>& bytes) {
            std::size_t at = 0;
            while (at < bytes.size() && bytes[at] == 0) {
                ++at;
            }
            return at - at % c.frameBytes;
        };
        const std::size_t dataSound = firstSound(data), playedSound = firstSound(played);
        ASSERT_GE(playedSound, dataSound) << c.format;
        const std::size_t start = playedSound - dataSound;
        ASSERT_LE(start + data.size(), played.size()) << c.format;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), played.begin() + static_cast<std::ptrdiff_t>(start)))
            << c.format << ": the played bytes differ from the file's";
        EXPECT_TRUE(std::all_of(played.begin() + static_cast<std::ptrdiff_t>(start + data.size()),
                                played.end(), [](unsigned char b) { return b == 0; }))
            << c.format << ": only silence follows";
        EXPECT_EQ(start % c.frameBytes, 0u);
    }
}

// Ctrl-C ends a loop at once with the status of SIGINT and says how much was played; a device that
// takes frames faster than it should plays silence where the renderer falls behind, and that is
// counted as underruns.
TEST_F(AudioDevicesTest, InterruptedLoopEndsCleanly) {
    const std::string command = m_strEnv + " " + test::Quote(VORLANX_GEN_PATH) +
                                " --loop --device test_quiet --duration 0.5 2>" +
                                test::Quote((m_dir / "err").string());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec env " + command).c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    const std::string err = test::Slurp(m_dir / "err");
    EXPECT_NE(err.find("vorlanx-gen: interrupted; played "), std::string::npos) << err;
    EXPECT_NE(err.find(" s on 'test_quiet'\n"), std::string::npos) << err;
    EXPECT_NE(err.find("underrun(s) on 'test_quiet'"), std::string::npos) << err;
}

// --measure plays the stimulus and records the input device: here the input gives the recording of
// the stimulus through SoX's one-pole low-pass at 1 kHz, so the report must be the one
// vorlanx-analyze gives for that file (the same tones' gains and phases); a silent or clipping input
// is refused with one message.
TEST_F(AudioDevicesTest, MeasureReportsTheDeviceLikeTheFile) {
    if (!test::RunSox({"--version"})) {
        GTEST_SKIP() << "needs SoX";
    }
    const fs::path stimulus = m_dir / "stimulus.wav", left = m_dir / "left.wav", right = m_dir / "right.wav",
                   device = m_dir / "device.wav", raw = m_dir / "in.raw";
    ASSERT_EQ(Gen({"-q", "--duration", "2", "-o", stimulus.string()}).m_nStatus, 0);
    ASSERT_TRUE(test::RunSox({stimulus.string(), "-e", "floating-point", "-b", "32", left.string(), "remix",
                              "1", "lowpass", "-1", "1000"}));
    ASSERT_TRUE(
        test::RunSox({stimulus.string(), "-e", "floating-point", "-b", "32", right.string(), "remix", "2"}));
    ASSERT_TRUE(test::RunSox({"-M", left.string(), right.string(), device.string()}));
    // A second of silence after it: the measurement records past the stimulus's end.
    ASSERT_TRUE(test::RunSox({device.string(), "-t", "raw", raw.string(), "pad", "0", "1"}));

    const test::CRun measured =
        Analyze({"--measure", "--json", "--duration", "2", "--output-device", "test_out", "--input",
                 "test_in", "--save-recording", (m_dir / "kept.wav").string()});
    ASSERT_EQ(measured.m_nStatus, 0) << measured.m_strErr;
    const test::CRun file = Analyze({"--json", "--duration", "2", device.string()});
    ASSERT_EQ(file.m_nStatus, 0) << file.m_strErr;
    const nlohmann::json live = nlohmann::json::parse(measured.m_strOut),
                         offline = nlohmann::json::parse(file.m_strOut);
    ASSERT_EQ(live["tones"].size(), offline["tones"].size());
    ASSERT_EQ(live["tones"].size(), 37u);
    for (std::size_t i = 0; i < live["tones"].size(); ++i) {
        EXPECT_NEAR(live["tones"][i]["gain_db"].get<double>(), offline["tones"][i]["gain_db"].get<double>(),
                    0.005)
            << i;
        EXPECT_NEAR(live["tones"][i]["phase_deg"].get<double>(),
                    offline["tones"][i]["phase_deg"].get<double>(), 0.05)
            << i;
    }
    // The filter's own formula at 831 Hz, as in the README: -2.2752 dB (less SoX's 16-bit scaling).
    EXPECT_NEAR(live["tones"][0]["gain_db"].get<double>(), -2.2755, 0.002);

    // A round trip of 0.3 s more (the answer starts 13230 frames later): the stimulus is found where
    // it starts, the figures stay, and the latency says how late it came.
    ASSERT_TRUE(test::RunSox({device.string(), "-t", "raw", raw.string(), "pad", "0.3", "1"}));
    const test::CRun late = Analyze(
        {"--measure", "--json", "--duration", "2", "--output-device", "test_out", "--input", "test_in"});
    ASSERT_EQ(late.m_nStatus, 0) << late.m_strErr;
    const nlohmann::json delayed = nlohmann::json::parse(late.m_strOut);
    EXPECT_EQ(delayed["latency_frames"], 13230);
    EXPECT_NEAR(delayed["latency_ms"].get<double>(), 300.0, 1e-6);
    for (std::size_t i = 0; i < live["tones"].size(); ++i) {
        EXPECT_NEAR(delayed["tones"][i]["gain_db"].get<double>(), live["tones"][i]["gain_db"].get<double>(),
                    0.005)
            << i;
        EXPECT_NEAR(delayed["tones"][i]["phase_deg"].get<double>(),
                    live["tones"][i]["phase_deg"].get<double>(), 0.05)
            << i;
    }
    EXPECT_NEAR(delayed["distortion_noise_db"].get<double>(), offline["distortion_noise_db"].get<double>(),
                0.5);
    const test::CRun kept = test::RunProgram("soxi", m_dir, {"-c", (m_dir / "kept.wav").string()});
    EXPECT_EQ(kept.m_strOut, "2\n") << "the recording is kept, both channels";

    SetInput(std::vector<float>(2 * 44100 * 4, 0.0f));
    const test::CRun silent =
        Analyze({"--measure", "--duration", "2", "--output-device", "test_out", "--input", "test_in"});
    EXPECT_EQ(silent.m_nStatus, 1);
    EXPECT_NE(silent.m_strErr.find("The input device 'test_in' recorded silence"), std::string::npos)
        << silent.m_strErr;

    // Not numbers, and a constant too small to be silence: each refused for what it is.
    SetInput(std::vector<float>(2 * 44100 * 4, std::numeric_limits<float>::quiet_NaN()));
    const test::CRun nan =
        Analyze({"--measure", "--duration", "2", "--output-device", "test_out", "--input", "test_in"});
    EXPECT_EQ(nan.m_nStatus, 1);
    EXPECT_NE(nan.m_strErr.find("samples that are not numbers (NaN or infinite)"), std::string::npos)
        << nan.m_strErr;
    SetInput(std::vector<float>(2 * 44100 * 4, 1e-9f));
    const test::CRun tiny =
        Analyze({"--measure", "--duration", "2", "--output-device", "test_out", "--input", "test_in"});
    EXPECT_EQ(tiny.m_nStatus, 1);
    EXPECT_NE(tiny.m_strErr.find("it is silent"), std::string::npos) << tiny.m_strErr; // -180 dBFS

    std::vector<float> loud(2 * 44100 * 4);
    for (std::size_t i = 0; i < loud.size(); ++i) {
        loud[i] = (i / 2) % 50 < 25 ? 1.0f : -1.0f; // a square wave at full scale
    }
    SetInput(loud);
    const test::CRun clipping =
        Analyze({"--measure", "--duration", "2", "--output-device", "test_out", "--input", "test_in"});
    EXPECT_EQ(clipping.m_nStatus, 1);
    EXPECT_NE(clipping.m_strErr.find("The recording clips: "), std::string::npos) << clipping.m_strErr;
    EXPECT_EQ(Analyze({"--measure", "x.wav"}).m_nStatus, 2) << "no recording goes with --measure";
    const test::CRun unwritable =
        Analyze({"--measure", "--duration", "2", "--output-device", "test_out", "--input", "test_in",
                 "--save-recording", (m_dir / "no" / "r.wav").string()});
    EXPECT_EQ(unwritable.m_nStatus, 1);
    EXPECT_EQ(unwritable.m_strErr, "vorlanx-analyze: The recording " + (m_dir / "no" / "r.wav").string() +
                                       " could not be written: No such file or directory\n");
}

// A device whose input is a FIFO that nobody writes never answers while PortAudio starts: listing
// the devices gives up after the start's time limit with one message, and a SIGTERM during that
// wait ends the program with SIGTERM's status instead of a list.
TEST_F(AudioDevicesTest, ADeviceThatNeverAnswersIsGivenUpOn) {
    const fs::path fifo = m_dir / "never.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::WriteText(m_dir / ".asoundrc",
                    "pcm.stuck_in {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n "
                    "infile \"" +
                        fifo.string() + "\"\n format \"raw\"\n}\n");
    const auto started = std::chrono::steady_clock::now();
    const test::CRun listed = Analyze({"--list-devices"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(listed.m_nStatus, 1);
    EXPECT_EQ(listed.m_strErr.rfind("vorlanx-analyze: The audio system did not start within 5 s", 0), 0u)
        << listed.m_strErr;
    EXPECT_LT(seconds, 5.0 + 3.0);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string command = "exec env " + m_strEnv + " " + test::Quote(VORLANX_GEN_PATH) +
                                    " --list-devices >/dev/null 2>" + test::Quote((m_dir / "err").string());
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << status;
    EXPECT_EQ(test::Slurp(m_dir / "err"), "vorlanx-gen: interrupted\n");
}

// --continuous through the file plugin, paced by the test: the input device reads a FIFO that the
// test fills with the stimulus (its one-second period, repeated) plus fresh white noise on the left,
// at about four times real time (the plugin alone would run as fast as it can, and the measurement
// rightly refuses a recording that outruns it). Each update is one JSON line; the wire's gains read
// 0 dB; averaging 8 blocks lowers the noise floor by 10 log10 8 dB, within 0.5 dB.
TEST_F(AudioDevicesTest, ContinuousUpdatesAverageTheNoiseDown) {
    test::CPacedFifo fifo(m_dir / "live.fifo");
    UseLiveInput();
    fifo.Feed(Period(), 4.0 * 44100.0, 1e-4, 7);
    const test::CRun run =
        Analyze({"--measure", "--continuous", "--json", "--count", "10", "--average", "8", "--duration", "2",
                 "--format", "f32", "--output-device", "test_out", "--input", "test_in"});
    ASSERT_EQ(run.m_nStatus, 0) << run.m_strErr;
    const std::vector<nlohmann::json> updates = test::JsonLines(run.m_strOut);
    ASSERT_EQ(updates.size(), 10u) << run.m_strOut;
    for (std::size_t i = 0; i < updates.size(); ++i) {
        const auto& update = updates[i];
        ASSERT_TRUE(update["refusal"].is_null()) << update["refusal"];
        EXPECT_EQ(update["update"], i + 1);
        EXPECT_EQ(update["averaged"], std::min<std::size_t>(i + 1, 8));
        EXPECT_NEAR(update["block_s"].get<double>(), 1.0, 1e-12);
        EXPECT_NEAR(update["tones"][0]["gain_db"].get<double>(), 0.0, 0.01);
    }
    const double single = updates[0]["noise_floor_dbfs"].get<double>();
    for (std::size_t i = 7; i < updates.size(); ++i) {
        EXPECT_NEAR(single - updates[i]["noise_floor_dbfs"].get<double>(), 10.0 * std::log10(8.0), 0.5) << i;
    }
}

// --measure --sweep: one measurement per step on the same devices. The input gives back the stimulus
// at the settings' level whatever was played, so each step's gain reads minus its level: the steps'
// stimuli were scaled as asked, and each step was measured anew.
TEST_F(AudioDevicesTest, LiveLevelSweepMeasuresEachStep) {
    CGenerationSettings settings;
    settings.m_dDuration = 1.0;
    std::vector<double> stimulus = test::FloatStimulus(settings);
    stimulus.resize(stimulus.size() + 2 * 44100, 0.0); // a second of silence after it
    SetInput(std::vector<float>(stimulus.begin(), stimulus.end()));
    const test::CRun run =
        Analyze({"--measure", "--sweep", "level=-6:0:3", "--json", "--duration", "1", "--format", "f32",
                 "--output-device", "test_out", "--input", "test_in", "-q"});
    ASSERT_EQ(run.m_nStatus, 0) << run.m_strErr;
    const auto sweep = nlohmann::json::parse(run.m_strOut)["sweep"];
    ASSERT_EQ(sweep["steps"].size(), 3u);
    for (const auto& step : sweep["steps"]) {
        ASSERT_TRUE(step["refusal"].is_null()) << step["refusal"];
        EXPECT_EQ(step["source"], "measured live");
        for (const auto& tone : step["tones"]) {
            EXPECT_NEAR(tone["gain_db"].get<double>(), -step["step_value"].get<double>(), 0.01);
        }
    }
}

// A block that cannot be measured (the input goes silent for two seconds, a cable pulled) is an
// update that says why, and the measurement goes on. The blocks the silence begins and ends in are
// measured with the level's change as a warning; none of them stays in the average, which starts
// afresh after them, so the figures that follow hold no silence.
TEST_F(AudioDevicesTest, ContinuousGoesOnThroughABlockNotMeasured) {
    test::CPacedFifo fifo(m_dir / "live.fifo");
    UseLiveInput();
    // Silent from 3 s to 5 s of what the device gives: the first half second is skipped, so the
    // silence begins and ends in the middle of a block.
    fifo.Feed(Period(), 4.0 * 44100.0, 0.0, 1,
              [](std::uint64_t frame) { return frame >= 3 * 44100 && frame < 5 * 44100; });
    const test::CRun run =
        Analyze({"--measure", "--continuous", "--json", "--count", "10", "--average", "4", "--duration", "1",
                 "--format", "f32", "--output-device", "test_out", "--input", "test_in"});
    ASSERT_EQ(run.m_nStatus, 0) << run.m_strErr << run.m_strOut;
    const std::vector<nlohmann::json> updates = test::JsonLines(run.m_strOut);
    ASSERT_EQ(updates.size(), 10u);
    std::size_t refused = 0, varied = 0, steady = 0;
    for (const auto& update : updates) {
        const bool changes = update["warnings"].dump().find("varies across the span") != std::string::npos;
        if (!update["refusal"].is_null() || changes) {
            refused += !update["refusal"].is_null();
            varied += changes;
            EXPECT_TRUE(update["refusal"].is_null() || update["distortion_noise_db"].is_null());
            steady = 0;
            continue;
        }
        ++steady;
        EXPECT_EQ(update["averaged"], std::min<std::size_t>(steady, 4)) << update["update"];
        EXPECT_NEAR(update["tones"][0]["gain_db"].get<double>(), 0.0, 0.001)
            << update["update"] << " " << update["averaged"] << update["warnings"] << update["segment_frames"]
            << update["frames_analyzed"];
    }
    EXPECT_GE(refused, 1u) << run.m_strOut;
    EXPECT_GE(varied, 1u) << run.m_strOut;
    EXPECT_GE(steady, 3u) << "measured again once the signal is back";
}

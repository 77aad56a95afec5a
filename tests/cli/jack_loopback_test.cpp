// Measuring live through a paced, real-time digital loopback without sound hardware: JACK's dummy
// backend, whose ports PortAudio lists as "system (JACK Audio Connection Kit)". The loopback is
// connected a moment after the stimulus has started playing, as a late connection or a long round
// trip would have it: the stimulus is found where it arrived, and the device (a wire) reads 0 dB at
// every tone.
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "tests/cli/json_lines.h"
#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

namespace {

// Starts a JACK dummy server at 48 kHz, runs vorlanx-analyze with `arguments` (its output into
// out.json, its errors into err.txt in `dir`), connects the loopback a quarter second after its ports
// appear, and returns the analyser's exit status. Every wait has a limit; the server goes with the
// script.
int RunThroughLoopback(const test::CTempDir& dir, const std::string& arguments) {
    const std::string server = "vorlanx-test-" + std::to_string(::getpid());
    const std::string script =
        "export JACK_DEFAULT_SERVER=" + server + " HOME=" + test::Quote(dir.Path().string()) + "\n" +
        "jackd -n " + server +
        " -d dummy -r 48000 >/dev/null 2>&1 & server=$!\n"
        "trap 'kill $server 2>/dev/null; wait $server 2>/dev/null' EXIT\n"
        "for i in $(seq 200); do jack_lsp >/dev/null 2>&1 && break; sleep 0.05; done\n" +
        test::Quote(VORLANX_ANALYZE_PATH) + " " + arguments +
        " --sample-rate 48000 --output-device system --input-device system >out.json 2>err.txt & measure=$!\n"
        "for i in $(seq 200); do jack_lsp 2>/dev/null | grep -q 'PortAudio:in_1' && break; sleep 0.05; done\n"
        "sleep 0.25\n"
        "jack_connect PortAudio:out_0 PortAudio:in_0 && jack_connect PortAudio:out_1 PortAudio:in_1\n"
        "wait $measure\n";
    test::WriteText(dir / "loopback.sh", script);
    const std::string command =
        "cd " + test::Quote(dir.Path().string()) + " && timeout 60 bash loopback.sh >/dev/null 2>&1";
    return WEXITSTATUS(std::system(command.c_str()));
}

bool HaveJack() {
    return std::system("command -v jackd >/dev/null && command -v jack_connect >/dev/null") == 0;
}

TEST(JackLoopback, ALateConnectionIsFoundAndTheWireReadsZeroDecibels) {
    if (!HaveJack()) {
        GTEST_SKIP() << "needs jackd2";
    }
    test::CTempDir dir;
    ASSERT_EQ(RunThroughLoopback(dir, "--measure --json --quiet --duration 3"), 0)
        << test::Slurp(dir / "err.txt");
    const auto report = nlohmann::json::parse(test::Slurp(dir / "out.json"));
    ASSERT_TRUE(report["refusal"].is_null()) << report["refusal"];
    // The stimulus arrived at least the quarter second after it started playing.
    EXPECT_GT(report["latency_ms"].get<double>(), 250.0);
    EXPECT_NEAR(report["latency_ms"].get<double>(), report["latency_frames"].get<double>() / 48.0, 1e-9);
    ASSERT_EQ(report["tones"].size(), 40u); // 3 f0 to 81 f0 below the band limit at 48 kHz
    for (const auto& tone : report["tones"]) {
        EXPECT_NEAR(tone["gain_db"].get<double>(), 0.0, 0.005) << tone["frequency_hz"];
    }
    EXPECT_LT(report["distortion_noise_db"].get<double>(), -85.0) << "the 16-bit stimulus's own quantization";
}

// The continuous mode on a paced loopback: one JSON object per update, a block of whole periods
// (1 s: f0 277 Hz at 48 kHz), the wire at 0 dB in every update and the same figures from one update
// to the next; the device stays open between them.
TEST(JackLoopback, ContinuousUpdatesStayOnTheWire) {
    if (!HaveJack()) {
        GTEST_SKIP() << "needs jackd2";
    }
    test::CTempDir dir;
    ASSERT_EQ(RunThroughLoopback(dir, "--measure --continuous --json --count 3 --average 2 --format f32"), 0)
        << test::Slurp(dir / "err.txt");
    const std::vector<nlohmann::json> updates = test::JsonLines(test::Slurp(dir / "out.json"));
    ASSERT_EQ(updates.size(), 3u);
    for (const auto& update : updates) {
        ASSERT_TRUE(update["refusal"].is_null()) << update["refusal"];
        EXPECT_NEAR(update["block_s"].get<double>(), 1.0, 1e-12);
        ASSERT_EQ(update["tones"].size(), 40u);
        for (const auto& tone : update["tones"]) {
            EXPECT_NEAR(tone["gain_db"].get<double>(), 0.0, 0.001) << tone["frequency_hz"];
        }
        EXPECT_LT(update["distortion_noise_db"].get<double>(), -140.0) << "a float wire adds nothing";
        EXPECT_EQ(update["underruns"], 0);
    }
    EXPECT_EQ(updates[2]["averaged"], 2);
}

} // namespace

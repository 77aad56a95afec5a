// The analyser against devices whose answer is known another way: the generator's own file, and
// SoX's gain, one-pole low-pass, delay, speed change, and noise of a known level added by the test.
// Intermediate files are 32-bit float and SoX runs with -D (no dither), so only the effect differs.
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <sndfile.h>

#include "generation/generate_job.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kPi = std::numbers::pi;

class AnalyzerAccuracy : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pDir = new test::CTempDir;
        test::CRecordingFeedback feedback;
        ASSERT_TRUE(GenerateTestFile(test::ShortSettings(Stimulus(), 5.0), feedback));
        ASSERT_TRUE(test::RunSox({"-D", Stimulus().string(), "-e", "floating-point", "-b", "32",
                                  Path("right.wav").string(), "remix", "2"}))
            << "SoX is needed (scripts/bootstrap.sh installs it)";
    }
    static void TearDownTestSuite() { delete s_pDir; }
    static std::filesystem::path Path(const std::string& name) { return *s_pDir / name; }
    static std::filesystem::path Stimulus() { return Path("stimulus.wav"); }

    // The stimulus's left channel through SoX `effect`, beside its untouched reference.
    static std::filesystem::path LeftThrough(const std::string& name,
                                             const std::vector<std::string>& effect) {
        std::vector<std::string> arguments = {"-D",
                                              Stimulus().string(),
                                              "-e",
                                              "floating-point",
                                              "-b",
                                              "32",
                                              Path("left-" + name).string(),
                                              "remix",
                                              "1"};
        arguments.insert(arguments.end(), effect.begin(), effect.end());
        EXPECT_TRUE(test::RunSox(arguments));
        EXPECT_TRUE(test::RunSox(
            {"-M", Path("left-" + name).string(), Path("right.wav").string(), Path(name).string()}));
        return Path(name);
    }

    static test::CTempDir* s_pDir;
};
test::CTempDir* AnalyzerAccuracy::s_pDir = nullptr;

TEST_F(AnalyzerAccuracy, TheGeneratorsDefaultFileReadsAsItsOwnStimulus) {
    test::CTempDir dir;
    test::CRecordingFeedback feedback;
    CGenerationSettings settings;
    settings.m_strFileName = (dir / "default.wav").string();
    ASSERT_TRUE(GenerateTestFile(settings, feedback));
    const analysis::CAnalysisReport report = test::AnalyzeFile(dir / "default.wav");
    ASSERT_FALSE(report.m_strRefusal);
    ASSERT_EQ(report.m_aTones.size(), 37u);
    for (const auto& tone : report.m_aTones) {
        EXPECT_NEAR(tone.m_dGainDb, 0.0, 0.005) << tone.m_nNumber;
        EXPECT_NEAR(tone.m_dPhaseDeg, 0.0, 0.05) << tone.m_nNumber;
        // Harmonic n of the literal file reads 20 log10(1/n) dBFS.
        EXPECT_NEAR(tone.m_dLevelDbfs, 20.0 * std::log10(1.0 / tone.m_nNumber), 0.005) << tone.m_nNumber;
    }
    EXPECT_NEAR(*report.m_dDelayMs, 0.0, 1e-4);
    EXPECT_EQ(report.m_ePolarity, analysis::EPolarity::Normal);
    EXPECT_NEAR(*report.m_dClockOffsetPpm, 0.0, 0.5);
    EXPECT_NEAR(report.m_reference.m_dLevelDbfs, 20.0 * std::log10(0.9), 0.005);
    EXPECT_TRUE(report.m_aWarnings.empty()) << report.m_aWarnings.front();
}

TEST_F(AnalyzerAccuracy, SixDecibelsLessOnBothChannelsLeavesThePhases) {
    const auto path = Path("gain.wav");
    ASSERT_TRUE(test::RunSox(
        {"-D", Stimulus().string(), "-e", "floating-point", "-b", "32", path.string(), "gain", "-6"}));
    const analysis::CAnalysisReport report = test::AnalyzeFile(path);
    ASSERT_EQ(report.m_aTones.size(), 37u);
    for (const auto& tone : report.m_aTones) {
        EXPECT_NEAR(tone.m_dGainDb, -6.0, 0.01) << tone.m_nNumber;
        EXPECT_NEAR(tone.m_dPhaseDeg, 0.0, 0.05) << tone.m_nNumber;
    }
    EXPECT_NEAR(report.m_reference.m_dLevelDbfs, 20.0 * std::log10(0.9) - 6.0, 0.01);
}

// SoX's one-pole low-pass is H(z) = (1 - x) / (1 - x z^-1) with x = e^(-2 pi fc / fs).
TEST_F(AnalyzerAccuracy, AOnePoleLowPassMatchesItsFormula) {
    const analysis::CAnalysisReport report =
        test::AnalyzeFile(LeftThrough("lowpass.wav", {"lowpass", "-1", "1000"}));
    ASSERT_EQ(report.m_aTones.size(), 37u);
    const double x = std::exp(-2.0 * kPi * 1000.0 / 44100.0);
    for (const auto& tone : report.m_aTones) {
        const double w = 2.0 * kPi * 277.0 * tone.m_nNumber / 44100.0;
        const std::complex<double> h = (1.0 - x) / (1.0 - x * std::polar(1.0, -w));
        EXPECT_NEAR(tone.m_dGainDb, 20.0 * std::log10(std::abs(h)), 0.01) << tone.m_nNumber;
        EXPECT_NEAR(tone.m_dPhaseDeg, std::arg(h) * 180.0 / kPi, 0.1) << tone.m_nNumber;
    }
}

TEST_F(AnalyzerAccuracy, TwentySamplesOfDelayAndAnInversion) {
    const analysis::CAnalysisReport delayed = test::AnalyzeFile(LeftThrough("delay.wav", {"delay", "20s"}));
    ASSERT_TRUE(delayed.m_dDelayMs);
    EXPECT_NEAR(*delayed.m_dDelayMs, 20.0 / 44.1, 0.002);
    EXPECT_EQ(delayed.m_ePolarity, analysis::EPolarity::Normal);
    // Each harmonic turns by -2 pi f tau.
    for (const auto& tone : delayed.m_aTones) {
        const double turned = -360.0 * 277.0 * tone.m_nNumber * 20.0 / 44100.0;
        EXPECT_NEAR(tone.m_dPhaseDeg, turned - 360.0 * std::round(turned / 360.0), 0.05) << tone.m_nNumber;
    }

    const analysis::CAnalysisReport inverted = test::AnalyzeFile(LeftThrough("inverted.wav", {"vol", "-1"}));
    EXPECT_NEAR(*inverted.m_dDelayMs, 0.0, 0.002);
    EXPECT_EQ(inverted.m_ePolarity, analysis::EPolarity::Inverted);
}

TEST_F(AnalyzerAccuracy, AHundredPpmFasterClock) {
    const auto path = Path("fast.wav");
    ASSERT_TRUE(test::RunSox({"-D", Stimulus().string(), "-e", "floating-point", "-b", "32", path.string(),
                              "speed", "1.0001", "rate", "-v", "-b", "99", "44100"}));
    const analysis::CAnalysisReport report = test::AnalyzeFile(path);
    ASSERT_TRUE(report.m_dClockOffsetPpm);
    EXPECT_NEAR(*report.m_dClockOffsetPpm, 100.0, 1.0);
    EXPECT_NEAR(*report.m_dFundamentalHz, 277.0 * 1.0001, 277.0 * 1e-6);
    ASSERT_EQ(report.m_aTones.size(), 37u);
    for (const auto& tone : report.m_aTones) {
        EXPECT_NEAR(tone.m_dGainDb, 0.0, 0.02) << tone.m_nNumber;
    }
}

// Gaussian noise of standard deviation sigma added to the left: its level over the whole band is
// 20 log10(sigma sqrt 2) dBFS (against a full-scale sine), and against the stimulus's power
// sum (A/n)^2 / 2 it is distortion + noise.
TEST_F(AnalyzerAccuracy, NoiseOfAKnownLevel) {
    const test::CDecodedWav stimulus = test::DecodeWithSndfile(Stimulus());
    std::mt19937_64 random(7);
    const double sigma = 1e-3;
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<double> samples(stimulus.m_aSamples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = stimulus.m_aSamples[i] / 32767.0 + (i % 2 == 0 ? noise(random) : 0.0);
    }
    const auto path = Path("noisy.wav");
    ASSERT_TRUE(test::WriteSoundFile(path, samples, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    const analysis::CAnalysisReport report = test::AnalyzeFile(path);

    double stimulusPower = 0.0;
    for (const CPlannedHarmonic& harmonic : MakeJobPlan(CGenerationSettings()).m_aHarmonics) {
        stimulusPower += harmonic.m_dAmplitude * harmonic.m_dAmplitude / 2.0;
    }
    ASSERT_TRUE(report.m_dNoiseFloorDbfs && report.m_dDistortionNoiseDb);
    EXPECT_NEAR(*report.m_dNoiseFloorDbfs, 20.0 * std::log10(sigma * std::sqrt(2.0)), 0.5);
    EXPECT_NEAR(*report.m_dDistortionNoiseDb, 10.0 * std::log10(sigma * sigma / stimulusPower), 0.5);
    // The reference stays clean: its noise is the 16-bit quantization's, far below.
    EXPECT_LT(report.m_reference.m_dThdNoiseDb, -90.0);
}

} // namespace

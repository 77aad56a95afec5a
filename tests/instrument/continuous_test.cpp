// What a continuous measurement plays and how it cuts the recording, decided before any device opens,
// and how its updates read; and how a sweep's steps are written and read.
#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "instrument/continuous_formats.h"
#include "instrument/measure_continuous.h"
#include "instrument/sweep_spec.h"

namespace {

// The loop is whole common periods of every tone (checked here from the tones' frequencies themselves:
// n f0 and fc +- f0 times the period over the rate are whole numbers), the blocks are whole periods of
// at least the update, and the fades are left out with a warning.
TEST(ContinuousPlan, LoopsAndBlocksAreWholePeriods) {
    struct {
        double m_dF0, m_dCarrier, m_dDaughter, m_dDuration, m_dUpdate;
        std::uint32_t m_nRate;
        std::uint64_t m_nPeriod; // expected
    } cases[] = {
        {277.0, 3878.0, 0.0, 30.0, 1.0, 44100, 44100}, // 277 is prime: one second
        {277.0, 3878.0, 0.0, 30.0, 1.0, 48000, 48000}, //
        {20.0, 3878.0, 0.0, 30.0, 1.0, 44100, 2205},   // 20 Hz: 2205 frames; the carrier's sides 3858, 3898
        {1000.0, 3500.0, 0.3, 2.0, 0.3, 48000, 96},    // 500 Hz steps: 96 frames at 48 kHz
        {277.5, 3878.0, 0.0, 10.0, 1.0, 44100, 5880},  // 555/2 Hz: 37 of its periods
    };
    for (const auto& c : cases) {
        CGenerationSettings settings;
        settings.m_dFundamentalFreq = c.m_dF0;
        settings.m_dCarrierFreq1 = c.m_dCarrier;
        settings.m_dDaughterAmplitude1 = c.m_dDaughter;
        settings.m_dDuration = c.m_dDuration;
        settings.m_nSampleRate = c.m_nRate;
        const instrument::CContinuousPlan plan = instrument::PlanContinuous(settings, {c.m_dUpdate, 1, 0});
        EXPECT_EQ(plan.m_nPeriodFrames, c.m_nPeriod) << c.m_dF0;
        std::vector<double> tones = {c.m_dF0, 3.0 * c.m_dF0};
        if (c.m_dDaughter > 0.0) {
            tones.insert(tones.end(), {c.m_dCarrier - c.m_dF0, c.m_dCarrier + c.m_dF0});
        }
        for (const double hz : tones) {
            const double cycles = hz * static_cast<double>(plan.m_nPeriodFrames) / c.m_nRate;
            EXPECT_NEAR(cycles, std::round(cycles), 1e-9) << hz;
        }
        const double loopFrames = plan.m_loop.m_dDuration * c.m_nRate;
        EXPECT_NEAR(std::fmod(std::round(loopFrames), static_cast<double>(plan.m_nPeriodFrames)), 0.0, 0.0);
        EXPECT_LE(std::round(loopFrames),
                  std::max(c.m_dDuration * c.m_nRate, static_cast<double>(c.m_nPeriod)));
        EXPECT_EQ(plan.m_nBlockFrames % plan.m_nPeriodFrames, 0u);
        EXPECT_GE(plan.m_dBlockS, c.m_dUpdate);
        EXPECT_LT(plan.m_dBlockS, c.m_dUpdate + static_cast<double>(c.m_nPeriod) / c.m_nRate);
        EXPECT_TRUE(plan.m_aWarnings.empty());
    }
    // Tones that never line up within ten seconds: the loop as set, and a warning of its seam.
    CGenerationSettings odd;
    odd.m_dFundamentalFreq = 277.123457;
    odd.m_dDuration = 3.0;
    odd.m_dFadeInS = 0.5;
    const instrument::CContinuousPlan seam = instrument::PlanContinuous(odd, {});
    EXPECT_EQ(seam.m_nPeriodFrames, 3u * 44100u);
    EXPECT_EQ(seam.m_loop.m_dFadeInS, 0.0);
    ASSERT_EQ(seam.m_aWarnings.size(), 2u);
    EXPECT_NE(seam.m_aWarnings[0].find("fades are left out"), std::string::npos);
    EXPECT_NE(seam.m_aWarnings[1].find("seam"), std::string::npos);
    for (const instrument::CContinuousOptions bad :
         {instrument::CContinuousOptions{0.0, 1, 0}, instrument::CContinuousOptions{1.0, 0, 0},
          instrument::CContinuousOptions{1.0, 257, 0}}) {
        EXPECT_THROW(instrument::PlanContinuous(CGenerationSettings(), bad), std::invalid_argument);
    }
}

TEST(ContinuousFormats, AnUpdateReadsAsALineOrAJsonObject) {
    instrument::CContinuousUpdate update;
    update.m_nUpdate = 12;
    update.m_nAveraged = 3;
    update.m_outcome.m_session.m_nUnderruns = 2;
    update.m_outcome.m_eProblem = instrument::EProblem::RecordingProblem;
    update.m_outcome.m_strReason = "The input device 'x' recorded silence.";
    EXPECT_EQ(instrument::ContinuousLine(update, 4, std::nullopt, nullptr),
              "#12  not measured: The input device 'x' recorded silence.");
    const auto refused = nlohmann::json::parse(instrument::ContinuousJson(update, 1.0, nullptr));
    EXPECT_EQ(refused["refusal"], "The input device 'x' recorded silence.");
    EXPECT_TRUE(refused["distortion_noise_db"].is_null());
    EXPECT_EQ(refused["update"], 12);
    EXPECT_EQ(refused["underruns"], 2);
    EXPECT_TRUE(refused["verdict"].is_null());

    analysis::CAnalysisReport report;
    report.m_dFundamentalHz = 277.0001;
    report.m_dDistortionNoiseDb = -95.34;
    report.m_dNoiseFloorDbfs = -130.0;
    for (const double hz : {831.0, 1385.0}) {
        analysis::CToneResult tone;
        tone.m_dFrequencyHz = hz;
        tone.m_dGainDb = hz / -1000.0;
        report.m_aTones.push_back(tone);
    }
    update.m_outcome.m_eProblem = instrument::EProblem::None;
    update.m_outcome.m_report = report;
    const std::string line = instrument::ContinuousLine(update, 4, 1400.0, nullptr);
    EXPECT_EQ(line.rfind("#12  f0 277.0001 Hz  gain -1.385 dB at 1385.0 Hz  D+N -95.3 dB  even - dB", 0), 0u)
        << line;
    EXPECT_NE(line.find("avg 3/4  underruns 2  overruns 0"), std::string::npos) << line;
    instrument::CVerdict verdict;
    verdict.m_bPass = false;
    EXPECT_TRUE(instrument::ContinuousLine(update, 1, std::nullopt, &verdict).ends_with("  FAIL"));
    EXPECT_EQ(instrument::ContinuousLine(update, 1, std::nullopt, nullptr).find("avg"), std::string::npos);
    const std::string json = instrument::ContinuousJson(update, 1.0, &verdict);
    EXPECT_EQ(json.find('\n'), std::string::npos) << "one object per line";
    EXPECT_EQ(nlohmann::json::parse(json)["verdict"]["pass"], false);
}

TEST(SweepSpec, StepsAreWrittenAndReadExactly) {
    std::string error;
    const auto down = instrument::LevelSteps(0.0, -1.0, -0.1, error);
    ASSERT_TRUE(down) << error;
    ASSERT_EQ(down->size(), 11u) << "0.1 dB steps reach the end despite binary fractions";
    EXPECT_DOUBLE_EQ(down->back(), -1.0);
    EXPECT_FALSE(instrument::LevelSteps(0.0, 2000.0, 1.0, error));
    EXPECT_NE(error.find("more than the 1000"), std::string::npos);
    EXPECT_FALSE(instrument::LevelSteps(0.0, 1.0, -1.0, error));
    const auto fundamentals = instrument::ParseSweep("fundamental=20,277.5", error);
    ASSERT_TRUE(fundamentals) << error;
    EXPECT_EQ(fundamentals->m_eKind, instrument::ESweepKind::Fundamental);
    EXPECT_EQ(fundamentals->m_aValues, (std::vector<double>{20.0, 277.5}));
    for (const char* bad :
         {"level=1:2", "level=a:b:c", "fundamental=20,-1", "fundamental=20,,277", "level", ""}) {
        EXPECT_FALSE(instrument::ParseSweep(bad, error)) << bad;
    }
    for (const auto& [value, text] : std::vector<std::pair<double, std::string>>{
             {-40.0, "-40"}, {-37.5, "-37.5"}, {277.0, "277"}, {-0.0, "0"}, {0.1 + 0.2, "0.3"}}) {
        EXPECT_EQ(instrument::StepText(value), text);
    }
    CGenerationSettings settings;
    settings.m_dDaughterAmplitude1 = 0.2;
    const CGenerationSettings quieter =
        instrument::StepSettings(settings, instrument::ESweepKind::Level, -20.0);
    EXPECT_DOUBLE_EQ(quieter.m_dMotherAmplitude, 0.1);
    EXPECT_DOUBLE_EQ(quieter.m_dDaughterAmplitude1, 0.02);
    EXPECT_EQ(
        instrument::StepSettings(settings, instrument::ESweepKind::Fundamental, 20.0).m_dFundamentalFreq,
        20.0);
}

} // namespace

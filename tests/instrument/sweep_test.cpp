// Sweeps from folders of recordings whose truth the test knows: a hard clipper at half of full scale
// (a step clips exactly when the stimulus's peak times its gain passes 0.5), and a one-pole low-pass
// whose response is its formula. Plus the [sweep] table of a limits file and its verdict.
#include <algorithm>
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>

#include "instrument/limits.h"
#include "instrument/sweep.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kPi = std::numbers::pi;

// The stimulus of `settings` (floats), its left through `device`, saved as a float WAV at `path`.
template <class Device>
void WriteThrough(const std::filesystem::path& path, const CGenerationSettings& settings, Device device) {
    std::vector<double> samples = test::FloatStimulus(settings);
    device(samples);
    ASSERT_TRUE(
        test::WriteSoundFile(path, samples, 2, static_cast<int>(settings.m_nSampleRate), 0x010000 | 0x0006));
}

TEST(Sweep, LevelSweepOfAClipperFindsWhereItClips) {
    test::CTempDir dir;
    CGenerationSettings settings;
    settings.m_dDuration = 2.0;
    settings.m_eFormat = ESampleFormat::F32;
    std::string error;
    const auto spec = instrument::ParseSweep("level=-12:0:3", error);
    ASSERT_TRUE(spec) << error;
    double peak = 0.0; // of the left at the settings' level
    const std::vector<double> stimulus = test::FloatStimulus(settings);
    for (std::size_t i = 0; i < stimulus.size(); i += 2) {
        peak = std::max(peak, std::fabs(stimulus[i]));
    }
    for (const double level : spec->m_aValues) {
        WriteThrough(dir / ("step_" + instrument::StepText(level) + "dB.wav"),
                     instrument::StepSettings(settings, spec->m_eKind, level),
                     [](std::vector<double>& samples) {
                         for (std::size_t i = 0; i < samples.size(); i += 2) {
                             samples[i] = std::clamp(samples[i], -0.5, 0.5);
                         }
                     });
    }
    test::WriteText(dir / "notes.txt", "not a step");
    instrument::CSweepResult result =
        instrument::SweepFolder(settings, *spec, dir.Path().string(), {}, nullptr, false);
    ASSERT_EQ(result.m_aSteps.size(), 5u);
    std::optional<double> firstClipped;
    for (const instrument::CSweepStep& step : result.m_aSteps) {
        ASSERT_TRUE(step.m_outcome.m_report) << step.m_outcome.Message();
        const bool clips = peak * std::pow(10.0, step.m_dValue / 20.0) > 0.5;
        const double dn = *step.m_outcome.m_report->m_dDistortionNoiseDb;
        if (clips) {
            EXPECT_GT(dn, -60.0) << step.m_dValue;
            firstClipped = firstClipped.value_or(step.m_dValue);
        } else {
            EXPECT_LT(dn, -120.0) << step.m_dValue;
        }
    }
    ASSERT_TRUE(firstClipped) << "peak " << peak << ": the sweep must reach the clipper";
    // The limit level: the first step whose D+N passes -60 dB, which is the first that clips here.
    result.m_dLimitDb = -60.0;
    instrument::SummariseSweep(result);
    EXPECT_EQ(result.m_dLimitLevelDb, firstClipped);
    ASSERT_TRUE(result.m_dBestLevelDb);
    EXPECT_LT(*result.m_dBestLevelDb, *firstClipped);

    // A step without its recording is a row that says so; the others stand.
    std::filesystem::remove(dir / "step_-6dB.wav");
    const auto missing = instrument::SweepFolder(settings, *spec, dir.Path().string(), {}, nullptr, false);
    EXPECT_FALSE(missing.m_aSteps[2].m_outcome.m_report);
    EXPECT_NE(missing.m_aSteps[2].m_outcome.Message().find("no recording for the step -6"),
              std::string::npos);
    EXPECT_TRUE(missing.m_aSteps[3].m_outcome.m_report);
}

// f0 20 Hz (for the low tones) and 277 Hz through a one-pole low-pass at 1 kHz, y[n] = (1 - a) x[n] +
// a y[n-1]: the merged response is the union of both captures' tones and reads the filter's
// |H| = (1 - a) / |1 - a e^(-iw)| at every one of them.
TEST(Sweep, FundamentalSweepMergesTheResponses) {
    test::CTempDir dir;
    CGenerationSettings settings;
    settings.m_eFormat = ESampleFormat::F32;
    const double a = std::exp(-2.0 * kPi * 1000.0 / 44100.0);
    for (const double f0 : {20.0, 277.0}) {
        CGenerationSettings step =
            instrument::StepSettings(settings, instrument::ESweepKind::Fundamental, f0);
        step.m_dDuration = f0 < 100.0 ? 12.5 : 3.0;
        WriteThrough(dir / (instrument::StepText(f0) + "Hz.wav"), step, [&](std::vector<double>& samples) {
            double y = 0.0;
            for (std::size_t i = 0; i < samples.size(); i += 2) {
                y = (1.0 - a) * samples[i] + a * y;
                samples[i] = y;
            }
        });
    }
    const instrument::CSweepResult result =
        instrument::SweepFolder(settings, {instrument::ESweepKind::Fundamental, {20.0, 277.0}},
                                dir.Path().string(), {}, nullptr, false);
    ASSERT_TRUE(result.m_aSteps[0].m_outcome.m_report && result.m_aSteps[1].m_outcome.m_report);
    const std::size_t tones = result.m_aSteps[0].m_outcome.m_report->m_aTones.size() +
                              result.m_aSteps[1].m_outcome.m_report->m_aTones.size();
    ASSERT_EQ(result.m_aMerged.size(), tones) << "no tone of 277 Hz's lies on one of 20 Hz's";
    std::size_t from20 = 0;
    for (const instrument::CMergedPoint& point : result.m_aMerged) {
        const double w = 2.0 * kPi * point.m_dFrequencyHz / 44100.0;
        const double formula = 20.0 * std::log10((1.0 - a) / std::abs(1.0 - a * std::polar(1.0, -w)));
        EXPECT_NEAR(point.m_dGainDb, formula, 0.002) << point.m_dFrequencyHz;
        from20 += point.m_dFromFundamentalHz == 20.0;
    }
    EXPECT_EQ(from20, result.m_aSteps[0].m_outcome.m_report->m_aTones.size());
    EXPECT_TRUE(
        std::is_sorted(result.m_aMerged.begin(), result.m_aMerged.end(),
                       [](const auto& x, const auto& y) { return x.m_dFrequencyHz < y.m_dFrequencyHz; }));
    EXPECT_NEAR(result.m_aMerged.front().m_dFrequencyHz, 60.0, 1e-6);
}

// The [sweep] table: its sweep, its limit figure and its bounds; mistakes name their line. Bounds
// judge every step in their range at its worst; a step not measured in range fails.
TEST(Sweep, LimitsTableBoundsTheCurves) {
    std::string error;
    const auto limits =
        instrument::ParseLimits("[sweep]\nlevel = { start = -40.0, stop = 0.0, step = 10.0 }\n"
                                "limit_db = -60.0\n"
                                "distortion_noise_db = { max = -90.0, from = -40.0, to = -10.0 }\n",
                                "l.toml", error);
    ASSERT_TRUE(limits) << error;
    ASSERT_TRUE(limits->m_sweep);
    EXPECT_EQ(limits->m_sweep->m_aValues, (std::vector<double>{-40.0, -30.0, -20.0, -10.0, 0.0}));
    EXPECT_EQ(limits->m_dSweepLimitDb, -60.0);
    for (const auto& [text, phrase] : std::vector<std::pair<std::string, std::string>>{
             {"[sweep]\nlevel = { start = 0.0, stop = -10.0, step = 2.0 }\n", "line 2: level must be"},
             {"[sweep]\nfundamental = [20.0]\n", "line 2: fundamental must be"},
             {"[sweep]\n\nwow_db = { max = 1.0 }\n", "line 3: a [sweep] table has no 'wow_db'"},
             {"[sweep]\ngain_db = { max = 1.0, at = 3.0 }\n", "line 2: gain_db must be a table"}}) {
        EXPECT_FALSE(instrument::ParseLimits(text, "l.toml", error)) << text;
        EXPECT_NE(error.find(phrase), std::string::npos) << error;
    }
    instrument::CSweepResult result;
    result.m_spec = *limits->m_sweep;
    for (const double level : result.m_spec.m_aValues) {
        instrument::CSweepStep step;
        step.m_dValue = level;
        step.m_outcome.m_report.emplace();
        step.m_outcome.m_report->m_dDistortionNoiseDb = level < -15.0 ? -100.0 + level / 10.0 : -85.0;
        result.m_aSteps.push_back(step);
    }
    instrument::CVerdict verdict = instrument::JudgeSweep(result, *limits);
    ASSERT_EQ(verdict.m_aLimits.size(), 1u);
    EXPECT_FALSE(verdict.m_bPass); // -10 dB is in range at -85 dB
    EXPECT_EQ(verdict.m_aLimits[0].m_dWorstStep, -10.0);
    EXPECT_DOUBLE_EQ(verdict.m_aLimits[0].m_dMargin, -5.0);
    result.m_aSteps[3].m_outcome.m_report->m_dDistortionNoiseDb = -95.0; // 0 dB is out of range
    EXPECT_TRUE(instrument::JudgeSweep(result, *limits).m_bPass);
    result.m_aSteps[1].m_outcome.m_report.reset();
    EXPECT_FALSE(instrument::JudgeSweep(result, *limits).m_bPass) << "a step in range not measured fails";
}

} // namespace

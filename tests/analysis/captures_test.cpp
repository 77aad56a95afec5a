// Captures engineers really make, each built from the exact stimulus by a device whose truth is known
// another way (a whole-sample delay, a tone added at a known level, silence around the stimulus),
// and checked against that truth: the formulas in each case, never the analyser's own output.
#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <numbers>
#include <random>

#include "generation/frame_render.h"
#include "generation/job_plan.h"
#include "tests/analysis/analysis_test_support.h"
#include "tests/support/test_support.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRate = 44100.0;

std::vector<double> Stimulus(const CGenerationSettings& settings) {
    return test::FloatStimulus(settings);
}

CGenerationSettings Seconds(double duration) {
    CGenerationSettings settings;
    settings.m_dDuration = duration;
    return settings;
}

// The stimulus's own power on the left: its harmonics A/n (A = 1) below the band limit, as mean squares.
double StimulusPower(const CGenerationSettings& settings) {
    double power = 0.0;
    for (unsigned n = 3; n * settings.m_dFundamentalFreq < kRate / 2.0 * settings.m_dNyquistFactor; n += 2) {
        power += 0.5 / (n * n);
    }
    return power;
}

void AddToLeft(std::vector<double>& samples, const std::function<double(double)>& signal) {
    for (std::size_t i = 0; i < samples.size(); i += 2) {
        samples[i] += signal(static_cast<double>(i / 2) / kRate);
    }
}

analysis::CAnalysisReport Analyse(std::vector<double>& samples, const CGenerationSettings& settings,
                                  const analysis::CAnalysisOptions& options = {}) {
    analysis::CMemoryRecording recording("capture", samples.data(), samples.size() / 2, 2, kRate);
    return test::AnalyzeRecording(recording, settings, options);
}

void ExpectFlatGains(const analysis::CAnalysisReport& report, double toleranceDb) {
    ASSERT_FALSE(report.m_aTones.empty());
    for (const auto& tone : report.m_aTones) {
        EXPECT_NEAR(tone.m_dGainDb, 0.0, toleranceDb) << tone.m_dFrequencyHz;
    }
}

TEST(Captures, SilenceAroundTheStimulusStaysOutAndItsStartIsFound) {
    const CGenerationSettings settings = Seconds(5.0);
    const std::vector<double> stimulus = Stimulus(settings);
    for (const double leadS : {0.0, 2.0, 0.37}) {
        std::vector<double> samples(2 * static_cast<std::size_t>(leadS * kRate), 0.0);
        samples.insert(samples.end(), stimulus.begin(), stimulus.end());
        samples.resize(samples.size() + 2 * static_cast<std::size_t>(1.5 * kRate), 0.0); // silence after
        const auto report = Analyse(samples, settings);
        ASSERT_FALSE(report.m_strRefusal) << *report.m_strRefusal;
        ExpectFlatGains(report, 1e-3);
        ASSERT_TRUE(report.m_dOnsetS) << leadS;
        EXPECT_NEAR(*report.m_dOnsetS, std::floor(leadS * kRate) / kRate, 1e-7) << leadS;
        EXPECT_LT(*report.m_dDistortionNoiseDb, -130.0) << leadS;
        EXPECT_NEAR(report.m_dFirstAnalyzedS, *report.m_dOnsetS + 0.1, 1.5 / kRate);
        EXPECT_TRUE(report.m_aWarnings.empty()) << report.m_aWarnings.front();
    }
}

// A whole-sample digital delay of the left: d / rate exactly, polarity normal, however many half
// periods of f0 it spans; an inverted left turns only the polarity.
TEST(Captures, ADigitalDelayReadsItselfWithTheRightPolarity) {
    const CGenerationSettings settings = Seconds(3.0);
    const std::vector<double> stimulus = Stimulus(settings);
    for (const int frames : {0, 7, 44, 221, 1000}) {
        for (const double sign : {1.0, -1.0}) {
            std::vector<double> samples(stimulus.size() + 2 * 2000, 0.0);
            for (std::size_t i = 0; i < stimulus.size() / 2; ++i) {
                samples[2 * (i + static_cast<std::size_t>(frames))] = sign * stimulus[2 * i];
                samples[2 * i + 1] = stimulus[2 * i + 1];
            }
            const auto report = Analyse(samples, settings);
            ASSERT_FALSE(report.m_strRefusal) << *report.m_strRefusal;
            ASSERT_TRUE(report.m_dDelayMs);
            EXPECT_TRUE(report.m_bDelayFromStarts);
            EXPECT_NEAR(*report.m_dDelayMs, frames / kRate * 1000.0, 1e-6) << frames;
            EXPECT_EQ(report.m_ePolarity,
                      sign > 0 ? analysis::EPolarity::Normal : analysis::EPolarity::Inverted)
                << frames;
            for (const auto& tone : report.m_aTones) {
                if (tone.m_dGroupDelayMs) {
                    EXPECT_NEAR(*tone.m_dGroupDelayMs, frames / kRate * 1000.0, 1e-5) << tone.m_dFrequencyHz;
                }
            }
        }
    }
}

// Hum at -60 dBFS beside the lines, at 20 Hz (inside DC's neighbourhood) too: distortion + noise
// counts it whole, its spur is listed at its level, and the noise floor does not rise with it.
TEST(Captures, HumIsCountedListedAndNamed) {
    const CGenerationSettings settings = Seconds(5.0);
    const double amplitude = std::pow(10.0, -60.0 / 20.0);
    const double expectedDb = 10.0 * std::log10(amplitude * amplitude / 2.0 / StimulusPower(settings));
    const struct {
        double m_dHz;
        const char* m_szName;
    } cases[] = {
        {20.0, ""}, {50.0, "mains 50 Hz"}, {60.0, "mains 60 Hz"}, {150.0, "3rd of mains 50 Hz"}, {460.0, ""}};
    for (const auto& c : cases) {
        std::vector<double> samples = Stimulus(settings);
        AddToLeft(samples, [&](double t) { return amplitude * std::sin(2.0 * kPi * c.m_dHz * t + 0.3); });
        const auto report = Analyse(samples, settings);
        ASSERT_FALSE(report.m_strRefusal) << *report.m_strRefusal;
        EXPECT_NEAR(*report.m_dDistortionNoiseDb, expectedDb, 0.05) << c.m_dHz;
        ASSERT_FALSE(report.m_aSpurs.empty()) << c.m_dHz;
        EXPECT_NEAR(report.m_aSpurs[0].m_dFrequencyHz, c.m_dHz, 0.5) << c.m_dHz;
        EXPECT_NEAR(report.m_aSpurs[0].m_dLevelDbfs, -60.0, 0.1) << c.m_dHz;
        EXPECT_EQ(report.m_aSpurs[0].m_strName, c.m_szName) << c.m_dHz;
        EXPECT_LT(*report.m_dNoiseFloorDbfs, -130.0) << c.m_dHz;
        ExpectFlatGains(report, 1e-3);
    }
}

// White noise of a known RMS on the left: the noise floor reads it, distortion + noise is it against
// the stimulus, the empty lines are noise-limited; the uncertainties the report gives match the
// gains' scatter over many noise seeds, and that scatter is near the least-squares bound: a tone of
// amplitude a fitted by least squares over N samples of white noise sigma has a standard deviation
// of sigma sqrt(2 / N) in amplitude and sigma sqrt(2 / N) / a in phase (radians).
TEST(Captures, NoiseIsMeasuredAndTheUncertaintiesAreHonest) {
    const CGenerationSettings settings = Seconds(3.0);
    const std::vector<double> stimulus = Stimulus(settings);
    const double sigma = std::pow(10.0, -80.0 / 20.0) / std::sqrt(2.0); // -80 dBFS: against a full-scale sine
    constexpr int kSeeds = 40;
    std::vector<std::vector<double>> gains, phases;
    std::vector<double> amplitudes;
    double meanUncertainty = 0.0, frames = 0.0;
    for (int seed = 0; seed < kSeeds; ++seed) {
        std::mt19937_64 random(static_cast<std::uint64_t>(seed));
        std::normal_distribution<double> gauss(0.0, sigma);
        std::vector<double> samples = stimulus;
        AddToLeft(samples, [&](double) { return gauss(random); });
        const auto report = Analyse(samples, settings);
        ASSERT_FALSE(report.m_strRefusal);
        EXPECT_FALSE(report.m_dLevelVariationDb) << "steady noise is no change of level: seed " << seed;
        if (seed == 0) {
            EXPECT_NEAR(*report.m_dNoiseFloorDbfs, -80.0, 0.3);
            EXPECT_NEAR(*report.m_dDistortionNoiseDb,
                        10.0 * std::log10(sigma * sigma / StimulusPower(settings)), 0.3);
            EXPECT_TRUE(report.m_bEvenOrderNoiseLimited);
            EXPECT_TRUE(report.m_bDistortionNoiseNoiseLimited);
            frames = static_cast<double>(report.m_nFramesAnalyzed);
        }
        gains.emplace_back();
        phases.emplace_back();
        amplitudes.clear();
        for (const auto& tone : report.m_aTones) {
            if (tone.m_eKind == analysis::EToneKind::Harmonic) {
                gains.back().push_back(tone.m_dGainDb);
                phases.back().push_back(tone.m_dPhaseDeg);
                amplitudes.push_back(std::pow(10.0, tone.m_dStimulusDbfs / 20.0));
            }
        }
        meanUncertainty += *report.m_aTones.back().m_dGainUncertaintyDb / kSeeds;
    }
    const auto scatterOf = [&](const std::vector<std::vector<double>>& values, std::size_t j) {
        double mean = 0.0, square = 0.0;
        for (const auto& each : values) {
            mean += each[j] / kSeeds;
        }
        for (const auto& each : values) {
            square += (each[j] - mean) * (each[j] - mean) / (kSeeds - 1);
        }
        return std::sqrt(square);
    };
    // The highest harmonic (the weakest, at -37.5 dBFS): the scatter of its gain over the seeds.
    const double scatter = scatterOf(gains, gains[0].size() - 1);
    EXPECT_GT(meanUncertainty, 0.7 * scatter) << meanUncertainty << " against " << scatter;
    EXPECT_LT(meanUncertainty, 1.4 * scatter) << meanUncertainty << " against " << scatter;
    // Every harmonic against the bound, pooled (40 seeds x 35 harmonics: the ratio is known to 3 %).
    double gainRatio = 0.0, phaseRatio = 0.0;
    for (std::size_t j = 0; j < amplitudes.size(); ++j) {
        const double bound = sigma * std::sqrt(2.0 / frames) / amplitudes[j];
        gainRatio += std::pow(scatterOf(gains, j) / (20.0 / std::log(10.0) * bound), 2) / amplitudes.size();
        phaseRatio += std::pow(scatterOf(phases, j) * kPi / 180.0 / bound, 2) / amplitudes.size();
    }
    EXPECT_LT(std::sqrt(gainRatio), 1.5);
    EXPECT_LT(std::sqrt(phaseRatio), 1.5);
    EXPECT_GT(std::sqrt(gainRatio), 0.9); // below the bound would mean the noise was not what was added
    EXPECT_GT(std::sqrt(phaseRatio), 0.9);
    std::printf("scatter against the least-squares bound: gain %.3f, phase %.3f\n", std::sqrt(gainRatio),
                std::sqrt(phaseRatio));
}

TEST(Captures, FadesAreLeftOutAndALevelChangeIsNamed) {
    CGenerationSettings faded = Seconds(4.0);
    faded.m_dFadeInS = 0.5;
    faded.m_dFadeOutS = 0.7;
    std::vector<double> samples = Stimulus(faded);
    analysis::CAnalysisOptions options;
    options.m_dFadeInS = faded.m_dFadeInS;
    options.m_dFadeOutS = faded.m_dFadeOutS;
    const auto report = Analyse(samples, faded, options);
    ASSERT_FALSE(report.m_strRefusal);
    ExpectFlatGains(report, 1e-3);
    EXPECT_TRUE(report.m_aWarnings.empty()) << report.m_aWarnings.front();
    EXPECT_LE(report.m_dFirstAnalyzedS + report.m_nFramesAnalyzed / kRate, 4.0 - 0.7 + 1e-9);

    // A dropout: the left 8 dB down from 1.6 s to 2.2 s.
    const CGenerationSettings settings = Seconds(4.0);
    std::vector<double> dropped = Stimulus(settings);
    for (std::size_t i = static_cast<std::size_t>(1.6 * kRate); i < static_cast<std::size_t>(2.2 * kRate);
         ++i) {
        dropped[2 * i] *= std::pow(10.0, -8.0 / 20.0);
    }
    const auto warned = Analyse(dropped, settings);
    ASSERT_FALSE(warned.m_strRefusal);
    EXPECT_TRUE(test::Warns(warned, "The level of the left channel varies across the span"))
        << warned.m_aWarnings.size();
    EXPECT_TRUE(test::Warns(warned, "dB down"));
}

// A low f0 over a time that is no whole number of its periods: no DC offset is read into it.
TEST(Captures, DcIsMeasuredThroughTheWindow) {
    CGenerationSettings settings = Seconds(15.0);
    settings.m_dFundamentalFreq = 20.0;
    std::vector<double> samples = Stimulus(settings);
    const auto clean = Analyse(samples, settings);
    ASSERT_FALSE(clean.m_strRefusal) << *clean.m_strRefusal;
    EXPECT_FALSE(test::Warns(clean, "DC offset")) << clean.m_aWarnings.front();
    AddToLeft(samples, [](double) { return 0.004; });
    EXPECT_TRUE(test::Warns(Analyse(samples, settings), "DC offset of 0.0040"));
}

} // namespace

namespace {

// A daughter's tones anywhere, from on a harmonic's line to a few Hz beside it: every tone measured
// reads the stimulus itself (0 dB); tones the recording is too short to separate are named instead.
TEST(Captures, DaughterTonesBesideHarmonicsAreMeasuredEachOnItsOwn) {
    const struct {
        double m_dCarrierHz;
        double m_dSeconds;
        std::size_t m_nTones; // measured
        bool m_bUnresolved;
    } cases[] = {
        {3878.0, 6.0, 39, false},  // on harmonics 13 and 15: measured as one with them
        {3900.0, 8.0, 39, false},  // 22 Hz beside them
        {3870.0, 15.0, 39, false}, // 8 Hz beside them, long enough
        {3870.0, 6.0, 35, true},   // 8 Hz beside them, too short
        {0.0, 6.0, 37, false},     // on f0 itself, a detection line
        {1000.0, 6.0, 39, false},  {19000.0, 6.0, 39, false},
    };
    for (const auto& c : cases) {
        CGenerationSettings settings = Seconds(c.m_dSeconds);
        settings.m_dCarrierFreq1 = c.m_dCarrierHz;
        settings.m_dDaughterAmplitude1 = 0.3;
        std::vector<double> samples = Stimulus(settings);
        const auto report = Analyse(samples, settings);
        ASSERT_FALSE(report.m_strRefusal) << c.m_dCarrierHz << ": " << *report.m_strRefusal;
        EXPECT_EQ(report.m_aTones.size(), c.m_nTones) << c.m_dCarrierHz;
        ExpectFlatGains(report, 1e-3);
        for (const auto& tone : report.m_aTones) {
            EXPECT_NEAR(tone.m_dPhaseDeg, 0.0, 0.01) << c.m_dCarrierHz << " at " << tone.m_dFrequencyHz;
        }
        EXPECT_EQ(test::Warns(report, "too short to separate tones 8.0 Hz apart"), c.m_bUnresolved)
            << c.m_dCarrierHz;
        EXPECT_LT(*report.m_dDistortionNoiseDb, -130.0) << c.m_dCarrierHz;
    }
}

} // namespace

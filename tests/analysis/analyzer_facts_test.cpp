// What the analyser says about recordings that are not a clean measurement: one warning each, or a
// refusal; and what its plan makes of the stimulus's lines.
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

#include "generation/frame_render.h"
#include "tests/analysis/analysis_test_support.h"

namespace {

// The stimulus of `settings` as doubles (full scale 1), interleaved left and right.
std::vector<double> Stimulus(const CGenerationSettings& settings) {
    const CRenderedFrames frames = RenderFramesInMemory(settings, MakeJobPlan(settings), UINT32_MAX);
    std::vector<double> samples;
    for (std::size_t i = 0; i < 2 * frames.Frames(); ++i) {
        samples.push_back(frames.Sample(i));
    }
    return samples;
}

CGenerationSettings Seconds(double duration) {
    CGenerationSettings settings;
    settings.m_dDuration = duration;
    return settings;
}

struct CFactCase {
    const char* m_szName;
    CGenerationSettings m_stimulus;                       // what was played
    std::function<void(std::vector<double>&)> m_change;   // what the device did to it
    std::function<void(CGenerationSettings&)> m_settings; // what the analysis is told
    std::function<void(analysis::CAnalysisOptions&)> m_options;
    int m_nChannels = 2;
    double m_dRate = 44100.0;
    const char* m_szWarning; // nullptr: no warning expected
    const char* m_szRefusal; // nullptr: analysed
};

std::ostream& operator<<(std::ostream& out, const CFactCase& c) {
    return out << c.m_szName;
}

const auto kUnchanged = [](std::vector<double>&) {};
const auto kSameSettings = [](CGenerationSettings&) {};
const auto kDefaultOptions = [](analysis::CAnalysisOptions&) {};

class AnalyzerFacts : public testing::TestWithParam<CFactCase> {};

TEST_P(AnalyzerFacts, OneSentenceForEachFact) {
    const CFactCase& c = GetParam();
    std::vector<double> samples = Stimulus(c.m_stimulus);
    c.m_change(samples);
    CGenerationSettings settings = c.m_stimulus;
    c.m_settings(settings);
    analysis::CAnalysisOptions options;
    c.m_options(options);
    analysis::CMemoryRecording recording("the array", samples.data(), samples.size() / c.m_nChannels,
                                         c.m_nChannels, c.m_dRate);
    const analysis::CAnalysisReport report = test::AnalyzeRecording(recording, settings, options);
    if (c.m_szRefusal != nullptr) {
        ASSERT_TRUE(report.m_strRefusal);
        EXPECT_NE(report.m_strRefusal->find(c.m_szRefusal), std::string::npos) << *report.m_strRefusal;
        return;
    }
    ASSERT_FALSE(report.m_strRefusal) << *report.m_strRefusal;
    if (c.m_szWarning == nullptr) {
        EXPECT_TRUE(report.m_aWarnings.empty()) << report.m_aWarnings.front();
    } else {
        EXPECT_TRUE(test::Warns(report, c.m_szWarning)) << "warnings: " << report.m_aWarnings.size();
    }
}

CGenerationSettings Rate(CGenerationSettings settings, std::uint32_t rate) {
    settings.m_nSampleRate = rate;
    return settings;
}

CGenerationSettings Daughter() {
    CGenerationSettings settings = Seconds(2.0);
    settings.m_dMotherAmplitude = 0.5;
    settings.m_dDaughterAmplitude1 = 0.25; // 14 f0 +- f0: on harmonics 13 and 15
    return settings;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AnalyzerFacts,
    testing::Values(
        CFactCase{"clean", Seconds(2.0), kUnchanged, kSameSettings, kDefaultOptions, 2, 44100, nullptr,
                  nullptr},
        CFactCase{"clipped", Seconds(2.0),
                  [](auto& s) {
                      for (double& x : s) {
                          x = std::clamp(x * 1.5, -1.0, 1.0);
                      }
                  },
                  kSameSettings, kDefaultOptions, 2, 44100, "reaches full scale", nullptr},
        CFactCase{"no tone near f0", Seconds(2.0), kUnchanged, [](auto& s) { s.m_dFundamentalFreq = 300.0; },
                  kDefaultOptions, 2, 44100, nullptr,
                  "no stimulus found: no tone near the expected f0 of 300 Hz on the reference channel (its "
                  "strongest component is near 2"},
        CFactCase{"clock far off", Seconds(2.0), kUnchanged, [](auto& s) { s.m_dFundamentalFreq = 276.5; },
                  kDefaultOptions, 2, 44100, "beyond +-1000 ppm", nullptr},
        CFactCase{"daughter on harmonic lines", Daughter(), kUnchanged, kSameSettings, kDefaultOptions, 2,
                  44100, "Daughter signal 1 has tones on other lines", nullptr},
        CFactCase{"too short", Seconds(0.3), kUnchanged, kSameSettings, kDefaultOptions, 2, 44100, nullptr,
                  "too short to resolve the lines"},
        CFactCase{"silent", Seconds(2.0), [](auto& s) { std::fill(s.begin(), s.end(), 0.0); }, kSameSettings,
                  kDefaultOptions, 2, 44100, nullptr, "it is silent"},
        CFactCase{"silent left", Seconds(2.0),
                  [](auto& s) {
                      for (std::size_t i = 0; i < s.size(); i += 2) {
                          s[i] = 0.0;
                      }
                  },
                  kSameSettings, kDefaultOptions, 2, 44100, nullptr,
                  "its left channel, the device's output, is silent"},
        CFactCase{"swapped", Seconds(2.0),
                  [](auto& s) {
                      for (std::size_t i = 0; i < s.size(); i += 2) {
                          std::swap(s[i], s[i + 1]);
                      }
                  },
                  kSameSettings, kDefaultOptions, 2, 44100, nullptr, "the channels look swapped"},
        CFactCase{"a stimulus made at 48 kHz told 44.1 kHz", Rate(Seconds(2.0), 48000), kUnchanged,
                  [](auto& s) { s.m_nSampleRate = 44100; }, kDefaultOptions, 2, 48000,
                  "(48000 Hz) is not the settings' (44100 Hz)", nullptr},
        CFactCase{"DC offset", Seconds(2.0),
                  [](auto& s) {
                      for (std::size_t i = 0; i < s.size(); i += 2) {
                          s[i] += 0.01;
                      }
                  },
                  kSameSettings, kDefaultOptions, 2, 44100, "DC offset of 0.0100", nullptr},
        CFactCase{"played at another rate", Seconds(2.0), kUnchanged, kSameSettings, kDefaultOptions, 2,
                  48000, nullptr, "no stimulus found: no tone near the expected f0 of 277 Hz"},
        CFactCase{"mono", Seconds(2.0),
                  [](auto& s) {
                      for (std::size_t i = 0; i < s.size() / 2; ++i) {
                          s[i] = s[2 * i];
                      }
                      s.resize(s.size() / 2);
                  },
                  kSameSettings, kDefaultOptions, 1, 44100, "No reference channel", nullptr},
        CFactCase{"nothing after the skip", Seconds(0.05), kUnchanged, kSameSettings, kDefaultOptions, 2,
                  44100, nullptr, "no frames are left after skipping 0.1 s"},
        CFactCase{"three channels", Seconds(0.9), kUnchanged, kSameSettings, kDefaultOptions, 3, 44100,
                  nullptr, "choose the left and the reference"},
        CFactCase{"no such channel", Seconds(1.0), kUnchanged, kSameSettings,
                  [](auto& o) { o.m_nRightChannel = 3; }, 2, 44100, nullptr, "it has no channel 3"},
        CFactCase{"NaN", Seconds(1.0), [](auto& s) { s[20000] = std::numeric_limits<double>::quiet_NaN(); },
                  kSameSettings, kDefaultOptions, 2, 44100, nullptr,
                  "not a finite number (NaN or infinite, or beyond 10^12 times full scale) at frame 10000"},
        CFactCase{"no stimulus", Seconds(1.0), kUnchanged, [](auto& s) { s.m_dFundamentalFreq = 0.0; },
                  kDefaultOptions, 2, 44100, nullptr, "the settings describe no stimulus"}),
    [](const testing::TestParamInfo<CFactCase>& info) {
        std::string name = info.param.m_szName;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

// The lines of the default stimulus, and of one with a daughter on the harmonics' lines.
TEST(AnalysisPlan, LinesOfTheStimulus) {
    const analysis::CAnalysisPlan plan =
        analysis::MakeAnalysisPlan(MakeJobPlan(CGenerationSettings()), 44100.0);
    ASSERT_EQ(plan.m_aTones.size(), 37u);
    EXPECT_EQ(plan.m_aTones.front().m_nNumber, 3u);
    EXPECT_EQ(plan.m_aTones.back().m_dFrequencyHz, 75 * 277.0);
    // f0, the even harmonics below half the rate, and 77 and 79 above the band limit.
    std::vector<unsigned> expected = {1};
    for (unsigned n = 2; n * 277 < 22050; n += 2) {
        expected.push_back(n);
    }
    expected.insert(expected.end() - 1, 77); // 77 x 277 lies between the lines 76 and 78
    expected.push_back(79);
    std::vector<unsigned> numbers;
    for (const auto& line : plan.m_aLines) {
        numbers.push_back(line.m_nNumber);
    }
    EXPECT_EQ(numbers, expected);
    EXPECT_TRUE(plan.m_aWarnings.empty());

    // A daughter at 14 f0 is sin(14 w t) sin(w t): half its level at 13 f0 and 15 f0, on harmonics whose
    // lines then carry both, and the line 14 loses nothing because no tone lands there.
    const analysis::CAnalysisPlan shared = analysis::MakeAnalysisPlan(MakeJobPlan(Daughter()), 44100.0);
    ASSERT_EQ(shared.m_aTones.size(), 37u + 2u);
    const auto& h13 = shared.m_aTones[5];
    const auto& lower = shared.m_aTones[37];
    EXPECT_EQ(h13.m_nNumber, 13u);
    EXPECT_EQ(lower.m_dFrequencyHz, 13 * 277.0);
    // sin is cos(x - pi/2): the harmonic's phasor is -i A/n; the lower side is +level/2.
    EXPECT_EQ(h13.m_combined, std::complex<double>(0.125, -0.5 / 13));
    EXPECT_EQ(lower.m_combined, h13.m_combined);
    ASSERT_EQ(shared.m_aWarnings.size(), 1u);
    EXPECT_NE(shared.m_aWarnings[0].find("on the line of harmonic 13"), std::string::npos)
        << shared.m_aWarnings[0];
}

} // namespace

// Limits and verdicts against a report whose figures the test sets itself: each bound passing and
// failing at its edge, masks between their points and relative to a frequency, bad limit files named
// by their line, and the JUnit file's counts.
#include <cmath>
#include <gtest/gtest.h>

#include "instrument/limits.h"

namespace {

// A report with the figures a limit may name, and tones whose gains fall 1 dB per octave from 1 kHz.
analysis::CAnalysisReport Report() {
    analysis::CAnalysisReport report;
    report.m_dFundamentalHz = 277.0;
    report.m_dClockOffsetPpm = 12.0;
    report.m_dDelayMs = 0.25;
    report.m_dDistortionNoiseDb = -85.0;
    report.m_dEvenOrderDb = -120.0;
    report.m_bEvenOrderNoiseLimited = true;
    report.m_dOddOrderDb = -110.0;
    report.m_dNoiseFloorDbfs = -100.0;
    report.m_reference = {true, -0.9, -120.0, -95.0};
    report.m_aSpurs.push_back({50.0, -70.0, "mains 50 Hz"});
    for (const double hz : {250.0, 500.0, 1000.0, 2000.0, 4000.0}) {
        analysis::CToneResult tone;
        tone.m_dFrequencyHz = hz;
        tone.m_dGainDb = -std::log2(hz / 1000.0); // +2 at 250 Hz, -2 at 4 kHz
        tone.m_dPhaseDeg = 0.0;
        report.m_aTones.push_back(tone);
    }
    return report;
}

instrument::CVerdict JudgeText(const std::string& text) {
    std::string error;
    const auto limits = instrument::ParseLimits(text, "limits.toml", error);
    EXPECT_TRUE(limits) << error;
    return limits ? instrument::Judge(Report(), *limits) : instrument::CVerdict{};
}

TEST(Limits, EachBoundPassesAtItsEdgeAndFailsBeyondIt) {
    const struct {
        const char* m_szText;
        bool m_bPass;
        double m_dMargin;
    } cases[] = {
        {"distortion_noise_db = { max = -85.0 }", true, 0.0},
        {"distortion_noise_db = { max = -85.5 }", false, -0.5},
        {"clock_offset_ppm = { min = -100.0, max = 100.0 }", true, 88.0},
        {"clock_offset_ppm = { min = 20.0 }", false, -8.0},
        {"[reference]\nthd_n_db = { max = -90.0 }", true, 5.0},
        {"[reference]\nlevel_dbfs = { min = -0.5 }", false, -0.4},
        {"spur_level_dbfs = { max = -80.0 }", false, -10.0},
        {"delay_ms = { min = 0.0, max = 0.25 }", true, 0.0},
        // Masks: the tones lie on -log2(f / 1 kHz); between points the bound is linear in log f.
        {"[[mask]]\nfigure = \"gain_db\"\nupper = [[100.0, 3.0], [10000.0, 3.0]]\nlower = [[100.0, -3.0], "
         "[10000.0, -3.0]]",
         true, 1.0},
        // -2 dB per decade from 100 Hz: nearest the tones at 4 kHz, where the gain is -2 dB.
        {"[[mask]]\nfigure = \"gain_db\"\nlower = [[100.0, 0.0], [10000.0, -4.0]]", true,
         2.0 * std::log10(4000.0) - 6.0},
        {"[[mask]]\nfigure = \"gain_db\"\nupper = [[1000.0, 0.0], [4000.0, -2.5]]", false, -0.5},
        {"[[mask]]\nfigure = \"gain_db\"\nrelative_to_hz = 2000.0\nupper = [[100.0, 2.5], [10000.0, 2.5]]",
         false, -0.5},
    };
    for (const auto& c : cases) {
        const instrument::CVerdict verdict = JudgeText(c.m_szText);
        ASSERT_EQ(verdict.m_aLimits.size(), 1u) << c.m_szText;
        EXPECT_EQ(verdict.m_bPass, c.m_bPass) << c.m_szText;
        EXPECT_NEAR(verdict.m_aLimits[0].m_dMargin, c.m_dMargin, 1e-9) << c.m_szText;
    }
    // The worst frequency of a mask, and a flag on a noise-limited figure judged as measured.
    EXPECT_EQ(JudgeText("[[mask]]\nfigure = \"gain_db\"\nupper = [[1000.0, 0.0], [4000.0, -2.5]]")
                  .m_aLimits[0]
                  .m_dWorstHz,
              4000.0);
    const instrument::CVerdict noise = JudgeText("even_order_db = { max = -100.0 }");
    EXPECT_TRUE(noise.m_bPass && noise.m_aLimits[0].m_bNoiseLimited);
}

TEST(Limits, BadFilesAreNamedByTheirLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"distortion_noise_db = { max = -80.0 \n", "line 1:"},
        {"\n\nloudness_db = { max = 3.0 }", "line 3: no figure is named 'loudness_db'"},
        {"distortion_noise_db = { max = \"low\" }", "takes min and max, as numbers"},
        {"distortion_noise_db = -80.0", "must be a table such as { max = -80.0 }"},
        {"[[mask]]\nfigure = \"gain_db\"\nupper = [[1000.0, 0.5], [100.0, 0.5]]",
         "line 3: the points of upper are out of order"},
        {"[[mask]]\nfigure = \"level\"\nupper = [[100.0, 0.5], [1000.0, 0.5]]", "a mask's figure must be"},
        {"[[mask]]\nfigure = \"gain_db\"", "a mask needs upper or lower"},
        {"# nothing but a comment\n", "it holds no limits"},
    };
    for (const auto& [text, expected] : cases) {
        std::string error;
        EXPECT_FALSE(instrument::ParseLimits(text, "limits.toml", error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << text << " gave " << error;
    }
}

TEST(Limits, JunitHasOneTestcasePerLimitAndTheFailuresWithTheirMargin) {
    const instrument::CVerdict verdict = JudgeText("distortion_noise_db = { max = -90.0 }\nodd_order_db = { "
                                                   "max = -100.0 }\nnoise_floor_dbfs = { max = -105.0 }");
    const std::string xml = instrument::VerdictJunit(verdict, "unit <7>.wav");
    EXPECT_NE(xml.find("<testsuite name=\"vorlanx-analyze\" tests=\"3\" failures=\"2\">"), std::string::npos)
        << xml;
    std::size_t cases = 0;
    for (std::size_t at = xml.find("<testcase "); at != std::string::npos;
         at = xml.find("<testcase ", at + 1)) {
        ++cases;
    }
    EXPECT_EQ(cases, 3u);
    EXPECT_NE(xml.find("<failure message=\"-85 against &lt;= -90: margin -5\"/>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("classname=\"unit &lt;7&gt;.wav\""), std::string::npos);
    EXPECT_NE(instrument::VerdictJson(verdict).find("\"pass\": false"), std::string::npos);
}

} // namespace

namespace {

// Levels in physical units: a full scale given in dBu, dBV or volts, each level read in it (0 dBu is
// 0.7746 V RMS, 0 dBV 1 V RMS), and limits on the reference's level in those units.
TEST(Limits, FullScaleInPhysicalUnits) {
    const struct {
        const char* m_szText;
        double m_dFullScaleV; // RMS of a full-scale sine
    } cases[] = {{"18dBu", 0.7745966692 * std::pow(10.0, 18.0 / 20.0)},
                 {"-4.2 dBV", std::pow(10.0, -4.2 / 20.0)},
                 {"1.5V", 1.5}};
    for (const auto& c : cases) {
        const auto scale = analysis::ParseFullScale(c.m_szText);
        ASSERT_TRUE(scale) << c.m_szText;
        analysis::CFullScale volts = *scale;
        volts.m_eUnit = analysis::CFullScale::EUnit::Volt;
        EXPECT_NEAR(volts.From(0.0), c.m_dFullScaleV, 1e-9) << c.m_szText;
        EXPECT_NEAR(volts.From(-20.0), c.m_dFullScaleV / 10.0, 1e-9) << c.m_szText;
    }
    for (const char* bad : {"18", "18dB", "-1V", "xdBu", ""}) {
        EXPECT_FALSE(analysis::ParseFullScale(bad)) << bad;
    }
    analysis::CAnalysisReport report = Report(); // the reference at -0.9 dBFS
    report.m_fullScale = analysis::ParseFullScale("1.5V");
    std::string error;
    const auto limits =
        instrument::ParseLimits("[reference]\nlevel_v = { min = 1.34, max = 1.36 }", "l", error);
    ASSERT_TRUE(limits) << error;
    const instrument::CVerdict verdict = instrument::Judge(report, *limits);
    EXPECT_TRUE(verdict.m_bPass);
    EXPECT_NEAR(verdict.m_aLimits[0].m_dValue, 1.5 * std::pow(10.0, -0.9 / 20.0), 1e-9);
    report.m_fullScale.reset();
    EXPECT_FALSE(instrument::Judge(report, *limits).m_bPass)
        << "without a full scale there is no level in volts";
}

} // namespace

namespace {

// Limits from known-good units: each tone's gain within k standard deviations of their mean (gains
// -0.1, 0 and +0.1 dB: sigma 0.1 dB), read back by the same parser and judged.
TEST(Limits, GoldenUnitsSetTheLimitsFromTheirSpread) {
    std::vector<analysis::CAnalysisReport> golden;
    for (const double shift : {-0.1, 0.0, 0.1}) {
        analysis::CAnalysisReport report = Report();
        for (auto& tone : report.m_aTones) {
            tone.m_dGainDb = shift;
        }
        report.m_dDistortionNoiseDb = -90.0 + shift;
        golden.push_back(report);
    }
    const std::string text = instrument::MakeLimits(golden, 3.0);
    std::string error;
    const auto limits = instrument::ParseLimits(text, "golden", error);
    ASSERT_TRUE(limits) << error << "\n" << text;
    ASSERT_EQ(limits->m_aMasks.size(), 1u);
    EXPECT_NEAR(limits->m_aMasks[0].m_aUpper.front().second, 0.3, 1e-4);
    EXPECT_NEAR(limits->m_aMasks[0].m_aLower.back().second, -0.3, 1e-4);
    EXPECT_NEAR(*limits->m_aFigures[0].m_dMax, -89.0, 1e-3) << "at least 1 dB above the mean";
    for (const auto& [gain, pass] :
         {std::pair{0.25, true}, std::pair{0.35, false}, std::pair{-0.35, false}}) {
        analysis::CAnalysisReport unit = golden[1];
        for (auto& tone : unit.m_aTones) {
            tone.m_dGainDb = gain;
        }
        EXPECT_EQ(instrument::Judge(unit, *limits).m_bPass, pass) << gain;
    }
    EXPECT_THROW(instrument::MakeLimits({golden[0]}, 3.0), std::invalid_argument);
}

} // namespace

// The plan of a job and the frames rendered into memory, against what the job writes.
#include <gtest/gtest.h>

#include "generation/frame_render.h"
#include "generation/generate_job.h"
#include "generation/job_plan.h"
#include "tests/support/test_support.h"

namespace {

struct PlanCase {
    const char* name;
    void (*change)(CGenerationSettings&);
    std::size_t harmonics;
    const char* warning; // a phrase of one warning, "" for none at all
    bool refused;
};

std::vector<PlanCase> PlanCases() {
    return {
        {"Defaults", [](CGenerationSettings&) {}, 37, "", false},
        {"EmptyBank", [](CGenerationSettings& s) { s.m_dFundamentalFreq = 8000; }, 0,
         "the mother signal is silent", false},
        {"AliasedReference", [](CGenerationSettings& s) { s.m_dFundamentalFreq = 30000; }, 0,
         "The reference at 30000 Hz is at or above half the sample rate (22050 Hz): it aliases.", false},
        {"AliasedDaughter",
         [](CGenerationSettings& s) {
             s.m_dCarrierFreq2 = 21900;
             s.m_dDaughterAmplitude2 = 0.5;
         },
         37, "Daughter signal 2 has a tone at 22177 Hz", false},
        {"CarrierBeyondTheRate",
         [](CGenerationSettings& s) {
             s.m_dCarrierFreq1 = 50000;
             s.m_dDaughterAmplitude1 = 0.1;
         },
         37, "beyond the sample rate", false},
        {"RateZero", [](CGenerationSettings& s) { s.m_nSampleRate = 0; }, 0, "common readers refuse it",
         false},
        {"NoFrames", [](CGenerationSettings& s) { s.m_dDuration = 0; }, 37, "holds no frames", false},
        // Beyond a RIFF file's 4 GiB: RF64, with a word about it.
        {"BeyondRiff", [](CGenerationSettings& s) { s.m_dDuration = 1e6; }, 37, "written as RF64", false},
    };
}

} // namespace

class JobPlanTest : public testing::TestWithParam<PlanCase> {};

TEST_P(JobPlanTest, CountsAndWarnings) {
    const PlanCase& c = GetParam();
    CGenerationSettings settings;
    c.change(settings);
    const CJobPlan plan = MakeJobPlan(settings);
    EXPECT_EQ(plan.m_aHarmonics.size(), c.harmonics);
    EXPECT_EQ(plan.m_strRefusal.has_value(), c.refused);
    if (*c.warning == '\0') {
        EXPECT_TRUE(plan.m_aWarnings.empty()) << plan.m_aWarnings.front();
    } else {
        EXPECT_TRUE(std::any_of(plan.m_aWarnings.begin(), plan.m_aWarnings.end(), [&](const std::string& w) {
            return w.find(c.warning) != std::string::npos;
        })) << (plan.m_aWarnings.empty() ? "no warning" : plan.m_aWarnings.front());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, JobPlanTest, testing::ValuesIn(PlanCases()),
                         [](const testing::TestParamInfo<PlanCase>& info) { return info.param.name; });

TEST(JobPlan, DefaultsGiveTheDefaultFile) {
    const CJobPlan plan = MakeJobPlan(CGenerationSettings{});
    EXPECT_EQ(plan.m_aHarmonics.front().m_nNumber, 3u);
    EXPECT_EQ(plan.m_aHarmonics.front().m_dFrequencyHz, 831.0);
    EXPECT_EQ(plan.m_aHarmonics.back().m_nNumber, 75u);
    EXPECT_EQ(plan.m_aHarmonics.back().m_dFrequencyHz, 20775.0);
    EXPECT_EQ(plan.m_aHarmonics.back().m_dAmplitude, 1.0 / 75);
    EXPECT_EQ(plan.m_dBandLimitHz, 20947.5);
    EXPECT_EQ(plan.m_nFrames, 1323000u);
    EXPECT_EQ(plan.m_nBytes, 5292044u);
    EXPECT_EQ(plan.m_dDurationS, 30.0);
    EXPECT_EQ(plan.m_aDaughters[0].m_dLowerHz, 3878.0 - 277.0);
}

// Frames in memory are the file's frames, and the whole-file peak is the one the clipping
// warning prints.
TEST(FrameRender, MemoryFramesAndPeakMatchTheFile) {
    test::CTempDir dir;
    auto settings = test::ShortSettings((dir / "clip.wav").string(), 0.7);
    settings.m_dMotherAmplitude = 1.7;
    settings.m_dDaughterAmplitude1 = 0.3;
    test::CRecordingFeedback feedback;
    ASSERT_TRUE(GenerateTestFile(settings, feedback));
    ASSERT_EQ(feedback.m_aTexts.size(), 1u);

    const CJobPlan plan = MakeJobPlan(settings);
    const double peak = WholeFilePeak(settings, plan);
    EXPECT_EQ(ClippingWarning(peak), feedback.m_aTexts[0]);
    const CRenderedFrames frames = RenderFramesInMemory(settings, plan, 1000000);
    EXPECT_EQ(frames.m_dPeak, peak);
    const auto bytes = test::ReadBytes(dir / "clip.wav");
    ASSERT_EQ(bytes.size(), 44 + frames.m_aBytes.size());
    EXPECT_TRUE(std::equal(frames.m_aBytes.begin(), frames.m_aBytes.end(), bytes.begin() + 44));
    EXPECT_EQ(frames.Sample(1), static_cast<std::int16_t>(bytes[46] | bytes[47] << 8) / 32767.0);
    EXPECT_EQ(RenderFramesInMemory(settings, plan, 10).Frames(), 10u);
    settings.m_dFundamentalFreq = 0;
    EXPECT_THROW(WholeFilePeak(settings, MakeJobPlan(settings)), std::invalid_argument);
}

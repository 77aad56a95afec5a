// The block renderer against the per-frame reference: identical files and messages for every
// kernel this CPU runs, at one and at two threads, on settings that exercise every rule.
#include <gtest/gtest.h>

#include <limits>

#include "generation/generate_job.h"
#include "generation/render/sine_kernels.h"
#include "tests/support/test_support.h"

namespace {

using namespace render;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct BatteryCase {
    const char* name;
    CGenerationSettings settings;
};

CGenerationSettings With(double duration, void (*change)(CGenerationSettings&) = nullptr) {
    CGenerationSettings s;
    s.m_dDuration = duration;
    if (change) {
        change(s);
    }
    return s;
}

std::vector<BatteryCase> Battery() {
    return {
        {"Defaults", With(0.5)},
        {"Clipping", With(0.3,
                          [](CGenerationSettings& s) {
                              s.m_dMotherAmplitude = 2.5;
                              s.m_dDaughterAmplitude1 = 0.5;
                          })},
        {"EmptyBank", With(0.2, [](CGenerationSettings& s) { s.m_dNyquistFactor = 0; })},
        {"NegativeCarriers", With(0.3,
                                  [](CGenerationSettings& s) {
                                      s.m_dCarrierFreq1 = -3000;
                                      s.m_dDaughterAmplitude1 = 0.3;
                                      s.m_dCarrierFreq2 = -17;
                                      s.m_dDaughterAmplitude2 = 0.2;
                                  })},
        {"CarriersAboveTheRate", With(0.3,
                                      [](CGenerationSettings& s) {
                                          s.m_dCarrierFreq1 = 50000;
                                          s.m_dDaughterAmplitude1 = 0.4;
                                          s.m_dCarrierFreq2 = 1e7;
                                          s.m_dDaughterAmplitude2 = 0.4;
                                      })},
        {"SecondDaughterOnly", With(0.2, [](CGenerationSettings& s) { s.m_dDaughterAmplitude2 = 0.7; })},
        {"HarmonicAtTheLimit", With(1.1,
                                    [](CGenerationSettings& s) {
                                        s.m_nSampleRate = 1000;
                                        s.m_dFundamentalFreq = 100;
                                        s.m_dNyquistFactor = 1;
                                    })},
        {"OddFrameCount", With(12345.0 / 44100)},
        {"NoFrames", With(0)},
        {"OneFrame", With(1.0 / 44100)},
        {"TwoFrames", With(2.5 / 44100)},
        {"NaNMotherAmplitude", With(0.05, [](CGenerationSettings& s) { s.m_dMotherAmplitude = kNaN; })},
        {"NaNDaughterLevel", With(0.05, [](CGenerationSettings& s) { s.m_dDaughterAmplitude1 = kNaN; })},
        {"LargeAmplitudes", With(0.05,
                                 [](CGenerationSettings& s) {
                                     s.m_dMotherAmplitude = 1e300;
                                     s.m_dDaughterAmplitude2 = -1e308;
                                 })},
        {"NyquistFactorOne", With(0.3, [](CGenerationSettings& s) { s.m_dNyquistFactor = 1; })},
        {"LowFundamentalManyHarmonics",
         With(0.1, [](CGenerationSettings& s) { s.m_dFundamentalFreq = 3.7; })},
        {"TinyAmplitudeNearHalves", With(0.3,
                                         [](CGenerationSettings& s) {
                                             s.m_dMotherAmplitude =
                                                 1.5 / 32767; // values hover around the 0.5 rounding edge
                                         })},
    };
}

struct RendererCase {
    BatteryCase battery;
    std::string kernel;
    unsigned threads;
};

std::vector<RendererCase> AllCases() {
    std::vector<RendererCase> cases;
    for (const BatteryCase& battery : Battery()) {
        for (const char* kernel : {"avx512", "avx2", "sse2", "scalar"}) {
            for (unsigned threads : {1u, 2u}) {
                cases.push_back({battery, kernel, threads});
            }
        }
    }
    return cases;
}

bool Runs(const std::string& kernel) {
    for (const CSineKernel* available : AvailableKernels()) {
        if (kernel == available->m_szName) {
            return true;
        }
    }
    return false;
}

} // namespace

class BlockRendererTest : public testing::TestWithParam<RendererCase> {};

TEST_P(BlockRendererTest, SameBytesAndMessagesAsThePerFrameReference) {
    const RendererCase& c = GetParam();
    if (!Runs(c.kernel)) {
        GTEST_SKIP() << "this CPU cannot run " << c.kernel;
    }
    test::CTempDir dir;
    CGenerationSettings settings = c.battery.settings;

    settings.m_strFileName = (dir / "reference.wav").string();
    test::CRecordingFeedback referenceFeedback;
    render::CRenderOptions reference;
    reference.m_ePath = render::ERenderPath::PerFrame;
    GenerateTestFile(settings, referenceFeedback, reference);

    settings.m_strFileName = (dir / "block.wav").string();
    test::CRecordingFeedback blockFeedback;
    render::CRenderOptions block;
    block.m_strKernel = c.kernel;
    block.m_nThreads = c.threads;
    GenerateTestFile(settings, blockFeedback, block);

    const auto expected = test::ReadBytes(dir / "reference.wav");
    ASSERT_GE(expected.size(), 44u);
    EXPECT_EQ(test::ReadBytes(dir / "block.wav"), expected);
    EXPECT_EQ(blockFeedback.m_aEvents, referenceFeedback.m_aEvents);
}

INSTANTIATE_TEST_SUITE_P(Battery, BlockRendererTest, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<RendererCase>& info) {
                             return std::string(info.param.battery.name) + "_" + info.param.kernel + "_" +
                                    std::to_string(info.param.threads) + "threads";
                         });

// The block renderer against the per-frame reference: identical files and messages for every
// kernel this CPU runs, at one and at two threads, on settings that exercise every rule, in every
// sample format and container.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

#include "generation/generate_job.h"
#include "generation/render/kernel_body.h"
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

CGenerationSettings As(ESampleFormat format, CGenerationSettings s, EContainer container = EContainer::Auto) {
    s.m_eFormat = format;
    s.m_eContainer = container;
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
        // Many frames exactly on a rounding tie (16383.5) or on full scale: one harmonic, or a
        // carrier and its modulator, at a quarter of the rate, so the sines are exactly +-1.
        {"TieHarmonicAtQuarterRate", With(0.2,
                                          [](CGenerationSettings& s) {
                                              s.m_nSampleRate = 12000;
                                              s.m_dFundamentalFreq = 1000;
                                              s.m_dNyquistFactor = 0.8; // only n = 3, at 3000 Hz
                                              s.m_dMotherAmplitude = 1.5;
                                          })},
        {"FullScaleHarmonicAtQuarterRate", With(0.2,
                                                [](CGenerationSettings& s) {
                                                    s.m_nSampleRate = 12000;
                                                    s.m_dFundamentalFreq = 1000;
                                                    s.m_dNyquistFactor = 0.8;
                                                    s.m_dMotherAmplitude = 3; // A / 3 = 1: left hits 32767
                                                })},
        {"TieRingModulatorAtQuarterRate", With(0.2,
                                               [](CGenerationSettings& s) {
                                                   s.m_nSampleRate = 8000;
                                                   s.m_dFundamentalFreq = 2000;
                                                   s.m_dNyquistFactor = 0.5; // no harmonic
                                                   s.m_dCarrierFreq1 = 2000;
                                                   s.m_dDaughterAmplitude1 = 0.5;
                                               })},
        // Frequencies that never repeat, over several rendering rounds of every kernel.
        {"NonRepeatingAcrossRounds", With(4.6,
                                          [](CGenerationSettings& s) {
                                              s.m_dFundamentalFreq = 261.6255653005986;
                                              s.m_dCarrierFreq1 = 3877.7712;
                                              s.m_dDaughterAmplitude1 = 0.3;
                                              s.m_dCarrierFreq2 = 4155.0123;
                                              s.m_dDaughterAmplitude2 = 0.25;
                                              s.m_dMotherAmplitude = 1.4;
                                          })},
        // Phases beyond the range in which SLEEF documents its error.
        {"CarrierBeyondTheTrustedPhase", With(0.1,
                                              [](CGenerationSettings& s) {
                                                  s.m_dCarrierFreq1 = 1e20;
                                                  s.m_dDaughterAmplitude1 = 0.3;
                                              })},
        {"TinyAmplitudeNearHalves", With(0.3,
                                         [](CGenerationSettings& s) {
                                             s.m_dMotherAmplitude =
                                                 1.5 / 32767; // values hover around the 0.5 rounding edge
                                         })},
        // The other formats and containers, with and without fades (sample_format.h): the 24-bit
        // format's ties and full scale, and float's infinities, NaN, subnormals and 1.0.
        {"S24WithFades", As(ESampleFormat::S24, With(0.5,
                                                     [](CGenerationSettings& s) {
                                                         s.m_dFadeInS = 0.1;
                                                         s.m_dFadeOutS = 0.2;
                                                         s.m_dDaughterAmplitude1 = 0.2;
                                                     }))},
        {"S24Clipping",
         As(ESampleFormat::S24, With(0.3, [](CGenerationSettings& s) { s.m_dMotherAmplitude = 2.5; }))},
        {"S24TieAtQuarterRate", As(ESampleFormat::S24, With(0.2,
                                                            [](CGenerationSettings& s) {
                                                                s.m_nSampleRate = 12000;
                                                                s.m_dFundamentalFreq = 1000;
                                                                s.m_dNyquistFactor = 0.8;
                                                                s.m_dMotherAmplitude = 1.5; // 4194303.5
                                                            }))},
        {"S24FullScaleAtQuarterRate", As(ESampleFormat::S24, With(0.2,
                                                                  [](CGenerationSettings& s) {
                                                                      s.m_nSampleRate = 12000;
                                                                      s.m_dFundamentalFreq = 1000;
                                                                      s.m_dNyquistFactor = 0.8;
                                                                      s.m_dMotherAmplitude = 3; // 8388607
                                                                  }))},
        {"F32OverlappingFades", As(ESampleFormat::F32, With(0.5,
                                                            [](CGenerationSettings& s) {
                                                                s.m_dFadeInS = 0.3;
                                                                s.m_dFadeOutS = 0.3;
                                                            }))},
        {"F32AboveFullScale",
         As(ESampleFormat::F32, With(0.3, [](CGenerationSettings& s) { s.m_dMotherAmplitude = 2.5; }))},
        {"F32OneAtQuarterRate", As(ESampleFormat::F32, With(0.2,
                                                            [](CGenerationSettings& s) {
                                                                s.m_nSampleRate = 12000;
                                                                s.m_dFundamentalFreq = 1000;
                                                                s.m_dNyquistFactor = 0.8;
                                                                s.m_dMotherAmplitude = 3; // left = 1.0
                                                            }))},
        {"F32NaN",
         As(ESampleFormat::F32, With(0.05, [](CGenerationSettings& s) { s.m_dDaughterAmplitude1 = kNaN; }))},
        {"F32Infinities", As(ESampleFormat::F32, With(0.05,
                                                      [](CGenerationSettings& s) {
                                                          s.m_dMotherAmplitude = 1e39;
                                                          s.m_dDaughterAmplitude2 = -1e300;
                                                      }))},
        {"F32Subnormal",
         As(ESampleFormat::F32, With(0.1, [](CGenerationSettings& s) { s.m_dMotherAmplitude = 3e-42; }))},
        {"F32NonRepeatingAcrossRounds", As(ESampleFormat::F32, With(4.6,
                                                                    [](CGenerationSettings& s) {
                                                                        s.m_dFundamentalFreq =
                                                                            261.6255653005986;
                                                                        s.m_dCarrierFreq1 = 3877.7712;
                                                                        s.m_dDaughterAmplitude1 = 0.3;
                                                                        s.m_dMotherAmplitude = 1.4;
                                                                        s.m_dFadeOutS = 1.3;
                                                                    }))},
        {"FlacS24WithFade", As(ESampleFormat::S24,
                               With(0.4,
                                    [](CGenerationSettings& s) {
                                        s.m_eContainer = EContainer::Flac;
                                        s.m_dFadeInS = 0.05;
                                    }),
                               EContainer::Flac)},
        {"Rf64F32", As(ESampleFormat::F32, With(0.3), EContainer::Rf64)},
    };
}

struct RendererCase {
    BatteryCase battery;
    std::string kernel;
    unsigned threads;
};

void PrintTo(const RendererCase& c, std::ostream* out) {
    *out << c.battery.name << " on " << c.kernel << " with " << c.threads << " threads";
}

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

namespace {

// A kernel whose sine is off by up to 1e-7, and says so: the margins grow to match, and the bytes
// must still be the reference's; with the margins at zero they must not be (the margin is what
// makes the bytes exact).
using Scalar = double __attribute__((vector_size(8)));
constexpr double kPerturbation = 1e-7;
Scalar PerturbedSin(Scalar x) {
    Scalar result;
    // Always below sin, so that values exactly on a tie move off it.
    result[0] = std::sin(x[0]) - kPerturbation * (0.6 + 0.4 * std::cos(7.0 * x[0]));
    return result;
}
void PerturbedSinCos(Scalar x, Scalar& sine, Scalar& cosine) {
    sine = PerturbedSin(x);
    cosine[0] = std::cos(x[0]);
}
const CSineKernel kPerturbedKernel = {"perturbed",
                                      1,
                                      false,
                                      kPerturbation + 1e-15,
                                      false,
                                      &RenderLanes<Scalar, 1, PerturbedSin, PerturbedSin>,
                                      &AdvancePhases<Scalar, 1>,
                                      &SinCosOf<Scalar, 1, PerturbedSinCos>};

// The file `settings` give with `options`, read back.
std::vector<unsigned char> Render(CGenerationSettings settings, const render::CRenderOptions& options,
                                  test::CRecordingFeedback& feedback) {
    test::CTempDir dir;
    settings.m_strFileName = (dir / "out.wav").string();
    GenerateTestFile(settings, feedback, options);
    return test::ReadBytes(dir / "out.wav");
}

std::vector<unsigned char> Reference(const CGenerationSettings& settings) {
    render::CRenderOptions options;
    options.m_ePath = render::ERenderPath::PerFrame;
    test::CRecordingFeedback feedback;
    return Render(settings, options, feedback);
}

} // namespace

TEST(BlockRendererProof, MarginAbsorbsAPerturbedSineAndNothingElseDoes) {
    for (const BatteryCase& c : Battery()) {
        const std::string name = c.name;
        if (name != "Defaults" && name != "Clipping" && name != "TieRingModulatorAtQuarterRate" &&
            name != "S24TieAtQuarterRate" && name != "F32OverlappingFades") {
            continue;
        }
        const auto expected = Reference(c.settings);
        render::CTestHooks hooks;
        hooks.m_pKernel = &kPerturbedKernel;
        render::CRenderOptions options;
        options.m_nThreads = 2;
        options.m_pTestHooks = &hooks;
        test::CRecordingFeedback feedback;
        EXPECT_EQ(Render(c.settings, options, feedback), expected) << c.name;
        hooks.m_dMarginFactor = 0.0;
        EXPECT_NE(Render(c.settings, options, feedback), expected) << c.name << ": nothing pins the margin";
    }
}

TEST(BlockRendererFailures, HelpersThatCannotStartLeaveTheWorkToTheOthers) {
    const CGenerationSettings settings = With(1.0);
    const auto expected = Reference(settings);
    for (unsigned started : {0u, 1u}) {
        render::CTestHooks hooks;
        hooks.m_nHelpersThatStart = started;
        render::CRenderOptions options;
        options.m_nThreads = 4;
        options.m_pTestHooks = &hooks;
        test::CRecordingFeedback feedback;
        EXPECT_EQ(Render(settings, options, feedback), expected) << started << " helpers started";
        EXPECT_EQ(feedback.m_aEvents, (std::vector<std::string>{"BeginWait", "EndWait"}));
    }
}

TEST(BlockRendererFailures, AnExceptionInAHelperLeavesTheJobAfterEndWait) {
    render::CTestHooks hooks;
    hooks.m_bHelperThrows = true;
    render::CRenderOptions options;
    options.m_nThreads = 2;
    options.m_pTestHooks = &hooks;
    test::CTempDir dir;
    CGenerationSettings settings = With(1.0);
    settings.m_strFileName = (dir / "out.wav").string();
    test::CRecordingFeedback feedback;
    EXPECT_THROW(GenerateTestFile(settings, feedback, options), std::bad_alloc);
    EXPECT_EQ(feedback.m_aEvents, (std::vector<std::string>{"BeginWait", "EndWait"}));
}

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include "generation/wav_format.h"

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

struct SampleCase {
    double value;
    int left;  // expected left sample
    int right; // expected right sample (never clipped; only for values in range)
};

class SampleRuleTest : public testing::TestWithParam<SampleCase> {};

TEST_P(SampleRuleTest, RoundsHalvesAwayFromZeroAndClipsLeftOnly) {
    const SampleCase c = GetParam();
    EXPECT_EQ(LeftSample(c.value), c.left) << c.value;
    if (std::isnan(c.value) || std::fabs(c.value) < 32767.5) {
        EXPECT_EQ(RightSample(c.value), c.right) << c.value;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SampleRuleTest,
    testing::Values(SampleCase{0.0, 0, 0}, SampleCase{-0.0, 0, 0}, SampleCase{2.5, 3, 3},
                    SampleCase{-2.5, -3, -3}, SampleCase{2.4999, 2, 2}, SampleCase{-2.4999, -2, -2},
                    // The largest double below 0.5: adding 0.5 rounds up to 1.
                    SampleCase{0.49999999999999994, 1, 1}, SampleCase{-0.49999999999999994, -1, -1},
                    SampleCase{32767.0, 32767, 32767}, SampleCase{32767.2, 32767, 32767},
                    SampleCase{-32767.6, -32768, 0}, SampleCase{-32768.0, -32768, -32768},
                    SampleCase{-40000.0, -32768, 0}, SampleCase{1e300, 32767, 0}, SampleCase{kNaN, 0, 0},
                    SampleCase{29490.3, 29490, 29490}));

TEST(WavHeader, DefaultHeaderFields) {
    const CWavHeader h = MakeWavHeader(44100, 1323000);
    const unsigned char riff[12] = {'R', 'I', 'F', 'F', 0x04, 0xC0, 0x50, 0x00, 'W', 'A', 'V', 'E'};
    // 5292036 = 0x0050C004
    EXPECT_TRUE(std::equal(h.m_aRiff.begin(), h.m_aRiff.end(), riff));
    const unsigned char format[24] = {'f',  'm', 't', ' ',  16,   0,    0, 0, 1, 0,  2, 0, 0x44,
                                      0xAC, 0,   0,   0x10, 0xB1, 0x02, 0, 4, 0, 16, 0}; // 44100, 176400
    EXPECT_TRUE(std::equal(h.m_aFormat.begin(), h.m_aFormat.end(), format));
    const unsigned char data[8] = {'d', 'a', 't', 'a', 0xE0, 0xBF, 0x50, 0x00}; // 5292000
    EXPECT_TRUE(std::equal(h.m_aData.begin(), h.m_aData.end(), data));
}

TEST(WavHeader, SizesWrapModulo2To32) {
    const CWavHeader h = MakeWavHeader(0xFFFFFFFFu, 1073741824u); // 4 x N = 2^32 -> 0
    EXPECT_EQ(h.m_aData[4] | h.m_aData[5] | h.m_aData[6] | h.m_aData[7], 0);
    EXPECT_EQ(h.m_aRiff[4], 36);
    EXPECT_EQ(h.m_aFormat[16], 0xFC); // 0xFFFFFFFF x 4 = 0xFFFFFFFC
}

struct FrameCountCase {
    std::uint32_t rate;
    double duration;
    std::int64_t product;
    std::uint32_t frames;
};

class FrameCountTest : public testing::TestWithParam<FrameCountCase> {};

TEST_P(FrameCountTest, TruncatesTowardZeroAndKeepsLow32Bits) {
    const FrameCountCase c = GetParam();
    EXPECT_EQ(FrameCountProduct(c.rate, c.duration), c.product);
    EXPECT_EQ(FrameCount(c.rate, c.duration), c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameCountTest,
    testing::Values(FrameCountCase{44100, 30, 1323000, 1323000}, FrameCountCase{44100, 0.00001, 0, 0},
                    FrameCountCase{8000, 1.5, 12000, 12000}, FrameCountCase{0, 30, 0, 0},
                    FrameCountCase{44100, 0, 0, 0}, FrameCountCase{44100, -1, -44100, 4294923196u},
                    FrameCountCase{44100, -0.5, -22050, 4294945246u}, FrameCountCase{1000000, 1e300, 0, 0},
                    FrameCountCase{44100, kNaN, 0, 0}, FrameCountCase{65536, 65536, 4294967296, 0}));

TEST(WavFrame, PacksLeftThenRightLittleEndian) {
    unsigned char out[4];
    PackFrame(-2, 0x1234, out);
    EXPECT_EQ(out[0], 0xFE);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0x34);
    EXPECT_EQ(out[3], 0x12);
}

namespace {

std::uint64_t LittleEndian(const std::vector<unsigned char>& bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | bytes.at(at + i);
    }
    return value;
}

std::string Tag(const std::vector<unsigned char>& bytes, std::size_t at) {
    return std::string(bytes.begin() + at, bytes.begin() + at + 4);
}

// The fields of an EXTENSIBLE format chunk at `at`, against the values the format implies.
void ExpectExtensibleFormat(const std::vector<unsigned char>& h, std::size_t at, std::uint32_t rate,
                            unsigned bits, bool isFloat) {
    const unsigned align = 2 * bits / 8;
    EXPECT_EQ(Tag(h, at), "fmt ");
    EXPECT_EQ(LittleEndian(h, at + 4, 4), 40u);
    EXPECT_EQ(LittleEndian(h, at + 8, 2), 0xFFFEu);
    EXPECT_EQ(LittleEndian(h, at + 10, 2), 2u);
    EXPECT_EQ(LittleEndian(h, at + 12, 4), rate);
    EXPECT_EQ(LittleEndian(h, at + 16, 4), std::uint64_t{rate} * align);
    EXPECT_EQ(LittleEndian(h, at + 20, 2), align);
    EXPECT_EQ(LittleEndian(h, at + 22, 2), bits);
    EXPECT_EQ(LittleEndian(h, at + 24, 2), 22u);  // cbSize
    EXPECT_EQ(LittleEndian(h, at + 26, 2), bits); // valid bits
    EXPECT_EQ(LittleEndian(h, at + 28, 4), 3u);   // front left, front right
    // KSDATAFORMAT_SUBTYPE_PCM {00000001-0000-0010-8000-00aa00389b71} or _IEEE_FLOAT (00000003-...).
    const std::vector<unsigned char> guid = {static_cast<unsigned char>(isFloat ? 3 : 1),
                                             0,
                                             0,
                                             0,
                                             0,
                                             0,
                                             0x10,
                                             0,
                                             0x80,
                                             0,
                                             0,
                                             0xAA,
                                             0,
                                             0x38,
                                             0x9B,
                                             0x71};
    EXPECT_EQ(std::vector<unsigned char>(h.begin() + at + 32, h.begin() + at + 48), guid);
}

} // namespace

TEST(FileHeader, SixteenBitWavIsTheCanonicalHeader) {
    const CWavHeader canonical = MakeWavHeader(48000, 12345);
    const auto h = MakeFileHeader(ESampleFormat::S16, EContainer::Wav, 48000, 12345);
    ASSERT_EQ(h.size(), 44u);
    EXPECT_TRUE(std::equal(canonical.m_aRiff.begin(), canonical.m_aRiff.end(), h.begin()));
    EXPECT_TRUE(std::equal(canonical.m_aData.begin(), canonical.m_aData.end(), h.begin() + 36));
}

TEST(FileHeader, TwentyFourBitAndFloatWavAreExtensible) {
    const auto pcm = MakeFileHeader(ESampleFormat::S24, EContainer::Wav, 96000, 1000);
    ASSERT_EQ(pcm.size(), 68u);
    EXPECT_EQ(Tag(pcm, 0), "RIFF");
    EXPECT_EQ(LittleEndian(pcm, 4, 4), 60u + 6000u);
    ExpectExtensibleFormat(pcm, 12, 96000, 24, false);
    EXPECT_EQ(Tag(pcm, 60), "data");
    EXPECT_EQ(LittleEndian(pcm, 64, 4), 6000u);

    const auto flt = MakeFileHeader(ESampleFormat::F32, EContainer::Wav, 44100, 1000);
    ASSERT_EQ(flt.size(), 80u);
    EXPECT_EQ(LittleEndian(flt, 4, 4), 72u + 8000u);
    ExpectExtensibleFormat(flt, 12, 44100, 32, true);
    EXPECT_EQ(Tag(flt, 60), "fact");
    EXPECT_EQ(LittleEndian(flt, 64, 4), 4u);
    EXPECT_EQ(LittleEndian(flt, 68, 4), 1000u); // frames
    EXPECT_EQ(Tag(flt, 72), "data");
    EXPECT_EQ(LittleEndian(flt, 76, 4), 8000u);
}

TEST(FileHeader, Rf64CarriesTheSizesBeyond4GiBInDs64) {
    // A day at 96 kHz: 8294400000 frames.
    const std::uint64_t frames = 8294400000ull;
    struct Case {
        ESampleFormat format;
        std::size_t size, formatAt, dataAt;
    };
    for (const Case& c : {Case{ESampleFormat::S16, 80, 48, 72}, Case{ESampleFormat::S24, 104, 48, 96},
                          Case{ESampleFormat::F32, 116, 48, 108}}) {
        const auto h = MakeFileHeader(c.format, EContainer::Rf64, 96000, frames);
        ASSERT_EQ(h.size(), c.size);
        const std::uint64_t data = frames * BytesPerFrame(c.format);
        EXPECT_EQ(Tag(h, 0), "RF64");
        EXPECT_EQ(LittleEndian(h, 4, 4), 0xFFFFFFFFu);
        EXPECT_EQ(Tag(h, 8), "WAVE");
        EXPECT_EQ(Tag(h, 12), "ds64");
        EXPECT_EQ(LittleEndian(h, 16, 4), 28u);
        EXPECT_EQ(LittleEndian(h, 20, 8), c.size - 8 + data); // the RIFF size: the file's, less 8
        EXPECT_EQ(LittleEndian(h, 28, 8), data);
        EXPECT_EQ(LittleEndian(h, 36, 8), frames);
        EXPECT_EQ(LittleEndian(h, 44, 4), 0u);
        if (c.format == ESampleFormat::S16) {
            EXPECT_EQ(LittleEndian(h, c.formatAt + 4, 4), 16u);
            EXPECT_EQ(LittleEndian(h, c.formatAt + 8, 2), 1u);
        } else {
            ExpectExtensibleFormat(h, c.formatAt, 96000, 8 * BytesPerSample(c.format),
                                   c.format == ESampleFormat::F32);
        }
        if (c.format == ESampleFormat::F32) {
            EXPECT_EQ(Tag(h, 96), "fact");
            EXPECT_EQ(LittleEndian(h, 104, 4), 0xFFFFFFFFu);
        }
        EXPECT_EQ(Tag(h, c.dataAt), "data");
        EXPECT_EQ(LittleEndian(h, c.dataAt + 4, 4), 0xFFFFFFFFu);
    }
    EXPECT_TRUE(FitsRiff(ESampleFormat::S16, kMaxWavFrames));
    EXPECT_FALSE(FitsRiff(ESampleFormat::S16, kMaxWavFrames + 1));
    EXPECT_FALSE(FitsRiff(ESampleFormat::F32, (0xFFFFFFFFull - 72) / 8 + 1));
    EXPECT_TRUE(FitsRiff(ESampleFormat::F32, (0xFFFFFFFFull - 72) / 8));
}

TEST(SampleFormats, TwentyFourBitRoundsAndClipsLikeSixteenAtItsOwnScale) {
    constexpr double S = 8388607.0;
    struct Case {
        double value;
        std::int32_t left, right;
    };
    for (const Case& c : {Case{4194303.5, 4194304, 4194304}, Case{-4194303.5, -4194304, -4194304},
                          Case{S + 0.2, 8388607, 8388607}, Case{-S - 0.6, -8388608, -8388608},
                          Case{-S - 1.0, -8388608, -8388608}, Case{-9e6, -8388608, -9000000},
                          Case{1e300, 8388607, 0}, Case{kNaN, 0, 0}, Case{0.49999999999999994, 1, 1}}) {
        EXPECT_EQ(IntegerLeftSample(c.value, S), c.left) << c.value;
        if (std::fabs(c.value) < 1e9) {
            EXPECT_EQ(IntegerRightSample(c.value), c.right) << c.value;
        }
    }
    unsigned char frame[6];
    EXPECT_EQ(PackFrame(ESampleFormat::S24, -2.0, 0x123456, frame), 2.0);
    EXPECT_EQ(std::vector<unsigned char>(frame, frame + 6),
              (std::vector<unsigned char>{0xFE, 0xFF, 0xFF, 0x56, 0x34, 0x12}));
    EXPECT_TRUE(PeakClips(ESampleFormat::S24, 8388607.2));
    EXPECT_FALSE(PeakClips(ESampleFormat::S24, 8388607.0));
}

TEST(SampleFormats, FloatRoundsToNearestEvenWithoutClipping) {
    const float afterOne = std::nextafter(1.0f, 2.0f);          // 1 + 2^-23
    EXPECT_EQ(FloatSample(1.0 + 0x1p-24), 1.0f);                // a tie: to the even 1.0
    EXPECT_EQ(FloatSample(1.0 + 0x1p-24 + 0x1p-50), afterOne);  // past the tie
    EXPECT_EQ(FloatSample(1.0 + 3 * 0x1p-24), 1.0f + 0x1p-22f); // a tie: to the even 1 + 2^-22
    EXPECT_EQ(FloatSample(2.5), 2.5f);                          // never clipped
    EXPECT_EQ(FloatSample(kNaN), 0.0f);
    EXPECT_EQ(FloatSample(3.5e38), HUGE_VALF);
    EXPECT_EQ(FloatSample(-3.5e38), -HUGE_VALF);
    EXPECT_EQ(FloatSample(0x1.fffffefffffffp127), std::numeric_limits<float>::max()); // below the half step
    EXPECT_EQ(FloatSample(1e-46), 0.0f); // below half the smallest subnormal
    unsigned char frame[8];
    EXPECT_EQ(PackFrame(ESampleFormat::F32, -1.5, 0.25, frame), 1.5);
    EXPECT_EQ(std::vector<unsigned char>(frame, frame + 8),
              (std::vector<unsigned char>{0, 0, 0xC0, 0xBF, 0, 0, 0x80, 0x3E})); // -1.5f, 0.25f
    EXPECT_TRUE(PeakClips(ESampleFormat::F32, afterOne));
    EXPECT_FALSE(PeakClips(ESampleFormat::F32, 1.0));
}

TEST(SampleFormats, FadesStartAndEndInSilenceAndRiseAsARaisedCosine) {
    const std::uint64_t frames = 1000, fadeIn = 100, fadeOut = 200;
    EXPECT_EQ(FadeGain(0, frames, fadeIn, fadeOut), 0.0);
    EXPECT_EQ(FadeGain(frames - 1, frames, fadeIn, fadeOut), 0.0);
    EXPECT_EQ(FadeGain(fadeIn, frames, fadeIn, fadeOut), 1.0);
    EXPECT_EQ(FadeGain(500, frames, fadeIn, fadeOut), 1.0);
    EXPECT_EQ(FadeGain(500, frames, 0, 0), 1.0);
    EXPECT_NEAR(FadeGain(50, frames, fadeIn, fadeOut), 0.5, 1e-15);               // half-way in
    EXPECT_NEAR(FadeGain(frames - 1 - 100, frames, fadeIn, fadeOut), 0.5, 1e-15); // half-way out
    double previous = -1.0;
    for (std::uint64_t k = 0; k < fadeIn; ++k) { // sin^2 (pi k / 2F), rising
        const double gain = FadeGain(k, frames, fadeIn, fadeOut);
        EXPECT_NEAR(gain, std::pow(std::sin(M_PI * static_cast<double>(k) / 200.0), 2), 1e-15) << k;
        EXPECT_GT(gain, previous);
        previous = gain;
    }
    // Fades that overlap multiply: in a 10-frame file with both 10 frames long, the ends are 0.
    EXPECT_EQ(FadeGain(0, 10, 10, 10), 0.0);
    EXPECT_EQ(FadeGain(9, 10, 10, 10), 0.0);
    EXPECT_NEAR(FadeGain(5, 10, 10, 10),
                std::pow(std::sin(M_PI * 5 / 20), 2) * std::pow(std::sin(M_PI * 4 / 20), 2), 1e-15);
    EXPECT_EQ(FadeFrames(0.5, 44100), 22050u);
    EXPECT_EQ(FadeFrames(0.00001, 44100), 0u);
    EXPECT_EQ(FadeFrames(kNaN, 44100), 0u);
}

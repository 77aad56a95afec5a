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

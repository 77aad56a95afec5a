#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <sndfile.h>

#include "generation/generate_job.h"
#include "generation/job_sources.h"
#include "tests/support/test_support.h"

using test::CRecordingFeedback;
using test::CTempDir;
using test::ReadBytes;

namespace {

std::uint32_t Le32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::vector<std::string> QuietRun() {
    return {"BeginWait", "EndWait"};
}

} // namespace

// The whole default file: size, header, first frames, and a real reader's view of it.
TEST(GenerateJob, DefaultFile) {
    CTempDir dir;
    CGenerationSettings settings;
    settings.m_strFileName = (dir / "Ombrel.wav").string();
    CRecordingFeedback feedback;
    EXPECT_TRUE(GenerateTestFile(settings, feedback));
    EXPECT_EQ(feedback.m_aEvents, QuietRun()) << "no warning: the peak stays below 32767";

    const auto bytes = ReadBytes(dir / "Ombrel.wav");
    ASSERT_EQ(bytes.size(), 5292044u);
    EXPECT_EQ(Le32(bytes, 4), 5292036u);
    EXPECT_EQ(Le32(bytes, 40), 5292000u);

    const auto wav = test::DecodeWithSndfile(dir / "Ombrel.wav");
    ASSERT_TRUE(wav.m_bOpened);
    EXPECT_EQ(wav.m_nChannels, 2);
    EXPECT_EQ(wav.m_nSampleRate, 44100);
    EXPECT_EQ(wav.m_nFormat, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(wav.m_aSamples.size(), 2u * 1323000);
    const std::int16_t first[10] = {0, 0, 28996, 1164, 20756, 2325, 23411, 3483, 19502, 4636};
    EXPECT_TRUE(std::equal(first, first + 10, wav.m_aSamples.begin()));
}

TEST(GenerateJob, DefaultPeakIsBelowFullScale) {
    CGenerationSettings settings;
    CJobSources sources;
    PrepareSources(settings, sources);
    double peak = 0.0;
    for (int i = 0; i < 1323000; ++i) {
        peak = std::max(peak, std::fabs(NextFrameValues(sources).m_dLeft));
    }
    EXPECT_NEAR(peak, 29006.06, 0.005);
}

TEST(GenerateJob, EmptyFilesForZeroFrames) {
    CTempDir dir;
    for (auto [rate, duration] : {std::pair{44100u, 0.0}, std::pair{0u, 30.0}, std::pair{44100u, 0.00001}}) {
        auto settings = test::ShortSettings(dir / "empty.wav", duration);
        settings.m_nSampleRate = rate;
        CRecordingFeedback feedback;
        EXPECT_TRUE(GenerateTestFile(settings, feedback));
        EXPECT_EQ(feedback.m_aEvents, QuietRun());
        const auto bytes = ReadBytes(dir / "empty.wav");
        ASSERT_EQ(bytes.size(), 44u);
        EXPECT_EQ(Le32(bytes, 4), 36u);
        EXPECT_EQ(Le32(bytes, 40), 0u);
    }
}

TEST(GenerateJob, FractionalDurationIsTruncated) {
    CTempDir dir;
    auto settings = test::ShortSettings(dir / "f.wav", 1.5);
    settings.m_nSampleRate = 8000;
    CRecordingFeedback feedback;
    GenerateTestFile(settings, feedback);
    EXPECT_EQ(ReadBytes(dir / "f.wav").size(), 44u + 4 * 12000);
}

TEST(GenerateJob, TruncatesAnExistingLongerFileAndRepeatsItself) {
    CTempDir dir;
    test::WriteBytes(dir / "t.wav", std::vector<unsigned char>(100000, 0xAA));
    const auto settings = test::ShortSettings(dir / "t.wav", 0.01);
    CRecordingFeedback feedback;
    GenerateTestFile(settings, feedback);
    const auto first = ReadBytes(dir / "t.wav");
    EXPECT_EQ(first.size(), 44u + 4 * 441);
    GenerateTestFile(settings, feedback);
    EXPECT_EQ(ReadBytes(dir / "t.wav"), first);
}

TEST(GenerateJob, ClippingWarnsOnceAfterTheFileIsComplete) {
    CTempDir dir;
    auto settings = test::ShortSettings(dir / "c.wav", 0.1);
    settings.m_dMotherAmplitude = 2.0;
    CRecordingFeedback feedback;
    EXPECT_TRUE(GenerateTestFile(settings, feedback));
    ASSERT_EQ(feedback.m_aEvents.size(), 3u);
    EXPECT_EQ(feedback.m_aEvents[1], "EndWait");
    EXPECT_EQ(feedback.m_aTypes[0], MB_ICONEXCLAMATION);
    EXPECT_EQ(feedback.m_aTexts[0].rfind("Warning! Clipped samples detected, Max = ", 0), 0u);
    const auto wav = test::DecodeWithSndfile(dir / "c.wav");
    ASSERT_EQ(wav.m_aSamples.size(), 2u * 4410);
    const auto [low, high] = std::minmax_element(wav.m_aSamples.begin(), wav.m_aSamples.end());
    EXPECT_EQ(*high, 32767);
    EXPECT_EQ(*low, -32768);
}

TEST(GenerateJob, ClippingWarningText) {
    EXPECT_EQ(ClippingWarning(32767.2), "Warning! Clipped samples detected, Max =  32767 (clipped to 32767)");
    EXPECT_EQ(ClippingWarning(40000.0), "Warning! Clipped samples detected, Max =  40000 (clipped to 32767)");
    EXPECT_EQ(ClippingWarning(32767.6), "Warning! Clipped samples detected, Max =  32768 (clipped to 32767)");
}

TEST(GenerateJob, OpenFailureSaysSoAndNothingElse) {
    CTempDir dir;
    for (const std::string& path :
         {(dir / "missing-folder/x.wav").string(), (dir / "").string(), std::string()}) {
        auto settings = test::ShortSettings(path);
        CRecordingFeedback feedback;
        EXPECT_FALSE(GenerateTestFile(settings, feedback));
        const std::vector<std::string> expected = {"BeginWait", "EndWait", "Message:0:File open failed!"};
        EXPECT_EQ(feedback.m_aEvents, expected) << path;
        ASSERT_EQ(feedback.m_aDetails.size(), 1u);
        EXPECT_EQ(feedback.m_aDetails[0].rfind(path + ": ", 0), 0u) << feedback.m_aDetails[0];
    }
}

// Progress rises to the frame count on both paths; a cancel after the first report ends the job
// without a message and leaves an existing file as it was, with no temporary beside it.
TEST(GenerateJob, ProgressRisesToTheEndAndCancelLeavesTheTargetAlone) {
    for (const auto path : {render::ERenderPath::Block, render::ERenderPath::PerFrame}) {
        CTempDir dir;
        render::CRenderOptions options;
        options.m_ePath = path;
        auto settings = test::ShortSettings((dir / "out.wav").string(), 3.0); // 132300 frames
        CRecordingFeedback feedback;
        ASSERT_TRUE(GenerateTestFile(settings, feedback, options));
        EXPECT_GE(feedback.m_aProgress.size(), 3u);
        EXPECT_TRUE(std::is_sorted(feedback.m_aProgress.begin(), feedback.m_aProgress.end()));
        EXPECT_EQ(feedback.m_aProgress.back(), 132300u);
        EXPECT_EQ(feedback.m_nProgressTotal, 132300u);

        const auto before = test::ReadBytes(dir / "out.wav");
        settings.m_dMotherAmplitude = 0.5;
        CRecordingFeedback cancelling;
        cancelling.m_nCancelAfterReports = 1;
        EXPECT_FALSE(GenerateTestFile(settings, cancelling, options));
        EXPECT_EQ(cancelling.m_aEvents, (std::vector<std::string>{"BeginWait", "EndWait"}));
        EXPECT_EQ(cancelling.m_aProgress.size(), 1u);
        EXPECT_EQ(test::ReadBytes(dir / "out.wav"), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / ""), {}), 1) << "no temporary left";
    }
}

TEST(GenerateJob, WriteFailureIsOneMessageWithTheReason) {
    auto settings = test::ShortSettings("/dev/full", 30);
    CRecordingFeedback feedback;
    EXPECT_FALSE(GenerateTestFile(settings, feedback));
    const std::vector<std::string> expected = {
        "BeginWait", "EndWait", std::string("Message:48:File write failed! ") + std::strerror(ENOSPC)};
    EXPECT_EQ(feedback.m_aEvents, expected);
}

struct RefusalCase {
    const char* name;
    double duration, fundamental, factor;
    std::uint32_t rate;
    const char* phrase; // part of the message
    EContainer container = EContainer::Auto;
    ESampleFormat format = ESampleFormat::S16;
};

class RefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, RefusesBeforeOpeningAndLeavesTheFileAlone) {
    const RefusalCase c = GetParam();
    CTempDir dir;
    const std::vector<unsigned char> previous(1000, 0x5A);
    test::WriteBytes(dir / "keep.wav", previous);
    auto settings = test::ShortSettings(dir / "keep.wav", c.duration);
    settings.m_nSampleRate = c.rate;
    settings.m_dFundamentalFreq = c.fundamental;
    settings.m_dNyquistFactor = c.factor;
    settings.m_eContainer = c.container;
    settings.m_eFormat = c.format;
    CRecordingFeedback feedback;
    EXPECT_FALSE(GenerateTestFile(settings, feedback));
    ASSERT_EQ(feedback.m_aEvents.size(), 3u);
    EXPECT_EQ(feedback.m_aEvents[1], "EndWait");
    EXPECT_EQ(feedback.m_aTypes[0], MB_ICONEXCLAMATION);
    EXPECT_NE(feedback.m_aTexts[0].find(c.phrase), std::string::npos) << feedback.m_aTexts[0];
    EXPECT_EQ(ReadBytes(dir / "keep.wav"), previous);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, RefusalTest,
    testing::Values(RefusalCase{"NegativeDuration", -1, 277, 0.95, 44100, "must be 0 or more and below 2^63"},
                    RefusalCase{"HugeDuration", 1e300, 277, 0.95, 44100, "must be 0 or more and below 2^63"},
                    // More than the file system holds: refused before anything is written.
                    RefusalCase{"NoRoom", 1000000, 277, 0.95, 1000000, "Not enough free space"},
                    RefusalCase{"ZeroFundamental", 1, 0, 0.95, 44100, "fundamental frequency 0 Hz"},
                    RefusalCase{"NegativeFundamental", 1, -5, 0.95, 44100, "fundamental frequency -5 Hz"},
                    RefusalCase{"NaNFundamental", 1, kNaN, 0.95, 44100, "fundamental frequency"},
                    RefusalCase{"InfiniteFactor", 1, 277, kInf, 44100, "fundamental frequency 277 Hz"},
                    RefusalCase{"TinyFundamental", 1, 0.001, 0.95, 44100, "more than 65536 harmonics"},
                    RefusalCase{"FlacOfFloats", 1, 277, 0.95, 44100, "not 32-bit float", EContainer::Flac,
                                ESampleFormat::F32},
                    RefusalCase{"FlacAtRateZero", 1, 277, 0.95, 0, "sample rate from 1", EContainer::Flac},
                    RefusalCase{"FlacBeyondItsFrameCount", 100000, 277, 0.95, 1000000,
                                "at most 68719476735 frames", EContainer::Flac}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(GenerateJob, LongestWavStillFitsTheLimit) {
    // 1073741814 frames is the most a WAV can hold: not refused (checked without writing it).
    CGenerationSettings settings;
    settings.m_nSampleRate = 1;
    settings.m_dDuration = 1073741814;
    EXPECT_FALSE(RefusalReason(settings).has_value());
}

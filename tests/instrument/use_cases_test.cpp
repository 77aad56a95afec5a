// The use cases as every shell calls them: what a recording that cannot be read or analysed gives
// back (facts, and a message that names no program's options), a channel choice that makes it
// measurable, and where a live measurement's answer lies in its recording.
#include <cmath>
#include <gtest/gtest.h>

#include "audio/audio_session.h"
#include "generation/frame_render.h"
#include "generation/job_plan.h"
#include "instrument/analyse_file.h"
#include "tests/support/test_support.h"

namespace {

std::vector<double> Stimulus(const CGenerationSettings& settings) {
    return test::FloatStimulus(settings);
}

TEST(AnalyseFile, RefusalsAreFactsAndAChannelChoiceMakesARecordingMeasurable) {
    test::CTempDir dir;
    CGenerationSettings settings = test::ShortSettings(dir / "unused.wav", 2.0);
    settings.m_eFormat = ESampleFormat::F32; // floats: the file holds the stimulus exactly
    const std::vector<double> stereo = Stimulus(settings);
    // Three channels: a hum, the reference, the left (the order a multichannel interface may give).
    std::vector<double> three;
    for (std::size_t frame = 0; frame < stereo.size() / 2; ++frame) {
        three.push_back(0.1 *
                        std::sin(2.0 * 3.141592653589793 * 50.0 * static_cast<double>(frame) / 44100.0));
        three.push_back(stereo[2 * frame + 1]);
        three.push_back(stereo[2 * frame]);
    }
    ASSERT_TRUE(test::WriteSoundFile(dir / "three.wav", three, 3, 44100, 0x010000 | 0x0006)); // WAV, float
    test::WriteText(dir / "text.wav", "not audio");

    const instrument::COutcome text =
        instrument::AnalyseFile(settings, (dir / "text.wav").string(), {}, nullptr);
    EXPECT_EQ(text.m_eProblem, instrument::EProblem::Unreadable);
    EXPECT_FALSE(text.m_report);
    EXPECT_EQ(text.Message().rfind((dir / "text.wav").string() + ": ", 0), 0u) << text.Message();

    const std::string path = (dir / "three.wav").string();
    const instrument::COutcome refused = instrument::AnalyseFile(settings, path, {}, nullptr);
    EXPECT_EQ(refused.m_eProblem, instrument::EProblem::Refused);
    EXPECT_EQ(refused.m_eRefusal, analysis::ERefusal::ChannelsToChoose);
    EXPECT_EQ(refused.m_nChannels, 3);
    EXPECT_EQ(refused.Message(),
              path + ": cannot be analysed: it has 3 channels: choose the left and the reference");

    analysis::CAnalysisOptions options;
    options.m_nLeftChannel = 3;
    options.m_nRightChannel = 2;
    const instrument::COutcome chosen = instrument::AnalyseFile(settings, path, options, nullptr);
    ASSERT_TRUE(chosen.m_report) << chosen.Message();
    EXPECT_EQ(chosen.m_eProblem, instrument::EProblem::None);
    EXPECT_EQ(chosen.Message(), "");
    // The generator's own signal through no device: every tone at 0 dB, by construction.
    ASSERT_EQ(chosen.m_report->m_aTones.size(), 37u);
    for (const auto& tone : chosen.m_report->m_aTones) {
        EXPECT_NEAR(tone.m_dGainDb, 0.0, 1e-3) << tone.m_dFrequencyHz;
    }

    options.m_nRightChannel = 4;
    const instrument::COutcome missing = instrument::AnalyseFile(settings, path, options, nullptr);
    EXPECT_EQ(missing.m_eRefusal, analysis::ERefusal::NoSuchChannel);
    EXPECT_NE(missing.Message().find("it has no channel 4 (it has 3)"), std::string::npos)
        << missing.Message();

    // A cancel from the progress ends the work with the one cancellation every shell catches.
    struct CCancelAtOnce : platform::CProgress {
        bool CancelRequested() override { return true; }
    } cancel;
    options.m_nRightChannel = 2;
    EXPECT_THROW(instrument::AnalyseFile(settings, path, options, &cancel), platform::CCancelled);
}

// The answer to the stimulus starts after the stream's latency and the settling (rounded up to a
// millisecond) and ends with the stimulus; nothing is left when those take all of it.
TEST(AnswerSpan, StartsAfterTheLatencyAndEndsWithTheStimulus) {
    audio::CSessionReport session;
    session.m_dLatencyS = 0.2504;
    const struct {
        double m_dDurationS, m_dSettleS;
        std::optional<double> m_dLengthS;
        std::optional<std::pair<double, double>> m_expected; // skip, length
    } cases[] = {
        {30.0, 0.1, std::nullopt, std::pair{0.351, 29.649}},
        {30.0, 0.1, 5.0, std::pair{0.351, 5.0}},
        {1.0, 0.0, 2.0, std::pair{0.251, 0.749}},
        {0.351, 0.1, std::nullopt, std::nullopt},
        {0.2, 0.1, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto span = audio::AnswerSpan(session, c.m_dDurationS, c.m_dSettleS, c.m_dLengthS);
        ASSERT_EQ(span.has_value(), c.m_expected.has_value()) << c.m_dDurationS;
        if (span) {
            EXPECT_NEAR(span->m_dSkipS, c.m_expected->first, 1e-12);
            EXPECT_NEAR(span->m_dLengthS, c.m_expected->second, 1e-12);
        }
    }
}

// A live recording is refused for silence on every channel and for any sample at full scale, each
// in one sentence naming the device.
TEST(RecordingProblem, SilenceAndClippingAreNamed) {
    audio::CDeviceInfo input;
    input.m_strName = "usb in";
    audio::CSessionReport session;
    session.m_nInputChannels = 2;
    EXPECT_NE(audio::RecordingProblem(session, input).value_or("").find("'usb in' recorded silence"),
              std::string::npos);
    session.m_aPeak = {0.5, 0.0};
    EXPECT_FALSE(audio::RecordingProblem(session, input));
    session.m_aClipped = {0, 3};
    EXPECT_NE(
        audio::RecordingProblem(session, input).value_or("").find("3 samples of channel 2 from 'usb in'"),
        std::string::npos);
}

} // namespace

// The recording reader: each format's full scale reads 1.0, and files that cannot be read as audio
// are refused with the reason.
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

#include "platform/sound_file_reader.h"
#include "tests/support/test_support.h"

namespace {

// Writes full scale, minus a half, a half and 0 as `format`, and reads them back.
std::vector<double> RoundTrip(const test::CTempDir& dir, int format, std::string& formatName) {
    const auto path = dir / "scale.wav";
    EXPECT_TRUE(test::WriteSoundFile(path, {1.0, -0.5, 0.5, 0.0}, 1, 48000, format));
    platform::CSoundFileReader reader;
    EXPECT_TRUE(reader.Open(path.string())) << reader.OpenError();
    formatName = reader.Info().m_strFormat;
    std::vector<double> values(4);
    EXPECT_EQ(reader.Read(values.data(), 8), 4u);
    return values;
}

TEST(SoundFileReader, FullScaleOfEachFormatReadsOne) {
    test::CTempDir dir;
    const struct {
        int m_nFormat;
        double m_dStep; // the format's smallest step against full scale
        const char* m_szName;
    } cases[] = {{SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0 / 32767, "Signed 16 bit PCM"},
                 {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1.0 / 8388607, "Signed 24 bit PCM"},
                 {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1e-7, "32 bit float"},
                 {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1.0 / 32767, "Signed 16 bit PCM"},
                 {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1.0 / 8388607, "Signed 24 bit PCM"}};
    for (const auto& c : cases) {
        std::string name;
        const std::vector<double> values = RoundTrip(dir, c.m_nFormat, name);
        EXPECT_EQ(values[0], 1.0) << name;
        EXPECT_NEAR(values[1], -0.5, c.m_dStep) << name;
        EXPECT_NEAR(values[2], 0.5, c.m_dStep) << name;
        EXPECT_EQ(values[3], 0.0) << name;
        EXPECT_NE(name.find(c.m_szName), std::string::npos) << name;
    }
}

TEST(SoundFileReader, RefusesWhatIsNotAudioWithTheReason) {
    test::CTempDir dir;
    test::WriteBytes(dir / "text.wav", {'h', 'e', 'l', 'l', 'o', '\n'});
    test::WriteBytes(dir / "empty.wav", {});
    ASSERT_TRUE(test::WriteSoundFile(dir / "whole.wav", std::vector<double>(2000, 0.25), 2, 44100,
                                     SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    auto bytes = test::ReadBytes(dir / "whole.wav");
    bytes.resize(bytes.size() - 1000);
    test::WriteBytes(dir / "truncated.wav", bytes);
    std::filesystem::create_directory(dir / "folder.wav");
    const std::pair<const char*, const char*> cases[] = {
        {"text.wav",
         "not a sound file that can be read: its bytes are in no sound format this program knows"},
        {"empty.wav", "the file is empty"},
        {"folder.wav", "Is a directory"},
        {"missing.wav", "No such file or directory"}};
    for (const auto& [name, reason] : cases) {
        platform::CSoundFileReader reader;
        EXPECT_FALSE(reader.Open((dir / name).string())) << name;
        EXPECT_NE(reader.OpenError().find(reason), std::string::npos) << name << ": " << reader.OpenError();
    }
    // The same bytes from memory: the fuzz target's way in.
    platform::CSoundFileReader memory;
    EXPECT_TRUE(memory.OpenMemory(bytes, "cut"));
    EXPECT_TRUE(memory.Info().m_bTruncated);
    EXPECT_TRUE(memory.OpenMemory(test::ReadBytes(dir / "whole.wav"), "whole"));
    EXPECT_EQ(memory.Info().m_nFrames, 1000u);

    // An RF64 whose ds64 says its data holds 2^63 - 1 bytes: the reader's seeks about such sizes
    // must not overflow (a sanitizer build checks it); the bytes are refused or read, never more.
    ASSERT_TRUE(test::WriteSoundFile(dir / "whole.rf64", std::vector<double>(2000, 0.25), 2, 44100,
                                     SF_FORMAT_RF64 | SF_FORMAT_PCM_16));
    auto rf64 = test::ReadBytes(dir / "whole.rf64");
    ASSERT_EQ(std::string(rf64.begin() + 12, rf64.begin() + 16), "ds64");
    for (int i = 0; i < 8; ++i) {
        rf64[28 + i] = i == 7 ? 0x7F : 0xFF; // the data size, little-endian
    }
    platform::CSoundFileReader huge;
    if (huge.OpenMemory(rf64, "huge")) {
        EXPECT_LE(huge.Info().m_nFrames, rf64.size());
    }
}

// Every container cut at half its length: opened, known to be cut short, its frames those it holds.
TEST(SoundFileReader, CutContainersSayTheyAreTruncated) {
    test::CTempDir dir;
    for (const int format : {SF_FORMAT_WAV, SF_FORMAT_RF64, SF_FORMAT_AIFF, SF_FORMAT_W64}) {
        const auto whole = dir / ("whole." + std::to_string(format));
        ASSERT_TRUE(test::WriteSoundFile(whole, std::vector<double>(2 * 44100, 0.25), 2, 44100,
                                         format | SF_FORMAT_PCM_16));
        auto bytes = test::ReadBytes(whole);
        platform::CSoundFileReader intact;
        ASSERT_TRUE(intact.OpenMemory(bytes, "whole"));
        EXPECT_FALSE(intact.Info().m_bTruncated) << format;
        bytes.resize(bytes.size() / 2);
        platform::CSoundFileReader cut;
        ASSERT_TRUE(cut.OpenMemory(bytes, "cut")) << format;
        EXPECT_TRUE(cut.Info().m_bTruncated) << format;
        EXPECT_LT(cut.Info().m_nFrames, 44100u / 2 + 1) << format;
        EXPECT_GT(cut.Info().m_nFrames, 44100u / 2 - 100) << format;
    }
}

// A FLAC cut in its audio, one with its frames overwritten, and one whose header is overwritten:
// each read fails with the file's name and what is wrong in this program's words, never the
// decoder's own ("Error : flac decoder lost sync.", "Internal psf_fseek() failed.").
TEST(SoundFileReader, DamagedFlacIsDescribedInOurWords) {
    test::CTempDir dir;
    std::vector<double> samples(2 * 88200);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] =
            0.5 * std::sin(0.01 * static_cast<double>(i)) + 0.1 * std::sin(0.37 * static_cast<double>(i));
    }
    ASSERT_TRUE(
        test::WriteSoundFile(dir / "whole.flac", samples, 2, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    const auto whole = test::ReadBytes(dir / "whole.flac");
    ASSERT_GT(whole.size(), 40000u);
    auto cut = whole, scrambled = whole, header = whole;
    cut.resize(whole.size() / 3);
    for (std::size_t i = whole.size() / 4; i < whole.size() / 2; i += 7) {
        scrambled[i] ^= 0x55;
    }
    std::fill(header.begin() + 8, header.begin() + 20, 0xFF);
    const std::pair<const char*, std::vector<unsigned char>> cases[] = {
        {"cut.flac", cut}, {"scrambled.flac", scrambled}, {"header.flac", header}};
    for (const auto& [name, bytes] : cases) {
        test::WriteBytes(dir / name, bytes);
        platform::CSoundFileReader reader;
        std::string message;
        if (!reader.Open((dir / name).string())) {
            message = reader.OpenError();
        } else {
            try {
                reader.Seek(4410);
                std::vector<double> out(2 * 44100);
                while (reader.Read(out.data(), 44100) > 0) {
                }
            } catch (const platform::CReadException& error) {
                message = error.what();
            }
        }
        EXPECT_NE(message.find("damaged or cut short"), std::string::npos) << name << ": " << message;
        EXPECT_EQ(message.find("rror"), std::string::npos) << name << ": " << message;
        EXPECT_EQ(message.find("psf_"), std::string::npos) << name << ": " << message;
        EXPECT_EQ(message.find("decoder"), std::string::npos) << name << ": " << message;
    }
}

} // namespace

// Every sample format and container as other programs read it: libsndfile and SoX return the
// per-frame path's samples from files and streams, and an RF64 file beyond 4 GiB carries sizes
// that readers take.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

#include "generation/frame_render.h"
#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// A file's samples as 32-bit words: integers scaled to 32 bits (libsndfile's sf_readf_int), floats
// as their bits; and the facts libsndfile reports.
struct CReadBack {
    int m_nFormat = 0;
    int m_nChannels = 0;
    int m_nRate = 0;
    sf_count_t m_nFrames = 0;
    std::vector<std::uint32_t> m_aWords;
};

CReadBack ReadWithSndfile(const fs::path& path, bool isFloat) {
    CReadBack back;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        ADD_FAILURE() << "libsndfile cannot open " << path << ": " << sf_strerror(nullptr);
        return back;
    }
    back.m_nFormat = info.format;
    back.m_nChannels = info.channels;
    back.m_nRate = info.samplerate;
    back.m_nFrames = info.frames;
    back.m_aWords.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_count_t read = 0;
    if (isFloat) {
        std::vector<float> samples(back.m_aWords.size());
        read = sf_readf_float(file, samples.data(), info.frames);
        std::memcpy(back.m_aWords.data(), samples.data(), samples.size() * 4);
    } else {
        read = sf_readf_int(file, reinterpret_cast<int*>(back.m_aWords.data()), info.frames);
    }
    EXPECT_EQ(read, info.frames);
    sf_close(file);
    return back;
}

// The per-frame path's samples of `settings` as the same 32-bit words.
std::vector<std::uint32_t> ReferenceWords(const CGenerationSettings& settings) {
    const CJobPlan plan = MakeJobPlan(settings);
    render::CRenderOptions options;
    options.m_ePath = render::ERenderPath::PerFrame;
    const CRenderedFrames frames = RenderFramesInMemory(settings, plan, plan.m_nFrames, options);
    const unsigned size = BytesPerSample(settings.m_eFormat);
    std::vector<std::uint32_t> words;
    for (std::size_t at = 0; at < frames.m_aBytes.size(); at += size) {
        std::uint32_t word = 0;
        for (unsigned i = 0; i < size; ++i) { // little-endian, placed at the top of the word
            word |= std::uint32_t{frames.m_aBytes[at + i]} << (8 * (4 - size + i));
        }
        words.push_back(word);
    }
    return words;
}

struct CFormatCase {
    const char* m_szName;
    std::vector<std::string> m_aOptions;
    const char* m_szFile;
    int m_nSndfileFormat;
};

std::ostream& operator<<(std::ostream& out, const CFormatCase& c) {
    return out << c.m_szName;
}

const std::vector<std::string> kSignal = {"--duration",
                                          "0.3",
                                          "--sample-rate",
                                          "48000",
                                          "--mother-amplitude",
                                          "1.2",
                                          "--daughter-amplitude1",
                                          "0.3",
                                          "--fade-in",
                                          "0.05",
                                          "--fade-out",
                                          "0.07"};

CGenerationSettings SettingsOf(const CFormatCase& c) {
    CGenerationSettings s;
    s.m_dDuration = 0.3;
    s.m_nSampleRate = 48000;
    s.m_dMotherAmplitude = 1.2;
    s.m_dDaughterAmplitude1 = 0.3;
    s.m_dFadeInS = 0.05;
    s.m_dFadeOutS = 0.07;
    for (std::size_t i = 0; i + 1 < c.m_aOptions.size(); ++i) {
        if (c.m_aOptions[i] == "--format") {
            const std::string& f = c.m_aOptions[i + 1];
            s.m_eFormat = f == "s24"   ? ESampleFormat::S24
                          : f == "f32" ? ESampleFormat::F32
                                       : ESampleFormat::S16;
        }
    }
    return s;
}

class FormatsReadBack : public testing::TestWithParam<CFormatCase> {};

// The file, and the same job streamed through a pipe, read back by libsndfile (and SoX for the
// integer formats): the per-frame path's samples, in the container asked for.
TEST_P(FormatsReadBack, ReadersGetThePerFrameSamplesFromFilesAndStreams) {
    const CFormatCase& c = GetParam();
    test::CTempDir dir;
    std::vector<std::string> arguments = kSignal;
    arguments.insert(arguments.end(), c.m_aOptions.begin(), c.m_aOptions.end());
    const fs::path file = dir / c.m_szFile, streamed = dir / ("streamed-" + std::string(c.m_szFile));
    arguments.insert(arguments.end(), {"-q", "-o", file.string()});
    ASSERT_EQ(test::RunGenerator(dir, arguments).m_nStatus, 0);
    arguments.back() = "-";
    arguments.push_back("--container");
    arguments.push_back((c.m_nSndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC   ? "flac"
                        : (c.m_nSndfileFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64 ? "rf64"
                                                                                      : "wav");
    std::string command = test::Quote(VORLANX_GEN_PATH);
    for (const std::string& argument : arguments) {
        command += " " + test::Quote(argument);
    }
    ASSERT_EQ(std::system((command + " | cat >" + test::Quote(streamed.string())).c_str()), 0);

    const CGenerationSettings settings = SettingsOf(c);
    const bool isFloat = settings.m_eFormat == ESampleFormat::F32;
    const std::vector<std::uint32_t> expected = ReferenceWords(settings);
    ASSERT_EQ(expected.size(), 2u * 14400);
    for (const fs::path& path : {file, streamed}) {
        const CReadBack back = ReadWithSndfile(path, isFloat);
        EXPECT_EQ(back.m_nFormat, c.m_nSndfileFormat) << path;
        EXPECT_EQ(back.m_nChannels, 2);
        EXPECT_EQ(back.m_nRate, 48000);
        EXPECT_EQ(back.m_nFrames, 14400);
        EXPECT_TRUE(back.m_aWords == expected) << path << ": the samples differ";
    }
    if ((c.m_nSndfileFormat & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC) {
        EXPECT_EQ(test::ReadBytes(streamed), test::ReadBytes(file))
            << "a stream's header has the exact sizes";
    } else { // the reference decoder checks STREAMINFO's MD5 against the samples it decodes
        const test::CRun check = test::RunProgram("flac", dir, {"-t", "-s", file.string()});
        EXPECT_EQ(check.m_nStatus, 0) << check.m_strErr;
        const auto bytes = test::ReadBytes(file);
        EXPECT_NE(std::vector<unsigned char>(bytes.begin() + 26, bytes.begin() + 42),
                  std::vector<unsigned char>(16, 0))
            << "a file has its MD5";
    }
    // SoX: the integer formats as 32-bit words, exactly; float as a 32-bit float file of 14400 frames.
    if (!isFloat) {
        const fs::path raw = dir / "sox.raw";
        ASSERT_TRUE(
            test::RunSox({file.string(), "-t", "raw", "-e", "signed-integer", "-b", "32", raw.string()}));
        const auto bytes = test::ReadBytes(raw);
        std::vector<std::uint32_t> words(bytes.size() / 4);
        std::memcpy(words.data(), bytes.data(), words.size() * 4);
        EXPECT_TRUE(words == expected) << "SoX reads other samples";
    } else {
        const test::CRun soxi = test::RunProgram("soxi", dir, {file.string()});
        EXPECT_NE(soxi.m_strOut.find("14400 samples"), std::string::npos) << soxi.m_strOut << soxi.m_strErr;
        EXPECT_NE(soxi.m_strOut.find("32-bit Floating Point PCM"), std::string::npos) << soxi.m_strOut;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatsReadBack,
    testing::Values(CFormatCase{"S16Wav", {}, "a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                    CFormatCase{"S24Wav", {"--format", "s24"}, "a.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24},
                    CFormatCase{"F32Wav", {"--format", "f32"}, "a.wav", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
                    CFormatCase{"S16Rf64", {"--rf64"}, "a.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
                    CFormatCase{"S24Rf64",
                                {"--format", "s24", "--container", "rf64"},
                                "a.wav",
                                SF_FORMAT_RF64 | SF_FORMAT_PCM_24},
                    CFormatCase{
                        "F32Rf64", {"--format", "f32", "--rf64"}, "a.rf64", SF_FORMAT_RF64 | SF_FORMAT_FLOAT},
                    CFormatCase{"S16Flac", {}, "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                    CFormatCase{"S24Flac",
                                {"--format", "s24", "--container", "flac"},
                                "a.wav",
                                SF_FORMAT_FLAC | SF_FORMAT_PCM_24}),
    [](const testing::TestParamInfo<CFormatCase>& info) { return std::string(info.param.m_szName); });

// The RIFF limit: past it the plan switches to RF64 with the whole frame count; a real stream of
// more than 4 GiB (counted through a pipe, never stored) has the size its ds64 chunk states, and a
// sparse file of that size with the stream's first and last bytes opens in libsndfile with every
// frame, the last ones where they belong. (SoX reads a sparse file through to its end: too slow here.)
TEST(VorlanxGenRf64, BeyondFourGiBTheSizesAreExact) {
    test::CTempDir dir;
    CGenerationSettings day; // past 2^32 frames: the whole product, no longer its low 32 bits
    day.m_nSampleRate = 1000000;
    day.m_dDuration = 5000;
    day.m_eFormat = ESampleFormat::F32;
    const CJobPlan plan = MakeJobPlan(day);
    EXPECT_EQ(plan.m_nFrames, 5000000000ull);
    EXPECT_EQ(plan.m_eContainer, EContainer::Rf64);
    EXPECT_EQ(plan.m_nBytes, 116 + 8 * 5000000000ull);

    // 537 s at 1 MHz in float: 4296000116 bytes, just past 2^32. The empty bank keeps it quick.
    const std::string command =
        test::Quote(VORLANX_GEN_PATH) +
        " -q -o - --format f32 --sample-rate 1000000 --duration 537 --nyquist-factor 0 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<unsigned char> head(1 << 16), tail, buffer(1 << 20);
    std::uint64_t total = 0;
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        if (total < head.size()) {
            std::memcpy(head.data() + total, buffer.data(), std::min<std::size_t>(got, head.size() - total));
        }
        tail.insert(tail.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        if (tail.size() > (1u << 21)) {
            tail.erase(tail.begin(), tail.end() - (1 << 20));
        }
        total += got;
    }
    ASSERT_EQ(::pclose(pipe), 0);
    const std::uint64_t frames = 537000000, expectedBytes = 116 + 8 * frames;
    ASSERT_EQ(total, expectedBytes);
    ASSERT_GT(total, 1ull << 32);
    std::uint64_t riffSize = 0, dataSize = 0, sampleCount = 0;
    std::memcpy(&riffSize, &head[20], 8);
    std::memcpy(&dataSize, &head[28], 8);
    std::memcpy(&sampleCount, &head[36], 8);
    EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
    EXPECT_EQ(riffSize + 8, total);
    EXPECT_EQ(dataSize, 8 * frames);
    EXPECT_EQ(sampleCount, frames);

    const fs::path sparse = dir / "sparse.wav";
    {
        FILE* out = std::fopen(sparse.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(head.data(), 1, head.size(), out);
        ASSERT_EQ(::fseeko(out, static_cast<off_t>(total - tail.size()), SEEK_SET), 0);
        std::fwrite(tail.data(), 1, tail.size(), out);
        ASSERT_EQ(std::fclose(out), 0);
    }
    SF_INFO sfInfo{};
    SNDFILE* file = sf_open(sparse.c_str(), SFM_READ, &sfInfo);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sfInfo.format, SF_FORMAT_RF64 | SF_FORMAT_FLOAT);
    EXPECT_EQ(sfInfo.frames, static_cast<sf_count_t>(frames));
    ASSERT_EQ(sf_seek(file, static_cast<sf_count_t>(frames) - 4, SEEK_SET),
              static_cast<sf_count_t>(frames) - 4);
    float last[8];
    EXPECT_EQ(sf_readf_float(file, last, 4), 4);
    sf_close(file);
    EXPECT_EQ(std::memcmp(last, tail.data() + tail.size() - 32, 32), 0);
}

} // namespace

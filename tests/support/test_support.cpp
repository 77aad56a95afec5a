#include "tests/support/test_support.h"

#include "generation/frame_render.h"
#include "generation/job_plan.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sndfile.h>

namespace test {

CTempDir::CTempDir() {
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() / ("vorlanx-test-" + std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    WriteBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

CDecodedWav DecodeWithSndfile(const std::filesystem::path& path) {
    CDecodedWav wav;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return wav;
    }
    wav.m_bOpened = true;
    wav.m_nChannels = info.channels;
    wav.m_nSampleRate = info.samplerate;
    wav.m_nFormat = info.format;
    wav.m_aSamples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_short(file, wav.m_aSamples.data(), info.frames);
    wav.m_aSamples.resize(static_cast<std::size_t>(read * info.channels));
    sf_close(file);
    return wav;
}

bool WriteSoundFile(const std::filesystem::path& path, const std::vector<double>& samples, int channels,
                    int sampleRate, int format) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return false;
    }
    // Integer formats: full scale 1.0 becomes the largest code, and larger values clip.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels));
    const bool written = sf_writef_double(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

bool RunSox(const std::vector<std::string>& arguments) {
    std::string command = "sox";
    for (const std::string& argument : arguments) {
        command += " '";
        for (char c : argument) {
            command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        command += "'";
    }
    command += " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

CGenerationSettings ShortSettings(const std::filesystem::path& path, double duration) {
    CGenerationSettings settings;
    settings.m_strFileName = path.string();
    settings.m_dDuration = duration;
    return settings;
}

std::vector<double> FloatStimulus(CGenerationSettings settings) {
    settings.m_eFormat = ESampleFormat::F32;
    const CJobPlan plan = MakeJobPlan(settings);
    const CRenderedFrames frames = RenderFramesInMemory(settings, plan, plan.m_nFrames);
    std::vector<double> samples(2 * frames.Frames());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = frames.Sample(i);
    }
    return samples;
}

} // namespace test

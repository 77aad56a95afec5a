#pragma once

#include <memory>
#include <string>

#include "analysis/recording.h"
#include "platform/sound_file_reader.h"

namespace analysis {

// A sound file as a recording, read through platform::CSoundFileReader.
class CFileRecording : public CRecording {
public:
    // Opens `path`; null with the reason in `error` when it cannot be read as audio.
    static std::unique_ptr<CFileRecording> Open(const std::string& path, std::string& error);
    // The same for bytes held in memory, named `name` in messages.
    static std::unique_ptr<CFileRecording> OpenMemory(const std::vector<unsigned char>& bytes,
                                                      const std::string& name, std::string& error);

    std::string Name() const override { return m_reader.Name(); }
    // The file was cut short: its header promises more than the frames it holds.
    bool Truncated() const { return m_reader.Info().m_bTruncated; }
    std::string Format() const override { return m_reader.Info().m_strFormat; }
    std::uint64_t Frames() const override { return m_reader.Info().m_nFrames; }
    int Channels() const override { return m_reader.Info().m_nChannels; }
    double SampleRate() const override { return m_reader.Info().m_nSampleRate; }
    bool FloatingPoint() const override { return m_reader.Info().m_bFloat; }
    // Throws platform::CReadException, also when the file holds fewer frames than its header says.
    void Read(std::uint64_t first, std::size_t count, double* out) override;

private:
    platform::CSoundFileReader m_reader;
    std::uint64_t m_nPosition = 0;
};

} // namespace analysis

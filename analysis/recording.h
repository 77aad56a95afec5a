#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace analysis {

// A recording to analyse: frames of interleaved channels, each sample against full scale 1.0.
class CRecording {
public:
    virtual ~CRecording() = default;
    // How the recording is named in messages and reports: a path, or "the array".
    virtual std::string Name() const = 0;
    // "WAV (Microsoft), Signed 16 bit PCM": for reports.
    virtual std::string Format() const = 0;
    virtual std::uint64_t Frames() const = 0;
    virtual int Channels() const = 0;
    virtual double SampleRate() const = 0;
    // Integer samples stop at full scale; floating-point ones may go beyond it.
    virtual bool FloatingPoint() const = 0;
    // Frames [first, first + count) into `out` (count x Channels() values). Throws a
    // std::runtime_error naming the recording when they cannot be read.
    virtual void Read(std::uint64_t first, std::size_t count, double* out) = 0;
};

// A recording held in memory (an array from Python, a live capture, a test's signal).
class CMemoryRecording : public CRecording {
public:
    CMemoryRecording(std::string name, const double* samples, std::uint64_t frames, int channels,
                     double sampleRate)
        : m_strName(std::move(name)), m_pSamples(samples), m_nFrames(frames), m_nChannels(channels),
          m_dSampleRate(sampleRate) {}
    std::string Name() const override { return m_strName; }
    std::string Format() const override { return "samples in memory"; }
    std::uint64_t Frames() const override { return m_nFrames; }
    int Channels() const override { return m_nChannels; }
    double SampleRate() const override { return m_dSampleRate; }
    bool FloatingPoint() const override { return true; }
    void Read(std::uint64_t first, std::size_t count, double* out) override;

private:
    std::string m_strName;
    const double* m_pSamples; // not owned; frames x channels
    std::uint64_t m_nFrames;
    int m_nChannels;
    double m_dSampleRate;
};

} // namespace analysis

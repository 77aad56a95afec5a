#pragma once

#include <pybind11/numpy.h>

#include <optional>
#include <vector>

#include "analysis/recording.h"

// A numpy array as a recording for the analyser: (frames,) for mono or (frames, channels), of any
// real number type, in any memory layout. Each sample is taken against `fullScale` when given,
// otherwise against its type's: 1.0 for floats, the largest value for signed integers (32767 for
// int16), as the file reader takes an integer file's samples, so an array of a file's samples
// measures as the file does (render's int32 arrays of 24-bit values need a full scale of 8388607).
// The samples are copied once, as doubles, while the interpreter's lock is held (the constructor);
// Read needs no lock.
class CArrayRecording : public analysis::CRecording {
public:
    // Raises ValueError for an array of another shape, of no frames, or not of real numbers (or of
    // unsigned integers, whose silence is not 0), or a full scale that is not above 0.
    CArrayRecording(const pybind11::array& samples, double sampleRate, std::optional<double> fullScale);

    std::string Name() const override { return "the array"; }
    std::string Format() const override { return m_strFormat; }
    std::uint64_t Frames() const override { return m_nFrames; }
    int Channels() const override { return m_nChannels; }
    double SampleRate() const override { return m_dSampleRate; }
    bool FloatingPoint() const override { return m_bFloat; }
    void Read(std::uint64_t first, std::size_t count, double* out) override;

private:
    std::vector<double> m_aSamples; // frames x channels
    std::uint64_t m_nFrames = 0;
    int m_nChannels = 0;
    double m_dSampleRate;
    bool m_bFloat = true;
    std::string m_strFormat;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A read that failed after the file was opened. what() names the file and the reason.
class CReadException : public std::runtime_error {
public:
    explicit CReadException(const std::string& text) : std::runtime_error(text) {}
};

// What an opened recording holds.
struct CSoundFileInfo {
    std::uint64_t m_nFrames = 0;
    int m_nChannels = 0;
    int m_nSampleRate = 0;
    std::string m_strFormat; // "WAV (Microsoft), Signed 16 bit PCM"
    bool m_bFloat = false;   // samples are floating point (their values are not limited to full scale)
    // The header promises more audio than the file holds (it was cut short): the frames are what it
    // holds, up to its last whole frame.
    bool m_bTruncated = false;
};

// Reads a sound file in any format libsndfile reads (WAV, WAVEX, RF64, W64, FLAC, AIFF, CAF, ...) as
// doubles scaled so that the format's full scale is 1.0: a 16-bit sample of 32767 reads 1.0 (and
// -32768 reads -1.00003), a 24-bit 8388607 reads 1.0, a float sample reads as it is. Not thread-safe.
class CSoundFileReader {
public:
    CSoundFileReader();
    ~CSoundFileReader();
    CSoundFileReader(const CSoundFileReader&) = delete;
    CSoundFileReader& operator=(const CSoundFileReader&) = delete;

    // Opens `path`. False on any failure (no such file, a directory, no permission, not a sound file
    // libsndfile knows, a data chunk that promises more than the file holds), with the reason in
    // OpenError(). Never throws but std::bad_alloc.
    bool Open(const std::string& path);
    // Opens a copy of `bytes` as if it were a file named `name` (for tests and fuzzing).
    bool OpenMemory(const std::vector<unsigned char>& bytes, const std::string& name);
    const std::string& OpenError() const { return m_strOpenError; }
    const CSoundFileInfo& Info() const { return m_info; }
    const std::string& Name() const { return m_strName; }

    // Moves to frame `frame` (at most Info().m_nFrames). Throws CReadException when it cannot.
    void Seek(std::uint64_t frame);
    // Reads up to `frames` frames, interleaved, into `out` (frames x channels doubles) and returns how
    // many it read: fewer only at the end. Throws CReadException when the file cannot be read.
    std::size_t Read(double* out, std::size_t frames);

private:
    struct CState;
    bool Finish(const std::string& name);
    std::string SecondsText(std::uint64_t frame) const; // "1.234 s"
    std::unique_ptr<CState> m_pState;
    CSoundFileInfo m_info;
    std::string m_strName;
    std::string m_strOpenError;
    double m_dScale = 1.0; // libsndfile's normalised value x m_dScale = the value against full scale
};

} // namespace platform

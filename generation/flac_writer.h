#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

#include "generation/sample_format.h"
#include "platform/output_file.h"

// Encodes a file's frames as FLAC through libFLAC, at the flac tool's default compression (level
// 5), writing through `file`: 16- or 24-bit samples, two channels, the rate, and the frame count in
// STREAMINFO. Where the file can go back (any file but a stream) the encoder rewrites STREAMINFO at
// the end with the samples' MD5 and their exact counts; a stream keeps the counts given and an MD5
// of zeros ("not computed", as the format allows). Lossless: decoding gives the samples back. The
// bytes may differ between versions of libFLAC. Not thread-safe.
class CFlacWriter {
public:
    // Starts the encoder. `format` S16 or S24. Throws platform::CFileException when the first
    // bytes cannot be written, std::runtime_error when libFLAC refuses the settings.
    CFlacWriter(platform::COutputFile& file, ESampleFormat format, std::uint32_t sampleRate,
                std::uint64_t frames);
    ~CFlacWriter();
    CFlacWriter(const CFlacWriter&) = delete;
    CFlacWriter& operator=(const CFlacWriter&) = delete;

    // Encodes `frames` frames given as a WAV file holds them (little-endian, left then right).
    // Throws what writing the file throws, or std::runtime_error when the encoder fails.
    void Write(const unsigned char* bytes, std::size_t frames);
    // Encodes what is left and completes STREAMINFO. Throws as Write.
    void Finish();

private:
    struct CEncoder;
    std::unique_ptr<CEncoder> m_pEncoder;
    ESampleFormat m_eFormat;
};

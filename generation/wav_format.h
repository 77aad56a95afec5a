#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "generation/sample_format.h"
#include "generation/settings.h"

// The canonical 44-byte header of a stereo 16-bit PCM WAV file: 12 bytes of RIFF chunk head
// ("RIFF", size, "WAVE"), 24 bytes of format chunk ("fmt ", 16, then 16 bytes of fields) and
// 8 bytes of data chunk head ("data", size). All integers little-endian.
inline constexpr std::size_t kRiffHeadBytes = 12;
inline constexpr std::size_t kFormatChunkBytes = 24;
inline constexpr std::size_t kDataHeadBytes = 8;
inline constexpr std::size_t kWavHeaderBytes = kRiffHeadBytes + kFormatChunkBytes + kDataHeadBytes; // 44
inline constexpr std::uint32_t kBytesPerFrame = 4; // two channels of 16 bits

// Frames a WAV file can hold: the RIFF size field, 36 + 4 x N, must fit 32 bits, so
// N <= (2^32 - 1 - 36) / 4 = 1073741814.
inline constexpr std::uint64_t kMaxWavFrames = (0xFFFFFFFFull - 36) / 4;

// The size of a file of `frameCount` frames: the header and four bytes a frame.
inline std::uint64_t WavFileBytes(std::uint32_t frameCount) {
    return kWavHeaderBytes + std::uint64_t{kBytesPerFrame} * frameCount;
}

struct CWavHeader {
    std::array<unsigned char, kRiffHeadBytes> m_aRiff;
    std::array<unsigned char, kFormatChunkBytes> m_aFormat;
    std::array<unsigned char, kDataHeadBytes> m_aData;
};

// The header for `frameCount` frames at `sampleRate`; the size and byte-rate fields are computed
// modulo 2^32.
CWavHeader MakeWavHeader(std::uint32_t sampleRate, std::uint32_t frameCount);

// The header of a file of `frames` frames of `format` at `sampleRate` in `container` (Wav or Rf64),
// all integers little-endian:
//  - 16-bit WAV: the canonical 44 bytes of MakeWavHeader;
//  - 24-bit and float WAV: WAVE_FORMAT_EXTENSIBLE: "RIFF" size "WAVE", a 40-byte "fmt " chunk (tag
//    0xFFFE, 2 channels, the rate, bytes per second, block align, bits per sample, cbSize 22, valid
//    bits, channel mask 0x3 (left, right), the PCM or IEEE-float SubFormat GUID), for float a 4-byte
//    "fact" chunk with the frame count, then "data" and its size: 68 or 80 bytes;
//  - RF64 (EBU Tech 3306): "RF64" with 0xFFFFFFFF for its size, "WAVE", a 28-byte "ds64" chunk with
//    the 64-bit RIFF size, data size and frame count and an empty table, the format chunk as above
//    (16 bytes of PCM for 16-bit), "fact" for float (0xFFFFFFFF: ds64 has the count), and "data" with
//    0xFFFFFFFF: 80, 104 or 116 bytes.
// The sizes are exact, so the header is right even on a stream.
// `channels` other than 2 (a recording's) use the same layout with that many channels: block align
// and byte rate follow, and the channel mask is 0x4 (front centre) for one, 0 (none) for more.
std::vector<unsigned char> MakeFileHeader(ESampleFormat format, EContainer container,
                                          std::uint32_t sampleRate, std::uint64_t frames,
                                          unsigned channels = 2);

// True when a WAV file of `frames` frames of `format` fits a RIFF file's 32-bit sizes.
bool FitsRiff(ESampleFormat format, std::uint64_t frames);

// True when rate x duration has a magnitude of 2^63 or more (false for NaN): no 64-bit frame
// count holds it.
bool FrameCountProductOverflows(std::uint32_t sampleRate, double duration);

// The frame count of a job as a signed 64-bit value: rate x duration truncated toward zero;
// a product that is NaN or of magnitude 2^63 or more gives 0. The job keeps the low 32 bits.
std::int64_t FrameCountProduct(std::uint32_t sampleRate, double duration);

// The low 32 bits of FrameCountProduct.
std::uint32_t FrameCount(std::uint32_t sampleRate, double duration);

// Left channel value (units of 1/32767 full scale x 32767) to its sample: clipped to
// [-32768, 32767] above 32767 and below -32768, otherwise rounded half away from zero by adding
// +-0.5 in double precision and truncating; NaN gives 0.
inline std::int16_t LeftSample(double left) {
    if (left > 32767.0) {
        return 32767;
    }
    if (left < -32768.0) {
        return -32768;
    }
    if (left >= 0.0) {
        return static_cast<std::int16_t>(left + 0.5);
    }
    if (left < 0.0) {
        return static_cast<std::int16_t>(left - 0.5);
    }
    return 0;
}

// Right channel value to its sample: rounded half away from zero like LeftSample, never clipped
// (its magnitude is at most 32767 x 0.9); NaN gives 0.
inline std::int16_t RightSample(double right) {
    if (right < 0.0) {
        return static_cast<std::int16_t>(right - 0.5);
    }
    if (right >= 0.0) {
        return static_cast<std::int16_t>(right + 0.5);
    }
    return 0;
}

// Writes one frame, left then right, little-endian, at `out` (4 bytes).
inline void PackFrame(std::int16_t left, std::int16_t right, unsigned char* out) {
    const auto l = static_cast<std::uint16_t>(left);
    const auto r = static_cast<std::uint16_t>(right);
    out[0] = static_cast<unsigned char>(l & 0xFF);
    out[1] = static_cast<unsigned char>(l >> 8);
    out[2] = static_cast<unsigned char>(r & 0xFF);
    out[3] = static_cast<unsigned char>(r >> 8);
}

#include "generation/wav_format.h"

#include <cmath>
#include <cstring>

namespace {

void Put32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void Put16(unsigned char* out, std::uint16_t value) {
    out[0] = static_cast<unsigned char>(value & 0xFF);
    out[1] = static_cast<unsigned char>(value >> 8);
}

} // namespace

CWavHeader MakeWavHeader(std::uint32_t sampleRate, std::uint32_t frameCount) {
    const std::uint32_t dataBytes = kBytesPerFrame * frameCount; // modulo 2^32
    CWavHeader header{};
    std::memcpy(&header.m_aRiff[0], "RIFF", 4);
    Put32(&header.m_aRiff[4], dataBytes + 36);
    std::memcpy(&header.m_aRiff[8], "WAVE", 4);

    std::memcpy(&header.m_aFormat[0], "fmt ", 4);
    Put32(&header.m_aFormat[4], 16);                           // format chunk length
    Put16(&header.m_aFormat[8], 1);                            // PCM
    Put16(&header.m_aFormat[10], 2);                           // channels
    Put32(&header.m_aFormat[12], sampleRate);                  //
    Put32(&header.m_aFormat[16], sampleRate * kBytesPerFrame); // bytes per second, modulo 2^32
    Put16(&header.m_aFormat[20], kBytesPerFrame);              // bytes per frame
    Put16(&header.m_aFormat[22], 16);                          // bits per sample

    std::memcpy(&header.m_aData[0], "data", 4);
    Put32(&header.m_aData[4], dataBytes);
    return header;
}

bool FrameCountProductOverflows(std::uint32_t sampleRate, double duration) {
    constexpr double kLimit = 9223372036854775808.0; // 2^63 as a double
    return std::fabs(static_cast<double>(sampleRate) * duration) >= kLimit;
}

std::int64_t FrameCountProduct(std::uint32_t sampleRate, double duration) {
    const double product = static_cast<double>(sampleRate) * duration;
    if (std::isnan(product) || FrameCountProductOverflows(sampleRate, duration)) {
        return 0;
    }
    return static_cast<std::int64_t>(product);
}

std::uint32_t FrameCount(std::uint32_t sampleRate, double duration) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(FrameCountProduct(sampleRate, duration)));
}

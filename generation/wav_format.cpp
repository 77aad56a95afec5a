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

namespace {

// A growing header: tags and little-endian integers in order.
class CHeaderBytes {
public:
    void Tag(const char (&tag)[5]) { m_aBytes.insert(m_aBytes.end(), tag, tag + 4); }
    void U16(std::uint16_t value) { Put(value, 2); }
    void U32(std::uint32_t value) { Put(value, 4); }
    void U64(std::uint64_t value) { Put(value, 8); }
    void Bytes(const unsigned char* bytes, std::size_t count) {
        m_aBytes.insert(m_aBytes.end(), bytes, bytes + count);
    }
    std::vector<unsigned char> Take() { return std::move(m_aBytes); }

private:
    void Put(std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            m_aBytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
        }
    }
    std::vector<unsigned char> m_aBytes;
};

// The SubFormat GUIDs of KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT, {0000000X-0000-0010-8000-00AA00389B71}:
// after the first field (the format tag, written as a 32-bit integer), 0x0000 and 0x0010 little-endian
// and the last eight bytes as they stand.
constexpr unsigned char kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                         0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The format chunk's size: 16 for 16-bit PCM, 40 for WAVE_FORMAT_EXTENSIBLE.
std::uint32_t FormatChunkBytes(ESampleFormat format) {
    return format == ESampleFormat::S16 ? 16 : 40;
}

// The header's bytes before "data"'s size field and after: everything but the data.
std::uint64_t HeaderBytes(ESampleFormat format, EContainer container) {
    const std::uint64_t fact = format == ESampleFormat::F32 ? 12 : 0;
    const std::uint64_t ds64 = container == EContainer::Rf64 ? 36 : 0;
    return 12 + ds64 + 8 + FormatChunkBytes(format) + fact + 8;
}

} // namespace

bool FitsRiff(ESampleFormat format, std::uint64_t frames) {
    const std::uint64_t data = frames * BytesPerFrame(format);
    return HeaderBytes(format, EContainer::Wav) - 8 + data <= 0xFFFFFFFFull;
}

std::vector<unsigned char> MakeFileHeader(ESampleFormat format, EContainer container,
                                          std::uint32_t sampleRate, std::uint64_t frames, unsigned channels) {
    const std::uint32_t blockAlign = channels * BytesPerSample(format);
    const std::uint64_t data = frames * blockAlign;
    if (format == ESampleFormat::S16 && container == EContainer::Wav && channels == 2) {
        const CWavHeader canonical = MakeWavHeader(sampleRate, static_cast<std::uint32_t>(frames));
        std::vector<unsigned char> bytes(canonical.m_aRiff.begin(), canonical.m_aRiff.end());
        bytes.insert(bytes.end(), canonical.m_aFormat.begin(), canonical.m_aFormat.end());
        bytes.insert(bytes.end(), canonical.m_aData.begin(), canonical.m_aData.end());
        return bytes;
    }
    const bool rf64 = container == EContainer::Rf64;
    const std::uint64_t riff = HeaderBytes(format, container) - 8 + data;
    CHeaderBytes header;
    header.Tag(rf64 ? "RF64" : "RIFF");
    header.U32(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(riff));
    header.Tag("WAVE");
    if (rf64) {
        header.Tag("ds64");
        header.U32(28);
        header.U64(riff);
        header.U64(data);
        header.U64(frames);
        header.U32(0); // no table of other chunks' sizes
    }
    const unsigned bits = 8 * BytesPerSample(format);
    header.Tag("fmt ");
    header.U32(FormatChunkBytes(format));
    header.U16(format == ESampleFormat::S16 ? 1 : 0xFFFE);
    header.U16(static_cast<std::uint16_t>(channels));
    header.U32(sampleRate);
    header.U32(sampleRate * blockAlign); // at most 8 MB/s: fits
    header.U16(static_cast<std::uint16_t>(blockAlign));
    header.U16(static_cast<std::uint16_t>(bits));
    if (format != ESampleFormat::S16) {
        header.U16(22);                                            // cbSize: the extension's length
        header.U16(static_cast<std::uint16_t>(bits));              // valid bits: all of them
        header.U32(channels == 2 ? 0x3 : channels == 1 ? 0x4 : 0); // front left and right; front centre
        header.U32(format == ESampleFormat::F32 ? 3 : 1);          // the SubFormat GUID's first field
        header.Bytes(kGuidTail, sizeof kGuidTail);
    }
    if (format == ESampleFormat::F32) {
        header.Tag("fact");
        header.U32(4);
        header.U32(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(frames));
    }
    header.Tag("data");
    header.U32(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(data));
    return header.Take();
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

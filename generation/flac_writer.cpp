#include "generation/flac_writer.h"

#include <FLAC/stream_encoder.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// libFLAC's compression level of the flac tool's default: 5.
constexpr unsigned kCompressionLevel = 5;

} // namespace

// libFLAC's encoder, and the file its callbacks write to. A failure inside a callback cannot pass
// through libFLAC's C code: it is kept and thrown after the call that led to it.
struct CFlacWriter::CEncoder {
    FLAC__StreamEncoder* m_pEncoder = nullptr;
    platform::COutputFile& m_file;
    std::exception_ptr m_error;
    std::vector<FLAC__int32> m_aSamples;

    explicit CEncoder(platform::COutputFile& file) : m_pEncoder(FLAC__stream_encoder_new()), m_file(file) {}
    ~CEncoder() {
        if (m_pEncoder != nullptr) {
            FLAC__stream_encoder_delete(m_pEncoder);
        }
    }

    // Throws what a callback kept, or `what` with libFLAC's state when the call failed without one.
    void Check(bool ok, const char* what) {
        if (m_error) {
            std::rethrow_exception(std::exchange(m_error, nullptr));
        }
        if (!ok) {
            throw std::runtime_error(std::string("FLAC encoder: ") + what + ": " +
                                     FLAC__stream_encoder_get_resolved_state_string(m_pEncoder));
        }
    }

    static FLAC__StreamEncoderWriteStatus OnWrite(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                                  std::size_t bytes, std::uint32_t, std::uint32_t,
                                                  void* data) {
        auto* self = static_cast<CEncoder*>(data);
        try {
            self->m_file.Write(buffer, bytes);
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        } catch (...) {
            self->m_error = std::current_exception();
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
    }
    static FLAC__StreamEncoderSeekStatus OnSeek(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* data) {
        auto* self = static_cast<CEncoder*>(data);
        if (!self->m_file.Seekable()) {
            return FLAC__STREAM_ENCODER_SEEK_STATUS_UNSUPPORTED;
        }
        try {
            self->m_file.Seek(offset);
            return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
        } catch (...) {
            self->m_error = std::current_exception();
            return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
        }
    }
    static FLAC__StreamEncoderTellStatus OnTell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                                void* data) {
        auto* self = static_cast<CEncoder*>(data);
        if (!self->m_file.Seekable()) {
            return FLAC__STREAM_ENCODER_TELL_STATUS_UNSUPPORTED;
        }
        *offset = self->m_file.Position();
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }
};

CFlacWriter::CFlacWriter(platform::COutputFile& file, ESampleFormat format, std::uint32_t sampleRate,
                         std::uint64_t frames)
    : m_pEncoder(std::make_unique<CEncoder>(file)), m_eFormat(format) {
    FLAC__StreamEncoder* encoder = m_pEncoder->m_pEncoder;
    if (encoder == nullptr) {
        throw std::bad_alloc();
    }
    bool ok = FLAC__stream_encoder_set_channels(encoder, 2) &&
              FLAC__stream_encoder_set_bits_per_sample(encoder, 8 * BytesPerSample(format)) &&
              FLAC__stream_encoder_set_sample_rate(encoder, sampleRate) &&
              // Frame headers of the streamable subset name rates up to 655350 Hz; above, decoders
              // take the rate from STREAMINFO, which holds up to 1048575 Hz.
              FLAC__stream_encoder_set_streamable_subset(encoder, sampleRate <= 655350) &&
              FLAC__stream_encoder_set_compression_level(encoder, kCompressionLevel) &&
              FLAC__stream_encoder_set_total_samples_estimate(encoder, frames);
    m_pEncoder->Check(ok, "settings refused");
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        encoder, &CEncoder::OnWrite, &CEncoder::OnSeek, &CEncoder::OnTell, nullptr, m_pEncoder.get());
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        m_pEncoder->Check(false, FLAC__StreamEncoderInitStatusString[status]);
    }
    m_pEncoder->Check(true, "");
}

CFlacWriter::~CFlacWriter() = default;

void CFlacWriter::Write(const unsigned char* bytes, std::size_t frames) {
    std::vector<FLAC__int32>& samples = m_pEncoder->m_aSamples;
    samples.resize(2 * frames);
    const std::size_t width = BytesPerSample(m_eFormat);
    for (std::size_t i = 0; i < 2 * frames; ++i) { // little-endian, sign-extended from the top byte
        const unsigned char* at = bytes + i * width;
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < width; ++b) {
            value |= static_cast<std::uint32_t>(at[b]) << (8 * b);
        }
        const unsigned shift = 32 - 8 * static_cast<unsigned>(width);
        samples[i] = static_cast<FLAC__int32>(value << shift) >> shift;
    }
    m_pEncoder->Check(FLAC__stream_encoder_process_interleaved(m_pEncoder->m_pEncoder, samples.data(),
                                                               static_cast<std::uint32_t>(frames)),
                      "encoding failed");
}

void CFlacWriter::Finish() {
    m_pEncoder->Check(FLAC__stream_encoder_finish(m_pEncoder->m_pEncoder), "finishing failed");
}

#include "generation/flac_writer.h"

#include <FLAC/stream_encoder.h>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// libFLAC's compression level of the flac tool's default: 5.
constexpr unsigned kCompressionLevel = 5;

static_assert(std::is_same_v<FLAC__int32, std::int32_t>);

// Where STREAMINFO's MD5 lies: after "fLaC", the block's 4-byte header and 18 bytes of sizes,
// rate, channels, bits and sample count.
constexpr std::uint64_t kMd5Offset = 4 + 4 + 18;

} // namespace

#ifdef VORLANX_FLAC_SET_DO_MD5
// Exported by libFLAC (the flac tool's --no-md5-sum uses it) but not declared in its public header.
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder, FLAC__bool value);
#endif

// libFLAC's encoder, and the file its callbacks write to. A failure inside a callback cannot pass
// through libFLAC's C code: it is kept and thrown after the call that led to it.
struct CFlacWriter::CEncoder {
    FLAC__StreamEncoder* m_pEncoder = nullptr;
    platform::COutputFile& m_file;
    std::exception_ptr m_error;

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
#ifdef VORLANX_FLAC_SET_DO_MD5
    // The samples' MD5 is computed here, on the caller's thread beside the encoder's, where the file
    // can take it afterwards; a stream keeps the zeros that mean "not computed".
    m_bOwnMd5 = file.Seekable() && FLAC__stream_encoder_set_do_md5(encoder, false);
#endif
    m_pEncoder->Check(ok, "settings refused");
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        encoder, &CEncoder::OnWrite, &CEncoder::OnSeek, &CEncoder::OnTell, nullptr, m_pEncoder.get());
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        m_pEncoder->Check(false, FLAC__StreamEncoderInitStatusString[status]);
    }
    m_pEncoder->Check(true, "");
}

CFlacWriter::~CFlacWriter() {
    StopWorker();
}

void CFlacWriter::StopWorker() {
    {
        const std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_changed.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CFlacWriter::Encode() {
    for (;;) {
        std::size_t batch = 0;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_bStop || !m_aFull.empty(); });
            if (m_aFull.empty()) {
                return; // stopped with nothing left
            }
            batch = m_aFull.front();
        }
        try {
            m_pEncoder->Check(FLAC__stream_encoder_process_interleaved(
                                  m_pEncoder->m_pEncoder, m_aBatches[batch].data(),
                                  static_cast<std::uint32_t>(m_aBatches[batch].size() / 2)),
                              "encoding failed");
        } catch (...) {
            const std::lock_guard lock(m_mutex);
            m_error = std::current_exception();
            m_aFull.clear();
            m_changed.notify_all();
            return;
        }
        const std::lock_guard lock(m_mutex);
        m_aFull.pop_front();
        m_aFree.push_back(batch);
        m_changed.notify_all();
    }
}

void CFlacWriter::Write(const unsigned char* bytes, std::size_t frames) {
    if (!m_worker.joinable()) {
        m_worker = std::thread([this] { Encode(); });
    }
    std::size_t batch = 0;
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_error || !m_aFree.empty(); });
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        batch = m_aFree.front();
        m_aFree.pop_front();
    }
    if (m_bOwnMd5) { // FLAC's MD5 covers the samples as little-endian bytes, as the frames hold them
        m_md5.Add(bytes, frames * BytesPerFrame(m_eFormat));
    }
    std::vector<std::int32_t>& samples = m_aBatches[batch];
    samples.resize(2 * frames);
    const std::size_t width = BytesPerSample(m_eFormat);
    for (std::size_t i = 0; i < 2 * frames; ++i) { // little-endian, sign-extended from the top byte
        const unsigned char* at = bytes + i * width;
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < width; ++b) {
            value |= static_cast<std::uint32_t>(at[b]) << (8 * b);
        }
        const unsigned shift = 32 - 8 * static_cast<unsigned>(width);
        samples[i] = static_cast<std::int32_t>(value << shift) >> shift;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_aFull.push_back(batch);
    }
    m_changed.notify_all();
}

void CFlacWriter::Finish() {
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_error || m_aFull.empty(); });
        if (m_error) {
            std::rethrow_exception(m_error);
        }
    }
    StopWorker();
    m_pEncoder->Check(FLAC__stream_encoder_finish(m_pEncoder->m_pEncoder), "finishing failed");
    if (m_bOwnMd5) {
        platform::COutputFile& file = m_pEncoder->m_file;
        const std::uint64_t end = file.Position();
        const std::array<unsigned char, 16> digest = m_md5.Finish();
        file.Seek(kMd5Offset);
        file.Write(digest.data(), digest.size());
        file.Seek(end);
    }
}

#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "generation/sample_format.h"
#include "platform/md5.h"
#include "platform/output_file.h"

// Encodes a file's frames as FLAC through libFLAC, at the flac tool's default compression (level
// 5), writing through `file`: 16- or 24-bit samples, two channels, the rate, and the frame count in
// STREAMINFO. Where the file can go back (any file but a stream) the encoder rewrites STREAMINFO at
// the end with the samples' MD5 and their exact counts; a stream keeps the counts given and an MD5
// of zeros ("not computed", as the format allows). Lossless: decoding gives the samples back. The
// bytes may differ between versions of libFLAC. The encoding runs on a thread of its own, so the
// caller renders the next frames meanwhile: Write hands over a copy and returns once one of two
// buffers is free; the file is written from that thread until Finish returns or the writer is
// destroyed. One caller thread at a time.
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
    // Throws what writing the file threw, or std::runtime_error when the encoder failed, for this
    // or an earlier batch.
    void Write(const unsigned char* bytes, std::size_t frames);
    // Encodes what is left and completes STREAMINFO. Throws as Write.
    void Finish();

private:
    void Encode(); // the encoding thread
    void StopWorker();

    struct CEncoder;
    std::unique_ptr<CEncoder> m_pEncoder;
    ESampleFormat m_eFormat;
    std::array<std::vector<std::int32_t>, 2> m_aBatches; // interleaved samples
    std::mutex m_mutex;                                  // guards what follows
    std::condition_variable m_changed;
    std::deque<std::size_t> m_aFree{0, 1}; // batches the caller may fill
    std::deque<std::size_t> m_aFull;       // batches to encode, in order; the front is encoding
    bool m_bStop = false;
    std::exception_ptr m_error; // the encoding thread's failure
    bool m_bOwnMd5 = false;     // the MD5 is computed here (by Write) instead of by libFLAC
    platform::CMd5 m_md5;
    std::thread m_worker; // last: stopped before the rest goes
};

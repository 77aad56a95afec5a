#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "audio/audio_system.h"
#include "generation/settings.h"
#include "platform/progress.h"

namespace audio {

// A session reports to a platform::CProgress on the calling thread about every 20 ms: `done` of
// `total` frames played (or, when recording, recorded), `total` 0 for an endless loop. A cancel ends
// the session at once (the stream is aborted), and its report says m_bCancelled.

// How a session went.
struct CSessionReport {
    std::uint64_t m_nFramesPlayed = 0;   // stimulus frames handed to the device
    std::uint64_t m_nFramesRecorded = 0; // recorded frames in the file
    // Times the device had to play silence because the stimulus was not rendered in time, or said
    // it underflowed; and times it said its input overflowed.
    std::uint64_t m_nUnderruns = 0;
    std::uint64_t m_nOverruns = 0;
    int m_nInputChannels = 0;
    std::array<double, 2> m_aPeak{};           // per recorded channel, against full scale 1.0
    std::array<std::uint64_t, 2> m_aClipped{}; // samples of each channel at full scale
    std::uint64_t m_nNotFinite = 0;            // recorded samples that are NaN or infinite
    double m_dLatencyS = 0.0;                  // the stream's output plus input latency
    bool m_bCancelled = false;
};

// A sample at or above this magnitude (against full scale 1.0) counts as clipped: a 16-bit
// converter's largest code is 32767/32768 of full scale.
inline constexpr double kClipLevel = 0.9999;
// A device that takes or gives no frames for this long is taken to be gone.
inline constexpr double kStallSeconds = 3.0;

// Plays the stimulus of `settings` (two channels, its sample rate and sample format: the device
// gets the file's very bytes where it takes that format; otherwise PortAudio converts, integers
// exactly, without dither or clipping) on `output`, rendered ahead on a thread of its own through a
// ring of about two seconds. Returns when the last frame has been played, or, with `loop`, when
// the feedback cancels (a gapless repetition until then). The audio callback only copies and counts.
// Throws std::invalid_argument for settings the job refuses, CAudioError when the device cannot be
// opened at that rate and format, fails, or takes no frames for kStallSeconds.
CSessionReport PlayStimulus(const CAudioSystem& system, const CDeviceInfo& output,
                            const CGenerationSettings& settings, bool loop, platform::CProgress& feedback);

// Plays the stimulus on `output` as PlayStimulus does while recording `input` (two channels where it
// has them, else one; 32-bit float) at the same rate in one stream, for the stimulus's duration plus
// the stream's latency and a tenth of a second, into `recordingPath` as a 32-bit float WAV file (RF64
// past 4 GiB), written atomically: a cancelled or failed session leaves the path as it was. Both
// devices must belong to the same host API. Throws as PlayStimulus, CAudioError when the input drops
// frames, and platform::CFileException when the recording cannot be written.
CSessionReport RecordResponse(const CAudioSystem& system, const CDeviceInfo& output, const CDeviceInfo& input,
                              const CGenerationSettings& settings, const std::string& recordingPath,
                              platform::CProgress& feedback);

// Takes the recording of RecordContinuously a block at a time, on the thread that runs the session.
class CBlockSink {
public:
    virtual ~CBlockSink() = default;
    // `samples`: `frames` frames of `channels` (1 or 2) 32-bit floats, interleaved, valid for the call
    // only. `session`: the counts so far (underruns, overruns), with the peaks, clipped samples and
    // non-finite samples of this block alone. Returns false to end the session. It may take a while
    // (an analysis): the rings hold two seconds.
    virtual bool Block(const float* samples, std::size_t frames, int channels,
                       const CSessionReport& session) = 0;
};

// Plays the stimulus of `settings` in a gapless loop on `output` while recording `input` in one
// stream, as RecordResponse does, but keeps nothing: after the first `skipFrames` recorded frames,
// every `blockFrames` consecutive frames go to `sink`. Ends when the sink returns false or
// `feedback` cancels (the report then says m_bCancelled); memory is the rings' and one block's,
// however long it runs. Throws as RecordResponse (but never platform::CFileException).
CSessionReport RecordContinuously(const CAudioSystem& system, const CDeviceInfo& output,
                                  const CDeviceInfo& input, const CGenerationSettings& settings,
                                  std::uint64_t skipFrames, std::size_t blockFrames, CBlockSink& sink,
                                  platform::CProgress& feedback);

// Why a recording of RecordResponse cannot be measured, in one sentence that names `input`: samples
// that are not numbers, every channel silent, or samples at full scale (clipped); nullopt when it can
// be.
std::optional<std::string> RecordingProblem(const CSessionReport& report, const CDeviceInfo& input);

// Where the answer to the stimulus lies in a recording of RecordResponse: from the stream's latency
// plus `settleS` (rounded up to a whole millisecond), to the stimulus's end (`durationS`: the answer
// reaches no earlier part of the recording), for at most `lengthS`.
struct CAnswerSpan {
    double m_dSkipS = 0.0;
    double m_dLengthS = 0.0;
};
// nullopt when the stimulus is too short to leave anything after the latency and the settling.
std::optional<CAnswerSpan> AnswerSpan(const CSessionReport& report, double durationS, double settleS,
                                      std::optional<double> lengthS);

} // namespace audio

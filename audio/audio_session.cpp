#include "audio/audio_session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <portaudio.h>
#include <thread>
#include <vector>

#include "audio/audio_error.h"
#include "audio/byte_ring.h"
#include "audio/stimulus_feed.h"
#include "generation/job_plan.h"
#include "generation/wav_format.h"
#include "platform/output_file.h"

namespace audio {

namespace {

using Clock = std::chrono::steady_clock;

// How often the calling thread looks at the session, and how much stimulus the ring holds ahead.
constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr double kPlayAheadSeconds = 2.0;
// The recording ring holds this much, drained every kPoll.
constexpr double kRecordRingSeconds = 2.0;
// Recording goes on this long after the stimulus and the stream's latency.
constexpr double kRecordTailSeconds = 0.1;

PaSampleFormat PortAudioFormat(ESampleFormat format) {
    switch (format) {
    case ESampleFormat::S16:
        return paInt16;
    case ESampleFormat::S24:
        return paInt24; // packed three bytes, little-endian on this machine: the file's bytes
    case ESampleFormat::F32:
        break;
    }
    return paFloat32;
}

// What the audio callback shares with the calling thread: the rings, fixed sizes, and counters the
// callback alone writes. The callback copies, counts and never waits.
struct CCallbackState {
    CByteRing* m_pPlay = nullptr;
    std::size_t m_nPlayFrameBytes = 0;
    std::uint64_t m_nPlayFrames = 0; // 0: endless
    const CStimulusFeed* m_pFeed = nullptr;
    CByteRing* m_pRecord = nullptr; // null: playing only
    std::size_t m_nRecordFrameBytes = 0;
    std::uint64_t m_nRecordFrames = 0;

    std::atomic<std::uint64_t> m_nCallbacks{0};
    std::atomic<std::uint64_t> m_nPlayed{0};
    std::atomic<std::uint64_t> m_nRecorded{0};
    std::atomic<std::uint64_t> m_nUnderruns{0};
    std::atomic<std::uint64_t> m_nOverruns{0};
    std::atomic<std::uint64_t> m_nLostFrames{0}; // recorded frames the ring had no room for
};

int Callback(const void* input, void* output, unsigned long frameCount, const PaStreamCallbackTimeInfo*,
             PaStreamCallbackFlags flags, void* data) {
    auto& state = *static_cast<CCallbackState*>(data);
    state.m_nCallbacks.fetch_add(1, std::memory_order_relaxed);
    if ((flags & paOutputUnderflow) != 0) {
        state.m_nUnderruns.fetch_add(1, std::memory_order_relaxed);
    }
    if ((flags & paInputOverflow) != 0) {
        state.m_nOverruns.fetch_add(1, std::memory_order_relaxed);
    }

    // The stimulus's next whole frames, then silence.
    auto* out = static_cast<unsigned char*>(output);
    const std::size_t frameBytes = state.m_nPlayFrameBytes;
    const std::uint64_t played = state.m_nPlayed.load(std::memory_order_relaxed);
    std::uint64_t wanted = frameCount;
    if (state.m_nPlayFrames != 0) {
        wanted = std::min<std::uint64_t>(wanted, state.m_nPlayFrames - std::min(played, state.m_nPlayFrames));
    }
    const std::size_t ready = state.m_pPlay->Readable() / frameBytes;
    const std::size_t taken = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, ready));
    state.m_pPlay->Read(out, taken * frameBytes);
    std::memset(out + taken * frameBytes, 0, (frameCount - taken) * frameBytes);
    if (taken < wanted && !state.m_pFeed->Finished()) {
        state.m_nUnderruns.fetch_add(1, std::memory_order_relaxed); // the renderer fell behind
    }
    state.m_nPlayed.store(played + taken, std::memory_order_release);

    if (state.m_pRecord == nullptr) {
        const bool done = state.m_nPlayFrames != 0 && played + taken >= state.m_nPlayFrames;
        return done ? paComplete : paContinue;
    }
    const std::uint64_t recorded = state.m_nRecorded.load(std::memory_order_relaxed);
    const std::uint64_t keep = std::min<std::uint64_t>(frameCount, state.m_nRecordFrames - recorded);
    const std::size_t bytes = static_cast<std::size_t>(keep) * state.m_nRecordFrameBytes;
    std::size_t wrote = 0;
    if (input != nullptr) {
        wrote = state.m_pRecord->Write(static_cast<const unsigned char*>(input), bytes);
    }
    if (wrote < bytes) {
        state.m_nLostFrames.fetch_add((bytes - wrote) / state.m_nRecordFrameBytes + 1,
                                      std::memory_order_relaxed);
    }
    state.m_nRecorded.store(recorded + keep, std::memory_order_release);
    return recorded + keep >= state.m_nRecordFrames ? paComplete : paContinue;
}

// An open stream, aborted and closed when it goes.
class CStream {
public:
    CStream() = default;
    ~CStream() {
        if (m_pStream != nullptr) {
            Pa_AbortStream(m_pStream);
            Pa_CloseStream(m_pStream);
        }
    }
    CStream(const CStream&) = delete;
    CStream& operator=(const CStream&) = delete;
    PaStream*& Handle() { return m_pStream; }

private:
    PaStream* m_pStream = nullptr;
};

std::string Quoted(const CDeviceInfo& device) {
    return "'" + device.m_strName + "'";
}

// The plan for `settings`, or std::invalid_argument with the job's refusal.
CJobPlan PlanOf(const CGenerationSettings& settings) {
    CJobPlan plan = MakeJobPlan(settings);
    if (plan.m_strRefusal) {
        throw std::invalid_argument(*plan.m_strRefusal);
    }
    if (plan.m_nSampleRate == 0 || plan.m_nFrames == 0) {
        throw std::invalid_argument("The settings give no frames to play.");
    }
    return plan;
}

// Runs one session: opens the stream, fills the play ring, starts, and watches it to the end.
class CSession {
public:
    CSession(const CGenerationSettings& settings, const CDeviceInfo& output, const CDeviceInfo* input,
             bool loop)
        : m_settings(settings), m_plan(PlanOf(settings)), m_output(output), m_pInput(input),
          m_playRing(static_cast<std::size_t>(kPlayAheadSeconds * m_plan.m_nSampleRate) *
                     BytesPerFrame(m_plan.m_eFormat)),
          m_feed(settings, m_plan, m_playRing, loop) {
        if (output.m_nOutputChannels < 2) {
            throw CAudioError("The output device " + Quoted(output) + " has " +
                              std::to_string(output.m_nOutputChannels) +
                              " output channel(s); the stimulus needs two.");
        }
        if (input != nullptr && input->m_nInputChannels < 1) {
            throw CAudioError("The input device " + Quoted(*input) + " has no input channel.");
        }
        if (input != nullptr && input->m_strHostApi != output.m_strHostApi) {
            throw CAudioError("The output device " + Quoted(output) + " (" + output.m_strHostApi +
                              ") and the input device " + Quoted(*input) + " (" + input->m_strHostApi +
                              ") must belong to the same audio system to run in one stream.");
        }
        m_state.m_pPlay = &m_playRing;
        m_state.m_nPlayFrameBytes = BytesPerFrame(m_plan.m_eFormat);
        m_state.m_nPlayFrames = loop ? 0 : m_plan.m_nFrames;
        m_state.m_pFeed = &m_feed;
        m_report.m_nInputChannels = input != nullptr ? std::min(input->m_nInputChannels, 2) : 0;
    }

    // Opens the stream; for a recording also sizes it and opens the file; for a continuous recording
    // (`sink`) sizes its block instead.
    void Open(const std::string* recordingPath, CBlockSink* sink = nullptr, std::uint64_t skipFrames = 0,
              std::size_t blockFrames = 0) {
        PaStreamParameters out{};
        out.device = m_output.m_nIndex;
        out.channelCount = 2;
        out.sampleFormat = PortAudioFormat(m_plan.m_eFormat);
        out.suggestedLatency = Pa_GetDeviceInfo(m_output.m_nIndex)->defaultHighOutputLatency;
        PaStreamParameters in{};
        if (m_pInput != nullptr) {
            in.device = m_pInput->m_nIndex;
            in.channelCount = m_report.m_nInputChannels;
            in.sampleFormat = paFloat32;
            in.suggestedLatency = Pa_GetDeviceInfo(m_pInput->m_nIndex)->defaultHighInputLatency;
        }
        struct COpen {
            CSession* session;
            PaStreamParameters* in;
            PaStreamParameters* out;
            PaError error;
        } open{this, m_pInput != nullptr ? &in : nullptr, &out, paNoError};
        WithQuietStandardError(
            [](void* context) {
                auto& o = *static_cast<COpen*>(context);
                o.error = Pa_OpenStream(&o.session->m_stream.Handle(), o.in, o.out,
                                        o.session->m_plan.m_nSampleRate, paFramesPerBufferUnspecified,
                                        paClipOff | paDitherOff | paPrimeOutputBuffersUsingStreamCallback,
                                        &Callback, &o.session->m_state);
            },
            &open);
        if (open.error != paNoError) {
            m_stream.Handle() = nullptr;
            std::string devices = "The output device " + Quoted(m_output);
            if (m_pInput != nullptr) {
                devices += " with the input device " + Quoted(*m_pInput);
            }
            throw CAudioError(devices + " cannot run at " + std::to_string(m_plan.m_nSampleRate) +
                              " Hz with " + FormatName(m_plan.m_eFormat) +
                              " samples: " + Pa_GetErrorText(open.error));
        }
        const PaStreamInfo* info = Pa_GetStreamInfo(m_stream.Handle());
        m_report.m_dLatencyS = info != nullptr ? info->outputLatency + info->inputLatency : 0.0;
        const double rate = m_plan.m_nSampleRate;
        if (sink != nullptr) {
            m_pSink = sink;
            m_nSkipFrames = skipFrames;
            m_state.m_nRecordFrames = std::numeric_limits<std::uint64_t>::max();
            m_state.m_nRecordFrameBytes = 4 * static_cast<std::size_t>(m_report.m_nInputChannels);
            m_pRecordRing = std::make_unique<CByteRing>(static_cast<std::size_t>(kRecordRingSeconds * rate) *
                                                        m_state.m_nRecordFrameBytes);
            m_state.m_pRecord = m_pRecordRing.get();
            m_aDrain.resize(m_pRecordRing->Capacity());
            m_aBlock.assign(blockFrames * static_cast<std::size_t>(m_report.m_nInputChannels), 0.0f);
            m_nBlockFrames = blockFrames;
            return;
        }
        if (recordingPath == nullptr) {
            return;
        }
        m_state.m_nRecordFrames =
            m_plan.m_nFrames +
            static_cast<std::uint64_t>(std::ceil((m_report.m_dLatencyS + kRecordTailSeconds) * rate));
        m_state.m_nRecordFrameBytes = 4 * static_cast<std::size_t>(m_report.m_nInputChannels);
        m_pRecordRing = std::make_unique<CByteRing>(static_cast<std::size_t>(kRecordRingSeconds * rate) *
                                                    m_state.m_nRecordFrameBytes);
        m_state.m_pRecord = m_pRecordRing.get();
        if (!m_recording.Open(*recordingPath)) {
            throw platform::CFileException(m_recording.OpenError(), m_recording.OpenErrorNumber());
        }
        const std::uint64_t data = m_state.m_nRecordFrames * m_state.m_nRecordFrameBytes;
        const EContainer container = 72 + data <= 0xFFFFFFFFull ? EContainer::Wav : EContainer::Rf64;
        const auto header =
            MakeFileHeader(ESampleFormat::F32, container, m_plan.m_nSampleRate, m_state.m_nRecordFrames,
                           static_cast<unsigned>(m_report.m_nInputChannels));
        m_recording.Write(header.data(), header.size());
        m_aDrain.resize(m_pRecordRing->Capacity());
    }

    CSessionReport Run(platform::CProgress& feedback) {
        m_feed.Start();
        // The ring full (or the whole stimulus in it) before the device asks for the first frames.
        const Clock::time_point fillBy = Clock::now() + std::chrono::seconds(10);
        while (m_playRing.Writable() >= m_state.m_nPlayFrameBytes && !m_feed.Finished()) {
            if (feedback.CancelRequested()) {
                m_report.m_bCancelled = true;
                return m_report;
            }
            if (Clock::now() > fillBy) {
                throw CAudioError("The stimulus could not be rendered ahead in time.");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_feed.ThrowIfFailed();
        struct CStart {
            PaStream* stream;
            PaError error;
        } start{m_stream.Handle(), paNoError};
        WithQuietStandardError(
            [](void* context) {
                auto& s = *static_cast<CStart*>(context);
                s.error = Pa_StartStream(s.stream);
            },
            &start);
        if (start.error != paNoError) {
            throw CAudioError("The output device " + Quoted(m_output) +
                              " cannot start: " + Pa_GetErrorText(start.error));
        }
        std::uint64_t lastCallbacks = 0;
        Clock::time_point lastChange = Clock::now();
        for (;;) {
            std::this_thread::sleep_for(kPoll);
            Drain();
            const bool recording = m_state.m_pRecord != nullptr;
            const std::uint64_t done = recording ? m_state.m_nRecorded.load(std::memory_order_acquire)
                                                 : m_state.m_nPlayed.load(std::memory_order_acquire);
            feedback.ReportProgress(done, m_pSink != nullptr ? 0
                                          : recording        ? m_state.m_nRecordFrames
                                                             : m_state.m_nPlayFrames);
            if (feedback.CancelRequested()) {
                m_report.m_bCancelled = true;
                break;
            }
            if (m_bSinkDone) {
                break;
            }
            if (m_pSink != nullptr && m_state.m_nLostFrames.load() > 0) {
                throw CAudioError("The recording lost samples: the input device " + Quoted(*m_pInput) +
                                  " gave them faster than they could be analysed.");
            }
            m_feed.ThrowIfFailed();
            const PaError active = Pa_IsStreamActive(m_stream.Handle());
            if (active == 0) {
                break;
            }
            if (active < 0) {
                throw CAudioError("The output device " + Quoted(m_output) +
                                  " failed: " + Pa_GetErrorText(active));
            }
            const std::uint64_t callbacks = m_state.m_nCallbacks.load(std::memory_order_relaxed);
            if (callbacks != lastCallbacks) {
                lastCallbacks = callbacks;
                lastChange = Clock::now();
            } else if (Clock::now() - lastChange > std::chrono::duration<double>(kStallSeconds)) {
                throw CAudioError(std::string(recording ? "The devices " : "The output device ") +
                                  Quoted(m_output) +
                                  (recording ? " and " + Quoted(*m_pInput) : std::string()) +
                                  " stopped exchanging samples for " + std::to_string(int(kStallSeconds)) +
                                  " s: unplugged, or taken by another program?");
            }
        }
        m_feed.Stop();
        m_report.m_nFramesPlayed = m_state.m_nPlayed.load(std::memory_order_acquire);
        const bool playing = m_state.m_pRecord == nullptr;
        if (playing && !m_report.m_bCancelled && m_report.m_nFramesPlayed < m_state.m_nPlayFrames) {
            throw CAudioError("The output device " + Quoted(m_output) + " stopped after " +
                              std::to_string(m_report.m_nFramesPlayed) + " of " +
                              std::to_string(m_state.m_nPlayFrames) + " frames: it failed, or went away.");
        }
        m_report.m_nUnderruns = m_state.m_nUnderruns.load();
        m_report.m_nOverruns = m_state.m_nOverruns.load();
        if (m_pSink != nullptr) {
            if (!m_report.m_bCancelled && !m_bSinkDone) {
                throw CAudioError("The devices " + Quoted(m_output) + " and " + Quoted(*m_pInput) +
                                  " stopped after " + std::to_string(m_report.m_nFramesPlayed) +
                                  " frames of the loop: they failed, or went away.");
            }
            m_report.m_nFramesRecorded = m_nKept;
            return m_report;
        }
        if (playing && !m_report.m_bCancelled && m_state.m_nPlayFrames == 0) { // a loop ends only on a cancel
            throw CAudioError("The output device " + Quoted(m_output) + " stopped after " +
                              std::to_string(m_report.m_nFramesPlayed) +
                              " frames of the loop: it failed, or went away.");
        }
        if (m_state.m_pRecord != nullptr && !m_report.m_bCancelled) {
            Drain();
            if (m_state.m_nLostFrames.load() > 0) {
                throw CAudioError("The recording lost samples: the input device " + Quoted(*m_pInput) +
                                  " gave them faster than they could be kept.");
            }
            m_report.m_nFramesRecorded = m_nKept;
            if (m_nKept != m_state.m_nRecordFrames) {
                throw CAudioError("The input device " + Quoted(*m_pInput) + " gave " +
                                  std::to_string(m_nKept) + " of " + std::to_string(m_state.m_nRecordFrames) +
                                  " frames.");
            }
            m_recording.Commit();
        }
        return m_report;
    }

private:
    // Moves what the callback recorded into the file, noting each channel's peak and clipped samples.
    void Drain() {
        if (m_pRecordRing == nullptr) {
            return;
        }
        const std::size_t frameBytes = m_state.m_nRecordFrameBytes;
        const std::size_t bytes =
            m_pRecordRing->Read(m_aDrain.data(), m_pRecordRing->Readable() / frameBytes * frameBytes);
        const int channels = m_report.m_nInputChannels;
        if (m_pSink != nullptr) {
            ToBlocks(bytes / frameBytes);
            return;
        }
        for (std::size_t at = 0; at < bytes; at += 4) {
            float sample = 0.0f;
            std::memcpy(&sample, m_aDrain.data() + at, 4);
            Note(static_cast<std::size_t>((at / 4) % static_cast<std::size_t>(channels)), sample);
        }
        m_recording.Write(m_aDrain.data(), bytes);
        m_nKept += bytes / frameBytes;
    }

    // Counts a recorded sample into the report: not a number, or its channel's peak and clipping.
    void Note(std::size_t channel, float sample) {
        const double magnitude = std::fabs(static_cast<double>(sample));
        if (!std::isfinite(magnitude)) {
            ++m_report.m_nNotFinite;
            return;
        }
        m_report.m_aPeak[channel] = std::max(m_report.m_aPeak[channel], magnitude);
        m_report.m_aClipped[channel] += magnitude >= kClipLevel;
    }

    // Continuous: moves `frames` drained frames into the block, past the skip, handing each full block
    // to the sink with its own peaks.
    void ToBlocks(std::size_t frames) {
        const auto channels = static_cast<std::size_t>(m_report.m_nInputChannels);
        for (std::size_t frame = 0; frame < frames && !m_bSinkDone; ++frame, ++m_nKept) {
            if (m_nKept < m_nSkipFrames) {
                continue;
            }
            for (std::size_t channel = 0; channel < channels; ++channel) {
                float sample = 0.0f;
                std::memcpy(&sample, m_aDrain.data() + 4 * (frame * channels + channel), 4);
                m_aBlock[m_nInBlock * channels + channel] = sample;
                Note(channel, sample);
            }
            if (++m_nInBlock == m_nBlockFrames) {
                m_report.m_nUnderruns = m_state.m_nUnderruns.load();
                m_report.m_nOverruns = m_state.m_nOverruns.load();
                m_report.m_nFramesPlayed = m_state.m_nPlayed.load(std::memory_order_acquire);
                m_report.m_nFramesRecorded = m_nKept + 1;
                m_bSinkDone =
                    !m_pSink->Block(m_aBlock.data(), m_nBlockFrames, m_report.m_nInputChannels, m_report);
                m_nInBlock = 0;
                m_report.m_aPeak = {};
                m_report.m_aClipped = {};
                m_report.m_nNotFinite = 0;
            }
        }
    }

    CGenerationSettings m_settings;
    CJobPlan m_plan;
    const CDeviceInfo& m_output;
    const CDeviceInfo* m_pInput;
    CByteRing m_playRing;
    CStimulusFeed m_feed;
    std::unique_ptr<CByteRing> m_pRecordRing;
    std::vector<unsigned char> m_aDrain;
    platform::COutputFile m_recording;
    std::uint64_t m_nKept = 0;
    CBlockSink* m_pSink = nullptr; // continuous: where the blocks go
    std::uint64_t m_nSkipFrames = 0;
    std::size_t m_nBlockFrames = 0;
    std::vector<float> m_aBlock;
    std::size_t m_nInBlock = 0;
    bool m_bSinkDone = false;
    CCallbackState m_state;
    CSessionReport m_report;
    CStream m_stream; // last: aborted and closed before the rest goes
};

// One session at a time in a process: PortAudio's calls are not made for several threads at once.
class CSessionGuard {
public:
    CSessionGuard() : m_lock(Mutex(), std::try_to_lock) {
        if (!m_lock.owns_lock()) {
            throw CAudioError("Another sound session of this program is running: stop it first.");
        }
    }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    std::unique_lock<std::mutex> m_lock;
};

} // namespace

CSessionReport PlayStimulus(const CAudioSystem& system, const CDeviceInfo& output,
                            const CGenerationSettings& settings, bool loop, platform::CProgress& feedback) {
    (void)system; // PortAudio is running while it lives
    const CSessionGuard guard;
    CSession session(settings, output, nullptr, loop);
    session.Open(nullptr);
    return session.Run(feedback);
}

CSessionReport RecordResponse(const CAudioSystem& system, const CDeviceInfo& output, const CDeviceInfo& input,
                              const CGenerationSettings& settings, const std::string& recordingPath,
                              platform::CProgress& feedback) {
    (void)system;
    const CSessionGuard guard;
    CSession session(settings, output, &input, false);
    session.Open(&recordingPath);
    return session.Run(feedback);
}

CSessionReport RecordContinuously(const CAudioSystem& system, const CDeviceInfo& output,
                                  const CDeviceInfo& input, const CGenerationSettings& settings,
                                  std::uint64_t skipFrames, std::size_t blockFrames, CBlockSink& sink,
                                  platform::CProgress& feedback) {
    (void)system;
    const CSessionGuard guard;
    CSession session(settings, output, &input, true);
    session.Open(nullptr, &sink, skipFrames, std::max<std::size_t>(1, blockFrames));
    return session.Run(feedback);
}

std::optional<std::string> RecordingProblem(const CSessionReport& report, const CDeviceInfo& input) {
    const std::string device = "'" + input.m_strName + "'";
    if (report.m_nNotFinite > 0) {
        return "The input device " + device + " gave " + std::to_string(report.m_nNotFinite) +
               " samples that are not numbers (NaN or infinite): a fault of its driver or of the format "
               "it was opened with.";
    }
    if (report.m_aPeak[0] == 0.0 && report.m_aPeak[1] == 0.0) {
        return "The input device " + device +
               " recorded silence: no signal reached it (check the connections, the input chosen and its "
               "level).";
    }
    for (int channel = 0; channel < report.m_nInputChannels; ++channel) {
        if (report.m_aClipped[static_cast<std::size_t>(channel)] > 0) {
            return "The recording clips: " +
                   std::to_string(report.m_aClipped[static_cast<std::size_t>(channel)]) +
                   " samples of channel " + std::to_string(channel + 1) + " from " + device +
                   " reach full scale. Lower the level into the input and measure again.";
        }
    }
    return std::nullopt;
}

std::optional<CAnswerSpan> AnswerSpan(const CSessionReport& report, double durationS, double settleS,
                                      std::optional<double> lengthS) {
    CAnswerSpan span;
    span.m_dSkipS = std::ceil((settleS + report.m_dLatencyS) * 1000.0) / 1000.0;
    const double rest = durationS - span.m_dSkipS;
    if (!(rest > 0.0)) {
        return std::nullopt;
    }
    span.m_dLengthS = std::min(lengthS.value_or(rest), rest);
    return span;
}

} // namespace audio

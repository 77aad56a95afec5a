#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

#include "audio/byte_ring.h"
#include "generation/job_plan.h"
#include "generation/settings.h"

namespace audio {

// Renders the stimulus ahead of a device on a thread of its own: the file's frames, exactly as the
// file holds them (its format, its fades), into a ring that the device's callback empties; with
// `loop`, the first frame follows the last again without a gap, until Stop. Memory is the ring's,
// whatever the duration. The rendering thread sleeps a millisecond at a time while the ring is full.
class CStimulusFeed {
public:
    // `plan` is MakeJobPlan(settings) and must not be a refusal (std::invalid_argument). `ring` must
    // outlive the feed; this feed is its only writer.
    CStimulusFeed(const CGenerationSettings& settings, const CJobPlan& plan, CByteRing& ring, bool loop);
    // Stops and joins the rendering thread.
    ~CStimulusFeed();
    CStimulusFeed(const CStimulusFeed&) = delete;
    CStimulusFeed& operator=(const CStimulusFeed&) = delete;

    // Starts rendering; returns at once.
    void Start();
    // Asks the rendering thread to stop and waits for it.
    void Stop();
    // True once every frame is in the ring (never while looping), or the rendering failed.
    bool Finished() const { return m_bFinished.load(std::memory_order_acquire); }
    // Rethrows what stopped the rendering thread, if anything did (on the caller's thread).
    void ThrowIfFailed();

private:
    void Run();

    CGenerationSettings m_settings;
    CJobPlan m_plan;
    CByteRing& m_ring;
    bool m_bLoop;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bFinished{false};
    std::mutex m_errorMutex;
    std::exception_ptr m_error;
    std::thread m_thread;
};

} // namespace audio

#include "audio/stimulus_feed.h"

#include <chrono>
#include <stdexcept>

#include "generation/frame_render.h"

namespace audio {

namespace {

struct CFeedStopped {};

// Pushes each rendering round into the ring, waiting while it is full.
class CRingSink : public render::CFrameSink {
public:
    CRingSink(CByteRing& ring, std::size_t frameBytes, const std::atomic<bool>& stop)
        : m_ring(ring), m_nFrameBytes(frameBytes), m_bStop(stop) {}
    void Consume(const unsigned char* bytes, std::size_t frameCount) override {
        std::size_t left = frameCount * m_nFrameBytes;
        while (left > 0) {
            if (m_bStop.load(std::memory_order_acquire)) {
                throw CFeedStopped{};
            }
            const std::size_t wrote = m_ring.Write(bytes, left);
            bytes += wrote;
            left -= wrote;
            if (left > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

private:
    CByteRing& m_ring;
    std::size_t m_nFrameBytes;
    const std::atomic<bool>& m_bStop;
};

} // namespace

CStimulusFeed::CStimulusFeed(const CGenerationSettings& settings, const CJobPlan& plan, CByteRing& ring,
                             bool loop)
    : m_settings(settings), m_plan(plan), m_ring(ring), m_bLoop(loop) {
    if (plan.m_strRefusal) {
        throw std::invalid_argument(*plan.m_strRefusal);
    }
}

CStimulusFeed::~CStimulusFeed() {
    Stop();
}

void CStimulusFeed::Start() {
    m_bStop = false;
    m_thread = std::thread([this] { Run(); });
}

void CStimulusFeed::Stop() {
    m_bStop.store(true, std::memory_order_release);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CStimulusFeed::ThrowIfFailed() {
    const std::lock_guard lock(m_errorMutex);
    if (m_error) {
        std::rethrow_exception(m_error);
    }
}

void CStimulusFeed::Run() {
    // One rendering thread: the device takes the frames in real time, far slower than they render,
    // and the device's own thread needs a processor more than a second renderer does.
    render::CRenderOptions options;
    options.m_nThreads = 1;
    try {
        CRingSink sink(m_ring, BytesPerFrame(m_plan.m_eFormat), m_bStop);
        do {
            RenderFileFrames(m_settings, m_plan, sink, options);
        } while (m_bLoop && m_plan.m_nFrames > 0 && !m_bStop.load(std::memory_order_acquire));
    } catch (const CFeedStopped&) {
        // asked to stop
    } catch (...) {
        const std::lock_guard lock(m_errorMutex);
        m_error = std::current_exception();
    }
    m_bFinished.store(true, std::memory_order_release);
}

} // namespace audio

#include "generation/frame_render.h"

#include <algorithm>
#include <stdexcept>

#include "generation/job_sources.h"
#include "generation/render/block_renderer.h"

namespace {

// Keeps the frames as samples, or only counts them; tells the feedback how far it is.
class CMemorySink : public render::CFrameSink {
public:
    CMemorySink(std::vector<std::int16_t>* samples, CGenerationFeedback* feedback, std::uint32_t frames)
        : m_pSamples(samples), m_pFeedback(feedback), m_nFrames(frames) {}
    void Consume(const unsigned char* bytes, std::size_t frameCount) override {
        if (m_pSamples != nullptr) {
            for (std::size_t i = 0; i < 2 * frameCount; ++i) { // little-endian pairs, as in the file
                m_pSamples->push_back(static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
            }
        }
        m_nDone += frameCount;
        if (m_pFeedback != nullptr) {
            m_pFeedback->ReportProgress(m_nDone, m_nFrames);
            if (m_pFeedback->CancelRequested()) {
                throw CRenderCancelled();
            }
        }
    }

private:
    std::vector<std::int16_t>* m_pSamples;
    CGenerationFeedback* m_pFeedback;
    std::uint64_t m_nFrames;
    std::uint64_t m_nDone = 0;
};

double Render(const CGenerationSettings& settings, const CJobPlan& plan, std::uint32_t frameCount,
              std::vector<std::int16_t>* samples, const render::CRenderOptions& options,
              CGenerationFeedback* feedback) {
    if (plan.m_strRefusal) {
        throw std::invalid_argument(*plan.m_strRefusal);
    }
    CJobSources sources;
    PrepareSources(settings, sources);
    const std::uint32_t frames = std::min(frameCount, plan.m_nFrames);
    if (samples != nullptr) {
        samples->reserve(2 * std::size_t{frames});
    }
    CMemorySink sink(samples, feedback, frames);
    const render::CSources view{sources.m_bank, sources.m_aDaughters, sources.m_reference};
    return render::RenderFrames(view, frames, sink, options);
}

} // namespace

CRenderedFrames RenderFramesInMemory(const CGenerationSettings& settings, const CJobPlan& plan,
                                     std::uint32_t frameCount, const render::CRenderOptions& options) {
    CRenderedFrames frames;
    frames.m_dPeak = Render(settings, plan, frameCount, &frames.m_aSamples, options, nullptr);
    return frames;
}

double WholeFilePeak(const CGenerationSettings& settings, const CJobPlan& plan,
                     const render::CRenderOptions& options, CGenerationFeedback* feedback) {
    return Render(settings, plan, UINT32_MAX, nullptr, options, feedback);
}

#include "generation/frame_render.h"

#include <algorithm>
#include <stdexcept>

#include "generation/job_sources.h"
#include "generation/render/block_renderer.h"

namespace {

// Keeps the frames as samples, or only counts them.
class CMemorySink : public render::CFrameSink {
public:
    explicit CMemorySink(std::vector<std::int16_t>* samples) : m_pSamples(samples) {}
    void Consume(const unsigned char* bytes, std::size_t frameCount) override {
        if (m_pSamples == nullptr) {
            return;
        }
        for (std::size_t i = 0; i < 2 * frameCount; ++i) { // little-endian pairs, as in the file
            m_pSamples->push_back(static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
        }
    }

private:
    std::vector<std::int16_t>* m_pSamples;
};

double Render(const CGenerationSettings& settings, const CJobPlan& plan, std::uint32_t frameCount,
              std::vector<std::int16_t>* samples, const render::CRenderOptions& options) {
    if (plan.m_strRefusal) {
        throw std::invalid_argument(*plan.m_strRefusal);
    }
    CJobSources sources;
    PrepareSources(settings, sources);
    const std::uint32_t frames = std::min(frameCount, plan.m_nFrames);
    if (samples != nullptr) {
        samples->reserve(2 * std::size_t{frames});
    }
    CMemorySink sink(samples);
    const render::CSources view{sources.m_bank, sources.m_aDaughters, sources.m_reference};
    return render::RenderFrames(view, frames, sink, options);
}

} // namespace

CRenderedFrames RenderFramesInMemory(const CGenerationSettings& settings, const CJobPlan& plan,
                                     std::uint32_t frameCount, const render::CRenderOptions& options) {
    CRenderedFrames frames;
    frames.m_dPeak = Render(settings, plan, frameCount, &frames.m_aSamples, options);
    return frames;
}

double WholeFilePeak(const CGenerationSettings& settings, const CJobPlan& plan,
                     const render::CRenderOptions& options) {
    return Render(settings, plan, UINT32_MAX, nullptr, options);
}

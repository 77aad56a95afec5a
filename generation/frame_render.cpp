#include "generation/frame_render.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "generation/generate_job.h"
#include "generation/job_sources.h"
#include "generation/render/block_renderer.h"

namespace {

// Keeps the frames' bytes, or only counts them; tells the feedback how far it is.
class CMemorySink : public render::CFrameSink {
public:
    CMemorySink(std::vector<unsigned char>* bytes, std::size_t frameBytes, CGenerationFeedback* feedback,
                std::uint64_t frames)
        : m_pBytes(bytes), m_nFrameBytes(frameBytes), m_pFeedback(feedback), m_nFrames(frames) {}
    void Consume(const unsigned char* bytes, std::size_t frameCount) override {
        if (m_pBytes != nullptr) {
            m_pBytes->insert(m_pBytes->end(), bytes, bytes + frameCount * m_nFrameBytes);
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
    std::vector<unsigned char>* m_pBytes;
    std::size_t m_nFrameBytes;
    CGenerationFeedback* m_pFeedback;
    std::uint64_t m_nFrames;
    std::uint64_t m_nDone = 0;
};

// Steps every oscillator's phase `frames` times by the oscillators' own rule (StepPhase), the
// very operation the per-frame path applies frame by frame: after it the sources stand at frame
// `frames` exactly.
void SkipFrames(CJobSources& sources, std::uint64_t frames) {
    const auto skip = [frames](double& phase, double increment) {
        for (std::uint64_t k = 0; k < frames; ++k) {
            phase = StepPhase(phase, increment);
        }
    };
    for (CSine& sine : sources.m_bank.m_aSines) {
        skip(sine.m_dPhase, sine.m_dPhaseIncrement);
    }
    for (CDaughterSignal& daughter : sources.m_aDaughters) {
        skip(daughter.m_carrier.m_dPhase, daughter.m_carrier.m_dPhaseIncrement);
        skip(daughter.m_modulator.m_dPhase, daughter.m_modulator.m_dPhaseIncrement);
    }
    skip(sources.m_reference.m_dPhase, sources.m_reference.m_dPhaseIncrement);
}

// Frames [first, first + frames) of the file (clipped to its end) into `sink`.
double RenderInto(const CGenerationSettings& settings, const CJobPlan& plan, std::uint64_t first,
                  std::uint64_t frames, render::CFrameSink& sink, const render::CRenderOptions& options) {
    if (plan.m_strRefusal) {
        throw std::invalid_argument(*plan.m_strRefusal);
    }
    CJobSources sources;
    PrepareSources(settings, sources);
    first = std::min(first, plan.m_nFrames);
    SkipFrames(sources, first);
    const render::CSources view{sources.m_bank, sources.m_aDaughters, sources.m_reference};
    // The fades belong to the whole file, of which these frames are a part.
    render::CFrameFormat format = FrameFormatOf(plan);
    format.m_nFileFrames = plan.m_nFrames;
    format.m_nFirstFrame = first;
    return render::RenderFrames(view, std::min(frames, plan.m_nFrames - first), sink, options, format);
}

double Render(const CGenerationSettings& settings, const CJobPlan& plan, std::uint64_t frameCount,
              std::vector<unsigned char>* bytes, const render::CRenderOptions& options,
              CGenerationFeedback* feedback) {
    const std::uint64_t frames = std::min(frameCount, plan.m_nFrames);
    const std::size_t frameBytes = BytesPerFrame(plan.m_eFormat);
    if (bytes != nullptr && !plan.m_strRefusal) {
        bytes->reserve(frameBytes * frames);
    }
    CMemorySink sink(bytes, frameBytes, feedback, frames);
    return RenderInto(settings, plan, 0, frames, sink, options);
}

} // namespace

double CRenderedFrames::Sample(std::size_t index) const {
    const unsigned char* at = m_aBytes.data() + index * BytesPerSample(m_eFormat);
    switch (m_eFormat) {
    case ESampleFormat::S16:
        return static_cast<std::int16_t>(at[0] | at[1] << 8) / 32767.0;
    case ESampleFormat::S24: {
        const auto value =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16) << 8) >> 8;
        return value / 8388607.0;
    }
    case ESampleFormat::F32:
        break;
    }
    float value = 0.0f;
    std::memcpy(&value, at, 4);
    return value;
}

CRenderedFrames RenderFramesInMemory(const CGenerationSettings& settings, const CJobPlan& plan,
                                     std::uint64_t frameCount, const render::CRenderOptions& options) {
    CRenderedFrames frames;
    frames.m_eFormat = plan.m_eFormat;
    frames.m_dPeak = Render(settings, plan, frameCount, &frames.m_aBytes, options, nullptr);
    return frames;
}

double WholeFilePeak(const CGenerationSettings& settings, const CJobPlan& plan,
                     const render::CRenderOptions& options, CGenerationFeedback* feedback) {
    return Render(settings, plan, UINT64_MAX, nullptr, options, feedback);
}

double RenderFileFrames(const CGenerationSettings& settings, const CJobPlan& plan, render::CFrameSink& sink,
                        const render::CRenderOptions& options) {
    return RenderInto(settings, plan, 0, plan.m_nFrames, sink, options);
}

double RenderFileFramesFrom(const CGenerationSettings& settings, const CJobPlan& plan, std::uint64_t first,
                            std::uint64_t frames, render::CFrameSink& sink,
                            const render::CRenderOptions& options) {
    return RenderInto(settings, plan, first, frames, sink, options);
}

#include "generation/frame_render.h"

#include <algorithm>
#include <future>
#include <vector>
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
// `frames` exactly. All oscillators step side by side (each its own sequence of the same additions,
// so the compiler's vectors give the same bits), in rounds between which `progress` may cancel.
void SkipFrames(CJobSources& sources, std::uint64_t frames, platform::CProgress* progress) {
    std::vector<double*> phases;
    std::vector<double> values, increments;
    const auto add = [&](double& phase, double increment) {
        phases.push_back(&phase);
        values.push_back(phase);
        increments.push_back(increment);
    };
    for (CSine& sine : sources.m_bank.m_aSines) {
        add(sine.m_dPhase, sine.m_dPhaseIncrement);
    }
    for (CDaughterSignal& daughter : sources.m_aDaughters) {
        add(daughter.m_carrier.m_dPhase, daughter.m_carrier.m_dPhaseIncrement);
        add(daughter.m_modulator.m_dPhase, daughter.m_modulator.m_dPhaseIncrement);
    }
    add(sources.m_reference.m_dPhase, sources.m_reference.m_dPhaseIncrement);
    // Eight oscillators at a time in registers, so that their additions overlap; the groups shared
    // between this thread and one helper.
    constexpr std::size_t kLanes = 8;
    constexpr std::uint64_t kRound = std::uint64_t{1} << 20;
    const std::size_t count = values.size();
    const std::size_t groups = (count + kLanes - 1) / kLanes;
    const auto step = [&](std::size_t fromGroup, std::size_t toGroup, std::uint64_t steps) {
        for (std::size_t group = fromGroup; group < toGroup; ++group) {
            double phase[kLanes] = {}, increment[kLanes] = {};
            const std::size_t first = group * kLanes, lanes = std::min(kLanes, count - first);
            for (std::size_t o = 0; o < lanes; ++o) {
                phase[o] = values[first + o];
                increment[o] = increments[first + o];
            }
            for (std::uint64_t k = 0; k < steps; ++k) {
                for (std::size_t o = 0; o < kLanes; ++o) {
                    phase[o] = StepPhase(phase[o], increment[o]);
                }
            }
            for (std::size_t o = 0; o < lanes; ++o) {
                values[first + o] = phase[o];
            }
        }
    };
    for (std::uint64_t done = 0; done < frames;) {
        const std::uint64_t round = std::min(kRound, frames - done);
        const std::size_t half = groups / 2;
        auto helper = std::async(std::launch::async, [&] { step(half, groups, round); });
        step(0, half, round);
        helper.get();
        done += round;
        if (progress != nullptr) {
            progress->ReportProgress(done, frames);
            if (progress->CancelRequested()) {
                throw CRenderCancelled();
            }
        }
    }
    for (std::size_t o = 0; o < count; ++o) {
        *phases[o] = values[o];
    }
}

// Frames [first, first + frames) of the file (clipped to its end) into `sink`.
double RenderInto(const CGenerationSettings& settings, const CJobPlan& plan, std::uint64_t first,
                  std::uint64_t frames, render::CFrameSink& sink, const render::CRenderOptions& options,
                  platform::CProgress* progress = nullptr) {
    if (plan.m_strRefusal) {
        throw std::invalid_argument(*plan.m_strRefusal);
    }
    CJobSources sources;
    PrepareSources(settings, sources);
    first = std::min(first, plan.m_nFrames);
    SkipFrames(sources, first, progress);
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
                            const render::CRenderOptions& options, platform::CProgress* progress) {
    return RenderInto(settings, plan, first, frames, sink, options, progress);
}

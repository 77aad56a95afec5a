#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "generation/feedback.h"
#include "generation/job_plan.h"
#include "generation/render/block_renderer.h"
#include "generation/render/render_options.h"
#include "generation/settings.h"

// Frames of a file rendered into memory instead of a file, by the same engine and rules: the
// samples are those the file would hold (in its format, faded as it is), the peak the one its
// clipping warning would report.
struct CRenderedFrames {
    ESampleFormat m_eFormat = ESampleFormat::S16;
    std::vector<unsigned char> m_aBytes; // the frames as the file holds them: left, right, ...
    double m_dPeak = 0.0;                // the peak over these frames (sample_format.h)

    std::size_t Frames() const { return m_aBytes.size() / BytesPerFrame(m_eFormat); }
    // Sample `index` of the interleaved samples (2k: frame k's left, 2k + 1 its right) against full
    // scale 1.0: a 16-bit 32767 reads 1.0, a float as it is.
    double Sample(std::size_t index) const;
};

// Frames [0, min(frameCount, the file's frames)) of the file `settings` describe; `plan` is
// MakeJobPlan(settings), which the caller has already. Throws std::invalid_argument with the job's
// message when the plan refuses the settings.
CRenderedFrames RenderFramesInMemory(const CGenerationSettings& settings, const CJobPlan& plan,
                                     std::uint64_t frameCount, const render::CRenderOptions& options = {});

// Thrown by WholeFilePeak when its feedback asks to stop.
class CRenderCancelled : public platform::CCancelled {
public:
    CRenderCancelled() : platform::CCancelled("the rendering was cancelled") {}
};

// The peak of the whole file's left channel, computed without keeping or writing any frame (as
// long as a generation without the writing). Arguments and errors as RenderFramesInMemory. With a
// `feedback`, reports progress after each rendering round on the calling thread and throws
// CRenderCancelled as soon as its CancelRequested says so.
double WholeFilePeak(const CGenerationSettings& settings, const CJobPlan& plan,
                     const render::CRenderOptions& options = {}, CGenerationFeedback* feedback = nullptr);

// All the file's frames, in file order and in its format (faded as it is), handed to `sink` a
// rendering round at a time on the calling thread, exactly as the file holds them; returns the peak.
// Throws std::invalid_argument with the job's message when the plan refuses the settings, and what
// the sink throws (which stops the rendering).
double RenderFileFrames(const CGenerationSettings& settings, const CJobPlan& plan, render::CFrameSink& sink,
                        const render::CRenderOptions& options = {});

// Frames [first, first + frames) of the file, clipped to its end, handed to `sink` as
// RenderFileFrames hands them: the very bytes the file holds there (the fades as the whole file
// has them). Reaching frame `first` steps every oscillator `first` times: time linear in `first`,
// reported to `progress` (may be null; frames stepped of `first`), whose cancel throws
// CRenderCancelled. Throws as RenderFileFrames.
double RenderFileFramesFrom(const CGenerationSettings& settings, const CJobPlan& plan, std::uint64_t first,
                            std::uint64_t frames, render::CFrameSink& sink,
                            const render::CRenderOptions& options = {},
                            platform::CProgress* progress = nullptr);

#include "generation/generate_job.h"

#include <cmath>

#include "generation/block_renderer.h"
#include "generation/job_sources.h"
#include "generation/sine_kernels.h"
#include "generation/wav_format.h"
#include "platform/number_text.h"
#include "platform/output_file.h"

namespace {

// Ends the wait exactly once, on whichever path leaves the job first.
class CWaitScope {
public:
    explicit CWaitScope(CGenerationFeedback& feedback) : m_feedback(feedback) { m_feedback.BeginWait(); }
    ~CWaitScope() { End(); }
    CWaitScope(const CWaitScope&) = delete;
    CWaitScope& operator=(const CWaitScope&) = delete;
    void End() {
        if (m_bWaiting) {
            m_bWaiting = false;
            m_feedback.EndWait();
        }
    }

private:
    CGenerationFeedback& m_feedback;
    bool m_bWaiting = true;
};

// The per-frame reference: every frame handed to the file as its own 4-byte write.
double WriteFramesPerFrame(CJobSources& sources, std::uint32_t frameCount, platform::COutputFile& file) {
    double peak = 0.0;
    unsigned char frame[kBytesPerFrame];
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const CFrameValues values = NextFrameValues(sources);
        if (std::fabs(values.m_dLeft) > peak) {
            peak = std::fabs(values.m_dLeft);
        }
        PackFrame(LeftSample(values.m_dLeft), RightSample(values.m_dRight), frame);
        file.Write(frame, sizeof frame);
    }
    return peak;
}

} // namespace

std::string ClippingWarning(double peak) {
    return "Warning! Clipped samples detected, Max = " + platform::FormatFixed6(peak) + " (clipped to 32767)";
}

bool GenerateTestFile(const CGenerationSettings& settings, CGenerationFeedback& feedback) {
    return GenerateTestFile(settings, feedback, CRenderOptions{});
}

bool GenerateTestFile(const CGenerationSettings& settings, CGenerationFeedback& feedback,
                      const CRenderOptions& options) {
    CWaitScope wait(feedback);
    if (const auto refusal = RefusalReason(settings)) {
        wait.End();
        feedback.ShowMessage(*refusal, MB_ICONEXCLAMATION);
        return false;
    }
    if (options.m_ePath == ERenderPath::Block) {
        // An unknown or unsupported kernel is a caller's error: report it before the file is touched.
        SelectKernel(options.m_szKernel ? options.m_szKernel : "");
    }
    const std::uint32_t frameCount = FrameCount(settings.m_nSampleRate, settings.m_dDuration);
    CJobSources sources;
    PrepareSources(settings, sources);

    platform::COutputFile file;
    if (!file.Open(settings.m_strFileName)) {
        wait.End();
        feedback.ShowMessage("File open failed!", MB_OK);
        return false;
    }
    double peak = 0.0;
    try {
        const CWavHeader header = MakeWavHeader(settings.m_nSampleRate, frameCount);
        file.Write(header.m_aRiff.data(), header.m_aRiff.size());
        file.Write(header.m_aFormat.data(), header.m_aFormat.size());
        file.Write(header.m_aData.data(), header.m_aData.size());
        if (options.m_ePath == ERenderPath::PerFrame) {
            peak = WriteFramesPerFrame(sources, frameCount, file);
        } else {
            peak = WriteFramesBlocked(sources, frameCount, file, options);
        }
        file.Close();
    } catch (const platform::CFileException& error) {
        wait.End();
        feedback.ShowMessage(std::string("File write failed! ") + error.what(), MB_ICONEXCLAMATION);
        return false;
    }
    wait.End();
    if (peak > 32767.0) {
        feedback.ShowMessage(ClippingWarning(peak), MB_ICONEXCLAMATION);
    }
    return true;
}

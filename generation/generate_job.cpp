#include "generation/generate_job.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "generation/job_plan.h"
#include "generation/job_sources.h"
#include "generation/render/block_renderer.h"
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

// Thrown when the feedback asks to cancel: the job unwinds to its one exit for cancellation.
struct CJobCancelled {};

// Tells the feedback how far the job is, and asks it whether to go on.
class CProgress {
public:
    CProgress(CGenerationFeedback& feedback, std::uint32_t frameCount)
        : m_feedback(feedback), m_nFrameCount(frameCount) {}
    // `frames` more are in the file. Throws CJobCancelled when the feedback asks to cancel.
    void Advance(std::size_t frames) {
        m_nWritten += frames;
        m_feedback.ReportProgress(m_nWritten, m_nFrameCount);
        if (m_feedback.CancelRequested()) {
            throw CJobCancelled{};
        }
    }

private:
    CGenerationFeedback& m_feedback;
    std::uint64_t m_nFrameCount;
    std::uint64_t m_nWritten = 0;
};

// Frames between two progress reports on the per-frame path: as many as in a rendering round, or
// fewer for a large bank, so that a cancel is seen within some million sines.
std::uint32_t FramesPerReport(const CJobSources& sources) {
    const std::size_t oscillators = sources.m_bank.m_aSines.size() + 5;
    return static_cast<std::uint32_t>(
        std::clamp<std::size_t>((std::size_t{1} << 20) / oscillators, 1, 65536));
}

// The per-frame reference: every frame handed to the file as its own 4-byte write.
double WriteFramesPerFrame(CJobSources& sources, std::uint32_t frameCount, platform::COutputFile& file,
                           CProgress& progress) {
    double peak = 0.0;
    unsigned char frame[kBytesPerFrame];
    const std::uint32_t every = FramesPerReport(sources);
    std::uint32_t unreported = 0;
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const CFrameValues values = NextFrameValues(sources);
        if (std::fabs(values.m_dLeft) > peak) {
            peak = std::fabs(values.m_dLeft);
        }
        PackFrame(LeftSample(values.m_dLeft), RightSample(values.m_dRight), frame);
        file.Write(frame, sizeof frame);
        if (++unreported == every || i + 1 == frameCount) {
            progress.Advance(unreported);
            unreported = 0;
        }
    }
    return peak;
}

// Hands the engine's rounds to the file, and reports each.
class CFileSink : public render::CFrameSink {
public:
    CFileSink(platform::COutputFile& file, CProgress& progress) : m_file(file), m_progress(progress) {}
    void Consume(const unsigned char* bytes, std::size_t frameCount) override {
        m_file.Write(bytes, frameCount * kBytesPerFrame);
        m_progress.Advance(frameCount);
    }

private:
    platform::COutputFile& m_file;
    CProgress& m_progress;
};

// A FIFO's wait for its reader, as the feedback sees it.
class CReaderWait : public platform::COpenWait {
public:
    explicit CReaderWait(CGenerationFeedback& feedback) : m_feedback(feedback) {}
    void Waiting(const std::string& path) override { m_feedback.ReportWaiting(path); }
    bool KeepWaiting() override { return !m_feedback.CancelRequested(); }

private:
    CGenerationFeedback& m_feedback;
};

} // namespace

std::string ClippingWarning(double peak) {
    return "Warning! Clipped samples detected, Max = " + platform::FormatFixed6(peak) + " (clipped to 32767)";
}

bool GenerateTestFile(const CGenerationSettings& settings, CGenerationFeedback& feedback,
                      const render::CRenderOptions& options, CJobOutcome* outcome) {
    if (options.m_ePath == render::ERenderPath::Block && options.m_pTestHooks == nullptr) {
        // An unknown or unsupported kernel is a caller's error: report it before anything starts.
        render::SelectKernel(options.m_strKernel);
    }
    CJobOutcome result;
    const auto end = [&](CJobOutcome::EEnd how) {
        result.m_eEnd = how;
        if (outcome != nullptr) {
            *outcome = result;
        }
        return how == CJobOutcome::EEnd::Written;
    };
    CWaitScope wait(feedback);
    const CJobPlan plan = MakeJobPlan(settings);
    if (plan.m_strRefusal) {
        wait.End();
        feedback.ShowMessage(*plan.m_strRefusal, MB_ICONEXCLAMATION);
        return end(CJobOutcome::EEnd::Refused);
    }
    const std::uint32_t frameCount = plan.m_nFrames;
    result.m_nFrames = frameCount;
    result.m_nBytes = plan.m_nBytes;
    CJobSources sources;
    PrepareSources(settings, sources);

    platform::COutputFile file;
    CReaderWait readerWait(feedback);
    const bool opened = file.Open(settings.m_strFileName, &readerWait);
    result.m_bStream = file.Mode() == platform::COutputFile::EMode::Stream;
    if (!opened) {
        if (file.Cancelled()) {
            return end(CJobOutcome::EEnd::Cancelled); // the wait ends as the scope does
        }
        wait.End();
        feedback.ShowDetailedMessage("File open failed!", MB_OK,
                                     settings.m_strFileName + ": " + file.OpenError());
        return end(CJobOutcome::EEnd::OpenFailed);
    }
    double peak = 0.0;
    try {
        const CWavHeader header = MakeWavHeader(settings.m_nSampleRate, frameCount);
        file.Write(header.m_aRiff.data(), header.m_aRiff.size());
        file.Write(header.m_aFormat.data(), header.m_aFormat.size());
        file.Write(header.m_aData.data(), header.m_aData.size());
        CProgress progress(feedback, frameCount);
        if (feedback.CancelRequested()) {
            throw CJobCancelled{};
        }
        if (options.m_ePath == render::ERenderPath::PerFrame) {
            peak = WriteFramesPerFrame(sources, frameCount, file, progress);
        } else {
            CFileSink sink(file, progress);
            const render::CSources view{sources.m_bank, sources.m_aDaughters, sources.m_reference};
            peak = render::RenderFrames(view, frameCount, sink, options);
        }
        file.Commit();
    } catch (const platform::CFileException& error) {
        result.m_nBytesSent = file.BytesWritten();
        file.Discard();
        if (result.m_bStream && error.Error() == EPIPE) {
            return end(CJobOutcome::EEnd::ReaderGone);
        }
        wait.End();
        feedback.ShowMessage(std::string("File write failed! ") + error.what(), MB_ICONEXCLAMATION);
        return end(CJobOutcome::EEnd::WriteFailed);
    } catch (const CJobCancelled&) {
        result.m_nBytesSent = file.BytesWritten();
        file.Discard();
        return end(CJobOutcome::EEnd::Cancelled); // the wait ends as the scope does
    }
    wait.End();
    result.m_nBytesSent = result.m_nBytes;
    result.m_dPeak = peak;
    end(CJobOutcome::EEnd::Written);
    if (peak > 32767.0) {
        feedback.ShowMessage(ClippingWarning(peak), MB_ICONEXCLAMATION);
    }
    return true;
}

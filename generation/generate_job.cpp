#include "generation/generate_job.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <vector>

#include "generation/flac_writer.h"
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
    CProgress(CGenerationFeedback& feedback, std::uint64_t frameCount)
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

// Where the frames go: after the WAV or RF64 header, the file's bytes as they are; or the FLAC
// encoder.
class CFrameWriter {
public:
    CFrameWriter(platform::COutputFile& file, const CJobPlan& plan) : m_file(file) {
        if (plan.m_eContainer == EContainer::Flac) {
            m_pFlac = std::make_unique<CFlacWriter>(file, plan.m_eFormat, plan.m_nSampleRate, plan.m_nFrames);
        } else {
            const auto header =
                MakeFileHeader(plan.m_eFormat, plan.m_eContainer, plan.m_nSampleRate, plan.m_nFrames);
            file.Write(header.data(), header.size());
        }
    }
    void Write(const unsigned char* bytes, std::size_t frames, std::size_t frameBytes) {
        m_pFlac ? m_pFlac->Write(bytes, frames) : m_file.Write(bytes, frames * frameBytes);
    }
    void Finish() {
        if (m_pFlac) {
            m_pFlac->Finish();
        }
    }

private:
    platform::COutputFile& m_file;
    std::unique_ptr<CFlacWriter> m_pFlac;
};

// The per-frame reference: every frame by the per-frame definition of its format
// (sample_format.h), handed to the file as its own write (to the FLAC encoder in rounds).
double WriteFramesPerFrame(CJobSources& sources, const CJobPlan& plan, CFrameWriter& writer,
                           CProgress& progress) {
    double peak = 0.0;
    const ESampleFormat format = plan.m_eFormat;
    const double fullScale = FullScale(format);
    const std::size_t frameBytes = BytesPerFrame(format);
    const bool flac = plan.m_eContainer == EContainer::Flac;
    std::vector<unsigned char> frames(frameBytes * (flac ? 65536 : 1));
    std::size_t held = 0;
    const std::uint32_t every = FramesPerReport(sources);
    std::uint32_t unreported = 0;
    for (std::uint64_t i = 0; i < plan.m_nFrames; ++i) {
        const CFrameValues values = NextFrameValues(sources, fullScale);
        const double gain = FadeGain(i, plan.m_nFrames, plan.m_nFadeInFrames, plan.m_nFadeOutFrames);
        const bool faded = i < plan.m_nFadeInFrames || plan.m_nFrames - 1 - i < plan.m_nFadeOutFrames;
        const double left = faded ? values.m_dLeft * gain : values.m_dLeft;
        const double right = faded ? values.m_dRight * gain : values.m_dRight;
        peak = std::max(peak, PackFrame(format, left, right, frames.data() + held * frameBytes));
        if (++held * frameBytes == frames.size() || i + 1 == plan.m_nFrames) {
            writer.Write(frames.data(), held, frameBytes);
            held = 0;
        }
        if (++unreported == every || i + 1 == plan.m_nFrames) {
            progress.Advance(unreported);
            unreported = 0;
        }
    }
    return peak;
}

// Hands the engine's rounds to the writer, and reports each.
class CFileSink : public render::CFrameSink {
public:
    CFileSink(CFrameWriter& writer, std::size_t frameBytes, CProgress& progress)
        : m_writer(writer), m_nFrameBytes(frameBytes), m_progress(progress) {}
    void Consume(const unsigned char* bytes, std::size_t frameCount) override {
        m_writer.Write(bytes, frameCount, m_nFrameBytes);
        m_progress.Advance(frameCount);
    }

private:
    CFrameWriter& m_writer;
    std::size_t m_nFrameBytes;
    CProgress& m_progress;
};

// "5292044 bytes (5.3 MB)".
std::string BytesText(std::uint64_t bytes) {
    return std::to_string(bytes) + " bytes (" +
           platform::FormatDecimals(static_cast<double>(bytes) / 1e6, 1) + " MB)";
}

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

std::string ClippingWarning(double peak, ESampleFormat format) {
    if (format == ESampleFormat::F32) {
        return "Warning! Samples beyond full scale, Max = " + PeakText(peak, 0, format) +
               ": the file keeps them, and players will clip them";
    }
    return "Warning! Clipped samples detected, Max = " + platform::FormatFixed6(peak) + " (clipped to " +
           platform::FormatGeneral15(FullScale(format)) + ")";
}

render::CFrameFormat FrameFormatOf(const CJobPlan& plan) {
    return {plan.m_eFormat, plan.m_nFadeInFrames, plan.m_nFadeOutFrames};
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
    result.m_nFrames = plan.m_nFrames;
    result.m_nBytes = plan.m_nBytes.value_or(0);
    CJobSources sources;
    PrepareSources(settings, sources);

    platform::COutputFile file;
    CReaderWait readerWait(feedback);
    const bool opened = file.Open(settings.m_strFileName, &readerWait);
    result.m_bStream = file.Mode() == platform::COutputFile::EMode::Stream;
    const bool replacing = file.Replacing(); // what a failed write leaves, said in its message
    if (!opened) {
        if (file.Cancelled()) {
            return end(CJobOutcome::EEnd::Cancelled); // the wait ends as the scope does
        }
        result.m_nError = file.OpenErrorNumber();
        wait.End();
        feedback.ShowDetailedMessage("File open failed!", MB_OK,
                                     settings.m_strFileName + ": " + file.OpenError());
        return end(CJobOutcome::EEnd::OpenFailed);
    }
    // A file that cannot fit is refused before anything is rendered (FLAC's size is not known).
    const std::optional<std::uint64_t> free = file.FreeBytes();
    if (plan.m_nBytes && free && *free < *plan.m_nBytes) {
        file.Discard();
        result.m_nError = ENOSPC;
        wait.End();
        feedback.ShowMessage("Not enough free space for " + settings.m_strFileName + ": the file needs " +
                                 BytesText(*plan.m_nBytes) + ", and " + BytesText(*free) + " are free there.",
                             MB_ICONEXCLAMATION);
        return end(CJobOutcome::EEnd::Refused);
    }
    double peak = 0.0;
    try {
        CFrameWriter writer(file, plan);
        CProgress progress(feedback, plan.m_nFrames);
        if (feedback.CancelRequested()) {
            throw CJobCancelled{};
        }
        if (options.m_ePath == render::ERenderPath::PerFrame) {
            peak = WriteFramesPerFrame(sources, plan, writer, progress);
        } else {
            CFileSink sink(writer, BytesPerFrame(plan.m_eFormat), progress);
            const render::CSources view{sources.m_bank, sources.m_aDaughters, sources.m_reference};
            // The FLAC encoder, on a thread of its own, takes several times as long as rendering:
            // one rendering thread keeps ahead of it, and helpers would only spin beside it.
            render::CRenderOptions rendering = options;
            if (plan.m_eContainer == EContainer::Flac && rendering.m_nThreads == 0) {
                rendering.m_nThreads = 1;
            }
            peak = render::RenderFrames(view, plan.m_nFrames, sink, rendering, FrameFormatOf(plan));
        }
        writer.Finish();
        result.m_nBytes = file.Position(); // a FLAC file's size is known now
        file.Commit();
    } catch (const platform::CFileException& error) {
        result.m_nBytesSent = file.BytesWritten();
        file.Discard();
        if (result.m_bStream && error.Error() == EPIPE) {
            return end(CJobOutcome::EEnd::ReaderGone);
        }
        result.m_nError = error.Error();
        wait.End();
        // The reason, then what became of the target (a copy over it that failed says so itself).
        const std::string what = result.m_bStream || file.TargetChanged() ? std::string()
                                 : replacing ? " (" + settings.m_strFileName + " is unchanged)"
                                             : " (nothing was left at " + settings.m_strFileName + ")";
        feedback.ShowMessage(std::string("File write failed! ") + error.what() + what, MB_ICONEXCLAMATION);
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
    if (PeakClips(plan.m_eFormat, peak)) {
        feedback.ShowMessage(ClippingWarning(peak, plan.m_eFormat), MB_ICONEXCLAMATION);
    }
    return true;
}

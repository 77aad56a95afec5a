#pragma once

#include <cstdint>

#include "generation/feedback.h"
#include "generation/job_plan.h"
#include "generation/render/render_options.h"
#include "generation/render/render_plan.h"
#include "generation/settings.h"

// Runs one generation: writes the stereo file that `settings` describe (16-bit WAV by default; its
// format, container and fades as the plan has them) to
// settings.m_strFileName, as platform::COutputFile does: a regular file (or a new name) is replaced
// only once it is complete, and until then, and after any failure or cancel, it is left as it was;
// anything else is written as a stream. Every outcome reaches the user through `feedback`:
// BeginWait first, ReportWaiting while a FIFO has no reader, progress reports while the frames are
// written (each followed by CancelRequested), EndWait once on every path, then at most one message:
//  - settings it cannot render (a harmonic bank without bound, float samples in FLAC), or a file that
//    the free space where it is written cannot hold: an MB_ICONEXCLAMATION message, nothing written;
//  - "File open failed!" (MB_OK) when the file cannot be created, with "PATH: REASON" as detail;
//  - "File write failed! <reason>" (MB_ICONEXCLAMATION) when a write fails;
//  - the clipping warning (MB_ICONEXCLAMATION) when the left channel exceeded 32767.
// A cancel shows no message, and neither does a stream whose reader stopped reading (as the
// standard tools in a pipeline end quietly): `outcome` tells them apart.
// Other failures (out of memory, in any of the rendering threads) leave as exceptions, after
// EndWait. `options` choose how the frames are computed, never what they are; a kernel that is
// unknown or that this CPU cannot run throws std::invalid_argument before BeginWait.
// Returns true when the whole file was written (a clipping warning included), false otherwise;
// `outcome`, when given, says how the job ended and what was written.
struct CJobOutcome {
    enum class EEnd {
        Written,     // the whole file (a clipping warning included)
        Refused,     // settings it cannot render
        OpenFailed,  // "File open failed!"
        WriteFailed, // "File write failed! ..."
        ReaderGone,  // a stream's reader stopped reading: no message
        Cancelled,   // the feedback asked (also while waiting for a reader): no message
    };
    EEnd m_eEnd = EEnd::Refused;
    std::uint64_t m_nFrames = 0;    // frames of the file
    double m_dPeak = 0.0;           // the left channel's peak before clipping (when written)
    std::uint64_t m_nBytes = 0;     // bytes the file would hold
    std::uint64_t m_nBytesSent = 0; // bytes that reached the file or stream
    bool m_bStream = false;         // written as a stream (standard output, a pipe, a FIFO, a device)
    int m_nError = 0; // the system's error number of an open or write failure (ENOSPC for no room)
};
bool GenerateTestFile(const CGenerationSettings& settings, CGenerationFeedback& feedback,
                      const render::CRenderOptions& options = {}, CJobOutcome* outcome = nullptr);

// The text of the clipping warning for a left-channel peak of `peak` (as the job takes it for
// `format`): "Warning! Clipped samples detected, Max =  32768 (clipped to 32767)", with 8388607 for
// 24-bit; for float, that samples lie beyond full scale and stay so.
std::string ClippingWarning(double peak, ESampleFormat format = ESampleFormat::S16);

// The engine's frame format for `plan`: its sample format and its fades.
render::CFrameFormat FrameFormatOf(const CJobPlan& plan);

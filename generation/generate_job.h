#pragma once

#include "generation/feedback.h"
#include "generation/settings.h"

// How the frames are computed. Every choice gives the same bytes; the choice only changes speed.
enum class ERenderPath {
    Block,    // vectorized sines over blocks of frames, on all hardware threads
    PerFrame, // one frame at a time with the standard library's sine: the plain reference
};

struct CRenderOptions {
    ERenderPath m_ePath = ERenderPath::Block;
    unsigned m_nThreads = 0;          // 0: one per hardware thread
    const char* m_szKernel = nullptr; // nullptr: the fastest this CPU runs; else a kernel name
};

// Runs one generation: writes the stereo 16-bit WAV file that `settings` describe to
// settings.m_strFileName, creating or truncating it. Every outcome reaches the user through
// `feedback`: BeginWait first, EndWait once on every path, then at most one message:
//  - settings it cannot render (a file over the 4 GiB WAV limit, a harmonic bank without bound):
//    an MB_ICONEXCLAMATION message, the file is not opened;
//  - "File open failed!" (MB_OK) when the file cannot be created;
//  - "File write failed! <reason>" (MB_ICONEXCLAMATION) when a write fails; the partial file stays;
//  - the clipping warning (MB_ICONEXCLAMATION) when the left channel exceeded 32767.
// Other failures (out of memory) leave as exceptions, after EndWait.
// Returns true when the whole file was written (a clipping warning included), false otherwise.
bool GenerateTestFile(const CGenerationSettings& settings, CGenerationFeedback& feedback);
bool GenerateTestFile(const CGenerationSettings& settings, CGenerationFeedback& feedback,
                      const CRenderOptions& options);

// The text of the clipping warning for a left-channel peak (before clipping) of `peak`.
std::string ClippingWarning(double peak);

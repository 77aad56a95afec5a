#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "generation/render/sine_kernels.h"
#include "generation/signal_sources.h"

namespace render {

// The sources of one job, set up and at the phases rendering starts from.
struct CSources {
    const CMotherSignal& m_bank;
    std::span<const CDaughterSignal> m_aDaughters;
    const CReferenceTone& m_reference;
};

// Multiplies the error bounds into the margins (see block_renderer.h, step 4).
inline constexpr double kSafetyFactor = 4.0;
// A harmonic whose resonator error bound (step 2) is above this takes the vector sine instead.
inline constexpr double kMaxResonatorError = 1e-10;

// Step 2's bound on |resonator value / amplitude - library sine| over a lane, for a harmonic of
// `amplitude` (1 for the reference tone) stepped by `increment` with phases in [0, TWO_PI] and
// seeds within `seedError` of sin and cos; also the resonator's c and sin theta. The bound is
// infinite where the resonator degenerates (c = +-2) and not finite for a non-finite amplitude.
struct CResonatorBound {
    double m_dResonance = 0.0;
    double m_dResonanceSin = 0.0;
    double m_dError = 0.0;
};
CResonatorBound ResonatorBound(double increment, double seedError, double amplitude);

// What the frames become: the sample format, and the fades' lengths in frames (0: none) with where
// the frames rendered lie in the file they belong to (its frame count, 0 for the frames rendered;
// the first one's index), which places the fades.
struct CFrameFormat {
    ESampleFormat m_eFormat = ESampleFormat::S16;
    std::uint64_t m_nFadeInFrames = 0;
    std::uint64_t m_nFadeOutFrames = 0;
    std::uint64_t m_nFileFrames = 0;
    std::uint64_t m_nFirstFrame = 0;
    bool Fades() const { return m_nFadeInFrames > 0 || m_nFadeOutFrames > 0; }
};

// The oscillators of one job in kernel order, with the error bounds and margins of the proof in
// block_renderer.h for one kernel.
struct CRenderPlan {
    std::vector<double> m_aIncrements;  // per oscillator, then zero padding to a multiple of 8
    std::vector<double> m_aAmplitudes;  // per harmonic
    std::vector<double> m_aLevels;      // per daughter that is rendered
    std::vector<double> m_aStartPhases; // per oscillator, the sources' phases
    std::vector<double> m_aThresholds;  // per oscillator (and padding): WrapThreshold of its increment
    std::vector<double>
        m_aResonance; // per harmonic, then the reference: c = fl(2 cos increment), NaN for none
    std::vector<double> m_aResonanceSin; // the same: sin(acos(c / 2)), for the seeds
    std::size_t m_nResonators = 0;       // harmonics and reference that a resonator renders
    std::size_t m_nHarmonics = 0;
    std::size_t m_nDaughters = 0; // daughters rendered; a silent one is left out (step 1)
    double m_dLeftBound = 0.0;    // B_L: largest |left the kernel computes - left of the reference|
    double m_dRightBound = 0.0;   // B_R: likewise for right
    double m_dLeftMargin = 0.0;   // kSafetyFactor x B_L; infinite when B_L is not finite
    double m_dRightMargin = 0.0;  // kSafetyFactor x B_R
    CFrameFormat m_format;

    // A kernel call on these oscillators: lanes starting at `phases` (oscillator-major), `frames`
    // frames each, in the plan's format, writing to `out`. The finishing fields (valid frames,
    // margins, gains) are left at 0.
    CLaneBlock Block(const double* phases, std::size_t frames, CLaneOutputs& out) const;
};

// The plan for `frameCount` frames of `sources` with `kernel`'s sine, in `format`. Allocates; never
// throws anything but std::bad_alloc.
CRenderPlan MakeRenderPlan(const CSources& sources, std::uint64_t frameCount, const CSineKernel& kernel,
                           const CFrameFormat& format = {});

} // namespace render

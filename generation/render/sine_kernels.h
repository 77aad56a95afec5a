#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "generation/sample_format.h"

// The kernels: one call renders a block of frames on several lanes with one instruction set's
// vector sine, and rounds, packs and flags them (see block_renderer.h for why this is exact).
namespace render {

// Frames each lane of a kernel renders per call. 128 keeps a call's scratch (3 x 128 x 8 lanes x
// 8 bytes = 24 KiB) inside the first-level cache.
inline constexpr std::size_t kLaneFrames = 128;

// One call of a kernel: `width` lanes, each lane a run of m_nFrames consecutive frames starting at
// its own phases. Oscillators are ordered: the bank's harmonics [0, H) ascending, the reference tone
// at H, then per active daughter its carrier and its modulator.
struct CLaneBlock {
    const double* m_pIncrements = nullptr; // per oscillator, radians per frame
    const double* m_pAmplitudes = nullptr; // per harmonic, A / n
    const double* m_pLevels = nullptr;     // per active daughter
    // Per harmonic, then the reference tone: the resonator's c = fl(2 cos increment), or NaN where
    // the sines come from the vector sine; and sin(theta), theta = acos(c / 2), for seeding it.
    // Null: no resonator.
    const double* m_pResonance = nullptr;
    const double* m_pResonanceSin = nullptr;
    std::size_t m_nHarmonics = 0;           // H
    std::size_t m_nDaughters = 0;           // active daughters, 0 to 2
    const double* m_pStartPhases = nullptr; // oscillator-major: [oscillator x width + lane]
    std::size_t m_nFrames = 0;              // 1 to kLaneFrames
    double m_dScale = 32767.0;              // the format's full scale S (sample_format.h)
    // Per frame and lane, the fade's gain (frame-major, as the outputs); null: 1 throughout.
    const double* m_pGains = nullptr;
    double* m_pLeft = nullptr;  // out, frame-major: [frame x width + lane], faded
    double* m_pRight = nullptr; // out, same layout
    // Finishing. Frames of the block that lie in the file: lane-major, the first m_nValidFrames
    // of lane 0's frames, then lane 1's, and so on (the last block of a file may be short).
    ESampleFormat m_eFormat = ESampleFormat::S16;
    std::size_t m_nValidFrames = 0;
    double m_dLeftMargin = 0.0;                // a left within this of an edge needs the exact value
    double m_dRightMargin = 0.0;               // likewise for right
    unsigned char* m_pBytes = nullptr;         // out, frame-major: each frame's samples as in the file
    unsigned char* m_pEdgeLanes = nullptr;     // out, per frame: bit `lane` set when that frame (in
                                               // the file) is near an edge or not finite
    unsigned char* m_pLeftEdgeLanes = nullptr; // out, likewise for its left value alone
    double* m_pPeaks = nullptr; // out, per lane: largest peak (PackFrame's) of its other frames
};

// The output buffers of one kernel call on `width` lanes of kLaneFrames frames.
struct CLaneOutputs {
    explicit CLaneOutputs(std::size_t width);
    // Points the block's outputs at these buffers.
    void AttachTo(CLaneBlock& block);

    std::vector<double> m_aLeft, m_aRight;       // kLaneFrames x width each
    std::vector<unsigned char> m_aBytes;         // kLaneFrames x width x the widest format's frame
    std::vector<unsigned char> m_aEdgeLanes;     // kLaneFrames
    std::vector<unsigned char> m_aLeftEdgeLanes; // kLaneFrames
    std::vector<double> m_aPeaks;                // width
};

// Bound on |vector sine - sin| for the SIMD kernels where their sine is trusted: the wrapped
// polynomial is within 2e-15 of sin on [0, TWO_PI] (wrapped_sine.h); SLEEF's 3.5-ulp sine is
// within 3.9e-16 for |x| <= kTrustedPhase.
inline constexpr double kVectorSineError = 2e-15;
// Largest |phase| for which SLEEF documents its error bound; beyond it a sine may be any value in
// [-1, 1], and the renderer's margin counts it so.
inline constexpr double kTrustedPhase = 1e14;

struct CSineKernel {
    const char* m_szName; // one of KernelNames(), or a test's own
    std::size_t m_nWidth; // lanes, doubles per vector
    bool m_bExact;        // uses the standard library's sine, so its values are the reference's
    double m_dSineError;  // bound on |its sine - sin| for |phase| <= kTrustedPhase (0 when exact)
    bool m_bResonator;    // can render harmonics by the resonator (block_renderer.h, step 2)
    // Left and right channel values before rounding, by the per-frame arithmetic of the job with
    // this kernel's sine: mother x S + daughters x S, and (reference x S) x 0.9, each times the
    // gain; and from them the samples of the block's format, the frames near one of its edges,
    // and the peaks.
    void (*m_pRender)(const CLaneBlock& block);
    // Steps `count` phases `steps` times each by the oscillator rule (add, one wrap above TWO_PI),
    // deciding each wrap by the phase's WrapThreshold (`thresholds`, one per phase). `count` must be
    // a multiple of 8, so it is one of every kernel's width.
    void (*m_pAdvance)(double* phases, const double* increments, const double* thresholds, std::size_t count,
                       std::size_t steps);
    // The sines and cosines of `count` phases in [0, TWO_PI] as the kernel computes them for
    // oscillators that stay wrapped and to seed resonators: within 2e-15 of sin and cos. `count`
    // must be a multiple of 8.
    void (*m_pWrappedSinCos)(const double* phases, double* sines, double* cosines, std::size_t count);
};

// The largest double P with fl(P + increment) <= TWO_PI (found by bisection over the doubles),
// so that a phase wraps after the add exactly when it is above P before it: fl(p + increment) is
// monotone in p. -infinity for an increment of +infinity (every phase but -infinity and NaN
// wraps), +infinity for -infinity and NaN (none does). The step rule with it gives the same
// phases, bit for bit, for every phase and increment.
double WrapThreshold(double increment);

// Every kernel's name, fastest first: "avx512", "avx2", "sse2", "scalar".
const std::vector<std::string>& KernelNames();

// The kernels this CPU can run, fastest first; "scalar" is always last.
std::vector<const CSineKernel*> AvailableKernels();

// The kernel named `name`, or the fastest available for an empty name. Throws
// std::invalid_argument naming the kernel when it is unknown or this CPU cannot run it.
const CSineKernel& SelectKernel(const std::string& name);

// The exact kernel: one lane with the standard library's sine, the per-frame arithmetic block by
// block. Runs on every CPU.
const CSineKernel& ExactKernel();

} // namespace render

#include "generation/render/block_renderer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <immintrin.h>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "generation/render/cpu_placement.h"
#include "generation/sample_format.h"

namespace render {

// The kernels' samples are copied as the file's little-endian bytes.
static_assert(std::endian::native == std::endian::little);

namespace {

// A lane with more frames whose left is flagged than this is computed again whole, in one pass of
// the exact kernel; one with fewer, frame by frame, its phases stepped once from frame to frame.
constexpr std::size_t kWholeLaneRecompute = kLaneFrames / 8;

// The work of one round: super-blocks of `width` lanes x kLaneFrames frames, their lanes' start
// phases, and the output bytes. Threads claim super-blocks from m_nClaims, which holds the count
// of super-blocks open to claims (high 32 bits, 0 while the round is prepared) and the next one
// to take (low 32 bits): one atomic, so that a thread arriving late at a round that was finished
// and prepared anew can never take a super-block whose phases are not yet there.
struct CRound {
    std::size_t m_nFirstFrame = 0;
    std::size_t m_nFrames = 0;
    std::size_t m_nSuperBlocks = 0;
    std::vector<double> m_aSnapshots;    // [super-block][oscillator][lane]
    std::vector<unsigned char> m_aBytes; // the frames as in the file
    std::atomic<std::uint64_t> m_nClaims{0};
    std::atomic<std::size_t> m_nDone{0}; // super-blocks rendered (or abandoned by an exception)
    // The phase stepping, in slices of oscillators, claimed like the super-blocks.
    std::size_t m_nSlices = 0;
    std::atomic<std::uint64_t> m_nSliceClaims{0};
    std::atomic<std::size_t> m_nSlicesDone{0};

    // Opens the prepared round to claims.
    void Open() { m_nClaims.store(std::uint64_t{m_nSuperBlocks} << 32, std::memory_order_release); }
};

// Oscillators in one slice of the phase stepping: eight vectors of the widest kernel, enough to
// keep a core busy; a bank of many harmonics is stepped by all threads at once.
constexpr std::size_t kSliceOscillators = 64;

// How long a waiting thread spins before it sleeps: longer than a round's hand-over, because
// waking a sleeping thread can take milliseconds on a virtual machine (cpu_placement.h).
constexpr int kSpins = 200000;
// A spinning thread yields its CPU this often, so that it never holds up the thread it waits for
// when the two share a CPU (a spin without yielding can take a whole 4 ms time slice from it).
constexpr int kSpinsPerYield = 64;

// Waits until `ready()`, spinning first (yielding now and then), then sleeping on `value`.
template <class T, class Ready> void WaitFor(const std::atomic<T>& value, Ready ready) {
    for (int spin = 1; spin <= kSpins; ++spin) {
        if (ready()) {
            return;
        }
        if (spin % kSpinsPerYield == 0) {
            std::this_thread::yield();
        } else {
            _mm_pause();
        }
    }
    while (!ready()) {
        value.wait(value.load(std::memory_order_acquire), std::memory_order_acquire);
    }
}

// One worker's buffers, allocated once: the kernel's outputs and the exact recompute's, and the
// fades' gains for a super-block and for one lane of it.
struct CWorkerScratch {
    CWorkerScratch(std::size_t width, std::size_t oscillators)
        : m_out(width), m_exact(1), m_aPhases(oscillators), m_aGains(kLaneFrames * width),
          m_aLaneGains(kLaneFrames) {}
    CLaneOutputs m_out;
    CLaneOutputs m_exact;
    std::vector<double> m_aPhases;
    std::vector<double> m_aGains;     // frame-major, as the kernel's outputs
    std::vector<double> m_aLaneGains; // one lane's, frame by frame
};

class CBlockRenderer {
public:
    CBlockRenderer(const CRenderPlan& plan, const CSineKernel& kernel, std::uint64_t frameCount)
        : m_plan(plan), m_kernel(kernel), m_nFrameCount(frameCount), m_nWidth(kernel.m_nWidth),
          m_nOscillators(plan.m_aIncrements.size()), m_nFrameBytes(BytesPerFrame(plan.m_format.m_eFormat)),
          m_aPhases(plan.m_aStartPhases) {
        // Snapshots take width x oscillators doubles per super-block; keep them near 4 MiB.
        const std::size_t perSuperBlock = m_nWidth * m_nOscillators * sizeof(double);
        m_nSuperBlocksPerRound = std::clamp<std::size_t>((std::size_t{4} << 20) / perSuperBlock, 1, 64);
    }

    std::size_t Width() const { return m_nWidth; }
    std::size_t Oscillators() const { return m_nOscillators; }

    // Sizes `round` for the frames from `firstFrame` on, closes it to claims, and opens the slices
    // of its phase stepping to StepSlices.
    void Size(CRound& round, std::size_t firstFrame) {
        const std::size_t superFrames = m_nWidth * kLaneFrames;
        round.m_nFirstFrame = firstFrame;
        round.m_nFrames =
            std::min<std::size_t>(m_nSuperBlocksPerRound * superFrames, m_nFrameCount - firstFrame);
        round.m_nSuperBlocks = (round.m_nFrames + superFrames - 1) / superFrames;
        round.m_nClaims.store(0, std::memory_order_relaxed); // closed until Open
        round.m_nDone.store(0, std::memory_order_relaxed);
        round.m_nSliceClaims.store(0, std::memory_order_relaxed);
        round.m_nSlicesDone.store(0, std::memory_order_relaxed);
        round.m_aSnapshots.resize(round.m_nSuperBlocks * m_nOscillators * m_nWidth);
        round.m_aBytes.resize(round.m_nFrames * m_nFrameBytes);
        round.m_nSlices = (m_nOscillators + kSliceOscillators - 1) / kSliceOscillators;
        round.m_nSliceClaims.store(std::uint64_t{round.m_nSlices} << 32, std::memory_order_release);
    }

    // Steps slices of `round`'s oscillators (they are independent) until none is left to claim:
    // each fills its oscillators' start phases for every lane of the round, stepped serially.
    void StepSlices(CRound& round) {
        for (;;) {
            const std::uint64_t claim = round.m_nSliceClaims.fetch_add(1, std::memory_order_acq_rel);
            const std::size_t slice = claim & 0xFFFFFFFF;
            const std::size_t slices = claim >> 32;
            if (slice >= slices) {
                return;
            }
            const std::size_t first = slice * kSliceOscillators;
            const std::size_t last = std::min(first + kSliceOscillators, m_nOscillators);
            const std::size_t lanes = round.m_nSuperBlocks * m_nWidth;
            for (std::size_t lane = 0; lane < lanes; ++lane) {
                double* snapshot =
                    &round.m_aSnapshots[(lane / m_nWidth) * m_nOscillators * m_nWidth + lane % m_nWidth];
                for (std::size_t o = first; o < last; ++o) {
                    snapshot[o * m_nWidth] = m_aPhases[o];
                }
                // The lanes past the last frame are never used, and nothing follows the last lane.
                const std::size_t laneStart = lane * kLaneFrames;
                if (laneStart < round.m_nFrames) {
                    m_kernel.m_pAdvance(m_aPhases.data() + first, m_plan.m_aIncrements.data() + first,
                                        m_plan.m_aThresholds.data() + first, last - first,
                                        std::min(kLaneFrames, round.m_nFrames - laneStart));
                }
            }
            if (round.m_nSlicesDone.fetch_add(1, std::memory_order_acq_rel) + 1 == slices) {
                round.m_nSlicesDone.notify_all();
            }
        }
    }

    // Renders super-blocks of `round` until none is left to claim; returns this worker's peak.
    // Each super-block taken counts as done when it is rendered, or when an exception leaves it.
    double Work(CRound& round, CWorkerScratch& scratch) const {
        double peak = 0.0;
        for (;;) {
            const std::uint64_t claim = round.m_nClaims.fetch_add(1, std::memory_order_acq_rel);
            const std::size_t superBlock = claim & 0xFFFFFFFF;
            if (superBlock >= (claim >> 32)) {
                return peak;
            }
            // Counts the super-block done on every way out. The count is read before: once the
            // last one is counted, the calling thread may prepare the round anew.
            struct CDone {
                CRound& m_round;
                std::size_t m_nCount;
                ~CDone() {
                    if (m_round.m_nDone.fetch_add(1, std::memory_order_acq_rel) + 1 == m_nCount) {
                        m_round.m_nDone.notify_all();
                    }
                }
            } done{round, round.m_nSuperBlocks};
            peak = std::max(peak, RenderSuperBlock(round, superBlock, scratch));
        }
    }

private:
    double RenderSuperBlock(CRound& round, std::size_t superBlock, CWorkerScratch& scratch) const {
        double peak = 0.0;
        const std::size_t values = kLaneFrames * m_nWidth;
        CLaneOutputs& out = scratch.m_out;
        {
            const double* snapshot = &round.m_aSnapshots[superBlock * m_nOscillators * m_nWidth];
            const std::size_t first = superBlock * values; // the super-block's first frame in the round
            CLaneBlock block = m_plan.Block(snapshot, kLaneFrames, out);
            block.m_nValidFrames = std::min(values, round.m_nFrames - first);
            block.m_dLeftMargin = m_kernel.m_bExact ? -1.0 : m_plan.m_dLeftMargin;
            block.m_dRightMargin = m_kernel.m_bExact ? -1.0 : m_plan.m_dRightMargin;
            block.m_pGains = Gains(round.m_nFirstFrame + first, scratch.m_aGains);
            m_kernel.m_pRender(block);

            unsigned char* bytes = &round.m_aBytes[first * m_nFrameBytes];
            // The lanes that have a flagged frame: in most super-blocks none.
            unsigned flaggedLanes = 0;
            for (const unsigned char lanes : out.m_aEdgeLanes) {
                flaggedLanes |= lanes;
            }
            for (std::size_t lane = 0; lane < m_nWidth; ++lane) {
                peak = std::max(peak, out.m_aPeaks[lane]);
                const std::size_t laneFirst = lane * kLaneFrames;
                const std::size_t valid = block.m_nValidFrames;
                const std::size_t frames = laneFirst < valid ? std::min(kLaneFrames, valid - laneFirst) : 0;
                // The lane's frames are a column of the kernel's frame-major output.
                unsigned char* laneBytes = bytes + laneFirst * m_nFrameBytes;
                const unsigned char* samples = out.m_aBytes.data() + lane * m_nFrameBytes;
                CopyColumn(laneBytes, samples, frames);
                if ((flaggedLanes >> lane) & 1u) {
                    peak = std::max(peak, FinishFlaggedFrames(snapshot, lane, frames, laneBytes,
                                                              block.m_pGains, scratch));
                }
            }
        }
        return peak;
    }

    // The fades' gains for the lanes of a super-block whose first frame is `firstFrame` of those
    // rendered, frame-major into `gains`; null when no frame of it lies in a fade (every gain is 1).
    const double* Gains(std::uint64_t firstFrame, std::vector<double>& gains) const {
        const CFrameFormat& format = m_plan.m_format;
        if (!format.Fades()) {
            return nullptr;
        }
        const std::uint64_t file = format.m_nFileFrames != 0 ? format.m_nFileFrames : m_nFrameCount;
        const std::uint64_t first = format.m_nFirstFrame + firstFrame; // in the file
        const std::uint64_t last = first + kLaneFrames * m_nWidth;     // one past the super-block
        const bool inFadeIn = first < format.m_nFadeInFrames;
        const bool inFadeOut =
            format.m_nFadeOutFrames > 0 && last > file - std::min(file, format.m_nFadeOutFrames);
        if (!inFadeIn && !inFadeOut) {
            return nullptr;
        }
        for (std::size_t lane = 0; lane < m_nWidth; ++lane) {
            for (std::size_t k = 0; k < kLaneFrames; ++k) {
                const std::uint64_t frame = first + lane * kLaneFrames + k;
                gains[k * m_nWidth + lane] =
                    frame < file ? FadeGain(frame, file, format.m_nFadeInFrames, format.m_nFadeOutFrames)
                                 : 1.0;
            }
        }
        return gains.data();
    }

    // Copies `frames` frames of one lane from the kernel's frame-major output (a frame every
    // m_nWidth frames) to consecutive frames; each frame size gets its own fixed-size copy, which
    // the compiler turns into a load and a store instead of a call.
    void CopyColumn(unsigned char* to, const unsigned char* from, std::size_t frames) const {
        const auto copy = [&](auto frameBytes) {
            constexpr std::size_t bytes = decltype(frameBytes)::value;
            for (std::size_t k = 0; k < frames; ++k) {
                std::memcpy(to + k * bytes, from + k * m_nWidth * bytes, bytes);
            }
        };
        switch (m_nFrameBytes) {
        case 4:
            return copy(std::integral_constant<std::size_t, 4>());
        case 6:
            return copy(std::integral_constant<std::size_t, 6>());
        case 8:
            return copy(std::integral_constant<std::size_t, 8>());
        default:
            for (std::size_t k = 0; k < frames; ++k) {
                std::memcpy(to + k * m_nFrameBytes, from + k * m_nWidth * m_nFrameBytes, m_nFrameBytes);
            }
        }
    }

    bool Flagged(const CLaneOutputs& out, std::size_t lane, std::size_t k) const {
        return (out.m_aEdgeLanes[k] >> lane) & 1u;
    }
    bool LeftFlagged(const CLaneOutputs& out, std::size_t lane, std::size_t k) const {
        return (out.m_aLeftEdgeLanes[k] >> lane) & 1u;
    }

    // The samples of the flagged frames among the first `frames` of `lane`, from exact values
    // (step 4 of the proof), with the super-block's `gains` (null: none); returns the largest peak
    // among them. Where only the right value is flagged, only the reference tone is computed
    // again: the left value is unflagged, so the kernel's rounds as the exact one does (step 5).
    double FinishFlaggedFrames(const double* snapshot, std::size_t lane, std::size_t frames,
                               unsigned char* laneBytes, const double* gains, CWorkerScratch& scratch) const {
        const CLaneOutputs& out = scratch.m_out;
        const ESampleFormat format = m_plan.m_format.m_eFormat;
        std::size_t flagged = 0, leftFlagged = 0;
        for (std::size_t k = 0; k < frames; ++k) {
            flagged += Flagged(out, lane, k);
            leftFlagged += LeftFlagged(out, lane, k);
        }
        if (flagged == 0) {
            return 0.0;
        }
        double peak = 0.0;
        const auto finish = [&](std::size_t k, double left, double right) {
            peak = std::max(peak, PackFrame(format, left, right, laneBytes + k * m_nFrameBytes));
        };
        if (m_kernel.m_bExact) { // the values are exact already; only their rounding is left
            for (std::size_t k = 0; k < frames; ++k) {
                if (Flagged(out, lane, k)) {
                    finish(k, out.m_aLeft[k * m_nWidth + lane], out.m_aRight[k * m_nWidth + lane]);
                }
            }
            return peak;
        }
        double* phases = scratch.m_aPhases.data();
        for (std::size_t o = 0; o < m_nOscillators; ++o) {
            phases[o] = snapshot[o * m_nWidth + lane];
        }
        // The lane's own gains, frame by frame, for the one-lane exact kernel.
        double* laneGains = nullptr;
        if (gains != nullptr) {
            laneGains = scratch.m_aLaneGains.data();
            for (std::size_t k = 0; k < frames; ++k) {
                laneGains[k] = gains[k * m_nWidth + lane];
            }
        }
        const CSineKernel& exact = ExactKernel();
        CLaneOutputs& exactOut = scratch.m_exact;
        if (leftFlagged > kWholeLaneRecompute) {
            CLaneBlock block = m_plan.Block(phases, frames, exactOut);
            block.m_nValidFrames = frames;
            block.m_dLeftMargin = block.m_dRightMargin = -1.0;
            block.m_pGains = laneGains;
            exact.m_pRender(block);
            for (std::size_t k = 0; k < frames; ++k) {
                if (Flagged(out, lane, k)) {
                    finish(k, exactOut.m_aLeft[k], exactOut.m_aRight[k]);
                }
            }
            return peak;
        }
        std::size_t at = 0; // the frame `phases` belong to
        for (std::size_t k = 0; k < frames; ++k) {
            if (!Flagged(out, lane, k)) {
                continue;
            }
            // The running kernel steps the phases in vectors, by the same operation as the exact one.
            m_kernel.m_pAdvance(phases, m_plan.m_aIncrements.data(), m_plan.m_aThresholds.data(),
                                m_nOscillators, k - at);
            at = k;
            CLaneBlock block = m_plan.Block(phases, 1, exactOut);
            block.m_nValidFrames = 1;
            block.m_dLeftMargin = block.m_dRightMargin = -1.0;
            block.m_pGains = laneGains != nullptr ? laneGains + k : nullptr;
            const bool rightOnly = !LeftFlagged(out, lane, k);
            if (rightOnly) { // the reference tone alone: oscillator H becomes the block's only one
                block.m_pIncrements += block.m_nHarmonics;
                block.m_pStartPhases += block.m_nHarmonics;
                block.m_pResonance = block.m_pResonanceSin = nullptr;
                block.m_nHarmonics = block.m_nDaughters = 0;
            }
            exact.m_pRender(block);
            finish(k, rightOnly ? out.m_aLeft[k * m_nWidth + lane] : exactOut.m_aLeft[0],
                   exactOut.m_aRight[0]);
        }
        return peak;
    }

    const CRenderPlan& m_plan;
    const CSineKernel& m_kernel;
    std::uint64_t m_nFrameCount;
    std::size_t m_nWidth;
    std::size_t m_nOscillators;
    std::size_t m_nFrameBytes;
    std::size_t m_nSuperBlocksPerRound = 1;
    std::vector<double> m_aPhases; // every oscillator's phase at the start of the next round
};

// The helper threads of one rendering. The calling thread publishes each round as soon as it is
// prepared; helpers claim its super-blocks beside the calling thread, and wait (spinning, then
// sleeping) for the next one. Nobody waits for a helper to arrive: one that starts late, or not
// at all, leaves its share to the others. A helper that fails leaves its exception for the
// calling thread, which rethrows it once the round is done.
class CHelpers {
public:
    CHelpers(CBlockRenderer& renderer, unsigned threads, const CCpuPlacement& placement,
             const CTestHooks& hooks)
        : m_renderer(renderer), m_placement(placement), m_aPeaks(threads, 0.0) {
        m_aThreads.reserve(threads - 1);
        for (unsigned t = 1; t < threads; ++t) {
            try {
                if (t > hooks.m_nHelpersThatStart) {
                    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                }
                m_aThreads.emplace_back([this, t, &hooks] { Run(t, hooks); });
                m_placement.Place(m_aThreads.back().native_handle(), t);
                m_nPlaced.store(t, std::memory_order_release);
                m_nPlaced.notify_all(); // a helper that spun too long sleeps until placed
            } catch (...) { // std::system_error (EAGAIN), or std::bad_alloc for the thread's state
                break;      // go on with the threads that started
            }
        }
    }

    // Stops the helpers once they have finished what they claimed, and joins them (on every way
    // out, an exception's included).
    ~CHelpers() { Stop(); }

    // Stops and joins the helpers; returns the largest peak any thread saw.
    double Stop() {
        m_bFinished.store(true, std::memory_order_release);
        m_nGeneration.fetch_add(1, std::memory_order_acq_rel);
        m_nGeneration.notify_all();
        m_aThreads.clear();
        return *std::max_element(m_aPeaks.begin(), m_aPeaks.end());
    }

    // Opens the prepared `round` to the helpers.
    void Publish(CRound& round) {
        round.Open();
        m_pRound.store(&round, std::memory_order_release);
        m_nGeneration.fetch_add(1, std::memory_order_acq_rel);
        m_nGeneration.notify_all();
    }

    // Opens the phase stepping of `round` (sized) to the helpers, then steps with them until every
    // slice is done.
    void Prepare(CRound& round) {
        m_pPreparing.store(&round, std::memory_order_release);
        m_nGeneration.fetch_add(1, std::memory_order_acq_rel);
        m_nGeneration.notify_all();
        m_renderer.StepSlices(round);
        WaitFor(round.m_nSlicesDone,
                [&] { return round.m_nSlicesDone.load(std::memory_order_acquire) == round.m_nSlices; });
    }

    // Waits until every super-block of `round` is done; rethrows the first exception a helper met.
    void Finish(CRound& round) {
        WaitFor(round.m_nDone,
                [&] { return round.m_nDone.load(std::memory_order_acquire) == round.m_nSuperBlocks; });
        ThrowIfFailed();
    }

    // Rethrows the first exception a helper met, if any.
    void ThrowIfFailed() {
        const std::lock_guard lock(m_errorMutex);
        if (m_error) {
            std::rethrow_exception(m_error);
        }
    }

    double& Peak(unsigned thread) { return m_aPeaks[thread]; }

private:
    void Run(unsigned t, const CTestHooks& hooks) {
        WaitFor(m_nPlaced, [&] { return m_nPlaced.load(std::memory_order_acquire) >= t; });
        m_placement.Release();
        std::optional<CWorkerScratch> scratch;
        std::uint64_t seen = 0;
        if (hooks.m_bHelperThrows && t == 1) { // an injected failure, before any round
            Fail(std::make_exception_ptr(std::bad_alloc()));
        }
        for (;;) {
            WaitFor(m_nGeneration, [&] { return m_nGeneration.load(std::memory_order_acquire) != seen; });
            seen = m_nGeneration.load(std::memory_order_acquire);
            if (m_bFinished.load(std::memory_order_acquire)) {
                return;
            }
            try {
                if (!scratch) {
                    scratch.emplace(m_renderer.Width(), m_renderer.Oscillators());
                }
                if (CRound* round = m_pRound.load(std::memory_order_acquire)) {
                    m_aPeaks[t] = std::max(m_aPeaks[t], m_renderer.Work(*round, *scratch));
                }
                if (CRound* preparing = m_pPreparing.load(std::memory_order_acquire)) {
                    m_renderer.StepSlices(*preparing);
                }
            } catch (...) {
                Fail(std::current_exception());
            }
        }
    }

    void Fail(std::exception_ptr error) {
        const std::lock_guard lock(m_errorMutex);
        if (!m_error) {
            m_error = std::move(error);
        }
    }

    CBlockRenderer& m_renderer;
    const CCpuPlacement& m_placement;
    std::atomic<unsigned> m_nPlaced{0}; // helpers placed so far: each waits for its placement
    std::vector<double> m_aPeaks;       // per thread; [0] is the calling thread's, read after the joins
    std::atomic<CRound*> m_pRound{nullptr};
    std::atomic<CRound*> m_pPreparing{nullptr};
    std::atomic<std::uint64_t> m_nGeneration{0}; // counts publications, and the end
    std::atomic<bool> m_bFinished{false};
    std::mutex m_errorMutex;
    std::exception_ptr m_error;
    std::vector<std::jthread> m_aThreads; // last: joined before the rest is destroyed
};

} // namespace

double RenderFrames(const CSources& sources, std::uint64_t frameCount, CFrameSink& sink,
                    const CRenderOptions& options, const CFrameFormat& format) {
    const CTestHooks noHooks;
    const CTestHooks& hooks = options.m_pTestHooks != nullptr ? *options.m_pTestHooks : noHooks;
    const CSineKernel* kernel =
        hooks.m_pKernel != nullptr ? hooks.m_pKernel : &SelectKernel(options.m_strKernel);
    if (frameCount == 0) {
        return 0.0;
    }
    CRenderPlan plan = MakeRenderPlan(sources, frameCount, *kernel, format);
    plan.m_dLeftMargin *= hooks.m_dMarginFactor;
    plan.m_dRightMargin *= hooks.m_dMarginFactor;
    // A margin of a half or more flags every frame of an integer format, one that is not finite
    // every frame of any (huge or NaN amplitudes, sines of unknown error): the exact kernel then
    // renders at once instead of twice.
    const double wide = format.m_eFormat == ESampleFormat::F32 ? 1e300 : 0.5;
    if (!kernel->m_bExact && !(plan.m_dLeftMargin < wide && plan.m_dRightMargin < wide)) {
        kernel = &ExactKernel();
    }
    CBlockRenderer renderer(plan, *kernel, frameCount);

    const CCpuPlacement placement;
    unsigned threads = options.m_nThreads != 0        ? options.m_nThreads
                       : placement.AllowedCpus() != 0 ? placement.AllowedCpus()
                                                      : std::thread::hardware_concurrency();
    threads = std::clamp(threads, 1u, 64u);
    // A short file is not worth waking a second thread for.
    if (frameCount < 4 * kLaneFrames * kernel->m_nWidth) {
        threads = 1;
    }

    // Rounds alternate between two buffers. Round r is published as soon as it is prepared; while
    // the helpers render it, the calling thread hands round r - 1 to the sink and prepares round
    // r + 1 (the serial phase stepping), then joins in.
    std::array<CRound, 2> rounds;
    CWorkerScratch scratch(renderer.Width(), renderer.Oscillators());
    CHelpers helpers(renderer, threads, placement, hooks);
    renderer.Size(rounds[0], 0);
    helpers.Prepare(rounds[0]);
    helpers.Publish(rounds[0]);
    for (std::size_t r = 0;; ++r) {
        CRound& round = rounds[r % 2];
        CRound& other = rounds[(r + 1) % 2];
        if (r > 0) {
            sink.Consume(other.m_aBytes.data(), other.m_nFrames);
        }
        const std::size_t next = round.m_nFirstFrame + round.m_nFrames;
        if (next < frameCount) {
            renderer.Size(other, next);
            helpers.Prepare(other);
        }
        helpers.Peak(0) = std::max(helpers.Peak(0), renderer.Work(round, scratch));
        helpers.Finish(round);
        if (next >= frameCount) {
            const double peak = helpers.Stop();
            helpers.ThrowIfFailed();
            sink.Consume(round.m_aBytes.data(), round.m_nFrames);
            return peak;
        }
        helpers.Publish(other);
    }
}

} // namespace render

#include "generation/render/block_renderer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "generation/wav_format.h"

namespace render {

namespace {

// A lane with more flagged frames than this is computed again whole, in one pass of the exact
// kernel; one with fewer, frame by frame, its phases stepped once from frame to frame.
constexpr std::size_t kWholeLaneRecompute = kLaneFrames / 8;

// The work of one round: super-blocks of `width` lanes x kLaneFrames frames, their lanes' start
// phases, and the output bytes.
struct CRound {
    std::size_t m_nFirstFrame = 0;
    std::size_t m_nFrames = 0;
    std::size_t m_nSuperBlocks = 0;
    std::vector<double> m_aSnapshots;    // [super-block][oscillator][lane]
    std::vector<unsigned char> m_aBytes; // 4 bytes per frame
    std::atomic<std::size_t> m_nNext{0}; // next super-block to take
};

// One worker's buffers, allocated once: the kernel's outputs and the exact recompute's.
struct CWorkerScratch {
    CWorkerScratch(std::size_t width, std::size_t oscillators)
        : m_out(width), m_exact(1), m_aPhases(oscillators) {}
    CLaneOutputs m_out;
    CLaneOutputs m_exact;
    std::vector<double> m_aPhases;
};

class CBlockRenderer {
public:
    CBlockRenderer(const CRenderPlan& plan, const CSineKernel& kernel, std::uint32_t frameCount)
        : m_plan(plan), m_kernel(kernel), m_nFrameCount(frameCount), m_nWidth(kernel.m_nWidth),
          m_nOscillators(plan.m_aIncrements.size()), m_aPhases(plan.m_aStartPhases) {
        // Snapshots take width x oscillators doubles per super-block; keep them near 4 MiB.
        const std::size_t perSuperBlock = m_nWidth * m_nOscillators * sizeof(double);
        m_nSuperBlocksPerRound = std::clamp<std::size_t>((std::size_t{4} << 20) / perSuperBlock, 1, 64);
    }

    std::size_t Width() const { return m_nWidth; }
    std::size_t Oscillators() const { return m_nOscillators; }

    // Fills `round` with the next frames: the start phases of every lane, stepped serially.
    void Prepare(CRound& round, std::size_t firstFrame) {
        const std::size_t superFrames = m_nWidth * kLaneFrames;
        round.m_nFirstFrame = firstFrame;
        round.m_nFrames =
            std::min<std::size_t>(m_nSuperBlocksPerRound * superFrames, m_nFrameCount - firstFrame);
        round.m_nSuperBlocks = (round.m_nFrames + superFrames - 1) / superFrames;
        round.m_aSnapshots.resize(round.m_nSuperBlocks * m_nOscillators * m_nWidth);
        round.m_aBytes.resize(round.m_nFrames * kBytesPerFrame);
        round.m_nNext = 0;
        const std::size_t lanes = round.m_nSuperBlocks * m_nWidth;
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            double* snapshot =
                &round.m_aSnapshots[(lane / m_nWidth) * m_nOscillators * m_nWidth + lane % m_nWidth];
            for (std::size_t o = 0; o < m_nOscillators; ++o) {
                snapshot[o * m_nWidth] = m_aPhases[o];
            }
            // The lanes past the last frame are never used, and nothing follows the last lane.
            const std::size_t laneStart = lane * kLaneFrames;
            if (laneStart < round.m_nFrames) {
                m_kernel.m_pAdvance(m_aPhases.data(), m_plan.m_aIncrements.data(),
                                    m_plan.m_aThresholds.data(), m_nOscillators,
                                    std::min(kLaneFrames, round.m_nFrames - laneStart));
            }
        }
    }

    // Renders super-blocks of `round` until none is left; returns this worker's peak.
    double Work(CRound& round, CWorkerScratch& scratch) const {
        double peak = 0.0;
        const std::size_t values = kLaneFrames * m_nWidth;
        CLaneOutputs& out = scratch.m_out;
        for (;;) {
            const std::size_t superBlock = round.m_nNext.fetch_add(1, std::memory_order_relaxed);
            if (superBlock >= round.m_nSuperBlocks) {
                return peak;
            }
            const double* snapshot = &round.m_aSnapshots[superBlock * m_nOscillators * m_nWidth];
            const std::size_t first = superBlock * values; // the super-block's first frame in the round
            CLaneBlock block = m_plan.Block(snapshot, kLaneFrames, out);
            block.m_nValidFrames = std::min(values, round.m_nFrames - first);
            block.m_dLeftMargin = m_kernel.m_bExact ? -1.0 : m_plan.m_dLeftMargin;
            block.m_dRightMargin = m_kernel.m_bExact ? -1.0 : m_plan.m_dRightMargin;
            m_kernel.m_pRender(block);

            // The kernel's packed pairs are the file's little-endian bytes on x86-64.
            static_assert(std::endian::native == std::endian::little);
            unsigned char* bytes = &round.m_aBytes[first * kBytesPerFrame];
            for (std::size_t lane = 0; lane < m_nWidth; ++lane) {
                peak = std::max(peak, out.m_aPeaks[lane]);
                const std::size_t laneFirst = lane * kLaneFrames;
                const std::size_t valid = block.m_nValidFrames;
                const std::size_t frames = laneFirst < valid ? std::min(kLaneFrames, valid - laneFirst) : 0;
                for (std::size_t k = 0; k < frames; ++k) {
                    std::memcpy(bytes + (laneFirst + k) * kBytesPerFrame,
                                &out.m_aSamples[k * m_nWidth + lane], kBytesPerFrame);
                }
                unsigned char* laneBytes = bytes + laneFirst * kBytesPerFrame;
                peak = std::max(peak, FinishFlaggedFrames(snapshot, lane, frames, laneBytes, scratch));
            }
        }
    }

private:
    bool Flagged(const CLaneOutputs& out, std::size_t lane, std::size_t k) const {
        return (out.m_aEdgeLanes[k] >> lane) & 1u;
    }

    // The samples of the flagged frames among the first `frames` of `lane`, from exact values
    // (step 4 of the proof); returns the largest |left| among them.
    double FinishFlaggedFrames(const double* snapshot, std::size_t lane, std::size_t frames,
                               unsigned char* laneBytes, CWorkerScratch& scratch) const {
        const CLaneOutputs& out = scratch.m_out;
        std::size_t flagged = 0;
        for (std::size_t k = 0; k < frames; ++k) {
            flagged += Flagged(out, lane, k);
        }
        if (flagged == 0) {
            return 0.0;
        }
        double peak = 0.0;
        const auto finish = [&](std::size_t k, double left, double right) {
            if (std::fabs(left) > peak) {
                peak = std::fabs(left);
            }
            PackFrame(LeftSample(left), RightSample(right), laneBytes + k * kBytesPerFrame);
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
        const CSineKernel& exact = ExactKernel();
        CLaneOutputs& exactOut = scratch.m_exact;
        if (flagged > kWholeLaneRecompute) {
            CLaneBlock block = m_plan.Block(phases, frames, exactOut);
            block.m_nValidFrames = frames;
            block.m_dLeftMargin = block.m_dRightMargin = -1.0;
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
            exact.m_pAdvance(phases, m_plan.m_aIncrements.data(), m_plan.m_aThresholds.data(), m_nOscillators,
                             k - at);
            at = k;
            CLaneBlock block = m_plan.Block(phases, 1, exactOut);
            block.m_nValidFrames = 1;
            block.m_dLeftMargin = block.m_dRightMargin = -1.0;
            exact.m_pRender(block);
            finish(k, exactOut.m_aLeft[0], exactOut.m_aRight[0]);
        }
        return peak;
    }

    const CRenderPlan& m_plan;
    const CSineKernel& m_kernel;
    std::uint32_t m_nFrameCount;
    std::size_t m_nWidth;
    std::size_t m_nOscillators;
    std::size_t m_nSuperBlocksPerRound = 1;
    std::vector<double> m_aPhases; // every oscillator's phase at the start of the next round
};

// The helper threads of one rendering: they wait at a barrier for each round, render it beside
// the calling thread, and wait again. A helper that fails keeps its place at the barriers (so
// nobody waits for it forever) and leaves its exception for the calling thread.
class CHelpers {
public:
    CHelpers(CBlockRenderer& renderer, unsigned threads, const CTestHooks& hooks)
        : m_renderer(renderer), m_sync(static_cast<std::ptrdiff_t>(threads)), m_aPeaks(threads, 0.0) {
        m_aThreads.reserve(threads - 1);
        for (unsigned t = 1; t < threads; ++t) {
            try {
                if (t > hooks.m_nHelpersThatStart) {
                    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                }
                m_aThreads.emplace_back([this, t, &hooks] { Run(t, hooks); });
            } catch (...) { // std::system_error (EAGAIN), or std::bad_alloc for the thread's state
                // Go on with the threads that started: their barrier expects one arrival fewer
                // for each that did not, from the first round on.
                for (unsigned missing = t; missing < threads; ++missing) {
                    m_sync.arrive_and_drop();
                }
                break;
            }
        }
    }

    // Releases the helpers from whichever barrier the calling thread left at, then joins them.
    ~CHelpers() {
        if (m_aThreads.empty()) {
            return;
        }
        if (m_bInRound) {
            m_sync.arrive_and_wait();
        }
        m_bFinished = true;
        m_sync.arrive_and_wait();
    }

    // Starts `round` on the helpers; the calling thread renders it too, then calls EndRound.
    void BeginRound(CRound& round) {
        m_pRound = &round;
        if (!m_aThreads.empty()) {
            m_sync.arrive_and_wait();
            m_bInRound = true;
        }
    }

    // Waits for the helpers to finish the round; rethrows the first exception a helper met.
    void EndRound() {
        if (!m_aThreads.empty()) {
            m_bInRound = false;
            m_sync.arrive_and_wait();
        }
        if (m_error) {
            std::rethrow_exception(m_error);
        }
    }

    double& Peak(unsigned thread) { return m_aPeaks[thread]; }
    double Peak() const { return *std::max_element(m_aPeaks.begin(), m_aPeaks.end()); }

private:
    void Run(unsigned t, const CTestHooks& hooks) {
        std::optional<CWorkerScratch> scratch;
        for (;;) {
            m_sync.arrive_and_wait(); // a round is ready, or the rendering is finished
            if (m_bFinished) {
                return;
            }
            try {
                if (hooks.m_bHelperThrows && t == 1) {
                    throw std::bad_alloc();
                }
                if (!scratch) {
                    scratch.emplace(m_renderer.Width(), m_renderer.Oscillators());
                }
                m_aPeaks[t] = std::max(m_aPeaks[t], m_renderer.Work(*m_pRound, *scratch));
            } catch (...) {
                const std::lock_guard lock(m_errorMutex);
                if (!m_error) {
                    m_error = std::current_exception();
                }
            }
            m_sync.arrive_and_wait(); // the round is rendered
        }
    }

    CBlockRenderer& m_renderer;
    std::barrier<> m_sync;
    std::vector<double> m_aPeaks; // per thread; [0] is the calling thread's
    CRound* m_pRound = nullptr;
    bool m_bFinished = false;
    bool m_bInRound = false;
    std::mutex m_errorMutex;
    std::exception_ptr m_error; // read by the calling thread only after a barrier
    std::vector<std::jthread> m_aThreads;
};

} // namespace

double RenderFrames(const CSources& sources, std::uint32_t frameCount, CFrameSink& sink,
                    const CRenderOptions& options) {
    const CTestHooks noHooks;
    const CTestHooks& hooks = options.m_pTestHooks != nullptr ? *options.m_pTestHooks : noHooks;
    const CSineKernel* kernel =
        hooks.m_pKernel != nullptr ? hooks.m_pKernel : &SelectKernel(options.m_strKernel);
    if (frameCount == 0) {
        return 0.0;
    }
    CRenderPlan plan = MakeRenderPlan(sources, frameCount, *kernel);
    plan.m_dLeftMargin *= hooks.m_dMarginFactor;
    plan.m_dRightMargin *= hooks.m_dMarginFactor;
    // A margin of a half or more flags every frame (huge or NaN amplitudes, sines of unknown
    // error): the exact kernel then renders at once instead of twice.
    if (!kernel->m_bExact && !(plan.m_dLeftMargin < 0.5 && plan.m_dRightMargin < 0.5)) {
        kernel = &ExactKernel();
    }
    CBlockRenderer renderer(plan, *kernel, frameCount);

    unsigned threads = options.m_nThreads != 0 ? options.m_nThreads : std::thread::hardware_concurrency();
    threads = std::clamp(threads, 1u, 64u);
    // A short file is not worth waking a second thread for.
    if (frameCount < 4 * kLaneFrames * kernel->m_nWidth) {
        threads = 1;
    }

    // Rounds alternate between two buffers: while all threads render round r, the calling thread
    // first hands round r - 1 to the sink and prepares round r + 1 (the serial phase stepping),
    // then joins in.
    std::array<CRound, 2> rounds;
    CWorkerScratch scratch(renderer.Width(), renderer.Oscillators());
    CHelpers helpers(renderer, threads, hooks);
    renderer.Prepare(rounds[0], 0);
    for (std::size_t r = 0;; ++r) {
        CRound& round = rounds[r % 2];
        CRound& other = rounds[(r + 1) % 2];
        helpers.BeginRound(round);
        if (r > 0) {
            sink.Consume(other.m_aBytes.data(), other.m_nFrames);
        }
        const std::size_t next = round.m_nFirstFrame + round.m_nFrames;
        if (next < frameCount) {
            renderer.Prepare(other, next);
        }
        helpers.Peak(0) = std::max(helpers.Peak(0), renderer.Work(round, scratch));
        helpers.EndRound();
        if (next >= frameCount) {
            sink.Consume(round.m_aBytes.data(), round.m_nFrames);
            break;
        }
    }
    return helpers.Peak();
}

} // namespace render

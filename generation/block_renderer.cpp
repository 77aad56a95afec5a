#include "generation/block_renderer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "generation/sine_kernels.h"
#include "generation/wav_format.h"

namespace {

// The oscillators of one job in kernel order, with the error bounds of its vector sine.
struct CPlan {
    std::vector<double> m_aIncrements;
    std::vector<double> m_aAmplitudes;
    std::vector<double> m_aLevels;
    std::vector<double> m_aStartPhases; // the sources' phases when rendering starts
    std::size_t m_nHarmonics = 0;
    std::size_t m_nDaughters = 0;
    double m_dLeftMargin = 0.0;  // |left| values within this of an edge are recomputed exactly
    double m_dRightMargin = 0.0; // likewise for right
};

// A daughter at level 0 whose phases stay finite adds exactly +-0.0 to a sum that starts at +0.0,
// which changes no sum: it can be left out. One whose phases could overflow (and give NaN) cannot.
bool DaughterIsSilent(const CDaughterSignal& daughter, std::uint32_t frameCount) {
    const double bound = 1e300 / (static_cast<double>(frameCount) + 2.0);
    return daughter.m_dAmplitude == 0.0 && std::fabs(daughter.m_carrier.m_dPhaseIncrement) < bound &&
           std::fabs(daughter.m_modulator.m_dPhaseIncrement) < bound &&
           std::fabs(daughter.m_carrier.m_dPhase) < 1e300 && std::fabs(daughter.m_modulator.m_dPhase) < 1e300;
}

CPlan MakePlan(const CJobSources& sources, std::uint32_t frameCount) {
    CPlan plan;
    double magnitude = 0.0; // bound on the sum of |terms| of left, in units of full scale
    for (const CSine& sine : sources.m_bank.m_aSines) {
        plan.m_aIncrements.push_back(sine.m_dPhaseIncrement);
        plan.m_aAmplitudes.push_back(sine.m_dAmplitude);
        plan.m_aStartPhases.push_back(sine.m_dPhase);
        magnitude += std::fabs(sine.m_dAmplitude);
    }
    plan.m_nHarmonics = sources.m_bank.m_aSines.size();
    plan.m_aIncrements.push_back(sources.m_reference.m_dPhaseIncrement);
    plan.m_aStartPhases.push_back(sources.m_reference.m_dPhase);
    for (const CDaughterSignal& daughter : sources.m_aDaughters) {
        if (DaughterIsSilent(daughter, frameCount)) {
            continue;
        }
        plan.m_aIncrements.push_back(daughter.m_carrier.m_dPhaseIncrement);
        plan.m_aIncrements.push_back(daughter.m_modulator.m_dPhaseIncrement);
        plan.m_aStartPhases.push_back(daughter.m_carrier.m_dPhase);
        plan.m_aStartPhases.push_back(daughter.m_modulator.m_dPhase);
        plan.m_aLevels.push_back(daughter.m_dAmplitude);
        magnitude += std::fabs(daughter.m_dAmplitude);
        ++plan.m_nDaughters;
    }
    // A kernel's sine is within 2e-15 of sin for wrapped phases and within 3.5 ulp (SLEEF) for
    // others, the library's within 1 ulp: at most 2.3e-15 apart for |sin| <= 1. Every later
    // multiply and add adds at most one rounding of the running magnitude, about H + 8 of them.
    // 1e-14 per operation is more than four times that bound, and the edges are tested at four
    // margins, so an approximate value that is not recomputed lies on the same side of every edge
    // as the exact one.
    // Padding oscillators (phase 0, increment 0) make the count a multiple of every kernel's
    // width, so the serial phase stepping runs entirely in vectors.
    while (plan.m_aIncrements.size() % 8 != 0) {
        plan.m_aIncrements.push_back(0.0);
        plan.m_aStartPhases.push_back(0.0);
    }
    const double operations = static_cast<double>(plan.m_nHarmonics) + 8.0;
    const double infinity = std::numeric_limits<double>::infinity();
    plan.m_dLeftMargin = 4.0 * 1e-14 * operations * (magnitude + 1.0) * 32767.0;
    plan.m_dRightMargin = 4.0 * 1e-14 * 8.0 * 32767.0;
    if (!(plan.m_dLeftMargin < 1e300)) {
        plan.m_dLeftMargin = infinity; // NaN or infinite amplitudes: every frame is computed exactly
    }
    return plan;
}

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

class CBlockRenderer {
public:
    CBlockRenderer(const CPlan& plan, const CSineKernel& kernel, std::uint32_t frameCount)
        : m_plan(plan), m_kernel(kernel), m_nFrameCount(frameCount), m_nWidth(kernel.m_nWidth),
          m_nOscillators(plan.m_aIncrements.size()) {
        // Snapshots take width x oscillators doubles per super-block; keep them near 4 MiB.
        const std::size_t perSuperBlock = m_nWidth * m_nOscillators * sizeof(double);
        m_nSuperBlocksPerRound = std::clamp<std::size_t>((std::size_t{4} << 20) / perSuperBlock, 1, 64);
        m_aPhases = plan.m_aStartPhases;
    }

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
            if (laneStart + kLaneFrames < round.m_nFrames) {
                m_kernel.m_pAdvance(m_aPhases.data(), m_plan.m_aIncrements.data(), m_nOscillators,
                                    kLaneFrames);
            } else if (laneStart < round.m_nFrames) {
                m_kernel.m_pAdvance(m_aPhases.data(), m_plan.m_aIncrements.data(), m_nOscillators,
                                    round.m_nFrames - laneStart);
            }
        }
    }

    // Renders super-blocks of `round` until none is left; returns this worker's peak.
    double Work(CRound& round) const {
        double peak = 0.0;
        const std::size_t values = kLaneFrames * m_nWidth;
        CLaneOutputs out(m_nWidth);
        for (;;) {
            const std::size_t superBlock = round.m_nNext.fetch_add(1, std::memory_order_relaxed);
            if (superBlock >= round.m_nSuperBlocks) {
                return peak;
            }
            const double* snapshot = &round.m_aSnapshots[superBlock * m_nOscillators * m_nWidth];
            const std::size_t first = superBlock * values; // the super-block's first frame in the round
            CLaneBlock block = MakeBlock(snapshot, kLaneFrames, out);
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
            }
            // Frames near an edge, or not finite, from the standard library's sine.
            for (std::size_t k = 0; k < kLaneFrames; ++k) {
                for (unsigned lanes = out.m_aEdgeLanes[k]; lanes != 0; lanes &= lanes - 1) {
                    const auto lane = static_cast<std::size_t>(std::countr_zero(lanes));
                    double l = 0.0;
                    double r = 0.0;
                    ExactFrame(snapshot, lane, k, l, r);
                    if (std::fabs(l) > peak) {
                        peak = std::fabs(l);
                    }
                    PackFrame(LeftSample(l), RightSample(r),
                              bytes + (lane * kLaneFrames + k) * kBytesPerFrame);
                }
            }
        }
    }

private:
    CLaneBlock MakeBlock(const double* phases, std::size_t frames, CLaneOutputs& out) const {
        CLaneBlock block;
        block.m_pIncrements = m_plan.m_aIncrements.data();
        block.m_pAmplitudes = m_plan.m_aAmplitudes.data();
        block.m_pLevels = m_plan.m_aLevels.data();
        block.m_nHarmonics = m_plan.m_nHarmonics;
        block.m_nDaughters = m_plan.m_nDaughters;
        block.m_pStartPhases = phases;
        block.m_nFrames = frames;
        out.AttachTo(block);
        return block;
    }

    // Frame `k` of lane `lane` with the standard library's sine: the lane's start phases stepped
    // k times by the same rule, then one frame of the scalar kernel.
    void ExactFrame(const double* snapshot, std::size_t lane, std::size_t k, double& left,
                    double& right) const {
        std::vector<double> phases(m_nOscillators);
        for (std::size_t o = 0; o < m_nOscillators; ++o) {
            phases[o] = snapshot[o * m_nWidth + lane];
        }
        m_exactKernel.m_pAdvance(phases.data(), m_plan.m_aIncrements.data(), m_nOscillators, k);
        CLaneOutputs out(1);
        CLaneBlock block = MakeBlock(phases.data(), 1, out);
        block.m_nValidFrames = 1;
        m_exactKernel.m_pRender(block);
        left = out.m_aLeft[0];
        right = out.m_aRight[0];
    }

    const CPlan& m_plan;
    const CSineKernel& m_kernel;
    const CSineKernel& m_exactKernel = SelectKernel("scalar"); // runs on every CPU
    std::uint32_t m_nFrameCount;
    std::size_t m_nWidth;
    std::size_t m_nOscillators;
    std::size_t m_nSuperBlocksPerRound = 1;
    std::vector<double> m_aPhases; // every oscillator's phase at the start of the next round
};

} // namespace

double WriteFramesBlocked(const CJobSources& sources, std::uint32_t frameCount, platform::COutputFile& file,
                          const CRenderOptions& options) {
    if (frameCount == 0) {
        return 0.0;
    }
    const CSineKernel& kernel = SelectKernel(options.m_szKernel ? options.m_szKernel : "");
    const CPlan plan = MakePlan(sources, frameCount);
    CBlockRenderer renderer(plan, kernel, frameCount);

    unsigned threads = options.m_nThreads != 0 ? options.m_nThreads : std::thread::hardware_concurrency();
    threads = std::clamp(threads, 1u, 64u);
    // A short file is not worth waking a second thread for.
    if (frameCount < 4 * kLaneFrames * kernel.m_nWidth) {
        threads = 1;
    }

    // Rounds alternate between two buffers: while all threads render round r, the calling thread
    // first writes round r - 1 and prepares round r + 1 (the serial phase stepping), then joins in.
    std::array<CRound, 2> rounds;
    CRound* current = nullptr;
    std::vector<double> workerPeaks(threads, 0.0);
    bool finished = false;
    std::barrier sync(static_cast<std::ptrdiff_t>(threads));
    std::vector<std::jthread> helpers;
    for (unsigned t = 1; t < threads; ++t) {
        helpers.emplace_back([&, t] {
            for (;;) {
                sync.arrive_and_wait(); // a round is ready, or the job is finished
                if (finished) {
                    return;
                }
                workerPeaks[t] = std::max(workerPeaks[t], renderer.Work(*current));
                sync.arrive_and_wait(); // the round is rendered
            }
        });
    }
    // Releases the helpers on every path out, an exception's included, from whichever of the two
    // barriers the calling thread left at.
    struct CStopHelpers {
        bool& m_bFinished;
        std::barrier<>& m_sync;
        unsigned m_nThreads;
        bool m_bInRound = false;
        ~CStopHelpers() {
            if (m_nThreads > 1) {
                if (m_bInRound) {
                    m_sync.arrive_and_wait();
                }
                m_bFinished = true;
                m_sync.arrive_and_wait();
            }
        }
    } stop{finished, sync, threads};

    renderer.Prepare(rounds[0], 0);
    for (std::size_t r = 0;; ++r) {
        CRound& round = rounds[r % 2];
        CRound& other = rounds[(r + 1) % 2];
        current = &round;
        if (threads > 1) {
            sync.arrive_and_wait();
            stop.m_bInRound = true;
        }
        if (r > 0) {
            file.Write(other.m_aBytes.data(), other.m_aBytes.size());
        }
        const std::size_t next = round.m_nFirstFrame + round.m_nFrames;
        if (next < frameCount) {
            renderer.Prepare(other, next);
        }
        workerPeaks[0] = std::max(workerPeaks[0], renderer.Work(round));
        if (threads > 1) {
            stop.m_bInRound = false;
            sync.arrive_and_wait();
        }
        if (next >= frameCount) {
            file.Write(round.m_aBytes.data(), round.m_aBytes.size());
            break;
        }
    }
    double peak = 0.0;
    for (double workerPeak : workerPeaks) {
        peak = std::max(peak, workerPeak);
    }
    return peak;
}

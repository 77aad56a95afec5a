#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "generation/settings.h"
#include "instrument/measure_live.h"

namespace instrument {

// How a continuous measurement runs: a new analysis every `m_dUpdateS` seconds of recording, of the
// coherent average of the newest `m_nAverage` blocks, `m_nCount` times (0: until stopped).
struct CContinuousOptions {
    double m_dUpdateS = 1.0; // > 0
    unsigned m_nAverage = 1; // 1 .. kMaxAverage
    std::uint64_t m_nCount = 0;
};
inline constexpr unsigned kMaxAverage = 256;

// What a continuous measurement plays and how it cuts the recording, decided before it starts.
struct CContinuousPlan {
    // The stimulus as looped: the settings' with no fades, and a duration of whole common periods.
    CGenerationSettings m_loop;
    // The shortest number of frames in which every stimulus tone and the reference make whole
    // periods (the loop repeats exactly every so many frames); the loop's own length where no
    // shorter one exists.
    std::uint64_t m_nPeriodFrames = 0;
    std::size_t m_nBlockFrames = 0; // a whole number of periods, at least the update's
    double m_dBlockS = 0.0;
    std::vector<std::string> m_aWarnings; // the fades left out, a loop that is not whole periods
};

// The plan for `settings` and `options`. Throws std::invalid_argument for options out of range or
// settings the generator refuses.
CContinuousPlan PlanContinuous(const CGenerationSettings& settings, const CContinuousOptions& options);

// One update: the analysis of the newest block (or of the average of the newest blocks).
struct CContinuousUpdate {
    std::uint64_t m_nUpdate = 0; // from 1
    unsigned m_nAveraged = 0;    // blocks in the average: up to CContinuousOptions::m_nAverage
    double m_dEndS = 0.0;        // the block's end, in seconds of recording after the settling
    double m_dAnalysisS = 0.0;   // how long the analysis of this update took
    CLiveOutcome m_outcome;      // the report, or why this block was not measured; the session's counts
};

// Plays the stimulus in a loop (CContinuousPlan) on the devices and records the answer: after the
// round-trip latency and `options.m_dSkipS` of settling, every block of the plan is averaged with the
// blocks before it (sample by sample: blocks are whole periods apart, so the stimulus adds up
// coherently and uncorrelated noise falls by 10 log10 N dB) and analysed over the whole block with
// `options`' channels; `update` gets each result on this thread and returns false to stop. A block
// that is silent, clips or holds NaNs, or that the analysis refuses, is an update with its problem;
// the measurement goes on (a cable being changed); such a block, and one whose level changes within
// it (a dropout, the report's warning), starts the average afresh. Ends after `continuous.m_nCount` updates,
// when `update` returns false, or when `progress` (may be null) cancels; returns the session's report
// (m_bCancelled for a cancel). Memory is bounded by the average's blocks, whatever the running time.
// Throws audio::CAudioError when a device cannot be found, opened or kept running, and
// std::invalid_argument as PlanContinuous.
audio::CSessionReport MeasureContinuously(const CGenerationSettings& settings, const CLiveDevices& devices,
                                          const analysis::CAnalysisOptions& options,
                                          const CContinuousOptions& continuous, platform::CProgress* progress,
                                          const std::function<bool(const CContinuousUpdate&)>& update);

} // namespace instrument

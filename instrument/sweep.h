#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "instrument/limits.h"
#include "instrument/measure_live.h"
#include "instrument/outcome.h"
#include "instrument/sweep_spec.h"

namespace instrument {

// The D+N figure (dB) a level sweep reports the crossing of when none is given: 1 %.
inline constexpr double kDefaultSweepLimitDb = -40.0;

struct CSweepStep {
    double m_dValue = 0.0;   // dB against the settings' amplitude, or f0 in Hz
    std::string m_strSource; // the recording's path, or "measured live"
    COutcome m_outcome;      // the step's report, or why it has none
};

// A point of the merged response: one tone's gain and phase, from the capture that measured it best.
struct CMergedPoint {
    double m_dFrequencyHz = 0.0;
    double m_dGainDb = 0.0;
    double m_dPhaseDeg = 0.0;
    std::optional<double> m_dGainUncertaintyDb;
    double m_dFromFundamentalHz = 0.0;
};

struct CSweepResult {
    CSweepSpec m_spec;
    std::vector<CSweepStep> m_aSteps;  // in the order measured
    std::string m_strDevices;          // live: "output NAME, input NAME" as found
    std::optional<double> m_dGainAtHz; // the tone whose gain a level sweep plots (the first when absent)
    // Level sweeps: the step with the lowest D+N, and the lowest step at which D+N is above
    // m_dLimitDb (absent when none is, or no step was measured).
    double m_dLimitDb = kDefaultSweepLimitDb;
    std::optional<double> m_dBestLevelDb;
    std::optional<double> m_dLimitLevelDb;
    // Fundamental sweeps: every stimulus tone of every step, ascending in frequency; where two steps
    // measured the same frequency (within 1e-6 of it), the one with the smaller gain uncertainty.
    std::vector<CMergedPoint> m_aMerged;
};

// Computes the level figures or the merged response of `result` from its steps.
void SummariseSweep(CSweepResult& result);

// A step is measured as MeasureLive measures (`live`) or as AnalyseFile analyses a file.
using CStepProgress = std::function<void(std::size_t step, std::size_t steps)>;

// Each step from a folder: the recording whose file name, less its extension, anything up to its
// last '_' and a trailing "dB" or "Hz", reads as the step's value ("step_-40.wav", "amp_-37.5dB.flac",
// "277Hz.wav"; the first in name order where several do). A step without one is EProblem::Unreadable
// ("no recording for the step ..."). `stepping` (may be empty) is
// told before each step. Throws as AnalyseFile, and std::invalid_argument for a folder that cannot be
// listed.
CSweepResult SweepFolder(const CGenerationSettings& settings, const CSweepSpec& spec,
                         const std::string& folder, const analysis::CAnalysisOptions& options,
                         platform::CProgress* progress, bool rateGiven, const CStepProgress& stepping = {});

// Each step measured live, in turn, on the same devices. Throws as MeasureLive.
CSweepResult SweepLive(const CGenerationSettings& settings, const CSweepSpec& spec,
                       const CLiveDevices& devices, const analysis::CAnalysisOptions& options,
                       platform::CProgress* progress, const CStepProgress& stepping = {});

// The figure a level sweep plots for a step's report: "distortion_noise_db", "even_order_db",
// "odd_order_db" or "gain_db" (the gain of the tone nearest `gainAtHz`, or the first).
std::optional<double> SweepFigure(const analysis::CAnalysisReport& report, const std::string& figure,
                                  std::optional<double> gainAtHz);

// Judges the [sweep] bounds of `limits` against every measured step whose value lies in the bound's
// range: one judgement per bound, at its worst step (a step not measured in range fails).
CVerdict JudgeSweep(const CSweepResult& result, const CLimits& limits);

// As text for people: a table of the steps (level: D+N, even, odd, gain; fundamental: each step's
// figures, then the merged response) and the best and limit levels.
std::string SweepText(const CSweepResult& result);
// One JSON object: {"sweep": {kind, steps: [each step's report as --json gives it, with step_value
// and source], best_level_db, limit_level_db, limit_db (level), merged_response (fundamental)}} and
// "verdict" when `verdict` is given.
std::string SweepJson(const CSweepResult& result, const CVerdict* verdict);
// One row per step: step_value, distortion_noise_db, even_order_db, odd_order_db, gain_db,
// noise_floor_dbfs, refusal.
std::string SweepCsv(const CSweepResult& result);

} // namespace instrument

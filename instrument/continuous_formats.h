#pragma once

#include <optional>
#include <string>

#include "instrument/limits.h"
#include "instrument/measure_continuous.h"

namespace instrument {

// The tone whose gain a continuous line shows: the one nearest `gainAtHz`, or the first measured one
// when absent; null without tones.
const analysis::CToneResult* ChosenTone(const analysis::CAnalysisReport& report,
                                        std::optional<double> gainAtHz);

// One update as one line for a terminal, without a newline:
//   "#3  f0 277.0001 Hz  gain -0.012 dB at 831 Hz  D+N -95.3 dB  even -120.1 dB  odd -101.2 dB
//    floor -130.4 dBFS  avg 3/4  underruns 0  overruns 0  PASS"
// or, for a block not measured, "#3  not measured: REASON". `verdict` may be null.
std::string ContinuousLine(const CContinuousUpdate& update, unsigned average, std::optional<double> gainAtHz,
                           const CVerdict* verdict);

// One update as one line of JSON (no newline): the report's keys as vorlanx-analyze --json gives them
// (every figure null and "refusal" set for a block not measured), and update, averaged, block_s,
// end_s, analysis_s, underruns, overruns, output_device, input_device, and verdict (null without
// limits).
std::string ContinuousJson(const CContinuousUpdate& update, double blockS, const CVerdict* verdict);

} // namespace instrument

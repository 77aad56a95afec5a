#pragma once

#include <string>

#include "analysis/analysis_report.h"

// The report of an analysis as vorlanx-analyze prints it and the analysis window exports it.
namespace analysis {

// For people: the figures with their units, the tones and detection lines as tables, the warnings.
std::string ReportText(const CAnalysisReport& report);

// One JSON object: recording, format, channels, left_channel, reference_channel, sample_rate,
// skip_s, frames_analyzed, segment_frames, nominal_fundamental_hz, fundamental_hz,
// clock_offset_ppm, delay_ms, polarity, tones [{kind, n, side (daughters), frequency_hz,
// stimulus_dbfs, level_dbfs, gain_db, phase_deg}], detection_lines [{n, order, frequency_hz,
// level_dbfs}], even_order_db, odd_order_db, distortion_noise_db, noise_floor_dbfs, reference
// {level_dbfs, thd_db, thd_n_db} (null without one), warnings, refusal. Figures that were not
// measured (or are -infinity) are null.
std::string ReportJson(const CAnalysisReport& report);

// One row per line: kind (harmonic, daughter, detection), n, side (lower/upper for a daughter,
// even/odd for a detection line), frequency_hz, stimulus_dbfs, level_dbfs, gain_db, phase_deg; empty
// where a line has no such figure.
std::string ReportCsv(const CAnalysisReport& report);

} // namespace analysis

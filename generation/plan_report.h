#pragma once

#include <optional>
#include <string>

#include "generation/job_plan.h"

// `vorlanx-gen --info`: the plan of a job as a short report for people, or as one JSON object.
// `peak` is the whole file's left peak before clipping (nullopt when the job would refuse).

// Lines of "Label: value", then the warnings, one a line.
std::string PlanText(const CJobPlan& plan, std::optional<double> peak);

// One JSON object with the keys frames, bytes (null for FLAC), format (s16, s24, f32), container
// (wav, rf64, flac), fade_in_frames, fade_out_frames, duration_s, sample_rate, band_limit_hz, half_rate_hz,
// harmonics [{n, frequency_hz, amplitude}], daughters [{carrier_hz, level, active, lower_hz,
// upper_hz, side_amplitude}], reference {frequency_hz, amplitude}, peak, peak_dbfs, clips, refusal
// and warnings; numbers that are not finite (and an absent peak) are null.
std::string PlanJson(const CJobPlan& plan, std::optional<double> peak);

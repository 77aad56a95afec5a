#pragma once

#include <optional>
#include <string>
#include <vector>

#include "generation/settings.h"

namespace instrument {

// What a sweep steps: the stimulus's level in dB against the settings' amplitudes (the left's
// mother and daughter amplitudes, scaled alike; the reference stays), or its fundamental in Hz.
enum class ESweepKind { Level, Fundamental };
inline constexpr std::size_t kMaxSweepSteps = 1000;

struct CSweepSpec {
    ESweepKind m_eKind = ESweepKind::Level;
    std::vector<double> m_aValues; // in the order measured
};

const char* SweepKindName(ESweepKind kind); // "level", "fundamental"

// START, START + STEP, ... up to STOP (STOP itself included when the steps reach it within 1e-9 dB;
// a negative STEP goes down). Nullopt with `error` for a STEP of 0 or of the wrong sign, non-finite
// values, or more than kMaxSweepSteps steps.
std::optional<std::vector<double>> LevelSteps(double start, double stop, double step, std::string& error);

// "level=START:STOP:STEP" (dB) or "fundamental=F1,F2,..." (Hz, each above 0, at least two); nullopt
// with `error` (naming what is wrong) otherwise. Numbers use a decimal point.
std::optional<CSweepSpec> ParseSweep(const std::string& text, std::string& error);

// The settings of one step: for a level, the left's amplitudes times 10^(value/20); for a
// fundamental, f0 = value (the carriers as set).
CGenerationSettings StepSettings(const CGenerationSettings& settings, ESweepKind kind, double value);

// The step's value as a file name's stem would give it: "-40", "-37.5", "277" (up to 6 decimals).
std::string StepText(double value);

} // namespace instrument

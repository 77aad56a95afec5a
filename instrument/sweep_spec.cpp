#include "instrument/sweep_spec.h"

#include <algorithm>
#include <cmath>

#include "platform/number_text.h"

namespace instrument {

const char* SweepKindName(ESweepKind kind) {
    return kind == ESweepKind::Level ? "level" : "fundamental";
}

std::optional<std::vector<double>> LevelSteps(double start, double stop, double step, std::string& error) {
    if (!std::isfinite(start) || !std::isfinite(stop) || !std::isfinite(step) || step == 0.0 ||
        (stop - start) * step < 0.0) {
        error = "the level steps need a STEP other than 0 that goes from START towards STOP";
        return std::nullopt;
    }
    const double count = std::floor((stop - start) / step + 1e-9) + 1.0;
    if (count > static_cast<double>(kMaxSweepSteps)) {
        error = "the level steps would be " + platform::FormatGeneral15(count) + ", more than the " +
                std::to_string(kMaxSweepSteps) + " a sweep may take";
        return std::nullopt;
    }
    std::vector<double> values;
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        values.push_back(start + static_cast<double>(i) * step); // by multiplication: no drift
    }
    return values;
}

namespace {

// `text` cut at each `separator`, each part read as a number; nullopt if any part is not one.
std::optional<std::vector<double>> Numbers(const std::string& text, char separator) {
    std::vector<double> values;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        const auto value =
            platform::ParseDouble(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (!value || !std::isfinite(*value)) {
            return std::nullopt;
        }
        values.push_back(*value);
        if (at == std::string::npos) {
            return values;
        }
        from = at + 1;
    }
}

} // namespace

std::optional<CSweepSpec> ParseSweep(const std::string& text, std::string& error) {
    const std::size_t equals = text.find('=');
    const std::string kind = text.substr(0, equals);
    const std::string rest = equals == std::string::npos ? "" : text.substr(equals + 1);
    CSweepSpec spec;
    if (kind == "level") {
        const auto parts = Numbers(rest, ':');
        if (!parts || parts->size() != 3) {
            error = "expects level=START:STOP:STEP in dB, such as level=-40:0:2, not '" + text + "'";
            return std::nullopt;
        }
        const auto values = LevelSteps((*parts)[0], (*parts)[1], (*parts)[2], error);
        if (!values) {
            return std::nullopt;
        }
        spec.m_aValues = *values;
        return spec;
    }
    if (kind == "fundamental") {
        spec.m_eKind = ESweepKind::Fundamental;
        const auto values = Numbers(rest, ',');
        if (!values || std::any_of(values->begin(), values->end(), [](double hz) { return !(hz > 0.0); })) {
            error =
                "expects fundamental=F1,F2,... in Hz above 0, such as fundamental=20,277, not '" + text + "'";
            return std::nullopt;
        }
        if (values->size() < 2 || values->size() > kMaxSweepSteps) {
            error = "a fundamental sweep takes 2 to " + std::to_string(kMaxSweepSteps) + " fundamentals";
            return std::nullopt;
        }
        spec.m_aValues = *values;
        return spec;
    }
    error = "expects level=START:STOP:STEP or fundamental=F1,F2,..., not '" + text + "'";
    return std::nullopt;
}

CGenerationSettings StepSettings(const CGenerationSettings& settings, ESweepKind kind, double value) {
    CGenerationSettings step = settings;
    if (kind == ESweepKind::Level) {
        const double scale = std::pow(10.0, value / 20.0);
        step.m_dMotherAmplitude *= scale;
        step.m_dDaughterAmplitude1 *= scale;
        step.m_dDaughterAmplitude2 *= scale;
    } else {
        step.m_dFundamentalFreq = value;
    }
    return step;
}

std::string StepText(double value) {
    std::string text = platform::FormatDecimals(value, 6);
    while (text.find('.') != std::string::npos && (text.back() == '0' || text.back() == '.')) {
        const bool dot = text.back() == '.';
        text.pop_back();
        if (dot) {
            break;
        }
    }
    return text == "-0" ? "0" : text;
}

} // namespace instrument

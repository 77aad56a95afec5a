// The sweep as text, JSON and CSV (declared in sweep.h).
#include <cmath>
#include <nlohmann/json.hpp>

#include "analysis/report_formats.h"
#include "instrument/sweep.h"
#include "platform/number_text.h"

namespace instrument {

namespace {

const char* const kLevelFigures[] = {"distortion_noise_db", "even_order_db", "odd_order_db", "gain_db"};

std::string Cell(const std::optional<double>& value, int decimals) {
    return value && std::isfinite(*value) ? platform::FormatFigure(*value, decimals) : std::string("-");
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.insert(0, width - text.size(), ' ');
    }
    return text;
}

nlohmann::ordered_json Number(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// What a step's report shows of a step that has none: its problem as the refusal.
analysis::CAnalysisReport StepReport(const CSweepStep& step) {
    if (step.m_outcome.m_report) {
        return *step.m_outcome.m_report;
    }
    if (step.m_outcome.m_refused) {
        return *step.m_outcome.m_refused;
    }
    analysis::CAnalysisReport empty;
    empty.m_strRecording = step.m_strSource;
    empty.m_strRefusal = step.m_outcome.Message();
    return empty;
}

} // namespace

std::string SweepText(const CSweepResult& result) {
    const bool level = result.m_spec.m_eKind == ESweepKind::Level;
    std::string text = std::string("Sweep of the ") +
                       (level ? "level (dB against the settings' amplitude)" : "fundamental (Hz)") + ": " +
                       std::to_string(result.m_aSteps.size()) + " steps\n\n";
    text += Padded(level ? "level dB" : "f0 Hz", 10) + Padded("D+N dB", 10) + Padded("even dB", 10) +
            Padded("odd dB", 10) + Padded("gain dB", 10) + Padded("floor dBFS", 12) + "\n";
    for (const CSweepStep& step : result.m_aSteps) {
        text += Padded(StepText(step.m_dValue), 10);
        if (!step.m_outcome.m_report) {
            text += "  not measured: " + step.m_outcome.Message() + "\n";
            continue;
        }
        const analysis::CAnalysisReport& report = *step.m_outcome.m_report;
        for (const char* figure : kLevelFigures) {
            text +=
                Padded(Cell(SweepFigure(report, figure, result.m_dGainAtHz), figure[0] == 'g' ? 3 : 1), 10);
        }
        text += Padded(Cell(report.m_dNoiseFloorDbfs, 1), 12) + "\n";
    }
    if (level) {
        text +=
            "\nLowest D+N at: " +
            (result.m_dBestLevelDb ? StepText(*result.m_dBestLevelDb) + " dB"
                                   : std::string("no step measured")) +
            "\nD+N first above " + platform::FormatGeneral15(result.m_dLimitDb) + " dB at: " +
            (result.m_dLimitLevelDb ? StepText(*result.m_dLimitLevelDb) + " dB" : std::string("no step")) +
            "\n";
    } else {
        text += "\nMerged response (" + std::to_string(result.m_aMerged.size()) +
                " tones, each from the capture "
                "with the smaller uncertainty):\n" +
                Padded("Hz", 12) + Padded("gain dB", 10) + Padded("phase deg", 11) +
                Padded("from f0 Hz", 12) + "\n";
        for (const CMergedPoint& point : result.m_aMerged) {
            text += Padded(platform::FormatDecimals(point.m_dFrequencyHz, 1), 12) +
                    Padded(platform::FormatFigure(point.m_dGainDb, 3), 10) +
                    Padded(platform::FormatFigure(point.m_dPhaseDeg, 2), 11) +
                    Padded(StepText(point.m_dFromFundamentalHz), 12) + "\n";
        }
    }
    return text;
}

std::string SweepJson(const CSweepResult& result, const CVerdict* verdict) {
    nlohmann::ordered_json sweep;
    sweep["kind"] = SweepKindName(result.m_spec.m_eKind);
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (const CSweepStep& step : result.m_aSteps) {
        nlohmann::ordered_json each;
        each["step_value"] = step.m_dValue;
        each["source"] = step.m_strSource;
        const nlohmann::ordered_json report =
            nlohmann::ordered_json::parse(analysis::ReportJson(StepReport(step)));
        for (const auto& [key, value] : report.items()) {
            each[key] = value;
        }
        steps.push_back(each);
    }
    sweep["steps"] = steps;
    if (result.m_spec.m_eKind == ESweepKind::Level) {
        sweep["limit_db"] = result.m_dLimitDb;
        sweep["best_level_db"] = Number(result.m_dBestLevelDb);
        sweep["limit_level_db"] = Number(result.m_dLimitLevelDb);
    } else {
        nlohmann::ordered_json merged = nlohmann::ordered_json::array();
        for (const CMergedPoint& point : result.m_aMerged) {
            merged.push_back({{"frequency_hz", point.m_dFrequencyHz},
                              {"gain_db", point.m_dGainDb},
                              {"phase_deg", point.m_dPhaseDeg},
                              {"gain_uncertainty_db", Number(point.m_dGainUncertaintyDb)},
                              {"from_fundamental_hz", point.m_dFromFundamentalHz}});
        }
        sweep["merged_response"] = merged;
    }
    nlohmann::ordered_json json;
    json["sweep"] = sweep;
    json["verdict"] =
        verdict ? nlohmann::ordered_json::parse(VerdictJson(*verdict)) : nlohmann::ordered_json(nullptr);
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string SweepCsv(const CSweepResult& result) {
    std::string csv =
        "step_value,distortion_noise_db,even_order_db,odd_order_db,gain_db,noise_floor_dbfs,refusal\n";
    const auto number = [](const std::optional<double>& value) {
        return value && std::isfinite(*value) ? platform::FormatGeneral15(*value) : std::string();
    };
    for (const CSweepStep& step : result.m_aSteps) {
        csv += platform::FormatGeneral15(step.m_dValue);
        const analysis::CAnalysisReport* report =
            step.m_outcome.m_report ? &*step.m_outcome.m_report : nullptr;
        for (const char* figure : kLevelFigures) {
            csv += ',';
            csv += report ? number(SweepFigure(*report, figure, result.m_dGainAtHz)) : std::string();
        }
        csv += ',';
        csv += report ? number(report->m_dNoiseFloorDbfs) : std::string();
        csv += ',';
        if (!report) { // the reason, quoted as CSV quotes a field
            csv += '"';
            for (const char c : step.m_outcome.Message()) {
                csv.append(c == '"' ? 2 : 1, c);
            }
            csv += '"';
        }
        csv += '\n';
    }
    return csv;
}

} // namespace instrument

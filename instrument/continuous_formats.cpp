#include "instrument/continuous_formats.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "analysis/report_formats.h"
#include "platform/number_text.h"

namespace instrument {

namespace {

std::string Figure(const std::optional<double>& value, int decimals) {
    return value && std::isfinite(*value) ? platform::FormatFigure(*value, decimals) : std::string("-");
}

// The report an update's JSON is made from: the analysis's, the refused one, or an empty one that
// carries the recording's problem as its refusal.
analysis::CAnalysisReport ReportOf(const CLiveOutcome& outcome) {
    if (outcome.m_report) {
        return *outcome.m_report;
    }
    if (outcome.m_refused) {
        return *outcome.m_refused;
    }
    analysis::CAnalysisReport empty;
    empty.m_strRecording = "measured live";
    empty.m_strRefusal = outcome.m_strReason;
    return empty;
}

} // namespace

const analysis::CToneResult* ChosenTone(const analysis::CAnalysisReport& report,
                                        std::optional<double> gainAtHz) {
    const analysis::CToneResult* chosen = nullptr;
    for (const analysis::CToneResult& tone : report.m_aTones) {
        if (!gainAtHz) {
            return &tone;
        }
        if (chosen == nullptr ||
            std::fabs(tone.m_dFrequencyHz - *gainAtHz) < std::fabs(chosen->m_dFrequencyHz - *gainAtHz)) {
            chosen = &tone;
        }
    }
    return chosen;
}

std::string ContinuousLine(const CContinuousUpdate& update, unsigned average, std::optional<double> gainAtHz,
                           const CVerdict* verdict) {
    std::string line = "#" + std::to_string(update.m_nUpdate);
    const CLiveOutcome& outcome = update.m_outcome;
    if (!outcome.m_report) {
        return line + "  not measured: " + outcome.Message();
    }
    const analysis::CAnalysisReport& report = *outcome.m_report;
    line += "  f0 " + Figure(report.m_dFundamentalHz, 4) + " Hz";
    if (const analysis::CToneResult* tone = ChosenTone(report, gainAtHz)) {
        line += "  gain " + platform::FormatFigure(tone->m_dGainDb, 3) + " dB at " +
                platform::FormatDecimals(tone->m_dFrequencyHz, 1) + " Hz";
    }
    line += "  D+N " + Figure(report.m_dDistortionNoiseDb, 1) + " dB";
    line += "  even " + Figure(report.m_dEvenOrderDb, 1) + " dB";
    line += "  odd " + Figure(report.m_dOddOrderDb, 1) + " dB";
    line += "  floor " + Figure(report.m_dNoiseFloorDbfs, 1) + " dBFS";
    if (average > 1) {
        line += "  avg " + std::to_string(update.m_nAveraged) + "/" + std::to_string(average);
    }
    line += "  underruns " + std::to_string(outcome.m_session.m_nUnderruns);
    line += "  overruns " + std::to_string(outcome.m_session.m_nOverruns);
    if (verdict != nullptr) {
        line += verdict->m_bPass ? "  PASS" : "  FAIL";
    }
    return line;
}

std::string ContinuousJson(const CContinuousUpdate& update, double blockS, const CVerdict* verdict) {
    const CLiveOutcome& outcome = update.m_outcome;
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(analysis::ReportJson(ReportOf(outcome)));
    json["update"] = update.m_nUpdate;
    json["averaged"] = update.m_nAveraged;
    json["block_s"] = blockS;
    json["end_s"] = update.m_dEndS;
    json["analysis_s"] = update.m_dAnalysisS;
    json["underruns"] = outcome.m_session.m_nUnderruns;
    json["overruns"] = outcome.m_session.m_nOverruns;
    json["output_device"] = outcome.m_strOutputName;
    json["input_device"] = outcome.m_strInputName;
    json["verdict"] = verdict != nullptr ? nlohmann::ordered_json::parse(VerdictJson(*verdict))
                                         : nlohmann::ordered_json(nullptr);
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace instrument

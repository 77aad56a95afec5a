#include "analysis/report_formats.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/number_text.h"

namespace analysis {

namespace {

using platform::FormatDecimals;

// A number, or null where JSON has none (not measured, -infinity for silence).
nlohmann::json Number(double value) {
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

nlohmann::json Number(const std::optional<double>& value) {
    return value ? Number(*value) : nlohmann::json(nullptr);
}

// Fixed decimals with a sign for gains and phases; "-inf" and "n/a" where there is no number.
std::string Fixed(double value, int decimals, bool sign = false) {
    return platform::FormatFigure(value, decimals, sign);
}

std::string Fixed(const std::optional<double>& value, int decimals, bool sign = false) {
    return value ? Fixed(*value, decimals, sign) : "n/a";
}

std::string Padded(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string ToneName(const CToneResult& tone) {
    if (tone.m_eKind == EToneKind::Harmonic) {
        return std::to_string(tone.m_nNumber);
    }
    std::string name = "d"; // appended: GCC 12 warns falsely on "d" + std::string&&
    name += std::to_string(tone.m_nNumber);
    return name + (tone.m_eSide == ESide::Lower ? " fc-f0" : " fc+f0");
}

} // namespace

std::string ReportText(const CAnalysisReport& report) {
    std::string text;
    const auto line = [&](const std::string& label, const std::string& value) {
        text += label + ":" + std::string(label.size() < 19 ? 19 - label.size() : 1, ' ') + value + "\n";
    };
    line("Recording", report.m_strRecording);
    line("Format", report.m_strFormat + ", " + std::to_string(report.m_nChannels) +
                       (report.m_nChannels == 1 ? " channel, " : " channels, ") +
                       platform::FormatGeneral15(report.m_dSampleRateHz) + " Hz");
    if (report.m_strRefusal) {
        line("Not analysed", *report.m_strRefusal);
        return text;
    }
    line("Channels",
         "left " + std::to_string(report.m_nLeftChannel) + ", reference " +
             (report.m_nRightChannel > 0 ? std::to_string(report.m_nRightChannel) : std::string("none")));
    if (report.m_nLatencyFrames) {
        line("Latency",
             FormatDecimals(static_cast<double>(*report.m_nLatencyFrames) / report.m_dSampleRateHz * 1000.0,
                            3) +
                 " ms (" + std::to_string(*report.m_nLatencyFrames) +
                 " frames from the first played to the stimulus's start in the recording)");
    }
    line("Stimulus", report.m_dOnsetS
                         ? "starts at " + FormatDecimals(*report.m_dOnsetS, 6) + " s in the recording"
                         : std::string("start not in the recording (or not looked for)"));
    line("Analysed",
         FormatDecimals(static_cast<double>(report.m_nFramesAnalyzed) / report.m_dSampleRateHz, 3) +
             " s from " + FormatDecimals(report.m_dFirstAnalyzedS, 3) + " s, after skipping " +
             platform::FormatGeneral15(report.m_dSkipS) + " s (" + std::to_string(report.m_nFramesAnalyzed) +
             " frames in segments of " + std::to_string(report.m_nSegmentFrames) + ")");
    line("Fundamental",
         report.m_dFundamentalHz
             ? Fixed(report.m_dFundamentalHz, 4) + " Hz (settings " +
                   platform::FormatGeneral15(report.m_dNominalFundamentalHz) + " Hz), clock offset " +
                   Fixed(report.m_dClockOffsetPpm, 2, true) + " ppm"
             : "not found (settings " + platform::FormatGeneral15(report.m_dNominalFundamentalHz) + " Hz)");
    line(
        "Delay",
        !report.m_dDelayMs ? std::string("n/a")
        : report.m_bDelayFromStarts
            ? Fixed(report.m_dDelayMs, 4, true) + " ms, polarity " + PolarityName(report.m_ePolarity) +
                  " (from the stimulus's start on both channels, refined by the phases)"
            : Fixed(report.m_dDelayMs, 4, true) + " ms, polarity " + PolarityName(report.m_ePolarity) +
                  " (the recording does not hold the stimulus's start on both channels: odd harmonics cannot "
                  "tell a delay of half a period, " +
                  FormatDecimals(500.0 / report.m_dFundamentalHz.value_or(report.m_dNominalFundamentalHz),
                                 3) +
                  " ms, from an inversion)");
    const auto limited = [](bool noise) { return noise ? std::string(", noise-limited") : std::string(); };
    line("Distortion + noise", Fixed(report.m_dDistortionNoiseDb, 2) +
                                   " dB (all but the stimulus tones and DC, against them" +
                                   limited(report.m_bDistortionNoiseNoiseLimited) + ")");
    line("Even order", Fixed(report.m_dEvenOrderDb, 2) + " dB (even detection lines, against the stimulus" +
                           limited(report.m_bEvenOrderNoiseLimited) + ")");
    line("Odd order", Fixed(report.m_dOddOrderDb, 2) + " dB (f0 and the odd lines above the band limit" +
                          limited(report.m_bOddOrderNoiseLimited) + ")");
    line("Noise floor", Fixed(report.m_dNoiseFloorDbfs, 2) + " dBFS (between the lines, 0 Hz to " +
                            platform::FormatGeneral15(report.m_dSampleRateHz / 2.0) +
                            " Hz, from their median)");
    if (report.m_fullScale) {
        const CFullScale& scale = *report.m_fullScale;
        const auto physical = [&](double dbfs) {
            const double value = scale.From(dbfs);
            return scale.m_eUnit == CFullScale::EUnit::Volt
                       ? Fixed(value, 6) + " V"
                       : Fixed(value, 2) + (scale.m_eUnit == CFullScale::EUnit::Dbu ? " dBu" : " dBV");
        };
        line("Full scale", physical(0.0) + " (a full-scale sine's RMS; levels in JSON carry level_" +
                               std::string(scale.Suffix()) + ")");
        if (report.m_reference.m_bPresent) {
            line("Reference level", physical(report.m_reference.m_dLevelDbfs));
        }
    }
    if (report.m_reference.m_bPresent) {
        line("Reference", Fixed(report.m_reference.m_dLevelDbfs, 2) + " dBFS, THD " +
                              Fixed(report.m_reference.m_dThdDb, 2) + " dB, THD+N " +
                              Fixed(report.m_reference.m_dThdNoiseDb, 2) + " dB (20 Hz to 20 kHz)");
    } else {
        line("Reference", "none");
    }

    text += "\nStimulus tones (gain and phase against the stimulus):\n";
    text +=
        "   tone      frequency Hz  stimulus dBFS  level dBFS    gain dB  phase deg  u(gain) dB  u(phase) deg"
        "  group delay ms\n";
    for (const CToneResult& tone : report.m_aTones) {
        text += Padded(ToneName(tone), 9) + Padded(Fixed(tone.m_dFrequencyHz, 3), 18) +
                Padded(Fixed(tone.m_dStimulusDbfs, 3), 15) + Padded(Fixed(tone.m_dLevelDbfs, 3), 12) +
                Padded(Fixed(tone.m_dGainDb, 4, true), 11) + Padded(Fixed(tone.m_dPhaseDeg, 3, true), 11) +
                Padded(Fixed(tone.m_dGainUncertaintyDb, 4), 12) +
                Padded(Fixed(tone.m_dPhaseUncertaintyDeg, 3), 14) +
                Padded(Fixed(tone.m_dGroupDelayMs, 4, true), 16) + "\n";
    }
    text += "\nDetection lines (empty in the stimulus):\n";
    text += "   n x f0    frequency Hz  level dBFS  order\n";
    for (const CLineResult& each : report.m_aLines) {
        text += Padded(std::to_string(each.m_nNumber), 9) + Padded(Fixed(each.m_dFrequencyHz, 3), 16) +
                Padded(Fixed(each.m_dLevelDbfs, 2), 12) + (each.Even() ? "  even" : "  odd") + "\n";
    }
    text += "\nSpurs (components between the lines, 10 dB or more above the noise per bin): " +
            (report.m_aSpurs.empty() ? std::string("none") : std::to_string(report.m_aSpurs.size())) + "\n";
    for (const CSpur& spur : report.m_aSpurs) {
        text += Padded(Fixed(spur.m_dFrequencyHz, 1), 14) + " Hz" + Padded(Fixed(spur.m_dLevelDbfs, 2), 10) +
                " dBFS" + (spur.m_strName.empty() ? std::string() : "  " + spur.m_strName) + "\n";
    }
    text += "\nWarnings: " +
            (report.m_aWarnings.empty() ? std::string("none") : std::to_string(report.m_aWarnings.size())) +
            "\n";
    for (const std::string& warning : report.m_aWarnings) {
        text += "  - " + warning + "\n";
    }
    return text;
}

// Beside each level in dBFS, the same in the full scale's unit where one was given.
void AddUnit(nlohmann::json& object, const CAnalysisReport& report, double dbfs) {
    if (report.m_fullScale) {
        object[std::string("level_") + report.m_fullScale->Suffix()] = Number(report.m_fullScale->From(dbfs));
    }
}

std::string ReportJson(const CAnalysisReport& report) {
    nlohmann::json tones = nlohmann::json::array();
    for (const CToneResult& tone : report.m_aTones) {
        nlohmann::json each = {{"kind", ToneKindName(tone.m_eKind)},
                               {"n", tone.m_nNumber},
                               {"frequency_hz", Number(tone.m_dFrequencyHz)},
                               {"stimulus_dbfs", Number(tone.m_dStimulusDbfs)},
                               {"level_dbfs", Number(tone.m_dLevelDbfs)},
                               {"gain_db", Number(tone.m_dGainDb)},
                               {"phase_deg", Number(tone.m_dPhaseDeg)},
                               {"gain_uncertainty_db", Number(tone.m_dGainUncertaintyDb)},
                               {"phase_uncertainty_deg", Number(tone.m_dPhaseUncertaintyDeg)},
                               {"group_delay_ms", Number(tone.m_dGroupDelayMs)}};
        if (tone.m_eKind == EToneKind::Daughter) {
            each["side"] = SideName(tone.m_eSide);
        }
        AddUnit(each, report, tone.m_dLevelDbfs);
        tones.push_back(each);
    }
    nlohmann::json lines = nlohmann::json::array();
    for (const CLineResult& each : report.m_aLines) {
        nlohmann::json line = {{"n", each.m_nNumber},
                               {"order", each.Even() ? "even" : "odd"},
                               {"frequency_hz", Number(each.m_dFrequencyHz)},
                               {"level_dbfs", Number(each.m_dLevelDbfs)}};
        AddUnit(line, report, each.m_dLevelDbfs);
        lines.push_back(line);
    }
    nlohmann::json reference = nullptr;
    if (report.m_reference.m_bPresent) {
        reference = {{"level_dbfs", Number(report.m_reference.m_dLevelDbfs)},
                     {"thd_db", Number(report.m_reference.m_dThdDb)},
                     {"thd_n_db", Number(report.m_reference.m_dThdNoiseDb)}};
        AddUnit(reference, report, report.m_reference.m_dLevelDbfs);
    }
    nlohmann::json spurs = nlohmann::json::array();
    for (const CSpur& spur : report.m_aSpurs) {
        nlohmann::json each = {
            {"frequency_hz", Number(spur.m_dFrequencyHz)},
            {"level_dbfs", Number(spur.m_dLevelDbfs)},
            {"name", spur.m_strName.empty() ? nlohmann::json(nullptr) : nlohmann::json(spur.m_strName)}};
        AddUnit(each, report, spur.m_dLevelDbfs);
        spurs.push_back(each);
    }
    nlohmann::json object = {
        {"recording", report.m_strRecording},
        {"format", report.m_strFormat},
        {"channels", report.m_nChannels},
        {"left_channel", report.m_nLeftChannel},
        {"reference_channel",
         report.m_nRightChannel > 0 ? nlohmann::json(report.m_nRightChannel) : nlohmann::json(nullptr)},
        {"sample_rate", Number(report.m_dSampleRateHz)},
        {"skip_s", Number(report.m_dSkipS)},
        {"onset_s", Number(report.m_dOnsetS)},
        {"span_s", report.m_nFramesAnalyzed > 0 && !report.m_strRefusal
                       ? Number(static_cast<double>(report.m_nFramesAnalyzed) / report.m_dSampleRateHz)
                       : nlohmann::json(nullptr)},
        {"first_analyzed_s",
         report.m_strRefusal ? nlohmann::json(nullptr) : Number(report.m_dFirstAnalyzedS)},
        {"frames_analyzed", report.m_nFramesAnalyzed},
        {"segment_frames", report.m_nSegmentFrames},
        {"nominal_fundamental_hz", Number(report.m_dNominalFundamentalHz)},
        {"fundamental_hz", Number(report.m_dFundamentalHz)},
        {"clock_offset_ppm", Number(report.m_dClockOffsetPpm)},
        {"delay_ms", Number(report.m_dDelayMs)},
        {"delay_from_starts", report.m_bDelayFromStarts},
        {"polarity",
         report.m_dDelayMs ? nlohmann::json(PolarityName(report.m_ePolarity)) : nlohmann::json(nullptr)},
        {"tones", tones},
        {"detection_lines", lines},
        {"even_order_db", Number(report.m_dEvenOrderDb)},
        {"odd_order_db", Number(report.m_dOddOrderDb)},
        {"distortion_noise_db", Number(report.m_dDistortionNoiseDb)},
        {"noise_floor_dbfs", Number(report.m_dNoiseFloorDbfs)},
        {"noise_limited", report.m_strRefusal
                              ? nlohmann::json(nullptr)
                              : nlohmann::json{{"even_order", report.m_bEvenOrderNoiseLimited},
                                               {"odd_order", report.m_bOddOrderNoiseLimited},
                                               {"distortion_noise", report.m_bDistortionNoiseNoiseLimited}}},
        {"spurs", spurs},
        {"reference", reference},
        {"warnings", report.m_aWarnings},
        {"refusal", report.m_strRefusal ? nlohmann::json(*report.m_strRefusal) : nlohmann::json(nullptr)},
    };
    if (report.m_nLatencyFrames) {
        object["latency_frames"] = *report.m_nLatencyFrames;
        object["latency_ms"] =
            Number(static_cast<double>(*report.m_nLatencyFrames) / report.m_dSampleRateHz * 1000.0);
    }
    // A file name need not be UTF-8: its bytes that are not become U+FFFD rather than lose the report.
    return object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string ReportCsv(const CAnalysisReport& report) {
    // Fifteen significant digits, as the other reports; nothing where a level is -infinity.
    const auto number = [](double value) {
        return std::isfinite(value) ? platform::FormatGeneral15(value) : std::string();
    };
    const auto optional = [&](const std::optional<double>& value) {
        return value ? number(*value) : std::string();
    };
    std::string text =
        "kind,n,side,frequency_hz,stimulus_dbfs,level_dbfs,gain_db,phase_deg,gain_uncertainty_db,"
        "phase_uncertainty_deg,group_delay_ms\n";
    for (const CToneResult& tone : report.m_aTones) {
        text += std::string(ToneKindName(tone.m_eKind)) + "," + std::to_string(tone.m_nNumber) + "," +
                SideName(tone.m_eSide) + "," + number(tone.m_dFrequencyHz) + "," +
                number(tone.m_dStimulusDbfs) + "," + number(tone.m_dLevelDbfs) + "," +
                number(tone.m_dGainDb) + "," + number(tone.m_dPhaseDeg) + "," +
                optional(tone.m_dGainUncertaintyDb) + "," + optional(tone.m_dPhaseUncertaintyDeg) + "," +
                optional(tone.m_dGroupDelayMs) + "\n";
    }
    for (const CLineResult& each : report.m_aLines) {
        text += std::string("detection,") + std::to_string(each.m_nNumber) + "," +
                (each.Even() ? "even" : "odd") + "," + number(each.m_dFrequencyHz) + ",," +
                number(each.m_dLevelDbfs) + ",,,,,\n";
    }
    // A spur's name, when it has one, stands in the side column, quoted: it holds no comma or quote.
    for (const CSpur& spur : report.m_aSpurs) {
        text += "spur,," + (spur.m_strName.empty() ? std::string() : "\"" + spur.m_strName + "\"") + "," +
                number(spur.m_dFrequencyHz) + ",," + number(spur.m_dLevelDbfs) + ",,,,,\n";
    }
    return text;
}

double CFullScale::From(double dbfs) const {
    const double dbu = m_dDbu + dbfs;
    switch (m_eUnit) {
    case EUnit::Dbu:
        return dbu;
    case EUnit::Dbv:
        return dbu - 20.0 * std::log10(1.0 / std::sqrt(0.6));
    case EUnit::Volt:
        break;
    }
    return std::sqrt(0.6) * std::pow(10.0, dbu / 20.0); // 0 dBu is sqrt(0.6) V: 1 mW into 600 ohms
}

const char* CFullScale::Suffix() const {
    return m_eUnit == EUnit::Dbu ? "dbu" : m_eUnit == EUnit::Dbv ? "dbv" : "v";
}

std::optional<CFullScale> ParseFullScale(const std::string& text) {
    const struct {
        const char* m_szUnit;
        CFullScale::EUnit m_eUnit;
    } units[] = {
        {"dBu", CFullScale::EUnit::Dbu}, {"dBV", CFullScale::EUnit::Dbv}, {"V", CFullScale::EUnit::Volt}};
    for (const auto& unit : units) {
        const std::string suffix = unit.m_szUnit;
        if (text.size() <= suffix.size() ||
            text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        std::string number = text.substr(0, text.size() - suffix.size());
        while (!number.empty() && number.back() == ' ') {
            number.pop_back();
        }
        const auto value = platform::ParseDouble(number);
        if (!value || !std::isfinite(*value) ||
            (unit.m_eUnit == CFullScale::EUnit::Volt && !(*value > 0.0))) {
            return std::nullopt;
        }
        CFullScale scale;
        scale.m_eUnit = unit.m_eUnit;
        scale.m_dDbu = unit.m_eUnit == CFullScale::EUnit::Dbu ? *value
                       : unit.m_eUnit == CFullScale::EUnit::Dbv
                           ? *value + 20.0 * std::log10(1.0 / std::sqrt(0.6))
                           : 20.0 * std::log10(*value / std::sqrt(0.6));
        return scale;
    }
    return std::nullopt;
}

} // namespace analysis

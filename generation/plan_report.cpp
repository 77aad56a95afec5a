#include "generation/plan_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/number_text.h"

namespace {

using platform::FormatGeneral15;

using platform::FormatHz;

std::string HarmonicsText(const CJobPlan& plan) {
    if (plan.m_strRefusal) {
        return "none (the settings are refused)";
    }
    const auto& bank = plan.m_aHarmonics;
    if (bank.empty()) {
        return "none";
    }
    return std::to_string(bank.size()) + (bank.size() == 1 ? " harmonic" : " harmonics") +
           ", n = " + std::to_string(bank.front().m_nNumber) + ".." + std::to_string(bank.back().m_nNumber) +
           ", " + FormatHz(bank.front().m_dFrequencyHz) + " to " + FormatHz(bank.back().m_dFrequencyHz);
}

std::string DaughterText(const CPlannedDaughter& daughter) {
    if (!daughter.Active()) {
        return "off (level 0), carrier " + FormatHz(daughter.m_dCarrierHz);
    }
    return "carrier " + FormatHz(daughter.m_dCarrierHz) + " at " + FormatGeneral15(daughter.m_dLevel) +
           ": tones at " + FormatHz(std::fabs(daughter.m_dLowerHz)) + " and " +
           FormatHz(std::fabs(daughter.m_dUpperHz)) + ", " + FormatGeneral15(daughter.SideAmplitude()) +
           " each";
}

std::string PeakLine(double peak, ESampleFormat format) {
    return PeakText(peak, 2, format) + "; " +
           (PeakClips(format, peak) ? "the clipping warning will appear" : "no clipping warning");
}

std::string FadesText(const CJobPlan& plan) {
    if (plan.m_nFadeInFrames == 0 && plan.m_nFadeOutFrames == 0) {
        return "none";
    }
    return "in " + std::to_string(plan.m_nFadeInFrames) + " frames, out " +
           std::to_string(plan.m_nFadeOutFrames) + " frames (raised cosine)";
}

// A number, or null where JSON has none (NaN, infinities).
nlohmann::json Number(double value) {
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

std::vector<std::string> AllWarnings(const CJobPlan& plan, std::optional<double> peak) {
    std::vector<std::string> warnings = plan.m_aWarnings;
    if (peak) {
        if (const auto clipping = ClippingWarningOf(*peak, plan.m_eFormat)) {
            warnings.push_back(*clipping);
        }
    }
    return warnings;
}

} // namespace

std::string PlanText(const CJobPlan& plan, std::optional<double> peak) {
    std::string text;
    const auto line = [&](const std::string& label, const std::string& value) {
        text += label + ":" + std::string(12 - label.size(), ' ') + value + "\n";
    };
    line("Harmonics", HarmonicsText(plan));
    line("Band limit",
         FormatHz(plan.m_dBandLimitHz) + " (half the sample rate: " + FormatHz(plan.m_dHalfRateHz) + ")");
    line("Daughter 1", DaughterText(plan.m_aDaughters[0]));
    line("Daughter 2", DaughterText(plan.m_aDaughters[1]));
    line("Reference", FormatHz(plan.m_dFundamentalHz) + " at " + FormatGeneral15(kReferenceAmplitude) +
                          " (right channel)");
    line("Frames", std::to_string(plan.m_nFrames) + " at " + std::to_string(plan.m_nSampleRate) + " Hz (" +
                       FormatGeneral15(plan.m_dDurationS) + " s)");
    line("Format", FileTypeText(plan));
    line("Fades", FadesText(plan));
    line("Bytes", plan.m_nBytes ? std::to_string(*plan.m_nBytes)
                                : std::string(plan.m_strRefusal ? "none" : "known once encoded (FLAC)"));
    line("Peak", peak ? PeakLine(*peak, plan.m_eFormat) : "unknown (the settings are refused)");
    const auto warnings = AllWarnings(plan, peak);
    line("Warnings", warnings.empty() ? "none" : std::to_string(warnings.size()));
    for (const std::string& warning : warnings) {
        text += "  - " + warning + "\n";
    }
    return text;
}

std::string PlanJson(const CJobPlan& plan, std::optional<double> peak) {
    nlohmann::json harmonics = nlohmann::json::array();
    for (const CPlannedHarmonic& harmonic : plan.m_aHarmonics) {
        harmonics.push_back({{"n", harmonic.m_nNumber},
                             {"frequency_hz", Number(harmonic.m_dFrequencyHz)},
                             {"amplitude", Number(harmonic.m_dAmplitude)}});
    }
    nlohmann::json daughters = nlohmann::json::array();
    for (const CPlannedDaughter& daughter : plan.m_aDaughters) {
        daughters.push_back({{"carrier_hz", Number(daughter.m_dCarrierHz)},
                             {"level", Number(daughter.m_dLevel)},
                             {"active", daughter.Active()},
                             {"lower_hz", Number(daughter.m_dLowerHz)},
                             {"upper_hz", Number(daughter.m_dUpperHz)},
                             {"side_amplitude", Number(daughter.SideAmplitude())}});
    }
    const nlohmann::json object = {
        {"frames", plan.m_nFrames},
        {"bytes", plan.m_nBytes ? nlohmann::json(*plan.m_nBytes) : nlohmann::json(nullptr)},
        {"format", FormatName(plan.m_eFormat)},
        {"container", ContainerName(plan.m_eContainer)},
        {"fade_in_frames", plan.m_nFadeInFrames},
        {"fade_out_frames", plan.m_nFadeOutFrames},
        {"duration_s", Number(plan.m_dDurationS)},
        {"sample_rate", plan.m_nSampleRate},
        {"band_limit_hz", Number(plan.m_dBandLimitHz)},
        {"half_rate_hz", Number(plan.m_dHalfRateHz)},
        {"harmonics", harmonics},
        {"daughters", daughters},
        {"reference", {{"frequency_hz", Number(plan.m_dFundamentalHz)}, {"amplitude", kReferenceAmplitude}}},
        {"peak", peak ? Number(*peak) : nlohmann::json(nullptr)},
        // JSON has no infinity: a peak beyond every double is null, and said to be infinite here.
        {"peak_infinite", peak && std::isinf(*peak)},
        {"peak_dbfs",
         peak ? Number(DecibelsFullScale(*peak / FullScale(plan.m_eFormat))) : nlohmann::json(nullptr)},
        {"clips", peak && PeakClips(plan.m_eFormat, *peak)},
        {"refusal", plan.m_strRefusal ? nlohmann::json(*plan.m_strRefusal) : nlohmann::json(nullptr)},
        {"warnings", AllWarnings(plan, peak)},
    };
    return object.dump(2) + "\n";
}

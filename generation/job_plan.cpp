#include "generation/job_plan.h"

#include <cmath>

#include "generation/job_sources.h"
#include "generation/wav_format.h"
#include "platform/number_text.h"

namespace {

using platform::FormatHz;

// The aliasing warnings of one daughter signal `number` (1 or 2).
void WarnAboutDaughter(const CPlannedDaughter& daughter, int number, double rate,
                       std::vector<std::string>& out) {
    if (!daughter.Active() || rate <= 0.0) {
        return;
    }
    const std::string name = "Daughter signal " + std::to_string(number);
    if (std::fabs(daughter.m_dCarrierHz) > rate) {
        out.push_back("The carrier of " + name + " (" + FormatHz(daughter.m_dCarrierHz) +
                      ") is beyond the sample rate: its tones alias.");
        return;
    }
    for (double side : {daughter.m_dLowerHz, daughter.m_dUpperHz}) {
        if (!(std::fabs(side) < rate / 2.0)) {
            out.push_back(name + " has a tone at " + FormatHz(std::fabs(side)) +
                          ", at or above half the sample rate (" + FormatHz(rate / 2.0) + "): it aliases.");
        }
    }
}

} // namespace

CJobPlan MakeJobPlan(const CGenerationSettings& settings) {
    CJobPlan plan;
    const double rate = static_cast<double>(settings.m_nSampleRate);
    plan.m_nSampleRate = settings.m_nSampleRate;
    plan.m_dHalfRateHz = rate / 2.0;
    plan.m_dBandLimitHz = rate * 0.5 * settings.m_dNyquistFactor;
    plan.m_dFundamentalHz = settings.m_dFundamentalFreq;
    const double carriers[2] = {settings.m_dCarrierFreq1, settings.m_dCarrierFreq2};
    const double levels[2] = {settings.m_dDaughterAmplitude1, settings.m_dDaughterAmplitude2};
    for (int i = 0; i < 2; ++i) {
        plan.m_aDaughters[i] = {carriers[i], levels[i], carriers[i] - settings.m_dFundamentalFreq,
                                carriers[i] + settings.m_dFundamentalFreq};
    }

    plan.m_strRefusal = RefusalReason(settings);
    if (plan.m_strRefusal) {
        plan.m_aWarnings.push_back(*plan.m_strRefusal);
        return plan;
    }
    plan.m_nFrames = FrameCount(settings.m_nSampleRate, settings.m_dDuration);
    plan.m_nBytes = WavFileBytes(plan.m_nFrames);
    plan.m_dDurationS = rate > 0.0 ? plan.m_nFrames / rate : 0.0;

    CJobSources sources;
    PrepareSources(settings, sources);
    unsigned n = 3;
    for (const CSine& sine : sources.m_bank.m_aSines) {
        plan.m_aHarmonics.push_back({n, sine.m_dFrequency, sine.m_dAmplitude});
        n += 2;
    }

    std::vector<std::string>& warnings = plan.m_aWarnings;
    if (settings.m_nSampleRate == 0) {
        warnings.push_back("A sample rate of 0 Hz: the file holds no audio, and common readers refuse it.");
    } else if (plan.m_nFrames == 0) {
        warnings.push_back("The file holds no frames: the duration is shorter than one sample period.");
    }
    if (plan.m_aHarmonics.empty()) {
        warnings.push_back("No harmonic lies below the band limit of " + FormatHz(plan.m_dBandLimitHz) +
                           ": the mother signal is silent.");
    }
    if (rate > 0.0 && !(std::fabs(settings.m_dFundamentalFreq) < rate / 2.0)) {
        warnings.push_back("The reference at " + FormatHz(settings.m_dFundamentalFreq) +
                           " is at or above half the sample rate (" + FormatHz(rate / 2.0) +
                           "): it aliases.");
    }
    WarnAboutDaughter(plan.m_aDaughters[0], 1, rate, warnings);
    WarnAboutDaughter(plan.m_aDaughters[1], 2, rate, warnings);
    return plan;
}

std::optional<std::string> ClippingWarningOf(double peak) {
    if (!(peak > 32767.0)) {
        return std::nullopt;
    }
    return "The left channel will clip: its peak of " + platform::FormatDecimals(peak, 2) + " (" +
           platform::FormatDecimals(DecibelsFullScale(peak / 32767.0), 2) + " dBFS) is above full scale.";
}

std::string PeakText(double peak, int decimals) {
    if (std::isinf(peak)) {
        return "infinite";
    }
    const double dbfs = DecibelsFullScale(peak / 32767.0);
    return platform::FormatDecimals(peak, decimals) + " (" +
           (std::isfinite(dbfs) ? platform::FormatDecimals(dbfs, 2) + " dBFS" : std::string("silence")) + ")";
}

double DecibelsFullScale(double amplitude) {
    return 20.0 * std::log10(std::fabs(amplitude));
}

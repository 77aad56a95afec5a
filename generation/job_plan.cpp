#include "generation/job_plan.h"

#include "generation/file_formats.h"

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
    plan.m_nFrames =
        static_cast<std::uint64_t>(FrameCountProduct(settings.m_nSampleRate, settings.m_dDuration));
    plan.m_dDurationS = rate > 0.0 ? static_cast<double>(plan.m_nFrames) / rate : 0.0;
    plan.m_eFormat = settings.m_eFormat;
    plan.m_eContainer = ChosenContainer(settings);
    plan.m_nFadeInFrames = FadeFrames(settings.m_dFadeInS, settings.m_nSampleRate);
    plan.m_nFadeOutFrames = FadeFrames(settings.m_dFadeOutS, settings.m_nSampleRate);
    if (plan.m_eContainer != EContainer::Flac) {
        if (plan.m_eContainer == EContainer::Wav && !FitsRiff(settings.m_eFormat, plan.m_nFrames)) {
            plan.m_eContainer = EContainer::Rf64;
            plan.m_aWarnings.push_back("The data passes the 4 GiB of a RIFF WAV file: it is written as RF64 "
                                       "(EBU Tech 3306), which SoX, ffmpeg and libsndfile read.");
        }
        plan.m_nHeaderBytes =
            MakeFileHeader(settings.m_eFormat, plan.m_eContainer, settings.m_nSampleRate, 0).size();
        plan.m_nBytes = plan.m_nHeaderBytes + plan.m_nFrames * BytesPerFrame(settings.m_eFormat);
    }

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

std::optional<std::string> ClippingWarningOf(double peak, ESampleFormat format) {
    if (!PeakClips(format, peak)) {
        return std::nullopt;
    }
    if (format == ESampleFormat::F32) {
        return "The left channel goes beyond full scale: its peak of " + PeakText(peak, 0, format) +
               " is above 1.0; the file keeps the values, and players will clip them.";
    }
    return "The left channel will clip: its peak of " + PeakText(peak, 2, format) + " is above full scale.";
}

std::string FileTypeText(const CJobPlan& plan) {
    return FileTypeText(plan.m_eFormat, plan.m_eContainer);
}

std::string PeakText(double peak, int decimals, ESampleFormat format) {
    if (std::isinf(peak)) {
        return "infinite";
    }
    const double dbfs = DecibelsFullScale(peak / FullScale(format));
    return platform::FormatDecimals(peak, format == ESampleFormat::F32 ? decimals + 6 : decimals) + " (" +
           (std::isfinite(dbfs) ? platform::FormatDecimals(dbfs, 2) + " dBFS" : std::string("silence")) + ")";
}

double DecibelsFullScale(double amplitude) {
    return 20.0 * std::log10(std::fabs(amplitude));
}

#include "generation/job_sources.h"

#include <cmath>

#include "generation/wav_format.h"
#include "platform/number_text.h"

std::optional<std::string> RefusalReason(const CGenerationSettings& settings) {
    const std::int64_t frames = FrameCountProduct(settings.m_nSampleRate, settings.m_dDuration);
    // A product of magnitude 2^63 or more counts as 0 frames in the frame count, but it asks for
    // no short file: it is refused, as a negative one is (a duration the shells' ranges exclude). A
    // WAV file too large for RIFF's 32-bit sizes is written as RF64.
    const bool hugeProduct = FrameCountProductOverflows(settings.m_nSampleRate, settings.m_dDuration);
    if (frames < 0 || hugeProduct) {
        return "The frame count (sample rate x duration) must be 0 or more and below 2^63: shorten the "
               "duration or lower the sample rate.";
    }
    const bool flac = ChosenContainer(settings) == EContainer::Flac;
    if (flac && settings.m_eFormat == ESampleFormat::F32) {
        return std::string(
            "A FLAC file holds 16- or 24-bit samples, not 32-bit float: choose the format s16 or "
            "s24, or a WAV file.");
    }
    if (flac && settings.m_nSampleRate == 0) {
        return std::string("A FLAC file needs a sample rate from 1 to 1000000 Hz, not 0.");
    }
    // STREAMINFO counts the samples in 36 bits.
    constexpr std::int64_t kMaxFlacFrames = (std::int64_t{1} << 36) - 1;
    if (flac && frames > kMaxFlacFrames) {
        return "A FLAC file holds at most " + std::to_string(kMaxFlacFrames) + " frames, not " +
               std::to_string(frames) + ": shorten the duration, lower the sample rate, or write a WAV file.";
    }
    const double rate = static_cast<double>(settings.m_nSampleRate);
    const CBankSize bank = CountHarmonics(rate, settings.m_dFundamentalFreq, settings.m_dNyquistFactor);
    const std::string fundamental = platform::FormatGeneral15(settings.m_dFundamentalFreq) + " Hz";
    const std::string limit = platform::FormatGeneral15(rate * 0.5 * settings.m_dNyquistFactor);
    switch (bank.m_eKind) {
    case EBankSize::Bounded:
        return std::nullopt;
    case EBankSize::NeverEnds:
        return "Cannot build the harmonic bank for the fundamental frequency " + fundamental +
               ": its harmonics never reach the band limit of " + limit +
               " Hz (sample rate x 0.5 x Nyquist factor). Use a fundamental frequency above 0 " +
               "and a finite Nyquist factor.";
    case EBankSize::TooMany:
        break;
    }
    return "The fundamental frequency " + fundamental + " is too low for the band limit of " + limit +
           " Hz: the harmonic bank would need " + "more than " + std::to_string(kMaxHarmonics) +
           " harmonics. Raise the fundamental frequency or lower the Nyquist factor.";
}

void PrepareSources(const CGenerationSettings& settings, CJobSources& sources) {
    const double rate = static_cast<double>(settings.m_nSampleRate);
    CMotherSignal& bank = sources.m_bank;
    bank.m_dSampleRate = rate;
    bank.m_dFundamental = settings.m_dFundamentalFreq;
    bank.m_dAmplitude = settings.m_dMotherAmplitude;
    bank.m_dNyquistFactor = settings.m_dNyquistFactor;
    bank.Build();

    const double carriers[2] = {settings.m_dCarrierFreq1, settings.m_dCarrierFreq2};
    const double levels[2] = {settings.m_dDaughterAmplitude1, settings.m_dDaughterAmplitude2};
    for (int i = 0; i < 2; ++i) {
        CDaughterSignal& daughter = sources.m_aDaughters[i];
        daughter.m_dSampleRate = rate;
        daughter.m_dCarrierFreq = carriers[i];
        daughter.m_dModulatorFreq = settings.m_dFundamentalFreq;
        daughter.m_dAmplitude = levels[i];
    }
    sources.m_reference.Prepare(rate, settings.m_dFundamentalFreq);
    sources.m_aDaughters[0].Prepare();
    sources.m_aDaughters[1].Prepare();
}

CFrameValues NextFrameValues(CJobSources& sources, double fullScale) {
    const double mother = sources.m_bank.NextSample() * fullScale;
    double sum = 0.0;
    sum = sum + sources.m_aDaughters[0].NextSample();
    sum = sum + sources.m_aDaughters[1].NextSample();
    const double daughters = sum * fullScale;
    const double reference = sources.m_reference.NextSample();
    const double right = (reference * fullScale) * 0.9;
    const double left = daughters + mother;
    return {left, right};
}

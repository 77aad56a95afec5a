#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "generation/settings.h"

// One harmonic of the mother signal's bank.
struct CPlannedHarmonic {
    unsigned m_nNumber = 0;      // n: 3, 5, 7, ...
    double m_dFrequencyHz = 0.0; // n x f0
    double m_dAmplitude = 0.0;   // A / n, full scale = 1
};

// One daughter signal: carrier x sine at f0 is two tones at fc - f0 and fc + f0, each at half the
// daughter's level.
struct CPlannedDaughter {
    double m_dCarrierHz = 0.0;
    double m_dLevel = 0.0;
    double m_dLowerHz = 0.0; // fc - f0 (may be negative: its magnitude is what sounds)
    double m_dUpperHz = 0.0; // fc + f0
    bool Active() const { return m_dLevel != 0.0; }
    double SideAmplitude() const { return m_dLevel / 2.0; }
};

// What a generation with some settings will produce, worked out without writing anything: the job,
// `vorlanx-gen --info` and the dialog's preview all read this one plan.
struct CJobPlan {
    std::uint32_t m_nSampleRate = 0;
    std::uint64_t m_nFrames = 0; // rate x duration truncated toward zero
    ESampleFormat m_eFormat = ESampleFormat::S16;
    EContainer m_eContainer = EContainer::Wav; // as written: Wav, Rf64 or Flac
    std::uint64_t m_nHeaderBytes = 0;          // a WAV or RF64 file's header (44 for today's file)
    std::optional<std::uint64_t> m_nBytes;     // the file's size; unknown for FLAC before encoding
    std::uint64_t m_nFadeInFrames = 0;         // the fades' lengths in frames
    std::uint64_t m_nFadeOutFrames = 0;
    double m_dDurationS = 0.0;                  // frames / rate (0 at rate 0)
    double m_dBandLimitHz = 0.0;                // L = rate x 0.5 x Nyquist factor
    double m_dHalfRateHz = 0.0;                 // rate / 2
    double m_dFundamentalHz = 0.0;              // the reference's frequency, at 0.9 of full scale
    std::vector<CPlannedHarmonic> m_aHarmonics; // empty when refused
    std::array<CPlannedDaughter, 2> m_aDaughters;
    std::optional<std::string> m_strRefusal; // the message the job would refuse with
    // One sentence each: a silent mother signal, components at or above half the rate, a rate or
    // frame count of 0, data written as RF64, the refusal. Clipping needs the peak: see
    // ClippingWarningOf.
    std::vector<std::string> m_aWarnings;
};

inline constexpr double kReferenceAmplitude = 0.9;

// The plan for `settings`. Builds the harmonic bank's list (up to kMaxHarmonics entries) unless the
// settings are refused; writes nothing and never throws but std::bad_alloc.
CJobPlan MakeJobPlan(const CGenerationSettings& settings);

// The warning sentence for a left-channel peak (as the job takes it for `format`), or nullopt when
// it does not clip: the job warns exactly when the peak is above full scale.
std::optional<std::string> ClippingWarningOf(double peak, ESampleFormat format = ESampleFormat::S16);

// A left-channel peak for people, in the units of `format`'s samples: "29006.06 (-1.06 dBFS)" with
// `decimals` digits (six more for float), "0.00 (silence)", or "infinite".
std::string PeakText(double peak, int decimals, ESampleFormat format = ESampleFormat::S16);

// The file's samples and container for people: "16-bit PCM WAV", "24-bit PCM WAV (extensible)",
// "32-bit float RF64", "24-bit FLAC".
std::string FileTypeText(const CJobPlan& plan);

// A level in dBFS (20 log10 of |amplitude| against full scale 1); -infinity for 0.
double DecibelsFullScale(double amplitude);

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis_plan.h"

namespace analysis {

// What one stimulus tone became. Levels in dBFS: a sine whose amplitude is the format's full scale
// reads 0 dBFS. -infinity where nothing was measured (a silent recording).
struct CToneResult {
    EToneKind m_eKind = EToneKind::Harmonic;
    unsigned m_nNumber = 0;
    ESide m_eSide = ESide::None;
    double m_dFrequencyHz = 0.0;  // as measured: the nominal frequency scaled by the recording's f0
    double m_dStimulusDbfs = 0.0; // the tone's level in the stimulus
    double m_dLevelDbfs = 0.0;    // its level in the recording
    double m_dGainDb = 0.0;       // level against the stimulus (against the sum of tones sharing its line)
    double m_dPhaseDeg = 0.0;     // (-180, 180]: against the reference, the common start time removed
    // Standard uncertainties of the gain and the phase, from the scatter of the tone's value between
    // segments (noise, and anything else that changes while it is recorded); absent with one segment.
    std::optional<double> m_dGainUncertaintyDb;
    std::optional<double> m_dPhaseUncertaintyDeg;
    // -d(phase)/d(angular frequency) between this tone and the next harmonic (ms): the delay the device
    // gives a group of frequencies there; absent for daughters and the last harmonic.
    std::optional<double> m_dGroupDelayMs;
};

// A discrete component of the left channel that is neither a stimulus tone nor on a detection line.
struct CSpur {
    double m_dFrequencyHz = 0.0;
    double m_dLevelDbfs = 0.0;
    std::string m_strName; // "mains 50 Hz", "2nd of mains 50 Hz", ...; empty where none fits
};

// A detection line's level: what the recording holds there, coherent with the stimulus.
struct CLineResult {
    unsigned m_nNumber = 0;
    double m_dFrequencyHz = 0.0;
    double m_dLevelDbfs = 0.0;
    bool Even() const { return m_nNumber % 2 == 0; }
};

enum class EPolarity { Unknown, Normal, Inverted };

// What a full-scale sine is in physical units (AES17: 0 dBFS is its RMS): m_dDbu dBu RMS, shown in
// the unit it was given in. dBV is dBu less 20 log10(1 V / 0.775 V) = 2.2185 dB; volts are RMS.
struct CFullScale {
    enum class EUnit { Dbu, Dbv, Volt };
    EUnit m_eUnit = EUnit::Dbu;
    double m_dDbu = 0.0;
    // A level in dBFS in that unit, and the JSON key's suffix ("dbu", "dbv", "v").
    double From(double dbfs) const;
    const char* Suffix() const;
};
// Reads "18dBu", "-4.2 dBV", "1.228V"; nullopt for anything else.
std::optional<CFullScale> ParseFullScale(const std::string& text);

// Why a recording was not analysed, as a fact each shell can phrase its own advice from (the
// sentence in m_strRefusal gives none: it names no option of any program).
enum class ERefusal {
    None,
    NoStimulus,       // the settings describe no stimulus the analysis can use
    NoFrames,         // no frames at all, or none left after the skip, or too few
    ChannelsToChoose, // more than two channels and none chosen: m_nChannels says how many
    NoSuchChannel,    // a chosen channel is not in the recording, or both are the same
    NotFinite,        // a sample is NaN or infinite
    Silent,           // every analysed channel is silent
    NotFound,         // no stimulus where the settings put its f0: another signal, or other settings
    TooShort,         // too short to resolve the lines
    Swapped,          // the reference's f0 is on the left channel: the channels look swapped
};

struct CReferenceResult {
    bool m_bPresent = false;    // the recording has a reference channel
    double m_dLevelDbfs = 0.0;  // its tone at f0
    double m_dThdDb = 0.0;      // harmonics 2, 3, ... up to 20 kHz against the tone, as power
    double m_dThdNoiseDb = 0.0; // everything from 20 Hz to 20 kHz but the tone, against it
};

// The measurement of one recording; README "Measuring a device" defines each figure. Optional
// figures are absent where the recording does not give them (no tone found, no reference).
struct CAnalysisReport {
    std::string m_strRecording; // its name
    std::string m_strFormat;
    int m_nChannels = 0;
    int m_nLeftChannel = 0; // 1-based channel numbers in the recording; 0: none
    int m_nRightChannel = 0;
    double m_dSampleRateHz = 0.0;
    double m_dSkipS = 0.0; // what was skipped at the start
    // Where the stimulus starts in the recording (s): found on the reference, or on the left without
    // one; absent when not looked for or when the recording starts within the stimulus.
    std::optional<double> m_dOnsetS;
    double m_dFirstAnalyzedS = 0.0;      // the analysed span's start in the recording (s)
    std::uint64_t m_nFramesAnalyzed = 0; // whole segments from the skip on
    std::uint64_t m_nSegmentFrames = 0;  // M
    double m_dNominalFundamentalHz = 0.0;
    std::optional<double> m_dFundamentalHz; // measured
    std::optional<double> m_dClockOffsetPpm;
    std::optional<double> m_dDelayMs; // in (-1/4, 1/4] of a period of f0, unless from the starts
    // The delay's half periods come from where the stimulus starts on both channels: it is the
    // device's whole delay, not folded into a quarter period.
    bool m_bDelayFromStarts = false;
    EPolarity m_ePolarity = EPolarity::Unknown;
    std::vector<CToneResult> m_aTones;
    std::vector<CLineResult> m_aLines;
    std::optional<double> m_dEvenOrderDb; // power sums against the stimulus tones' power
    std::optional<double> m_dOddOrderDb;
    std::optional<double> m_dDistortionNoiseDb;
    std::optional<double> m_dNoiseFloorDbfs; // the noise between the lines, over 0 to half the rate
    // Within 3 dB of what the noise floor alone gives on the same lines (or bins): the figure is noise.
    bool m_bEvenOrderNoiseLimited = false;
    bool m_bOddOrderNoiseLimited = false;
    bool m_bDistortionNoiseNoiseLimited = false;
    std::vector<CSpur> m_aSpurs; // loudest first
    // The worst departure (dB) of a channel's level in one segment from its median, where it passes the
    // tolerance (0.5 dB, or four times what the noise scatters it): a dropout, a fade, a compressor.
    std::optional<double> m_dLevelVariationDb;
    // A live measurement: from the first frame played to the stimulus's start in the recording.
    std::optional<std::uint64_t> m_nLatencyFrames;
    // The converter's full scale in physical units, where given: every level also reads in that unit.
    std::optional<CFullScale> m_fullScale;
    CReferenceResult m_reference;
    std::vector<std::string> m_aWarnings;    // one sentence each
    std::optional<std::string> m_strRefusal; // why the recording could not be analysed
    ERefusal m_eRefusal = ERefusal::None;    // the kind of that refusal

    // For plots: the left channel's spectrum averaged over the segments, in dBFS per bin scaled so
    // that a tone's peak reads its level, bins m_dBinHz apart from 0 Hz; the noise floor per bin.
    std::vector<float> m_aLeftSpectrumDbfs;
    double m_dBinHz = 0.0;
    std::optional<double> m_dNoisePerBinDbfs;
    double m_dBandLimitHz = 0.0; // the stimulus's band limit, scaled like the lines
};

const char* ToneKindName(EToneKind kind);     // "harmonic", "daughter"
const char* SideName(ESide side);             // "", "lower", "upper"
const char* PolarityName(EPolarity polarity); // "unknown", "normal", "inverted"

} // namespace analysis

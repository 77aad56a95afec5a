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
};

// A detection line's level: what the recording holds there, coherent with the stimulus.
struct CLineResult {
    unsigned m_nNumber = 0;
    double m_dFrequencyHz = 0.0;
    double m_dLevelDbfs = 0.0;
    bool Even() const { return m_nNumber % 2 == 0; }
};

enum class EPolarity { Unknown, Normal, Inverted };

// Why a recording was not analysed, as a fact each shell can phrase its own advice from (the
// sentence in m_strRefusal gives none: it names no option of any program).
enum class ERefusal {
    None,
    NoStimulus,       // the settings describe no stimulus the analysis can use
    NoFrames,         // no frames at all, or none left after the skip, or too few
    ChannelsToChoose, // more than two channels and none chosen: m_nChannels says how many
    NoSuchChannel,    // a chosen channel is not in the recording, or both are the same
    NotFinite,        // a sample is NaN or infinite
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
    double m_dSkipS = 0.0;               // what was skipped at the start
    std::uint64_t m_nFramesAnalyzed = 0; // whole segments from the skip on
    std::uint64_t m_nSegmentFrames = 0;  // M
    double m_dNominalFundamentalHz = 0.0;
    std::optional<double> m_dFundamentalHz; // measured
    std::optional<double> m_dClockOffsetPpm;
    std::optional<double> m_dDelayMs; // in (-1/4, 1/4] of a period of f0
    EPolarity m_ePolarity = EPolarity::Unknown;
    std::vector<CToneResult> m_aTones;
    std::vector<CLineResult> m_aLines;
    std::optional<double> m_dEvenOrderDb; // power sums against the stimulus tones' power
    std::optional<double> m_dOddOrderDb;
    std::optional<double> m_dDistortionNoiseDb;
    std::optional<double> m_dNoiseFloorDbfs; // the noise between the lines, over 0 to half the rate
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

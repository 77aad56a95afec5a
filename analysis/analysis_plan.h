#pragma once

#include <complex>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "generation/job_plan.h"

namespace analysis {

enum class EToneKind { Harmonic, Daughter };
enum class ESide { None, Lower, Upper };

// One tone the stimulus puts on the left channel.
struct CStimulusTone {
    EToneKind m_eKind = EToneKind::Harmonic;
    unsigned m_nNumber = 0;      // harmonic n, or the daughter's number (1 or 2)
    ESide m_eSide = ESide::None; // a daughter's side frequency: fc - f0 (lower) or fc + f0 (upper)
    double m_dFrequencyHz = 0.0; // where it sounds in the stimulus file (folded below half its rate)
    // Amplitude (full scale = 1) and phase at the stimulus's time 0 as A cos(2 pi f t + phase):
    // a harmonic (A/n) sin is (A/n) e^(-i pi/2); a daughter's lower side level/2, its upper -level/2.
    std::complex<double> m_stimulus;
    // Tones that share this tone's frequency (a daughter on a harmonic's line) are measured as one:
    // the sum of their phasors, the same for each of them.
    std::complex<double> m_combined;
    // Too close to another tone for the recording to separate them: left out of the tones measured,
    // its power counted in the stimulus's from the spectrum.
    bool m_bUnresolved = false;
};

// A line the stimulus leaves empty: energy there is distortion or noise.
struct CDetectionLine {
    unsigned m_nNumber = 0; // n: the line is n x f0
    double m_dFrequencyHz = 0.0;
    bool Even() const { return m_nNumber % 2 == 0; }
};

// Every line an analysis measures, in nominal frequencies (the settings' f0); the analysis scales
// them by the recording's measured f0. Lines at or above half the recording's rate are left out.
struct CAnalysisPlan {
    double m_dFundamentalHz = 0.0;           // f0 of the settings: the reference's frequency
    double m_dSettingsRateHz = 0.0;          // the stimulus file's rate
    double m_dRecordingRateHz = 0.0;         // the rate the recording is analysed at
    double m_dBandLimitHz = 0.0;             // the stimulus's band limit L
    std::vector<CStimulusTone> m_aTones;     // harmonics ascending, then the daughters' sides
    std::vector<CDetectionLine> m_aLines;    // ascending n
    std::vector<std::string> m_aWarnings;    // a daughter tone on a line, another rate than the settings'
    std::optional<std::string> m_strRefusal; // settings that describe no measurable stimulus
    // Tones this close are measured as one, against their sum (at first: those on the very same
    // frequency); the closest two that are measured apart (infinity when no two are near).
    double m_dCombinedWithinHz = 0.0;
    double m_dClosestApartHz = std::numeric_limits<double>::infinity();
};

// Measures the tones of `plan` closer than `withinHz` as one: each one's m_combined becomes the sum of
// their phasors, with a warning for each daughter signal that names them; m_dClosestApartHz becomes
// the closest two left apart.
void CombineNearTones(CAnalysisPlan& plan, double withinHz);
// Marks the tones of `plan` closer than `withinHz` to another (but not on its very frequency) as
// unresolved; returns them as "3601 Hz and 3603 Hz" for a warning.
std::string MarkUnresolvedTones(CAnalysisPlan& plan, double withinHz);

// The lines of the stimulus that `jobPlan` describes, recorded at `recordingRateHz`.
CAnalysisPlan MakeAnalysisPlan(const CJobPlan& jobPlan, double recordingRateHz);

} // namespace analysis

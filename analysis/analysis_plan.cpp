#include "analysis/analysis_plan.h"

#include <algorithm>
#include <cmath>

#include "platform/number_text.h"

namespace analysis {

namespace {

using platform::FormatHz;

// One warning for each daughter signal whose tones collide: "Daughter signal 1 WHAT (LIST): WHY."
void WarnOfCollisions(CAnalysisPlan& plan, const std::vector<std::string> (&collisions)[2], const char* what,
                      const char* why) {
    for (unsigned d = 0; d < 2; ++d) {
        if (collisions[d].empty()) {
            continue;
        }
        std::string list;
        for (const std::string& each : collisions[d]) {
            list += (list.empty() ? "" : "; ") + each;
        }
        plan.m_aWarnings.push_back("Daughter signal " + std::to_string(d + 1) + " " + what + " (" + list +
                                   "): " + why + ".");
    }
}

// A daughter's side tone c cos(2 pi f t) as it sounds in a file sampled at `rate`: folded into
// (0, rate / 2); a tone folded from above half the rate runs backwards, so its phase is mirrored.
// False when it lands on 0 Hz or exactly half the rate, where it has no phase of its own.
bool Fold(double& frequency, std::complex<double>& phasor, double rate) {
    double f = std::fmod(std::fabs(frequency), rate);
    if (f > rate / 2.0) {
        f = rate - f;
        phasor = std::conj(phasor);
    }
    frequency = f;
    return f > 0.0 && f < rate / 2.0;
}

} // namespace

void CombineNearTones(CAnalysisPlan& plan, double withinHz) {
    plan.m_dCombinedWithinHz = withinHz;
    // A second call replaces what the first said.
    std::erase_if(plan.m_aWarnings, [](const std::string& warning) {
        return warning.rfind("Daughter signal ", 0) == 0 &&
               warning.find(" has tones on other lines (") != std::string::npos;
    });
    plan.m_dClosestApartHz = std::numeric_limits<double>::infinity();
    const auto isDaughter = [](const CStimulusTone& tone) { return tone.m_eKind == EToneKind::Daughter; };
    std::vector<std::string> collisions[2];
    for (CStimulusTone& tone : plan.m_aTones) {
        tone.m_combined = tone.m_stimulus;
    }
    // Harmonics lie 2 f0 apart, so only the daughters' (at most four) tones need comparing with the rest.
    for (CStimulusTone& daughter : plan.m_aTones) {
        if (!isDaughter(daughter)) {
            continue;
        }
        for (CStimulusTone& other : plan.m_aTones) {
            const double apart = std::fabs(other.m_dFrequencyHz - daughter.m_dFrequencyHz);
            if (&other == &daughter) {
                continue;
            }
            if (apart >= withinHz) {
                plan.m_dClosestApartHz = std::min(plan.m_dClosestApartHz, apart);
                continue;
            }
            daughter.m_combined += other.m_stimulus;
            if (!isDaughter(other)) {
                other.m_combined += daughter.m_stimulus;
                collisions[daughter.m_nNumber - 1].push_back(
                    FormatHz(daughter.m_dFrequencyHz) +
                    (apart == 0.0 ? " on the line of harmonic " : " beside the line of harmonic ") +
                    std::to_string(other.m_nNumber));
            } else if (other.m_nNumber != daughter.m_nNumber) {
                collisions[daughter.m_nNumber - 1].push_back(FormatHz(daughter.m_dFrequencyHz) +
                                                             " on a tone of daughter signal " +
                                                             std::to_string(other.m_nNumber));
            }
        }
    }
    WarnOfCollisions(plan, collisions, "has tones on other lines",
                     "each such line is measured as the sum of what the stimulus puts there");
}

std::string MarkUnresolvedTones(CAnalysisPlan& plan, double withinHz) {
    std::string list;
    for (CStimulusTone& daughter : plan.m_aTones) {
        if (daughter.m_eKind != EToneKind::Daughter) {
            continue;
        }
        for (CStimulusTone& other : plan.m_aTones) {
            const double apart = std::fabs(other.m_dFrequencyHz - daughter.m_dFrequencyHz);
            if (&other != &daughter && apart >= plan.m_dCombinedWithinHz && apart < withinHz) {
                list += (list.empty() ? "" : ", ") + FormatHz(other.m_dFrequencyHz) + " and " +
                        FormatHz(daughter.m_dFrequencyHz);
                daughter.m_bUnresolved = other.m_bUnresolved = true;
            }
        }
    }
    return list;
}

CAnalysisPlan MakeAnalysisPlan(const CJobPlan& jobPlan, double recordingRateHz) {
    CAnalysisPlan plan;
    const double f0 = jobPlan.m_dFundamentalHz;
    plan.m_dFundamentalHz = f0;
    plan.m_dSettingsRateHz = jobPlan.m_nSampleRate;
    plan.m_dRecordingRateHz = recordingRateHz;
    plan.m_dBandLimitHz = jobPlan.m_dBandLimitHz;
    if (jobPlan.m_strRefusal) {
        plan.m_strRefusal = "the settings describe no stimulus: " + *jobPlan.m_strRefusal;
        return plan;
    }
    if (!(f0 > 0.0) || !(f0 < plan.m_dSettingsRateHz / 2.0) || !(f0 < recordingRateHz / 2.0)) {
        plan.m_strRefusal = "the reference at " + FormatHz(f0) +
                            " is not below half the sample rate: there is no " +
                            "fundamental to measure against";
        return plan;
    }
    const double top = recordingRateHz / 2.0;
    if (plan.m_dSettingsRateHz != recordingRateHz) {
        plan.m_aWarnings.push_back(
            "The recording's sample rate (" + FormatHz(recordingRateHz) + ") is not the settings' (" +
            FormatHz(plan.m_dSettingsRateHz) + "): the tones are analysed at their frequencies in Hz as a " +
            FormatHz(plan.m_dSettingsRateHz) + " stimulus has them, up to its band limit of " +
            FormatHz(plan.m_dBandLimitHz) +
            "; a stimulus made at the recording's rate has other tones, which would count as distortion "
            "here.");
    }

    for (const CPlannedHarmonic& harmonic : jobPlan.m_aHarmonics) {
        if (harmonic.m_dAmplitude != 0.0 && harmonic.m_dFrequencyHz < top) {
            const std::complex<double> phasor(0.0, -harmonic.m_dAmplitude);
            plan.m_aTones.push_back({EToneKind::Harmonic, harmonic.m_nNumber, ESide::None,
                                     harmonic.m_dFrequencyHz, phasor, phasor});
        }
    }
    for (unsigned d = 0; d < 2; ++d) {
        const CPlannedDaughter& daughter = jobPlan.m_aDaughters[d];
        if (!daughter.Active()) {
            continue;
        }
        // sin(a) sin(b) = cos(a - b) / 2 - cos(a + b) / 2.
        struct CSide {
            ESide m_eSide;
            double m_dFrequencyHz;
            double m_dSign;
        };
        for (const CSide& each : {CSide{ESide::Lower, daughter.m_dLowerHz, 1.0},
                                  CSide{ESide::Upper, daughter.m_dUpperHz, -1.0}}) {
            const ESide side = each.m_eSide;
            double folded = each.m_dFrequencyHz;
            std::complex<double> phasor(each.m_dSign * daughter.SideAmplitude(), 0.0);
            if (Fold(folded, phasor, plan.m_dSettingsRateHz) && folded < top) {
                plan.m_aTones.push_back({EToneKind::Daughter, d + 1, side, folded, phasor, phasor});
            }
        }
    }

    // Tones on the very same frequency (a daughter's on a harmonic's line) are measured as one; tones
    // merely near each other are measured apart when the segments resolve them (the analysis decides).
    CombineNearTones(plan, 1e-6 * f0);
    // Tones that cancel on one frequency (a daughter's two sides folded onto each other, as with a
    // carrier of 0 Hz) leave nothing there: they are no tones, and their line stays a detection line.
    const std::size_t before = plan.m_aTones.size();
    std::erase_if(plan.m_aTones, [](const CStimulusTone& tone) {
        return std::abs(tone.m_combined) <= 1e-12 * std::abs(tone.m_stimulus);
    });
    if (plan.m_aTones.size() != before) {
        CombineNearTones(plan, 1e-6 * f0);
    }
    const double near = f0 / 4.0;
    std::vector<std::string> collisions[2];
    const auto isDaughter = [](const CStimulusTone& tone) { return tone.m_eKind == EToneKind::Daughter; };

    // Detection lines: f0, the even harmonics, the odd ones the bank leaves out; none that a tone
    // occupies. Lines far beyond what any recording resolves (an f0 far below the rate) are bounded.
    constexpr double kMostLines = 1u << 20;
    const double lines = std::min(std::ceil(top / f0), kMostLines);
    std::vector<bool> occupied(static_cast<std::size_t>(lines) + 1, false);
    for (const bool daughters : {false, true}) { // harmonics first: a daughter on their lines is told above
        for (const CStimulusTone& tone : plan.m_aTones) {
            const double n = std::round(tone.m_dFrequencyHz / f0);
            if (isDaughter(tone) != daughters || !(n >= 1.0 && n <= lines) ||
                !(std::fabs(tone.m_dFrequencyHz - n * f0) < near)) {
                continue;
            }
            auto line = occupied[static_cast<std::size_t>(n)];
            if (daughters && !line) {
                collisions[tone.m_nNumber - 1].push_back(FormatHz(tone.m_dFrequencyHz) +
                                                         " on the detection line " +
                                                         platform::FormatGeneral15(n) + " x f0");
            }
            line = true;
        }
    }
    for (std::size_t n = 1; n < occupied.size() && static_cast<double>(n) * f0 < top; ++n) {
        if (!occupied[n]) {
            plan.m_aLines.push_back({static_cast<unsigned>(n), static_cast<double>(n) * f0});
        }
    }
    WarnOfCollisions(plan, collisions, "has tones on detection lines",
                     "those lines are left out of the distortion figures");
    return plan;
}

} // namespace analysis

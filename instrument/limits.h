#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analysis_report.h"
#include "instrument/sweep_spec.h"

namespace instrument {

// A bound on one figure of the report, by its JSON key ("distortion_noise_db", "reference.thd_n_db",
// "spur_level_dbfs" for the loudest spur): at least m_dMin, at most m_dMax.
struct CFigureLimit {
    std::string m_strFigure;
    std::optional<double> m_dMin, m_dMax;
    int m_nLine = 0; // in the limits file
};

// A mask on the response: upper and lower curves of (Hz, value) points, ascending in frequency and
// interpolated linearly in value over the logarithm of frequency; each tone between a curve's first
// and last point is judged against it. With m_dRelativeToHz, every value is taken against the figure
// at that frequency (interpolated the same way between the tones).
struct CMask {
    std::string m_strFigure; // "gain_db", "phase_deg" or "group_delay_ms"
    std::vector<std::pair<double, double>> m_aUpper, m_aLower;
    std::optional<double> m_dRelativeToHz;
    int m_nLine = 0;
};

// A bound on a sweep's curve: `m_strFigure` ("distortion_noise_db", "even_order_db", "odd_order_db",
// "gain_db") within min and max at every step whose value lies from m_dFrom to m_dTo (absent: no
// end on that side).
struct CSweepBound {
    std::string m_strFigure;
    std::optional<double> m_dMin, m_dMax, m_dFrom, m_dTo;
    int m_nLine = 0;
};

struct CLimits {
    std::vector<CFigureLimit> m_aFigures;
    std::vector<CMask> m_aMasks;
    // The [sweep] table: the sweep to run when none is asked for, the D+N figure whose crossing a level
    // sweep reports, and the bounds on its curves.
    std::optional<CSweepSpec> m_sweep;
    std::optional<double> m_dSweepLimitDb;
    std::vector<CSweepBound> m_aSweepBounds;
};

// Reads a limits file in TOML:
//     distortion_noise_db = { max = -80.0 }
//     clock_offset_ppm = { min = -100.0, max = 100.0 }
//     [reference]
//     thd_n_db = { max = -60.0 }
//     [[mask]]
//     figure = "gain_db"
//     upper = [[20.0, 0.5], [20000.0, 0.5]]
//     lower = [[20.0, -0.5], [20000.0, -0.5]]
//     relative_to_hz = 1000.0
// nullopt with `error` ("line 3: ...") for text that does not parse, a figure it does not know, a
// bound that is not a number, a mask without curves or with points out of order.
std::optional<CLimits> ParseLimits(const std::string& text, const std::string& name, std::string& error);

// One limit judged: the measured value (NaN where the report has none), the limit as people read it,
// the margin (how far inside the limit the value lies; negative outside), and for a mask the
// frequency of its smallest margin.
struct CJudgement {
    std::string m_strName;
    double m_dValue = 0.0;
    std::string m_strLimit;
    double m_dMargin = 0.0;
    bool m_bPass = false;
    std::optional<double> m_dWorstHz;
    std::optional<double> m_dWorstStep; // a sweep bound: the step's value where it is worst
    bool m_bNoiseLimited = false; // the figure is within 3 dB of the noise: judged as measured, but flagged
};

struct CVerdict {
    bool m_bPass = true;
    std::vector<CJudgement> m_aLimits;
};

// What a mask's values are taken against: 0 for an absolute mask, the figure at m_dRelativeToHz
// (linear in log frequency between the tones) for a relative one; nullopt where the tones do not
// reach that frequency.
std::optional<double> MaskOffset(const analysis::CAnalysisReport& report, const CMask& mask);
// A mask curve's value at `hz`, linear in log frequency; nullopt outside its first and last points.
std::optional<double> MaskCurveAt(const std::vector<std::pair<double, double>>& curve, double hz);

// Judges every limit against `report` (which must not be refused). A figure the report lacks fails.
CVerdict Judge(const analysis::CAnalysisReport& report, const CLimits& limits);

// The verdict as JSON ({"pass", "limits": [{"name", "value", "limit", "margin", "pass",
// "worst_frequency_hz", "noise_limited"}]}), as text lines for the report, and as JUnit XML: one
// testcase per limit, failures with their margin.
std::string VerdictJson(const CVerdict& verdict);
std::string VerdictText(const CVerdict& verdict);
std::string VerdictJunit(const CVerdict& verdict, const std::string& recording);
// A limits file (TOML) from the spread of known-good units' reports, as production lines set limits:
// a gain mask through every tone at the mean gain +- max(k sigma, 0.05 dB), and maxima on distortion +
// noise, even and odd order at their mean + max(k sigma, 1 dB). The reports must share their tones.
// Throws std::invalid_argument for fewer than two reports or tones that differ.
std::string MakeLimits(const std::vector<analysis::CAnalysisReport>& golden, double k);

// The report's JSON (analysis::ReportJson) with the verdict under "verdict".
std::string ReportJsonWithVerdict(const analysis::CAnalysisReport& report, const CVerdict& verdict);

} // namespace instrument

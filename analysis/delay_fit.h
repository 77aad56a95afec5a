#pragma once

#include <optional>
#include <vector>

#include "analysis/analysis_report.h"

namespace analysis {

// One harmonic's phase against the reference, for the delay fit.
struct CPhasePoint {
    unsigned m_nHarmonic = 0;    // odd n
    double m_dFrequencyHz = 0.0; // as measured
    double m_dPhaseRad = 0.0;    // relative phase, any branch
    double m_dWeight = 0.0;      // the tone's measured amplitude
};

struct CDelayFit {
    std::optional<double> m_dDelayS; // in (-1/(4 f0), 1/(4 f0)]
    EPolarity m_ePolarity = EPolarity::Unknown;
};

// The delay tau and polarity that explain the harmonics' phases as theta_n = -2 pi f_n tau (+ pi when
// inverted). Odd harmonics alone cannot tell a delay of half a period of f0 from an inversion: every
// odd n turns by n pi, an odd multiple of pi. So tau is taken in (-1/(4 f0), 1/(4 f0)], where
// neighbouring harmonics (n and n + 2) fix it: their phase difference is -2 pi (2 f0) tau modulo
// 2 pi. That first estimate, from their amplitude-weighted average, is refined by a weighted least
// squares line through the residual phases, whose intercept gives the polarity. Needs two harmonics
// two apart; `f0Hz` as measured.
CDelayFit FitDelay(const std::vector<CPhasePoint>& points, double f0Hz);

} // namespace analysis

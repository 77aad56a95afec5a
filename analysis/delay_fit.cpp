#include "analysis/delay_fit.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace analysis {

namespace {
constexpr double kPi = std::numbers::pi;

double Wrap(double angle) {
    return angle - 2.0 * kPi * std::round(angle / (2.0 * kPi));
}
} // namespace

CDelayFit FitDelay(const std::vector<CPhasePoint>& points, double f0Hz) {
    CDelayFit fit;
    std::complex<double> steps;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const CPhasePoint& a = points[i];
        const CPhasePoint& b = points[i + 1];
        if (b.m_nHarmonic == a.m_nHarmonic + 2) {
            steps += std::min(a.m_dWeight, b.m_dWeight) * std::polar(1.0, b.m_dPhaseRad - a.m_dPhaseRad);
        }
    }
    if (!(std::abs(steps) > 0.0) || !(f0Hz > 0.0)) {
        return fit;
    }
    double tau = -std::arg(steps) / (2.0 * kPi * 2.0 * f0Hz);
    double intercept = 0.0;
    // Twice: the residuals wrap around the first estimate, then around the refined one.
    for (int pass = 0; pass < 2; ++pass) {
        double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        std::complex<double> mean;
        for (const CPhasePoint& p : points) {
            mean += p.m_dWeight * p.m_dWeight *
                    std::polar(1.0, p.m_dPhaseRad + 2.0 * kPi * p.m_dFrequencyHz * tau);
        }
        const double centre = std::arg(mean); // 0 for a true polarity, pi for an inverted one
        for (const CPhasePoint& p : points) {
            const double w = p.m_dWeight * p.m_dWeight;
            const double x = p.m_dFrequencyHz;
            const double y = Wrap(p.m_dPhaseRad + 2.0 * kPi * x * tau - centre);
            sw += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y;
        }
        const double denominator = sw * sxx - sx * sx;
        if (!(denominator > 0.0)) {
            return fit;
        }
        const double slope = (sw * sxy - sx * sy) / denominator; // -2 pi (tau' - tau)
        tau -= slope / (2.0 * kPi);
        intercept = centre + (sy - slope * sx) / sw;
    }
    bool inverted = std::fabs(Wrap(intercept)) > kPi / 2.0;
    const double quarter = 1.0 / (4.0 * f0Hz);
    while (tau > quarter) {
        tau -= 2.0 * quarter, inverted = !inverted;
    }
    while (tau <= -quarter) {
        tau += 2.0 * quarter, inverted = !inverted;
    }
    fit.m_dDelayS = tau;
    fit.m_ePolarity = inverted ? EPolarity::Inverted : EPolarity::Normal;
    return fit;
}

} // namespace analysis

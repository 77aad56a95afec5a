#include "analysis/fundamental_tracker.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace analysis {

namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;

double Wrap(double angle) {
    return angle - kTwoPi * std::round(angle / kTwoPi);
}
} // namespace

std::optional<double> FindTonePeak(const CSegmentSpectrum& spectrum, double nominalBin, double tolerance) {
    const auto& bins = spectrum.Bins();
    const auto last = static_cast<double>(bins.size() - 2);
    const double low = std::max(1.0, std::floor(nominalBin * (1.0 - tolerance)) - 1.0);
    const double high = std::min(last, std::ceil(nominalBin * (1.0 + tolerance)) + 1.0);
    if (!(low <= high)) {
        return std::nullopt;
    }
    auto peak = static_cast<std::size_t>(low);
    for (auto k = static_cast<std::size_t>(low); k <= static_cast<std::size_t>(high); ++k) {
        if (std::abs(bins[k]) > std::abs(bins[peak])) {
            peak = k;
        }
    }
    std::vector<double> powers(bins.size());
    for (std::size_t k = 0; k < bins.size(); ++k) {
        powers[k] = std::norm(bins[k]);
    }
    const double a = powers[peak - 1], b = powers[peak], c = powers[peak + 1];
    std::nth_element(powers.begin(), powers.begin() + static_cast<std::ptrdiff_t>(powers.size() / 2),
                     powers.end());
    const double median = powers[powers.size() / 2];
    if (!(b >= a && b >= c && b > 1000.0 * median && a > 0.0 && c > 0.0)) {
        return std::nullopt;
    }
    const double la = std::log(a), lb = std::log(b), lc = std::log(c);
    const double curvature = la - 2.0 * lb + lc;
    const double offset = curvature < 0.0 ? 0.5 * (la - lc) / curvature : 0.0;
    return static_cast<double>(peak) + std::clamp(offset, -0.5, 0.5);
}

double CPhaseTrack::Bin() const {
    std::vector<double> magnitudes;
    for (const CPoint& point : m_aPoints) {
        magnitudes.push_back(std::abs(point.m_tone));
    }
    if (magnitudes.size() < 2) {
        return m_dBin;
    }
    std::vector<double> sorted = magnitudes;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                     sorted.end());
    const double floor = sorted[sorted.size() / 2] * 1e-3;
    double sumW = 0, sumX = 0, sumY = 0, sumXX = 0, sumXY = 0;
    std::optional<CPoint> previous;
    double unwrapped = 0.0;
    std::size_t used = 0;
    for (std::size_t i = 0; i < m_aPoints.size(); ++i) {
        const CPoint& point = m_aPoints[i];
        if (!(magnitudes[i] > floor)) {
            continue;
        }
        if (previous) {
            const auto gap = static_cast<double>(point.m_nSegment - previous->m_nSegment);
            unwrapped += Wrap(std::arg(point.m_tone) - std::arg(previous->m_tone) -
                              kTwoPi * std::fmod(m_dBin * gap, 1.0));
        }
        previous = point;
        const double w = magnitudes[i];
        const auto x = static_cast<double>(point.m_nSegment);
        sumW += w;
        sumX += w * x;
        sumY += w * unwrapped;
        sumXX += w * x * x;
        sumXY += w * x * unwrapped;
        ++used;
    }
    const double denominator = sumW * sumXX - sumX * sumX;
    if (used < 2 || !(denominator > 0.0)) {
        return m_dBin;
    }
    const double slope = (sumW * sumXY - sumX * sumY) / denominator; // radians per segment
    return m_dBin + slope / kTwoPi;
}

} // namespace analysis

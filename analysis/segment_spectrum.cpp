#include "analysis/segment_spectrum.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace analysis {

namespace {

// The modified Bessel function I0 by its power series, sum of ((x/2)^k / k!)^2: every term is
// positive, so it sums to full precision; for x up to 24 it needs about 45 terms.
double BesselI0(double x) {
    const double quarterSquare = x * x / 4.0;
    double term = 1.0, sum = 1.0;
    for (int k = 1; term > sum * 1e-17; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
    }
    return sum;
}

} // namespace

CSegmentSpectrum::CSegmentSpectrum(std::size_t frames)
    : m_nFrames(frames), m_fft(frames), m_aWindow(frames), m_aWindowed(frames), m_aBins(frames / 2) {
    if (frames < 64 || (frames & (frames - 1)) != 0) {
        throw std::invalid_argument("a segment must be a power of two of at least 64 frames");
    }
    const double half = static_cast<double>(frames / 2);
    const double norm = BesselI0(kKaiserBeta);
    double sumSquares = 0.0;
    for (std::size_t n = 1; n < frames; ++n) { // w_0 = 0 keeps the window symmetric about M/2
        const double r = (static_cast<double>(n) - half) / half;
        m_aWindow[n] = BesselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / norm;
        m_dWindowSum += m_aWindow[n];
        sumSquares += m_aWindow[n] * m_aWindow[n];
    }
    m_dPowerScale = 2.0 / (static_cast<double>(frames) * sumSquares);
    m_dNoiseBandwidth = static_cast<double>(frames) * sumSquares / (m_dWindowSum * m_dWindowSum);
}

void CSegmentSpectrum::Transform(const double* samples, std::size_t stride) {
    for (std::size_t n = 0; n < m_nFrames; ++n) {
        m_aWindowed[n] = m_aWindow[n] * samples[n * stride];
    }
    m_fft.Transform(m_aWindowed.data(), m_aBins.data());
}

double CSegmentSpectrum::DcPower(std::size_t k) const {
    std::complex<double> sum;
    const double w = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(m_nFrames);
    for (std::size_t n = 0; n < m_nFrames; ++n) {
        sum += m_aWindow[n] * std::polar(1.0, w * static_cast<double>(n));
    }
    return std::norm(sum) * m_dPowerScale;
}

bool CSegmentSpectrum::Measurable(double bin) const {
    const double nearest = std::round(bin);
    return nearest - kMainLobeBins >= 1.0 &&
           nearest + kMainLobeBins <= static_cast<double>(m_nFrames / 2 - 1);
}

std::complex<double> CSegmentSpectrum::ToneAt(double bin) const {
    const auto nearest = static_cast<std::ptrdiff_t>(std::lround(bin));
    std::complex<double> sum;
    for (std::ptrdiff_t k = nearest - kMainLobeBins; k <= nearest + kMainLobeBins; ++k) {
        sum += (k % 2 == 0 ? 1.0 : -1.0) * m_aBins[static_cast<std::size_t>(k)];
    }
    return sum * (2.0 / static_cast<double>(m_nFrames));
}

std::complex<double> CSegmentSpectrum::ToneAtFrequency(const double* samples, std::size_t stride,
                                                       double bin) const {
    // e^(-i w (n - M/2)) by a rotating phasor, set afresh every 256 samples from the exact angle.
    const double w = 2.0 * std::numbers::pi * bin / static_cast<double>(m_nFrames);
    const auto half = static_cast<double>(m_nFrames / 2);
    const std::complex<double> step = std::polar(1.0, -w);
    std::complex<double> sum;
    std::complex<double> rotor;
    for (std::size_t n = 0; n < m_nFrames; ++n) {
        if (n % 256 == 0) {
            rotor = std::polar(1.0, -w * (static_cast<double>(n) - half));
        }
        sum += (m_aWindow[n] * samples[n * stride]) * rotor;
        rotor *= step;
    }
    return sum * (2.0 / m_dWindowSum);
}

} // namespace analysis

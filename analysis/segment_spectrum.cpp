#include "analysis/segment_spectrum.h"

#include <algorithm>
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
    // Q(l) from the transform of w^2: bin l is (-1)^l Q(l), the window being centred on M/2.
    for (std::size_t n = 0; n < frames; ++n) {
        m_aWindowed[n] = m_aWindow[n] * m_aWindow[n];
    }
    m_fft.Transform(m_aWindowed.data(), m_aBins.data());
    for (std::size_t l = 0; l < m_aNoiseCorrelation.size(); ++l) {
        m_aNoiseCorrelation[l] = (l % 2 == 0 ? 1.0 : -1.0) * m_aBins[l].real();
    }
    std::fill(m_aBins.begin(), m_aBins.end(), std::complex<double>());
}

double CSegmentSpectrum::WindowTransform(double offsetBins) const {
    // The continuous window I0(beta sqrt(1 - (t/T)^2)) / I0(beta) over |t| <= T = M/2 has the
    // transform (M / I0(beta)) sinh(s) / s, s = sqrt(beta^2 - (pi d)^2) (sin(|s|) / |s| past the
    // main lobe), d in bins; the sampled window's sum matches it as the trapezoidal rule does a
    // smooth function that vanishes at its ends.
    const double x =
        kKaiserBeta * kKaiserBeta - std::numbers::pi * std::numbers::pi * offsetBins * offsetBins;
    double shape = 1.0;
    if (x > 1e-12) {
        shape = std::sinh(std::sqrt(x)) / std::sqrt(x);
    } else if (x < -1e-12) {
        shape = std::sin(std::sqrt(-x)) / std::sqrt(-x);
    }
    return static_cast<double>(m_nFrames) * shape / BesselI0(kKaiserBeta);
}

CSegmentSpectrum::CToneWeights CSegmentSpectrum::ToneWeights(double bin) const {
    constexpr std::size_t n = 2 * kMainLobeBins + 1;
    const double nearest = std::round(bin);
    std::array<double, n> h{};
    for (std::size_t k = 0; k < n; ++k) {
        h[k] = WindowTransform(nearest - kMainLobeBins + static_cast<double>(k) - bin);
    }
    // R = Q + lambda Q(0) I is symmetric positive definite: solve R x = h by Cholesky.
    std::array<std::array<double, n>, n> chol{};
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            double sum = m_aNoiseCorrelation[i - j] + (i == j ? 1e-4 * m_aNoiseCorrelation[0] : 0.0);
            for (std::size_t k = 0; k < j; ++k) {
                sum -= chol[i][k] * chol[j][k];
            }
            chol[i][j] = i == j ? std::sqrt(sum) : sum / chol[j][j];
        }
    }
    CToneWeights x{};
    for (std::size_t i = 0; i < n; ++i) {
        double sum = h[i];
        for (std::size_t k = 0; k < i; ++k) {
            sum -= chol[i][k] * x[k];
        }
        x[i] = sum / chol[i][i];
    }
    for (std::size_t i = n; i-- > 0;) {
        double sum = x[i];
        for (std::size_t k = i + 1; k < n; ++k) {
            sum -= chol[k][i] * x[k];
        }
        x[i] = sum / chol[i][i];
    }
    double gain = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        gain += x[k] * h[k];
    }
    for (double& c : x) {
        c /= gain;
    }
    return x;
}

double CSegmentSpectrum::ToneNoiseRms(const CToneWeights* weights, double noisePerBin) const {
    // A bin of white noise of variance sigma^2 holds sigma^2 Q(0) (2 / (M Q(0))) = 2 sigma^2 / M of power;
    // the sign-corrected bins' noise is correlated as sigma^2 Q(j - k).
    const double variance = noisePerBin * static_cast<double>(m_nFrames) / 2.0;
    const auto a = [&](std::size_t k) {
        return weights ? 2.0 * (*weights)[k] : 2.0 / static_cast<double>(m_nFrames);
    };
    double sum = 0.0;
    for (std::size_t j = 0; j < m_aNoiseCorrelation.size(); ++j) {
        for (std::size_t k = 0; k < m_aNoiseCorrelation.size(); ++k) {
            sum += a(j) * a(k) * m_aNoiseCorrelation[j > k ? j - k : k - j];
        }
    }
    return std::sqrt(std::max(0.0, variance * sum / 2.0));
}

std::complex<double> CSegmentSpectrum::WeightedToneAt(double bin, const CToneWeights& weights) const {
    const auto first = static_cast<std::ptrdiff_t>(std::lround(bin)) - kMainLobeBins;
    std::complex<double> sum;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const auto k = first + static_cast<std::ptrdiff_t>(i);
        sum += ((k % 2 == 0 ? 2.0 : -2.0) * weights[i]) * m_aBins[static_cast<std::size_t>(k)];
    }
    return sum;
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

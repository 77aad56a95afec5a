#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <vector>

#include "analysis/real_fft.h"

namespace analysis {

// One segment of M samples seen through a Kaiser window (beta 24, zero at sample 0, 1 at the
// centre sample M/2, symmetric about it), and what its spectrum says.
//
// WHY A TONE IS MEASURED EXACTLY AT ANY FREQUENCY
// With the phase taken at the centre sample, the window's transform W(v) = sum w_n e^(i v (n - M/2))
// is real, and positive across its main lobe (about 7.8 bins either side). A tone A cos(w n + p)
// puts (A/2) e^(i phi) W(w - w_k) (-1)^k into bin k, phi being its phase at the centre sample. So
//   - every bin of the main lobe, sign-corrected by (-1)^k, has the tone's phase phi exactly;
//   - summed over all M bins, W(w - w_k) adds up to M w_(M/2) = M (the inverse transform at the centre
//     sample). The main lobe holds all of it but the side lobes (below -170 dB here), so
//     (2 / M) x the sum of the sign-corrected bins within kMainLobeBins of the tone is A e^(i phi),
//     within 1e-10, wherever the tone lies between bins.
// The side lobes fall below -170 dB from 8 bins out and below -200 dB from 9, so bins more than
// kGuardBins from every tone hold only noise and distortion. A bin's power is scaled so that the
// powers of all bins add up to the mean square of the samples (for noise), and those of a tone's
// main lobe to its mean square A^2 / 2.
//
// WHY A STIMULUS TONE IS WEIGHTED RATHER THAN SUMMED
// The plain sum over the main lobe sees the samples through w_n times a Dirichlet kernel about the
// centre: about a sixth of the segment, so its noise is near 4x that of a least-squares fit over
// the segment. A tone of known frequency is better taken as the unbiased combination of the same
// 2 kMainLobeBins + 1 sign-corrected bins Y_k = z W(k - b) + e_k with the least noise: the noise's
// correlation between bins j and k is Q(j - k) = sum w_n^2 e^(-2 pi i (j - k) (n - M/2) / M), so the
// weights are c = R^-1 h / (h' R^-1 h), h_k = W(k - b), R = Q + lambda Q(0) I. lambda (1e-4) keeps
// the weights small enough that a tone kSeparationBins away leaks in below -180 dB of its own
// amplitude, at a cost of 10 % in noise: about 1.2x the least-squares bound instead of 1.1x.
class CSegmentSpectrum {
public:
    static constexpr int kMainLobeBins = 8;
    static constexpr int kGuardBins = 9;
    static constexpr double kKaiserBeta = 24.0;

    // `frames` (M): a power of two, at least 64.
    explicit CSegmentSpectrum(std::size_t frames);

    std::size_t Frames() const { return m_nFrames; }
    // Windows M samples, one every `stride` values from `samples`, and transforms them.
    void Transform(const double* samples, std::size_t stride = 1);
    // The bins of the last transform, 0 .. M/2 - 1.
    const std::vector<std::complex<double>>& Bins() const { return m_aBins; }
    // A tone's amplitude and phase at the centre sample, A e^(i phi), for a tone at `bin`
    // (frequency x M / rate). The tone's main lobe must lie within the bins: Measurable(bin).
    std::complex<double> ToneAt(double bin) const;
    bool Measurable(double bin) const;
    // The weights that take a tone of known frequency at `bin` from the bins of its main lobe with
    // the least noise (see above); `bin` Measurable. Depends only on `bin`: compute once per line.
    using CToneWeights = std::array<double, 2 * kMainLobeBins + 1>;
    CToneWeights ToneWeights(double bin) const;
    // A e^(i phi) of the tone at `bin` from the last transform, by `weights` = ToneWeights(bin).
    std::complex<double> WeightedToneAt(double bin, const CToneWeights& weights) const;
    // The RMS of the noise in the amplitude of a tone that ToneAt (`weights` null) or WeightedToneAt
    // (`weights`) takes from a segment of white noise whose bins hold `noisePerBin` each (Power's
    // units): the real part of the complex estimate's noise, sqrt(sigma^2 sum a_j a_k Q(j - k) / 2).
    double ToneNoiseRms(const CToneWeights* weights, double noisePerBin) const;
    // The window's transform W at `offsetBins` from its centre frequency, from the closed form of the
    // continuous Kaiser window's transform (which the sampled window matches within 1e-12 of W(0)).
    double WindowTransform(double offsetBins) const;
    // Bin k's power in mean-square units (see above).
    double Power(std::size_t k) const { return std::norm(m_aBins[k]) * m_dPowerScale; }
    // The window's equivalent noise bandwidth in bins.
    double NoiseBandwidthBins() const { return m_dNoiseBandwidth; }
    // The last transform's DC: the window-weighted mean of its samples, which a whole number of
    // periods of any line (at least a main lobe from 0 Hz) does not move.
    double Dc() const { return m_aBins[0].real() / m_dWindowSum; }
    // What a constant of 1 puts into bin k's power (the DC's main lobe, for k up to kMainLobeBins).
    double DcPower(std::size_t k) const;

    // The windowed transform of M samples at one frequency `bin`, normalised so that a tone at that
    // very frequency gives A e^(i phi) (phase at the centre sample); off it, the amplitude falls with
    // the main lobe while the phase stays the tone's. Cheaper than Transform for one frequency.
    std::complex<double> ToneAtFrequency(const double* samples, std::size_t stride, double bin) const;

private:
    std::size_t m_nFrames;
    CRealFft m_fft;
    std::vector<double> m_aWindow;
    std::vector<double> m_aWindowed;
    std::vector<std::complex<double>> m_aBins;
    double m_dPowerScale = 0.0; // 2 / (M x sum of w^2)
    double m_dWindowSum = 0.0;  // sum of w
    double m_dNoiseBandwidth = 0.0;
    std::array<double, 2 * kMainLobeBins + 1> m_aNoiseCorrelation{}; // Q(0 .. 2 kMainLobeBins)
};

} // namespace analysis

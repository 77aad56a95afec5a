// The segment spectrum's weighted tone estimate: its window transform against a direct sum over the
// sampled window, and what the weights let in from a tone a separation away.
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/analysis_stages.h"
#include "analysis/segment_spectrum.h"

namespace {

constexpr double kPi = std::numbers::pi;

// The sampled Kaiser window (beta 24, zero at 0, centred on M/2) built here from its definition.
std::vector<double> KaiserWindow(std::size_t frames) {
    std::vector<double> window(frames, 0.0);
    const double half = static_cast<double>(frames / 2);
    for (std::size_t n = 1; n < frames; ++n) {
        const double r = (static_cast<double>(n) - half) / half;
        window[n] = std::cyl_bessel_i(0.0, 24.0 * std::sqrt(1.0 - r * r)) / std::cyl_bessel_i(0.0, 24.0);
    }
    return window;
}

TEST(SegmentSpectrum, WindowTransformMatchesTheSampledWindow) {
    constexpr std::size_t kFrames = 4096;
    const analysis::CSegmentSpectrum spectrum(kFrames);
    const std::vector<double> window = KaiserWindow(kFrames);
    const double peak = spectrum.WindowTransform(0.0);
    for (const double offset : {0.0, 0.37, 2.5, 7.64, 7.9, 8.5, -9.3}) {
        double direct = 0.0;
        for (std::size_t n = 0; n < kFrames; ++n) {
            direct +=
                window[n] * std::cos(2.0 * kPi * offset * (static_cast<double>(n) - kFrames / 2.0) / kFrames);
        }
        EXPECT_NEAR(spectrum.WindowTransform(offset), direct, 1e-11 * peak) << offset;
    }
}

// A tone anywhere between bins is taken exactly by its weights; a tone a separation away (where the
// analysis keeps its neighbours) leaks in below -180 dB of its own amplitude; and the weights' noise
// is near that of a least-squares fit over the segment.
TEST(SegmentSpectrum, WeightedToneIsExactUnleakedAndNearTheBound) {
    constexpr std::size_t kFrames = 8192;
    analysis::CSegmentSpectrum spectrum(kFrames);
    const std::vector<double> window = KaiserWindow(kFrames);
    for (const double bin : {200.0, 200.25, 200.5, 731.83}) {
        const auto weights = spectrum.ToneWeights(bin);
        for (const double apart :
             {0.0, analysis::stages::kSeparationBins, -analysis::stages::kSeparationBins - 0.4}) {
            std::vector<double> samples(kFrames);
            for (std::size_t n = 0; n < kFrames; ++n) {
                const double centred = static_cast<double>(n) - kFrames / 2.0;
                samples[n] =
                    0.5 * std::cos(2.0 * kPi * bin * centred / kFrames + 1.1) +
                    (apart == 0.0 ? 0.0 : 50.0 * std::cos(2.0 * kPi * (bin + apart) * centred / kFrames));
            }
            spectrum.Transform(samples.data());
            const std::complex<double> tone = spectrum.WeightedToneAt(bin, weights);
            EXPECT_LT(std::abs(tone - std::polar(0.5, 1.1)), apart == 0.0 ? 0.5e-10 : 50.0 * 1e-9)
                << bin << " " << apart;
        }
        // Noise: the weights' variance through the window, sum over n of |sum_k c_k 2 w_n e^(..)|^2,
        // against the least-squares 4 / M (both for unit noise variance).
        double variance = 0.0;
        const auto first = std::lround(bin) - analysis::CSegmentSpectrum::kMainLobeBins;
        for (std::size_t n = 0; n < kFrames; ++n) {
            std::complex<double> gain;
            for (std::size_t i = 0; i < weights.size(); ++i) {
                const double k = static_cast<double>(first) + static_cast<double>(i);
                gain += 2.0 * weights[i] * window[n] *
                        std::polar(1.0, -2.0 * kPi * k * (static_cast<double>(n) - kFrames / 2.0) / kFrames);
            }
            variance += std::norm(gain);
        }
        EXPECT_LT(std::sqrt(variance / (4.0 / kFrames)), 1.3) << bin;
    }
}

} // namespace

namespace {

// The noise a tone's estimate picks up from white noise, as ToneNoiseRms predicts it from the noise's
// power per bin, against its scatter over 400 segments of Gaussian noise (known to 4 %).
TEST(SegmentSpectrum, ToneNoiseMatchesItsScatterInWhiteNoise) {
    constexpr std::size_t kFrames = 4096;
    analysis::CSegmentSpectrum spectrum(kFrames);
    const double bin = 300.3;
    const auto weights = spectrum.ToneWeights(bin);
    std::mt19937_64 random(11);
    std::normal_distribution<double> gauss(0.0, 0.01);
    std::vector<double> samples(kFrames);
    double plain = 0.0, weighted = 0.0, power = 0.0;
    constexpr int kSegments = 400;
    for (int s = 0; s < kSegments; ++s) {
        for (double& sample : samples) {
            sample = gauss(random);
        }
        spectrum.Transform(samples.data());
        plain += std::pow(spectrum.ToneAt(bin).real(), 2) / kSegments;
        weighted += std::pow(spectrum.WeightedToneAt(bin, weights).real(), 2) / kSegments;
        for (std::size_t k = 100; k < 1900; ++k) {
            power += spectrum.Power(k) / (1800.0 * kSegments);
        }
    }
    EXPECT_NEAR(std::sqrt(plain) / spectrum.ToneNoiseRms(nullptr, power), 1.0, 0.1);
    EXPECT_NEAR(std::sqrt(weighted) / spectrum.ToneNoiseRms(&weights, power), 1.0, 0.1);
    EXPECT_GT(std::sqrt(plain) / std::sqrt(weighted), 2.5)
        << "the weights' noise is far below the plain sum's";
}

} // namespace

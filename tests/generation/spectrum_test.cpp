// Checks the signal's content by measuring it, independently of how it is computed: a Goertzel
// filter gives the amplitude at each expected frequency, and silence where nothing belongs.
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

#include "generation/job_sources.h"

namespace {

// Amplitude of the component at `frequency` in `samples` (an integer number of its periods, so
// no window is needed).
double GoertzelAmplitude(const std::vector<double>& samples, double frequency, double rate) {
    const double w = 2 * M_PI * frequency / rate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (double x : samples) {
        const double s = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

struct Channels {
    std::vector<double> left, right;
};

// One second at 44100 Hz: every frequency below is a whole number of hertz, so a whole number
// of periods.
Channels Render(const CGenerationSettings& settings) {
    CJobSources sources;
    PrepareSources(settings, sources);
    Channels channels;
    for (std::uint32_t i = 0; i < settings.m_nSampleRate; ++i) {
        const CFrameValues v = NextFrameValues(sources);
        channels.left.push_back(v.m_dLeft / 32767);
        channels.right.push_back(v.m_dRight / 32767);
    }
    return channels;
}

} // namespace

TEST(Spectrum, LeftHoldsOddHarmonicsFromTheThirdAtOneOverN) {
    const CGenerationSettings settings;
    const Channels c = Render(settings);
    EXPECT_LT(GoertzelAmplitude(c.left, 277, 44100), 1e-6) << "the fundamental is absent";
    for (int n = 2; n <= 80; ++n) {
        const double amplitude = GoertzelAmplitude(c.left, 277.0 * n, 44100);
        const bool inBank = n % 2 == 1 && n >= 3 && 277.0 * n < 20947.5;
        EXPECT_NEAR(amplitude, inBank ? 1.0 / n : 0.0, 1e-6) << "harmonic " << n;
    }
    // The right channel is the fundamental alone at 0.9.
    EXPECT_NEAR(GoertzelAmplitude(c.right, 277, 44100), 0.9, 1e-4);
    EXPECT_LT(GoertzelAmplitude(c.right, 831, 44100), 1e-4);
}

TEST(Spectrum, DaughtersAreSideBandsWithoutTheirCarrier) {
    CGenerationSettings settings;
    settings.m_dMotherAmplitude = 0.0;
    settings.m_dCarrierFreq1 = 5000;
    settings.m_dDaughterAmplitude1 = 0.5;
    settings.m_dCarrierFreq2 = 8000;
    settings.m_dDaughterAmplitude2 = 0.25;
    const Channels c = Render(settings);
    // sin(a) sin(b) = (cos(a - b) - cos(a + b)) / 2: half the level at each side frequency.
    for (double f : {5000.0 - 277, 5000.0 + 277}) {
        EXPECT_NEAR(GoertzelAmplitude(c.left, f, 44100), 0.25, 1e-6) << f;
    }
    for (double f : {8000.0 - 277, 8000.0 + 277}) {
        EXPECT_NEAR(GoertzelAmplitude(c.left, f, 44100), 0.125, 1e-6) << f;
    }
    for (double f : {277.0, 831.0, 5000.0, 8000.0}) {
        EXPECT_LT(GoertzelAmplitude(c.left, f, 44100), 1e-6) << f;
    }
}

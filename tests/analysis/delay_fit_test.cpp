// The delay fit against phases made from the delay's own formula: theta_n = -2 pi f_n tau (+ pi when
// inverted), on any branch. Odd harmonics alone fold a delay beyond a quarter period of f0 onto
// tau - T/2 with the polarity inverted: the fit must give exactly that fold.
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

#include "analysis/delay_fit.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kF0 = 277.0;

std::vector<analysis::CPhasePoint> Phases(double tauS, bool inverted, double noiseRad = 0.0) {
    std::vector<analysis::CPhasePoint> points;
    for (unsigned n = 3; n <= 41; n += 2) {
        const double f = n * kF0;
        // A deterministic spread of errors in place of noise, and a branch 2 pi k away.
        const double error = noiseRad * std::sin(1.7 * n);
        const double theta = -2.0 * kPi * f * tauS + (inverted ? kPi : 0.0) + error + 2.0 * kPi * (n % 3);
        points.push_back({n, f, theta, 1.0 / n});
    }
    return points;
}

TEST(DelayFit, RecoversDelayAndPolarityWithinAQuarterPeriodAndFoldsBeyondIt) {
    const double period = 1.0 / kF0;
    const struct {
        double m_dTauS;
        bool m_bInverted;
        double m_dExpectedS;
        analysis::EPolarity m_eExpected;
    } cases[] = {
        {0.0, false, 0.0, analysis::EPolarity::Normal},
        {20.4e-6, false, 20.4e-6, analysis::EPolarity::Normal},
        {-0.5e-3, true, -0.5e-3, analysis::EPolarity::Inverted},
        {0.24 * period, false, 0.24 * period, analysis::EPolarity::Normal},
        // Beyond a quarter period: the same phases as tau - T/2, inverted.
        {1.2e-3, false, 1.2e-3 - period / 2.0, analysis::EPolarity::Inverted},
        {-1.2e-3, true, -1.2e-3 + period / 2.0, analysis::EPolarity::Normal},
    };
    for (const auto& c : cases) {
        const analysis::CDelayFit fit = analysis::FitDelay(Phases(c.m_dTauS, c.m_bInverted), kF0);
        ASSERT_TRUE(fit.m_dDelayS) << c.m_dTauS;
        EXPECT_NEAR(*fit.m_dDelayS, c.m_dExpectedS, 1e-10) << c.m_dTauS;
        EXPECT_EQ(fit.m_ePolarity, c.m_eExpected) << c.m_dTauS;
    }
    // Phase errors of 0.01 rad move the delay by about 0.01 / (2 pi f) at most.
    const analysis::CDelayFit noisy = analysis::FitDelay(Phases(0.3e-3, false, 0.01), kF0);
    ASSERT_TRUE(noisy.m_dDelayS);
    EXPECT_NEAR(*noisy.m_dDelayS, 0.3e-3, 0.01 / (2.0 * kPi * 3 * kF0));
    // One harmonic, or none two apart, gives no delay.
    EXPECT_FALSE(analysis::FitDelay({{3, 3 * kF0, 0.1, 1.0}}, kF0).m_dDelayS);
    EXPECT_FALSE(analysis::FitDelay({}, kF0).m_dDelayS);
}

} // namespace

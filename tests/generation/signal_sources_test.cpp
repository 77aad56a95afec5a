#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>

#include "generation/job_sources.h"
#include "generation/signal_sources.h"

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

CMotherSignal Bank(double rate, double f0, double amplitude, double factor) {
    CMotherSignal bank;
    bank.m_dSampleRate = rate;
    bank.m_dFundamental = f0;
    bank.m_dAmplitude = amplitude;
    bank.m_dNyquistFactor = factor;
    bank.Build();
    return bank;
}

// The build loop as written, with an iteration cap: the count must agree with it.
std::size_t NaiveCount(double rate, double f0, double factor) {
    std::size_t count = 0;
    for (int n = 3; count <= kMaxHarmonics + 1; n += 2) {
        if (rate * 0.5 * factor <= f0 * n) {
            return count;
        }
        ++count;
    }
    return count;
}
} // namespace

TEST(MotherSignal, DefaultBankHolds37OddHarmonics) {
    const CMotherSignal bank = Bank(44100, 277, 1.0, 0.95);
    ASSERT_EQ(bank.m_aSines.size(), 37u);
    for (std::size_t i = 0; i < bank.m_aSines.size(); ++i) {
        const int n = 3 + 2 * static_cast<int>(i);
        const CSine& sine = bank.m_aSines[i];
        EXPECT_EQ(sine.m_dFrequency, 277.0 * n);
        EXPECT_EQ(sine.m_dAmplitude, 1.0 / n);
        EXPECT_EQ(sine.m_dPhase, 0.0);
        EXPECT_EQ(sine.m_dSampleRate, 44100.0);
        EXPECT_EQ(sine.m_dPhaseIncrement, (277.0 * n / 44100.0) * TWO_PI);
    }
    EXPECT_EQ(bank.m_aSines.front().m_dFrequency, 831.0);
    EXPECT_EQ(bank.m_aSines.back().m_dFrequency, 20775.0);
}

TEST(MotherSignal, HarmonicExactlyAtTheLimitIsLeftOut) {
    // L = 1000 x 0.5 x 1 = 500: n = 3 (300 Hz) is in, n = 5 (500 Hz) is not.
    EXPECT_EQ(Bank(1000, 100, 1, 1).m_aSines.size(), 1u);
    // Just above 500 the fifth harmonic fits.
    EXPECT_EQ(Bank(1000, 100, 1, 1.0000001).m_aSines.size(), 2u);
}

TEST(MotherSignal, RebuildReplacesTheBank) {
    CMotherSignal bank = Bank(44100, 277, 1, 0.95);
    bank.m_dNyquistFactor = 0.0;
    bank.Build();
    EXPECT_TRUE(bank.m_aSines.empty());
    EXPECT_EQ(bank.NextSample(), 0.0);
}

struct BankCase {
    double rate, f0, factor;
    EBankSize kind;
};

class BankSizeTest : public testing::TestWithParam<BankCase> {};

TEST_P(BankSizeTest, CountMatchesTheBuildLoop) {
    const BankCase c = GetParam();
    const CBankSize size = CountHarmonics(c.rate, c.f0, c.factor);
    ASSERT_EQ(size.m_eKind, c.kind);
    if (c.kind == EBankSize::Bounded) {
        EXPECT_EQ(size.m_nCount, NaiveCount(c.rate, c.f0, c.factor));
        EXPECT_EQ(Bank(c.rate, c.f0, 1, c.factor).m_aSines.size(), size.m_nCount);
    } else {
        CMotherSignal bank;
        bank.m_dSampleRate = c.rate;
        bank.m_dFundamental = c.f0;
        bank.m_dNyquistFactor = c.factor;
        EXPECT_THROW(bank.Build(), std::length_error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BankSizeTest,
    testing::Values(
        BankCase{44100, 277, 0.95, EBankSize::Bounded}, BankCase{44100, 277, 0, EBankSize::Bounded},
        BankCase{44100, 0, 0, EBankSize::Bounded},              // factor 0 and f0 0: empty
        BankCase{44100, 20947.5 / 3, 0.95, EBankSize::Bounded}, // f0 = L/3: empty
        BankCase{0, 277, 0.95, EBankSize::Bounded},             // rate 0: empty
        BankCase{44100, 1e300, 1, EBankSize::Bounded}, BankCase{48000, 1, 1, EBankSize::Bounded},
        BankCase{96000, 0.9, 1, EBankSize::Bounded}, BankCase{1000000, 7.3, 0.99, EBankSize::Bounded},
        BankCase{44100, 0.16823, 1, EBankSize::Bounded}, // 65534 harmonics: just under the bound
        BankCase{44100, 0.16822, 1, EBankSize::TooMany}, // 65538: just over it
        BankCase{44100, 1e-300, 1, EBankSize::TooMany}, BankCase{44100, 0, 0.95, EBankSize::NeverEnds},
        BankCase{44100, -5, 0.95, EBankSize::NeverEnds}, BankCase{0, -5, 0.95, EBankSize::NeverEnds},
        BankCase{44100, -5, -1, EBankSize::Bounded}, // L = -22050 <= -15: stops at once
        BankCase{44100, kNaN, 0.95, EBankSize::NeverEnds}, BankCase{44100, 277, kNaN, EBankSize::NeverEnds},
        BankCase{44100, 277, kInf, EBankSize::NeverEnds}, BankCase{0, 277, kInf, EBankSize::NeverEnds},
        BankCase{44100, kInf, 0.95, EBankSize::Bounded}));

TEST(Sine, StepsByTheWrapRule) {
    CSine sine;
    ConfigureSine(sine, 4, 1, 2.0); // increment pi/2
    EXPECT_EQ(sine.m_dPhaseIncrement, TWO_PI / 4);
    EXPECT_EQ(sine.NextSample(), 0.0); // first value is sin(0)
    EXPECT_DOUBLE_EQ(sine.NextSample(), 2.0);

    // A phase that lands exactly on TWO_PI stays there; the next step wraps once.
    CSine exact;
    exact.m_dPhase = TWO_PI / 2;
    exact.m_dPhaseIncrement = TWO_PI / 2;
    exact.m_dAmplitude = 1;
    exact.NextSample();
    EXPECT_EQ(exact.m_dPhase, TWO_PI);
    exact.NextSample();
    EXPECT_EQ(exact.m_dPhase, (TWO_PI + TWO_PI / 2) - TWO_PI);

    // An increment above TWO_PI grows the phase by the excess each step: no loop of wraps.
    CSine fast;
    ConfigureSine(fast, 1000, 2500, 1); // increment 2.5 x TWO_PI
    double expected = 0.0;
    for (int i = 0; i < 5; ++i) {
        fast.NextSample();
        expected = StepPhase(expected, fast.m_dPhaseIncrement);
        EXPECT_EQ(fast.m_dPhase, expected);
    }
    EXPECT_GT(fast.m_dPhase, 5 * TWO_PI);

    // A negative frequency runs the phase down without any wrap.
    CSine down;
    ConfigureSine(down, 100, -10, 1);
    double last = 0.0;
    for (int i = 0; i < 50; ++i) {
        const double value = down.NextSample();
        EXPECT_EQ(value, std::sin(last));
        EXPECT_LT(down.m_dPhase, last);
        last = down.m_dPhase;
    }
}

TEST(Sine, PhaseStaysInsideOneTurnForOrdinaryIncrements) {
    for (double frequency : {1.0, 277.0, 20775.0, 44100.0}) {
        CSine sine;
        ConfigureSine(sine, 44100, frequency, 1);
        for (int i = 0; i < 10000; ++i) {
            sine.NextSample();
            ASSERT_GT(sine.m_dPhase, 0.0);
            ASSERT_LE(sine.m_dPhase, TWO_PI);
        }
    }
}

TEST(Sources, SecondMotherSampleIsTheSumOfTheFirstPhaseSteps) {
    CMotherSignal bank = Bank(44100, 277, 1, 0.95);
    EXPECT_EQ(bank.NextSample(), 0.0);
    double expected = 0.0;
    for (int n = 3; n <= 75; n += 2) {
        expected += (1.0 / n) * std::sin(2 * M_PI * n * 277 / 44100);
    }
    EXPECT_NEAR(bank.NextSample(), expected, 1e-12);
}

TEST(Sources, SilentDaughterStillAdvances) {
    CDaughterSignal daughter;
    daughter.m_dSampleRate = 44100;
    daughter.m_dCarrierFreq = 3878;
    daughter.m_dModulatorFreq = 277;
    daughter.m_dAmplitude = 0.0;
    daughter.Prepare();
    EXPECT_EQ(daughter.m_carrier.m_dAmplitude, 1.0);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(daughter.NextSample(), 0.0);
    }
    EXPECT_NEAR(daughter.m_carrier.m_dPhase, 10 * ((3878.0 / 44100) * TWO_PI), 1e-12);
    EXPECT_GT(daughter.m_modulator.m_dPhase, 0.0);
}

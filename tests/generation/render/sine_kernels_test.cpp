// The kernels on their own: selection, the wrapped sine's accuracy, and the finishing contract
// (samples, edge flags and peaks) against the scalar rounding rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "generation/job_plan.h"
#include "generation/job_sources.h"
#include "generation/render/kernel_body.h"
#include "generation/render/render_plan.h"
#include "generation/render/sine_kernels.h"
#include "generation/signal_sources.h"
#include "generation/wav_format.h"

namespace {

using namespace render;

TEST(SineKernels, SelectionByName) {
    EXPECT_STREQ(SelectKernel("scalar").m_szName, "scalar");
    EXPECT_STREQ(SelectKernel("").m_szName, AvailableKernels().front()->m_szName);
    EXPECT_EQ(AvailableKernels().back()->m_szName, std::string("scalar"));
    EXPECT_THROW(SelectKernel("neon"), std::invalid_argument);
}

// The sine and cosine the renderer uses for wrapped phases, against the long double ones: a dense grid over
// [0, TWO_PI] and the neighbours of every multiple of pi/2, where the reduction changes quadrant.
TEST(SineKernels, WrappedSineStaysWithinItsBound) {
    std::vector<double> phases;
    constexpr int kGrid = 1 << 19;
    for (int i = 0; i <= kGrid; ++i) {
        phases.push_back(std::fmin(TWO_PI * i / kGrid, TWO_PI));
    }
    for (int quarter = 0; quarter <= 4; ++quarter) {
        double x = quarter * (TWO_PI / 4.0);
        double below = x;
        double above = x;
        for (int step = 0; step < 64; ++step) {
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, TWO_PI);
            phases.push_back(below);
            phases.push_back(above);
        }
        phases.push_back(x);
    }
    phases.push_back(std::numeric_limits<double>::denorm_min());
    phases.push_back(TWO_PI);
    while (phases.size() % 8 != 0) {
        phases.push_back(0.0);
    }
    std::vector<double> sines(phases.size()), cosines(phases.size());
    for (const CSineKernel* kernel : AvailableKernels()) {
        kernel->m_pWrappedSinCos(phases.data(), sines.data(), cosines.data(), phases.size());
        long double worst = 0.0L;
        double worstAt = 0.0;
        for (std::size_t i = 0; i < phases.size(); ++i) {
            const long double x = phases[i];
            const long double error =
                std::max(std::fabs(sines[i] - std::sin(x)), std::fabs(cosines[i] - std::cos(x)));
            if (error > worst) {
                worst = error;
                worstAt = phases[i];
            }
        }
        EXPECT_LT(worst, 1e-15L) << kernel->m_szName << " at " << worstAt;
    }
}

// The stepping that decides each wrap by a threshold before the add gives the plain rule's phases,
// bit for bit: millions of steps of ordinary increments, and every odd increment and start phase.
TEST(SineKernels, SteppingByThresholdIsThePlainRule) {
    const double infinity = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> increments = {(831.0 / 44100.0) * TWO_PI,
                                            (20775.0 / 44100.0) * TWO_PI,
                                            0.1,
                                            TWO_PI,
                                            std::nextafter(TWO_PI, 0.0),
                                            3.0,
                                            7.0,
                                            -0.3,
                                            -TWO_PI,
                                            0.0,
                                            5e-324,
                                            1e-300,
                                            1e300,
                                            nan,
                                            infinity,
                                            -infinity};
    const std::vector<double> starts = {0.0, TWO_PI, 6.2, -1e300, 1e300, nan, infinity, -infinity};
    const auto same = [](double a, double b) {
        return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b);
    };
    for (std::size_t which = 0; which < increments.size(); ++which) {
        const double increment = increments[which];
        // Eight start phases side by side; the first three increments, the bank's, get two million steps.
        const std::size_t steps = which < 3 ? 2'000'000 : 20'000;
        std::vector<double> plain(starts);
        for (double& phase : plain) {
            for (std::size_t step = 0; step < steps; ++step) {
                phase = StepPhase(phase, increment);
            }
        }
        const std::vector<double> incrementsOf(8, increment), thresholds(8, WrapThreshold(increment));
        for (const CSineKernel* kernel : AvailableKernels()) {
            std::vector<double> phases(starts);
            kernel->m_pAdvance(phases.data(), incrementsOf.data(), thresholds.data(), 8, steps);
            for (std::size_t i = 0; i < starts.size(); ++i) {
                EXPECT_TRUE(same(phases[i], plain[i]))
                    << kernel->m_szName << " increment " << increment << " from " << starts[i] << ": "
                    << phases[i] << " instead of " << plain[i];
            }
        }
    }
}

// Within `margin` of a half or of full scale, or not finite: what the kernels must flag.
bool NearAnEdge(double value, double margin) {
    const double magnitude = std::fabs(value);
    if (!(magnitude < 4e15)) {
        return true;
    }
    return std::fabs(magnitude - std::floor(magnitude) - 0.5) < margin ||
           std::fabs(magnitude - 32767.0) < margin;
}

class KernelFinishingTest : public testing::TestWithParam<const CSineKernel*> {};

// The default bank at twice its amplitudes (so some frames clip), distinct phases per lane,
// the last lane poisoned with a NaN phase, and only the first half of the frames (plus 5) in the
// file, so that lanes end early or lie wholly past the end. Every frame in the file must be flagged
// exactly when near an edge (and its left flag when left is); every other frame must carry
// LeftSample and RightSample of its values, and the peaks must be the largest |left| of those
// frames only.
TEST_P(KernelFinishingTest, FlagsFramesNearAnEdgeAndRoundsTheRest) {
    const CSineKernel& kernel = *GetParam();
    const std::size_t width = kernel.m_nWidth;
    CJobSources sources;
    PrepareSources(CGenerationSettings{}, sources);
    std::vector<double> increments, amplitudes;
    for (const CSine& sine : sources.m_bank.m_aSines) {
        increments.push_back(sine.m_dPhaseIncrement);
        amplitudes.push_back(2.0 * sine.m_dAmplitude);
    }
    increments.push_back(sources.m_reference.m_dPhaseIncrement);
    std::vector<double> phases(increments.size() * width);
    for (std::size_t o = 0; o < increments.size(); ++o) {
        for (std::size_t lane = 0; lane < width; ++lane) {
            phases[o * width + lane] =
                std::fmod(0.37 * static_cast<double>(lane + 1) * static_cast<double>(o + 1), TWO_PI);
        }
    }
    if (width > 1) {
        phases[3 * width + width - 1] = std::numeric_limits<double>::quiet_NaN();
    }
    const std::size_t values = kLaneFrames * width;
    CLaneOutputs out(width);
    out.m_aPeaks.assign(width, -1.0); // a lane whose peak is never stored must fail
    CLaneBlock block;
    block.m_pIncrements = increments.data();
    block.m_pAmplitudes = amplitudes.data();
    block.m_nHarmonics = amplitudes.size();
    block.m_pStartPhases = phases.data();
    block.m_nFrames = kLaneFrames;
    block.m_nValidFrames = values / 2 + 5;
    block.m_dLeftMargin = 0.05;
    block.m_dRightMargin = 0.01;
    out.AttachTo(block);
    kernel.m_pRender(block);

    std::size_t flagged = 0, clipped = 0;
    for (std::size_t lane = 0; lane < width; ++lane) {
        double peak = 0.0;
        for (std::size_t k = 0; k < kLaneFrames; ++k) {
            const double l = out.m_aLeft[k * width + lane];
            const double r = out.m_aRight[k * width + lane];
            const bool inFile = lane * kLaneFrames + k < block.m_nValidFrames;
            const bool edge = inFile && (NearAnEdge(l, 0.05) || NearAnEdge(r, 0.01));
            ASSERT_EQ((out.m_aEdgeLanes[k] >> lane) & 1u, edge ? 1u : 0u)
                << "lane " << lane << " frame " << k << " left " << l << " right " << r;
            ASSERT_EQ((out.m_aLeftEdgeLanes[k] >> lane) & 1u, inFile && NearAnEdge(l, 0.05) ? 1u : 0u)
                << "lane " << lane << " frame " << k << " left " << l;
            if (!inFile || edge) {
                flagged += edge;
                continue;
            }
            const std::uint32_t expected =
                static_cast<std::uint16_t>(LeftSample(l)) |
                static_cast<std::uint32_t>(static_cast<std::uint16_t>(RightSample(r))) << 16;
            std::uint32_t actual = 0;
            std::memcpy(&actual, &out.m_aBytes[(k * width + lane) * 4], 4);
            ASSERT_EQ(actual, expected) << "lane " << lane << " frame " << k << " left " << l;
            peak = std::max(peak, std::fabs(l));
            clipped += std::fabs(l) > 32767.0;
        }
        EXPECT_EQ(out.m_aPeaks[lane], peak) << "lane " << lane;
    }
    EXPECT_GT(flagged, 0u);
    EXPECT_GT(clipped, 0u);
}

// The float format's edge test against its definition: a value within the margin of a midpoint
// between two neighbouring floats (found with nextafterf) must be flagged, and so must one that is
// not finite, beyond 3e38 or, with a margin, below the normal floats; the test may flag a little
// more, but never a normal value twice the margin away from every midpoint. The values sit at
// powers of two (where the gap below halves), near midpoints and anywhere in binades from 2^-126
// to 2^127.
TEST(SineKernels, FloatEdgesAreTheMidpointsBetweenFloats) {
    typedef double V2 __attribute__((vector_size(16)));
    typedef long long Mask2 __attribute__((vector_size(16)));
    const auto flagged = [](double value, double margin) {
        const Mask2 lanes = NearAFloatEdge<V2, Mask2>(V2{value, -value}, V2{margin, margin});
        EXPECT_EQ(lanes[0], lanes[1]) << value; // the sign does not matter
        return lanes[0] != 0;
    };
    const auto midpointDistance = [](double value) {
        const float nearest = static_cast<float>(value);
        const double up = (static_cast<double>(nearest) + std::nextafterf(nearest, INFINITY)) / 2.0;
        const double down = (static_cast<double>(nearest) + std::nextafterf(nearest, -INFINITY)) / 2.0;
        return std::min(std::fabs(value - up), std::fabs(value - down));
    };
    std::mt19937_64 random(20261208);
    std::size_t checked = 0, near = 0;
    for (int e = -126; e <= 127; e += 1 + (e > -120 && e < 120 ? 7 : 0)) {
        const double power = std::ldexp(1.0, e);
        for (const double margin : {power * 0x1p-20, power * 0x1.8p-25, power * 0x1p-26, power * 0x1p-40}) {
            std::vector<double> values = {power, std::nextafter(power, 0.0)};
            for (int i = 0; i < 200; ++i) {
                std::uniform_real_distribution<double> offset(-2.0 * margin, 2.0 * margin);
                values.push_back(power + offset(random));                   // around the power
                values.push_back(power * (1.0 + 0x1p-24) + offset(random)); // the first midpoint up
                values.push_back(power * std::uniform_real_distribution(1.0, 2.0)(random)); // anywhere
            }
            for (const double value : values) {
                if (!(value >= 0x1p-126 && value < 3e38)) {
                    continue;
                }
                const double distance = midpointDistance(value);
                const bool isFlagged = flagged(value, margin);
                near += distance < margin;
                ++checked;
                if (distance < margin) {
                    ASSERT_TRUE(isFlagged)
                        << value << " is " << distance << " from a midpoint; margin " << margin;
                } else if (isFlagged) {
                    ASSERT_LT(distance, 2.0 * margin) << value << " flagged with margin " << margin;
                }
            }
        }
    }
    EXPECT_GT(near, checked / 10);
    const double inf = std::numeric_limits<double>::infinity();
    for (const double value : {inf, std::numeric_limits<double>::quiet_NaN(), 3.1e38, 1e-39, 0.0}) {
        EXPECT_TRUE(flagged(value, 1e-300)) << value;
    }
    EXPECT_FALSE(flagged(1e-39, 0.0));
    EXPECT_FALSE(flagged(0.0, 0.0));
}

// Every kernel against the exact kernel on the same blocks: the values may differ only by the
// plan's bounds B_L and B_R (block_renderer.h, step 3), for settings with many harmonics, clipping,
// both daughters, a negative carrier, a high rate, and lanes that start deep into a file.
TEST(SineKernels, DifferencesStayWithinThePlansBounds) {
    const auto settings = [](void (*change)(CGenerationSettings&)) {
        CGenerationSettings s;
        change(s);
        return s;
    };
    const CGenerationSettings table[] = {
        CGenerationSettings{},
        settings([](CGenerationSettings& s) {
            s.m_dMotherAmplitude = 2.5;
            s.m_dDaughterAmplitude1 = 0.7;
            s.m_dCarrierFreq2 = -3001.5;
            s.m_dDaughterAmplitude2 = -0.4;
        }),
        settings([](CGenerationSettings& s) {
            s.m_nSampleRate = 192000;
            s.m_dFundamentalFreq = 31.7;
            s.m_dDaughterAmplitude1 = 0.2;
        }),
    };
    for (const CGenerationSettings& setting : table) {
        CJobSources sources;
        PrepareSources(setting, sources);
        const CSources view{sources.m_bank, sources.m_aDaughters, sources.m_reference};
        for (const CSineKernel* kernel : AvailableKernels()) {
            const CRenderPlan plan = MakeRenderPlan(view, 10'000'000, *kernel);
            const std::size_t width = kernel->m_nWidth;
            const std::size_t oscillators = plan.m_aIncrements.size();
            // Lane i starts i x 997 frames into the file (stepped exactly), plus 20011.
            std::vector<double> phases(plan.m_aStartPhases);
            ExactKernel().m_pAdvance(phases.data(), plan.m_aIncrements.data(), plan.m_aThresholds.data(),
                                     oscillators, 20'011);
            std::vector<double> lanes(oscillators * width);
            for (std::size_t lane = 0; lane < width; ++lane) {
                for (std::size_t o = 0; o < oscillators; ++o) {
                    lanes[o * width + lane] = phases[o];
                }
                ExactKernel().m_pAdvance(phases.data(), plan.m_aIncrements.data(), plan.m_aThresholds.data(),
                                         oscillators, 997);
            }
            CLaneOutputs out(width);
            CLaneBlock block = plan.Block(lanes.data(), kLaneFrames, out);
            block.m_nValidFrames = kLaneFrames * width;
            kernel->m_pRender(block);

            double worstLeft = 0.0, worstRight = 0.0;
            CLaneOutputs exactOut(1);
            std::vector<double> lanePhases(oscillators);
            for (std::size_t lane = 0; lane < width; ++lane) {
                for (std::size_t o = 0; o < oscillators; ++o) {
                    lanePhases[o] = lanes[o * width + lane];
                }
                CLaneBlock exact = block;
                exact.m_pStartPhases = lanePhases.data();
                exact.m_nValidFrames = kLaneFrames;
                exactOut.AttachTo(exact);
                ExactKernel().m_pRender(exact);
                for (std::size_t k = 0; k < kLaneFrames; ++k) {
                    worstLeft =
                        std::max(worstLeft, std::fabs(out.m_aLeft[k * width + lane] - exactOut.m_aLeft[k]));
                    worstRight = std::max(worstRight,
                                          std::fabs(out.m_aRight[k * width + lane] - exactOut.m_aRight[k]));
                }
            }
            EXPECT_LE(worstLeft, plan.m_dLeftBound) << kernel->m_szName;
            EXPECT_LE(worstRight, plan.m_dRightBound) << kernel->m_szName;
            if (kernel->m_bExact) {
                EXPECT_EQ(worstLeft, 0.0);
            } else {
                EXPECT_GT(worstLeft, 0.0) << kernel->m_szName << ": a kernel that differs from the reference";
            }
        }
    }
}

// One harmonic at a time, on every kernel and by each method the plan may choose (the resonator
// where its bound allows, the vector sine always): the sines of every frame of every lane stay
// within that harmonic's own bound. The increments: the default bank, the same at 192 kHz, a bank
// of 2830 harmonics (every 9th), one near pi, and tiny ones.
TEST(SineKernels, EveryHarmonicStaysWithinItsOwnBound) {
    static constexpr double kAmplitude = 0.37; // the resonator carries it; not a power of two
    std::vector<double> increments;
    for (const auto& [rate, f0, stride] :
         {std::tuple{44100.0, 277.0, 1}, {192000.0, 277.0, 1}, {44100.0, 3.7, 9}}) {
        const CJobPlan plan = [&] {
            CGenerationSettings settings;
            settings.m_nSampleRate = static_cast<std::uint32_t>(rate);
            settings.m_dFundamentalFreq = f0;
            return MakeJobPlan(settings);
        }();
        for (std::size_t h = 0; h < plan.m_aHarmonics.size(); h += stride) {
            increments.push_back((plan.m_aHarmonics[h].m_dFrequencyHz / rate) * TWO_PI);
        }
    }
    EXPECT_GT(increments.size(), 37 + 150 + 300u);
    increments.push_back(std::nextafter(TWO_PI / 2.0, 0.0));
    increments.push_back(7.1e-5);
    increments.push_back(1e-9);
    std::size_t resonators = 0;
    for (const CSineKernel* kernel : AvailableKernels()) {
        const std::size_t width = kernel->m_nWidth;
        for (double increment : increments) {
            const CResonatorBound resonator = ResonatorBound(increment, kernel->m_dSineError, kAmplitude);
            for (bool resonates : {false, true}) {
                if (resonates && !(kernel->m_bResonator && resonator.m_dError <= kMaxResonatorError)) {
                    continue;
                }
                // Lanes start 3, 10003, 20003, ... frames in, as the serial stepping reaches them.
                std::vector<double> starts;
                double phase = 0.0;
                for (std::size_t step = 0; starts.size() < width; ++step) {
                    if (step % 10000 == 3) {
                        starts.push_back(phase);
                    }
                    phase = StepPhase(phase, increment);
                }
                resonators += resonates;
                // The harmonic, then the silent reference tone, which keeps the vector sine.
                const double resonance[2] = {resonator.m_dResonance,
                                             std::numeric_limits<double>::quiet_NaN()};
                const double resonanceSin[2] = {resonator.m_dResonanceSin, 0.0};
                const double padding[8] = {increment};
                CLaneOutputs out(width);
                CLaneBlock block;
                block.m_pIncrements = padding;
                block.m_pAmplitudes = &kAmplitude;
                block.m_nHarmonics = 1;
                block.m_pResonance = resonates ? resonance : nullptr;
                block.m_pResonanceSin = resonanceSin;
                std::vector<double> lanes(2 * width, 0.0); // the harmonic, then the silent reference
                std::copy(starts.begin(), starts.end(), lanes.begin());
                block.m_pStartPhases = lanes.data();
                block.m_nFrames = kLaneFrames - 1; // odd: the resonator's last frame on its own
                block.m_nValidFrames = block.m_nFrames * width;
                out.AttachTo(block);
                kernel->m_pRender(block);
                const double bound = resonates ? resonator.m_dError : kernel->m_dSineError + 1.2e-16;
                long double worst = 0.0L;
                for (std::size_t lane = 0; lane < width; ++lane) {
                    double p = starts[lane];
                    for (std::size_t k = 0; k < block.m_nFrames; ++k, p = StepPhase(p, increment)) {
                        const long double value = out.m_aLeft[k * width + lane] / 32767.0L / kAmplitude;
                        worst = std::max(worst, std::fabs(value - std::sin(static_cast<long double>(p))));
                    }
                }
                EXPECT_LE(worst, bound + 3e-16) // and the roundings of the products with a and 32767
                    << kernel->m_szName << (resonates ? " resonator" : " sine") << " increment " << increment;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelFinishingTest, testing::ValuesIn(AvailableKernels()),
                         [](const testing::TestParamInfo<const CSineKernel*>& info) {
                             return std::string(info.param->m_szName);
                         });

} // namespace

#include "generation/render/render_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace render {

namespace {

constexpr double kUnitRoundoff = 0x1p-53;
// The standard library's sine is within one ulp of sin: 1.2e-16 for |sin| <= 1 (step 2).
constexpr double kLibrarySineError = 1.2e-16;

// e_o of step 2 for an oscillator stepped `frames` times from `phase` by `increment`.
double SineError(const CSineKernel& kernel, double phase, double increment, std::uint64_t frames) {
    if (kernel.m_bExact) {
        return 0.0;
    }
    const double reach =
        std::fabs(phase) + (static_cast<double>(frames) + 1.0) * (std::fabs(increment) + TWO_PI);
    return reach <= kTrustedPhase ? kernel.m_dSineError + kLibrarySineError : 2.0;
}

// A daughter at level 0 whose phases stay finite adds exactly +-0.0 to a sum that starts at +0.0,
// which changes no sum: it can be left out. One whose phases could overflow (and give NaN) cannot.
bool DaughterIsSilent(const CDaughterSignal& daughter, std::uint64_t frameCount) {
    const double bound = 1e300 / (static_cast<double>(frameCount) + 2.0);
    return daughter.m_dAmplitude == 0.0 && std::fabs(daughter.m_carrier.m_dPhaseIncrement) < bound &&
           std::fabs(daughter.m_modulator.m_dPhaseIncrement) < bound &&
           std::fabs(daughter.m_carrier.m_dPhase) < 1e300 && std::fabs(daughter.m_modulator.m_dPhase) < 1e300;
}

double MarginOf(double bound) {
    const double margin = kSafetyFactor * bound;
    // NaN or infinite amplitudes: no bound, so every frame is computed exactly.
    return margin < 1e300 ? margin : std::numeric_limits<double>::infinity();
}

// Half an ulp of a phase below 2 x TWO_PI: the rounding of one phase step (step 2's drift).
constexpr double kStepRounding = 8.9e-16;
// 2 pi - TWO_PI, what one wrap of a stepped phase moves it against the true period.
constexpr double kWrapShift = 2.45e-16;

} // namespace

CResonatorBound ResonatorBound(double increment, double seedError, double amplitude) {
    CResonatorBound bound;
    const double c = 2.0 * std::cos(increment);
    bound.m_dResonance = c;
    if (!(increment >= 0.0 && increment <= TWO_PI && std::fabs(c) < 2.0)) {
        bound.m_dError = std::numeric_limits<double>::infinity();
        return bound;
    }
    // theta = acos(c / 2), the angle the recurrence turns by exactly, in long double: acosl and
    // sqrtl are within 1e-18 here, far below every other term.
    const long double half = static_cast<long double>(c) / 2.0L; // exact
    const long double theta = std::acos(half);
    const long double sinTheta = std::sqrt((1.0L - half) * (1.0L + half));
    bound.m_dResonanceSin = static_cast<double>(sinTheta);
    const double frames = static_cast<double>(kLaneFrames - 1); // steps after a lane's first frame
    const double amplification = std::min<double>(kLaneFrames, 1.0 / static_cast<double>(sinTheta));
    // Seeds: a sin p; a (sin p cos theta + cos p sin theta): two products, a sum and sin theta
    // rounded, and each seed's product with the amplitude.
    const double seeds = seedError + 1.5 * seedError + 7.0 * kUnitRoundoff;
    // Each step rounds c y and the difference: at most 3u of |y| <= 1.01 |a|, amplified like the
    // seeds. Where y is subnormal a rounding may be off by up to 2^-1075 more; relative to |a| that
    // is nothing for a sounding amplitude, and where a is 0 every value is exactly 0.
    const double steps = frames * 3.0 * 1.01 * kUnitRoundoff;
    const double underflow = amplitude == 0.0 ? 0.0 : (3.0 * frames + 7.0) * 0x1p-1074 / std::fabs(amplitude);
    const double angle =
        frames * (static_cast<double>(std::fabs(theta - static_cast<long double>(increment))) + 1e-18);
    const double wraps = std::floor(frames * increment / TWO_PI) + 2.0;
    const double drift = frames * kStepRounding + wraps * kWrapShift;
    bound.m_dError = (seeds + steps + underflow) * amplification + angle + drift + kLibrarySineError;
    return bound;
}

namespace {

// Gives a harmonic or the reference (the next entry of the plan's resonance lists) a resonator
// where its bound is good, and returns its e_o (step 2). Where a block's phases are not wrapped the
// kernel falls back to the vector sine, so the bound covers both.
double ChooseMethod(const CSineKernel& kernel, double phase, double increment, double amplitude,
                    std::uint64_t frames, CRenderPlan& plan) {
    const double direct = SineError(kernel, phase, increment, frames);
    const CResonatorBound resonator = ResonatorBound(increment, kernel.m_dSineError, amplitude);
    const bool resonates = kernel.m_bResonator && !kernel.m_bExact && phase >= 0.0 && phase <= TWO_PI &&
                           resonator.m_dError <= kMaxResonatorError;
    plan.m_aResonance.push_back(resonates ? resonator.m_dResonance
                                          : std::numeric_limits<double>::quiet_NaN());
    plan.m_aResonanceSin.push_back(resonator.m_dResonanceSin);
    plan.m_nResonators += resonates;
    return resonates ? std::max(direct, resonator.m_dError) : direct;
}

} // namespace

CRenderPlan MakeRenderPlan(const CSources& sources, std::uint64_t frameCount, const CSineKernel& kernel,
                           const CFrameFormat& format) {
    CRenderPlan plan;
    plan.m_format = format;
    double sineTerms = 0.0; // step 3's sum of e x weight
    double magnitude = 0.0; // M
    for (const CSine& sine : sources.m_bank.m_aSines) {
        plan.m_aIncrements.push_back(sine.m_dPhaseIncrement);
        plan.m_aAmplitudes.push_back(sine.m_dAmplitude);
        plan.m_aStartPhases.push_back(sine.m_dPhase);
        const double e =
            ChooseMethod(kernel, sine.m_dPhase, sine.m_dPhaseIncrement, sine.m_dAmplitude, frameCount, plan);
        sineTerms += e * std::fabs(sine.m_dAmplitude);
        magnitude += (1.0 + e) * std::fabs(sine.m_dAmplitude);
    }
    plan.m_nHarmonics = sources.m_bank.m_aSines.size();
    const CReferenceTone& reference = sources.m_reference;
    plan.m_aIncrements.push_back(reference.m_dPhaseIncrement);
    plan.m_aStartPhases.push_back(reference.m_dPhase);
    // The reference takes a resonator on the same terms as a harmonic, with its sine unscaled.
    const double eReference =
        ChooseMethod(kernel, reference.m_dPhase, reference.m_dPhaseIncrement, 1.0, frameCount, plan);
    for (const CDaughterSignal& daughter : sources.m_aDaughters) {
        if (DaughterIsSilent(daughter, frameCount)) {
            continue;
        }
        plan.m_aIncrements.push_back(daughter.m_carrier.m_dPhaseIncrement);
        plan.m_aIncrements.push_back(daughter.m_modulator.m_dPhaseIncrement);
        plan.m_aStartPhases.push_back(daughter.m_carrier.m_dPhase);
        plan.m_aStartPhases.push_back(daughter.m_modulator.m_dPhase);
        plan.m_aLevels.push_back(daughter.m_dAmplitude);
        ++plan.m_nDaughters;
        const double ec =
            SineError(kernel, daughter.m_carrier.m_dPhase, daughter.m_carrier.m_dPhaseIncrement, frameCount);
        const double em = SineError(kernel, daughter.m_modulator.m_dPhase,
                                    daughter.m_modulator.m_dPhaseIncrement, frameCount);
        const double level = std::fabs(daughter.m_dAmplitude);
        sineTerms += level * (em * (1.0 + ec) + ec);
        magnitude += level * (1.0 + em) * (1.0 + ec);
    }
    // A fade's gain multiplies both channels once more: one more rounding in each.
    const double fade = format.Fades() ? 1.0 : 0.0;
    const double roundings = 2.0 * static_cast<double>(plan.m_nHarmonics) + 9.0 + fade;
    const double scale = FullScale(format.m_eFormat);
    plan.m_dLeftBound = scale * (sineTerms + roundings * 2.0 * kUnitRoundoff * magnitude);
    plan.m_dRightBound = scale * (eReference + (2.0 + fade) * 2.0 * kUnitRoundoff);
    plan.m_dLeftMargin = MarginOf(plan.m_dLeftBound);
    plan.m_dRightMargin = MarginOf(plan.m_dRightBound);

    // Padding oscillators (phase 0, increment 0) make the count a multiple of every kernel's
    // width, so the serial phase stepping runs entirely in vectors.
    while (plan.m_aIncrements.size() % 8 != 0) {
        plan.m_aIncrements.push_back(0.0);
        plan.m_aStartPhases.push_back(0.0);
    }
    for (double increment : plan.m_aIncrements) {
        plan.m_aThresholds.push_back(WrapThreshold(increment));
    }
    return plan;
}

CLaneBlock CRenderPlan::Block(const double* phases, std::size_t frames, CLaneOutputs& out) const {
    CLaneBlock block;
    block.m_pIncrements = m_aIncrements.data();
    block.m_pAmplitudes = m_aAmplitudes.data();
    block.m_pLevels = m_aLevels.data();
    block.m_pResonance = m_nResonators > 0 ? m_aResonance.data() : nullptr;
    block.m_pResonanceSin = m_aResonanceSin.data();
    block.m_nHarmonics = m_nHarmonics;
    block.m_nDaughters = m_nDaughters;
    block.m_pStartPhases = phases;
    block.m_nFrames = frames;
    block.m_dScale = FullScale(m_format.m_eFormat);
    block.m_eFormat = m_format.m_eFormat;
    out.AttachTo(block);
    return block;
}

} // namespace render

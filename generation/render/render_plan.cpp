#include "generation/render/render_plan.h"

#include <cmath>
#include <limits>

namespace render {

namespace {

constexpr double kUnitRoundoff = 0x1p-53;
// The standard library's sine is within one ulp of sin: 1.2e-16 for |sin| <= 1 (step 2).
constexpr double kLibrarySineError = 1.2e-16;

// e_o of step 2 for an oscillator stepped `frames` times from `phase` by `increment`.
double SineError(const CSineKernel& kernel, double phase, double increment, std::uint32_t frames) {
    if (kernel.m_bExact) {
        return 0.0;
    }
    const double reach =
        std::fabs(phase) + (static_cast<double>(frames) + 1.0) * (std::fabs(increment) + TWO_PI);
    return reach <= kTrustedPhase ? kernel.m_dSineError + kLibrarySineError : 2.0;
}

// A daughter at level 0 whose phases stay finite adds exactly +-0.0 to a sum that starts at +0.0,
// which changes no sum: it can be left out. One whose phases could overflow (and give NaN) cannot.
bool DaughterIsSilent(const CDaughterSignal& daughter, std::uint32_t frameCount) {
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

} // namespace

CRenderPlan MakeRenderPlan(const CSources& sources, std::uint32_t frameCount, const CSineKernel& kernel) {
    CRenderPlan plan;
    double sineTerms = 0.0; // step 3's sum of e x weight
    double magnitude = 0.0; // M
    for (const CSine& sine : sources.m_bank.m_aSines) {
        plan.m_aIncrements.push_back(sine.m_dPhaseIncrement);
        plan.m_aAmplitudes.push_back(sine.m_dAmplitude);
        plan.m_aStartPhases.push_back(sine.m_dPhase);
        const double e = SineError(kernel, sine.m_dPhase, sine.m_dPhaseIncrement, frameCount);
        sineTerms += e * std::fabs(sine.m_dAmplitude);
        magnitude += (1.0 + e) * std::fabs(sine.m_dAmplitude);
    }
    plan.m_nHarmonics = sources.m_bank.m_aSines.size();
    const CReferenceTone& reference = sources.m_reference;
    plan.m_aIncrements.push_back(reference.m_dPhaseIncrement);
    plan.m_aStartPhases.push_back(reference.m_dPhase);
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
    const double roundings = 2.0 * static_cast<double>(plan.m_nHarmonics) + 9.0;
    plan.m_dLeftBound = 32767.0 * (sineTerms + roundings * 2.0 * kUnitRoundoff * magnitude);
    const double eReference = SineError(kernel, reference.m_dPhase, reference.m_dPhaseIncrement, frameCount);
    plan.m_dRightBound = 32767.0 * (eReference + 2.0 * 2.0 * kUnitRoundoff);
    plan.m_dLeftMargin = MarginOf(plan.m_dLeftBound);
    plan.m_dRightMargin = MarginOf(plan.m_dRightBound);

    // Padding oscillators (phase 0, increment 0) make the count a multiple of every kernel's
    // width, so the serial phase stepping runs entirely in vectors.
    while (plan.m_aIncrements.size() % 8 != 0) {
        plan.m_aIncrements.push_back(0.0);
        plan.m_aStartPhases.push_back(0.0);
    }
    return plan;
}

CLaneBlock CRenderPlan::Block(const double* phases, std::size_t frames, CLaneOutputs& out) const {
    CLaneBlock block;
    block.m_pIncrements = m_aIncrements.data();
    block.m_pAmplitudes = m_aAmplitudes.data();
    block.m_pLevels = m_aLevels.data();
    block.m_nHarmonics = m_nHarmonics;
    block.m_nDaughters = m_nDaughters;
    block.m_pStartPhases = phases;
    block.m_nFrames = frames;
    out.AttachTo(block);
    return block;
}

} // namespace render

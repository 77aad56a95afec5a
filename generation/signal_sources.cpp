#include "generation/signal_sources.h"

#include <cmath>
#include <stdexcept>

double CSine::NextSample() {
    const double value = std::sin(m_dPhase) * m_dAmplitude;
    m_dPhase = StepPhase(m_dPhase, m_dPhaseIncrement);
    return value;
}

void ConfigureSine(CSine& sine, double sampleRate, double frequency, double amplitude) {
    sine.m_dSampleRate = sampleRate;
    sine.m_dFrequency = frequency;
    sine.m_dPhase = 0.0;
    sine.m_dPhaseIncrement = (frequency / sampleRate) * TWO_PI;
    sine.m_dAmplitude = amplitude;
}

CBankSize CountHarmonics(double sampleRate, double fundamental, double nyquistFactor) {
    const double limit = sampleRate * 0.5 * nyquistFactor;
    // The build loop stops at the first n with limit <= f0 x n.
    const auto stopsAt = [&](double n) { return limit <= fundamental * n; };
    if (stopsAt(3.0)) {
        return {EBankSize::Bounded, 0};
    }
    // Here limit > 3 f0 or a comparison involved NaN. With f0 <= 0, f0 x n never grows to an
    // infinite or NaN limit, and a NaN never compares: the loop would run forever.
    if (!std::isfinite(limit) || !std::isfinite(fundamental) || !(fundamental > 0.0)) {
        return {EBankSize::NeverEnds, 0};
    }
    // f0 > 0 and the limit is finite: f0 x n grows monotonically in n, so the bank is the odd n
    // from 3 up to the last odd n below limit / f0. Estimate it, then settle it by the loop's test.
    const double estimate = std::floor(limit / fundamental);
    const double maxOdd = 2.0 * static_cast<double>(kMaxHarmonics) + 1.0;
    if (!(estimate <= maxOdd + 4.0)) {
        return {EBankSize::TooMany, 0};
    }
    double last = estimate + 3.0;
    if (std::fmod(last, 2.0) == 0.0) {
        last += 1.0;
    }
    while (last >= 3.0 && stopsAt(last)) {
        last -= 2.0;
    }
    while (!stopsAt(last + 2.0)) {
        last += 2.0;
    }
    if (last > maxOdd) {
        return {EBankSize::TooMany, 0};
    }
    return {EBankSize::Bounded, static_cast<std::size_t>((last - 1.0) / 2.0)};
}

void CMotherSignal::Build() {
    std::vector<CSine>().swap(m_aSines);
    const CBankSize size = CountHarmonics(m_dSampleRate, m_dFundamental, m_dNyquistFactor);
    if (size.m_eKind != EBankSize::Bounded) {
        throw std::length_error("the harmonic bank has no bound for these settings");
    }
    m_aSines.reserve(size.m_nCount);
    int n = 3;
    double frequency = m_dFundamental * 3;
    double amplitude = m_dAmplitude / 3;
    // The count above guarantees the loop ends; the size test only guards against a mismatch.
    while (m_aSines.size() < size.m_nCount) {
        const double limit = m_dSampleRate * 0.5 * m_dNyquistFactor;
        if (limit <= frequency) {
            break;
        }
        CSine sine;
        ConfigureSine(sine, m_dSampleRate, frequency, amplitude);
        m_aSines.push_back(sine);
        n += 2;
        frequency = m_dFundamental * n;
        amplitude = m_dAmplitude / n;
    }
}

double CMotherSignal::NextSample() {
    double sum = 0.0;
    for (CSine& sine : m_aSines) {
        sum = sine.NextSample() + sum;
    }
    return sum;
}

void CDaughterSignal::Prepare() {
    ConfigureSine(m_carrier, m_dSampleRate, m_dCarrierFreq, 1.0);
    ConfigureSine(m_modulator, m_dSampleRate, m_dModulatorFreq, 1.0);
}

double CDaughterSignal::NextSample() {
    const double carrier = m_carrier.NextSample();
    const double modulator = m_modulator.NextSample();
    return (modulator * carrier) * m_dAmplitude;
}

void CReferenceTone::Prepare(double sampleRate, double frequency) {
    m_dPhase = 0.0;
    m_dPhaseIncrement = (frequency / sampleRate) * TWO_PI;
}

double CReferenceTone::NextSample() {
    const double value = std::sin(m_dPhase);
    m_dPhase = StepPhase(m_dPhase, m_dPhaseIncrement);
    return value;
}

#pragma once

#include <cstddef>
#include <vector>

// The one value of 2*pi used anywhere: every phase increment and every phase wrap.
inline constexpr double TWO_PI = 6.283185307179586;

// Phase-accumulating sine oscillator; a plain value record of five doubles.
struct CSine {
    double m_dSampleRate = 0.0;     // frames per second the oscillator is stepped at
    double m_dFrequency = 0.0;      // Hz
    double m_dPhase = 0.0;          // radians, 0 after set-up
    double m_dPhaseIncrement = 0.0; // radians per frame: (frequency / rate) x TWO_PI
    double m_dAmplitude = 0.0;      // linear factor applied to the sine

    // Returns sin(phase) x amplitude with the phase from before the step, then advances the
    // phase by the increment and, if it is now strictly above TWO_PI, subtracts TWO_PI once.
    double NextSample();
};

// Sets up `sine` at phase 0: rate, frequency, amplitude, increment (frequency / rate) x TWO_PI.
void ConfigureSine(CSine& sine, double sampleRate, double frequency, double amplitude);

// Advances a phase by the oscillator rule: add, then one wrap when strictly above TWO_PI.
inline double StepPhase(double phase, double increment) {
    phase = phase + increment;
    if (phase > TWO_PI) {
        phase = phase - TWO_PI;
    }
    return phase;
}

// Most oscillators a bank may hold: 65536 x 40 bytes = 2.5 MiB, enough for a fundamental down to
// about 0.17 Hz at 44.1 kHz. Settings that need more are refused before the file is opened.
inline constexpr std::size_t kMaxHarmonics = 65536;

enum class EBankSize {
    Bounded,   // the bank holds `m_nCount` harmonics (possibly 0)
    NeverEnds, // the fundamental never reaches the band limit (f0 <= 0, or NaN/infinite values)
    TooMany,   // the bank would hold more than kMaxHarmonics harmonics
};

struct CBankSize {
    EBankSize m_eKind = EBankSize::Bounded;
    std::size_t m_nCount = 0;
};

// How many harmonics CMotherSignal::Build would append for these parameters, computed from the
// arithmetic of the build loop without running it: the odd n >= 3 with fundamental x n strictly
// below sampleRate x 0.5 x nyquistFactor.
CBankSize CountHarmonics(double sampleRate, double fundamental, double nyquistFactor);

// The odd harmonics 3, 5, 7, ... of the fundamental at amplitude A / n, strictly below the band
// limit; its per-frame sum is the mother signal.
struct CMotherSignal {
    std::vector<CSine> m_aSines; // ascending n
    double m_dSampleRate = 0.0;
    double m_dFundamental = 0.0;
    double m_dAmplitude = 0.0;
    double m_dNyquistFactor = 0.0;

    // Fills m_aSines from the four parameters, all at phase 0. Throws std::length_error when
    // CountHarmonics does not give a bounded bank (the loop would never end or exhaust memory).
    void Build();
    // One step of every harmonic, summed in ascending order (0.0 for an empty bank).
    double NextSample();
};

// Ring modulator: carrier x modulator x level.
struct CDaughterSignal {
    double m_dSampleRate = 0.0;
    double m_dCarrierFreq = 0.0;
    double m_dModulatorFreq = 0.0;
    double m_dAmplitude = 0.0;
    CSine m_carrier;
    CSine m_modulator;

    // Configures both oscillators at amplitude 1.0 and phase 0 from the four parameters.
    void Prepare();
    // (modulator step x carrier step) x level; the carrier steps first.
    double NextSample();
};

// The right channel's pure tone: a bare phase stepped by the oscillator rule, amplitude 1.
struct CReferenceTone {
    double m_dPhase = 0.0;
    double m_dPhaseIncrement = 0.0;

    // Sets phase 0 and the increment (frequency / rate) x TWO_PI.
    void Prepare(double sampleRate, double frequency);
    // sin(phase), then one step of the phase.
    double NextSample();
};

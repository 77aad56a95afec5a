// The kernel bodies as templates over a vector type, included by isa_kernel.cpp (once per
// instruction set), by sine_kernels.cpp for the exact one-lane kernel, and by tests that build a
// kernel of their own. Everything here has internal linkage, so no inline function compiled for a
// wider instruction set can be picked by the linker for code that runs on any CPU.
// What the kernels compute, and why it matches the per-frame path: block_renderer.h.
#pragma once

#include <cmath>
#include <cstddef>
#include <immintrin.h>
#include <utility>

#include "generation/render/sine_kernels.h"
#include "generation/render/wrapped_sine.h"
#include "generation/signal_sources.h"

namespace render {
namespace {

template <class V, int W> V Splat(double x) {
    V v;
    for (int i = 0; i < W; ++i) {
        v[i] = x;
    }
    return v;
}

template <class V> V Load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

template <class V> void Store(double* p, V v) {
    __builtin_memcpy(p, &v, sizeof v);
}

// The oscillator step on W lanes: the same addition and single wrap as CSine, lane by lane.
template <class V> V Step(V phase, V increment, V twoPi) {
    phase = phase + increment;
    return phase > twoPi ? phase - twoPi : phase;
}

// Adds harmonics first .. first + G - 1 of the bank, in that order, to the mother sums.
template <class V, int W, int G, V (*Sin)(V)>
void AddHarmonics(const CLaneBlock& b, std::size_t first, V* mother, V twoPi) {
    V phase[G];
    V increment[G];
    V amplitude[G];
    for (int i = 0; i < G; ++i) {
        phase[i] = Load<V>(b.m_pStartPhases + (first + i) * W);
        increment[i] = Splat<V, W>(b.m_pIncrements[first + i]);
        amplitude[i] = Splat<V, W>(b.m_pAmplitudes[first + i]);
    }
    for (std::size_t k = 0; k < b.m_nFrames; ++k) {
        V sum = mother[k];
        for (int i = 0; i < G; ++i) {
            sum = Sin(phase[i]) * amplitude[i] + sum;
            phase[i] = Step(phase[i], increment[i], twoPi);
        }
        mother[k] = sum;
    }
}

// Adds harmonics first .. first + G - 1, in that order, to the mother sums, their terms a sin p
// from resonators y(k + 1) = c y(k) - y(k - 1) that carry the amplitude, seeded at the lane's first
// frame with a sin p and a sin(p + theta) = a (sin p cos theta + cos p sin theta) (block_renderer.h,
// step 2): an add and a step per frame, no product with the amplitude. The step is one `MulAdd`
// (fused where the instruction set has it: it runs beside the adds, and rounds once). The phases
// must be wrapped (StaysWrapped); they are not stepped, since nothing later reads them.
template <class V, int W, int G, void (*SinCos)(V, V&, V&), V (*MulAdd)(V, V, V)>
void AddResonators(const CLaneBlock& b, std::size_t first, V* mother) {
    V current[G]; // y(k)
    V next[G];    // y(k + 1)
    V resonance[G];
    for (int i = 0; i < G; ++i) {
        const std::size_t o = first + i;
        V sine, cosine;
        SinCos(Load<V>(b.m_pStartPhases + o * W), sine, cosine);
        resonance[i] = Splat<V, W>(b.m_pResonance[o]);
        const V halfResonance = Splat<V, W>(b.m_pResonance[o] / 2.0); // cos theta, exactly
        const V amplitude = Splat<V, W>(b.m_pAmplitudes[o]);
        current[i] = sine * amplitude;
        next[i] = (sine * halfResonance + cosine * Splat<V, W>(b.m_pResonanceSin[o])) * amplitude;
    }
    // Two frames a pass, so that y(k) and y(k + 1) trade places without register copies.
    std::size_t k = 0;
    for (; k + 2 <= b.m_nFrames; k += 2) {
        V sum = mother[k];
        V sumNext = mother[k + 1];
        for (int i = 0; i < G; ++i) {
            sum = current[i] + sum;
            sumNext = next[i] + sumNext;
            current[i] = MulAdd(resonance[i], next[i], -current[i]);
            next[i] = MulAdd(resonance[i], current[i], -next[i]);
        }
        mother[k] = sum;
        mother[k + 1] = sumNext;
    }
    if (k < b.m_nFrames) {
        V sum = mother[k];
        for (int i = 0; i < G; ++i) {
            sum = current[i] + sum;
        }
        mother[k] = sum;
    }
}

// Adds daughter d, (modulator x carrier) x level, to the daughter sums.
template <class V, int W, V (*Sin)(V)>
void AddDaughter(const CLaneBlock& b, std::size_t d, V* daughters, V twoPi) {
    const std::size_t carrierIndex = b.m_nHarmonics + 1 + 2 * d;
    V carrier = Load<V>(b.m_pStartPhases + carrierIndex * W);
    V modulator = Load<V>(b.m_pStartPhases + (carrierIndex + 1) * W);
    const V carrierIncrement = Splat<V, W>(b.m_pIncrements[carrierIndex]);
    const V modulatorIncrement = Splat<V, W>(b.m_pIncrements[carrierIndex + 1]);
    const V level = Splat<V, W>(b.m_pLevels[d]);
    for (std::size_t k = 0; k < b.m_nFrames; ++k) {
        const V vc = Sin(carrier);
        const V vm = Sin(modulator);
        daughters[k] = daughters[k] + (vm * vc) * level;
        carrier = Step(carrier, carrierIncrement, twoPi);
        modulator = Step(modulator, modulatorIncrement, twoPi);
    }
}

// Bit i set when lane i of `mask` (all ones or all zeros per lane) is set: one instruction where
// the instruction set has it, instead of a lane-by-lane extraction.
template <class Mask, int W> unsigned LaneBits(Mask mask) {
#if defined(__AVX512F__)
    if constexpr (sizeof(Mask) == 64) {
        return _mm512_test_epi64_mask((__m512i)mask, (__m512i)mask);
    }
#endif
#if defined(__AVX__)
    if constexpr (sizeof(Mask) == 32) {
        return static_cast<unsigned>(_mm256_movemask_pd((__m256d)mask));
    }
#endif
#if defined(__SSE2__)
    if constexpr (sizeof(Mask) == 16) {
        return static_cast<unsigned>(_mm_movemask_pd((__m128d)mask));
    }
#endif
    unsigned bits = 0;
    for (int i = 0; i < W; ++i) {
        bits |= static_cast<unsigned>(mask[i] & 1) << i;
    }
    return bits;
}

// Stores lane i's left and right floats at out + 8 i and out + 8 i + 4 (the frames' byte order on
// x86-64): one shuffle and one unaligned store instead of a lane-by-lane copy.
template <class Float32, std::size_t... I>
void StoreFloatPairs(unsigned char* out, Float32 left, Float32 right, std::index_sequence<I...>) {
    constexpr std::size_t W = sizeof...(I) / 2;
    const auto pairs = __builtin_shufflevector(left, right, (I % 2 == 0 ? I / 2 : W + I / 2)...);
    __builtin_memcpy(out, &pairs, sizeof pairs);
}

// Lanes whose |value| is within `margin` of an edge of an integer format of full scale S (a half,
// where the rounding changes, or S, where the clip and the warning do), not finite, or beyond 4e15
// (block_renderer.h, step 4). Flagging more frames than needed only costs time.
template <class V, class Mask> Mask NearAnEdge(V magnitude, V margin, V fullScale) {
    // Below 2^52, adding and subtracting 2^52 rounds to the nearest whole number, exactly.
    const V nearest = (magnitude + 4503599627370496.0) - 4503599627370496.0;
    const Mask fractionBits = (Mask)(magnitude - nearest) & 0x7FFFFFFFFFFFFFFF;
    const Mask scaleBits = (Mask)(magnitude - fullScale) & 0x7FFFFFFFFFFFFFFF;
    return ~(magnitude < 4e15) | (0.5 - (V)fractionBits < margin) | ((V)scaleBits < margin);
}

// Lanes whose `value` is within `margin` of a midpoint between two neighbouring floats (where the
// rounding to float changes), not finite, beyond 3e38 (near the largest float), or below 2^-126
// (where floats are subnormal) unless the margin is 0 (the value is then exact).
// For 2^-126 <= |x| = 2^e (1 + m 2^-52) < 3e38, the float's 23 bits are the top of m and its
// rounding reads the low 29 bits L: the floats of x's binade lie at L = 0, the midpoints at
// L = 2^28, u = 2^(e-52) apart per unit of L. The midpoint inside x's gap is |L - 2^28| u away; the
// nearest one below the binade's lower end (where the gap may halve) is at least (L + 2^27) u
// away; every other midpoint is farther. The smaller of the two is computed exactly: 1 + L 2^-52
// is a double in [1, 2), its differences below are exact and in units of 2^-52, and 2^e is a power
// of two.
template <class V, class Mask> Mask NearAFloatEdge(V value, V margin) {
    const Mask bits = (Mask)value & 0x7FFFFFFFFFFFFFFF;
    const V magnitude = (V)bits;
    const V low = (V)((bits & 0x1FFFFFFF) | 0x3FF0000000000000); // 1 + L 2^-52
    const V power = (V)(bits & 0x7FF0000000000000);              // 2^e
    const V inside = (V)((Mask)(low - (1.0 + 0x1p-24)) & 0x7FFFFFFFFFFFFFFF);
    const V below = (low - 1.0) + 0x1p-25;
    const V distance = (inside < below ? inside : below) * power;
    return ~(magnitude < 3e38) | ((magnitude < 0x1p-126) & (margin > 0.0)) | (distance < margin);
}

// The reference tone's sines, frame by frame: from `Sin` of its stepped phase.
template <class V, int W, V (*Sin)(V)> struct CSineSource {
    CSineSource(const CLaneBlock& b, V twoPi)
        : m_phase(Load<V>(b.m_pStartPhases + b.m_nHarmonics * W)),
          m_increment(Splat<V, W>(b.m_pIncrements[b.m_nHarmonics])), m_twoPi(twoPi) {}
    V Next() {
        const V sine = Sin(m_phase);
        m_phase = Step(m_phase, m_increment, m_twoPi);
        return sine;
    }
    V m_phase, m_increment, m_twoPi;
};

// The reference tone's sines from a resonator seeded at the lane's first frame (as AddResonators).
template <class V, int W, void (*SinCos)(V, V&, V&), V (*MulAdd)(V, V, V)> struct CResonatorSource {
    explicit CResonatorSource(const CLaneBlock& b) {
        const std::size_t o = b.m_nHarmonics;
        V sine, cosine;
        SinCos(Load<V>(b.m_pStartPhases + o * W), sine, cosine);
        m_resonance = Splat<V, W>(b.m_pResonance[o]);
        m_current = sine;
        m_next = sine * Splat<V, W>(b.m_pResonance[o] / 2.0) + cosine * Splat<V, W>(b.m_pResonanceSin[o]);
    }
    V Next() {
        const V sine = m_current;
        const V after = MulAdd(m_resonance, m_next, -m_current);
        m_current = m_next;
        m_next = after;
        return sine;
    }
    V m_resonance, m_current, m_next;
};

// The reference tone (its sines from `reference`), both channels' values (times the gains, where
// the block has them), and their samples in format F, as the per-frame path makes them
// (sample_format.h), for every frame not flagged; the peak over the frames in the file that are not
// flagged.
template <ESampleFormat F, class V, int W, class Reference>
void FinishLanes(const CLaneBlock& b, const V* mother, const V* daughters, Reference reference) {
    typedef long long Mask __attribute__((vector_size(sizeof(V))));
    typedef int Int32 __attribute__((vector_size(W * 4)));
    typedef float Float32 __attribute__((vector_size(W * 4)));
    static_assert(sizeof(Float32) == 4 * W && sizeof(Int32) == 4 * W && sizeof(Mask) == sizeof(V));
    const V fullScale = Splat<V, W>(b.m_dScale);
    const V referenceLevel = Splat<V, W>(0.9);
    const V leftMargin = Splat<V, W>(b.m_dLeftMargin);
    const V rightMargin = Splat<V, W>(b.m_dRightMargin);
    const V validFrames = Splat<V, W>(static_cast<double>(b.m_nValidFrames));
    V frameInBlock; // lane-major index of each lane's frame k
    for (int i = 0; i < W; ++i) {
        frameInBlock[i] = static_cast<double>(i * b.m_nFrames);
    }
    V peak = Splat<V, W>(0.0);
    for (std::size_t k = 0; k < b.m_nFrames; ++k) {
        V right = (reference.Next() * fullScale) * referenceLevel;
        V left = daughters[k] * fullScale + mother[k] * fullScale;
        if (b.m_pGains != nullptr) {
            const V gain = Load<V>(b.m_pGains + k * W);
            left = left * gain;
            right = right * gain;
        }
        Store(b.m_pLeft + k * W, left);
        Store(b.m_pRight + k * W, right);
        const Mask inFile = frameInBlock < validFrames;
        frameInBlock = frameInBlock + 1.0;
        unsigned char* out = b.m_pBytes + k * W * BytesPerFrame(F);

        if constexpr (F == ESampleFormat::F32) {
            const Float32 leftSample = __builtin_convertvector(left, Float32);
            const Float32 rightSample = __builtin_convertvector(right, Float32);
            const Mask leftEdge = NearAFloatEdge<V, Mask>(left, leftMargin) & inFile;
            const Mask edge = leftEdge | (NearAFloatEdge<V, Mask>(right, rightMargin) & inFile);
            b.m_pEdgeLanes[k] = static_cast<unsigned char>(LaneBits<Mask, W>(edge));
            b.m_pLeftEdgeLanes[k] = static_cast<unsigned char>(LaneBits<Mask, W>(leftEdge));
            const V written = __builtin_convertvector(leftSample, V);
            const V magnitude = (V)((Mask)written & 0x7FFFFFFFFFFFFFFF);
            peak = (inFile & ~edge & (magnitude > peak)) ? magnitude : peak;
            StoreFloatPairs(out, leftSample, rightSample, std::make_index_sequence<2 * W>());
        } else {
            const V leftMagnitude = (V)((Mask)left & 0x7FFFFFFFFFFFFFFF);
            const V rightMagnitude = (V)((Mask)right & 0x7FFFFFFFFFFFFFFF);
            const Mask leftEdge = NearAnEdge<V, Mask>(leftMagnitude, leftMargin, fullScale) & inFile;
            const Mask edge =
                leftEdge | (NearAnEdge<V, Mask>(rightMagnitude, rightMargin, fullScale) & inFile);
            b.m_pEdgeLanes[k] = static_cast<unsigned char>(LaneBits<Mask, W>(edge));
            b.m_pLeftEdgeLanes[k] = static_cast<unsigned char>(LaneBits<Mask, W>(leftEdge));
            peak = (inFile & ~edge & (leftMagnitude > peak)) ? leftMagnitude : peak;

            const V lowest = -(fullScale + 1.0);
            V clipped = left > fullScale ? fullScale : left;
            clipped = clipped < lowest ? lowest : clipped;
            const V leftRounded = clipped + (left >= 0.0 ? Splat<V, W>(0.5) : Splat<V, W>(-0.5));
            const V rightRounded = right + (right >= 0.0 ? Splat<V, W>(0.5) : Splat<V, W>(-0.5));
            // Truncation toward zero; flagged lanes (NaN among them) are redone by the caller.
            const Int32 leftSample = __builtin_convertvector(leftRounded, Int32);
            const Int32 rightSample = __builtin_convertvector(rightRounded, Int32);
            if constexpr (F == ESampleFormat::S16) {
                const Int32 packed = (leftSample & 0xFFFF) | (rightSample << 16);
                __builtin_memcpy(out, &packed, sizeof packed);
            } else {
                int lefts[W], rights[W];
                __builtin_memcpy(lefts, &leftSample, sizeof lefts);
                __builtin_memcpy(rights, &rightSample, sizeof rights);
                for (int i = 0; i < W; ++i) { // three bytes each, little-endian
                    const int l = lefts[i], r = rights[i];
                    unsigned char* frame = out + 6 * i;
                    frame[0] = static_cast<unsigned char>(l), frame[1] = static_cast<unsigned char>(l >> 8);
                    frame[2] = static_cast<unsigned char>(l >> 16), frame[3] = static_cast<unsigned char>(r);
                    frame[4] = static_cast<unsigned char>(r >> 8),
                    frame[5] = static_cast<unsigned char>(r >> 16);
                }
            }
        }
    }
    Store(b.m_pPeaks, peak);
}

// FinishLanes in the block's format.
template <class V, int W, class Reference>
void Finish(const CLaneBlock& b, const V* mother, const V* daughters, Reference reference) {
    switch (b.m_eFormat) {
    case ESampleFormat::S16:
        FinishLanes<ESampleFormat::S16, V, W>(b, mother, daughters, reference);
        break;
    case ESampleFormat::S24:
        FinishLanes<ESampleFormat::S24, V, W>(b, mother, daughters, reference);
        break;
    case ESampleFormat::F32:
        FinishLanes<ESampleFormat::F32, V, W>(b, mother, daughters, reference);
        break;
    }
}

// True when the phases of oscillators first .. first + count - 1 in every lane, and their
// increments, lie in [0, TWO_PI], where the wrapped sine applies. The rule keeps them there: p + i
// is at most 2 x TWO_PI, and when it is above TWO_PI, subtracting TWO_PI is exact (Sterbenz) and
// leaves (0, TWO_PI].
template <int W> bool StaysWrapped(const CLaneBlock& b, std::size_t first, std::size_t count) {
    bool wrapped = true;
    for (std::size_t o = first; o < first + count; ++o) {
        wrapped &= b.m_pIncrements[o] >= 0.0 && b.m_pIncrements[o] <= TWO_PI;
        for (int lane = 0; lane < W; ++lane) {
            const double phase = b.m_pStartPhases[o * W + lane];
            wrapped &= phase >= 0.0 && phase <= TWO_PI;
        }
    }
    return wrapped;
}

// Calls `body.template operator()<G>()` with G = run, for run in 1 .. N.
template <int N, class Body> [[gnu::always_inline]] inline void ForRun(std::size_t run, Body&& body) {
    if constexpr (N > 0) {
        if (run == N) {
            body.template operator()<N>();
        } else {
            ForRun<N - 1>(run, body);
        }
    }
}

// True when harmonic h takes its sines from a resonator in this block: the plan gave it one, and
// its phases are wrapped, as the seeds need.
template <int W> bool Resonates(const CLaneBlock& b, std::size_t h) {
    return b.m_pResonance != nullptr && !std::isnan(b.m_pResonance[h]) && StaysWrapped<W>(b, h, 1);
}

// Mother, daughters and reference with `Sin`, or with `WrappedSin` for the oscillators whose
// phases stay in [0, TWO_PI] in this block (all of them, unless a frequency is negative or above
// the sample rate); harmonics that the plan gave a resonator, with one seeded by `SinCos` and
// stepped by `MulAdd` (both null for a kernel without resonators).
template <class V, int W, V (*Sin)(V), V (*WrappedSin)(V), void (*SinCos)(V, V&, V&) = nullptr,
          V (*MulAdd)(V, V, V) = nullptr>
void RenderLanes(const CLaneBlock& b) {
    const V twoPi = Splat<V, W>(TWO_PI);
    const V zero = Splat<V, W>(0.0);
    const std::size_t frames = b.m_nFrames;
    V mother[kLaneFrames];
    V daughters[kLaneFrames];
    for (std::size_t k = 0; k < frames; ++k) {
        mother[k] = zero;
        daughters[k] = zero;
    }
    // Mother: sum = step + sum over the harmonics in ascending order, lanes being frames. Runs of up
    // to eight harmonics share a pass over the frames (each frame's sum still takes them in order):
    // fewer loads and stores of the sums, and dependency chains that overlap. A run holds either
    // resonators or harmonics whose sines are computed directly.
    std::size_t h = 0;
    while (h < b.m_nHarmonics) {
        const bool resonates = Resonates<W>(b, h);
        std::size_t run = 1;
        while (run < 8 && h + run < b.m_nHarmonics && Resonates<W>(b, h + run) == resonates) {
            ++run;
        }
        if constexpr (SinCos != nullptr) {
            if (resonates) {
                ForRun<8>(run, [&]<int G>() { AddResonators<V, W, G, SinCos, MulAdd>(b, h, mother); });
                h += run;
                continue;
            }
        }
        const bool wrapped = StaysWrapped<W>(b, h, run);
        ForRun<8>(run, [&]<int G>() {
            wrapped ? AddHarmonics<V, W, G, WrappedSin>(b, h, mother, twoPi)
                    : AddHarmonics<V, W, G, Sin>(b, h, mother, twoPi);
        });
        h += run;
    }
    // Daughters: sum = sum + (modulator x carrier) x level, in daughter order.
    for (std::size_t d = 0; d < b.m_nDaughters; ++d) {
        const std::size_t carrierIndex = b.m_nHarmonics + 1 + 2 * d;
        StaysWrapped<W>(b, carrierIndex, 2) ? AddDaughter<V, W, WrappedSin>(b, d, daughters, twoPi)
                                            : AddDaughter<V, W, Sin>(b, d, daughters, twoPi);
    }
    if constexpr (SinCos != nullptr) {
        if (Resonates<W>(b, b.m_nHarmonics)) {
            Finish<V, W>(b, mother, daughters, CResonatorSource<V, W, SinCos, MulAdd>(b));
            return;
        }
    }
    StaysWrapped<W>(b, b.m_nHarmonics, 1)
        ? Finish<V, W>(b, mother, daughters, CSineSource<V, W, WrappedSin>(b, twoPi))
        : Finish<V, W>(b, mother, daughters, CSineSource<V, W, Sin>(b, twoPi));
}

template <class V, int W, void (*SinCos)(V, V&, V&)>
void SinCosOf(const double* phases, double* sines, double* cosines, std::size_t count) {
    for (std::size_t i = 0; i < count; i += W) {
        V sine, cosine;
        SinCos(Load<V>(phases + i), sine, cosine);
        Store(sines + i, sine);
        Store(cosines + i, cosine);
    }
}

// The oscillator step with the wrap decided before the add: the phase wraps exactly when it is
// above the increment's threshold (WrapThreshold), so the comparison leaves the chain of
// dependent operations from one step to the next. The same phases as Step, bit for bit.
template <class V> V StepByThreshold(V phase, V increment, V threshold, V twoPi) {
    const auto wraps = phase > threshold;
    phase = phase + increment;
    return wraps ? phase - twoPi : phase;
}

// N vectors of phases stepped side by side, held in registers, so their dependency chains overlap.
template <class V, int W, int N>
void AdvanceGroup(double* phases, const double* increments, const double* thresholds, std::size_t steps,
                  V twoPi) {
    V phase[N];
    V increment[N];
    V threshold[N];
    for (int i = 0; i < N; ++i) {
        phase[i] = Load<V>(phases + i * W);
        increment[i] = Load<V>(increments + i * W);
        threshold[i] = Load<V>(thresholds + i * W);
    }
    for (std::size_t s = 0; s < steps; ++s) {
        for (int i = 0; i < N; ++i) {
            phase[i] = StepByThreshold(phase[i], increment[i], threshold[i], twoPi);
        }
    }
    for (int i = 0; i < N; ++i) {
        Store(phases + i * W, phase[i]);
    }
}

// The last `vectors` (fewer than 8) vectors as one group, so all their chains overlap.
template <class V, int W, int N>
void AdvanceRest(double* phases, const double* increments, const double* thresholds, std::size_t vectors,
                 std::size_t steps, V twoPi) {
    if constexpr (N > 0) {
        if (vectors == N) {
            AdvanceGroup<V, W, N>(phases, increments, thresholds, steps, twoPi);
        } else {
            AdvanceRest<V, W, N - 1>(phases, increments, thresholds, vectors, steps, twoPi);
        }
    }
}

template <class V, int W>
void AdvancePhases(double* phases, const double* increments, const double* thresholds, std::size_t count,
                   std::size_t steps) {
    const V twoPi = Splat<V, W>(TWO_PI);
    std::size_t o = 0;
    for (; o + 8 * W <= count; o += 8 * W) {
        AdvanceGroup<V, W, 8>(phases + o, increments + o, thresholds + o, steps, twoPi);
    }
    AdvanceRest<V, W, 7>(phases + o, increments + o, thresholds + o, (count - o) / W, steps, twoPi);
}

} // namespace
} // namespace render

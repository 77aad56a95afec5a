// A vector sine for phases the oscillator rule keeps wrapped, in [0, TWO_PI], inlined into the
// kernels. Included by the kernel source files only; everything here has internal linkage.
//
// Error bound, for 0 <= x <= TWO_PI:
// - q = round(x / pi) is 0, 1 or 2 (a misrounded q near a half only moves r a few ulp past
//   +-pi/2). q x kPiHigh is exact (times 1 or 2), and so is x - q x kPiHigh (the operands are
//   within a factor of two: Sterbenz). The second subtraction rounds once, and kPiHigh + kPiLow
//   misses pi by under 1e-32: r is x - q pi within 2.3e-16 (half an ulp of 2pi), |r| <= pi/2 + 1e-15.
// - sin r by its Taylor series to r^19: the series alternates with falling terms for |r| < 2,
//   so the truncation error is below the first omitted term, (pi/2)^21 / 21! < 2.6e-16.
// - Evaluating the polynomial: ten roundings (nine Horner steps and the last multiply-add), each
//   relative to an intermediate of magnitude at most 1, the last one at |sin| <= 1: under
//   11 x 2^-53 < 1.3e-15.
// Together |result - sin x| < 2e-15 (kVectorSineError, which the renderer's margin uses). The
// kernel tests hold every kernel to 1e-15 over a dense grid and each quadrant boundary (the
// largest error seen is about 4.3e-16).
//
// WrappedSinCos gives the cosine beside the sine from the same reduction: cos(r + q pi) =
// (-1)^q cos r, cos r by its Taylor series to r^20 (truncation below (pi/2)^22 / 22! < 2e-17),
// eleven roundings of intermediates of magnitude at most 1 (under 1.3e-15), and r's own error
// (2.3e-16): within 2e-15 of cos x as well.
#pragma once

namespace render {
namespace {

// pi = kPiHigh + kPiLow + O(1e-32); kPiHigh is the double nearest pi.
constexpr double kPiHigh = 3.141592653589793115997963468544185161590576171875;
constexpr double kPiLow = 1.2246467991473531772e-16;
constexpr double kInversePi = 0.31830988618379067154;
// Adding 1.5 x 2^52 rounds a value of magnitude below 2^51 to a whole number, held in the low
// mantissa bits, so its last bit is the number's parity.
constexpr double kRoundingShift = 6755399441055744.0;
// (-1)^k / (2k + 1)! for k = 1 .. 9, the Taylor coefficients of sin after x.
constexpr double kSinTaylor[9] = {
    -1.0 / 6.0,
    1.0 / 120.0,
    -1.0 / 5040.0,
    1.0 / 362880.0,
    -1.0 / 39916800.0,
    1.0 / 6227020800.0,
    -1.0 / 1307674368000.0,
    1.0 / 355687428096000.0,
    -1.0 / 121645100408832000.0,
};

// x = r + q pi with q = round(x / pi) in {0, 1, 2} for 0 <= x <= TWO_PI (see above). Returns r;
// the last mantissa bit of `shifted` is q's parity.
template <class V> [[gnu::always_inline]] inline V ReduceByPi(V x, V& shifted) {
    shifted = x * kInversePi + kRoundingShift;
    const V q = shifted - kRoundingShift;
    return (x - q * kPiHigh) - q * kPiLow;
}

// sin r for |r| <= pi/2 by its Taylor series; `s` is r x r.
template <class V, V (*MulAdd)(V, V, V)> [[gnu::always_inline]] inline V SinPolynomial(V r, V s) {
    // A scalar operand of a vector operation is broadcast; +0.0 + c is c for every constant here.
    V p = V{} + kSinTaylor[8];
    for (int i = 7; i >= 0; --i) {
        p = MulAdd(p, s, V{} + kSinTaylor[i]);
    }
    return MulAdd(p * s, r, r);
}

// (-1)^q v, q's parity in the last mantissa bit of `shifted`: sin(r + q pi) = (-1)^q sin r, and
// likewise cos. (Casts between vector types of one size reinterpret the bits.)
template <class V> [[gnu::always_inline]] inline V WithParitySign(V value, V shifted) {
    typedef long long Bits __attribute__((vector_size(sizeof(V))));
    return (V)((Bits)value ^ ((Bits)shifted << 63));
}

// sin x for 0 <= x <= TWO_PI, within 2e-15 (see above). `MulAdd(a, b, c)` is a x b + c, fused
// or not. Outside that range the result is meaningless.
template <class V, V (*MulAdd)(V, V, V)> [[gnu::always_inline]] inline V WrappedSin(V x) {
    V shifted;
    const V r = ReduceByPi(x, shifted);
    return WithParitySign(SinPolynomial<V, MulAdd>(r, r * r), shifted);
}

// (-1)^k / (2k)! for k = 1 .. 10, the Taylor coefficients of cos after 1.
constexpr double kCosTaylor[10] = {
    -1.0 / 2.0,
    1.0 / 24.0,
    -1.0 / 720.0,
    1.0 / 40320.0,
    -1.0 / 3628800.0,
    1.0 / 479001600.0,
    -1.0 / 87178291200.0,
    1.0 / 20922789888000.0,
    -1.0 / 6402373705728000.0,
    1.0 / 2432902008176640000.0,
};

// sin x and cos x for 0 <= x <= TWO_PI, each within 2e-15 (see above).
template <class V, V (*MulAdd)(V, V, V)>
[[gnu::always_inline]] inline void WrappedSinCos(V x, V& sine, V& cosine) {
    V shifted;
    const V r = ReduceByPi(x, shifted);
    const V s = r * r;
    V c = V{} + kCosTaylor[9];
    for (int i = 8; i >= 0; --i) {
        c = MulAdd(c, s, V{} + kCosTaylor[i]);
    }
    sine = WithParitySign(SinPolynomial<V, MulAdd>(r, s), shifted);
    cosine = WithParitySign(MulAdd(c, s, V{} + 1.0), shifted);
}

} // namespace
} // namespace render

// The kernel for one instruction set, compiled once per set with that set's flags and
// -DVORLANX_ISA_<NAME>: the build turns this one file into the sse2, avx2 and avx512 objects.
// Each object defines exactly one external symbol, its kernel table (a build test checks this),
// so no copy of an inline function compiled for a wider set can be chosen for generic code.
#include <sleef.h>

#include "generation/render/kernel_body.h"

namespace render {
namespace {

#if defined(VORLANX_ISA_AVX512) // runs only where the dispatcher found AVX-512F
using V = __m512d;
constexpr int kWidth = 8;
V Sin(V x) {
    return Sleef_sind8_u35avx512f(x);
}
V MulAdd(V a, V b, V c) {
    return _mm512_fmadd_pd(a, b, c);
}
#define VORLANX_KERNEL_NAME "avx512"
#define VORLANX_KERNEL_SYMBOL kAvx512Kernel
#elif defined(VORLANX_ISA_AVX2) // AVX2 and FMA: SLEEF's AVX2 sine fuses inside; our arithmetic never does
using V = __m256d;
constexpr int kWidth = 4;
V Sin(V x) {
    return Sleef_sind4_u35avx2(x);
}
V MulAdd(V a, V b, V c) {
    return _mm256_fmadd_pd(a, b, c);
}
#define VORLANX_KERNEL_NAME "avx2"
#define VORLANX_KERNEL_SYMBOL kAvx2Kernel
#elif defined(VORLANX_ISA_SSE2) // part of every x86-64 CPU
using V = __m128d;
constexpr int kWidth = 2;
V Sin(V x) {
    return Sleef_sind2_u35sse2(x);
}
V MulAdd(V a, V b, V c) {
    return a * b + c; // no fused multiply-add in SSE2
}
#define VORLANX_KERNEL_NAME "sse2"
#define VORLANX_KERNEL_SYMBOL kSse2Kernel
#else
#error "define one of VORLANX_ISA_AVX512, VORLANX_ISA_AVX2, VORLANX_ISA_SSE2"
#endif

[[gnu::always_inline]] inline V Wrapped(V x) {
    return WrappedSin<V, MulAdd>(x);
}
[[gnu::always_inline]] inline void WrappedPair(V x, V& sine, V& cosine) {
    WrappedSinCos<V, MulAdd>(x, sine, cosine);
}

} // namespace

extern const CSineKernel VORLANX_KERNEL_SYMBOL = {VORLANX_KERNEL_NAME,
                                                  kWidth,
                                                  false,
                                                  kVectorSineError,
                                                  true,
                                                  &RenderLanes<V, kWidth, Sin, Wrapped, WrappedPair, MulAdd>,
                                                  &AdvancePhases<V, kWidth>,
                                                  &SinCosOf<V, kWidth, WrappedPair>};

} // namespace render

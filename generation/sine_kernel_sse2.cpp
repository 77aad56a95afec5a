// SSE2 is part of every x86-64 CPU: this kernel needs no check.
#include <sleef.h>

#include "generation/sine_kernel_template.h"

namespace {
__m128d Sin(__m128d x) {
    return Sleef_sind2_u35sse2(x);
}
__m128d MulAdd(__m128d a, __m128d b, __m128d c) {
    return a * b + c; // no fused multiply-add in SSE2
}
[[gnu::always_inline]] inline __m128d Wrapped(__m128d x) {
    return WrappedSin<__m128d, MulAdd>(x);
}
} // namespace

extern const CSineKernel kSse2Kernel = {"sse2",
                                        2,
                                        false,
                                        &RenderLanes<__m128d, 2, Sin, Wrapped>,
                                        &AdvancePhases<__m128d, 2>,
                                        &SinesOf<__m128d, 2, Wrapped>};

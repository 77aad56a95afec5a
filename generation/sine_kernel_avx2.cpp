// Built with -mavx2 -mfma: runs only where the dispatcher found AVX2 and FMA (SLEEF's AVX2 sine
// uses fused multiply-adds inside; our own arithmetic never contracts).
#include <sleef.h>

#include "generation/sine_kernel_template.h"

namespace {
__m256d Sin(__m256d x) {
    return Sleef_sind4_u35avx2(x);
}
__m256d MulAdd(__m256d a, __m256d b, __m256d c) {
    return _mm256_fmadd_pd(a, b, c);
}
[[gnu::always_inline]] inline __m256d Wrapped(__m256d x) {
    return WrappedSin<__m256d, MulAdd>(x);
}
} // namespace

extern const CSineKernel kAvx2Kernel = {"avx2",
                                        4,
                                        false,
                                        &RenderLanes<__m256d, 4, Sin, Wrapped>,
                                        &AdvancePhases<__m256d, 4>,
                                        &SinesOf<__m256d, 4, Wrapped>};

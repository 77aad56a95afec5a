// Built with -mavx512f: runs only where the dispatcher found AVX-512F.
#include <sleef.h>

#include "generation/sine_kernel_template.h"

namespace {
__m512d Sin(__m512d x) {
    return Sleef_sind8_u35avx512f(x);
}
__m512d MulAdd(__m512d a, __m512d b, __m512d c) {
    return _mm512_fmadd_pd(a, b, c);
}
[[gnu::always_inline]] inline __m512d Wrapped(__m512d x) {
    return WrappedSin<__m512d, MulAdd>(x);
}
} // namespace

extern const CSineKernel kAvx512Kernel = {"avx512",
                                          8,
                                          false,
                                          &RenderLanes<__m512d, 8, Sin, Wrapped>,
                                          &AdvancePhases<__m512d, 8>,
                                          &SinesOf<__m512d, 8, Wrapped>};

// Built with -mavx2 -mfma: runs only where the dispatcher found AVX2 and FMA (SLEEF's AVX2 sine
// uses fused multiply-adds inside; our own arithmetic never contracts).
#include <sleef.h>

#include "generation/sine_kernel_template.h"

namespace {
__m256d Sin(__m256d x) {
    return Sleef_sind4_u35avx2(x);
}
} // namespace

extern const CSineKernel kAvx2Kernel = {"avx2", 4, false, &RenderLanes<__m256d, 4, Sin>,
                                        &AdvancePhases<__m256d, 4>};

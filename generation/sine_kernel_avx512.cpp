// Built with -mavx512f: runs only where the dispatcher found AVX-512F.
#include <sleef.h>

#include "generation/sine_kernel_template.h"

namespace {
__m512d Sin(__m512d x) {
    return Sleef_sind8_u35avx512f(x);
}
} // namespace

extern const CSineKernel kAvx512Kernel = {"avx512", 8, false, &RenderLanes<__m512d, 8, Sin>,
                                          &AdvancePhases<__m512d, 8>};

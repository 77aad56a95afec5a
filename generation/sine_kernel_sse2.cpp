// SSE2 is part of every x86-64 CPU: this kernel needs no check.
#include <sleef.h>

#include "generation/sine_kernel_template.h"

namespace {
__m128d Sin(__m128d x) {
    return Sleef_sind2_u35sse2(x);
}
} // namespace

extern const CSineKernel kSse2Kernel = {"sse2", 2, false, &RenderLanes<__m128d, 2, Sin>,
                                        &AdvancePhases<__m128d, 2>};

#include "generation/render/sine_kernels.h"

#include <cmath>
#include <stdexcept>

#include "generation/render/kernel_body.h"

namespace render {

// Defined by the instruction-set objects built from isa_kernel.cpp.
extern const CSineKernel kAvx512Kernel;
extern const CSineKernel kAvx2Kernel;
extern const CSineKernel kSse2Kernel;

namespace {

// One lane with the standard library's sine: the reference arithmetic, block by block.
using Scalar = double __attribute__((vector_size(8)));
Scalar ScalarSin(Scalar x) {
    Scalar result;
    result[0] = std::sin(x[0]);
    return result;
}

void ScalarSinCos(Scalar x, Scalar& sine, Scalar& cosine) {
    sine[0] = std::sin(x[0]);
    cosine[0] = std::cos(x[0]);
}

const CSineKernel kScalarKernel = {"scalar",
                                   1,
                                   true,
                                   0.0,
                                   false,
                                   &RenderLanes<Scalar, 1, ScalarSin, ScalarSin>,
                                   &AdvancePhases<Scalar, 1>,
                                   &SinCosOf<Scalar, 1, ScalarSinCos>};

bool CpuRuns(const CSineKernel& kernel) {
    __builtin_cpu_init();
    if (&kernel == &kAvx512Kernel) {
        // libgcc's check includes the operating system's support for the AVX-512 register state.
        return __builtin_cpu_supports("avx512f");
    }
    if (&kernel == &kAvx2Kernel) {
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }
    return true;
}

// Fastest first; the names of KernelNames() in the same order.
const CSineKernel* const kKernels[] = {&kAvx512Kernel, &kAvx2Kernel, &kSse2Kernel, &kScalarKernel};

} // namespace

CLaneOutputs::CLaneOutputs(std::size_t width)
    : m_aLeft(kLaneFrames * width), m_aRight(kLaneFrames * width), m_aSamples(kLaneFrames * width),
      m_aEdgeLanes(kLaneFrames), m_aPeaks(width) {}

void CLaneOutputs::AttachTo(CLaneBlock& block) {
    block.m_pLeft = m_aLeft.data();
    block.m_pRight = m_aRight.data();
    block.m_pSamples = m_aSamples.data();
    block.m_pEdgeLanes = m_aEdgeLanes.data();
    block.m_pPeaks = m_aPeaks.data();
}

const std::vector<std::string>& KernelNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const CSineKernel* kernel : kKernels) {
            list.emplace_back(kernel->m_szName);
        }
        return list;
    }();
    return names;
}

std::vector<const CSineKernel*> AvailableKernels() {
    std::vector<const CSineKernel*> kernels;
    for (const CSineKernel* kernel : kKernels) {
        if (CpuRuns(*kernel)) {
            kernels.push_back(kernel);
        }
    }
    return kernels;
}

const CSineKernel& SelectKernel(const std::string& name) {
    for (const CSineKernel* kernel : kKernels) {
        if (name.empty() && CpuRuns(*kernel)) {
            return *kernel;
        }
        if (name == kernel->m_szName) {
            if (!CpuRuns(*kernel)) {
                throw std::invalid_argument("this CPU cannot run the " + name + " kernel");
            }
            return *kernel;
        }
    }
    std::string known;
    for (const std::string& each : KernelNames()) {
        known += (known.empty() ? "" : ", ") + each;
    }
    throw std::invalid_argument("unknown kernel '" + name + "' (known: " + known + ")");
}

const CSineKernel& ExactKernel() {
    return kScalarKernel;
}

} // namespace render

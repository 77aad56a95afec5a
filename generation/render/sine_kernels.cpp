#include "generation/render/sine_kernels.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
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
    : m_aLeft(kLaneFrames * width), m_aRight(kLaneFrames * width),
      m_aBytes(kLaneFrames * width * BytesPerFrame(ESampleFormat::F32)), m_aEdgeLanes(kLaneFrames),
      m_aLeftEdgeLanes(kLaneFrames), m_aPeaks(width) {}

void CLaneOutputs::AttachTo(CLaneBlock& block) {
    block.m_pLeft = m_aLeft.data();
    block.m_pRight = m_aRight.data();
    block.m_pBytes = m_aBytes.data();
    block.m_pEdgeLanes = m_aEdgeLanes.data();
    block.m_pLeftEdgeLanes = m_aLeftEdgeLanes.data();
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

double WrapThreshold(double increment) {
    if (std::isnan(increment) || increment == -std::numeric_limits<double>::infinity()) {
        return std::numeric_limits<double>::infinity();
    }
    if (increment == std::numeric_limits<double>::infinity()) {
        return -std::numeric_limits<double>::infinity();
    }
    // Doubles in order as integers: negative ones mirrored below the positive ones.
    const auto key = [](double x) {
        const auto bits = std::bit_cast<std::int64_t>(x);
        return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
    };
    const auto value = [](std::int64_t k) {
        return std::bit_cast<double>(k < 0 ? std::numeric_limits<std::int64_t>::min() - k : k);
    };
    const auto stays = [&](double p) { return p + increment <= TWO_PI; };
    // stays(-DBL_MAX) holds and stays(+infinity) does not; keep it so while narrowing.
    std::int64_t low = key(-std::numeric_limits<double>::max());
    std::int64_t high = key(std::numeric_limits<double>::infinity());
    // The distance between the keys exceeds the range of int64_t: halve it unsigned.
    const auto distance = [](std::int64_t from, std::int64_t to) {
        return static_cast<std::uint64_t>(to) - static_cast<std::uint64_t>(from);
    };
    while (distance(low, high) > 1) {
        const auto middle =
            static_cast<std::int64_t>(static_cast<std::uint64_t>(low) + distance(low, high) / 2);
        (stays(value(middle)) ? low : high) = middle;
    }
    return value(low);
}

const CSineKernel& ExactKernel() {
    return kScalarKernel;
}

} // namespace render

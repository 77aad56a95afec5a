// Frames per second of the default mother bank (37 harmonics and the reference tone) for each
// kernel this CPU runs: the scalar standard-library sine against the SIMD kernels.
#include <benchmark/benchmark.h>
#include <vector>

#include "generation/job_sources.h"
#include "generation/render/render_plan.h"
#include "generation/render/sine_kernels.h"

namespace {

using namespace render;

// The default bank as the renderer runs it: the plan's methods (resonators where their bound
// allows) and margins, lanes starting at distinct exact phases.
void RenderDefaultBank(benchmark::State& state, const CSineKernel* kernel) {
    CJobSources sources;
    PrepareSources(CGenerationSettings{}, sources);
    const CSources view{sources.m_bank, sources.m_aDaughters, sources.m_reference};
    const CRenderPlan plan = MakeRenderPlan(view, 1323000, *kernel);
    const std::size_t width = kernel->m_nWidth;
    const std::size_t oscillators = plan.m_aIncrements.size();
    std::vector<double> phases(oscillators * width);
    std::vector<double> lane(plan.m_aStartPhases);
    for (std::size_t l = 0; l < width; ++l) {
        for (std::size_t o = 0; o < oscillators; ++o) {
            phases[o * width + l] = lane[o];
        }
        kernel->m_pAdvance(lane.data(), plan.m_aIncrements.data(), plan.m_aThresholds.data(), oscillators,
                           kLaneFrames);
    }
    CLaneOutputs out(width);
    CLaneBlock block = plan.Block(phases.data(), kLaneFrames, out);
    block.m_nValidFrames = kLaneFrames * width;
    block.m_dLeftMargin = kernel->m_bExact ? -1.0 : plan.m_dLeftMargin;
    block.m_dRightMargin = kernel->m_bExact ? -1.0 : plan.m_dRightMargin;
    for (auto _ : state) {
        kernel->m_pRender(block);
        benchmark::DoNotOptimize(out.m_aBytes.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLaneFrames * width));
    state.SetLabel(std::to_string(plan.m_nHarmonics) + " harmonics + reference, " +
                   std::to_string(plan.m_nResonators) + " by resonator");
}

void AdvanceDefaultPhases(benchmark::State& state, const CSineKernel* kernel) {
    std::vector<double> increments(40, 0.1), phases(40, 0.0); // 38 oscillators padded to 40
    const std::vector<double> thresholds(40, WrapThreshold(0.1));
    for (auto _ : state) {
        kernel->m_pAdvance(phases.data(), increments.data(), thresholds.data(), phases.size(), kLaneFrames);
        benchmark::DoNotOptimize(phases.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLaneFrames));
}

const bool kRegistered = [] {
    for (const CSineKernel* kernel : AvailableKernels()) {
        benchmark::RegisterBenchmark((std::string("MotherBank/") + kernel->m_szName).c_str(),
                                     RenderDefaultBank, kernel);
        benchmark::RegisterBenchmark((std::string("PhaseStepping/") + kernel->m_szName).c_str(),
                                     AdvanceDefaultPhases, kernel);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
